// The closed-loop brightness adjustment of one Calibrator: pass after pass it
// solves for the gain changes that bring the observation to the targets,
// damps and clamps them, records the new gains and waits for its driver to
// send them and observe again. Mode 0 adjusts the main Calibrator through the
// meter; the camera modes adjust one macropixel per adjuster.

#include "calibrator.h"

#include <QDebug>
#include <QHash>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

using Park = std::suspend_always;

// Why the gains are measured anew; decides the log lines.
enum class Recalc { None, Growth, Repeats, LoopTooBig };

double sumOfDeltas(const CalibrationPoint& p)
{
    return std::fabs(p.deltas[0]) + std::fabs(p.deltas[1]) + std::fabs(p.deltas[2]);
}

double largestDelta(const CalibrationPoint& p)
{
    return std::max({std::fabs(p.deltas[0]), std::fabs(p.deltas[1]), std::fabs(p.deltas[2])});
}

int signOf(double v)
{
    return (v > 0) - (v < 0);
}

} // namespace

AdjustTask Calibrator::coCalibrateForBrightness_(double luminance)
{
    const bool linearity = mode_ == ModeLinearity;
    const bool gated = logIt_();

    // ---- start
    maximumWeightedError_ = std::max(errorAllowed_ / 100.0 * 1.5, 0.04);
    targetLum_ = luminance;
    iterations = 1;
    const double allowed = errorAllowed_;
    double deltaLimit = linearity ? 0.5 : highGainLimit_;
    const unsigned passLimit = linearity ? 50 : maxIterations;
    const double upper = maximumValue_;
    const double lowLimit = linearity ? 0.25 : lowGainLimit_;
    finishBalancingRequested = false;
    pointList.clear();
    const QDateTime adjustStart = QDateTime::currentDateTime();
    elapsed = 0;
    renewCoGainSet_();

    // A correction that cannot go on keeps running: it ends with the cause's
    // status, not as if the operator had stopped it. An adjuster of a camera
    // run stops itself.
    auto stopHere = [this, linearity] {
        if (linearity)
            failCorrection_();
        else
            running_ = false;
    };

    if (colorimeterErrorType_.code != 0) {
        stopHere();
        co_return false;
    }

    auto showProgress = [this] {
        double p = 1.0;
        if (stepsToGo != 0)
            p = (double(currentStep) - double(startStep) - 1.0 + iterations / 50.0) / stepsToGo;
        setProgress(std::clamp(p, 0.0, 1.0));
    };
    showProgress();

    if (linearity && currentStep >= 2) {
        // Start from the previous level's gains scaled to this level.
        setStatusString(QStringLiteral("Step %1 of %2: Setting basic level...").arg(currentStep).arg(steps_));
        const float a = float(double(steps_ - currentStep + 1) / steps_);
        const float b = float(double(steps_ - currentStep + 2) / steps_);
        const float scale = float(std::pow(a, stepSpacing_) / std::pow(b, stepSpacing_));
        qDebug("scaling by %.2f to predicted level %.3f%%, %.3f%%, %.3f%%", scale,
               gains.red * scale / maximumValue_, gains.green * scale / maximumValue_,
               gains.blue * scale / maximumValue_);
        coSetRGBGains_(gains.red * scale, gains.green * scale, gains.blue * scale);
        co_await Park {};
        if (failed_())
            co_return false;
        if (reading.luminance == 0.0) {
            stopHere();
            co_return false;
        }
    }
    if (colorimeterErrorType_.code != 0) {
        stopHere();
        co_return false;
    }
    signFlips[0] = signFlips[1] = signFlips[2] = 0;

    unsigned compliantCount = 0, growCount = 0, zeroClipCount = 0, maxClipCount = 0;
    double previousSum = upper, previousLargest = upper;
    // How often a gain triple was reached. The visited table alone counts the
    // visits: a point found there gets the stored count added, so a triple
    // has count n on its n-th visit. The repeats table is looked up before the
    // point is put into it; its entry is then replaced by the point with the
    // summed count, so a visit is never counted twice. A recalculation empties
    // the repeats table only: the visited table keeps the history, so a
    // triple reached a fourth time resets the gains once (no loop seen yet)
    // and reached a fifth time sets repeatFlag and has its loop tested.
    QHash<QString, CalibrationPoint> visited, repeats;
    bool repeatFlag = false;
    bool loopResolved = false;
    bool finished = false;

    for (;;) {
        // ---- one pass
        showProgress();
        if (linearity)
            setStatusString(QStringLiteral("Step %1 of %2: luminance %3, iteration %4%5...")
                                .arg(currentStep)
                                .arg(steps_)
                                .arg(targetLum_, 0, 'f', 2)
                                .arg(iterations)
                                .arg(remainingTime(progress_)));

        if (!getRGBDeltasWithRetries_()) {
            if (running_ && !linearity) {
                running_ = false;
                qDebug("*** FAILED GETTING RGB DELTA VALUES FOR LDM/MACROPIXEL %d! ***", int(number_));
                coSetRGBGains_(-0.5, -0.5, -0.5);
                co_await Park {};
            } else if (running_) {
                // A meter or display error behind the failure is named
                // instead; otherwise this text is the correction's end.
                failCorrection_();
                if (failure.isEmpty()) {
                    const QString text = QStringLiteral("*** FAILED GETTING RGB DELTA VALUES! ***");
                    setStatusString(text);
                    qDebug("%s", qUtf8Printable(text));
                    failure = text;
                    delay_(2000);
                }
            }
            co_return false;
        }

        CalibrationPoint point;
        point.red = gains.red;
        point.green = gains.green;
        point.blue = gains.blue;
        point.cct = reading.cct + cctAdjust;
        point.duv = reading.duv + duvAdjust;
        point.luminance = reading.luminance * luminanceScale;
        point.luminanceTarget = targetLum_ < 0 ? reading.luminance : targetLum_;
        for (int c = 0; c < 3; ++c)
            point.deltas[c] = deltas[c];
        point.count = 1;
        point.iterations = iterations - 1;
        point.seconds = quint32(elapsed);
        point.redDisplayGain = displayGains.red;
        point.greenDisplayGain = displayGains.green;
        point.blueDisplayGain = displayGains.blue;

        // Errors before limiting; the limited deltas move the gains.
        const double sum = sumOfDeltas(point);
        const double largest = largestDelta(point);
        limitRGBDeltas_(10.0, deltaLimit, unsigned(upper * 0.125));
        RGBValues next;
        for (int c = 0; c < 3; ++c)
            next[c] = std::max(minimumValue, std::min(maximumValue_, gains[c] + deltas[c]));

        bool atMinimum = false, atMaximum = false;
        for (int c = 0; c < 3; ++c) {
            atMinimum = atMinimum || next[c] == minimumValue;
            atMaximum = atMaximum || next[c] == maximumValue_;
        }
        if (atMinimum && largest > 0.01 && ++zeroClipCount >= 6) {
            running_ = false;
            if (linearity) {
                stoppedAtLimit = true;
                setStatusString(QStringLiteral("Correction stopped due to R,G,B values persistently at zero"));
                qDebug("Zero clipping: can't set R,G,B any lower.");
            } else {
                setStatusString(QStringLiteral("Adjustment #%1 stopped due to R,G,B values persistently at minimum")
                                    .arg(number_));
                qDebug("Zero clipping: can't set R,G,B any lower on LDM/macropixel %d.", int(number_));
                coSetRGBGains_(initialGain, initialGain, maximumValue_);
                co_await Park {};
            }
            co_return false;
        }
        if (atMaximum && ++maxClipCount >= 6) {
            running_ = false;
            if (linearity) {
                stoppedAtLimit = true;
                setStatusString(QStringLiteral("Correction stopped due to R,G,B values persistently at maximum"));
                qDebug("Maximum value clipping: can't set R,G,B any higher.");
            } else {
                setStatusString(QStringLiteral("Adjustment #%1 stopped due to R,G,B values persistently at maximum")
                                    .arg(number_));
                qDebug("Maximum value clipping: can't set R,G,B any higher on LDM/macropixel %d.", int(number_));
                coSetRGBGains_(maximumValue_, initialGain, initialGain);
                co_await Park {};
            }
            co_return false;
        }

        if (sum > previousSum || largest > previousLargest)
            ++growCount;
        else
            growCount = 0;
        previousSum = sum;
        previousLargest = largest;
        if (gated)
            qDebug("Correction error %.6f  max delta %.6f  increase x%d", sum, largest, int(growCount));

        Recalc recalc = Recalc::None;
        for (int c = 0; c < 3; ++c) {
            if (signOf(deltas[c]) != signOf(previousDeltas[c]))
                ++signFlips[c];
            else
                signFlips[c] = 0;
            previousDeltas[c] = deltas[c];
        }
        if (signFlips[0] >= 6 && signFlips[1] >= 6 && signFlips[2] >= 6) {
            if (gated)
                qDebug("%d: Too many delta sign flips; will recalculate gains...", int(number_));
            recalc = Recalc::Growth;
        }
        if (recalc == Recalc::None && growCount == 2) {
            if (gated)
                qDebug("Limiting gains due to growing errors...");
            deltaLimit = lowLimit;
            compliantCount = 0;
        }
        if (recalc == Recalc::None && growCount == 5)
            recalc = Recalc::Growth;

        bool parked = false; // the pass recorded new gains
        if (recalc == Recalc::None) {
            const QString key = pointKey_(point);
            if (visited.contains(key)) {
                const CalibrationPoint seen = cachedPoint_(visited, key);
                if (gated)
                    qDebug("looping: %.6f, %.6f, %.6f; %d + %d times", point.red, point.green, point.blue,
                           int(point.count), int(seen.count));
                point.count += seen.count;
                if (repeats.contains(key) && gated) {
                    const CalibrationPoint again = cachedPoint_(repeats, key);
                    qDebug(" repeat: %.6f, %.6f, %.6f; %d + %d times", point.red, point.green, point.blue, 1,
                           int(again.count));
                }
                repeats.insert(key, point);
            }
            visited.insert(key, point);
            pointList.append(point);
            const unsigned count = point.count;
            point.count = 1;
            repeatFlag = repeatFlag || count >= 5;

            if (count >= 4) {
                if (!repeatFlag) {
                    if (gated)
                        dumpPointCache_(QStringLiteral("Resetting gains due to repeats:"), repeats);
                    repeats.clear();
                    recalc = Recalc::Repeats;
                } else {
                    if (gated)
                        qDebug("Looping; we'll test the repeated values.");
                    double loopError = 3 * 4 * maximumValue_;
                    double deltaError = 4 * maximumValue_;
                    for (const CalibrationPoint& p : std::as_const(repeats)) {
                        loopError = std::min(loopError, sumOfDeltas(p));
                        deltaError = std::min(deltaError, largestDelta(p));
                    }
                    if (gated)
                        qDebug("Max loop error %.2f, max delta error %.2f", loopError, deltaError);
                    if (loopError > 2.0 || deltaError > 1.0) {
                        if (gated) {
                            qDebug("Errors are too big (loop %.2f, delta %.2f); we'll reset gains and try again...",
                                   loopError, deltaError);
                            dumpPointCache_(QStringLiteral("Errors in repeated points:"), repeats);
                        }
                        repeats.clear();
                        recalc = Recalc::LoopTooBig;
                    } else {
                        loopResolved = true;
                        repeatFlag = true;
                    }
                }
            } else {
                if (gated)
                    qDebug("pass %2d: %.6f  %.6f  %.6f;   deltas %+.6f  %+.6f  %+.6f", int(iterations), next.red,
                           next.green, next.blue, deltas[0], deltas[1], deltas[2]);
                coSetRGBGains_(next.red, next.green, next.blue);
                parked = true;
            }
        }

        if (parked) {
            co_await Park {};
            if (linearity && failed_())
                co_return false; // the gains were not taken: nothing more to send
            if (linearity && reading.luminance == 0.0) {
                if (number_ != 0)
                    qDebug("#%-4d too dark", int(number_));
                // Decided on this reading, before the final send reads again.
                stopHere();
                setFinalRGB(maximumWeightedError_ * (finishBalancingRequested ? 2.0 : 1.0));
                co_await Park {};
                co_return false;
            }
            ++iterations;
        }

        if (recalc != Recalc::None) {
            if (recalc == Recalc::Growth && gated)
                qDebug("Resetting gains due to growing errors...");
            previousSum = upper;
            repeats.clear();
            signFlips[0] = signFlips[1] = signFlips[2] = 0;
            deltaLimit = lowLimit;
            compliantCount = 0;
            growCount = 0;
            // The held gain-set task is awaited, not owned: it stays in its
            // slot and is replaced by a fresh one afterwards.
            while (!gainSetCoroutine.step())
                co_await Park {};
            const bool measured = gainSetCoroutine.result();
            renewCoGainSet_();
            if (linearity && failed_())
                co_return false;
            if (!measured) {
                if (number_ != 0 && recalc == Recalc::Repeats)
                    qDebug("#%-4d looping setGains failed", int(number_));
                if (number_ != 0 && recalc == Recalc::LoopTooBig)
                    qDebug("#%-4d loop error-too-big setGains failed", int(number_));
                if (linearity && running_)
                    failCorrection_();
                setFinalRGB(maximumWeightedError_ * (finishBalancingRequested ? 2.0 : 1.0));
                co_await Park {};
                if (!linearity)
                    running_ = false;
                co_return false;
            }
        }

        // ---- end test
        if (allowed / 100.0 >= largest)
            ++compliantCount;
        else
            compliantCount = 0;
        if (allowed > 0 && gated)
            qDebug("                                         max delta error %.6f; allowed %.6f, %dx of %d",
                   largest, allowed / 100.0, int(compliantCount), 3);
        finished = compliantCount >= 3 || loopResolved || finishBalancingRequested;

        const int good = pointsWithinError(maximumWeightedError_);
        if (good >= int(compliantIterations) && (linearity || iterations >= minIterations)) {
            qDebug("#%-4d enough points (%d) gathered to finish of %d total", int(number_), good, int(iterations));
            finished = true;
        }

        if (iterations >= passLimit && !finished) {
            int valid = pointsWithinError();
            for (int widen = 0; widen < 2 && valid < int(minimumPoints); ++widen) {
                maximumWeightedError_ *= 1.4142136;
                valid = pointsWithinError();
            }
            if (gated)
                qDebug("#%-4d maxError allowed %f%%, valid points %d, needed %d", int(number_),
                       maximumWeightedError_, valid, int(minimumPoints));
            finished = true;
            if (valid < int(minimumPoints)) {
                if (gated)
                    qDebug("#%-4d $$$ Not enough points for averaging; just pick the best point found so far",
                           int(number_));
                CalibrationPoint best;
                double bestError = 3 * 4 * maximumValue_;
                for (const CalibrationPoint& p : std::as_const(visited)) {
                    if (sumOfDeltas(p) < bestError) {
                        bestError = sumOfDeltas(p);
                        best = p;
                    }
                }
                if (gated)
                    formatPointLine_(QStringLiteral("Best point found"), best);
                coSetRGBGains_(best.red, best.green, best.blue);
                co_await Park {};
                break;
            }
        }

        if (finished || !running_ || colorimeterErrorType_.code != 0)
            break;
    }
    // A level read through a meter in error is no level: the correction
    // ends with the meter's error (decided now, before the final send reads
    // again).
    const bool meterFailed = linearity && running_ && colorimeterErrorType_.code != 0;
    if (meterFailed)
        failCorrection_();

    // ---- exit
    if (finished && running_ && colorimeterErrorType_.code == 0) {
        if (!linearity && loggable_)
            qDebug("#%-4d on exit: R %.2f, G %.2f, B %.2f", int(number_), reading.cct, reading.duv,
                   reading.luminance);
        else if (linearity)
            qDebug("on exit: CCT %.0f, Duv %.4f at %.1f luminance", reading.cct, reading.duv, reading.luminance);
    }
    if (pointList.size() != qsizetype(iterations) - 1)
        qDebug("#%d: Points %lld, steps %d", int(number_), qlonglong(pointList.size()), int(iterations) - 1);
    setFinalRGB(maximumWeightedError_ * (finishBalancingRequested ? 2.0 : 1.0));
    co_await Park {};

    elapsed = adjustStart.secsTo(QDateTime::currentDateTime());
    if (!linearity) {
        if (number_ == 1)
            logTime(QStringLiteral("Process #%1 took %3 iterations over")
                        .arg(number_, -4)
                        .arg(iterations - 1),
                    elapsed);
    } else {
        logTime(QStringLiteral("Luminance level %1 %2 took %3 iterations over")
                    .arg(QString::number(targetLum_, 'g', QLocale::FloatingPointShortest))
                    .arg(luminanceUnits)
                    .arg(iterations - 1),
                elapsed);
    }
    co_return running_.load() && !meterFailed;
}

bool Calibrator::setFinalRGB(double maxError)
{
    const double m = maxError == 0.0 ? maximumWeightedError_ : maxError;
    unsigned n = 0;
    double weightSum = 0.0;
    double gainSums[3] = {0, 0, 0}, measuredSums[3] = {0, 0, 0}, deltaSums[3] = {0, 0, 0};
    for (const CalibrationPoint& p : std::as_const(pointList)) {
        double w = (m + 0.0001) - sumOfDeltas(p);
        if (!(w > 0.0001))
            continue;
        ++n;
        weightSum += w;
        const double g[3] = {p.red, p.green, p.blue};
        const double measured[3] = {p.cct, p.duv, p.luminance};
        for (int c = 0; c < 3; ++c) {
            gainSums[c] += w * (g[c] + 0.25 * p.deltas[c]);
            measuredSums[c] += w * measured[c];
            deltaSums[c] += w * p.deltas[c];
        }
    }
    if (n > 0 && n >= minimumPoints) {
        RGBValues averaged;
        for (int c = 0; c < 3; ++c)
            averaged[c] = std::max(minimumValue, std::min(maximumValue_, gainSums[c] / weightSum));
        if (usingCoroutines)
            coSetRGBGains_(averaged.red, averaged.green, averaged.blue);
        else
            setRGBGains_(averaged.red, averaged.green, averaged.blue, ControlDefault);
        for (int c = 0; c < 3; ++c) {
            reading[c] = measuredSums[c] / weightSum;
            deltas[c] = deltaSums[c] / weightSum;
        }
        if (logIt_())
            qDebug("#%-4d final after %d iterations, %d pts, %.6f, %.6f, %.6f", int(number_), int(iterations),
                   int(n), averaged.red, averaged.green, averaged.blue);
        return true;
    }
    if (logIt_())
        qDebug("#%-4d final, %d pts, not enough points to average", int(number_), int(n));
    return false;
}
