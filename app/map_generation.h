#pragma once

#include "runtime/number/extended.h"

namespace diskmaps {

// One map of the set: a point (x, y) of the closed unit disk and a radius
// parameter r0 from the user's range. x is held at double precision; y and r0
// stay extended and are never rounded to double.
struct MapRecord {
  double x = 0.0;
  Extended y;
  Extended r0;
};

// Draws the next map from three successive values of the random source, in
// the order x, y, r0:
//   x  = u1 * 2 - 1, rounded to double (exactly: x is a multiple of 2^-31);
//   y  = sqrt(1 - x * x) * (u2 * 2 - 1);
//   r0 = u3 * (R0Max - R0Min) + R0Min;
// every step rounded to extended. The bounds are used as they are, in either
// order. With finite bounds nothing can fail; an infinite bound gives an
// infinite r0 where defined and raises EInvalidOp for 0 * infinity or a sum
// of opposite infinities.
MapRecord DrawMapRecord(double R0Min, double R0Max);

}  // namespace diskmaps
