#include "runtime/number/extended.h"

#include <array>
#include <bit>
#include <cstdint>

#include "runtime/failure/exceptions.h"

// The arithmetic of the 80-bit extended real in exact integer arithmetic.
//
// Every operation follows the same plan: classify the operands, settle the
// special cases (NaNs, infinities, zeros) by table, unpack the finite
// operands into a normalised significand and an unbounded exponent, compute
// the exact result (or a significand with an exact round and sticky part),
// and hand it to RoundAndPack, the one place where results are rounded. Add,
// Subtract and Multiply first look whether both operands are normal, the
// usual case, with a result sure to be normal: then the same exact
// computation runs on the operands' fields as they are, and its result is
// rounded in place. The operations do not raise anything themselves: they
// return an Outcome that is either the 80 bits or a condition, and the
// public entry points turn a condition into the failure, located at their
// own call site.

namespace diskmaps {
namespace {

__extension__ typedef unsigned __int128 Uint128;
__extension__ typedef __int128 Int128;

constexpr std::uint16_t kMaxExponent = Extended::kMaxBiasedExponent;
constexpr std::int32_t kBias = Extended::kExponentBias;
constexpr std::uint64_t kIntegerBit = Extended::kIntegerBit;
constexpr std::uint64_t kQuietBit = std::uint64_t{1} << 62;
constexpr std::uint64_t kHalf = std::uint64_t{1} << 63;

static_assert(kBias == (kMaxExponent >> 1));
static_assert(Extended::kSignBit == 0x8000);
static_assert(Extended::Infinity().SignAndExponent() == 0x7FFF);
static_assert(Extended::Infinity(true).Negated() == Extended::Infinity());

enum class Condition : std::uint8_t {
  kNone,
  kInvalidOp,
  kZeroDivide,
  kOverflow,
};

// The result of an operation: the 80 bits, or the condition raised instead.
// Sixteen bytes, so that it travels in two registers.
struct Outcome {
  std::uint64_t significand;
  std::uint16_t sign_and_exponent;
  Condition condition;
};
static_assert(sizeof(Outcome) == 16);

constexpr Outcome Deliver(Extended value) {
  return {value.Significand(), value.SignAndExponent(), Condition::kNone};
}
constexpr Outcome Deliver(bool sign, std::int32_t biased_exponent,
                          std::uint64_t significand) {
  return {significand,
          static_cast<std::uint16_t>((sign ? Extended::kSignBit : 0) |
                                     biased_exponent),
          Condition::kNone};
}
constexpr Outcome Signal(Condition condition) { return {0, 0, condition}; }
constexpr Outcome Zero(bool sign) { return Deliver(sign, 0, 0); }
constexpr Outcome Infinity(bool sign) {
  return Deliver(sign, kMaxExponent, kIntegerBit);
}

// The one place where conditions become failures.
[[noreturn, gnu::noinline, gnu::cold]] void Raise(Condition condition,
                                                  const void* call_site) {
  switch (condition) {
    case Condition::kZeroDivide:
      RaiseAt(EZeroDivide(), call_site);
    case Condition::kOverflow:
      RaiseAt(EOverflow(), call_site);
    case Condition::kInvalidOp:
    case Condition::kNone:
      break;
  }
  RaiseAt(EInvalidOp(), call_site);
}

inline Extended ToExtended(Outcome outcome) {
  return Extended::FromBits(outcome.sign_and_exponent, outcome.significand);
}

// The kinds of encodings, as the processor sees them. Everything from
// kQuietNaN on needs the NaN rules.
enum class Kind : std::uint8_t {
  kZero,
  kFinite,  // normals, denormals and pseudo-denormals
  kInfinity,
  kQuietNaN,
  kSignalingNaN,
  kUnsupported,  // unnormals, pseudo-infinities and pseudo-NaNs
};

constexpr Kind KindOf(Extended x) {
  const std::uint16_t exponent = x.BiasedExponent();
  const std::uint64_t significand = x.Significand();
  if (exponent == 0) return significand == 0 ? Kind::kZero : Kind::kFinite;
  if ((significand & kIntegerBit) == 0) return Kind::kUnsupported;
  if (exponent != kMaxExponent) return Kind::kFinite;
  if (significand == kIntegerBit) return Kind::kInfinity;
  return (significand & kQuietBit) != 0 ? Kind::kQuietNaN : Kind::kSignalingNaN;
}

constexpr bool NeedsNaNRules(Kind kind) { return kind >= Kind::kQuietNaN; }
constexpr bool IsInvalidOperand(Kind kind) {
  return kind >= Kind::kSignalingNaN;
}

// A finite nonzero value significand × 2^(exponent − kBias − 63), with the
// top bit of the significand set. The exponent falls below 1 for denormals.
struct Unpacked {
  bool sign;
  std::int32_t exponent;
  std::uint64_t significand;
};

constexpr Unpacked Unpack(Extended x) {
  std::int32_t exponent = x.BiasedExponent();
  std::uint64_t significand = x.Significand();
  if (exponent == 0) {
    // Denormals and pseudo-denormals weigh as exponent 1.
    const int shift = std::countl_zero(significand);
    significand <<= shift;
    exponent = 1 - shift;
  }
  return {x.Sign(), exponent, significand};
}

// The result when an operand is a NaN or an unsupported encoding: a
// signalling NaN or an unsupported operand is an invalid operation; else the
// quiet NaN passes, and of two quiet NaNs the one with the larger
// significand, the positive one if they differ only in sign.
constexpr Outcome PropagateNaN(Extended a, Kind kind_a, Extended b,
                               Kind kind_b) {
  if (IsInvalidOperand(kind_a) || IsInvalidOperand(kind_b)) {
    return Signal(Condition::kInvalidOp);
  }
  if (kind_a != Kind::kQuietNaN) return Deliver(b);
  if (kind_b != Kind::kQuietNaN) return Deliver(a);
  if (a.Significand() != b.Significand()) {
    return Deliver(a.Significand() > b.Significand() ? a : b);
  }
  return Deliver(a.Sign() ? b : a);
}

// Shifts right by `count`, folding every bit shifted out into bit 0.
constexpr Uint128 ShiftRightJam(Uint128 value, std::int32_t count) {
  if (count <= 0) return value;
  if (count >= 128) return value != 0 ? 1 : 0;
  return (value >> count) | ((value << (128 - count)) != 0 ? 1 : 0);
}

constexpr int CountLeadingZeros(Uint128 value) {
  const auto high = static_cast<std::uint64_t>(value >> 64);
  return high != 0 ? std::countl_zero(high)
                   : 64 + std::countl_zero(static_cast<std::uint64_t>(value));
}

// 1 when kept + extra / 2^64 rounds up to nearest, ties to even; else 0:
// exactly when extra + (half − 1 + the low bit of kept) carries out of 64
// bits. Without branches: the outcome is data dependent.
constexpr std::uint64_t RoundsUp(std::uint64_t kept, std::uint64_t extra) {
  std::uint64_t ignored = 0;
  return __builtin_add_overflow(extra, kHalf - 1 + (kept & 1), &ignored) ? 1
                                                                         : 0;
}

// Rounds sign × (significand + extra / 2^64) × 2^(exponent − kBias − 63) to
// the extended format, to nearest with ties to even. The significand has its
// top bit set; the exponent is unbounded. A result below the normal range is
// rounded once, at the denormal quantum 2^-16445; a result beyond the largest
// finite value is an overflow.
// Rounds significand + extra / 2^64 (top bit set) to nearest, ties to even;
// a carry out of the top bit gives the integer bit and one more in the
// exponent.
[[gnu::always_inline]] constexpr std::uint64_t RoundSignificand(
    std::uint64_t significand, std::uint64_t extra, std::int32_t& exponent) {
  significand += RoundsUp(significand, extra);
  if (significand == 0) [[unlikely]] {  // carried out of the top bit
    significand = kIntegerBit;
    ++exponent;
  }
  return significand;
}

constexpr Outcome RoundAndPack(bool sign, std::int32_t exponent,
                               std::uint64_t significand, std::uint64_t extra) {
  if (exponent <= 0) [[unlikely]] {
    const Uint128 shifted =
        ShiftRightJam((Uint128{significand} << 64) | extra, 1 - exponent);
    significand = static_cast<std::uint64_t>(shifted >> 64);
    extra = static_cast<std::uint64_t>(shifted);
    significand += RoundsUp(significand, extra);
    // Rounding up into the integer bit gives the smallest normal.
    return Deliver(sign, (significand & kIntegerBit) != 0 ? 1 : 0, significand);
  }
  significand = RoundSignificand(significand, extra, exponent);
  if (exponent >= kMaxExponent) [[unlikely]] {
    return Signal(Condition::kOverflow);
  }
  return Deliver(sign, exponent, significand);
}

// A finite operand passed on as a result: denormals stay, pseudo-denormals
// become the normal of the same value.
constexpr Outcome Repack(bool sign, Extended x) {
  const Unpacked u = Unpack(x);
  return RoundAndPack(sign, u.exponent, u.significand, 0);
}

// An exact result before its rounding: significand + extra / 2^64, the
// significand's top bit set, times 2^(exponent − kBias − 63). A zero
// significand stands for an exact zero.
struct Exact {
  bool sign;
  std::int32_t exponent;
  std::uint64_t significand;
  std::uint64_t extra;
};

// significand × 2^64 shifted right by count ≥ 0, as two words; bits shifted
// out below the low word are folded into its bit 0.
struct Aligned {
  std::uint64_t high;
  std::uint64_t low;
};

constexpr Aligned AlignBelow(std::uint64_t significand, std::int32_t count) {
  if (count < 64) [[likely]] {
    // (significand << 1) << (63 − count) is significand << (64 − count)
    // without an undefined shift by 64.
    return {significand >> count, (significand << 1) << (63 - count)};
  }
  if (count < 128) {
    const std::uint64_t lost = (significand << 1) << (127 - count);
    return {0, (significand >> (count - 64)) | (lost != 0 ? 1 : 0)};
  }
  return {0, 1};
}

// The exact sum of two finite nonzero operands, the bits shifted out of the
// smaller one kept as a sticky bit.
[[gnu::always_inline]] constexpr Exact ExactSum(Unpacked a, Unpacked b) {
  // The larger magnitude first, chosen without a branch: which one it is
  // depends on the data.
  const bool b_larger =
      (a.exponent < b.exponent) |
      ((a.exponent == b.exponent) & (a.significand < b.significand));
  const Unpacked big = b_larger ? b : a;
  const Unpacked small = b_larger ? a : b;
  const Aligned aligned =
      AlignBelow(small.significand, big.exponent - small.exponent);
  if (big.sign == small.sign) {
    const std::uint64_t sum = big.significand + aligned.high;
    // A carry out of the top bit comes back in, the bit shifted out kept as
    // sticky; without branches, as it is data dependent.
    const std::uint64_t carry = sum < big.significand ? 1 : 0;
    return {
        big.sign, big.exponent + static_cast<std::int32_t>(carry),
        (sum >> carry) | (carry << 63),
        (aligned.low >> carry) | (aligned.low & carry) | ((sum & carry) << 63)};
  }
  Uint128 difference = (Uint128{big.significand} << 64) -
                       ((Uint128{aligned.high} << 64) | aligned.low);
  if (difference == 0) return {false, 0, 0, 0};
  // Less than two binades apart nothing was shifted out; from two on the
  // difference is at least 2^126 and takes one shift at most, so the sticky
  // bit stays below the rounding position.
  const int shift = CountLeadingZeros(difference);
  difference <<= shift;
  return {big.sign, big.exponent - shift,
          static_cast<std::uint64_t>(difference >> 64),
          static_cast<std::uint64_t>(difference)};
}

// The exact product of two finite nonzero operands.
[[gnu::always_inline]] constexpr Exact ExactProduct(
    bool sign, std::int32_t exponent_a, std::uint64_t significand_a,
    std::int32_t exponent_b, std::uint64_t significand_b) {
  const Uint128 product = Uint128{significand_a} * significand_b;
  auto high = static_cast<std::uint64_t>(product >> 64);
  auto low = static_cast<std::uint64_t>(product);
  // Each significand is in [2^63, 2^64), so the product is in [2^126, 2^128):
  // one shift at most brings its top bit up, made without a branch as it is
  // data dependent.
  const std::uint64_t below_top = (high >> 63) ^ 1;
  high = (high << below_top) | ((low >> 63) & below_top);
  low <<= below_top;
  return {sign,
          exponent_a + exponent_b - kBias + 1 -
              static_cast<std::int32_t>(below_top),
          high, low};
}

constexpr Outcome AddOutcome(Extended a, Extended b, bool negate_b) {
  const Kind kind_a = KindOf(a);
  const Kind kind_b = KindOf(b);
  if (NeedsNaNRules(kind_a) || NeedsNaNRules(kind_b)) [[unlikely]] {
    return PropagateNaN(a, kind_a, b, kind_b);
  }
  const bool sign_a = a.Sign();
  const bool sign_b = b.Sign() != negate_b;
  if (kind_a == Kind::kInfinity) {
    if (kind_b == Kind::kInfinity && sign_a != sign_b) {
      return Signal(Condition::kInvalidOp);
    }
    return Infinity(sign_a);
  }
  if (kind_b == Kind::kInfinity) return Infinity(sign_b);
  if (kind_a == Kind::kZero) {
    if (kind_b == Kind::kZero) return Zero(sign_a && sign_b);
    return Repack(sign_b, b);
  }
  if (kind_b == Kind::kZero) return Repack(sign_a, a);

  Unpacked ua = Unpack(a);
  Unpacked ub = Unpack(b);
  ua.sign = sign_a;
  ub.sign = sign_b;
  const Exact sum = ExactSum(ua, ub);
  if (sum.significand == 0) return Zero(false);  // exact cancellation: +0
  return RoundAndPack(sum.sign, sum.exponent, sum.significand, sum.extra);
}

constexpr Outcome MultiplyOutcome(Extended a, Extended b) {
  const Kind kind_a = KindOf(a);
  const Kind kind_b = KindOf(b);
  if (NeedsNaNRules(kind_a) || NeedsNaNRules(kind_b)) [[unlikely]] {
    return PropagateNaN(a, kind_a, b, kind_b);
  }
  const bool sign = a.Sign() != b.Sign();
  if (kind_a == Kind::kInfinity || kind_b == Kind::kInfinity) {
    if (kind_a == Kind::kZero || kind_b == Kind::kZero) {
      return Signal(Condition::kInvalidOp);
    }
    return Infinity(sign);
  }
  if (kind_a == Kind::kZero || kind_b == Kind::kZero) return Zero(sign);

  const Unpacked ua = Unpack(a);
  const Unpacked ub = Unpack(b);
  const Exact product = ExactProduct(sign, ua.exponent, ua.significand,
                                     ub.exponent, ub.significand);
  return RoundAndPack(sign, product.exponent, product.significand,
                      product.extra);
}

// The short way of Add, Subtract and Multiply: two normal operands (exponent
// field 1 to all ones less one, integer bit set) whose exact result is sure to
// round to a normal value. Their fields are then already the unpacked form,
// none of the rules for special values applies, and the result needs neither
// the rounding at the denormal quantum nor the overflow check. Everything
// else takes the general path.

// The exponent fields for which a sum or a difference takes the short way.
// Up to 0x7FFC, neither the carry of a sum nor its rounding can reach the
// all-ones field. From 64 on, a difference that does not cancel exactly is
// at least one unit in the last place of the smaller operand, 2^(64 − kBias −
// 63) or more, so it is normal.
constexpr std::int32_t kShortSumLowest = 64;
constexpr std::int32_t kShortSumHighest = kMaxExponent - 3;

constexpr bool IsShortSum(Extended a, Extended b) {
  constexpr auto kSpan =
      static_cast<std::uint32_t>(kShortSumHighest - kShortSumLowest);
  return static_cast<std::uint32_t>(a.BiasedExponent() - kShortSumLowest) <=
             kSpan &&
         static_cast<std::uint32_t>(b.BiasedExponent() - kShortSumLowest) <=
             kSpan &&
         (a.Significand() & b.Significand() & kIntegerBit) != 0;
}

// A product of two normals has the exponent field ea + eb − kBias + 1, less
// one when its top bit needs a shift, and one more when the rounding carries.
// For ea + eb − kBias from 1 to 0x7FFC every case is normal.
constexpr bool IsShortProduct(Extended a, Extended b) {
  constexpr std::uint32_t kNormalSpan = kMaxExponent - 1;
  const std::uint32_t exponent_a = a.BiasedExponent();
  const std::uint32_t exponent_b = b.BiasedExponent();
  return exponent_a - 1 < kNormalSpan && exponent_b - 1 < kNormalSpan &&
         exponent_a + exponent_b - kBias - 1 <
             static_cast<std::uint32_t>(kMaxExponent - 3) &&
         (a.Significand() & b.Significand() & kIntegerBit) != 0;
}

// Rounds an exact nonzero result known to stay normal.
[[gnu::always_inline]] constexpr Extended RoundNormal(Exact exact) {
  const std::uint64_t significand =
      RoundSignificand(exact.significand, exact.extra, exact.exponent);
  return Extended::Make(exact.sign, static_cast<std::uint16_t>(exact.exponent),
                        significand);
}

[[gnu::always_inline]] constexpr Extended ShortSum(Extended a, Extended b,
                                                   bool negate_b) {
  const Exact sum =
      ExactSum({a.Sign(), a.BiasedExponent(), a.Significand()},
               {b.Sign() != negate_b, b.BiasedExponent(), b.Significand()});
  if (sum.significand == 0) return Extended();  // exact cancellation gives +0
  return RoundNormal(sum);
}

[[gnu::always_inline]] constexpr Extended ShortProduct(Extended a, Extended b) {
  return RoundNormal(ExactProduct(a.Sign() != b.Sign(), a.BiasedExponent(),
                                  a.Significand(), b.BiasedExponent(),
                                  b.Significand()));
}

// (high × 2^64 + low) / divisor for high < divisor: the quotient, and the
// remainder in `remainder`.
inline std::uint64_t DivideWide(std::uint64_t high, std::uint64_t low,
                                std::uint64_t divisor,
                                std::uint64_t& remainder) {
#if defined(__x86_64__)
  std::uint64_t quotient;
  __asm__("divq %4"
          : "=a"(quotient), "=d"(remainder)
          : "a"(low), "d"(high), "rm"(divisor)
          : "cc");
  return quotient;
#else
  const Uint128 dividend = (Uint128{high} << 64) | low;
  const auto quotient = static_cast<std::uint64_t>(dividend / divisor);
  remainder =
      static_cast<std::uint64_t>(dividend - Uint128{quotient} * divisor);
  return quotient;
#endif
}

// Compresses the exact fraction remainder / divisor (below 1) into a round
// word: its top bit says whether the fraction reaches one half, its bottom bit
// whether anything else remains.
constexpr std::uint64_t RoundWord(std::uint64_t remainder,
                                  std::uint64_t divisor) {
  if (remainder == 0) return 0;
  const std::uint64_t rest = divisor - remainder;
  if (remainder < rest) return 1;
  return remainder == rest ? kHalf : kHalf | 1;
}

inline Outcome DivideOutcome(Extended a, Extended b) {
  const Kind kind_a = KindOf(a);
  const Kind kind_b = KindOf(b);
  if (NeedsNaNRules(kind_a) || NeedsNaNRules(kind_b)) [[unlikely]] {
    return PropagateNaN(a, kind_a, b, kind_b);
  }
  const bool sign = a.Sign() != b.Sign();
  if (kind_a == Kind::kInfinity) {
    if (kind_b == Kind::kInfinity) return Signal(Condition::kInvalidOp);
    return Infinity(sign);
  }
  if (kind_b == Kind::kInfinity) return Zero(sign);
  if (kind_b == Kind::kZero) {
    return Signal(kind_a == Kind::kZero ? Condition::kInvalidOp
                                        : Condition::kZeroDivide);
  }
  if (kind_a == Kind::kZero) return Zero(sign);

  const Unpacked ua = Unpack(a);
  const Unpacked ub = Unpack(b);
  // The quotient of the significands, scaled into [2^63, 2^64).
  std::int32_t exponent = ua.exponent - ub.exponent + kBias;
  std::uint64_t high = ua.significand >> 1;
  std::uint64_t low = ua.significand << 63;
  if (ua.significand < ub.significand) {
    high = ua.significand;
    low = 0;
    --exponent;
  }
  std::uint64_t remainder = 0;
  const std::uint64_t quotient =
      DivideWide(high, low, ub.significand, remainder);
  return RoundAndPack(sign, exponent, quotient,
                      RoundWord(remainder, ub.significand));
}

// floor(sqrt(radicand)) for a radicand in [2^126, 2^128), with the remainder
// radicand − root² in `remainder`: one bit of the root per step.
constexpr std::uint64_t SquareRootByDigits(Uint128 radicand,
                                           Uint128& remainder) {
  Uint128 rest = 0;
  std::uint64_t root = 0;
  for (int i = 0; i < 64; ++i) {
    rest = (rest << 2) | (radicand >> 126);
    radicand <<= 2;
    root <<= 1;
    const Uint128 trial = (Uint128{root} << 1) | 1;
    if (rest >= trial) {
      rest -= trial;
      root |= 1;
    }
  }
  remainder = rest;
  return root;
}

// Seeds for the reciprocal square root: 1/sqrt of the middle of
// [i/256, (i+1)/256) in units of 2^-14, for the leading byte i (64 to 255) of
// a value in [1/4, 1). Each is within 2^-8 of the reciprocal root of every
// value with that leading byte.
constexpr std::array<std::uint16_t, 192> kReciprocalRootSeeds = [] {
  std::array<std::uint16_t, 192> seeds{};
  for (std::uint64_t i = 64; i < 256; ++i) {
    Uint128 unused = 0;
    // sqrt(2^37 / (2i + 1)) = 2^14 / sqrt((2i + 1) / 512)
    const Uint128 scaled = Uint128{(std::uint64_t{1} << 37) / (2 * i + 1)}
                           << 96;
    seeds[i - 64] =
        static_cast<std::uint16_t>(SquareRootByDigits(scaled, unused) >> 48);
  }
  return seeds;
}();

// floor(sqrt(radicand)) for a radicand in [2^126, 2^128), with the remainder
// radicand − root² in `remainder`.
//
// With x the radicand's top 64 bits read as a fraction in [1/4, 1), a seeded
// reciprocal root y ≈ 1/sqrt(x) is refined twice by Newton's rule
// y += y (1 − x y²) / 2 to about 30 bits; x y then approximates the root, and
// one step root += (radicand − root²) y / 2 brings it within about one unit.
// The exact remainder settles the last unit.
constexpr std::uint64_t IntegerSquareRoot(Uint128 radicand,
                                          Uint128& remainder) {
  const auto top = static_cast<std::uint64_t>(radicand >> 64);
  // y in units of 2^-61.
  std::uint64_t y = std::uint64_t{kReciprocalRootSeeds[(top >> 56) - 64]} << 47;
  for (int step = 0; step < 2; ++step) {
    const auto square = static_cast<std::uint64_t>((Uint128{y} * y) >> 61);
    const auto product =
        static_cast<std::uint64_t>((Uint128{top} * square) >> 64);
    const auto defect =
        static_cast<std::int64_t>((std::uint64_t{1} << 61) - product);
    y += static_cast<std::uint64_t>(static_cast<std::int64_t>(
        (Int128{static_cast<std::int64_t>(y)} * defect) >> 62));
  }
  const Uint128 first = (Uint128{top} * y) >> 61;
  const std::uint64_t estimate = (first >> 64) != 0
                                     ? ~std::uint64_t{0}
                                     : static_cast<std::uint64_t>(first);
  // The defect of the estimate, far below 2^127 in magnitude.
  const auto defect =
      static_cast<Int128>(radicand - Uint128{estimate} * estimate);
  const Int128 scaled_defect = defect >> 44;
  if (scaled_defect != static_cast<std::int64_t>(scaled_defect)) [[unlikely]] {
    return SquareRootByDigits(radicand, remainder);
  }
  const Int128 refined =
      Int128{estimate} + ((scaled_defect * static_cast<std::int64_t>(y)) >> 82);
  std::uint64_t root = refined > static_cast<Int128>(~std::uint64_t{0})
                           ? ~std::uint64_t{0}
                           : static_cast<std::uint64_t>(refined);
  auto rest = static_cast<Int128>(radicand - Uint128{root} * root);
  while (rest < 0) {
    rest += 2 * Int128{root} - 1;
    --root;
  }
  while (rest > 2 * Int128{root}) {
    ++root;
    rest -= 2 * Int128{root} - 1;
  }
  remainder = static_cast<Uint128>(rest);
  return root;
}

constexpr Outcome SquareRootOutcome(Extended a) {
  const Kind kind = KindOf(a);
  if (IsInvalidOperand(kind)) return Signal(Condition::kInvalidOp);
  if (kind == Kind::kQuietNaN || kind == Kind::kZero) return Deliver(a);
  if (a.Sign()) return Signal(Condition::kInvalidOp);
  if (kind == Kind::kInfinity) return Deliver(a);

  const Unpacked u = Unpack(a);
  // value = significand × 2^(exponent − kBias − 63); scale the significand
  // by 2^63 or 2^64 so that the remaining power of two is even.
  const int scale = (u.exponent & 1) != 0 ? 63 : 64;
  const Uint128 radicand = Uint128{u.significand} << scale;
  const std::int32_t exponent =
      (u.exponent - kBias - 63 - scale) / 2 + kBias + 63;
  Uint128 remainder = 0;
  const std::uint64_t root = IntegerSquareRoot(radicand, remainder);
  // The root is never a half-integer: above one half exactly when the
  // remainder exceeds the root.
  const std::uint64_t extra =
      remainder == 0 ? 0 : (remainder > root ? kHalf | 1 : 1);
  return RoundAndPack(false, exponent, root, extra);
}

constexpr Outcome FromDoubleOutcome(std::uint64_t bits) {
  const bool sign = (bits >> 63) != 0;
  const auto exponent = static_cast<std::int32_t>((bits >> 52) & 0x7FF);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (exponent == 0x7FF) {
    if (fraction == 0) return Infinity(sign);
    if ((fraction & (std::uint64_t{1} << 51)) == 0) {
      return Signal(Condition::kInvalidOp);  // signalling NaN
    }
    return Deliver(sign, kMaxExponent, kIntegerBit | (fraction << 11));
  }
  if (exponent == 0) {
    if (fraction == 0) return Zero(sign);
    const int shift = std::countl_zero(fraction);
    return Deliver(sign, kBias + 63 - 1074 - shift, fraction << shift);
  }
  return Deliver(sign, exponent - 1023 + kBias, kIntegerBit | (fraction << 11));
}

// The double's bits, or the condition.
struct DoubleOutcome {
  std::uint64_t bits;
  Condition condition;
};

constexpr DoubleOutcome ToDoubleOutcome(Extended x) {
  const std::uint64_t sign = x.Sign() ? std::uint64_t{1} << 63 : 0;
  constexpr std::uint64_t kDoubleInfinity = std::uint64_t{0x7FF} << 52;
  switch (KindOf(x)) {
    case Kind::kZero:
      return {sign, Condition::kNone};
    case Kind::kInfinity:
      return {sign | kDoubleInfinity, Condition::kNone};
    case Kind::kQuietNaN:
      return {sign | kDoubleInfinity |
                  ((x.Significand() >> 11) & ((std::uint64_t{1} << 52) - 1)),
              Condition::kNone};
    case Kind::kSignalingNaN:
    case Kind::kUnsupported:
      return {0, Condition::kInvalidOp};
    case Kind::kFinite:
      break;
  }
  const Unpacked u = Unpack(x);
  std::int32_t exponent = u.exponent - kBias + 1023;
  // Bits kept: 53 for normals; fewer below the normal range, where the
  // quantum is 2^-1074.
  const Uint128 wide = ShiftRightJam(Uint128{u.significand} << 64,
                                     exponent <= 0 ? 1 - exponent : 0);
  if (exponent <= 0) exponent = 0;
  std::uint64_t kept = static_cast<std::uint64_t>(wide >> 64) >> 11;
  const std::uint64_t dropped =
      static_cast<std::uint64_t>(wide >> 11) | ((wide & 0x7FF) != 0 ? 1 : 0);
  kept += RoundsUp(kept, dropped);
  // A carry into bit 53 or, for subnormals, into bit 52 moves the exponent up
  // by one; adding the significand onto the exponent field does exactly that.
  if (exponent == 0) return {sign | kept, Condition::kNone};
  if (exponent >= 0x7FF) return {0, Condition::kOverflow};
  const std::uint64_t bits = (static_cast<std::uint64_t>(exponent - 1) << 52) +
                             kept;  // kept holds the hidden bit
  if ((bits >> 52) >= 0x7FF) return {0, Condition::kOverflow};
  return {sign | bits, Condition::kNone};
}

struct IntegerOutcome {
  std::int64_t value;
  Condition condition;
};

constexpr IntegerOutcome RoundToInt64Outcome(Extended x) {
  const Kind kind = KindOf(x);
  if (kind == Kind::kZero) return {0, Condition::kNone};
  if (kind != Kind::kFinite) return {0, Condition::kInvalidOp};
  const Unpacked u = Unpack(x);
  // value = significand × 2^-shift
  const std::int32_t shift = kBias + 63 - u.exponent;
  if (shift < 0) return {0, Condition::kInvalidOp};
  const Uint128 wide = ShiftRightJam(Uint128{u.significand} << 64, shift);
  std::uint64_t magnitude = static_cast<std::uint64_t>(wide >> 64);
  magnitude += RoundsUp(magnitude, static_cast<std::uint64_t>(wide));
  // The range is -2^63 to 2^63 - 1.
  if (magnitude > kIntegerBit || (magnitude == kIntegerBit && !u.sign)) {
    return {0, Condition::kInvalidOp};
  }
  const std::uint64_t twos = u.sign ? ~magnitude + 1 : magnitude;
  return {static_cast<std::int64_t>(twos), Condition::kNone};
}

// Numeric order key of a value that is not a NaN: the magnitude, with
// denormals and pseudo-denormals weighing as exponent 1.
constexpr Uint128 MagnitudeKey(Extended x) {
  const std::uint16_t exponent = x.BiasedExponent();
  return (Uint128{exponent == 0 ? 1u : exponent} << 64) | x.Significand();
}

constexpr bool IsOrdered(Extended x) {
  const Kind kind = KindOf(x);
  return kind <= Kind::kInfinity;
}

// The general paths of RoundToInt64, Add, Subtract and Multiply, out of
// line: every operand, with the failures raised at `call_site`.
[[gnu::noinline]] std::int64_t RoundToInt64InGeneral(Extended value,
                                                     const void* call_site) {
  const IntegerOutcome outcome = RoundToInt64Outcome(value);
  if (outcome.condition != Condition::kNone) [[unlikely]] {
    Raise(outcome.condition, call_site);
  }
  return outcome.value;
}

[[gnu::noinline]] Extended AddInGeneral(Extended a, Extended b, bool negate_b,
                                        const void* call_site) {
  const Outcome outcome = AddOutcome(a, b, negate_b);
  if (outcome.condition != Condition::kNone) [[unlikely]] {
    Raise(outcome.condition, call_site);
  }
  return ToExtended(outcome);
}

[[gnu::noinline]] Extended MultiplyInGeneral(Extended a, Extended b,
                                             const void* call_site) {
  const Outcome outcome = MultiplyOutcome(a, b);
  if (outcome.condition != Condition::kNone) [[unlikely]] {
    Raise(outcome.condition, call_site);
  }
  return ToExtended(outcome);
}

}  // namespace

__attribute__((noinline)) Extended ExtendedFromDouble(double value) {
  const Outcome outcome =
      FromDoubleOutcome(std::bit_cast<std::uint64_t>(value));
  if (outcome.condition != Condition::kNone) [[unlikely]] {
    Raise(outcome.condition, __builtin_return_address(0));
  }
  return ToExtended(outcome);
}

__attribute__((noinline)) double ExtendedToDouble(Extended value) {
  const DoubleOutcome outcome = ToDoubleOutcome(value);
  if (outcome.condition != Condition::kNone) [[unlikely]] {
    Raise(outcome.condition, __builtin_return_address(0));
  }
  return std::bit_cast<double>(outcome.bits);
}

Extended ExtendedFromInteger(std::int64_t value) {
  if (value == 0) return Extended();
  const bool sign = value < 0;
  const std::uint64_t magnitude = sign ? ~static_cast<std::uint64_t>(value) + 1
                                       : static_cast<std::uint64_t>(value);
  const int shift = std::countl_zero(magnitude);
  return Extended::Make(sign, static_cast<std::uint16_t>(kBias + 63 - shift),
                        magnitude << shift);
}

__attribute__((noinline)) std::int64_t RoundToInt64(Extended value) {
  // The usual case first: a normal value of magnitude from 1 up to below 2^63,
  // whose integer part and fraction are both within the significand.
  const std::int32_t shift = kBias + 63 - value.BiasedExponent();
  if (static_cast<std::uint32_t>(shift - 1) < 63 &&
      (value.Significand() & kIntegerBit) != 0) [[likely]] {
    std::uint64_t magnitude = value.Significand() >> shift;
    magnitude += RoundsUp(magnitude, value.Significand() << (64 - shift));
    if (magnitude != kIntegerBit) [[likely]] {  // 2^63 only as -2^63
      const std::uint64_t twos = value.Sign() ? ~magnitude + 1 : magnitude;
      return static_cast<std::int64_t>(twos);
    }
  }
  return RoundToInt64InGeneral(value, __builtin_return_address(0));
}

__attribute__((noinline)) Extended Add(Extended a, Extended b) {
  if (IsShortSum(a, b)) [[likely]]
    return ShortSum(a, b, false);
  return AddInGeneral(a, b, false, __builtin_return_address(0));
}

__attribute__((noinline)) Extended Subtract(Extended a, Extended b) {
  if (IsShortSum(a, b)) [[likely]]
    return ShortSum(a, b, true);
  return AddInGeneral(a, b, true, __builtin_return_address(0));
}

__attribute__((noinline)) Extended Multiply(Extended a, Extended b) {
  if (IsShortProduct(a, b)) [[likely]]
    return ShortProduct(a, b);
  return MultiplyInGeneral(a, b, __builtin_return_address(0));
}

__attribute__((noinline)) Extended Divide(Extended a, Extended b) {
  const Outcome outcome = DivideOutcome(a, b);
  if (outcome.condition != Condition::kNone) [[unlikely]] {
    Raise(outcome.condition, __builtin_return_address(0));
  }
  return ToExtended(outcome);
}

__attribute__((noinline)) Extended SquareRoot(Extended a) {
  const Outcome outcome = SquareRootOutcome(a);
  if (outcome.condition != Condition::kNone) [[unlikely]] {
    Raise(outcome.condition, __builtin_return_address(0));
  }
  return ToExtended(outcome);
}

bool IsLess(Extended a, Extended b) {
  if (!IsOrdered(a) || !IsOrdered(b)) return false;
  const Uint128 key_a = MagnitudeKey(a);
  const Uint128 key_b = MagnitudeKey(b);
  if (a.IsZero() && b.IsZero()) return false;
  if (a.Sign() != b.Sign()) return a.Sign();  // zeros handled above
  return a.Sign() ? key_b < key_a : key_a < key_b;
}

bool IsEqual(Extended a, Extended b) {
  if (!IsOrdered(a) || !IsOrdered(b)) return false;
  if (a.IsZero() && b.IsZero()) return true;
  return a.Sign() == b.Sign() && MagnitudeKey(a) == MagnitudeKey(b);
}

}  // namespace diskmaps
