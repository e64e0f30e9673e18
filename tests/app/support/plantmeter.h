#pragma once

#include "colorimeter.h"


#include <mutex>
#include <random>

class FakeDisplay;

// A colour meter on a linear plant: each read() answers with
//   offset + matrix x (display-wide gains * numbered gains)
// for the gains last sent to the FakeDisplay (1.0 for a kind never sent),
// rows luminance, CCT, Duv. Optional uniform noise, relative to the reading,
// from a fixed seed.
class PlantMeter : public Colorimeter
{
    Q_OBJECT
public:
    explicit PlantMeter(FakeDisplay& display, QObject* parent = nullptr);

    // A plausible wall: green brightest, red lowers and blue raises the CCT,
    // and equal gains keep 6500 K and Duv 0 at any level.
    void setDefaultPlant();
    void setPlant(const double matrix[3][3], const double offset[3]);
    void setNoise(double relative);
    // Answers with this error code from the given read on (0: never).
    void failFrom(int read, int code);
    int reads() const;
    // The effective channel gains of the last sent state.
    void effectiveGains(double out[3]) const;

public Q_SLOTS:
    void read() override;

private:
    FakeDisplay& display_;
    mutable std::mutex mutex_;
    double matrix_[3][3] = {};
    double offset_[3] = {};
    double noise_ = 0.0;
    int failFrom_ = 0;
    int failCode_ = 0;
    int reads_ = 0;
    std::mt19937 random_ {12345};
};
