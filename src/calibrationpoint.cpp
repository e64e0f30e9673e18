#include "calibrationpoint.h"

#include <cmath>

double CalibrationPoint::error() const
{
    return std::fabs(deltas[0]) + std::fabs(deltas[1]) + std::fabs(deltas[2]);
}
