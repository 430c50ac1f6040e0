// Tests of FormatRealDefault: the worked examples as a table, the buffer
// contract, the odd encodings, and a differential run against a second
// implementation of the same steps on the processor's 80-bit long double.

#include <fpu_control.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "runtime/number/decimal.h"
#include "runtime/number/extended.h"
#include "runtime/number/format_test_oracle.h"

namespace diskmaps {
namespace {

using testing::Bits;
using testing::FromLongDouble;
using testing::LongDoubleFormatter;

static_assert(std::numeric_limits<long double>::digits == 64,
              "the oracle needs the x87 80-bit long double");

#if defined(__SANITIZE_ADDRESS__)
constexpr int kDifferentialRounds = 300'000;
#else
constexpr int kDifferentialRounds = 2'000'000;
#endif

std::string Format(Extended value) {
  char text[kRealTextLength];
  char* end = FormatRealDefault(value, text);
  return std::string(text, end);
}

// ---------------------------------------------------------------------------
// Worked examples and edge cases.

struct Example {
  const char* name;
  Extended value;
  std::string text;
};

Extended D(double value) { return FromLongDouble(value); }
Extended L(long double value) { return FromLongDouble(value); }

TEST(FormatRealDefaultTest, WorkedExamplesAndEdgeCases) {
  const Example kExamples[] = {
      {"0.5", D(0.5), " 5.00000000000000E-0001"},
      {"-0.25", D(-0.25), "-2.50000000000000E-0001"},
      {"1/3 extended", L(1.0L / 3.0L), " 3.33333333333333E-0001"},
      {"2/3", D(2.0 / 3.0), " 6.66666666666667E-0001"},
      {"0.1", D(0.1), " 1.00000000000000E-0001"},
      {"1e-5", D(1e-5), " 1.00000000000000E-0005"},
      {"1-2^-32", D(1.0 - 0x1p-32), " 9.99999999767169E-0001"},
      {"123.456", D(123.456), " 1.23456000000000E+0002"},
      {"1e300", D(1e300), " 1.00000000000000E+0300"},
      {"-1e-300", D(-1e-300), "-1.00000000000000E-0300"},
      {"0.9999999999999999", D(0.9999999999999999), " 1.00000000000000E+0000"},
      {"9.999999999999999", D(9.999999999999999), " 1.00000000000000E+0001"},
      {"13.999999999999998", D(13.999999999999998), " 1.40000000000000E+0001"},
      {"0.1234567890123456", D(0.1234567890123456), " 1.23456789012345E-0001"},
      {"12.3456789012345678 extended", L(12.3456789012345678L),
       " 1.23456789012345E+0001"},
      {"0.5183348421098255", D(0.5183348421098255), " 5.18334842109826E-0001"},
      {"+0", Extended::FromBits(0x0000, 0), " 0.00000000000000E+0000"},
      {"-0", Extended::FromBits(0x8000, 0), "-0.00000000000000E+0000"},
      {"1", D(1.0), " 1.00000000000000E+0000"},
      {"10", D(10.0), " 1.00000000000000E+0001"},
      {"100", D(100.0), " 1.00000000000000E+0002"},
      {"12.5", D(12.5), " 1.25000000000000E+0001"},
      {"0.12", D(0.12), " 1.20000000000000E-0001"},
      {"largest finite", Extended::FromBits(0x7FFE, ~std::uint64_t{0}),
       " 1.18973149535723E+4932"},
      {"smallest denormal", Extended::FromBits(0x0000, 1),
       " 3.64519953188247E-4951"},
      {"-smallest denormal", Extended::FromBits(0x8000, 1),
       "-3.64519953188247E-4951"},
      // m just below 16 rounds to P = 1.6e18 exactly.
      {"16 - 2^-60", Extended::FromBits(0x4002, ~std::uint64_t{0}),
       " 1.60000000000000E+0001"},
      {"+Inf", Extended::FromBits(0x7FFF, 0x8000000000000000),
       "                   +Inf"},
      {"-Inf", Extended::FromBits(0xFFFF, 0x8000000000000000),
       "                   -Inf"},
      {"quiet NaN", Extended::FromBits(0x7FFF, 0xC000000000000000),
       "                    Nan"},
      {"-quiet NaN", Extended::FromBits(0xFFFF, 0xC000000000000000),
       "                    Nan"},
      {"signalling NaN", Extended::FromBits(0x7FFF, 0x8000000100000000),
       "                    Nan"},
      {"pseudo-infinity", Extended::FromBits(0x7FFF, 0),
       "                    Nan"},
      {"pseudo-NaN", Extended::FromBits(0xFFFF, 0x4000000000000000),
       "                    Nan"},
      // Only the upper 32 bits of the significand are looked at.
      {"NaN payload in the low half",
       Extended::FromBits(0x7FFF, 0x8000000000000001),
       "                   +Inf"},
  };
  for (const Example& example : kExamples) {
    EXPECT_EQ(Format(example.value), example.text)
        << example.name << " " << Bits(example.value);
  }
}

// Unsupported encodings are written as the value their bits stand for.
TEST(FormatRealDefaultTest, UnnormalsAndPseudoDenormalsFormatTheirValue) {
  const Example kExamples[] = {
      // 1.0 with the integer bit clear: 0.5 × 2^1.
      {"unnormal 1", Extended::FromBits(0x4000, 0x4000000000000000),
       " 1.00000000000000E+0000"},
      {"-unnormal 0.1", Extended::FromBits(0xBFFC, D(0.1).Significand() >> 1),
       "-1.00000000000000E-0001"},
      {"pseudo-zero", Extended::FromBits(0x1234, 0), " 0.00000000000000E+0000"},
      {"-pseudo-zero", Extended::FromBits(0xC000, 0),
       "-0.00000000000000E+0000"},
      // An unnormal whose value is a denormal: 2^-16445.
      {"unnormal smallest denormal", Extended::FromBits(0x0001, 1),
       " 3.64519953188247E-4951"},
      // The integer bit set under a zero exponent field: 2^-16382.
      {"pseudo-denormal", Extended::FromBits(0x0000, 0x8000000000000000),
       Format(Extended::FromBits(0x0001, 0x8000000000000000))},
      {"unnormal largest", Extended::FromBits(0x7FFE, 0x7FFFFFFFFFFFFFFF),
       Format(Extended::FromBits(0x7FFD, 0xFFFFFFFFFFFFFFFE))},
  };
  for (const Example& example : kExamples) {
    EXPECT_EQ(Format(example.value), example.text)
        << example.name << " " << Bits(example.value);
  }
}

TEST(FormatRealDefaultTest, WritesExactlyTwentyThreeCharacters) {
  const Extended kValues[] = {
      D(0.5), Extended::FromBits(0xFFFF, 0x8000000000000000),
      Extended::FromBits(0x7FFF, 1), Extended::FromBits(0x8000, 0),
      Extended::FromBits(0x7FFE, ~std::uint64_t{0})};
  for (const Extended& value : kValues) {
    char buffer[kRealTextLength + 2];
    std::memset(buffer, '#', sizeof buffer);
    char* end = FormatRealDefault(value, buffer + 1);
    EXPECT_EQ(end, buffer + 1 + kRealTextLength) << Bits(value);
    EXPECT_EQ(buffer[0], '#') << Bits(value);
    EXPECT_EQ(buffer[kRealTextLength + 1], '#') << Bits(value);
    EXPECT_EQ(std::memchr(buffer + 1, '\0', kRealTextLength), nullptr);
  }
}

TEST(FormatRealDefaultTest, OracleAgreesWithTheWorkedExamples) {
  // The second implementation has to earn its place as a reference.
  const LongDoubleFormatter oracle;
  EXPECT_EQ(oracle.Format(D(0.5183348421098255)), " 5.18334842109826E-0001");
  EXPECT_EQ(oracle.Format(D(13.999999999999998)), " 1.40000000000000E+0001");
  EXPECT_EQ(oracle.Format(Extended::FromBits(0x0000, 1)),
            " 3.64519953188247E-4951");
  EXPECT_EQ(oracle.Format(Extended::FromBits(0x7FFE, ~std::uint64_t{0})),
            " 1.18973149535723E+4932");
}

// Draws 80-bit patterns from every class: normals over the whole exponent
// range, doubles, denormals, unnormals and pseudo-denormals, infinities and
// NaNs, and decimal values close to the rounding and carry boundaries of the
// text.
class PatternSource {
 public:
  explicit PatternSource(std::uint64_t seed) : engine_(seed) {}

  Extended Next() {
    const std::uint64_t bits = engine_();
    const auto sign = static_cast<std::uint16_t>(engine_() & 0x8000);
    switch (engine_() % 8) {
      case 0:  // Normal, any exponent.
        return Extended::FromBits(
            static_cast<std::uint16_t>(sign | engine_() % 0x7FFF),
            bits | Extended::kIntegerBit);
      case 1: {  // A double, widened exactly.
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return FromLongDouble(value);
      }
      case 2:  // Denormal or pseudo-denormal, with leading zeros.
        return Extended::FromBits(sign, bits >> (engine_() % 64));
      case 3:  // Any 80 bits: unnormals, pseudo-zeros, specials.
        return Extended::FromBits(static_cast<std::uint16_t>(engine_()), bits);
      case 4: {  // Exponent field all ones.
        const std::uint64_t high =
            engine_() % 4 == 0 ? 0x80000000u : bits >> 32;
        return Extended::FromBits(static_cast<std::uint16_t>(sign | 0x7FFF),
                                  high << 32 | (bits & 0xFFFFFFFF));
      }
      case 5: {  // Magnitudes from 2^-110 to 2^40, where m is reached in
                 // one pass or none; short significands meet the ties of
                 // both roundings of P and of the scaling by ten.
        const std::uint64_t kept =
            engine_() % 2 ? bits : bits & ~std::uint64_t{0} << engine_() % 64;
        return Extended::FromBits(
            static_cast<std::uint16_t>(sign | (16383 - 110 + engine_() % 150)),
            kept | Extended::kIntegerBit);
      }
      default:  // Near a rounding or carry boundary of the 15 digits.
        return NearDecimalBoundary(sign != 0);
    }
  }

 private:
  // A 16- or 17-digit decimal, rich in nines and fives, read by the C
  // library and moved by a few units in the last place.
  Extended NearDecimalBoundary(bool negative) {
    char text[40];
    int length = 0;
    if (negative) text[length++] = '-';
    text[length++] = static_cast<char>('1' + engine_() % 9);
    text[length++] = '.';
    for (int i = 0; i < 14; ++i) {
      text[length++] =
          static_cast<char>(engine_() % 2 ? '9' : '0' + engine_() % 10);
    }
    text[length++] = static_cast<char>('4' + engine_() % 3);
    if (engine_() % 2) text[length++] = static_cast<char>('0' + engine_() % 10);
    const int exponent = static_cast<int>(engine_() % 9880) - 4949;
    std::snprintf(text + length, sizeof text - length, "e%d", exponent);
    long double value = std::strtold(text, nullptr);
    const int steps = static_cast<int>(engine_() % 5) - 2;
    for (int i = 0; i < steps; ++i) {
      value = std::nextafter(value, std::numeric_limits<long double>::max());
    }
    for (int i = 0; i > steps; --i) {
      value = std::nextafter(value, -std::numeric_limits<long double>::max());
    }
    return FromLongDouble(value);
  }

  std::mt19937_64 engine_;
};

TEST(FormatRealDefaultTest, AgreesWithLongDoubleOnRandomPatterns) {
  // The oracle rounds like the extended arithmetic only under a 64-bit
  // significand and rounding to nearest.
  fpu_control_t control_word = 0;
  _FPU_GETCW(control_word);
  ASSERT_EQ(control_word & 0x0F00, _FPU_EXTENDED | _FPU_RC_NEAREST);
  const LongDoubleFormatter oracle;
  PatternSource source(0x5EED'F0A7);
  int failures = 0;
  for (int round = 0; round < kDifferentialRounds && failures < 10; ++round) {
    const Extended value = source.Next();
    const std::string text = Format(value);
    const std::string expected = oracle.Format(value);
    if (text != expected) {
      ++failures;
      ADD_FAILURE() << Bits(value) << ": \"" << text << "\", expected \""
                    << expected << "\"";
    }
  }
}

}  // namespace
}  // namespace diskmaps
