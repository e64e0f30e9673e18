#pragma once

#include "simulateddisplay.h"

#include <QList>

#include <atomic>

#include <opencv2/core.hpp>

// The layout of a GridDisplay.
struct GridLayout
{
    int tilesWide = 2, tilesHigh = 1;
    int ldmsWide = 2, ldmsHigh = 2;
    int ldmWidth = 80, ldmHeight = 60;
    int left = 100, top = 40;
};

// A simulated wall of tiles, each a grid of LDMs, for the uniformity tests:
// `tilesWide` x `tilesHigh` tiles of `ldmsWide` x `ldmsHigh` LDMs of
// `ldmWidth` x `ldmHeight` pixels from (`left`, `top`). It remembers the test
// pattern it was told to show and can draw what a camera sees of it (any
// thread): the lit wall, plain white, or the generated grid pattern as one
// square per step in the middle of each step cell.
class GridDisplay : public SimulatedDisplay
{
    Q_OBJECT
public:
    using Layout = GridLayout;

    explicit GridDisplay(const Layout& layout = {}, QObject* parent = nullptr);

    ErrorType fetchLdms() override;
    ErrorType displayTestPattern(DisplayBase::TestPattern pattern, int x, int y) override;

    // The display's own records, to change flags in tests.
    QList<Macropixel>& ldms() { return ldmList; }

    // What the wall shows (CV_32FC3, one pixel per display pixel).
    cv::Mat wallImage();
    // The generated pattern drawn with twice the steps asked for.
    std::atomic<bool> coarsePattern {false};

    QList<int> patterns; // every test pattern asked for

private:
    Layout layout_;
    std::atomic<int> pattern_ {0};
    std::atomic<int> stepX_ {0}, stepY_ {0};
};
