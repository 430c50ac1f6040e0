#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "runtime/failure/exceptions.h"
#include "runtime/number/decimal.h"
#include "runtime/number/decimal_test_oracle.h"
#include "runtime/number/extended.h"

namespace diskmaps {
namespace {

using testing::FromLongDouble;
using testing::OracleResult;
using testing::ScaleOracle;

constexpr std::int32_t kIntMin = std::numeric_limits<std::int32_t>::min();
constexpr long double kInfinity = std::numeric_limits<long double>::infinity();

struct IntegerCase {
  const char* token;
  bool ok;
  std::int32_t value;  // 0 on failure
};

TEST(ParseIntegerTest, Table) {
  const IntegerCase cases[] = {
      {"5", true, 5},
      {"+5", true, 5},
      {"005", true, 5},
      {"-5", true, -5},
      {"-0", true, 0},
      {"0", true, 0},
      {"   42", true, 42},
      {"0000000000002147483647", true, 2147483647},
      {"$FF", true, 255},
      {"$ff", true, 255},
      {"xFF", true, 255},
      {"XFF", true, 255},
      {"0xFF", true, 255},
      {"0XFF", true, 255},
      {"$7FFFFFFF", true, 2147483647},
      {"$FFFFFFFF", true, -1},
      {"$80000000", true, kIntMin},
      {"$0FFFFFFFF", true, -1},
      {"0x000000000000001a", true, 26},
      {"$100000000", false, 0},
      {"$000000010000000F", false, 0},
      {"2147483647", true, 2147483647},
      {"2147483648", false, 0},
      {"2147483649", false, 0},
      {"-2147483648", true, kIntMin},
      {"-2147483649", false, 0},
      {"-2147483650", false, 0},
      {"4294967296", false, 0},
      {"4294967301", false, 0},  // wraps to 5 in 32 bits
      {"21474836470", false, 0},
      {"99999999999999999999", false, 0},
      {"-$10", false, 0},
      {"+0x10", false, 0},
      {"-x10", false, 0},
      {"+$10", false, 0},
      {"+", false, 0},
      {"-", false, 0},
      {"$", false, 0},
      {"x", false, 0},
      {"0x", false, 0},
      {"0X", false, 0},
      {"", false, 0},
      {"   ", false, 0},
      {"\t5", false, 0},
      {"5 ", false, 0},
      {"--5", false, 0},
      {"+-5", false, 0},
      {"12abc", false, 0},
      {"1e3", false, 0},
      {"1.0", false, 0},
      {"0$10", false, 0},
      {"00x10", false, 0},
      {"$G", false, 0},
      {"0x-1", false, 0},
      {"x+1", false, 0},
  };
  for (const IntegerCase& c : cases) {
    bool ok = !c.ok;
    EXPECT_EQ(ParseInteger(c.token, ok), c.value) << '"' << c.token << '"';
    EXPECT_EQ(ok, c.ok) << '"' << c.token << '"';
  }
}

enum class Outcome { kValue, kFails, kOverflow };

struct RealCase {
  const char* token;
  Outcome outcome;
  long double value;  // for kValue
};

// Bit-for-bit expectations, long double standing for the extended value.
void ExpectReal(const std::string& token, Outcome outcome, long double value) {
  bool ok = outcome != Outcome::kValue;
  switch (outcome) {
    case Outcome::kValue:
      EXPECT_EQ(ParseReal(token.c_str(), ok), FromLongDouble(value))
          << '"' << token << '"';
      EXPECT_TRUE(ok) << '"' << token << '"';
      break;
    case Outcome::kFails:
      EXPECT_EQ(ParseReal(token.c_str(), ok), Extended())
          << '"' << token << '"';
      EXPECT_FALSE(ok) << '"' << token << '"';
      break;
    case Outcome::kOverflow:
      EXPECT_THROW(ParseReal(token.c_str(), ok), EOverflow)
          << '"' << token << '"';
      break;
  }
}

TEST(ParseRealTest, Table) {
  using enum Outcome;
  const RealCase cases[] = {
      {"0.1", kValue, 1.0L / 10},
      {".5", kValue, 0.5L},
      {"5.", kValue, 5.0L},
      {".", kValue, 0.0L},
      {"-.", kValue, -0.0L},
      {"e5", kValue, 0.0L},
      {"E-3", kValue, 0.0L},
      {".e1", kValue, 0.0L},
      {"-e5", kValue, -0.0L},
      {"-0", kValue, -0.0L},
      {"+0", kValue, 0.0L},
      {"0000.0000", kValue, 0.0L},
      {"1e-3", kValue, 1.0L / 1000},
      {"1E+2", kValue, 100.0L},
      {"1000e-3", kValue, 1.0L},
      {"  +7", kValue, 7.0L},
      {"123.456", kValue, 123456.0L / 1000},
      {"-2.5e-1", kValue, -0.25L},
      {"18446744073709551615", kValue, 18446744073709551615.0L},
      {"1e0010", kValue, 1e10L},
      {"0,1", kFails, 0},
      {"1e", kFails, 0},
      {"1e+", kFails, 0},
      {"1e-", kFails, 0},
      {"e", kFails, 0},
      {"+", kFails, 0},
      {"-", kFails, 0},
      {"", kFails, 0},
      {"   ", kFails, 0},
      {"+ 1", kFails, 0},
      {"1 ", kFails, 0},
      {"\t1", kFails, 0},
      {"1e 5", kFails, 0},
      {"1.5.2", kFails, 0},
      {"1e3.5", kFails, 0},
      {"1e5e5", kFails, 0},
      {"1e--5", kFails, 0},
      {"++1", kFails, 0},
      {"inf", kFails, 0},
      {"nan", kFails, 0},
      {"$1", kFails, 0},
      {"0x10", kFails, 0},
      {"1x", kFails, 0},
      {"1e5000", kOverflow, 0},
      {"1e5119", kOverflow, 0},
      {"-1e5000", kOverflow, 0},
      {"0.01e4935", kOverflow, 0},
      {"1e5120", kValue, kInfinity},
      {"0e5120", kValue, kInfinity},
      {"-1e5120", kValue, -kInfinity},
      {"1e-5000", kValue, 0.0L},
      {"1e-5120", kValue, 0.0L},
      {"-1e-5120", kValue, -0.0L},
      // Exponent fields far beyond the limits saturate; nothing wraps.
      {"1e999999999", kValue, kInfinity},
      {"1e1000000000", kValue, kInfinity},
      {"-1e1000000000", kValue, -kInfinity},
      {"1e-1000000000", kValue, 0.0L},
      {"-1e-1000000000", kValue, -0.0L},
      {"1e2147483648", kValue, kInfinity},
      {"1e-2147483649", kValue, 0.0L},
      {"1e4294967297", kValue, kInfinity},
      {"1e-4294967295", kValue, 0.0L},
      {"1e18446744073709551617", kValue, kInfinity},
      {"1e-18446744073709551615", kValue, 0.0L},
      {"1e99999999999999999999999999999999999999", kValue, kInfinity},
      {"0e99999999999999999999999999999999999999", kValue, kInfinity},
  };
  for (const RealCase& c : cases) {
    ExpectReal(c.token, c.outcome, c.value);
  }
}

TEST(ParseRealTest, LongTextsSaturateWithoutOverflowingCounts) {
  using enum Outcome;
  const std::string zeros(6000, '0');
  // Exponent and fraction count cancel before the limits apply.
  ExpectReal("0." + zeros + "1e6000", kValue, 1.0L / 10);
  ExpectReal("0." + zeros + "1e6001", kValue, 1.0L);
  ExpectReal("0." + zeros + "1", kValue, 0.0L);
  ExpectReal("0." + zeros + "1e99999999999999999999", kValue, kInfinity);
  ExpectReal("-." + zeros + "e-99999999999999999999", kValue, -0.0L);
  ExpectReal(zeros + "12.5", kValue, 12.5L);
  // A mantissa beyond the extended range overflows while it is gathered...
  ExpectReal("1" + zeros, kOverflow, 0);
  // ...but a malformed text fails before any arithmetic.
  ExpectReal("1" + zeros + "x", kFails, 0);
  ExpectReal("1" + zeros + "e", kFails, 0);
}

// The steps of the conversion carried out by the processor: the mantissa
// gathered digit by digit with m ← m × 10 then m ← m + d, then the scaling.
struct ExpectedReal {
  OracleResult result;
  bool negative;
};

ExpectedReal ProcessorReading(const std::string& sign,
                              const std::string& digits, std::size_t point,
                              std::int64_t exponent) {
  volatile long double m = 0;
  for (char c : digits) {
    m = m * 10;
    m = m + (c - '0');
  }
  const auto fraction_digits = static_cast<std::int64_t>(digits.size() - point);
  const auto power = static_cast<std::int32_t>(
      std::clamp<std::int64_t>(exponent - fraction_digits, -5120, 5120));
  return {ScaleOracle(FromLongDouble(m), power), sign == "-"};
}

std::string RandomDigits(std::mt19937_64& random, int count) {
  std::string digits;
  for (int i = 0; i < count; ++i) {
    digits += static_cast<char>('0' + random() % 10);
  }
  return digits;
}

std::int64_t RandomExponent(std::mt19937_64& random) {
  switch (random() % 4) {
    case 0:
      return static_cast<std::int64_t>(random() % 41);
    case 1:
      return static_cast<std::int64_t>(4880 + random() % 90);
    default:
      return static_cast<std::int64_t>(random() % 5200);
  }
}

// Random tokens in all the accepted shapes against the processor, bit for
// bit, and an overflow exactly where the processor flags one.
void CompareRandomTokens(int count, int min_digits, int max_digits,
                         std::uint64_t seed) {
  std::mt19937_64 random(seed);
  const char* const signs[] = {"", "+", "-"};
  const char* const exponent_marks[] = {"e", "E", "e+", "E-", "e-", "e-"};
  int overflows = 0;
  for (int i = 0; i < count; ++i) {
    const int digit_count =
        min_digits + static_cast<int>(random() % (max_digits - min_digits + 1));
    const std::string digits = RandomDigits(random, digit_count);
    const std::string sign = signs[random() % 3];
    const std::size_t point = random() % (digits.size() + 2);  // > size: none
    std::string token = sign + digits.substr(0, point);
    if (point <= digits.size()) {
      token += "." + digits.substr(point);
    }
    std::int64_t exponent = 0;
    if (random() % 8 != 0) {
      const std::string mark = exponent_marks[random() % 6];
      exponent = RandomExponent(random);
      token += mark + std::string(random() % 4 == 0 ? 2 : 0, '0') +
               std::to_string(exponent);
      exponent = mark.back() == '-' ? -exponent : exponent;
    }
    const ExpectedReal expected = ProcessorReading(
        sign, digits, std::min(point, digits.size()), exponent);
    bool ok = false;
    if (expected.result.overflow) {
      ++overflows;
      EXPECT_THROW(ParseReal(token.c_str(), ok), EOverflow) << token;
      continue;
    }
    const Extended value = expected.negative ? expected.result.value.Negated()
                                             : expected.result.value;
    EXPECT_EQ(ParseReal(token.c_str(), ok), value) << token;
    EXPECT_TRUE(ok) << token;
  }
  EXPECT_GT(overflows, count / 50);
}

TEST(ParseRealTest, MatchesTheProcessorUpToNineteenDigits) {
  CompareRandomTokens(60000, 1, 19, 1);
}

// Longer mantissas are rounded at every step of their gathering.
TEST(ParseRealTest, MatchesTheProcessorForLongMantissas) {
  CompareRandomTokens(20000, 20, 45, 2);
}

// With an exact mantissa and a power within ±27, one product or quotient of
// exact operands gives the correctly rounded value, as strtold does.
TEST(ParseRealTest, AgreesWithStrtoldWhereBothAreCorrectlyRounded) {
  for (const char* token : {"0.1", "3.14159", "1e-27", "123456789e20",
                            "9999999999999999999e-27", "-0.333", "2.5e27"}) {
    bool ok = false;
    EXPECT_EQ(ParseReal(token, ok),
              FromLongDouble(std::strtold(token, nullptr)))
        << token;
  }
  std::mt19937_64 random(3);
  for (int i = 0; i < 20000; ++i) {
    const std::string digits =
        RandomDigits(random, 1 + static_cast<int>(random() % 19));
    const std::size_t point = random() % (digits.size() + 1);
    const auto fraction_digits =
        static_cast<std::int64_t>(digits.size() - point);
    const std::int64_t exponent =
        static_cast<std::int64_t>(random() % 55) - 27 + fraction_digits;
    const std::string token = digits.substr(0, point) + "." +
                              digits.substr(point) + "e" +
                              std::to_string(exponent);
    bool ok = false;
    EXPECT_EQ(ParseReal(token.c_str(), ok),
              FromLongDouble(std::strtold(token.c_str(), nullptr)))
        << token;
  }
}

}  // namespace
}  // namespace diskmaps
