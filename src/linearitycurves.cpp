#include "linearitycurves.h"

#include "calibrator.h"

#include <QDebug>

#include <cmath>

namespace {

// The fields of one primary in a point.
struct Channel
{
    double CalibrationPoint::*level;
    double CalibrationPoint::*px;
    double CalibrationPoint::*py;
    double CalibrationPoint::*mx;
    double CalibrationPoint::*my;
    double CalibrationPoint::*slope;
};

constexpr Channel kChannels[3] = {
    {&CalibrationPoint::red, &CalibrationPoint::redPx, &CalibrationPoint::redPy, &CalibrationPoint::redMx,
     &CalibrationPoint::redMy, &CalibrationPoint::redSlope},
    {&CalibrationPoint::green, &CalibrationPoint::greenPx, &CalibrationPoint::greenPy, &CalibrationPoint::greenMx,
     &CalibrationPoint::greenMy, &CalibrationPoint::greenSlope},
    {&CalibrationPoint::blue, &CalibrationPoint::bluePx, &CalibrationPoint::bluePy, &CalibrationPoint::blueMx,
     &CalibrationPoint::blueMy, &CalibrationPoint::blueSlope},
};

constexpr double kHandleStep = 0.05;

bool isBlack(const CalibrationPoint& point)
{
    return point.red == 0.0 && point.green == 0.0 && point.blue == 0.0;
}

// Slopes and handles of one primary over the whole list.
void computeChannel(QList<CalibrationPoint>& points, const Channel& c)
{
    const qsizetype n = points.size();
    const auto px = [&](qsizetype i) { return points.at(i).*c.px; };
    const auto py = [&](qsizetype i) { return points.at(i).*c.py; };
    const auto chord = [&](qsizetype a, qsizetype b) { return (py(b) - py(a)) / (px(b) - px(a)); };
    const auto squaredLength = [&](qsizetype a, qsizetype b) {
        const double dx = px(b) - px(a), dy = py(b) - py(a);
        return dx * dx + dy * dy;
    };
    // direction +1 puts the handle towards the next point, -1 towards the previous.
    const auto setHandle = [&](qsizetype i, double slope, double direction) {
        CalibrationPoint& p = points[i];
        p.*c.slope = slope;
        p.*c.mx = p.*c.px + direction * kHandleStep;
        p.*c.my = p.*c.py + direction * kHandleStep * slope;
    };

    if (n == 2) {
        const double slope = chord(0, 1);
        setHandle(0, slope, 1.0);
        setHandle(1, slope, -1.0);
        return;
    }

    double first = 2.0 * chord(0, 1) - chord(0, 2);
    if (first < 0.0) {
        qDebug("Limiting p0’s computed slope of %.08f to 0.0", first);
        first = 0.0;
    }
    setHandle(0, first, 1.0);

    // Inner points: the chord slopes on both sides, the shorter side weighing more.
    for (qsizetype k = 1; k < n - 1; ++k) {
        const double left = chord(k - 1, k), right = chord(k, k + 1);
        const double wLeft = squaredLength(k - 1, k), wRight = squaredLength(k, k + 1);
        setHandle(k, (left / wLeft + right / wRight) / (1.0 / wLeft + 1.0 / wRight), 1.0);
    }

    setHandle(n - 1, 2.0 * chord(n - 2, n - 1) - chord(n - 3, n - 1), -1.0);
}

} // namespace

bool computeCurveHandles(QList<CalibrationPoint>& points, double stepSpacing)
{
    const qsizetype count = points.size();
    if (count < 2 || isBlack(points.last()))
        return false;
    if (!std::isfinite(stepSpacing) || stepSpacing <= 0.0) {
        qDebug("Step spacing %g does not place the curve points in order; no curves computed", stepSpacing);
        return false;
    }

    // Worked on a copy, so that a result that cannot be used leaves the points alone.
    QList<CalibrationPoint> work = points;
    for (qsizetype i = 0; i < count; ++i) {
        const double px = pxForIndexAndSpacing(double(i) / double(count - 1), stepSpacing);
        CalibrationPoint& p = work[i];
        for (const Channel& c : kChannels) {
            p.*c.px = px;
            p.*c.py = p.*c.level;
        }
    }

    // The last point is not black, so this stops with at least two points.
    while (work.size() > 2 && isBlack(work.at(1)))
        work.removeAt(1);

    for (const Channel& c : kChannels)
        computeChannel(work, c);

    for (CalibrationPoint& p : work) {
        for (const Channel& c : kChannels) {
            const double dx = p.*c.mx - p.*c.px, dy = p.*c.my - p.*c.py;
            const double f = kCurveHandleLength / std::sqrt(dx * dx + dy * dy);
            p.*c.mx = p.*c.px + f * dx;
            p.*c.my = p.*c.py + f * dy;
            if (!std::isfinite(p.*c.mx) || !std::isfinite(p.*c.my) || !std::isfinite(p.*c.slope)
                || !std::isfinite(p.*c.py)) {
                qDebug("Curve handles are not finite; no curves computed");
                return false;
            }
        }
    }

    points = work;
    return true;
}
