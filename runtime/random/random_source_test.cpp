#include "runtime/random/random_source.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "runtime/number/decimal_test_oracle.h"
#include "runtime/platform/fake_platform.h"

namespace diskmaps {
namespace {

static_assert(RandomSource{}.seed == 0, "the state starts at 0");

// Saves and restores the process-wide state around each test.
class RandomSourceTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = Random; }
  void TearDown() override { Random = saved_; }

 private:
  RandomSource saved_;
};

TEST_F(RandomSourceTest, StatesFromZero) {
  Random.seed = 0;
  const std::uint32_t expected[] = {1, 134775814, 3698175007u};
  for (std::uint32_t state : expected) {
    NextUnitRandom();
    EXPECT_EQ(Random.seed, state);
  }
  Random.seed = 0;
  // 2^-32: biased exponent 16383 - 32, integer bit only.
  EXPECT_EQ(NextUnitRandom(),
            Extended::Make(false, 16383 - 32, Extended::kIntegerBit));
}

struct ClockCase {
  TimeOfDay time;
  std::uint32_t seed;
};

TEST_F(RandomSourceTest, SeedIsMillisecondsSinceMidnight) {
  const ClockCase cases[] = {
      {{12, 34, 56, 789}, 45296789},
      {{23, 59, 59, 999}, 86399999},
      {{0, 0, 0, 0}, 0},
      {{0, 0, 0, 1}, 1},
      {{0, 0, 1, 0}, 1000},
      {{0, 1, 0, 0}, 60000},
      {{1, 0, 0, 0}, 3600000},
  };
  for (const ClockCase& c : cases) {
    Random.seed = 12345;
    FakePlatform clock;
    clock.time_of_day = c.time;
    SeedFromClock(clock);
    EXPECT_EQ(Random.seed, c.seed)
        << c.time.hour << ":" << c.time.minute << ":" << c.time.second << "."
        << c.time.millisecond;
    EXPECT_EQ(SeedOfTimeOfDay(c.time), c.seed);
  }
}

TEST_F(RandomSourceTest, StatesAfterSeedingAt12h34m56s789) {
  FakePlatform clock;
  clock.time_of_day = {12, 34, 56, 789};
  SeedFromClock(clock);
  const std::uint32_t expected[] = {2099557098u, 1162356371u, 1524927712u};
  for (std::uint32_t state : expected) {
    const Extended value = NextUnitRandom();
    EXPECT_EQ(Random.seed, state);
    EXPECT_EQ(value, testing::FromLongDouble(static_cast<long double>(state) /
                                             4294967296.0L));
  }
}

TEST_F(RandomSourceTest, ZeroComesOutAfterState649090867) {
  EXPECT_EQ(NextSeed(649090867u), 0u);
  Random.seed = 649090867u;
  const Extended zero = NextUnitRandom();
  EXPECT_TRUE(zero.IsZero());
  EXPECT_FALSE(zero.Sign());
}

TEST_F(RandomSourceTest, SameMillisecondSameSequence) {
  FakePlatform clock;
  clock.time_of_day = {7, 8, 9, 10};
  SeedFromClock(clock);
  Extended first[16];
  for (Extended& value : first) value = NextUnitRandom();
  SeedFromClock(clock);
  for (const Extended& value : first) EXPECT_EQ(NextUnitRandom(), value);
}

// Every state scales exactly to state / 2^32; checked against the
// processor's own conversion on a spread of states and at every bit width.
TEST(UnitRealOfSeedTest, MatchesProcessorConversion) {
  auto check = [](std::uint32_t seed) {
    const long double expected = static_cast<long double>(seed) / 4294967296.0L;
    ASSERT_EQ(UnitRealOfSeed(seed), testing::FromLongDouble(expected)) << seed;
  };
  for (int bit = 0; bit < 32; ++bit) {
    const std::uint32_t power = std::uint32_t{1} << bit;
    check(power);
    check(power - 1);
    check(power | (power - 1));
  }
  check(0xFFFFFFFFu);
  std::uint32_t seed = 0;
  for (int i = 0; i < 200000; ++i) {
    seed = NextSeed(seed);
    check(seed);
  }
}

}  // namespace
}  // namespace diskmaps
