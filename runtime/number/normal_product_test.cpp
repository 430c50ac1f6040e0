// NormalProduct and NormalSum against Multiply and Add and the processor's
// 80-bit arithmetic, bit for bit, on positive normal operands: full and short
// significands (short ones meet the exact ties), exponents far enough apart
// to leave only a sticky bit, and the powers of ten that the conversions use.

#include "runtime/number/normal_product.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "runtime/number/extended.h"
#include "runtime/number/powers_of_ten.h"

namespace diskmaps {
namespace {

static_assert(std::numeric_limits<long double>::digits == 64,
              "the oracle needs the x87 80-bit long double");

#if defined(__SANITIZE_ADDRESS__)
constexpr int kRounds = 200'000;
#else
constexpr int kRounds = 2'000'000;
#endif

long double ToLongDouble(Extended x) {
  long double value = 0;
  const std::uint64_t significand = x.Significand();
  const std::uint16_t sign_and_exponent = x.SignAndExponent();
  std::memcpy(&value, &significand, 8);
  std::memcpy(reinterpret_cast<char*>(&value) + 8, &sign_and_exponent, 2);
  return value;
}

Extended FromLongDouble(long double value) {
  std::uint64_t significand = 0;
  std::uint16_t sign_and_exponent = 0;
  std::memcpy(&significand, &value, 8);
  std::memcpy(&sign_and_exponent, reinterpret_cast<const char*>(&value) + 8, 2);
  return Extended::FromBits(sign_and_exponent, significand);
}

// A positive normal real of binary exponent in [-120, 120]; every other one
// keeps only its top 1 to 64 significand bits.
Extended RandomOperand(std::mt19937_64& engine) {
  std::uint64_t significand = engine() | Extended::kIntegerBit;
  if (engine() % 2 != 0) significand &= ~std::uint64_t{0} << engine() % 64;
  const auto exponent = static_cast<std::uint16_t>(Extended::kExponentBias -
                                                   120 + engine() % 241);
  return Extended::Make(false, exponent, significand);
}

void ExpectSameProduct(Extended a, Extended b) {
  const Extended expected = Multiply(a, b);
  ASSERT_EQ(NormalProduct(a, b), expected)
      << std::hex << a.SignAndExponent() << ":" << a.Significand() << " * "
      << b.SignAndExponent() << ":" << b.Significand();
  ASSERT_EQ(expected, FromLongDouble(ToLongDouble(a) * ToLongDouble(b)));
}

TEST(NormalProductTest, MatchesMultiplyOnRandomOperands) {
  std::mt19937_64 engine(0x9E0D'0C75);
  for (int round = 0; round < kRounds; ++round) {
    ExpectSameProduct(RandomOperand(engine), RandomOperand(engine));
  }
}

TEST(NormalProductTest, MatchesMultiplyByTheSmallPowersOfTen) {
  std::mt19937_64 engine(0x7E57'0010);
  for (int round = 0; round < kRounds / 8; ++round) {
    const Extended a = RandomOperand(engine);
    for (const Extended& power : SmallPowersOfTen) ExpectSameProduct(a, power);
  }
}

TEST(NormalProductTest, TiesAndCarries) {
  const Extended one = SmallPowersOfTen[0];
  constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};
  struct Case {
    Extended a;
    Extended b;
  };
  const Case cases[] = {
      {one, one},
      // (2^64 - 1)^2: rounds up into the next binade.
      {Extended::Make(false, 0x3FFF, kAllOnes),
       Extended::Make(false, 0x3FFF, kAllOnes)},
      // (1 + 2^-32)^2 = 1 + 2^-31 + 2^-64: a tie, kept at the even side.
      {Extended::Make(false, 0x3FFF, Extended::kIntegerBit | 1u << 31),
       Extended::Make(false, 0x3FFF, Extended::kIntegerBit | 1u << 31)},
      // 3 * (1 + 2^-63) = 3 + 1.5 ulp: a tie, up to the even side.
      {Extended::Make(false, 0x4000, 0xC000000000000000),
       Extended::Make(false, 0x3FFF, Extended::kIntegerBit | 1)},
      // 3 * (1 + 3 * 2^-63) = 3 + 4.5 ulp: a tie, down to the even side.
      {Extended::Make(false, 0x4000, 0xC000000000000000),
       Extended::Make(false, 0x3FFF, Extended::kIntegerBit | 3)},
      // The scaled value m * 10^17 of m = 1 + 2^-24: a tie of the product.
      {Extended::Make(false, 0x3FFF, Extended::kIntegerBit | 1ull << 39),
       SmallPowersOfTen[17]},
  };
  for (const Case& c : cases) ExpectSameProduct(c.a, c.b);
}

void ExpectSameSum(Extended a, Extended b) {
  const Extended expected = Add(a, b);
  ASSERT_EQ(NormalSum(a, b), expected)
      << std::hex << a.SignAndExponent() << ":" << a.Significand() << " + "
      << b.SignAndExponent() << ":" << b.Significand();
  ASSERT_EQ(expected, FromLongDouble(ToLongDouble(a) + ToLongDouble(b)));
}

TEST(NormalSumTest, MatchesAddOnRandomOperands) {
  std::mt19937_64 engine(0x5E3D'0ADD);
  for (int round = 0; round < kRounds; ++round) {
    const Extended a = RandomOperand(engine);
    // Half of the pairs within 70 binades of each other, where the rounding
    // bits of both operands meet.
    Extended b = RandomOperand(engine);
    if (round % 2 == 0) {
      b = Extended::Make(
          false,
          static_cast<std::uint16_t>(a.BiasedExponent() - 70 + engine() % 141),
          b.Significand());
    }
    ExpectSameSum(a, b);
  }
}

TEST(NormalSumTest, TiesCarriesAndStickyBits) {
  const Extended one = SmallPowersOfTen[0];
  constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};
  const auto value = [](int exponent, std::uint64_t significand) {
    return Extended::Make(
        false, static_cast<std::uint16_t>(Extended::kExponentBias + exponent),
        significand);
  };
  struct Case {
    Extended a;
    Extended b;
  };
  const Case cases[] = {
      {one, one},
      // 1 + 2^-64: a tie, kept at the even side.
      {one, value(-64, Extended::kIntegerBit)},
      // (1 + 2^-63) + 2^-64: a tie, up to the even side.
      {value(0, Extended::kIntegerBit | 1), value(-64, Extended::kIntegerBit)},
      // 1 + 2^-64 + 2^-127: just above the tie, through the sticky bit.
      {one, value(-64, Extended::kIntegerBit | 1)},
      // 1 + 2^-200: far below, only the sticky bit is left.
      {one, value(-200, Extended::kIntegerBit)},
      // (2 - 2^-63) + 2^-64: rounds up into the next binade.
      {value(0, kAllOnes), value(-64, Extended::kIntegerBit)},
      // (2 - 2^-63) + (2 - 2^-63): the carry, then a tie to even.
      {value(0, kAllOnes), value(0, kAllOnes)},
  };
  for (const Case& c : cases) {
    ExpectSameSum(c.a, c.b);
    ExpectSameSum(c.b, c.a);
  }
}

}  // namespace
}  // namespace diskmaps
