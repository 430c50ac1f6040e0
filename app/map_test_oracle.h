#pragma once

// A map record computed a second way, for tests: the same formulas in the
// processor's own 80-bit arithmetic (x86-64: 64-bit significand, rounding to
// nearest).

#include <cmath>
#include <cstdint>

#include "runtime/random/random_source.h"

namespace diskmaps::testing {

// The record evaluated from the same formulas by the processor's own 80-bit
// arithmetic (64-bit significand, round to nearest). An invalid operation
// shows as a NaN r0.
struct OracleRecord {
  double x;
  long double y;
  long double r0;
};

inline long double UnitOfState(std::uint32_t state) {
  return static_cast<long double>(state) / 4294967296.0L;
}

inline OracleRecord OracleDraw(std::uint32_t seed, double r0_min,
                               double r0_max) {
  const std::uint32_t s1 = NextSeed(seed);
  const std::uint32_t s2 = NextSeed(s1);
  const std::uint32_t s3 = NextSeed(s2);
  OracleRecord record;
  record.x = static_cast<double>(UnitOfState(s1) * 2.0L - 1.0L);
  const long double t = UnitOfState(s2) * 2.0L - 1.0L;
  const long double x = record.x;
  record.y = std::sqrt(1.0L - x * x) * t;
  const long double low = r0_min;
  record.r0 = UnitOfState(s3) * (static_cast<long double>(r0_max) - low) + low;
  return record;
}

}  // namespace diskmaps::testing
