#pragma once

// Test helpers: the processor's 80-bit long double as the oracle of the
// extended arithmetic (x86-64, where long double is the same format).

#include <cfenv>
#include <cfloat>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/number/extended.h"
#include "runtime/number/powers_of_ten.h"

namespace diskmaps::testing {

// Whether long double is the 80-bit extended format (x86-64), so that the
// processor can serve as the oracle. Tests that need it skip or fail to
// build elsewhere.
inline constexpr bool kLongDoubleIsExtended =
    LDBL_MANT_DIG == 64 && LDBL_MAX_EXP == 16384;

// The 80 bits of an extended real as a long double, and back.
inline long double ToLongDouble(Extended x) {
  long double value = 0;
  if constexpr (kLongDoubleIsExtended) {
    const std::uint64_t significand = x.Significand();
    const std::uint16_t sign_and_exponent = x.SignAndExponent();
    unsigned char bytes[sizeof(long double)] = {};
    std::memcpy(bytes, &significand, sizeof significand);
    std::memcpy(bytes + sizeof significand, &sign_and_exponent,
                sizeof sign_and_exponent);
    std::memcpy(&value, bytes, sizeof value);
  }
  return value;
}

inline Extended FromLongDouble(long double value) {
  std::uint64_t significand = 0;
  std::uint16_t sign_and_exponent = 0;
  if constexpr (kLongDoubleIsExtended) {
    unsigned char bytes[sizeof(long double)];
    std::memcpy(bytes, &value, sizeof value);
    std::memcpy(&significand, bytes, sizeof significand);
    std::memcpy(&sign_and_exponent, bytes + sizeof significand,
                sizeof sign_and_exponent);
  }
  return Extended::FromBits(sign_and_exponent, significand);
}

// The 80 bits as text, "SEEE:SSSSSSSSSSSSSSSS", for failure messages.
inline std::string Bits(Extended x) {
  char text[32];
  std::snprintf(text, sizeof text, "%04X:%016llX", x.SignAndExponent(),
                static_cast<unsigned long long>(x.Significand()));
  return text;
}

// A result of the oracle: the value, and whether the processor flagged an
// overflow while computing it.
struct OracleResult {
  Extended value;
  bool overflow = false;
};

// x × 10^power by the processor, with the same table entries in the same
// order as the program's scaling, each step one rounding of the 80-bit unit.
inline OracleResult ScaleOracle(Extended x, std::int32_t power) {
  if (power == 0) {
    return {x, false};
  }
  if (power >= 5120) {
    return {Extended::Infinity(), false};
  }
  if (power <= -5120) {
    return {Extended(), false};
  }
  const auto magnitude = static_cast<std::uint32_t>(power > 0 ? power : -power);
  std::feclearexcept(FE_ALL_EXCEPT);
  volatile long double value = ToLongDouble(x);
  const auto step = [&](Extended factor) {
    const long double operand = ToLongDouble(factor);
    value = power > 0 ? value * operand : value / operand;
  };
  step(SmallPowersOfTen[magnitude % 32]);
  if ((magnitude / 32) % 16 != 0) {
    step(MediumPowersOfTen[(magnitude / 32) % 16]);
  }
  if (magnitude / 512 != 0) {
    step(LargePowersOfTen[magnitude / 512]);
  }
  const bool overflow = std::fetestexcept(FE_OVERFLOW) != 0;
  return {FromLongDouble(value), overflow};
}

}  // namespace diskmaps::testing
