#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <limits>

#include "runtime/number/decimal.h"
#include "runtime/number/extended.h"
#include "runtime/number/powers_of_ten.h"

namespace diskmaps {
namespace {

constexpr bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

constexpr std::uint32_t DecimalDigitValue(char c) {
  return static_cast<std::uint32_t>(c - '0');
}

// The value of a hexadecimal digit, or 16 for any other byte.
constexpr std::uint32_t HexDigitValue(char c) {
  if (c >= '0' && c <= '9') {
    return static_cast<std::uint32_t>(c - '0');
  }
  if (c >= 'A' && c <= 'F') {
    return static_cast<std::uint32_t>(c - 'A' + 10);
  }
  if (c >= 'a' && c <= 'f') {
    return static_cast<std::uint32_t>(c - 'a' + 10);
  }
  return 16;
}

const char* SkipSpaces(const char* text) {
  while (*text == ' ') {
    ++text;
  }
  return text;
}

// Decimal digits up to the NUL, at least one. The magnitude is gathered as an
// unsigned 32-bit number that never exceeds 2147483649.
std::int32_t ParseDecimalDigits(const char* digits, bool negative, bool& ok) {
  constexpr std::uint32_t kLastScalable = 214748364;
  constexpr std::uint32_t kMaxPositive = 2147483647;
  constexpr std::uint32_t kMaxNegative = 2147483648;
  if (*digits == '\0') {
    return 0;
  }
  std::uint32_t value = 0;
  for (const char* p = digits; *p != '\0'; ++p) {
    if (!IsDecimalDigit(*p) || value > kLastScalable) {
      return 0;
    }
    value = value * 10 + DecimalDigitValue(*p);
  }
  if (value > (negative ? kMaxNegative : kMaxPositive)) {
    return 0;
  }
  ok = true;
  const auto magnitude = static_cast<std::int64_t>(value);
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

// Hexadecimal digits up to the NUL, at least one. Any 32-bit pattern is
// accepted and read as a two's-complement value.
std::int32_t ParseHexDigits(const char* digits, bool& ok) {
  constexpr std::uint32_t kLastScalable = 0x0FFFFFFF;
  if (*digits == '\0') {
    return 0;
  }
  std::uint32_t value = 0;
  for (const char* p = digits; *p != '\0'; ++p) {
    const std::uint32_t digit = HexDigitValue(*p);
    if (digit > 15 || value > kLastScalable) {
      return 0;
    }
    value = value * 16 + digit;
  }
  ok = true;
  return static_cast<std::int32_t>(value);
}

// The shape of a real token, found before any arithmetic so that a malformed
// text fails without computing anything.
struct RealToken {
  bool negative = false;
  const char* mantissa_begin = nullptr;  // digits, possibly one point
  const char* mantissa_end = nullptr;
  std::int64_t fraction_digits = 0;
  // The exponent field, saturated at kExponentCeiling in magnitude.
  std::int64_t exponent = 0;
};

// Far beyond the scaling limits, and far beyond any count of fraction digits
// that a text in memory can hold, so that exponent minus fraction digits
// keeps the sign and the side of the limits that the exact difference has.
constexpr std::int64_t kExponentCeiling = 1'000'000'000'000'000'000;

const char* SkipDecimalDigits(const char* p) {
  while (IsDecimalDigit(*p)) {
    ++p;
  }
  return p;
}

bool ScanRealToken(const char* text, RealToken& token) {
  const char* p = SkipSpaces(text);
  if (*p == '+' || *p == '-') {
    token.negative = *p == '-';
    ++p;
  }
  if (*p == '\0') {
    return false;
  }
  token.mantissa_begin = p;
  p = SkipDecimalDigits(p);
  if (*p == '.') {
    const char* fraction = p + 1;
    p = SkipDecimalDigits(fraction);
    token.fraction_digits = p - fraction;
  }
  token.mantissa_end = p;
  if (*p == 'e' || *p == 'E') {
    ++p;
    bool exponent_negative = false;
    if (*p == '+' || *p == '-') {
      exponent_negative = *p == '-';
      ++p;
    }
    if (!IsDecimalDigit(*p)) {
      return false;
    }
    std::int64_t exponent = 0;
    for (; IsDecimalDigit(*p); ++p) {
      exponent = exponent < kExponentCeiling / 10
                     ? exponent * 10 + DecimalDigitValue(*p)
                     : kExponentCeiling;
    }
    token.exponent = exponent_negative ? -exponent : exponent;
  }
  return *p == '\0';
}

// The exact extended value of an unsigned 64-bit integer.
constexpr Extended ExtendedFromUnsigned(std::uint64_t value) {
  if (value == 0) {
    return Extended();
  }
  const int shift = std::countl_zero(value);
  return Extended::Make(
      false, static_cast<std::uint16_t>(Extended::kExponentBias + 63 - shift),
      value << shift);
}

constexpr std::array<Extended, 10> kDigitValues = [] {
  std::array<Extended, 10> values;
  for (std::uint64_t d = 0; d < values.size(); ++d) {
    values[d] = ExtendedFromUnsigned(d);
  }
  return values;
}();

// The mantissa: for each digit d, m ← m × 10, then m ← m + d, each rounded to
// extended. While the value stays below 2^64 both steps are exact, so the
// digits are gathered as an integer until the next one would not fit.
Extended GatherMantissa(const char* begin, const char* end) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  const char* p = begin;
  std::uint64_t exact = 0;
  for (; p != end; ++p) {
    if (*p == '.') {
      continue;
    }
    const std::uint64_t digit = DecimalDigitValue(*p);
    if (exact > (kMax - digit) / 10) {
      break;
    }
    exact = exact * 10 + digit;
  }
  Extended mantissa = ExtendedFromUnsigned(exact);
  for (; p != end; ++p) {
    if (*p == '.') {
      continue;
    }
    mantissa = Multiply(mantissa, SmallPowersOfTen[1]);
    mantissa = Add(mantissa, kDigitValues[DecimalDigitValue(*p)]);
  }
  return mantissa;
}

}  // namespace

std::int32_t ParseInteger(const char* text, bool& ok) {
  ok = false;
  const char* p = SkipSpaces(text);
  switch (*p) {
    case '-':
      return ParseDecimalDigits(p + 1, true, ok);
    case '+':
      return ParseDecimalDigits(p + 1, false, ok);
    case '$':
    case 'x':
    case 'X':
      return ParseHexDigits(p + 1, ok);
    case '0':
      if (p[1] == 'x' || p[1] == 'X') {
        return ParseHexDigits(p + 2, ok);
      }
      return ParseDecimalDigits(p, false, ok);
    default:
      return ParseDecimalDigits(p, false, ok);
  }
}

Extended ParseReal(const char* text, bool& ok) {
  ok = false;
  RealToken token;
  if (!ScanRealToken(text, token)) {
    return Extended();
  }
  const Extended mantissa =
      GatherMantissa(token.mantissa_begin, token.mantissa_end);
  // Both terms lie within ±10^18, and beyond ±5120 every power scales alike.
  const std::int64_t power = std::clamp<std::int64_t>(
      token.exponent - token.fraction_digits, -5120, 5120);
  const Extended result =
      ScaleByPowerOfTen(mantissa, static_cast<std::int32_t>(power));
  ok = true;
  return token.negative ? result.Negated() : result;
}

}  // namespace diskmaps
