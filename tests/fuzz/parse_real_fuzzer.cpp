// ParseReal on any text, against the same steps done by the processor's
// 80-bit long double: the grammar read a second time, the mantissa gathered
// digit by digit (m × 10, then + d, each one rounding of the processor), and
// the scaling by the same table entries in the same order. Every bit of the
// result and the overflow condition must agree, whatever the number of
// digits.

#include <algorithm>
#include <cfenv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/failure/exceptions.h"
#include "runtime/number/decimal.h"
#include "runtime/number/decimal_test_oracle.h"
#include "runtime/number/extended.h"

namespace {

using diskmaps::Extended;

struct Expected {
  bool ok = false;
  bool overflow = false;  // the floating-point overflow condition
  Extended value;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

Expected Reference(const char* p) {
  Expected expected;
  while (*p == ' ') ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (*p == '\0') return expected;

  std::feclearexcept(FE_ALL_EXCEPT);
  volatile long double mantissa = 0.0L;
  std::int64_t fraction_digits = 0;
  const auto gather = [&](char digit) {
    mantissa = mantissa * 10.0L;
    mantissa = mantissa + static_cast<long double>(digit - '0');
  };
  for (; IsDigit(*p); ++p) gather(*p);
  if (*p == '.') {
    for (++p; IsDigit(*p); ++p) {
      gather(*p);
      ++fraction_digits;
    }
  }
  std::int64_t exponent = 0;
  if (*p == 'e' || *p == 'E') {
    ++p;
    const bool exponent_negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    if (!IsDigit(*p)) return expected;
    for (; IsDigit(*p); ++p) {
      exponent = std::min<std::int64_t>(exponent * 10 + (*p - '0'),
                                        std::int64_t{1} << 40);
    }
    if (exponent_negative) exponent = -exponent;
  }
  if (*p != '\0') return expected;

  expected.ok = true;
  if (std::fetestexcept(FE_OVERFLOW) != 0) {
    expected.overflow = true;
    return expected;
  }
  const auto power = static_cast<std::int32_t>(
      std::clamp<std::int64_t>(exponent - fraction_digits, -6000, 6000));
  const diskmaps::testing::OracleResult scaled = diskmaps::testing::ScaleOracle(
      diskmaps::testing::FromLongDouble(mantissa), power);
  expected.overflow = scaled.overflow;
  expected.value = negative ? scaled.value.Negated() : scaled.value;
  return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // The text ends at its first NUL, as a token buffer does.
  const std::string text(reinterpret_cast<const char*>(data), size);
  bool ok = true;
  bool overflow = false;
  Extended value = Extended::FromBits(0x1234, 0x5678);
  try {
    value = diskmaps::ParseReal(text.c_str(), ok);
  } catch (const diskmaps::EOverflow&) {
    overflow = true;
  }
  const Expected expected = Reference(text.c_str());
  bool agrees = overflow == expected.overflow;
  if (agrees && !overflow) {
    agrees = ok == expected.ok && value == expected.value;
  }
  if (!agrees) {
    std::fprintf(stderr,
                 "ParseReal(\"%s\"): ok %d overflow %d %04X:%016llX, expected "
                 "ok %d overflow %d %04X:%016llX\n",
                 text.c_str(), ok, overflow, value.SignAndExponent(),
                 static_cast<unsigned long long>(value.Significand()),
                 expected.ok, expected.overflow,
                 expected.value.SignAndExponent(),
                 static_cast<unsigned long long>(expected.value.Significand()));
    std::abort();
  }
  return 0;
}
