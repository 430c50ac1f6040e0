#include "app/map_generation.h"

#include <cstdint>

#include "runtime/random/random_source.h"

namespace diskmaps {
namespace {

constexpr Extended kOne =
    Extended::Make(false, static_cast<std::uint16_t>(Extended::kExponentBias),
                   Extended::kIntegerBit);
constexpr Extended kTwo = Extended::Make(
    false, static_cast<std::uint16_t>(Extended::kExponentBias + 1),
    Extended::kIntegerBit);

}  // namespace

MapRecord DrawMapRecord(double R0Min, double R0Max) {
  MapRecord record;

  // x = u1 × 2 − 1, then rounded to double.
  const Extended u1 = NextUnitRandom();
  record.x = ExtendedToDouble(Subtract(Multiply(u1, kTwo), kOne));

  // t = u2 × 2 − 1; y = sqrt(1 − x × x) × t, from the x held as a double.
  const Extended u2 = NextUnitRandom();
  const Extended t = Subtract(Multiply(u2, kTwo), kOne);
  const Extended x = ExtendedFromDouble(record.x);
  record.y = Multiply(SquareRoot(Subtract(kOne, Multiply(x, x))), t);

  // r0 = u3 × (R0Max − R0Min) + R0Min.
  const Extended u3 = NextUnitRandom();
  const Extended r0_min = ExtendedFromDouble(R0Min);
  const Extended span = Subtract(ExtendedFromDouble(R0Max), r0_min);
  record.r0 = Add(Multiply(u3, span), r0_min);
  return record;
}

}  // namespace diskmaps
