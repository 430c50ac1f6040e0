#include "runtime/number/powers_of_ten.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace diskmaps {
namespace {

// A non-negative integer of any size, little-endian 32-bit limbs; just
// enough to compare a table entry with its power of ten exactly.
class BigNatural {
 public:
  explicit BigNatural(std::uint64_t value) {
    limbs_ = {static_cast<std::uint32_t>(value),
              static_cast<std::uint32_t>(value >> 32)};
    Trim();
  }

  static BigNatural PowerOfTen(int k) {
    BigNatural result(1);
    for (int i = 0; i < k; ++i) {
      result.MultiplySmall(10);
    }
    return result;
  }

  static BigNatural PowerOfTwo(int k) { return BigNatural(1).ShiftedLeft(k); }

  BigNatural ShiftedLeft(int bits) const {
    BigNatural result(0);
    result.limbs_.assign(limbs_.size() + bits / 32 + 1, 0);
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
      const std::uint64_t part = std::uint64_t{limbs_[i]} << (bits % 32);
      result.limbs_[i + bits / 32] |= static_cast<std::uint32_t>(part);
      result.limbs_[i + bits / 32 + 1] |=
          static_cast<std::uint32_t>(part >> 32);
    }
    result.Trim();
    return result;
  }

  // |a − b|.
  static BigNatural Distance(const BigNatural& a, const BigNatural& b) {
    const bool a_smaller = Compare(a, b) < 0;
    const BigNatural& big = a_smaller ? b : a;
    const BigNatural& small = a_smaller ? a : b;
    BigNatural result = big;
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < result.limbs_.size(); ++i) {
      std::int64_t digit = std::int64_t{result.limbs_[i]} - borrow -
                           (i < small.limbs_.size() ? small.limbs_[i] : 0);
      borrow = digit < 0 ? 1 : 0;
      result.limbs_[i] = static_cast<std::uint32_t>(digit + (borrow << 32));
    }
    result.Trim();
    return result;
  }

  static int Compare(const BigNatural& a, const BigNatural& b) {
    if (a.limbs_.size() != b.limbs_.size()) {
      return a.limbs_.size() < b.limbs_.size() ? -1 : 1;
    }
    for (std::size_t i = a.limbs_.size(); i-- > 0;) {
      if (a.limbs_[i] != b.limbs_[i]) {
        return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
      }
    }
    return 0;
  }

  bool IsZero() const { return limbs_.empty(); }

 private:
  void MultiplySmall(std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : limbs_) {
      const std::uint64_t product = std::uint64_t{limb} * factor + carry;
      limb = static_cast<std::uint32_t>(product);
      carry = product >> 32;
    }
    if (carry != 0) {
      limbs_.push_back(static_cast<std::uint32_t>(carry));
    }
  }

  void Trim() {
    while (!limbs_.empty() && limbs_.back() == 0) {
      limbs_.pop_back();
    }
  }

  std::vector<std::uint32_t> limbs_;
};

struct Fit {
  bool normalised;
  bool exact;
  bool nearest;  // strictly within half an ulp: nearest, and no tie
};

// Compares entry = significand × 2^s with 10^k, everything scaled by
// 2^(1 + max(0, −s)) so that half an ulp, 2^(s − 1), is an integer.
Fit FitOf(Extended entry, int k) {
  const int s = entry.BiasedExponent() - Extended::kExponentBias - 63;
  const int lift = 1 + std::max(0, -s);
  const BigNatural scaled_entry =
      BigNatural(entry.Significand()).ShiftedLeft(s + lift);
  const BigNatural scaled_power = BigNatural::PowerOfTen(k).ShiftedLeft(lift);
  const BigNatural distance = BigNatural::Distance(scaled_entry, scaled_power);
  const BigNatural half_ulp = BigNatural::PowerOfTwo(s - 1 + lift);
  const bool normalised = (entry.Significand() & Extended::kIntegerBit) != 0 &&
                          !entry.Sign() && entry.IsFinite();
  // Just above a power of two the ulp below is half as large; none of the
  // inexact entries sits on a power of two, which the check demands.
  const bool on_power_of_two = entry.Significand() == Extended::kIntegerBit;
  return {normalised, distance.IsZero(),
          distance.IsZero() || (!on_power_of_two &&
                                BigNatural::Compare(distance, half_ulp) < 0)};
}

void ExpectNearest(Extended entry, int k) {
  const Fit fit = FitOf(entry, k);
  EXPECT_TRUE(fit.normalised) << "10^" << k;
  EXPECT_TRUE(fit.nearest) << "10^" << k;
  EXPECT_EQ(fit.exact, k <= 27) << "10^" << k;
}

TEST(PowersOfTenTest, EveryEntryIsTheNearestExtendedValue) {
  for (int i = 0; i < 32; ++i) {
    ExpectNearest(SmallPowersOfTen[i], i);
  }
  for (int k = 0; k < 16; ++k) {
    ExpectNearest(MediumPowersOfTen[k], 32 * k);
  }
  for (int k = 0; k < 10; ++k) {
    ExpectNearest(LargePowersOfTen[k], 512 * k);
  }
}

// The proof itself must reject an entry one ulp off, in either direction.
TEST(PowersOfTenTest, ProofRejectsNeighbours) {
  for (int k : {1, 3, 7, 12, 15}) {
    const Extended entry = MediumPowersOfTen[k];
    for (std::uint64_t significand :
         {entry.Significand() + 1, entry.Significand() - 1}) {
      const Fit fit = FitOf(
          Extended::FromBits(entry.SignAndExponent(), significand), 32 * k);
      EXPECT_FALSE(fit.nearest) << "10^" << 32 * k;
    }
  }
  const Fit exact_off =
      FitOf(Extended::FromBits(SmallPowersOfTen[27].SignAndExponent(),
                               SmallPowersOfTen[27].Significand() + 1),
            27);
  EXPECT_FALSE(exact_off.exact);
}

}  // namespace
}  // namespace diskmaps
