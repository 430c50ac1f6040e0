// FormatRealDefault on every 80-bit pattern, unnormals, pseudo-denormals and
// NaNs included: exactly 23 characters, never a failure, and the same text
// as the long double implementation of the same steps.

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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // The first 10 bytes, zero-filled: the significand, then sign and
  // exponent, little-endian as in memory.
  std::uint8_t bits[10] = {};
  std::memcpy(bits, data, size < sizeof bits ? size : sizeof bits);
  std::uint64_t significand = 0;
  std::uint16_t sign_and_exponent = 0;
  std::memcpy(&significand, bits, sizeof significand);
  std::memcpy(&sign_and_exponent, bits + sizeof significand,
              sizeof sign_and_exponent);
  const auto value =
      diskmaps::Extended::FromBits(sign_and_exponent, significand);

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
