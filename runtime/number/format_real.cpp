// The 23-character scientific text of an extended real: "
// d.ddddddddddddddE+dddd".
//
// The conversion is a pure function of the 80 bits. It finds a decimal
// exponent K and a reduced magnitude m in [1, 16) (SplitDecimalExponent),
// turns m × 10^17 into a string of 19 decimal digits rounded half up at the
// 16th position (BuildDigitString), and lays the text out in the caller's
// buffer. Every rounding happens in the extended arithmetic, so the digits
// are the same on every host.

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "runtime/number/decimal.h"
#include "runtime/number/extended.h"

namespace diskmaps {
namespace {

// Significant digits of the text: the field width less the sign, the point
// and the six characters of the exponent part.
constexpr int kSignificantDigits = kRealTextLength - 8;
// Digits of the string built from P; position 0 holds "0" or "1".
constexpr int kDigitStringLength = 19;

constexpr std::uint64_t kTenToThe9 = 1'000'000'000;
constexpr std::uint64_t kTenToThe18 = 1'000'000'000'000'000'000;

// The decimal exponent is estimated from the binary one as
// floor(e × 19728 / 65536); 19728/65536 lies just below log10(2).
constexpr int kLog2TenNumerator = 19728;
constexpr int kLog2TenShift = 16;  // 65536 = 2^16

// The exact extended value of a nonzero unsigned integer.
constexpr Extended ExactFromUnsigned(std::uint64_t value) {
  const int leading_zeros = std::countl_zero(value);
  return Extended::Make(
      false,
      static_cast<std::uint16_t>(Extended::kExponentBias + 63 - leading_zeros),
      value << leading_zeros);
}

constexpr Extended kTenToThe17 = ExactFromUnsigned(100'000'000'000'000'000);

// "00" to "99", two characters per entry.
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// Writes value (below 10000) as four digits with leading zeros.
inline void WriteFourDigits(std::uint32_t value, char* out) {
  std::memcpy(out, &kDigitPairs[2 * (value / 100)], 2);
  std::memcpy(out + 2, &kDigitPairs[2 * (value % 100)], 2);
}

// Writes value (below 10^9) as nine digits with leading zeros.
inline void WriteNineDigits(std::uint32_t value, char* out) {
  const std::uint32_t top = value / 100'000'000;
  const std::uint32_t rest = value - top * 100'000'000;
  out[0] = static_cast<char>('0' + top);
  WriteFourDigits(rest / 10'000, out + 1);
  WriteFourDigits(rest % 10'000, out + 5);
}

// Writes value (below 10^18) as eighteen digits with leading zeros.
inline void WriteEighteenDigits(std::uint64_t value, char* out) {
  const auto high = static_cast<std::uint32_t>(value / kTenToThe9);
  const auto low = static_cast<std::uint32_t>(value % kTenToThe9);
  WriteNineDigits(high, out);
  WriteNineDigits(low, out + 9);
}

// The magnitude of a finite value in its canonical encoding. An unnormal
// (integer bit clear under a nonzero exponent field) or a pseudo-denormal
// (integer bit set under a zero exponent field) is brought to the normal,
// denormal or zero encoding of the same value, so that the arithmetic only
// ever sees operands it accepts and the text follows the value the bits
// stand for.
constexpr Extended CanonicalMagnitude(Extended value) {
  std::uint64_t significand = value.Significand();
  if (significand == 0) return Extended{};
  // A zero exponent field weighs like an exponent field of 1.
  int exponent = value.BiasedExponent() == 0 ? 1 : value.BiasedExponent();
  int shift = std::countl_zero(significand);
  if (shift > exponent - 1) shift = exponent - 1;
  significand <<= shift;
  exponent -= shift;
  if ((significand & Extended::kIntegerBit) == 0) exponent = 0;
  return Extended::Make(false, static_cast<std::uint16_t>(exponent),
                        significand);
}

// Splits a nonnegative finite a into m × 10^K with m zero or in [1, 16).
// Each pass estimates the decimal exponent from the binary one and scales by
// it; the loop stops when the binary exponent is 0 to 3.
Extended SplitDecimalExponent(Extended a, std::int32_t& decimal_exponent) {
  decimal_exponent = 0;
  while (!a.IsZero()) {
    // A denormal's zero exponent field counts as e = -16383.
    const int binary_exponent = a.BiasedExponent() - Extended::kExponentBias;
    // Arithmetic shift: the floor toward minus infinity.
    const int estimate = (binary_exponent * kLog2TenNumerator) >> kLog2TenShift;
    if (estimate == 0) break;
    decimal_exponent += estimate;
    a = ScaleByPowerOfTen(a, -estimate);
  }
  return a;
}

// Fills digits[0..18] with P = m × 10^17 (rounded to the extended format,
// then to an integer), then rounds half up at position `significant`: the
// digit after it alone decides, and a carry runs left through the nines.
// The digits after that position keep their values.
void BuildDigitString(Extended m, int significant,
                      char (&digits)[kDigitStringLength]) {
  // m < 16, so P ≤ 1.6 × 10^18 (the product can round up to exactly that).
  auto p = static_cast<std::uint64_t>(RoundToInt64(Multiply(m, kTenToThe17)));
  char leading = '0';
  if (p >= kTenToThe18) {
    leading = '1';
    p -= kTenToThe18;
  }
  digits[0] = leading;
  WriteEighteenDigits(p, digits + 1);

  if (digits[significant + 1] >= '5') {
    int position = significant;
    while (position > 0 && digits[position] == '9') {
      digits[position] = '0';
      --position;
    }
    ++digits[position];
  }
}

char* WriteSpecialText(const char* text, int length, char* out) {
  const int blanks = kRealTextLength - length;
  std::memset(out, ' ', static_cast<std::size_t>(blanks));
  std::memcpy(out + blanks, text, static_cast<std::size_t>(length));
  return out + kRealTextLength;
}

}  // namespace

char* FormatRealDefault(Extended value, char* out) {
  if (value.BiasedExponent() == Extended::kMaxBiasedExponent) {
    // Only the upper half of the significand tells an infinity from a NaN.
    constexpr std::uint32_t kInfinityHigh = 0x8000'0000;
    if (static_cast<std::uint32_t>(value.Significand() >> 32) ==
        kInfinityHigh) {
      return WriteSpecialText(value.Sign() ? "-Inf" : "+Inf", 4, out);
    }
    return WriteSpecialText("Nan", 3, out);
  }

  std::int32_t decimal_exponent = 0;
  const Extended m =
      SplitDecimalExponent(CanonicalMagnitude(value), decimal_exponent);

  char digits[kDigitStringLength];
  BuildDigitString(m, kSignificantDigits, digits);

  // A "1" in position 0 makes it the first written digit; the rounded
  // position then falls outside the text.
  const char* written = digits + 1;
  if (digits[0] == '1') {
    written = digits;
    ++decimal_exponent;
  }

  out[0] = value.Sign() ? '-' : ' ';
  out[1] = written[0];
  out[2] = '.';
  std::memcpy(out + 3, written + 1, kSignificantDigits - 1);
  char* exponent_part = out + 2 + kSignificantDigits;
  exponent_part[0] = 'E';
  exponent_part[1] = decimal_exponent < 0 ? '-' : '+';
  // |K| ≤ 4951 for every extended real.
  const auto magnitude = static_cast<std::uint32_t>(
      decimal_exponent < 0 ? -decimal_exponent : decimal_exponent);
  WriteFourDigits(magnitude, exponent_part + 2);
  return out + kRealTextLength;
}

}  // namespace diskmaps
