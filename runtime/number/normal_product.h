#pragma once

#include <cstdint>

#include "runtime/number/extended.h"

namespace diskmaps {

// The product of two positive normal extended reals, rounded to a 64-bit
// significand to nearest with ties to even: bit for bit the result of
// Multiply, for operands whose product lies in the normal range (the caller
// makes sure of both). It skips the classification of special operands that
// Multiply must do first, for the conversions' hot paths.
constexpr Extended NormalProduct(Extended a, Extended b) {
  __extension__ using Uint128 = unsigned __int128;
  constexpr std::uint64_t kHalf = std::uint64_t{1} << 63;
  Uint128 product = Uint128{a.Significand()} * b.Significand();
  // Each significand is in [2^63, 2^64), so the product is in [2^126, 2^128):
  // one shift at most brings its top bit to bit 127. The shift and the
  // rounding are computed without branches, as their outcomes are random.
  const int below_top = static_cast<int>(product >> 127) ^ 1;
  product <<= below_top;
  int exponent = a.BiasedExponent() + b.BiasedExponent() -
                 Extended::kExponentBias + 1 - below_top;
  auto high = static_cast<std::uint64_t>(product >> 64);
  const auto low = static_cast<std::uint64_t>(product);
  // Round up when low is above half, or at half with high odd: exactly when
  // low + (half - 1 + the low bit of high) carries out of 64 bits.
  std::uint64_t ignored = 0;
  high += static_cast<std::uint64_t>(
      __builtin_add_overflow(low, kHalf - 1 + (high & 1), &ignored));
  if (high == 0) {  // carried out of 2^64 - 1
    high = Extended::kIntegerBit;
    ++exponent;
  }
  return Extended::Make(false, static_cast<std::uint16_t>(exponent), high);
}

// The sum of two positive normal extended reals, rounded to a 64-bit
// significand to nearest with ties to even: bit for bit the result of Add,
// for operands whose sum stays below the overflow threshold (the caller makes
// sure of both).
constexpr Extended NormalSum(Extended a, Extended b) {
  __extension__ using Uint128 = unsigned __int128;
  if (a.BiasedExponent() < b.BiasedExponent()) {
    const Extended larger = b;
    b = a;
    a = larger;
  }
  const int distance = a.BiasedExponent() - b.BiasedExponent();
  // The larger significand at bits 63 to 126, the smaller one shifted right
  // by the distance; bits shifted out below bit 0 leave a sticky bit 0.
  const Uint128 larger = Uint128{a.Significand()} << 63;
  const Uint128 smaller = Uint128{b.Significand()} << 63;
  Uint128 aligned = 0;
  if (distance < 128) {
    aligned = smaller >> distance;
    if (distance > 63 && (smaller << (128 - distance)) != 0) aligned |= 1;
  } else {
    aligned = 1;
  }
  Uint128 sum = larger + aligned;  // below 2^128
  int exponent = a.BiasedExponent();
  if ((sum >> 127) != 0) {
    sum = (sum >> 1) | (sum & 1);
    ++exponent;
  }
  // The top bit is now bit 126: 64 significand bits over 63 rounding bits.
  constexpr std::uint64_t kRoundingMask = (std::uint64_t{1} << 63) - 1;
  constexpr std::uint64_t kHalf = std::uint64_t{1} << 62;
  auto high = static_cast<std::uint64_t>(sum >> 63);
  const auto low = static_cast<std::uint64_t>(sum) & kRoundingMask;
  // Up when low is above half, or at half with high odd: exactly when
  // low + (half - 1 + the low bit of high) reaches 2^63.
  high += (low + (kHalf - 1) + (high & 1)) >> 63;
  if (high == 0) {  // carried out of 2^64 - 1
    high = Extended::kIntegerBit;
    ++exponent;
  }
  return Extended::Make(false, static_cast<std::uint16_t>(exponent), high);
}

// Whether a is a normal real: a nonzero exponent field below all ones and
// the integer bit set.
constexpr bool IsNormal(Extended a) {
  return a.BiasedExponent() != 0 &&
         a.BiasedExponent() != Extended::kMaxBiasedExponent &&
         (a.Significand() & Extended::kIntegerBit) != 0;
}

}  // namespace diskmaps
