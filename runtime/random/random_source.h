#pragma once

#include <cstdint>

#include "runtime/number/extended.h"
#include "runtime/platform/platform.h"

namespace diskmaps {

// The process's pseudo-random source: one 32-bit state, 0 from start-up.
struct RandomSource {
  std::uint32_t seed = 0;
};

extern RandomSource Random;

// Milliseconds since midnight of `time`.
std::uint32_t SeedOfTimeOfDay(const TimeOfDay& time);
// Sets the state from the platform's UTC time of day.
void SeedFromClock(Platform& platform = SystemPlatform());
// Advances the state and returns it times 2^-32.
Extended NextUnitRandom();

}  // namespace diskmaps
