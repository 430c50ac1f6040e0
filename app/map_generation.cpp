#include "app/map_generation.h"

#include "runtime/random/random_source.h"

namespace diskmaps {
namespace {

constexpr Extended kOne =
    Extended::Make(false, Extended::kExponentBias, Extended::kIntegerBit);
constexpr Extended kTwo =
    Extended::Make(false, Extended::kExponentBias + 1, Extended::kIntegerBit);

// u * 2 - 1: exact for the multiples of 2^-32 in [0, 1) that the source
// draws, giving a multiple of 2^-31 in [-1, 1).
Extended UnitToSigned(Extended u) { return Subtract(Multiply(u, kTwo), kOne); }

}  // namespace

MapRecord DrawMapRecord(double R0Min, double R0Max) {
  MapRecord record;

  const Extended u1 = NextUnitRandom();
  record.x = ExtendedToDouble(UnitToSigned(u1));

  const Extended u2 = NextUnitRandom();
  const Extended t = UnitToSigned(u2);
  const Extended x = ExtendedFromDouble(record.x);
  const Extended half_chord = SquareRoot(Subtract(kOne, Multiply(x, x)));
  record.y = Multiply(half_chord, t);

  const Extended u3 = NextUnitRandom();
  const Extended low = ExtendedFromDouble(R0Min);
  const Extended span = Subtract(ExtendedFromDouble(R0Max), low);
  record.r0 = Add(Multiply(u3, span), low);

  return record;
}

}  // namespace diskmaps
