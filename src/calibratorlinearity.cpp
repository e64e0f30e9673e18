// The linearity correction (tasks 1 and 4): from black to the brightest level,
// then level by level down, the gains of every grey level are adjusted until
// the meter reads the target white point at the level's luminance.

#include "calibrator.h"
#include "valuelimits.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

double pxForIndexAndSpacing(double fraction, double spacing)
{
    return std::pow(fraction, spacing);
}

bool Calibrator::averageReadings_(int count)
{
    const Reading before = reading;
    if (takeMultipleReadings_(count) && running_)
        return true;
    // The timestamp of the last answer stays, so that it is not taken again.
    reading.cct = before.cct;
    reading.duv = before.duv;
    reading.luminance = before.luminance;
    return false;
}

bool Calibrator::readForCorrection_(int count)
{
    if (averageReadings_(count))
        return true;
    if (running_ && failure.isEmpty()) {
        // Only answers that never changed leave no error of the meter's own;
        // a level read through them is no level.
        if (!ioErrors()) {
            const QString text = QStringLiteral("no new or valid data after multiple retries");
            colorimeterErrorType_ = ErrorType(2, text);
            setColorimeterError(text);
        }
        failCorrection_();
    }
    return false;
}

void Calibrator::failCorrection_()
{
    if (!failure.isEmpty())
        return;
    if (displayError.code != 0)
        failure = QStringLiteral("Correction stopped with display error ") + displayError.oneLine();
    else if (ioErrors())
        failure = QStringLiteral("Correction stopped with colorimeter error ") + colorimeterError_;
    else if (tooDark())
        failure = QStringLiteral("Correction stopped; too dark to proceed.");
}

bool Calibrator::driveAdjustment_()
{
    // Gains the display no longer takes leave nothing to adjust.
    while (!failed_() && !adjustCoroutine.done()) {
        adjustCoroutine.resume();
        // A level that failed has nothing more to send or read.
        if (adjustCoroutine.done() && !adjustCoroutine.result())
            break;
        if (sendRGBGains_(gains.red, gains.green, gains.blue, ControlDefault)) {
            delay_(readDelay_);
            readForCorrection_(int(readCount_));
        }
    }
    const bool result = adjustCoroutine.done() && adjustCoroutine.result();
    adjustCoroutine.destroy();
    return result;
}

bool Calibrator::setAndReadVantorRGB_()
{
    if (!sendRGBGains_(gains.red, gains.green, gains.blue, ControlDefault))
        return false;
    delay_(readDelay_);
    return readForCorrection_(int(readCount_));
}

CalibrationPoint& Calibrator::captureCalibration(CalibrationPoint& point, double target)
{
    point.red = gains.red;
    point.green = gains.green;
    point.blue = gains.blue;
    point.cct = reading.cct + cctAdjust;
    point.duv = reading.duv + duvAdjust;
    point.luminance = reading.luminance * luminanceScale;
    point.luminanceTarget = target < 0 ? reading.luminance : target;
    for (int c = 0; c < 3; ++c)
        point.deltas[c] = deltas[c];
    point.count = 1;
    point.iterations = iterations > 0 ? iterations - 1 : 0;
    point.seconds = startTime.isValid() ? quint32(std::max<qint64>(0, startTime.secsTo(QDateTime::currentDateTime())))
                                        : 0;
    point.redDisplayGain = displayGains.red;
    point.greenDisplayGain = displayGains.green;
    point.blueDisplayGain = displayGains.blue;
    return point;
}

void Calibrator::formatStepTable_(double black)
{
    const double range = targetLum_ - black;
    qDebug("\tstep\tpx\t  gamma \t  sRGB\t  using");
    levels.resize(qsizetype(steps_) + 1);
    for (uint i = 0; i <= steps_; ++i) {
        const double px = pxForIndexAndSpacing(double(i) / double(steps_), stepSpacing_);
        const double gammaLevel = std::pow(px, gamma_) * range + black;
        const double s = px <= 0.04045 ? px * 0.07739943839475116 : std::pow((px + 0.055) / 1.055, 2.4);
        const double srgbLevel = s * range + black;
        levels[i] = float(useSrgb ? srgbLevel : gammaLevel);
        qDebug("\t#%3d \t%.3f \t%7.3f \t%7.3f \t%7.3f", int(i), px, gammaLevel, srgbLevel, double(levels[i]));
    }
}

void Calibrator::setMeasuringGains_(double value)
{
    if (usingCoroutines) {
        coSetRGBGains_(value, value, value);
        sendRGBGains_(value, value, value, ControlDefault);
    } else {
        setRGBGains_(value, value, value, ControlDefault);
    }
}

double Calibrator::getAmbientLevel_()
{
    setStatusString(QStringLiteral("Getting ambient black level..."));
    setMeasuringGains_(0.0);
    if (going_()) {
        delay_(readDelay_ + 3000);
        readForCorrection_(int(readCount_));
    }
    qDebug("ambient black %.3f nits", reading.luminance);
    return reading.luminance;
}

double Calibrator::getBrightestPoint_()
{
    setStatusString(QStringLiteral("Getting bright level..."));
    setMeasuringGains_(maximumValue_);
    if (going_()) {
        delay_(readDelay_ + 3000);
        readForCorrection_(int(readCount_));
    }
    return reading.luminance;
}

void Calibrator::calibrateSteps(uint start)
{
    if (start != 0 && steps_ != storedSteps) {
        qDebug("Can't resume correction because number of steps has changed: set to %u to resume", storedSteps);
        Q_EMIT done(number_, false);
        return;
    }
    if (resumeStep_ < start) {
        qDebug("Warning: resuming after the the first failed step; correction will contain gaps");
        return;
    }

    // ---- set-up
    stepsToGo = steps_ - start;
    startStep = start;
    minimumValue = 0.0;
    maximumValue_ = 1.0;
    initialGain = 1.0;
    // A cancelled display-wide opening must not leave its control type to
    // the next run.
    defaultControlType = ControlRGB;
    beginTask_();
    startTime = QDateTime::currentDateTime();
    stoppedAtLimit = false;
    currentStep = start;
    setResumeStep(start);
    setProgress(0.0);
    usingCoroutines = true;
    colorimeterErrorType_ = ErrorType();
    failure.clear();
    displayError = ErrorType();

    const char* word = trust1stPoint ? "Assuming" : "Target";
    if (useSrgb)
        qDebug("%s %.0f K, %.4f Duv, %.0f nits; sRGB; %d steps, %d readings, %d msecs delay, ±%.2f%%", word,
               targetCCT_, targetDuv_, targetLum_, int(steps_), int(readCount_), int(readDelay_), errorAllowed_);
    else
        qDebug("%s %.0f K, %.4f Duv, %.0f nits; gamma (HDR) %.2f; %d steps, %d readings, %d msecs delay, ±%.2f%%",
               word, targetCCT_, targetDuv_, targetLum_, gamma_ / 2.4, int(steps_), int(readCount_),
               int(readDelay_), errorAllowed_);

    auto afterLevel = [this](double level) {
        displayCalibration(QStringLiteral("After level %1 %2...").arg(level, 0, 'f', 2).arg(luminanceUnits), points);
    };
    auto storeDisplayGains = [](CalibrationPoint& p, const RGBValues& g) {
        p.redDisplayGain = g.red;
        p.greenDisplayGain = g.green;
        p.blueDisplayGain = g.blue;
    };

    bool ok = false;
    if (start == 0) {
        storedSteps = steps_;
        levels = QList<float>(qsizetype(steps_) + 1, 0.0f);
        points = QList<CalibrationPoint>(qsizetype(steps_) + 1);
        displayCalibration(QStringLiteral("Starting new correction..."), points);

        if (trust1stPoint) {
            // The brightest measured point becomes the target.
            qDebug("Initial DisplayGains %.3f, %.3f, %.3f", displayGains.red, displayGains.green, displayGains.blue);
            double black = 0.0;
            if (ambientBlack_) {
                qDebug("get black level...");
                black = getAmbientLevel_();
            }
            points[0].luminanceTarget = points[0].luminance = black;
            currentStep += 1;

            qDebug("get brightest point...");
            const double bright = getBrightestPoint_();
            if (going_() && !ioErrors() && bright != 0.0) {
                storeDisplayGains(points[0], displayGains);
                gains = lastGains = {initialGain, initialGain, initialGain};
                saveThisToLast_();
                luminanceScale = targetLum_ / bright;
                cctAdjust = targetCCT_ - reading.cct;
                duvAdjust = targetDuv_ - reading.duv;
                qDebug("adjustments Lum %.2f, CCT %.0f, duv %.4f", luminanceScale, cctAdjust, duvAdjust);
                targetLum_ /= luminanceScale;
                targetCCT_ -= cctAdjust;
                targetDuv_ -= duvAdjust;
                qDebug("Adjusted targets Lum %.2f, CCT %.0f, duv %.4f", targetLum_, targetCCT_, targetDuv_);
                qDebug("max level %.3f, black level %.3f", bright, black);

                captureCalibration(points[steps_], -1.0);
                formatPointLine_(QStringLiteral("Brightest point"), points[steps_]);
                formatStepTable_(black);
                setResumeStep(currentStep);
                afterLevel(levels[steps_]);

                qDebug("set initial gains...");
                coSetInitialGains_();
                ok = true;
            }
        } else {
            // The brightest level is found through the display-wide gains.
            cctAdjust = 0.0;
            duvAdjust = 0.0;
            luminanceScale = 1.0;
            if (mode_ == ModeLinearity) {
                coSetRGBGains_(initialGain, initialGain, initialGain);
                sendRGBGains_(initialGain, initialGain, initialGain, ControlRGB);
                defaultControlType = ControlDisplayGain;
                maximumValue_ = Limits::kDisplayGain.high; // what the processor takes back
            }
            double black = 0.0;
            if (ambientBlack_)
                black = getAmbientLevel_();
            points[0].luminanceTarget = points[0].luminance = black;
            formatStepTable_(black);
            qDebug("set initial gains");
            if (going_() && !ioErrors())
                coSetInitialGains_();
            currentStep += 1;

            renewCoAdjust_(targetLum_);
            const bool reached = driveAdjustment_();

            if (running_ && reached) {
                displayGains = gains;
                storeDisplayGains(points[0], displayGains);
                gains = lastGains = {initialGain, initialGain, initialGain};
                saveThisToLast_();
                captureCalibration(points[steps_], targetLum_);
                setResumeStep(currentStep);
                qDebug("target level %.3f, measured level %.3f, black level %.3f", targetLum_,
                       points[steps_].luminance, black);
                afterLevel(levels[steps_]);
            }
            ok = running_ && reached;
            defaultControlType = ControlRGB;
            maximumValue_ = initialGain;
        }
    } else {
        displayCalibration(QStringLiteral("Resuming correction..."), points);
        targetLum_ /= luminanceScale;
        targetCCT_ -= cctAdjust;
        targetDuv_ -= duvAdjust;
        qDebug("Adjusted targets Lum %.2f, CCT %.0f, duv %.4f", targetLum_, targetCCT_, targetDuv_);
        if (points.size() < qsizetype(steps_) + 1)
            points.resize(qsizetype(steps_) + 1);
        if (levels.size() < qsizetype(steps_) + 1)
            levels.resize(qsizetype(steps_) + 1);
        const CalibrationPoint& last = points.at(steps_ - start + 1);
        qDebug("Setting RGB to last known good levels: %.6f, %.6f, %.6f", last.red, last.green, last.blue);
        gains = {last.red, last.green, last.blue};

        renewCoGainSet_();
        while (!gainSetCoroutine.done()) {
            gainSetCoroutine.resume();
            if (!setAndReadVantorRGB_())
                break;
        }
        gainSetCoroutine.destroy();
        ok = going_();
    }

    // ---- levels, from bright to dark
    for (int i = start == 0 ? int(steps_) - 1 : int(steps_ - start); i >= 1 && ok && running_; --i) {
        currentStep += 1;
        qDebug("******** LEVEL %d - LUMINANCE %.2f ********", i, double(levels[i]));
        renewCoAdjust_(levels[i]);
        const bool reached = driveAdjustment_();
        // A level that failed is not stored: a resume starts there again.
        if (running_ && reached) {
            captureCalibration(points[i], levels[i]);
            setResumeStep(currentStep);
        }
        ok = running_ && reached;
        afterLevel(levels[i]);
    }

    // ---- end
    // A run that stopped before its first level has no table to show.
    const bool anyLevel = std::any_of(points.cbegin() + std::min<qsizetype>(1, points.size()), points.cend(),
                                      [](const CalibrationPoint& p) { return p.cct != 0.0 && p.luminance != 0.0; });
    if (anyLevel) {
        displayCalibration(QStringLiteral("Finished Correction:"), points);
    } else {
        Q_EMIT clearLinearityLog();
        Q_EMIT appendLinearityLog(QStringLiteral("No level was measured."));
    }
    const bool completed = running_;
    QString status;
    if (!running_) {
        if (!stoppedAtLimit)
            status = QStringLiteral("Correction cancelled");
    } else if (ok) {
        status = QStringLiteral("Correction completed without error");
        setResumeStep(0);
        Q_EMIT correctionCompleted();
    } else {
        // The cause, unless it was recorded when it happened; with none the
        // status is left as it is.
        failCorrection_();
        status = failure;
    }
    if (!status.isEmpty()) {
        setStatusString(status);
        qDebug("%s", qUtf8Printable(status));
    }

    durationSeconds = startTime.secsTo(QDateTime::currentDateTime());
    stopRunning_();
    setProgress(-1.0);
    Q_EMIT done(number_, completed);
}
