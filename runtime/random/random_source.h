#pragma once

#include <cstdint>

#include "runtime/number/extended.h"
#include "runtime/platform/platform.h"

namespace diskmaps {

// The process's pseudo-random source: a 32-bit linear congruential generator
// with one word of state, 0 from start-up. Only the program's one thread uses
// it, without a lock.
struct RandomSource {
  std::uint32_t seed = 0;
};

extern RandomSource Random;

// The recurrence: seed <- seed * kRandomMultiplier + 1, modulo 2^32.
inline constexpr std::uint32_t kRandomMultiplier = 134775813;  // 0x08088405
inline constexpr std::uint32_t kRandomIncrement = 1;

// One step of the recurrence, wrapping in unsigned 32-bit arithmetic.
constexpr std::uint32_t NextSeed(std::uint32_t seed) {
  return seed * kRandomMultiplier + kRandomIncrement;
}

// Milliseconds since midnight of `time`, from 0 to 86399999.
std::uint32_t SeedOfTimeOfDay(const TimeOfDay& time);

// Sets the state from the platform's UTC time of day, to the millisecond.
// The date and the time zone play no part. Cannot fail.
void SeedFromClock(Platform& platform = SystemPlatform());

// `seed` times 2^-32 as an extended real: exact, in [0, 1).
Extended UnitRealOfSeed(std::uint32_t seed);

// Advances the state by one step and returns the new state times 2^-32, so
// the first value after seeding with s is never s * 2^-32 itself.
Extended NextUnitRandom();

}  // namespace diskmaps
