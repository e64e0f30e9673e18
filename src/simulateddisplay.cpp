#include "simulateddisplay.h"

SimulatedDisplay::SimulatedDisplay(QObject* parent)
    : DisplayBase(QStringLiteral("Simulated Display"), parent)
{
}

SimulatedDisplay::~SimulatedDisplay() = default;

ErrorType SimulatedDisplay::displayTestPattern(DisplayBase::TestPattern, int, int)
{
    return {};
}

ErrorType SimulatedDisplay::setMeshRGBs(QList<Macropixel*>&, float)
{
    return {};
}

ErrorType SimulatedDisplay::commitMeshRGBs(QList<Macropixel*>&)
{
    return {};
}

ErrorType SimulatedDisplay::resetMesh()
{
    return {};
}

void SimulatedDisplay::cancel()
{
}
