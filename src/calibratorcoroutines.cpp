// The adjuster coroutines of the Calibrator: the hand-over of gains to the
// driver, the two task slots, and the gain-set coroutine that measures the
// sensitivity of each measured quantity to each channel's gain.

#include "calibrator.h"

#include <QDebug>

#include <cmath>

namespace {

// Suspends the calling body until its driver resumes it again.
using Park = std::suspend_always;

} // namespace

bool Calibrator::coSetRGBGains_(double red, double green, double blue, ControlType)
{
    if (!usingCoroutines) {
        qDebug("***** ERROR: coSetRGBGains_ called while NOT using coroutines. *****");
        return false;
    }
    saveThisToLast_();
    auto outside = [this](double v) { return v < minimumValue || v > maximumValue_; };
    if (outside(red) || outside(green) || outside(blue))
        qDebug("*** coSetRGBGains_ #%d range error: %.6f, %.6f, %.6f! ***", int(number_), red, green, blue);
    gains = {red, green, blue};
    gainsPending = true;
    return true;
}

AdjustTask& Calibrator::renewCoAdjust_(double luminance)
{
    adjustCoroutine.destroy();
    adjustCoroutine = coCalibrateForBrightness_(luminance);
    return adjustCoroutine;
}

AdjustTask& Calibrator::renewCoGainSet_()
{
    gainSetCoroutine.destroy();
    gainSetCoroutine = coSetGains_();
    return gainSetCoroutine;
}

AdjustTask Calibrator::coChangeColor_(Color c, double delta)
{
    if (delta == 0.0) {
        qDebug("Calibrator::coChangeColor_: delta == 0!");
        co_return true;
    }
    if (!usingCoroutines) {
        qDebug("***** ERROR: coChangeColor_ called while NOT using coroutines. *****");
        co_return false;
    }
    saveThisToLast_();
    double g = lastGains[c] + delta;
    if (!(g >= minimumValue)) // NaN as well
        g = minimumValue;
    if (g > maximumValue_)
        g = maximumValue_;
    gains[c] = g;
    coSetRGBGains_(gains.red, gains.green, gains.blue);
    co_await Park {};

    // Divided by the requested step, also when the clamp shortened it.
    sensitivity[Luminance][c] = (reading[2] - lastReading[2]) / delta;
    sensitivity[Cct][c] = (reading[0] - lastReading[0]) / delta;
    sensitivity[Duv][c] = (reading[1] - lastReading[1]) / delta;
    co_return true;
}

AdjustTask Calibrator::coSetGain_(Color c)
{
    const double g0 = gains[c];
    const double step = mode_ == ModeLinearity ? 0.02 : 0.05;
    const double d1 = g0 < maximumValue_ * 0.5 ? step : -step;

    {
        AdjustTask up = coChangeColor_(c, d1);
        while (!up.step())
            co_await Park {};
    }
    const double first[3] = {sensitivity[0][c], sensitivity[1][c], sensitivity[2][c]};

    AdjustTask back = coChangeColor_(c, -d1);
    while (!back.step())
        co_await Park {};
    const bool result = back.result();
    back.destroy();

    for (int q = 0; q < 3; ++q)
        sensitivity[q][c] = (first[q] + sensitivity[q][c]) / 2.0;

    if (mode_ == ModeLinearity)
        qDebug("%s gains: %+12.7f Lum, %+13.5f CCT, %+14.9f Duv   (delta %.3f)", colorStr_[c],
               sensitivity[Luminance][c], sensitivity[Cct][c], sensitivity[Duv][c], -d1);
    else if (loggable_)
        qDebug("%s gains: %+12f R, %+12f G,  %+12f B   (delta %.3f)", colorStr_[c], sensitivity[Cct][c],
               sensitivity[Duv][c], sensitivity[Luminance][c], -d1);
    co_return result;
}

AdjustTask Calibrator::coSetGains_()
{
    if (mode_ == ModeLinearity) {
        if (currentStep != 0)
            setStatusString(QStringLiteral("Step %1 of %2: setting gains%3...")
                                .arg(currentStep)
                                .arg(steps_)
                                .arg(remainingTime(progress_)));
        else
            setStatusString(QStringLiteral("Setting initial gains..."));
    }

    double sums[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    int attempt = 1;
    for (;;) {
        if (!running_ || finishBalancingRequested)
            break; // average what was summed
        if (logIt_())
            qDebug("coSetGains: attempt #%d...", attempt);

        bool measured = true;
        for (int c = Red; c <= Blue && measured; ++c) {
            AdjustTask channel = coSetGain_(Color(c));
            while (!channel.step())
                co_await Park {};
            measured = channel.result();
        }
        if (!running_ || !measured || finishBalancingRequested)
            co_return false;

        if (mode_ != ModeLinearity) {
            // Camera adjusters: weak or saturated channels get fixed floors.
            // Own-channel rows: red in the CCT row, green in Duv, blue in
            // luminance; R, G, B are the last observation.
            static const char* const names[3] = {"red", "green", "blue"};
            const int rows[3] = {Cct, Duv, Luminance};
            for (int c = Red; c <= Blue; ++c) {
                const double observed = reading[c];
                double& s = sensitivity[rows[c]][c];
                if ((observed < 10.0 || observed > 210.0) && s < 300.0) {
                    if (loggable_)
                        qDebug("#%-4d %s gainfix (high/low limits)", int(number_), names[c]);
                    s = 300.0;
                }
            }
            for (int c = Red; c <= Blue; ++c) {
                double& s = sensitivity[rows[c]][c];
                if (s < 25.0) {
                    if (loggable_)
                        qDebug("#%-4d %s gainfix (minGain)", int(number_), names[c]);
                    s = 25.0;
                }
            }
            co_return true;
        }

        // Linearity: every check is made and logged.
        const auto& s = sensitivity;
        bool plausible = true;
        auto check = [&](bool fails, const char* text) {
            if (fails) {
                qDebug(text, attempt);
                plausible = false;
            }
        };
        check(s[Luminance][Red] <= 0, "setGains #%d: red luma gain is zero or less than zero.");
        check(s[Luminance][Green] <= 0, "setGains #%d: green luma gain is  zero or less than zero.");
        check(s[Luminance][Blue] <= 0, "setGains #%d: blue luma gain is  zero or less than zero.");
        check(s[Luminance][Red] > s[Luminance][Green] || s[Luminance][Blue] > s[Luminance][Green],
              "setGains #%d: green luma gain is less than red or blue luma gain.");
        check(s[Cct][Red] > 0, "setGains #%d: red CCT gain is greater than zero.");
        check(s[Cct][Blue] < 0, "setGains #%d: blue CCT gain is less than zero.");
        check(s[Duv][Red] > 0, "setGains #%d: red Duv gain is greater than zero.");
        check(s[Duv][Blue] > 0, "setGains #%d: blue Duv gain is greater than zero.");
        check(s[Duv][Green] < 0, "setGains #%d: green Duv gain is less than zero.");
        if (plausible)
            co_return true;

        for (int q = 0; q < 3; ++q)
            for (int c = 0; c < 3; ++c)
                sums[q][c] += sensitivity[q][c];
        if (++attempt == 4)
            break;
    }

    // Three implausible attempts (or a stop before the third): their mean.
    for (int q = 0; q < 3; ++q)
        for (int c = 0; c < 3; ++c)
            sensitivity[q][c] = sums[q][c] / 3.0;
    if (logIt_()) {
        qDebug("Averaged gains:");
        qDebug("%s", qUtf8Printable(gainString().replace(QLatin1String("\n"),
                                                          QLatin1String("\n------------  "))));
    }
    co_return true;
}

bool Calibrator::coSetInitialGains_()
{
    setStatusString(QStringLiteral("Getting maximum brightness level..."));
    const double g = initialGain;
    coSetRGBGains_(g, g, g);
    if (!sendRGBGains_(g, g, g, ControlDefault) && !going_())
        return false;
    delay_(readDelay_ + 3000);
    if (!readForCorrection_(int(readCount_)))
        return false;

    renewCoGainSet_();
    bool result = true;
    for (;;) {
        if (gainSetCoroutine.done())
            break;
        gainSetCoroutine.resume();
        // Also after the resume that finished the task.
        if (!setAndReadVantorRGB_()) {
            result = false;
            break;
        }
    }
    gainSetCoroutine.destroy();
    return result;
}
