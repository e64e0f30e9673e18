// The camera runs (tasks 5 and 6): balance and template iterations over the
// adjusters. Not written yet: the run ends at once, as every task ends.

#include "calibrator.h"

void Calibrator::balance()
{
    endTask_(true);
}

bool Calibrator::setFinalRGB(double maxError)
{
    Q_UNUSED(maxError)
    return false;
}

void Calibrator::macropixelsObserved(QList<Macropixel*> list)
{
    Q_UNUSED(list)
}

void Calibrator::tilesObserved(QList<Tile*> list)
{
    Q_UNUSED(list)
}
