// The measurement tasks: one averaged measurement (task 2) and the read-count
// test (task 3). Not written yet: each ends at once, as every task ends.

#include "calibrator.h"

void Calibrator::takeMeasurement()
{
    if (task_ != TaskMeasure)
        return;
    endTask_(true);
}

void Calibrator::testReadCounts()
{
    if (task_ != TaskTestReadCounts)
        return;
    beginTask_();
    endTask_(true);
}
