#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>

#include "runtime/failure/exceptions.h"
#include "runtime/number/decimal.h"
#include "runtime/number/decimal_test_oracle.h"
#include "runtime/number/extended.h"
#include "runtime/number/powers_of_ten.h"

namespace diskmaps {
namespace {

using testing::FromLongDouble;
using testing::OracleResult;
using testing::ScaleOracle;
using testing::ToLongDouble;

constexpr Extended kOne = SmallPowersOfTen[0];

TEST(ScaleByPowerOfTenTest, ZeroPowerReturnsTheValueItself) {
  const Extended nan = Extended::FromBits(0x7FFF, 0xC000000000000001);
  for (Extended x : {Extended(), kOne.Negated(), Extended::Infinity(true), nan,
                     Extended::FromBits(0, 1)}) {
    EXPECT_EQ(ScaleByPowerOfTen(x, 0), x);
  }
}

TEST(ScaleByPowerOfTenTest, PowersOfOneAreTheTableEntriesInOrder) {
  // One factor: the entry itself.
  EXPECT_EQ(ScaleByPowerOfTen(kOne, 1), SmallPowersOfTen[1]);
  EXPECT_EQ(ScaleByPowerOfTen(kOne, 31), SmallPowersOfTen[31]);
  EXPECT_EQ(ScaleByPowerOfTen(kOne, 32), MediumPowersOfTen[1]);
  EXPECT_EQ(ScaleByPowerOfTen(kOne, 512), LargePowersOfTen[1]);
  EXPECT_EQ(ScaleByPowerOfTen(kOne, 4608), LargePowersOfTen[9]);
  // n = −1 divides by ten.
  volatile long double ten = 10.0L;
  EXPECT_EQ(ScaleByPowerOfTen(kOne, -1), FromLongDouble(1.0L / ten));
  // The largest power multiplies by 10^31, 10^480 and 10^4608 in this order;
  // a tiny x keeps the product in range.
  const Extended tiny = Extended::Make(false, 100, Extended::kIntegerBit);
  const long double expected =
      ToLongDouble(tiny) * ToLongDouble(SmallPowersOfTen[31]) *
      ToLongDouble(MediumPowersOfTen[15]) * ToLongDouble(LargePowersOfTen[9]);
  EXPECT_EQ(ScaleByPowerOfTen(tiny, 5119), FromLongDouble(expected));
}

TEST(ScaleByPowerOfTenTest, BeyondTheLimitsTheValueIsIgnored) {
  const Extended nan = Extended::FromBits(0xFFFF, 0xC000000000000000);
  for (Extended x : {Extended(), Extended().Negated(), kOne, kOne.Negated(),
                     Extended::Infinity(true), nan}) {
    for (std::int32_t power : {5120, 5121, 100000, 1000000000,
                               std::numeric_limits<std::int32_t>::max()}) {
      EXPECT_EQ(ScaleByPowerOfTen(x, power), Extended::Infinity()) << power;
      EXPECT_EQ(ScaleByPowerOfTen(x, -power), Extended()) << power;
    }
    EXPECT_EQ(ScaleByPowerOfTen(x, std::numeric_limits<std::int32_t>::min()),
              Extended());
  }
}

TEST(ScaleByPowerOfTenTest, ProductOverflowRaisesAndQuotientUnderflowIsSilent) {
  EXPECT_NO_THROW(ScaleByPowerOfTen(kOne, 4932));
  EXPECT_THROW(ScaleByPowerOfTen(kOne, 4933), EOverflow);
  EXPECT_THROW(ScaleByPowerOfTen(kOne, 5119), EOverflow);
  EXPECT_THROW(ScaleByPowerOfTen(kOne.Negated(), 5000), EOverflow);
  Extended below_normal;
  EXPECT_NO_THROW(below_normal = ScaleByPowerOfTen(kOne, -4940));
  EXPECT_TRUE(below_normal.IsSubnormal());
  EXPECT_EQ(ScaleByPowerOfTen(kOne, -5119), Extended());
}

// Every power from −5119 to 5119 for random values of every magnitude,
// including subnormals, against the processor carrying out the same steps.
TEST(ScaleByPowerOfTenTest, MatchesTheProcessorBitForBit) {
  std::mt19937_64 random(20260611);
  std::uniform_int_distribution<std::int32_t> any_power(-5119, 5119);
  std::uniform_int_distribution<int> any_exponent(0, 0x7FFE);
  int overflows = 0;
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t bits = random();
    const auto exponent =
        static_cast<std::uint16_t>(i % 16 == 0 ? 0 : any_exponent(random));
    // Exponent field 0 makes a subnormal, otherwise a normal value.
    const std::uint64_t significand =
        exponent == 0 ? bits >> 1 : bits | Extended::kIntegerBit;
    const Extended x = Extended::Make((bits & 1) != 0, exponent, significand);
    const std::int32_t power = i < 10239 ? i - 5119 : any_power(random);
    const OracleResult expected = ScaleOracle(x, power);
    if (expected.overflow) {
      ++overflows;
      EXPECT_THROW(ScaleByPowerOfTen(x, power), EOverflow) << power;
    } else {
      EXPECT_EQ(ScaleByPowerOfTen(x, power), expected.value)
          << std::hex << x.SignAndExponent() << ":" << x.Significand()
          << std::dec << " × 10^" << power;
    }
  }
  EXPECT_GT(overflows, 1000);
}

}  // namespace
}  // namespace diskmaps
