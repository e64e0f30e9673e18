#pragma once

#include "calibrationpoint.h"

#include <QList>

// Handle distance of every curve point from its point, along the tangent.
inline constexpr double kCurveHandleLength = 0.0707;

// Turns the points of a linearity run into output-curve points, per primary:
// px the position along the input axis ((i / (n - 1)) ^ stepSpacing), py the
// drive level, a handle (mx, my) on the tangent 0.0707 from the point (towards
// the next point, for the last one towards the previous) and the slope.
// Steps after the first whose three levels are all 0 are dropped; they keep
// no px of their own, the following points keep theirs.
//
// Returns false and leaves the list as it was when there is nothing to turn
// into curves: fewer than two points, a last point with all three levels 0, a
// spacing that is not positive and finite, or handles that come out not
// finite (which the processor could not take).
bool computeCurveHandles(QList<CalibrationPoint>& points, double stepSpacing);
