#pragma once

#include "displaybase.h"

#include <mutex>

// A display without hardware: the default wall of the base model (9 x 16 LDMs
// in one tile), every command accepted and kept in the model only. Its name
// makes its address "N/A".
//
// With VELTRANO_SIMULATED_WALL_STATE naming a file, what the wall shows (the
// global colour and the display gains, in the processor's state layout) is
// written there after every change, before the change returns, so that a
// stand-in meter can measure the simulated wall.
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

private:
    void publishState_();

    QString statePath_;
    std::mutex publishMutex_;
};
