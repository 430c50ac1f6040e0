// The 23-character scientific text of an extended real: "
// d.ddddddddddddddE+dddd".
//
// The conversion is a pure function of the 80 bits. It finds a decimal
// exponent K and a reduced magnitude m in [1, 16) (SplitDecimalExponent),
// turns m × 10^17 into an integer P below 1.6 × 10^18 (BuildDigitString),
// rounds P half up at its 16th decimal digit and keeps 15 digits
// (WrittenDigits), and lays the text out in the caller's buffer. Every binary
// rounding is the extended arithmetic's (64-bit significand, to nearest, ties
// to even), so the digits are the same on every host.

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

constexpr std::uint64_t kTenToThe15 = 1'000'000'000'000'000;
constexpr std::uint64_t kTenToThe8 = 100'000'000;

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

// Writes value (below 10^8) as eight digits with leading zeros.
inline void WriteEightDigits(std::uint32_t value, char* out) {
  WriteFourDigits(value / 10'000, out);
  WriteFourDigits(value % 10'000, out + 4);
}

// The magnitude of a finite value in its canonical encoding. An unnormal
// (integer bit clear under a nonzero exponent field) or a pseudo-denormal
// (integer bit set under a zero exponent field) is brought to the normal,
// denormal or zero encoding of the same value, so that the arithmetic only
// ever sees operands it accepts and the text follows the value the bits
// stand for.
constexpr Extended CanonicalMagnitude(Extended value) {
  if (value.IsNormal()) return value.Magnitude();  // the usual case
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

// P = m × 10^17, rounded to a 64-bit significand and then to an integer,
// both to nearest with ties to even; its 19 decimal digits, leading zeros
// included, are the digit string of the text. m is 0 or in [1, 16), so P is
// at most 1.6 × 10^18 (the product can round up to exactly that).
std::uint64_t BuildDigitString(Extended m) {
  return static_cast<std::uint64_t>(RoundToInt64(Multiply(m, kTenToThe17)));
}

// The 15 significant digits and the decimal exponent of the text, from P
// and K. Seen as 19 decimal digits S[0..18] (S[0] is 0 or 1), P is rounded
// half up at position 15: the digit S[16] alone decides, a carry runs left
// through the nines, and S[16..18] keep their values; adding 1000 does all
// of that at once and cannot carry past S[0]. When S[0] is then 1, the
// written digits are S[0..14] and K grows by one; otherwise S[1..15].
std::uint64_t WrittenDigits(std::uint64_t p, std::int32_t& decimal_exponent) {
  // With S[16] = hundreds % 10: floor((P + 1000 r) / 1000) is P / 1000 + r.
  const std::uint64_t hundreds = p / 100;
  const std::uint64_t thousands = hundreds / 10;
  const std::uint64_t digits =
      thousands + static_cast<std::uint64_t>(hundreds - thousands * 10 >= 5);
  // S[0] is 1 exactly when P rounded reaches 10^18, that is 10^15 thousands.
  if (digits >= kTenToThe15) {
    ++decimal_exponent;
    return digits / 10;
  }
  return digits;
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
  // Below 10^15: 7 digits (the first and 6 more), then 8.
  const std::uint64_t digits =
      WrittenDigits(BuildDigitString(m), decimal_exponent);
  const auto upper = static_cast<std::uint32_t>(digits / kTenToThe8);
  const auto lower = static_cast<std::uint32_t>(digits % kTenToThe8);
  const std::uint32_t first = upper / 1'000'000;
  const std::uint32_t six = upper % 1'000'000;

  out[0] = value.Sign() ? '-' : ' ';
  out[1] = static_cast<char>('0' + first);
  out[2] = '.';
  std::memcpy(out + 3, &kDigitPairs[2 * (six / 10'000)], 2);
  WriteFourDigits(six % 10'000, out + 5);
  WriteEightDigits(lower, out + 9);
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
