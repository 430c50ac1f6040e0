#include "app/map_generation.h"

#include <bit>
#include <cstdint>

#include "runtime/number/normal_product.h"
#include "runtime/random/random_source.h"

namespace diskmaps {
namespace {

constexpr int kDoubleExponentBias = 1023;
constexpr int kDoubleFractionBits = 52;
constexpr std::int64_t kHalfRange = std::int64_t{1} << 31;

// The real ±n × 2^(top − 63) for n > 0 below 2^64, exactly: n shifted up
// until its top bit is the integer bit.
constexpr Extended ExactScaled(bool negative, std::uint64_t n, int top) {
  const int leading_zeros = std::countl_zero(n);
  return Extended::Make(
      negative,
      static_cast<std::uint16_t>(Extended::kExponentBias + top - leading_zeros),
      n << leading_zeros);
}

// The draw of u = seed × 2^-32 turned into u × 2 − 1 = k × 2^-31, with
// k = seed − 2^31. Both steps are exact in extended, and the difference of
// equal values is +0, so the value is known from k alone.
struct SignedDraw {
  std::int64_t k;
  Extended value;
};

constexpr SignedDraw SignedUnitOfSeed(std::uint32_t seed) {
  const std::int64_t k = std::int64_t{seed} - kHalfRange;
  if (k == 0) return {0, Extended()};
  const auto magnitude = static_cast<std::uint64_t>(k < 0 ? -k : k);
  return {k, ExactScaled(k < 0, magnitude, 63 - 31)};
}

// The double of a multiple of 2^-31 in [-1, 1): exact, built from its bits.
constexpr double DoubleOfDraw(const SignedDraw& draw) {
  if (draw.k == 0) return 0.0;
  const Extended value = draw.value;
  const std::uint64_t sign = std::uint64_t{value.Sign()} << 63;
  const auto exponent = static_cast<std::uint64_t>(
      value.BiasedExponent() - Extended::kExponentBias + kDoubleExponentBias);
  // Below the integer bit, the top 52 bits; the others are zero here.
  const std::uint64_t fraction =
      (value.Significand() & ~Extended::kIntegerBit) >>
      (63 - kDoubleFractionBits);
  return std::bit_cast<double>(sign | exponent << kDoubleFractionBits |
                               fraction);
}

// 1 − x × x for x = k × 2^-31: x × x = k² × 2^-62 and the difference are both
// exact in extended (k² ≤ 2^62), and a zero difference is +0.
constexpr Extended OneLessSquare(std::int64_t k) {
  const auto square = static_cast<std::uint64_t>(k * k);
  const std::uint64_t rest = (std::uint64_t{1} << 62) - square;
  if (rest == 0) return Extended();
  return ExactScaled(false, rest, 63 - 62);
}

// a × b rounded to extended, with the short way when both are normal, which
// keeps the product normal for the operands met here: a half chord of at
// least 2^-31 times |t| of at least 2^-31, or a draw of at least 2^-32
// times a difference of doubles.
Extended ProductOfDraw(Extended a, Extended b) {
  if (!IsNormal(a) || !IsNormal(b)) return Multiply(a, b);
  const Extended magnitude = NormalProduct(a.Magnitude(), b.Magnitude());
  const auto sign = static_cast<std::uint16_t>(
      (a.SignAndExponent() ^ b.SignAndExponent()) & Extended::kSignBit);
  return Extended::FromBits(magnitude.SignAndExponent() | sign,
                            magnitude.Significand());
}

// a + b rounded to extended, with the short way when both are normal and of
// one sign; the sums met here (a draw times a difference of doubles, plus a
// double) stay far below the overflow threshold.
Extended SumOfDraw(Extended a, Extended b) {
  if (!IsNormal(a) || !IsNormal(b) || a.Sign() != b.Sign()) return Add(a, b);
  const Extended magnitude = NormalSum(a.Magnitude(), b.Magnitude());
  const auto sign =
      static_cast<std::uint16_t>(a.SignAndExponent() & Extended::kSignBit);
  return Extended::FromBits(magnitude.SignAndExponent() | sign,
                            magnitude.Significand());
}

}  // namespace

RadiusRange PrepareRadiusRange(double R0Min, double R0Max) {
  RadiusRange range;
  range.r0_min = R0Min;
  range.r0_max = R0Max;
  // Told from the bits: an exponent field of all ones is an infinity or a
  // NaN.
  constexpr std::uint64_t kExponentField = std::uint64_t{0x7FF}
                                           << kDoubleFractionBits;
  const auto is_finite = [](double value) {
    return (std::bit_cast<std::uint64_t>(value) & kExponentField) !=
           kExponentField;
  };
  if (is_finite(R0Min) && is_finite(R0Max)) {
    range.low = ExtendedFromDouble(R0Min);
    range.span = Subtract(ExtendedFromDouble(R0Max), range.low);
    range.prepared = true;
  }
  return range;
}

MapRecord DrawMapRecord(const RadiusRange& range) {
  MapRecord record;

  Random.seed = NextSeed(Random.seed);
  const SignedDraw x = SignedUnitOfSeed(Random.seed);
  record.x = DoubleOfDraw(x);

  Random.seed = NextSeed(Random.seed);
  const SignedDraw t = SignedUnitOfSeed(Random.seed);
  const Extended half_chord = SquareRoot(OneLessSquare(x.k));
  record.y = ProductOfDraw(half_chord, t.value);

  const Extended u3 = NextUnitRandom();
  if (range.prepared) {
    record.r0 = SumOfDraw(ProductOfDraw(u3, range.span), range.low);
  } else {
    const Extended low = ExtendedFromDouble(range.r0_min);
    const Extended span = Subtract(ExtendedFromDouble(range.r0_max), low);
    record.r0 = SumOfDraw(ProductOfDraw(u3, span), low);
  }
  return record;
}

MapRecord DrawMapRecord(double R0Min, double R0Max) {
  return DrawMapRecord(PrepareRadiusRange(R0Min, R0Max));
}

}  // namespace diskmaps
