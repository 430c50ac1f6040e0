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

// The bounds of r0 made ready for a run of draws. When both bounds are
// finite, R0Min widened and the difference R0Max - R0Min are worked out once
// here (the difference of two finite doubles is exact or rounded in extended
// and never fails); otherwise each draw works them out itself as above, so
// that an infinite bound still fails at the r0 of the first map.
struct RadiusRange {
  double r0_min = 0.0;
  double r0_max = 0.0;
  bool prepared = false;
  Extended low;
  Extended span;
};
RadiusRange PrepareRadiusRange(double R0Min, double R0Max);
// The same record as DrawMapRecord(range.r0_min, range.r0_max).
MapRecord DrawMapRecord(const RadiusRange& range);

}  // namespace diskmaps
