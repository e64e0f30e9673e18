#include "calibrator.h"

#include "valuelimits.h"

#include "displaybase.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

using RunLocker = std::lock_guard<std::recursive_mutex>;

const char* const Calibrator::colorStr_[3] = {"  red", "green", " blue"};

std::atomic<Calibrator::TaskType> Calibrator::task_ {Calibrator::TaskCalibrate};

Calibrator::Calibrator(Mode mode, uint number, QObject* parent)
    : QObject(parent)
    , adjustCoroutine(AdjustTask::idle())
    , gainSetCoroutine(AdjustTask::idle())
    , mode_(mode)
    , number_(number)
{
    static const bool registered = [] {
        qRegisterMetaType<ErrorType>();
        qRegisterMetaType<CalibrationPoint>();
        qRegisterMetaType<QList<Macropixel*>>();
        qRegisterMetaType<QList<Tile*>>();
        qRegisterMetaType<QList<Calibrator*>>();
        return true;
    }();
    Q_UNUSED(registered)
}

Calibrator::~Calibrator()
{
    gainSetCoroutine.destroy();
    adjustCoroutine.destroy();
}

// ---------------------------------------------------------------- running

void Calibrator::setRunning(bool value)
{
    setRunningFor(value, task_.load());
}

void Calibrator::setRunningFor(bool value, int sentTask)
{
    TaskType task = TaskType(sentTask);
    // An adjuster driven by the main Calibrator's coroutines only keeps the flag.
    if (usingCoroutines && number_ != 0) {
        running_ = value;
        return;
    }
    RunLocker lock(runMutex);
    if (running_ == value)
        return;
    running_ = value;
    if (value) {
        finishBalancingRequested = false;
        if (task != task_.load()) {
            qDebug("Calibrator #%u: a start sent for task %d came after task %d was set; nothing runs", number_,
                   int(task), int(task_.load()));
            task = TaskNothing;
        }
        // The task runs to its end inside this call.
        switch (unsigned(task)) {
        case TaskNothing:
            break;
        case TaskCalibrate:
            calibrateSteps(0);
            break;
        case TaskMeasure:
            takeMeasurement();
            break;
        case TaskTestReadCounts:
            testReadCounts();
            break;
        case TaskResume:
            calibrateSteps(resumeStep_);
            break;
        case TaskBalance:
        case TaskTemplate:
            balance();
            break;
        default:
            qDebug("Calibrator::setRunning: #%u unknown task type %d", number_, int(task));
            running_ = false;
            break;
        }
    }
    Q_EMIT runningChanged(running_);
}

void Calibrator::beginTask_()
{
    if (usingCoroutines && number_ != 0) {
        running_ = true;
        return;
    }
    RunLocker lock(runMutex);
    if (running_)
        return;
    running_ = true;
    Q_EMIT runningChanged(true);
}

void Calibrator::stopRunning_()
{
    if (usingCoroutines && number_ != 0) {
        running_ = false;
        return;
    }
    RunLocker lock(runMutex);
    if (running_) {
        running_ = false;
        Q_EMIT runningChanged(false);
    }
}

void Calibrator::endTask_(bool completed)
{
    stopRunning_();
    Q_EMIT done(number_, completed);
}

void Calibrator::calibrate()
{
    calibrateSteps(0);
}

void Calibrator::resume()
{
    calibrateSteps(currentStep);
}

void Calibrator::finishBalancing()
{
    finishBalancingRequested = true;
}

// ---------------------------------------------------------------- setters

void Calibrator::setTargetCCT(uint value)
{
    if (targetCCT_ == double(value))
        return;
    targetCCT_ = Limits::kTargetCct.clamp(value);
    Q_EMIT targetCCTChanged();
}

void Calibrator::setTargetDuv(double value)
{
    if (targetDuv_ == value)
        return;
    targetDuv_ = Limits::kTargetDuv.clamp(value);
    Q_EMIT targetDuvChanged();
}

void Calibrator::setTargetLum(double value)
{
    if (qFuzzyCompare(targetLum_, value))
        return;
    targetLum_ = value;
    Q_EMIT targetLumChanged();
}

void Calibrator::setReadDelay(uint value)
{
    const uint clamped = value == 0 ? 0 : uint(Limits::kReadDelay.clamp(value));
    if (readDelay_ == clamped)
        return;
    readDelay_ = clamped;
    Q_EMIT readDelayChanged();
}

void Calibrator::setReadCount(uint value)
{
    const uint clamped = uint(Limits::kReadCount.clamp(value));
    if (readCount_ == clamped)
        return;
    readCount_ = clamped;
    Q_EMIT readCountChanged();
}

void Calibrator::setSteps(uint value)
{
    if (steps_ == value)
        return;
    steps_ = value;
    Q_EMIT stepsChanged();
}

void Calibrator::setGamma(double value)
{
    if (qFuzzyCompare(gamma_, value))
        return;
    gamma_ = Limits::kGamma.clamp(value);
    Q_EMIT gammaChanged();
}

void Calibrator::setMaximumValue(double value)
{
    if (maximumValue_ == value)
        return;
    maximumValue_ = value;
    Q_EMIT maximumValueChanged();
}

void Calibrator::setStatusString(const QString& text)
{
    if (statusString_ == text)
        return;
    statusString_ = text;
    Q_EMIT statusStringChanged(statusString_);
}

void Calibrator::setAmbientBlack(bool value)
{
    if (ambientBlack_ == value)
        return;
    ambientBlack_ = value;
    Q_EMIT ambientBlackChanged();
}

void Calibrator::setStepSpacing(double value)
{
    if (qFuzzyCompare(stepSpacing_, value))
        return;
    stepSpacing_ = value;
    Q_EMIT stepSpacingChanged();
}

void Calibrator::setColorimeterErrorType(const ErrorType& value)
{
    // Only a change between OK and error is stored (ErrorType equality).
    if (colorimeterErrorType_ == value)
        return;
    colorimeterErrorType_ = value;
    Q_EMIT colorimeterErrorTypeChanged();
}

void Calibrator::setColorimeterError(const QString& text)
{
    if (colorimeterError_ == text)
        return;
    colorimeterError_ = text;
    Q_EMIT colorimeterErrorChanged();
}

void Calibrator::setMode(Mode value)
{
    if (mode_ == value)
        return;
    mode_ = value;
    Q_EMIT modeChanged();
}

void Calibrator::setTask(TaskType value)
{
    if (task_ == value)
        return;
    task_ = value;
    Q_EMIT taskChanged();
}

void Calibrator::setProgress(double value)
{
    progress_ = value;
    Q_EMIT progressChanged(value);
}

void Calibrator::setResumeStep(uint value)
{
    if (resumeStep_ == value)
        return;
    resumeStep_ = value;
    Q_EMIT resumeStepChanged();
}

void Calibrator::setErrorAllowed(double value)
{
    if (qFuzzyCompare(errorAllowed_, value))
        return;
    errorAllowed_ = value;
    Q_EMIT errorAllowedChanged();
}

void Calibrator::setLoggable(bool value)
{
    if (loggable_ == value)
        return;
    loggable_ = value;
    Q_EMIT loggableChanged();
}

void Calibrator::setHighGainLimit(double value)
{
    if (qFuzzyCompare(highGainLimit_, value))
        return;
    highGainLimit_ = value;
    Q_EMIT highGainLimitChanged();
}

void Calibrator::setLowGainLimit(double value)
{
    if (qFuzzyCompare(lowGainLimit_, value))
        return;
    lowGainLimit_ = value;
    Q_EMIT lowGainLimitChanged();
}

void Calibrator::setAdjusters(const QList<Calibrator*>& list)
{
    if (adjusters_ == list)
        return;
    adjusters_ = list;
    Q_EMIT adjustersChanged();
}

void Calibrator::setMacropixels(const QList<Macropixel*>& list)
{
    if (macropixels_ == list)
        return;
    macropixels_ = list;
    Q_EMIT macropixelsChanged();
}

void Calibrator::setTiles(const QList<Tile*>& list)
{
    if (tiles_ == list)
        return;
    tiles_ = list;
    Q_EMIT tilesChanged();
}

void Calibrator::setBalanceTargets(double red, double green, double blue)
{
    balanceTargets = {red, green, blue};
}

void Calibrator::setInitialDisplayGains(double red, double green, double blue)
{
    displayGains = {red, green, blue};
}

// ---------------------------------------------------------------- errors

double Calibrator::calibrationError() const
{
    return std::fabs(deltas[Red]) + std::fabs(deltas[Green]) + std::fabs(deltas[Blue]);
}

double Calibrator::maxDeltaError() const
{
    return std::max({std::fabs(deltas[Red]), std::fabs(deltas[Green]), std::fabs(deltas[Blue])});
}

// ---------------------------------------------------------------- display records

Macropixel Calibrator::displayLdm_(uint number) const
{
    DisplayBase* d = display_.load();
    if (!d)
        return Macropixel();
    DisplayBase::Records records(*d);
    const Macropixel* m = records.ldm(number);
    return m ? *m : Macropixel();
}

Tile Calibrator::displayTile_(uint number) const
{
    DisplayBase* d = display_.load();
    if (!d)
        return Tile();
    DisplayBase::Records records(*d);
    const Tile* t = records.tile(number);
    return t ? *t : Tile();
}
