// FormatRealDefault on every 80-bit pattern, unnormals, pseudo-denormals and
// NaNs included, and on values next to decimal boundaries: exactly 23
// characters, never a failure, and the same text as the long double
// implementation of the same steps.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "runtime/failure/exceptions.h"
#include "runtime/number/decimal.h"
#include "runtime/number/extended.h"
#include "runtime/number/format_test_oracle.h"

namespace {

// Up to 10 bytes: the 80 bits, zero-filled (the significand, then sign and
// exponent, little-endian as in memory).
diskmaps::Extended FromBitBytes(const std::uint8_t* data, std::size_t size) {
  std::uint8_t bits[10] = {};
  std::memcpy(bits, data, size < sizeof bits ? size : sizeof bits);
  std::uint64_t significand = 0;
  std::uint16_t sign_and_exponent = 0;
  std::memcpy(&significand, bits, sizeof significand);
  std::memcpy(&sign_and_exponent, bits + sizeof significand,
              sizeof sign_and_exponent);
  return diskmaps::Extended::FromBits(sign_and_exponent, significand);
}

// Longer inputs: a decimal text after the first byte, read by the C library
// and moved by up to 3 units in the last place either way (the first byte),
// to reach the values next to a rounding or carry of the 15 digits.
diskmaps::Extended FromDecimalText(const std::uint8_t* data, std::size_t size) {
  const std::string decimal(reinterpret_cast<const char*>(data) + 1, size - 1);
  long double value = std::strtold(decimal.c_str(), nullptr);
  const int steps = static_cast<std::int8_t>(data[0]) % 4;
  const long double toward = steps > 0 ? HUGE_VALL : -HUGE_VALL;
  for (int i = 0; i < (steps > 0 ? steps : -steps); ++i) {
    value = std::nextafter(value, toward);
  }
  return diskmaps::testing::FromLongDouble(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const diskmaps::Extended value =
      size <= 10 ? FromBitBytes(data, size) : FromDecimalText(data, size);
  const std::uint16_t sign_and_exponent = value.SignAndExponent();
  const std::uint64_t significand = value.Significand();

  // Room beyond the 23 characters, to see any byte written past them.
  char text[diskmaps::kRealTextLength + 9];
  std::memset(text, '#', sizeof text);
  const char* end = nullptr;
  try {
    end = diskmaps::FormatRealDefault(value, text);
  } catch (const diskmaps::Exception& failure) {
    std::fprintf(stderr, "%04X:%016llX raised %.*s\n", sign_and_exponent,
                 static_cast<unsigned long long>(significand),
                 static_cast<int>(failure.ClassName().size()),
                 failure.ClassName().data());
    std::abort();
  }
  static const diskmaps::testing::LongDoubleFormatter oracle;
  const std::string expected = oracle.Format(value);
  const std::string_view after(text + diskmaps::kRealTextLength,
                               sizeof text - diskmaps::kRealTextLength);
  const bool exact_length = end == text + diskmaps::kRealTextLength &&
                            after.find_first_not_of('#') == after.npos;
  if (!exact_length ||
      std::string(text, diskmaps::kRealTextLength) != expected) {
    std::fprintf(
        stderr, "%04X:%016llX: \"%.*s\" (%td characters), expected \"%s\"\n",
        sign_and_exponent, static_cast<unsigned long long>(significand),
        static_cast<int>(diskmaps::kRealTextLength), text,
        end == nullptr ? -1 : end - text, expected.c_str());
    std::abort();
  }
  return 0;
}
