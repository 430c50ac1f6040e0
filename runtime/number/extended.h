#pragma once

#include <cstdint>

namespace diskmaps {

// An 80-bit extended real: sign bit, 15-bit exponent with bias 16383 (all
// ones for infinities and NaNs), and a 64-bit significand whose top bit is the
// explicit integer bit. The value type holds exactly those 80 bits; all
// arithmetic on it is done in software (extended.cpp) with a 64-bit
// significand, rounding to nearest with ties to even. Invalid operations,
// divisions by zero and overflows raise EInvalidOp, EZeroDivide and EOverflow
// at the operation itself; underflow, denormal operands and inexact results
// are silent.
class Extended {
 public:
  static constexpr int kExponentBias = 16383;
  static constexpr std::uint16_t kMaxBiasedExponent = 0x7FFF;
  static constexpr std::uint16_t kSignBit = 0x8000;
  static constexpr std::uint64_t kIntegerBit = std::uint64_t{1} << 63;

  constexpr Extended() = default;  // +0

  static constexpr Extended FromBits(std::uint16_t sign_and_exponent,
                                     std::uint64_t significand) {
    Extended value;
    value.sign_and_exponent_ = sign_and_exponent;
    value.significand_ = significand;
    return value;
  }
  static constexpr Extended Make(bool sign, std::uint16_t biased_exponent,
                                 std::uint64_t significand) {
    return FromBits(
        static_cast<std::uint16_t>((sign ? kSignBit : 0) | biased_exponent),
        significand);
  }
  static constexpr Extended Infinity(bool sign = false) {
    return Make(sign, kMaxBiasedExponent, kIntegerBit);
  }

  constexpr std::uint16_t SignAndExponent() const { return sign_and_exponent_; }
  constexpr std::uint64_t Significand() const { return significand_; }
  constexpr bool Sign() const { return (sign_and_exponent_ & kSignBit) != 0; }
  constexpr std::uint16_t BiasedExponent() const {
    return sign_and_exponent_ & kMaxBiasedExponent;
  }

  // Classification by encoding.
  constexpr bool IsZero() const {
    return BiasedExponent() == 0 && significand_ == 0;
  }
  // Exponent field 0 with a nonzero significand (denormals and
  // pseudo-denormals).
  constexpr bool IsSubnormal() const {
    return BiasedExponent() == 0 && significand_ != 0;
  }
  constexpr bool IsInfinite() const {
    return BiasedExponent() == kMaxBiasedExponent &&
           significand_ == kIntegerBit;
  }
  // Every other pattern with an all-ones exponent, pseudo-NaNs included.
  constexpr bool IsNaN() const {
    return BiasedExponent() == kMaxBiasedExponent &&
           significand_ != kIntegerBit;
  }
  constexpr bool IsFinite() const {
    return BiasedExponent() != kMaxBiasedExponent;
  }
  // Exponent field 1 to all ones less one, with the integer bit set.
  constexpr bool IsNormal() const {
    return static_cast<std::uint16_t>(BiasedExponent() - 1) <
               kMaxBiasedExponent - 1 &&
           (significand_ & kIntegerBit) != 0;
  }

  constexpr Extended Negated() const {
    return FromBits(static_cast<std::uint16_t>(sign_and_exponent_ ^ kSignBit),
                    significand_);
  }
  constexpr Extended Magnitude() const {
    return FromBits(BiasedExponent(), significand_);
  }

  // Identity of the 80 bits (not numeric equality: +0 and -0 differ).
  friend constexpr bool operator==(const Extended&, const Extended&) = default;

 private:
  std::uint64_t significand_ = 0;
  std::uint16_t sign_and_exponent_ = 0;
};

static_assert(sizeof(Extended) == 16, "80 bits, padded like the processor's");
static_assert(Extended::FromBits(0xBFFF, Extended::kIntegerBit).Sign() &&
              Extended::FromBits(0xBFFF, 1).BiasedExponent() == 0x3FFF);

// Every operation below that can fail raises its failure located at its own
// call site (the return address into the caller).
//
// The encodings the processor does not support (unnormals: exponent neither 0
// nor all ones with the integer bit clear; pseudo-infinities and pseudo-NaNs:
// all-ones exponent with the integer bit clear) and signalling NaNs raise
// EInvalidOp in every operation and conversion. Denormals and pseudo-denormals
// (exponent 0, integer bit set) are exact operands. Of two quiet NaN operands
// the result is the one with the larger significand, the positive one when
// they differ only in sign; a single quiet NaN operand is the result.

// Exact widening of a double. A signalling NaN raises EInvalidOp, as the
// processor's load does.
Extended ExtendedFromDouble(double value);
// Rounds to the nearest double, ties to even. A finite value beyond the double
// range raises EOverflow; a value too small becomes a subnormal double or zero
// silently (rounded once, at the subnormal quantum 2^-1074); infinities pass
// unchanged; a quiet NaN stays a NaN with the top 52 bits of its fraction.
double ExtendedToDouble(Extended value);
// Exact conversion of an integer.
Extended ExtendedFromInteger(std::int64_t value);
// Rounds to an integer, ties to even. NaNs, infinities and values outside the
// int64 range raise EInvalidOp.
std::int64_t RoundToInt64(Extended value);

// Rounded to nearest, ties to even, underflow rounded at the denormal
// quantum 2^-16445. EInvalidOp: 0 × ∞, ∞ − ∞ (also as a sum), 0 ÷ 0, ∞ ÷ ∞,
// the root of a negative nonzero value; EZeroDivide: finite nonzero ÷ 0;
// EOverflow: a rounded result beyond the largest finite value.
Extended Add(Extended a, Extended b);
Extended Subtract(Extended a, Extended b);
Extended Multiply(Extended a, Extended b);
Extended Divide(Extended a, Extended b);
Extended SquareRoot(Extended a);
inline constexpr Extended Negate(Extended a) { return a.Negated(); }

// Numeric comparison; false when either operand is a NaN or an unsupported
// encoding. +0 equals -0. They never raise.
bool IsLess(Extended a, Extended b);
bool IsEqual(Extended a, Extended b);

inline Extended operator+(Extended a, Extended b) { return Add(a, b); }
inline Extended operator-(Extended a, Extended b) { return Subtract(a, b); }
inline Extended operator*(Extended a, Extended b) { return Multiply(a, b); }
inline Extended operator/(Extended a, Extended b) { return Divide(a, b); }
inline constexpr Extended operator-(Extended a) { return a.Negated(); }

}  // namespace diskmaps
