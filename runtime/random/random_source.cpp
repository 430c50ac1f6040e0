#include "runtime/random/random_source.h"

#include <bit>

namespace diskmaps {

RandomSource Random;

std::uint32_t SeedOfTimeOfDay(const TimeOfDay& time) {
  // The minutes of the day never exceed 1439, so 16 bits hold them.
  const auto minutes_of_day =
      static_cast<std::uint16_t>(time.hour * 60 + time.minute);
  const std::uint32_t seconds_of_day = std::uint32_t{minutes_of_day} * 60 +
                                       static_cast<std::uint32_t>(time.second);
  return seconds_of_day * 1000 + static_cast<std::uint32_t>(time.millisecond);
}

void SeedFromClock(Platform& platform) {
  Random.seed = SeedOfTimeOfDay(platform.UtcTimeOfDay());
}

Extended UnitRealOfSeed(std::uint32_t seed) {
  if (seed == 0) return Extended();
  // The highest set bit p of seed gives a value in [2^(p-32), 2^(p-31)); the
  // significand is seed shifted up until that bit is the integer bit.
  const int leading_zeros = std::countl_zero(seed);
  const int top_bit = 31 - leading_zeros;
  const auto biased_exponent =
      static_cast<std::uint16_t>(Extended::kExponentBias + top_bit - 32);
  const std::uint64_t significand = std::uint64_t{seed} << (32 + leading_zeros);
  return Extended::Make(false, biased_exponent, significand);
}

Extended NextUnitRandom() {
  Random.seed = NextSeed(Random.seed);
  return UnitRealOfSeed(Random.seed);
}

}  // namespace diskmaps
