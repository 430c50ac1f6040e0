#include "runtime/number/extended.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>

#include "runtime/failure/exceptions.h"
#include "runtime/number/decimal_test_oracle.h"

// The extended arithmetic against the processor's own 80-bit format: under
// the default x87 control word (64-bit significand, nearest even) the same
// operands must give the same 80 bits, and a failure exactly where the
// processor flags invalid operation, division by zero or overflow.

namespace diskmaps {
namespace {

constexpr std::uint64_t kIntegerBit = Extended::kIntegerBit;
constexpr std::uint16_t kMaxExponent = Extended::kMaxBiasedExponent;
constexpr int kBias = Extended::kExponentBias;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_UNDEFINED__)
constexpr int kPairsPerOperation = 1 << 17;
#else
constexpr int kPairsPerOperation = 1 << 20;
#endif

using testing::Bits;
using testing::FromLongDouble;
using testing::ToLongDouble;

enum class Raised { kNothing, kInvalidOp, kZeroDivide, kOverflow };

const char* Name(Raised raised) {
  switch (raised) {
    case Raised::kNothing:
      return "nothing";
    case Raised::kInvalidOp:
      return "EInvalidOp";
    case Raised::kZeroDivide:
      return "EZeroDivide";
    case Raised::kOverflow:
      return "EOverflow";
  }
  return "?";
}

// The condition the processor flagged, the invalid operation first.
Raised FromFlags(int flags) {
  if ((flags & FE_INVALID) != 0) return Raised::kInvalidOp;
  if ((flags & FE_DIVBYZERO) != 0) return Raised::kZeroDivide;
  if ((flags & FE_OVERFLOW) != 0) return Raised::kOverflow;
  return Raised::kNothing;
}

// Runs `operation` in software; returns the failure class it raised.
template <typename Result, typename Operation>
Raised InSoftware(Operation operation, Result& result) {
  try {
    result = operation();
    return Raised::kNothing;
  } catch (const EInvalidOp&) {
    return Raised::kInvalidOp;
  } catch (const EZeroDivide&) {
    return Raised::kZeroDivide;
  } catch (const EOverflow&) {
    return Raised::kOverflow;
  }
}

// Runs `operation` on the processor, which stores its result through a
// volatile so that it stays between the flag calls; returns the flags.
template <typename Operation>
Raised OnProcessor(Operation operation) {
  std::feclearexcept(FE_ALL_EXCEPT);
  operation();
  return FromFlags(std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW));
}

// Operands across the whole format, biased towards the places where the
// arithmetic has edges.
class OperandSource {
 public:
  explicit OperandSource(std::uint64_t seed) : engine_(seed) {}

  std::uint64_t Bits() { return engine_(); }
  std::uint64_t Below(std::uint64_t bound) { return engine_() % bound; }
  bool Coin() { return (engine_() & 1) != 0; }

  // A significand with its integer bit set and patterns that make exact
  // results and ties likely.
  std::uint64_t Significand() {
    std::uint64_t bits = engine_();
    switch (Below(6)) {
      case 0:
        bits &= ~std::uint64_t{0} << Below(64);  // trailing zeros
        break;
      case 1:
        bits |= (std::uint64_t{1} << Below(64)) - 1;  // trailing ones
        break;
      case 2:  // one bit away from all zeros or all ones
        bits =
            (Coin() ? 0 : ~std::uint64_t{0}) ^ (std::uint64_t{1} << Below(64));
        break;
      case 3:  // halfway between two doubles
        bits = (bits & ~std::uint64_t{0x7FF}) | 0x400;
        break;
      default:
        break;
    }
    return bits | kIntegerBit;
  }

  // A biased exponent of a normal number.
  std::uint16_t Exponent() {
    switch (Below(6)) {
      case 0:
        return static_cast<std::uint16_t>(1 + Below(80));  // near the bottom
      case 1:
        return static_cast<std::uint16_t>(kMaxExponent - 1 - Below(80));
      case 2:  // within the double range
        return static_cast<std::uint16_t>(kBias - 1100 + Below(2200));
      case 3:
        return static_cast<std::uint16_t>(kBias - 70 + Below(140));
      default:
        return static_cast<std::uint16_t>(1 + Below(kMaxExponent - 1));
    }
  }

  Extended Normal() {
    return Extended::Make(Coin(), Exponent(), Significand());
  }

  // Zeros, infinities, NaNs, denormals and the encodings the processor does
  // not support.
  Extended Special() {
    const bool sign = Coin();
    const std::uint64_t fraction = Significand() & ~kIntegerBit;
    switch (Below(10)) {
      case 0:
        return Extended::Make(sign, 0, 0);
      case 1:
        return Extended::Infinity(sign);
      case 2:  // quiet NaN
        return Extended::Make(
            sign, kMaxExponent,
            kIntegerBit | (std::uint64_t{1} << 62) | (Coin() ? fraction : 0));
      case 3:  // signalling NaN
        return Extended::Make(sign, kMaxExponent,
                              kIntegerBit | (fraction >> 1) | 1);
      case 4:  // pseudo-denormal
        return Extended::Make(sign, 0, kIntegerBit | fraction);
      case 5:  // unnormal
        return Extended::Make(sign,
                              static_cast<std::uint16_t>(1 + Below(0x7FFD)),
                              fraction >> Below(64));
      case 6:  // pseudo-infinity or pseudo-NaN
        return Extended::Make(sign, kMaxExponent, Coin() ? 0 : fraction >> 1);
      default:  // denormal
        return Extended::Make(sign, 0, fraction >> Below(64));
    }
  }

  Extended Any() { return Below(8) == 0 ? Special() : Normal(); }

  // A second operand for `a`: exponents 0 to 70 apart, or meeting at the
  // edges of the range in a product or a quotient, or cancelling.
  Extended Partner(Extended a) {
    if (Below(8) == 0 || !a.IsFinite() || a.BiasedExponent() == 0) {
      return Any();
    }
    const int exponent_a = a.BiasedExponent();
    int exponent = exponent_a;
    std::uint64_t significand = Significand();
    switch (Below(4)) {
      case 0: {  // close to a, for cancellation
        const auto delta = static_cast<std::int64_t>(Below(5)) - 2;
        significand = a.Significand() + static_cast<std::uint64_t>(delta);
        significand |= kIntegerBit;
        exponent += static_cast<int>(Below(3)) - 1;
        break;
      }
      case 1: {  // the product or quotient lands near the edges
        const int target = Coin() ? 0 : kMaxExponent - 1;
        const int offset = static_cast<int>(Below(140)) - 70;
        exponent = Coin() ? target + kBias - exponent_a + offset
                          : exponent_a + kBias - target + offset;
        break;
      }
      default: {
        const int delta = static_cast<int>(Below(71));
        exponent += Coin() ? delta : -delta;
        break;
      }
    }
    if (exponent <= 0) {  // a denormal then
      const int shift = 1 - exponent;
      return Extended::Make(Coin(), 0, shift >= 64 ? 0 : significand >> shift);
    }
    if (exponent >= kMaxExponent) exponent = kMaxExponent - 1;
    return Extended::Make(Coin(), static_cast<std::uint16_t>(exponent),
                          significand);
  }

 private:
  std::mt19937_64 engine_;
};

bool ProcessorIsExtended() { return testing::kLongDoubleIsExtended; }

#define SKIP_WITHOUT_EXTENDED_HARDWARE()                                    \
  if (!ProcessorIsExtended())                                               \
  GTEST_SKIP() << "long double is not the 80-bit extended format here, so " \
                  "there is no hardware oracle"

using SoftBinary = Extended (*)(Extended, Extended);
using HardBinary = long double (*)(long double, long double);

struct BinaryCase {
  const char* name;
  SoftBinary soft;
  HardBinary hard;
};

// Keeps the listed test names free of addresses, so they are the same in
// every build.
void PrintTo(const BinaryCase& operation, std::ostream* out) {
  *out << operation.name;
}

long double HardAdd(long double a, long double b) {
  volatile long double x = a;
  volatile long double y = b;
  return x + y;
}
long double HardSubtract(long double a, long double b) {
  volatile long double x = a;
  volatile long double y = b;
  return x - y;
}
long double HardMultiply(long double a, long double b) {
  volatile long double x = a;
  volatile long double y = b;
  return x * y;
}
long double HardDivide(long double a, long double b) {
  volatile long double x = a;
  volatile long double y = b;
  return x / y;
}

// Compares one operation on one operand set; returns false on a mismatch,
// after reporting it.
template <typename Describe, typename Result>
bool Agree(Describe what, Raised soft_raised, Result soft, Raised hard_raised,
           Result hard) {
  if (soft_raised == hard_raised &&
      (hard_raised != Raised::kNothing || soft == hard)) {
    return true;
  }
  ADD_FAILURE() << what() << ": software raised " << Name(soft_raised)
                << ", processor " << Name(hard_raised);
  return false;
}

constexpr int kMaxReportedMismatches = 10;

class ExtendedDifferentialTest : public ::testing::TestWithParam<BinaryCase> {};

TEST_P(ExtendedDifferentialTest, MatchesProcessorBitForBit) {
  SKIP_WITHOUT_EXTENDED_HARDWARE();
  const BinaryCase& operation = GetParam();
  OperandSource source(0x5EED0000 + std::hash<std::string>{}(operation.name));
  int mismatches = 0;
  for (int i = 0; i < kPairsPerOperation; ++i) {
    const Extended a = source.Any();
    const Extended b = source.Coin() ? source.Partner(a) : source.Any();
    Extended soft;
    const Raised soft_raised =
        InSoftware([&] { return operation.soft(a, b); }, soft);
    volatile long double hard_value = 0;
    const Raised hard_raised = OnProcessor(
        [&] { hard_value = operation.hard(ToLongDouble(a), ToLongDouble(b)); });
    const Extended hard = FromLongDouble(hard_value);
    if (!Agree(
            [&] {
              return std::string(operation.name) + "(" + Bits(a) + ", " +
                     Bits(b) + ") = " + Bits(soft) + ", processor " +
                     Bits(hard);
            },
            soft_raised, soft, hard_raised, hard) &&
        ++mismatches == kMaxReportedMismatches) {
      return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ExtendedDifferentialTest,
    ::testing::Values(BinaryCase{"Add", Add, HardAdd},
                      BinaryCase{"Subtract", Subtract, HardSubtract},
                      BinaryCase{"Multiply", Multiply, HardMultiply},
                      BinaryCase{"Divide", Divide, HardDivide}),
    [](const ::testing::TestParamInfo<BinaryCase>& param_info) {
      return std::string(param_info.param.name);
    });

// Normal operand pairs where the rounding has edges: exact ties either way,
// carries into the next binade, sticky bits far below, and results that leave
// the normal range (underflow into the denormals, rounding up into the
// smallest normal, overflow by the rounding carry). Each pair is checked in
// both orders, against the processor.
TEST(ExtendedNormalOperandsTest, TiesCarriesStickyBitsAndRangeEdges) {
  SKIP_WITHOUT_EXTENDED_HARDWARE();
  constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};
  const auto value = [](int exponent, std::uint64_t significand) {
    return Extended::Make(false, static_cast<std::uint16_t>(kBias + exponent),
                          significand);
  };
  const Extended one = value(0, kIntegerBit);
  const Extended ten_to_the_17 = value(56, 0xB1A2BC2EC5000000);
  struct Case {
    const char* what;
    BinaryCase operation;
    Extended a;
    Extended b;
  };
  const BinaryCase add{"Add", Add, HardAdd};
  const BinaryCase subtract{"Subtract", Subtract, HardSubtract};
  const BinaryCase multiply{"Multiply", Multiply, HardMultiply};
  const Case cases[] = {
      {"(2 - 2^-63)^2 rounds up into the next binade", multiply,
       value(0, kAllOnes), value(0, kAllOnes)},
      {"(1 + 2^-32)^2 is a tie, kept even", multiply,
       value(0, kIntegerBit | 1u << 31), value(0, kIntegerBit | 1u << 31)},
      {"3 (1 + 2^-63) is a tie, up to even", multiply,
       value(1, 0xC000000000000000), value(0, kIntegerBit | 1)},
      {"3 (1 + 3 2^-63) is a tie, down to even", multiply,
       value(1, 0xC000000000000000), value(0, kIntegerBit | 3)},
      {"(1 + 2^-24) 10^17 is a tie", multiply,
       value(0, kIntegerBit | 1ull << 39), ten_to_the_17},
      {"a product at the smallest normal", multiply, value(-8000, kIntegerBit),
       value(-8382, kIntegerBit | 5)},
      {"a product just below it, rounded at the denormal quantum", multiply,
       value(-8000, 0xC000000000000001), value(-8383, kIntegerBit | 1)},
      {"a product rounding up into the smallest normal", multiply,
       value(-8000, kAllOnes), value(-8383, kIntegerBit | 1)},
      {"a product at the largest exponent", multiply, value(8000, kAllOnes),
       value(8383, kIntegerBit)},
      {"a product overflowing by its rounding carry", multiply,
       value(8000, kAllOnes), value(8383, kIntegerBit | 1)},
      {"1 + 2^-64 is a tie, kept even", add, one, value(-64, kIntegerBit)},
      {"(1 + 2^-63) + 2^-64 is a tie, up to even", add,
       value(0, kIntegerBit | 1), value(-64, kIntegerBit)},
      {"1 + 2^-64 + 2^-127 is above the tie by its sticky bit", add, one,
       value(-64, kIntegerBit | 1)},
      {"1 + 2^-200 leaves only a sticky bit", add, one,
       value(-200, kIntegerBit)},
      {"(2 - 2^-63) + 2^-64 rounds up into the next binade", add,
       value(0, kAllOnes), value(-64, kIntegerBit)},
      {"(2 - 2^-63) + (2 - 2^-63): the carry, then a tie to even", add,
       value(0, kAllOnes), value(0, kAllOnes)},
      {"the largest plus half an ulp overflows", add,
       value(kMaxExponent - 1 - kBias, kAllOnes),
       value(kMaxExponent - 1 - kBias - 64, kIntegerBit)},
      {"1 - (1 - 2^-64) needs a long normalisation", subtract, one,
       value(-1, kAllOnes)},
      {"1 - 2^-65 is a tie below a binade", subtract, one,
       value(-65, kIntegerBit)},
      {"1 - (2^-65 + 2^-200) rounds down through the sticky bit", subtract, one,
       value(-65, kIntegerBit | 1)},
      {"normals whose difference is a denormal", subtract,
       value(1 - kBias, kIntegerBit | 7), value(1 - kBias, kIntegerBit | 2)},
      {"equal normals give +0", subtract, value(5, kIntegerBit | 9),
       value(5, kIntegerBit | 9)},
      {"a difference of one unit at field 64 is the smallest normal", subtract,
       value(64 - kBias, kIntegerBit | 1), value(64 - kBias, kIntegerBit)},
      {"a difference of one unit at field 63 is a denormal", subtract,
       value(63 - kBias, kIntegerBit | 1), value(63 - kBias, kIntegerBit)},
      {"a sum at field 0x7FFC carrying twice", add,
       value(0x7FFC - kBias, kAllOnes),
       value(0x7FFC - kBias, 0xC000000000000000)},
      {"a sum at field 0x7FFD carrying twice overflows", add,
       value(0x7FFD - kBias, kAllOnes),
       value(0x7FFD - kBias, 0xC000000000000000)},
      {"a product rounding up into the top binade", multiply,
       value(0x7FFD - kBias, kAllOnes), value(-1, kIntegerBit | 1)},
      {"a pseudo-denormal times a normal", multiply,
       Extended::Make(false, 0, kIntegerBit | 5), value(40, kIntegerBit)},
      {"a pseudo-denormal plus a normal", add,
       Extended::Make(false, 0, kIntegerBit | 5), value(1 - kBias, kAllOnes)},
  };
  for (const Case& c : cases) {
    for (const std::pair<Extended, Extended>& operands :
         {std::pair{c.a, c.b}, std::pair{c.b, c.a}}) {
      const Extended b = operands.second;
      for (const bool negative : {false, true}) {
        const Extended signed_a =
            negative ? operands.first.Negated() : operands.first;
        Extended soft;
        const Raised soft_raised =
            InSoftware([&] { return c.operation.soft(signed_a, b); }, soft);
        volatile long double hard_value = 0;
        const Raised hard_raised = OnProcessor([&] {
          hard_value =
              c.operation.hard(ToLongDouble(signed_a), ToLongDouble(b));
        });
        const Extended hard = FromLongDouble(hard_value);
        Agree(
            [&] {
              return std::string(c.what) + ": " + c.operation.name + "(" +
                     Bits(signed_a) + ", " + Bits(b) + ") = " + Bits(soft) +
                     ", processor " + Bits(hard);
            },
            soft_raised, soft, hard_raised, hard);
      }
    }
  }
}

// The unary operations and conversions, each over operands from the same
// source.
class ExtendedUnaryDifferentialTest : public ::testing::Test {
 protected:
  void SetUp() override { SKIP_WITHOUT_EXTENDED_HARDWARE(); }

  // Runs `check` on `count` operands until it has reported too many
  // mismatches.
  template <typename Operand, typename Check>
  void ForOperands(Operand next_operand, Check check) {
    int mismatches = 0;
    for (int i = 0; i < kPairsPerOperation; ++i) {
      if (!check(next_operand()) && ++mismatches == kMaxReportedMismatches) {
        return;
      }
    }
  }

  OperandSource source_{0x5EED1234};
};

TEST_F(ExtendedUnaryDifferentialTest, SquareRoot) {
  ForOperands(
      [&] {
        if (source_.Below(4) == 0) {
          // Exact squares and their neighbours, where the root is exact or
          // the remainder is tiny.
          const std::uint64_t root = source_.Bits() >> 32 | 0x80000000;
          const std::uint64_t square =
              root * root + source_.Below(3) - 1;  // at least 2^62
          const int shift = std::countl_zero(square);
          return Extended::Make(false, source_.Exponent(), square << shift);
        }
        const Extended x = source_.Any();
        return source_.Below(4) == 0 ? x : x.Magnitude();
      },
      [](Extended x) {
        Extended soft;
        const Raised soft_raised =
            InSoftware([&] { return SquareRoot(x); }, soft);
        volatile long double operand = ToLongDouble(x);
        volatile long double hard_value = 0;
        const Raised hard_raised =
            OnProcessor([&] { hard_value = __builtin_sqrtl(operand); });
        const Extended hard = FromLongDouble(hard_value);
        return Agree(
            [&] {
              return std::string("SquareRoot(") + Bits(x) +
                     ") = " + Bits(soft) + ", processor " + Bits(hard);
            },
            soft_raised, soft, hard_raised, hard);
      });
}

TEST_F(ExtendedUnaryDifferentialTest, RoundToInt64) {
  ForOperands(
      [&] {
        if (source_.Coin()) return source_.Any();
        // Around the integers and the int64 range, halves included.
        const auto exponent =
            static_cast<std::uint16_t>(kBias - 3 + source_.Below(68));
        std::uint64_t significand = source_.Significand();
        if (source_.Coin()) {
          const int shift = kBias + 62 - exponent;  // keeps the halves bit
          if (shift > 0 && shift < 64) {
            significand &= ~std::uint64_t{0} << shift;
          }
        }
        return Extended::Make(source_.Coin(), exponent, significand);
      },
      [](Extended x) {
        std::int64_t soft = 0;
        const Raised soft_raised =
            InSoftware([&] { return RoundToInt64(x); }, soft);
        volatile long double operand = ToLongDouble(x);
        volatile long long hard = 0;
        const Raised hard_raised =
            OnProcessor([&] { hard = std::llrintl(operand); });
        return Agree(
            [&] {
              return std::string("RoundToInt64(") + Bits(x) +
                     ") = " + std::to_string(soft) + ", processor " +
                     std::to_string(hard);
            },
            soft_raised, soft, hard_raised, static_cast<std::int64_t>(hard));
      });
}

TEST_F(ExtendedUnaryDifferentialTest, ExtendedToDouble) {
  ForOperands(
      [&] {
        if (source_.Coin()) return source_.Any();
        // Around the double range and its subnormals.
        const int offset = static_cast<int>(source_.Below(140)) - 70;
        const int edge = source_.Coin() ? kBias + 1024 : kBias - 1022 - 26;
        return Extended::Make(source_.Coin(),
                              static_cast<std::uint16_t>(edge + offset),
                              source_.Significand());
      },
      [](Extended x) {
        double soft = 0;
        const Raised soft_raised =
            InSoftware([&] { return ExtendedToDouble(x); }, soft);
        volatile long double operand = ToLongDouble(x);
        volatile double hard = 0;
        const Raised hard_raised =
            OnProcessor([&] { hard = static_cast<double>(operand); });
        const auto soft_bits = std::bit_cast<std::uint64_t>(soft);
        const auto hard_bits =
            std::bit_cast<std::uint64_t>(static_cast<double>(hard));
        return Agree(
            [&] {
              return std::string("ExtendedToDouble(") + Bits(x) +
                     ") = " + std::to_string(soft_bits) + ", processor " +
                     std::to_string(hard_bits);
            },
            soft_raised, soft_bits, hard_raised, hard_bits);
      });
}

TEST_F(ExtendedUnaryDifferentialTest, ExtendedFromDouble) {
  ForOperands(
      [&] {
        std::uint64_t bits = source_.Bits();
        switch (source_.Below(4)) {
          case 0:  // subnormal or zero
            bits &= ~(std::uint64_t{0x7FF} << 52);
            bits >>= source_.Below(64);
            break;
          case 1:  // infinity or NaN, quiet or signalling
            bits |= std::uint64_t{0x7FF} << 52;
            if (source_.Coin()) bits &= ~((std::uint64_t{1} << 52) - 1);
            break;
          default:
            break;
        }
        return bits;
      },
      [](std::uint64_t bits) {
        const double value = std::bit_cast<double>(bits);
        Extended soft;
        const Raised soft_raised =
            InSoftware([&] { return ExtendedFromDouble(value); }, soft);
        volatile double operand = value;
        volatile long double hard_value = 0;
        const Raised hard_raised = OnProcessor([&] { hard_value = operand; });
        const Extended hard = FromLongDouble(hard_value);
        return Agree(
            [&] {
              return std::string("ExtendedFromDouble(") + std::to_string(bits) +
                     ") = " + Bits(soft) + ", processor " + Bits(hard);
            },
            soft_raised, soft, hard_raised, hard);
      });
}

TEST_F(ExtendedUnaryDifferentialTest, ExtendedFromInteger) {
  ForOperands(
      [&] {
        return static_cast<std::int64_t>(source_.Bits() >> source_.Below(64));
      },
      [](std::int64_t value) {
        const std::int64_t opposite = value == INT64_MIN ? value : -value;
        volatile std::int64_t operand = value;
        volatile std::int64_t opposite_operand = opposite;
        volatile long double hard = static_cast<long double>(operand);
        volatile long double hard_opposite =
            static_cast<long double>(opposite_operand);
        if (ExtendedFromInteger(value) == FromLongDouble(hard) &&
            ExtendedFromInteger(opposite) == FromLongDouble(hard_opposite)) {
          return true;
        }
        ADD_FAILURE() << "ExtendedFromInteger(" << value
                      << ") = " << Bits(ExtendedFromInteger(value));
        return false;
      });
}

TEST_F(ExtendedUnaryDifferentialTest, Comparisons) {
  ForOperands(
      [&] {
        const Extended a = source_.Any();
        const Extended b = source_.Below(4) == 0   ? a.Negated()
                           : source_.Below(4) == 0 ? a
                                                   : source_.Partner(a);
        return std::pair{a, b};
      },
      [](std::pair<Extended, Extended> operands) {
        const auto [a, b] = operands;
        // Encodings the processor does not support give an invalid
        // operation there; here they compare as unordered.
        volatile long double x = ToLongDouble(a);
        volatile long double y = ToLongDouble(b);
        const bool hard_less = x < y;
        const bool hard_equal = x == y;
        if (IsLess(a, b) == hard_less && IsEqual(a, b) == hard_equal) {
          return true;
        }
        ADD_FAILURE() << "comparing " << Bits(a) << " with " << Bits(b)
                      << ": IsLess " << IsLess(a, b) << ", IsEqual "
                      << IsEqual(a, b) << "; processor " << hard_less << ", "
                      << hard_equal;
        return false;
      });
}

// Values by their bits: sign, biased exponent, significand.
constexpr Extended Value(bool sign, int exponent, std::uint64_t significand) {
  return Extended::Make(sign, static_cast<std::uint16_t>(exponent),
                        significand);
}
constexpr Extended kOne = Value(false, kBias, kIntegerBit);
constexpr Extended kTwo = Value(false, kBias + 1, kIntegerBit);
constexpr Extended kZero = Extended();
constexpr Extended kNegativeZero = kZero.Negated();
constexpr Extended kInfinity = Extended::Infinity();
constexpr Extended kLargest = Value(false, kMaxExponent - 1, ~std::uint64_t{0});
constexpr Extended kSmallestDenormal = Value(false, 0, 1);
constexpr Extended kQuietNaN = Value(false, kMaxExponent, 0xC000000000000000);
constexpr Extended kSignallingNaN =
    Value(false, kMaxExponent, 0x8000000000000001);
constexpr Extended kUnnormal = Value(false, kBias, 0x4000000000000000);

struct WorkedCase {
  const char* what;
  Extended (*operation)(Extended, Extended);
  Extended a;
  Extended b;
  Raised raised;
  Extended expected;  // when nothing is raised
};

Extended SquareRootOfFirst(Extended a, Extended) { return SquareRoot(a); }

TEST(ExtendedWorkedCasesTest, GiveTheProcessorsResults) {
  const WorkedCase cases[] = {
      {"1 + 2^-64 is a tie, to even", Add, kOne,
       Value(false, kBias - 64, kIntegerBit), Raised::kNothing, kOne},
      {"1 + 3 * 2^-65 rounds up", Add, kOne,
       Value(false, kBias - 64, 0xC000000000000000), Raised::kNothing,
       Value(false, kBias, kIntegerBit | 1)},
      {"x - x is +0", Subtract, kTwo, kTwo, Raised::kNothing, kZero},
      {"-0 + -0 is -0", Add, kNegativeZero, kNegativeZero, Raised::kNothing,
       kNegativeZero},
      {"0 times a negative number is -0", Multiply, kZero, kTwo.Negated(),
       Raised::kNothing, kNegativeZero},
      {"sqrt(-0) is -0", SquareRootOfFirst, kNegativeZero, kZero,
       Raised::kNothing, kNegativeZero},
      {"sqrt(4) is 2", SquareRootOfFirst, Value(false, kBias + 2, kIntegerBit),
       kZero, Raised::kNothing, kTwo},
      {"half the smallest denormal is a tie, to +0", Divide, kSmallestDenormal,
       kTwo, Raised::kNothing, kZero},
      {"infinity plus a number", Add, kInfinity, kLargest, Raised::kNothing,
       kInfinity},
      {"a number over infinity is 0", Divide, kOne.Negated(), kInfinity,
       Raised::kNothing, kNegativeZero},
      {"infinity over zero is infinity", Divide, kInfinity, kZero,
       Raised::kNothing, kInfinity},
      {"a quiet NaN passes", Multiply, kOne, kQuietNaN, Raised::kNothing,
       kQuietNaN},
      {"0 * infinity", Multiply, kZero, kInfinity, Raised::kInvalidOp, {}},
      {"infinity - infinity",
       Subtract,
       kInfinity,
       kInfinity,
       Raised::kInvalidOp,
       {}},
      {"infinity + -infinity",
       Add,
       kInfinity,
       kInfinity.Negated(),
       Raised::kInvalidOp,
       {}},
      {"0 / 0", Divide, kNegativeZero, kZero, Raised::kInvalidOp, {}},
      {"infinity / infinity",
       Divide,
       kInfinity,
       kInfinity.Negated(),
       Raised::kInvalidOp,
       {}},
      {"sqrt(-1)",
       SquareRootOfFirst,
       kOne.Negated(),
       kZero,
       Raised::kInvalidOp,
       {}},
      {"a signalling NaN",
       Add,
       kSignallingNaN,
       kQuietNaN,
       Raised::kInvalidOp,
       {}},
      {"an unnormal", Multiply, kUnnormal, kOne, Raised::kInvalidOp, {}},
      {"1 / 0", Divide, kOne, kZero, Raised::kZeroDivide, {}},
      {"-1 / -0",
       Divide,
       kOne.Negated(),
       kNegativeZero,
       Raised::kZeroDivide,
       {}},
      {"a tie at the denormal quantum rounds up to the smallest normal", Divide,
       Value(false, 1, ~std::uint64_t{0}), kTwo, Raised::kNothing,
       Value(false, 1, kIntegerBit)},
      {"denormals are exact operands", Multiply, Value(false, 0, 3),
       Value(false, kBias + 10, kIntegerBit), Raised::kNothing,
       Value(false, 0, 3 << 10)},
      {"largest * 2", Multiply, kLargest, kTwo, Raised::kOverflow, {}},
      {"largest + 1/2 ulp is a tie, to even: overflow",
       Add,
       kLargest,
       Value(false, kMaxExponent - 65, kIntegerBit),
       Raised::kOverflow,
       {}},
      {"largest / 0.5",
       Divide,
       kLargest,
       Value(false, kBias - 1, kIntegerBit),
       Raised::kOverflow,
       {}},
  };
  for (const WorkedCase& c : cases) {
    Extended result;
    const Raised raised =
        InSoftware([&] { return c.operation(c.a, c.b); }, result);
    EXPECT_EQ(Name(raised), std::string(Name(c.raised))) << c.what;
    if (raised == Raised::kNothing) {
      EXPECT_EQ(Bits(result), Bits(c.expected)) << c.what;
    }
  }
}

TEST(ExtendedWorkedCasesTest, ConversionsAndRounding) {
  // Ties to even: 2.5 to 2, 3.5 to 4, -2.5 to -2, 0.5 to 0.
  const Extended two_and_a_half = Value(false, kBias + 1, 0xA000000000000000);
  const Extended three_and_a_half = Value(false, kBias + 1, 0xE000000000000000);
  EXPECT_EQ(RoundToInt64(two_and_a_half), 2);
  EXPECT_EQ(RoundToInt64(three_and_a_half), 4);
  EXPECT_EQ(RoundToInt64(two_and_a_half.Negated()), -2);
  EXPECT_EQ(RoundToInt64(Value(false, kBias - 1, kIntegerBit)), 0);
  EXPECT_EQ(RoundToInt64(Value(true, kBias + 63, kIntegerBit)), INT64_MIN);
  EXPECT_THROW(RoundToInt64(Value(false, kBias + 63, kIntegerBit)), EInvalidOp);
  EXPECT_THROW(RoundToInt64(kInfinity), EInvalidOp);
  EXPECT_THROW(RoundToInt64(kQuietNaN), EInvalidOp);

  EXPECT_EQ(ExtendedFromDouble(0.1),
            Value(false, kBias - 4, 0xCCCCCCCCCCCCD000));
  EXPECT_EQ(ExtendedFromDouble(-0.0), kNegativeZero);
  EXPECT_EQ(ExtendedFromDouble(4.9406564584124654e-324),
            Value(false, kBias - 1074, kIntegerBit));
  EXPECT_EQ(ExtendedFromInteger(-1), kOne.Negated());
  EXPECT_EQ(ExtendedFromInteger(INT64_MIN),
            Value(true, kBias + 63, kIntegerBit));

  // 1 + 2^-53 is halfway between two doubles: to even, 1.
  EXPECT_EQ(ExtendedToDouble(Value(false, kBias, kIntegerBit | (1 << 10))),
            1.0);
  EXPECT_EQ(ExtendedToDouble(Value(false, kBias, kIntegerBit | (3 << 10))),
            1.0 + 0x1p-51);
  EXPECT_EQ(ExtendedToDouble(Value(false, kBias - 1074, 0xC000000000000000)),
            0x1p-1073);  // 1.5 quanta below the normal range: a tie, to even
  EXPECT_EQ(ExtendedToDouble(kSmallestDenormal), 0.0);
  EXPECT_THROW(ExtendedToDouble(Value(false, kBias + 1024, kIntegerBit)),
               EOverflow);
  EXPECT_THROW(ExtendedToDouble(kSignallingNaN), EInvalidOp);
  EXPECT_TRUE(std::isnan(ExtendedToDouble(kQuietNaN)));
  EXPECT_EQ(ExtendedToDouble(kInfinity.Negated()), -HUGE_VAL);
}

TEST(ExtendedWorkedCasesTest, ComparisonsAndClassification) {
  EXPECT_TRUE(IsEqual(kZero, kNegativeZero));
  EXPECT_FALSE(IsLess(kNegativeZero, kZero));
  EXPECT_TRUE(IsLess(kOne.Negated(), kSmallestDenormal));
  EXPECT_TRUE(IsLess(kLargest, kInfinity));
  // A pseudo-denormal equals the smallest normal.
  EXPECT_TRUE(
      IsEqual(Value(false, 0, kIntegerBit), Value(false, 1, kIntegerBit)));
  EXPECT_FALSE(IsEqual(kQuietNaN, kQuietNaN));
  EXPECT_FALSE(IsLess(kQuietNaN, kOne) || IsLess(kOne, kQuietNaN));
  EXPECT_TRUE(kQuietNaN.IsNaN() && kSignallingNaN.IsNaN());
  EXPECT_TRUE(kSmallestDenormal.IsSubnormal() && kInfinity.IsInfinite());
}

// Multiplies where the failure location can be compared with this function.
[[gnu::noinline]] std::uint32_t LocationOfOverflow(Extended a) {
  try {
    volatile Extended result = Multiply(a, a);
    static_cast<void>(result);
  } catch (const EOverflow& failure) {
    return failure.Location();
  }
  return 0;
}

TEST(ExtendedFailureLocationTest, IsTheCallSite) {
  const std::uint32_t function =
      FailureLocationOf(reinterpret_cast<const void*>(
          reinterpret_cast<std::uintptr_t>(&LocationOfOverflow)));
  const std::uint32_t location = LocationOfOverflow(kLargest);
  EXPECT_GT(location, function);
  EXPECT_LT(location, function + 256);
}

}  // namespace
}  // namespace diskmaps
