#pragma once

#include "displaybase.h"

// A display without hardware: the default wall of the base model (9 x 16 LDMs
// in one tile), every command accepted and kept in the model only. Its name
// makes its address "N/A".
class SimulatedDisplay : public DisplayBase
{
    Q_OBJECT

public:
    explicit SimulatedDisplay(QObject* parent = nullptr);
    ~SimulatedDisplay() override;

    ErrorType displayTestPattern(DisplayBase::TestPattern pattern, int x, int y) override;
    ErrorType setMeshRGBs(QList<Macropixel*>& macropixels, float value) override;
    ErrorType commitMeshRGBs(QList<Macropixel*>& macropixels) override;
    ErrorType resetMesh() override;
    void cancel() override;
};
