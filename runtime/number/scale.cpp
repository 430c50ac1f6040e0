#include <cstdint>

#include "runtime/number/decimal.h"
#include "runtime/number/extended.h"
#include "runtime/number/powers_of_ten.h"

namespace diskmaps {
namespace {

// From this power on (and from its negative down) the scaling no longer
// computes: it yields +∞ or +0 whatever the value scaled.
constexpr std::int32_t kScaleLimit = 5120;

// The three table factors of a power from 1 to 5119, in the order in which
// they are applied. A medium or large index of 0 means that the factor is
// skipped; the small factor is always applied.
struct PowerSplit {
  std::uint32_t small;
  std::uint32_t medium;
  std::uint32_t large;
};

constexpr PowerSplit SplitPower(std::uint32_t power) {
  return {power % 32, (power / 32) % 16, power / 512};
}

}  // namespace

Extended ScaleByPowerOfTen(Extended x, std::int32_t power) {
  if (power == 0) {
    return x;
  }
  if (power >= kScaleLimit) {
    return Extended::Infinity();
  }
  if (power <= -kScaleLimit) {
    return Extended();
  }
  if (power > 0) {
    const PowerSplit split = SplitPower(static_cast<std::uint32_t>(power));
    x = Multiply(x, SmallPowersOfTen[split.small]);
    if (split.medium != 0) {
      x = Multiply(x, MediumPowersOfTen[split.medium]);
    }
    if (split.large != 0) {
      x = Multiply(x, LargePowersOfTen[split.large]);
    }
    return x;
  }
  const PowerSplit split = SplitPower(static_cast<std::uint32_t>(-power));
  x = Divide(x, SmallPowersOfTen[split.small]);
  if (split.medium != 0) {
    x = Divide(x, MediumPowersOfTen[split.medium]);
  }
  if (split.large != 0) {
    x = Divide(x, LargePowersOfTen[split.large]);
  }
  return x;
}

}  // namespace diskmaps
