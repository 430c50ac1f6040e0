#include "runtime/number/extended.h"

#include <gtest/gtest.h>

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

#include "runtime/failure/exceptions.h"

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
constexpr int kPairsPerOperation = 1 << 15;
#else
constexpr int kPairsPerOperation = 1 << 20;
#endif

long double ToHardware(Extended x) {
  long double value = 0;
  const std::uint64_t significand = x.Significand();
  const std::uint16_t sign_and_exponent = x.SignAndExponent();
  std::memcpy(&value, &significand, 8);
  std::memcpy(reinterpret_cast<char*>(&value) + 8, &sign_and_exponent, 2);
  return value;
}

Extended FromHardware(long double value) {
  std::uint64_t significand = 0;
  std::uint16_t sign_and_exponent = 0;
  std::memcpy(&significand, &value, 8);
  std::memcpy(&sign_and_exponent, reinterpret_cast<const char*>(&value) + 8, 2);
  return Extended::FromBits(sign_and_exponent, significand);
}

std::string Hex(Extended x) {
  char text[32];
  std::snprintf(text, sizeof text, "%04X:%016llX", x.SignAndExponent(),
                static_cast<unsigned long long>(x.Significand()));
  return text;
}

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

bool ProcessorIsExtended() { return LDBL_MANT_DIG == 64; }

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
template <typename Result>
bool Agree(const std::string& what, Raised soft_raised, Result soft,
           Raised hard_raised, Result hard) {
  if (soft_raised == hard_raised &&
      (hard_raised != Raised::kNothing || soft == hard)) {
    return true;
  }
  ADD_FAILURE() << what << ": software raised " << Name(soft_raised)
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
        [&] { hard_value = operation.hard(ToHardware(a), ToHardware(b)); });
    const Extended hard = FromHardware(hard_value);
    if (!Agree(std::string(operation.name) + "(" + Hex(a) + ", " + Hex(b) +
                   ") = " + Hex(soft) + ", processor " + Hex(hard),
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

}  // namespace
}  // namespace diskmaps
