// Veltranor: starting, stopping and finishing runs of every mode, the
// processor's measuring state and the engine's configuration.
#include "veltranor.h"

#include "vantor.h"

#include <QDebug>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

const QString kUniformity = QStringLiteral("Uniformity");
const QString kCancelled = QStringLiteral("Correction cancelled");
// While the processor's tear-down of a linearity run waits (%1: the run's outcome).
const QString kRestoring = QStringLiteral("%1; restoring the processor...");
// A stopped run whose restore the processor never answered (%1: the outcome).
const QString kNotRestored = QStringLiteral("%1; the processor did not answer its restore within %2 s");
// A stopped run whose restore a second Stop ended (%1: the outcome).
const QString kRestoreStopped = QStringLiteral("%1; the restore was stopped, the processor was not put back");
// A stopped run whose restore the processor refused (%1: the outcome, %2: its error).
const QString kRestoreFailed = QStringLiteral("%1; the processor was not put back: %2");
const QString kSrgbRefused =
    QStringLiteral("Correction canceled: VANTOR Gamma (HDR) must be 1.0 to correct using sRGB.");

bool uniformityMode(Calibrator::Mode mode)
{
    return mode == Calibrator::ModeBalance || mode == Calibrator::ModeTemplate;
}

QString plural(qint64 count)
{
    return count == 1 ? QString() : QStringLiteral("s");
}

} // namespace

const QString Veltranor::kSendingCorrection = QStringLiteral("Sending the correction to the processor...");

// ---------------------------------------------------------------- starting

void Veltranor::setRunning(bool running)
{
    if (running == running_)
        return;
    if (running && refuseUnlessIdle_())
        return;
    if (running) {
        beginPhase_(RunPhase::Busy);
        setStatus(0);
        if (calibrator_)
            calibrator_->sendPerLdm = display_ != vantor_;
        if (uniformityMode(mode_)) {
            setResumeStep(0);
            if (!setupBalance()) {
                setStatus(-1);
                abandonStart_();
                return;
            }
            // A Stop taken while the run was being built.
            if (!running_) {
                abandonStart_();
                return;
            }
        } else {
            if (!setUpProcessor_())
                return;
            const double effectiveGamma = display_ == vantor_ ? savedGamma_ : gamma_;
            const bool srgb = useSrgb();
            if (srgb && effectiveGamma != 2.4) {
                qDebug("Correction canceled: VANTOR Gamma (HDR) is %.2f, must be 1.0 for sRGB corrections.",
                       effectiveGamma / 2.4);
                refuseSrgb_();
                return;
            }
            qDebug("%s", srgb ? "Correcting to sRGB." : "Correcting to VANTOR gamma.");
            setCorrectionParameters();
        }
        emitTaskStart_();
        return;
    }
    // The stopped task may wait in a processor request that the processor
    // holds for a long time: end it now. Until the engine's done, every new
    // request of the processor ends at once too, so the task cannot start
    // another wait on its way out.
    // While the processor is prepared, a request of the set-up may still be
    // resolving the address: refused too, it cannot start and wait unseen.
    // The set-up stays its phase until its request has returned.
    running_ = false;
    const bool preparing = phase_ == RunPhase::SettingUp;
    if ((donePending() || preparing) && vantor_ && display_ == vantor_)
        vantor_->setRefusing(true);
    else
        cancelPhaseRequests_();
    // The stopped engine's step texts, queued or still to come, no longer
    // reach the status line; its done tells the outcome.
    if (phase_ == RunPhase::Running)
        phase_ = RunPhase::Ending;
    settleBusy_();
    Q_EMIT runningChanged(false);
}

void Veltranor::beginPhase_(RunPhase phase)
{
    phase_ = phase;
    running_ = true;
    phaseStart_ = vantor_ ? vantor_->nextRequest() : 0;
}

void Veltranor::beginBusy_()
{
    beginPhase_(phase_ == RunPhase::Idle ? RunPhase::Busy : phase_);
    setStatus(0);
    if (calibrator_)
        calibrator_->setTask(Calibrator::TaskNothing);
    Q_EMIT runningChanged(true);
}

void Veltranor::abandonStart_()
{
    running_ = false;
    phase_ = RunPhase::Idle;
}

void Veltranor::settleBusy_()
{
    if (phase_ == RunPhase::Busy && !running_ && phaseWaits_ == 0)
        phase_ = RunPhase::Idle;
}

void Veltranor::cancelPhaseRequests_()
{
    if (vantor_ && display_ == vantor_)
        vantor_->cancelFrom(phaseStart_);
    else if (display_)
        display_->cancel();
}

void Veltranor::announceRun_()
{
    // Only the processor's preparation waits; elsewhere the engine starts at once.
    if (!vantor_ || display_ != vantor_ || !calibrator_)
        return;
    phase_ = RunPhase::SettingUp;
    QObject::disconnect(engineRunning_);
    Q_EMIT runningChanged(true);
    engineRunning_ = connect(this, &Veltranor::runningChanged, this, &Veltranor::tellEngine_);
}

void Veltranor::endSetUpRefusal_()
{
    if (vantor_ && !donePending())
        vantor_->setRefusing(false);
}

bool Veltranor::setUpProcessor_()
{
    announceRun_();
    setupVantor();
    // A Stop during the set-up refused its later requests; the processor's
    // restore is sent as usual.
    endSetUpRefusal_();
    if (running_)
        return true;
    // Stopped while the processor was being prepared: put it back and never
    // start the engine.
    restoreAfterStop_();
    return false;
}

void Veltranor::restoreAfterStop_()
{
    if (!vantor_ || display_ != vantor_) {
        abandonStart_();
        return;
    }
    // The processor's restore offers Stop again: while it waits the window
    // says so, and a Stop ends it.
    const TearDown end = restoreUnstartedRun_(kCancelled);
    setStatusString(restoreText_(kCancelled, end));
    setStatus(-1);
}

Veltranor::TearDown Veltranor::restoreUnstartedRun_(const QString& outcome)
{
    // Nothing starts until the restore has returned.
    phase_ = RunPhase::Restoring;
    setStatusString(kRestoring.arg(outcome));
    const TearDown end = stoppedTearDown_([this] { return resetVantor(true); });
    phase_ = RunPhase::Idle;
    return end;
}

void Veltranor::refuseSrgb_()
{
    // Off the processor nothing was prepared, and the scene never heard of
    // the run.
    if (!vantor_ || display_ != vantor_) {
        setStatusString(kSrgbRefused);
        abandonStart_();
        return;
    }
    // The processor is put back within the run's own busy state, bounded and
    // told as the restore after a Stop.
    const QString outcome = kSrgbRefused.chopped(1);
    const TearDown end = restoreUnstartedRun_(outcome);
    endRun_();
    if (end.error.code == 0) {
        setStatusString(kSrgbRefused);
    } else {
        setStatusString(restoreText_(outcome, end));
        setStatus(-1);
    }
}

Veltranor::TearDown Veltranor::stoppedTearDown_(const std::function<ErrorType()>& request)
{
    // A busy phase of its own when the stopped phase has ended already.
    const bool ownPhase = !running_;
    if (ownPhase)
        beginBusy_();
    QTimer limit;
    bool gaveUp = false;
    limitStoppedTearDown_(limit, gaveUp);
    TearDown end;
    {
        const PhaseWait wait(*this);
        end.error = request();
    }
    limit.stop();
    end.gaveUp = gaveUp;
    end.stopped = !running_ && !gaveUp;
    if (ownPhase)
        endRun_();
    return end;
}

QString Veltranor::restoreText_(const QString& outcome, const TearDown& end)
{
    if (end.error.code == 0)
        return outcome;
    if (end.gaveUp)
        return kNotRestored.arg(outcome).arg(kStoppedTearDownLimitSeconds);
    if (end.stopped)
        return kRestoreStopped.arg(outcome);
    return kRestoreFailed.arg(outcome, end.error.oneLine());
}

void Veltranor::limitStoppedTearDown_(QTimer& timer, bool& gaveUp)
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, [this, &gaveUp] {
        qDebug("The processor did not answer the tear-down within %d s; giving up.", kStoppedTearDownLimitSeconds);
        gaveUp = true;
        cancelPhaseRequests_();
    });
    timer.start(kStoppedTearDownLimitSeconds * 1000);
}

void Veltranor::tellEngine_(bool running)
{
    // The engine reads the task when the start arrives; a busy phase's start
    // (task 0) still queued when a run has set its task would otherwise run
    // that task, and the run's own start would then run it a second time.
    Q_EMIT engineRunningChanged(running, int(calibrator_->task()));
}

bool Veltranor::refuseUnlessIdle_()
{
    if (idle())
        return false;
    qDebug("%s", running_ ? "A run is in progress; nothing started." : "The previous run is still ending; nothing started.");
    // Announced even when the text is already shown: the status line may
    // have been cleared since the last refusal.
    statusString_ = running_ ? QStringLiteral("A run is in progress; try again when it has stopped.")
                             : QStringLiteral("The previous run is still ending; try again when it has stopped.");
    Q_EMIT statusStringChanged();
    return true;
}

void Veltranor::emitTaskStart_()
{
    // Every task but "nothing" answers with done; until it has, no other
    // task starts (its done would be taken for the new run's).
    const bool announced = phase_ == RunPhase::SettingUp;
    phase_ = calibrator_ && calibrator_->task() != Calibrator::TaskNothing ? RunPhase::Running : RunPhase::Busy;
    runMode_ = mode_;
    completionNext_ = false;
    heldCompletion_.clear();
    engineText_.clear();
    if (announced) {
        // The scene knows already: only the engine starts now.
        tellEngine_(true);
        return;
    }
    Q_EMIT runningChanged(true);
}

void Veltranor::resume()
{
    if (refuseUnlessIdle_())
        return;
    beginPhase_(RunPhase::Busy);
    setStatus(0);
    if (mode_ == Calibrator::ModeLinearity) {
        qDebug("======== Resuming correction ========");
        if (!setUpProcessor_())
            return;
        setCorrectionParameters();
        calibrator_->setTask(Calibrator::TaskResume);
    } else {
        if (!setupBalance() || !running_) {
            abandonStart_();
            return;
        }
    }
    emitTaskStart_();
}

void Veltranor::test()
{
    if (refuseUnlessIdle_())
        return;
    beginPhase_(RunPhase::Busy);
    setStatus(0);
    setCorrectionParameters();
    calibrator_->setTask(Calibrator::TaskTestReadCounts);
    setResumeStep(0);
    emitTaskStart_();
}

void Veltranor::takeMeasurement()
{
    if (refuseUnlessIdle_())
        return;
    beginPhase_(RunPhase::Busy);
    setStatus(0);
    // Consecutive measurements collect in the log.
    if (calibrator_->task() != Calibrator::TaskMeasure)
        clearLinearityLog();
    setCorrectionParameters();
    calibrator_->setTask(Calibrator::TaskMeasure);
    emitTaskStart_();
}

void Veltranor::runNothing()
{
    // While a stopped run is ending, a busy phase would hand its task a
    // running flag again.
    if (refuseUnlessIdle_())
        return;
    beginBusy_();
}

bool Veltranor::setupBalance()
{
    if (!display_ || display_->ldmCount() == 0 || !uniformityMode(mode_))
        return false;
    if (imageSource_)
        imageSource_->useSavedExposure(true);
    uniformityStart_ = QDateTime::currentDateTime();
    if (mode_ == Calibrator::ModeTemplate) {
        qDebug("Adjustable Tiles: %d,  Ldms: %d", int(display_->adjustableTileCount()),
               int(display_->adjustableLdmCount()));
        if (!buildTemplaters())
            return false;
    } else {
        buildBalancers();
    }
    // Without adjusters the engine would run whatever task it was given last.
    if (adjusters_.isEmpty()) {
        qDebug("No adjustable LDMs; nothing to adjust.");
        return false;
    }
    setAdjustmentParameters(mode_);
    return true;
}

// ---------------------------------------------------------------- engine configuration

void Veltranor::setAdjustmentParameters(Mode mode)
{
    if (adjusters_.isEmpty())
        return;
    adjusterCount_ = adjusters_.size();
    if (display_)
        display_->setCycling(false);
    const uint readDelay = removeReflections_ ? 0 : readDelay_;
    const auto configure = [&](Calibrator* c) {
        c->setBalanceTargets(balanceTargetRed_, balanceTargetGreen_, balanceTargetBlue_);
        c->setReadDelay(readDelay);
        c->setReadCount(1);
        c->setErrorAllowed(0.0);
        c->setHighGainLimit(highGainLimit_);
        c->setLowGainLimit(lowGainLimit_);
    };
    calibrator_->setMode(mode);
    calibrator_->setTask(mode == Calibrator::ModeBalance ? Calibrator::TaskBalance : Calibrator::TaskTemplate);
    configure(calibrator_);
    for (Calibrator* adjuster : std::as_const(adjusters_))
        configure(adjuster);
    calibrator_->setLoggable(true);
    calibrator_->setAdjusters(adjusters_);
    calibrator_->setMacropixels(uniformityLdms_);
    calibrator_->setTiles(uniformityTiles_);
}

void Veltranor::setCorrectionParameters()
{
    const double processorTarget = vantor_ ? vantor_->lumaMax() * savedBrightness_ : 0.0;
    const bool onVantor = display_ == vantor_;
    if (display_)
        display_->setCycling(false);
    calibrator_->setMode(Calibrator::ModeLinearity);
    calibrator_->setTask(Calibrator::TaskCalibrate);
    if (onVantor) {
        const double cct = std::clamp(savedCct_, 0.0, double(std::numeric_limits<uint>::max()));
        calibrator_->setTargetCCT(uint(cct));
        calibrator_->setTargetDuv(savedDuv_);
        calibrator_->setGamma(savedGamma_);
    } else {
        calibrator_->setTargetCCT(targetCCT_);
        calibrator_->setTargetDuv(targetDuv_);
        calibrator_->setGamma(gamma_);
    }
    calibrator_->useSrgb = useSrgb();
    calibrator_->trust1stPoint = trust1stPoint_;
    if (display_)
        calibrator_->setInitialDisplayGains(display_->displayGainRed(), display_->displayGainGreen(),
                                            display_->displayGainBlue());
    calibrator_->setTargetLum(onVantor ? processorTarget / 100.0 : double(brightnessLevel_));
    calibrator_->setReadDelay(readDelay_);
    calibrator_->setReadCount(colorimeter_ && colorimeter_->spectrometer() ? 1u : readCount_);
    calibrator_->setSteps(steps_);
    calibrator_->setAmbientBlack(ambientBlack_);
    calibrator_->setStepSpacing(stepSpacing_);
    calibrator_->setErrorAllowed(errorAllowed_);
}

// ---------------------------------------------------------------- processor state

void Veltranor::setupVantor()
{
    if (!vantor_ || display_ != vantor_)
        return;
    displayPoll_ = false;
    qDebug("Setting up VANTOR for correction.");
    savedBrightness_ = vantor_->percentBrightness();
    savedCct_ = vantor_->cct();
    savedDuv_ = vantor_->duv();
    savedGamma_ = vantor_->gamma();
    eotfType_ = vantor_->eotfType();

    vantor_->updatesEnabled = false;
    vantor_->setRGB(0, 0.0, 0.0, 0.0);
    vantor_->setCurvesEnabled(false);
    vantor_->setTestPatternEnabled(true);
    qDebug("Veltranor::setupVantor(): updating vantor");
    updateVantor_();
}

ErrorType Veltranor::resetVantor(bool completed)
{
    if (!vantor_ || display_ != vantor_)
        return {};
    qDebug("Resetting VANTOR after correction.");
    vantor_->updatesEnabled = false;
    vantor_->setTestPatternEnabled(false);
    vantor_->setCurvesEnabled(true);
    vantor_->setRGB(0, 1.0, 1.0, 1.0);
    qDebug("resume %d, completed %d", int(resumeStep_), int(completed));

    const bool cancelledInFirstStep = !completed && resumeStep_ == 0;
    const bool zeroGain =
        vantor_->displayGainRed() == 0.0 || vantor_->displayGainGreen() == 0.0 || vantor_->displayGainBlue() == 0.0;
    if (zeroGain || (cancelledInFirstStep && !trust1stPoint_)) {
        qDebug("%s", cancelledInFirstStep ? "Cancelled in first step; reset display gains"
                                          : "Display gains zero; resetting");
        // Stored only: the update below sends it with the rest.
        vantor_->setDisplayGainRGB(1.0, 1.0, 1.0);
    }
    const ErrorType error = updateVantor_();
    displayPoll_ = true;
    return error;
}

ErrorType Veltranor::updateVantor_()
{
    const ErrorType error = busyRequest_(QString(), [this] {
        vantor_->updatesEnabled = true;
        return vantor_->updateVantor();
    });
    if (error.code != 0)
        qDebug("Veltranor::updateVantor_: error %s", qUtf8Printable(error.message));
    return error;
}

ErrorType Veltranor::busyRequest_(const QString& waitingFor, const std::function<ErrorType()>& request,
                                  bool* stopped)
{
    const bool ownPhase = !running_;
    if (ownPhase)
        beginBusy_();
    if (!waitingFor.isEmpty())
        setStatusString(waitingFor);
    ErrorType error;
    {
        const PhaseWait wait(*this);
        error = request();
    }
    if (stopped)
        *stopped = !running_;
    if (ownPhase)
        endRun_();
    return error;
}

// ---------------------------------------------------------------- finishing

void Veltranor::calibratorDone(uint number, bool completed)
{
    Q_UNUSED(number)
    // The tear-down belongs to the run that ended, not to a mode chosen since.
    const Mode endedMode = donePending() ? runMode_ : mode_;
    // Every text of the engine's run came before its done.
    const bool muted = phase_ == RunPhase::Ending;
    if (donePending())
        phase_ = RunPhase::Idle;
    completionNext_ = false;
    if (vantor_)
        vantor_->setRefusing(false);
    const bool ranToEnd = running_;
    // The engine's done says completed also for a run that stopped on a
    // device's error; the cause it recorded tells them apart.
    const bool failed = !calibrator_->failure.isEmpty();

    if (uniformityMode(endedMode)) {
        qDebug("calibratorDone: all done.");
        if (!adjusters_.isEmpty()) {
            unsigned fewest = std::numeric_limits<unsigned>::max(), most = 0;
            int fewestPoints = std::numeric_limits<int>::max(), mostPoints = std::numeric_limits<int>::min();
            qint64 iterationSum = 0, pointSum = 0;
            for (Calibrator* adjuster : std::as_const(adjusters_)) {
                const unsigned iterations = adjuster->iterations;
                fewest = std::min(fewest, iterations);
                most = std::max(most, iterations);
                iterationSum += iterations;
                const int points = adjuster->pointsWithinError(0.0);
                fewestPoints = std::min(fewestPoints, points);
                mostPoints = std::max(mostPoints, points);
                pointSum += points;
            }
            // No averages over nothing: the count recorded at configuration may be 0.
            const qint64 configured = adjusterCount_ > 0 ? adjusterCount_ : adjusters_.size();
            qDebug("%s took %d - %d iterations; %lld on average.", qUtf8Printable(kUniformity), int(fewest),
                   int(most), iterationSum / adjusters_.size());
            qDebug("%s had %d - %d weighted points; %d on average.", qUtf8Printable(kUniformity), fewestPoints,
                   mostPoints, int(pointSum / configured));
        } else {
            qDebug("%s had no adjusters.", qUtf8Printable(kUniformity));
        }
        if (ranToEnd)
            setResumeStep(0);
        setProgress(-1.0);
        if (imageSource_)
            imageSource_->useSavedExposure(false);
        if (ranToEnd && failed) {
            // The engine stopped on a device's error: it says what failed.
            const QString reason = calibrator_->failure;
            setStatusString(reason.isEmpty() ? QStringLiteral("%1 failed.").arg(kUniformity)
                                             : QStringLiteral("%1 failed: %2").arg(kUniformity, reason));
            setStatus(-1);
        } else if (ranToEnd) {
            setStatusString(QStringLiteral("%1 completed.").arg(kUniformity));
            setStatus(1);
        } else {
            setStatusString(QStringLiteral("%1 cancelled; display left in indeterminate state.").arg(kUniformity));
            setStatus(-1);
        }
        qDebug("%s took%s.", qUtf8Printable(kUniformity), qUtf8Printable(elapsedTimeString()));
        deleteAdjusters();
        endRun_();
        return;
    }

    const Calibrator::TaskType task = calibrator_->task();
    if (task == Calibrator::TaskCalibrate || task == Calibrator::TaskResume) {
        // Nothing starts until the closing requests have returned.
        phase_ = RunPhase::Restoring;
        if (!ranToEnd)
            beginBusy_();
        // A correction that failed is torn down as an unfinished one.
        const bool finished = completed && !failed;
        qDebug("Veltranor: Correction %s.", finished ? "completed" : completed ? "failed" : "cancelled");
        // The operator's correction (read or measured) gives way only to a
        // run that measured levels.
        QList<CalibrationPoint> earlier = std::move(correctionPoints);
        correctionPoints = calibrator_->points;
        setResumeStep(calibrator_->resumeStep());
        // The outcome the engine told is shown again once the processor is
        // restored; "completed" only once the correction has reached it.
        // (The engine's own text, not a refusal shown since.)
        const QString told = !ranToEnd ? kCancelled : !engineText_.isEmpty() ? engineText_ : statusString_;
        const QString held = std::exchange(heldCompletion_, QString());
        const QString outcome = held.isEmpty() ? told : held;
        const bool onProcessor = vantor_ && display_ == vantor_;
        if (onProcessor)
            setStatusString(finished ? kSendingCorrection : kRestoring.arg(outcome));
        // The operator has stopped the run: its closing requests end without
        // a second Stop when the processor does not answer them.
        QTimer limit;
        bool gaveUp = false;
        if (!ranToEnd && onProcessor)
            limitStoppedTearDown_(limit, gaveUp);
        ErrorType closing = resetVantor(finished);
        const ErrorType restored = closing;
        // A Stop during the closing requests ends them: nothing more is sent.
        bool stopped = !running_ || gaveUp;
        const bool ok = processCalibration();
        if (!ok)
            correctionPoints = std::move(earlier);
        const qint64 intervals = qint64(correctionPoints.size()) - 1;
        const bool whole = finished && ok && intervals == qint64(steps_);
        qDebug("%lld point%s %s.", static_cast<long long>(intervals), intervals == 1 ? " is" : "s are",
               ok ? "good" : "not useful");
        if (ok) {
            showCalibrationStats();
            setFilename(correctionFileName_());
            setCalibrationAvailable(true);
            if (!stopped) {
                const ErrorType sent = sendCalibration();
                if (closing.code == 0)
                    closing = sent;
                stopped = !running_ || gaveUp;
            }
        }
        limit.stop();
        if (phase_ == RunPhase::Restoring)
            phase_ = RunPhase::Idle;
        // A correction that never reached the processor is no success; it
        // stays available to save and to send again from the file.
        if (whole && closing.code != 0)
            setStatusString(QStringLiteral("Correction could not be sent: %1").arg(closing.oneLine()));
        else if (!ranToEnd && onProcessor)
            setStatusString(restoreText_(outcome, TearDown {restored, gaveUp, stopped && !gaveUp}));
        else
            setStatusString(outcome);
        if (stopped)
            qDebug("The processor's tear-down was stopped: %s", qUtf8Printable(closing.message));
        setStatus(whole && closing.code == 0 ? 1 : -1);
    } else if (muted) {
        // A stopped measurement: the engine's last word.
        setStatusString(engineText_);
    }
    endRun_();
}

// ---------------------------------------------------------------- status

void Veltranor::updateStatusString(QString newString)
{
    engineText_ = newString;
    if (phase_ == RunPhase::Ending)
        return;
    // A linearity run's closing requests are still to be sent: its
    // completion is told once they have reached the processor.
    if (std::exchange(completionNext_, false)) {
        heldCompletion_ = newString;
        return;
    }
    setStatusString(newString);
}

void Veltranor::engineCompleted_()
{
    completionNext_ = phase_ == RunPhase::Running && runMode_ == Calibrator::ModeLinearity;
}

void Veltranor::updateProgress()
{
    const QString noun = mode_ == Calibrator::ModeTemplate ? QStringLiteral("macropixels") : QStringLiteral("LDMs");
    qsizetype stillRunning = 0;
    unsigned fewest = std::numeric_limits<unsigned>::max();
    for (Calibrator* adjuster : std::as_const(adjusters_)) {
        if (!adjuster->running())
            continue;
        ++stillRunning;
        fewest = std::min(fewest, unsigned(adjuster->iterations));
    }
    // Nothing left adjusting: the run is about to end and has nothing to report.
    if (stillRunning == 0)
        return;
    const double fraction = btMaxIterations_ == 0 ? 0.0 : double(fewest) / double(btMaxIterations_);
    const QString remaining = remainingTime(uniformityStart_, fraction);
    if (fewest != 0)
        setStatusString(QStringLiteral("%1 %2 of %3 %4: iteration %5%6...")
                            .arg(kUniformity)
                            .arg(stillRunning)
                            .arg(adjusterCount_)
                            .arg(noun)
                            .arg(fewest)
                            .arg(remaining));
    else
        setStatusString(QStringLiteral("%1 %2 of %3 %4: setting initial gains%5...")
                            .arg(kUniformity)
                            .arg(stillRunning)
                            .arg(adjusterCount_)
                            .arg(noun, remaining));
    setProgress(fraction);
}

QString Veltranor::elapsedTimeString() const
{
    const qint64 s = uniformityStart_.isValid() ? uniformityStart_.secsTo(QDateTime::currentDateTime()) : 0;
    if (s < 1)
        return QStringLiteral(" no time at all");
    const qint64 h = s / 3600, m = (s - 3600 * h) / 60, sec = s - 3600 * h - 60 * m;
    QString text;
    if (h != 0)
        text += QStringLiteral(" %1 hour%2").arg(h).arg(plural(h));
    if (m != 0)
        text += QStringLiteral(" %1 minute%2").arg(m).arg(plural(m));
    text += QStringLiteral(" %1 second%2").arg(sec).arg(plural(sec));
    return text;
}

void Veltranor::clearLinearityLog()
{
    linearityLog_.clear();
}

void Veltranor::appendLinearityLog(QString text)
{
    linearityLog_.appendEntry(QDateTime::currentDateTime(), QString(), LogModel::Info, QString(), text);
}

void Veltranor::fetchLdms()
{
    if (!uniformityMode(mode_) || !display_)
        return;
    // The stopped run may still read the display's LDM records; a busy phase
    // in force (its caller's) is joined.
    const bool joined = phase_ == RunPhase::Busy && running_;
    if (!joined && refuseUnlessIdle_())
        return;
    qDebug("Getting LDM configuration...");
    // The whole Refresh is a busy phase: nothing starts before it has ended.
    if (!joined)
        phase_ = RunPhase::Busy;
    const PhaseWait wait(*this);
    // The pause lets a display that was just switched settle; it waits only
    // while running is set, which is restored afterwards.
    const bool wasRunning = running_;
    running_ = true;
    delay_(300);
    running_ = wasRunning;
    // A busy phase: the window shows the wait for the processor, and Stop
    // ends it; the wall shown before stays.
    const bool onProcessor = vantor_ && display_ == vantor_;
    const QString shown = statusString_;
    bool stopped = false;
    const ErrorType error =
        busyRequest_(onProcessor && !wasRunning ? QStringLiteral("Fetching the wall from the processor...") : QString(),
                     [this] { return display_->fetchLdms(); }, &stopped);
    if (stopped && error.code != 0) {
        qDebug("Fetch LDMs stopped: %s", qUtf8Printable(error.message));
        refreshOutcome_ = QStringLiteral("Fetch LDMs stopped; the wall shown before stays.");
        setStatusString(refreshOutcome_);
        setStatus(-1);
    } else if (error.code == 0 && onProcessor && !wasRunning) {
        // An earlier Refresh's failure is over; any other text shown before stays.
        setStatusString(shown == refreshOutcome_ ? QString() : shown);
    }
    if (error.code != 0 && !stopped) {
        // The wall shown so far stays; the operator is told why it did not change.
        qWarning("Fetch LDMs failed: %s", qUtf8Printable(error.message));
        refreshOutcome_ = QStringLiteral("Fetch LDMs failed: ") + error.message;
        setStatusString(refreshOutcome_);
        setStatus(-1);
    }
}
