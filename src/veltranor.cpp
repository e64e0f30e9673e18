#include "veltranor.h"

#include "cinemeterii.h"
#include "cr100.h"
#include "valuelimits.h"
#include "simulatedcamerasdk.h"
#include "simulateddisplay.h"
#include "vantor.h"

#include <QAbstractEventDispatcher>
#include <QDateTime>
#include <QDebug>
#include <QDeadlineTimer>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace {

// The central object that says when the settings store cannot be written.
Veltranor* storeReporter = nullptr;

void writeSetting(const QString& key, const QVariant& value)
{
    QSettings settings;
    settings.setValue(key, value);
    settings.sync();
    if (settings.status() != QSettings::NoError && storeReporter)
        storeReporter->settingsNotStored(settings.fileName());
}

// A stored value that the window could never have entered leaves the store.
void dropStored(QSettings& settings, const QString& key, const QString& fallback)
{
    qDebug("Setting %s holds %s, which is out of range; using %s", qUtf8Printable(key),
           qUtf8Printable(settings.value(key).toString()), qUtf8Printable(fallback));
    settings.remove(key);
}

QString keyOf(const Limits::Limit& limit)
{
    return QString::fromLatin1(limit.key.data(), qsizetype(limit.key.size()));
}

// A stored number under its limit (whole numbers are read back as reals and
// truncated): one that is not a finite number takes the default and leaves
// the store; one outside the bounds is clamped, and the clamped value written
// back, or takes the default, as the limit says.
double storedNumber(QSettings& settings, const Limits::Limit& limit, bool whole)
{
    const QString key = keyOf(limit);
    if (!settings.contains(key))
        return limit.fallback;
    bool ok = false;
    double value = settings.value(key).toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        dropStored(settings, key, QString::number(limit.fallback));
        return limit.fallback;
    }
    if (whole)
        value = std::trunc(value);
    if (limit.holds(value) || limit.stored == Limits::Stored::Unbounded)
        return value;
    if (limit.stored == Limits::Stored::Default) {
        dropStored(settings, key, QString::number(limit.fallback));
        return limit.fallback;
    }
    const double clamped = limit.clamp(value);
    qDebug("Setting %s holds %s, which is out of range; clamped to %s", qUtf8Printable(key),
           qUtf8Printable(settings.value(key).toString()), qUtf8Printable(QString::number(clamped)));
    settings.setValue(key, whole ? QVariant(uint(clamped)) : QVariant(clamped));
    return clamped;
}

double storedReal(QSettings& settings, const Limits::Limit& limit)
{
    return storedNumber(settings, limit, false);
}

uint storedWhole(QSettings& settings, const Limits::Limit& limit)
{
    return uint(storedNumber(settings, limit, true));
}

// Settings that only have to be finite numbers (the slider and the balance
// targets bound themselves).
constexpr double kAny = std::numeric_limits<double>::infinity();
constexpr Limits::Limit kStepSpacing {"stepSpacing", -kAny, kAny, "stepspacing", Limits::Stored::Unbounded, 2.0};
constexpr Limits::Limit kBalanceRed {"balanceTargetRed", -kAny, kAny, "balRed"};
constexpr Limits::Limit kBalanceGreen {"balanceTargetGreen", -kAny, kAny, "balGreen"};
constexpr Limits::Limit kBalanceBlue {"balanceTargetBlue", -kAny, kAny, "balBlue"};

// A stored choice: one that is not among them takes the default and leaves
// the store.
uint storedChoice(QSettings& settings, const QString& key, uint fallback, std::initializer_list<uint> choices)
{
    if (!settings.contains(key))
        return fallback;
    bool ok = false;
    const double value = settings.value(key).toDouble(&ok);
    if (ok && std::find(choices.begin(), choices.end(), value) != choices.end())
        return uint(value);
    dropStored(settings, key, QString::number(fallback));
    return fallback;
}

} // namespace

Veltranor::Veltranor(boost::asio::io_context& context, QObject* parent)
    : QObject(parent)
    , context_(context)
{
    calibratorThread_.setObjectName(QStringLiteral("Calibrator"));
    backgroundThread_.setObjectName(QStringLiteral("Background"));

    storeReporter = this;
    QSettings settings;
    appLog_ = GetAppLog();

    // The device choices and the mode go straight into their members.
    meterChoice_ = settings.value(QStringLiteral("colorMeter"), true).toBool();
    displayChoice_ = settings.value(QStringLiteral("output"), false).toBool();
    cameraChoice_ = settings.value(QStringLiteral("camera"), false).toBool();
    const uint storedMode = settings.value(QStringLiteral("mode"), 0).toUInt();
    mode_ = storedMode <= uint(Calibrator::ModeTemplate) ? Mode(storedMode) : Calibrator::ModeLinearity;

    updater_ = new Updater(this);

    cineMeterII_ = new CineMeterII(this);
    cr100_ = new CR100(this);
    setColorimeter(meterChoice_ ? static_cast<Colorimeter*>(cr100_) : cineMeterII_);

    simulatedDisplay_ = new SimulatedDisplay(this);
    simulatedDisplay_->setName(QStringLiteral("Simulated Display"));
    vantor_ = new Vantor(context_, this);

    dummyCamera_ = new ImageSource(this);
    cameraController_ = new CameraController(this);
    dummyCamera_->connect();
    cameraController_->connect();

    connect(cameraController_, &ImageSource::cameraNameChanged, this, &Veltranor::setCameraName); // 1

    background_ = new Background();
    background_->moveToThread(&backgroundThread_);
    connect(&backgroundThread_, &QThread::finished, background_, &QObject::deleteLater); // 2

    setImageSource(cameraChoice_ ? dummyCamera_ : cameraController_);

    // Every other setting passes through its setter, so the pushes into the
    // grab worker happen now. A stored number outside its bounds is clamped
    // (and written back) or takes its default, as its limit says.
    setAmbientBlack(settings.value(QStringLiteral("ambientBlack"), false).toBool());
    setTargetCCT(storedWhole(settings, Limits::kTargetCct));
    setTargetDuv(storedReal(settings, Limits::kTargetDuv));
    setGamma(storedReal(settings, Limits::kGamma));
    setErrorAllowed(storedReal(settings, Limits::kErrorAllowed));
    Limits::Limit brightness = Limits::kBrightness;
    brightness.high = std::min(brightness.high, std::floor(vantor_->lumaMax()));
    setBrightnessLevel(storedWhole(settings, brightness));
    setSteps(storedWhole(settings, Limits::kSteps));
    setStepSpacing(storedReal(settings, kStepSpacing));
    setReadDelay(storedWhole(settings, Limits::kReadDelay));
    setReadCount(storedWhole(settings, Limits::kReadCount));
    setFilepath(settings
                    .value(QStringLiteral("filepath"),
                           QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QLatin1Char('/'))
                    .toString());
    setBalanceTargetRed(storedReal(settings, kBalanceRed));
    setBalanceTargetGreen(storedReal(settings, kBalanceGreen));
    setBalanceTargetBlue(storedReal(settings, kBalanceBlue));
    setTargetTime(settings.value(QStringLiteral("targetTime"), QString()).toString());
    setUseSrgb(settings.value(QStringLiteral("useSRGB"), true).toBool());
    setTrust1stPoint(settings.value(QStringLiteral("trust1st"), false).toBool());
    setHighGainLimit(storedReal(settings, Limits::kHighGainLimit));
    setLowGainLimit(storedReal(settings, Limits::kLowGainLimit));
    setUseDebugOptions(settings.value(QStringLiteral("debug"), false).toBool());
    setAutoControlExposure(settings.value(QStringLiteral("autoControlExp"), true).toBool());
    setRemoveReflections(settings.value(QStringLiteral("removeRefl"), false).toBool());
    setUseLogImages(settings.value(QStringLiteral("logImages"), false).toBool());
    setUseRawImages(settings.value(QStringLiteral("rawImages"), false).toBool());
    setLinearGainBoost(storedWhole(settings, Limits::kLinearGainBoost));
    setRawInterpolation(storedChoice(settings, QStringLiteral("rawInterpolation"), 0, {0, 1, 2, 3, 4, 11, 12}));
    setHighlightRecovery(storedChoice(settings, QStringLiteral("highlights"), 1, {0, 1, 2, 3, 5, 9}));
    setBtCompliantIterations(storedWhole(settings, Limits::kCompliantIterations));
    setBtMinIterations(storedWhole(settings, Limits::kMinIterations));
    setBtMaxIterations(storedWhole(settings, Limits::kMaxIterations));
    setTileMeshWidth(storedWhole(settings, Limits::kTileMeshWidth));
    setTileMeshHeight(storedWhole(settings, Limits::kTileMeshHeight));

    connect(&idleTimer_, &QTimer::timeout, this, &Veltranor::idleUpdate, Qt::QueuedConnection); // 3
    idleTimer_.start(kIdleIntervalSeconds * 1000);

    calibrator_ = new Calibrator(Calibrator::ModeLinearity, 0);
    calibrator_->moveToThread(&calibratorThread_);
    connect(&calibratorThread_, &QThread::finished, calibrator_, &QObject::deleteLater);            // 4
    engineRunning_ = connect(this, &Veltranor::runningChanged, this, &Veltranor::tellEngine_); // 5
    connect(this, &Veltranor::engineRunningChanged, calibrator_, &Calibrator::setRunningFor, Qt::QueuedConnection);
    connect(colorimeter_, &Colorimeter::dataAvailable, calibrator_, &Calibrator::readColorimeterData); // 6
    connect(calibrator_, &Calibrator::takeReading, colorimeter_, &Colorimeter::read);                  // 7

    setDisplay(displayChoice_ ? static_cast<DisplayBase*>(simulatedDisplay_) : vantor_); // 8

    connect(calibrator_, &Calibrator::done, this, &Veltranor::calibratorDone);                      // 9
    connect(calibrator_, &Calibrator::getLdmsObserved, this, &Veltranor::getLdmsObserved);          // 10
    connect(calibrator_, &Calibrator::getTilesObserved, this, &Veltranor::getTilesObserved);        // 11
    connect(this, &Veltranor::ldmsObserved, calibrator_, &Calibrator::macropixelsObserved);         // 12
    connect(this, &Veltranor::tilesObserved, calibrator_, &Calibrator::tilesObserved);              // 13
    connect(calibrator_, &Calibrator::statusStringChanged, this, &Veltranor::updateStatusString);   // 14
    connect(calibrator_, &Calibrator::correctionCompleted, this, &Veltranor::engineCompleted_);
    connect(calibrator_, &Calibrator::progressChanged, this, &Veltranor::setProgress);              // 15
    connect(calibrator_, &Calibrator::updateProgress, this, &Veltranor::updateProgress);            // 16
    connect(calibrator_, &Calibrator::clearLinearityLog, this, &Veltranor::clearLinearityLog);      // 17
    connect(calibrator_, &Calibrator::appendLinearityLog, this, &Veltranor::appendLinearityLog);    // 18

    connect(vantor_, &DisplayBase::outputFrequencyChanged, cameraController_, &ImageSource::displayFrequency); // 19
    cameraController_->displayFrequency(vantor_->outputFrequency());
    connect(vantor_, &Vantor::cctChanged, cameraController_, &ImageSource::displayCct); // 20
    cameraController_->displayCct(int(vantor_->cct()));

    // 21: direct, as the grab worker's flag is atomic: a stop reaches a grab at
    // once, and no queued call is left for the worker to free when it ends.
    connect(this, &Veltranor::runningChanged, background_, &Background::setRunning, Qt::DirectConnection);
    connect(this, &Veltranor::ldmArrayInfo, background_, &Background::setArrayInfo);            // 22
    connect(this, &Veltranor::grabImageData, background_, &Background::grabImageData);          // 23
    connect(background_, &Background::grabImageDataDone, this, &Veltranor::grabImageDataDone);  // 24
    connect(background_, &Background::blankDisplay, this, &Veltranor::blankDisplay);            // 25
    connect(background_, &Background::waitingForPicture, this, &Veltranor::grabWaiting_);
    // The grader lives on this thread; it takes the lens file under its own
    // lock, so an analysis on the Background thread never sees it half set.
    connect(this, &Veltranor::lensFileChanged, tileGrader(), &TileGrader::setLensFile); // 26

    // The derived sRGB choice follows the processor's transfer function.
    connect(vantor_, &Vantor::eotfTypeChanged, this, [this] {
        if (display_ == vantor_ && !useDebugOptions_)
            Q_EMIT useSrgbChanged();
    });

    qDebug("backgrounded, not waitlooped");
    calibratorThread_.start(QThread::InheritPriority);
    backgroundThread_.start(QThread::HighestPriority);

    getLensFiles();
}

Veltranor::~Veltranor()
{
    if (storeReporter == this)
        storeReporter = nullptr;
    qDebug("~Veltranor()");
    if (auto simulated = std::dynamic_pointer_cast<SimulatedCameraSdk>(camerasdk::CameraSdk::platform()))
        simulated->forgetActiveDisplay(display_);
    if (running_) {
        running_ = false;
        Q_EMIT runningChanged(false);
    }
    // The running task may still use the adjusters: stop its thread first.
    calibratorThread_.quit();
    calibratorThread_.wait();
    deleteAdjusters();
    backgroundThread_.quit();
    backgroundThread_.wait();
}

// ---------------------------------------------------------------- devices

TileGrader* Veltranor::tileGrader() const
{
    return background_ ? background_->tileGrader() : nullptr;
}

Colorimeter* Veltranor::cineMeterII() const
{
    return cineMeterII_;
}

void Veltranor::setColorimeter(Colorimeter* meter)
{
    if (meter == colorimeter_)
        return;
    if (calibrator_) {
        if (colorimeter_) {
            disconnect(colorimeter_, &Colorimeter::dataAvailable, calibrator_, &Calibrator::readColorimeterData);
            disconnect(calibrator_, &Calibrator::takeReading, colorimeter_, &Colorimeter::read);
        }
        if (meter) {
            connect(meter, &Colorimeter::dataAvailable, calibrator_, &Calibrator::readColorimeterData);
            connect(calibrator_, &Calibrator::takeReading, meter, &Colorimeter::read);
        }
    }
    colorimeter_ = meter;
    if (mode_ == Calibrator::ModeLinearity)
        clearResumeStep_();
    Q_EMIT colorimeterChanged();
}

void Veltranor::setDisplay(DisplayBase* display)
{
    if (display == display_)
        return;
    const bool wasSimulated = showSimulatedDisplay();
    const bool oldSrgb = display_ ? useSrgb() : false;

    if (display_ && calibrator_)
        disconnect(display_, &DisplayBase::fetchedOutputConfig, this, &Veltranor::fetchedOutputConfig);
    display_ = display;
    if (calibrator_)
        calibrator_->setDisplay(display);
    // Where the simulated camera stands in for the camera, it photographs the wall driven.
    if (auto simulated = std::dynamic_pointer_cast<SimulatedCameraSdk>(camerasdk::CameraSdk::platform()))
        simulated->setActiveDisplay(display);
    if (display_) {
        connect(display_, &DisplayBase::fetchedOutputConfig, this, &Veltranor::fetchedOutputConfig);
        selectedLdm_ = QSettings().value(QStringLiteral("selectedLdm") + display_->address(), 0).toInt();
    }
    clearResumeStep_();
    Q_EMIT displayChanged();
    if (showSimulatedDisplay() != wasSimulated)
        Q_EMIT showSimulatedDisplayChanged();
    if (display_ && useSrgb() != oldSrgb)
        Q_EMIT useSrgbChanged();
}

void Veltranor::setImageSource(ImageSource* source)
{
    if (!source || source == imageSource_)
        return;
    imageSource_ = source;
    imageSource_->autoControlExposure(autoControlExposure_ || !useDebugOptions_);
    imageSource_->useRawImages(useRawImages_ && useDebugOptions_);
    if (mode_ == Calibrator::ModeBalance || mode_ == Calibrator::ModeTemplate)
        clearResumeStep_();
    Q_EMIT imageSourceChanged();
}

void Veltranor::setVantor(Vantor* vantor)
{
    if (vantor == vantor_)
        return;
    vantor_ = vantor;
    Q_EMIT vantorChanged();
}

void Veltranor::switchInput()
{
    // A run, its set-up or a stopped one still ending uses the devices.
    if (refuseUnlessIdle_())
        return;
    meterChoice_ = !meterChoice_;
    setColorimeter(meterChoice_ ? static_cast<Colorimeter*>(cr100_) : cineMeterII_);
    writeSetting(QStringLiteral("colorMeter"), meterChoice_);
}

void Veltranor::switchOutput()
{
    // A run, its set-up or a stopped one still ending uses the devices.
    if (refuseUnlessIdle_())
        return;
    displayChoice_ = !displayChoice_;
    setDisplay(displayChoice_ ? static_cast<DisplayBase*>(simulatedDisplay_) : vantor_);
    writeSetting(QStringLiteral("output"), displayChoice_);
    if (mode_ == Calibrator::ModeBalance || mode_ == Calibrator::ModeTemplate)
        fetchLdms();
}

void Veltranor::switchCamera()
{
    // A run, its set-up or a stopped one still ending uses the devices.
    if (refuseUnlessIdle_())
        return;
    cameraChoice_ = !cameraChoice_;
    setImageSource(cameraChoice_ ? dummyCamera_ : cameraController_);
    writeSetting(QStringLiteral("camera"), cameraChoice_);
}

void Veltranor::setColorimeterType(int value)
{
    if (value == colorimeterType())
        return;
    switchInput();
    Q_EMIT colorimeterTypeChanged();
}

void Veltranor::setCameraType(int value)
{
    if (value == cameraType())
        return;
    switchCamera();
    Q_EMIT cameraTypeChanged();
}

void Veltranor::setOutputType(int value)
{
    if (value == outputType())
        return;
    switchOutput();
    Q_EMIT outputTypeChanged();
}

bool Veltranor::showSimulatedDisplay() const
{
    return display_ != vantor_;
}

// ---------------------------------------------------------------- idle work

void Veltranor::idleUpdate()
{
    // A processor request has no time-out; while one from the previous tick
    // still waits (its wait runs nested event loops), this tick is skipped.
    if (!idle())
        return;
    if (idleBusy_) {
        // The previous tick's read is still unanswered now that the next one
        // is due: the output LED says so, and that read ends (the next good
        // read clears the LED).
        if (vantor_ && display_ == vantor_ && !idleUnanswered_) {
            idleUnanswered_ = true;
            qWarning("The processor did not answer the periodic read within %d s", kIdleIntervalSeconds);
            vantor_->tellUnanswered(kIdleIntervalSeconds);
            vantor_->cancelFrom(idleStart_);
        }
        return;
    }
    idleBusy_ = true;
    idleUnanswered_ = false;
    idleStart_ = vantor_ ? vantor_->nextRequest() : 0;
    if (mode_ == Calibrator::ModeLinearity && colorimeter_)
        colorimeter_->read();
    if (displayPoll_ && display_) {
        ErrorType error = display_->read();
        // The same wall keeps the operator's work; only a changed one is rebuilt.
        if (error.code == 0)
            error = display_->refreshLdms();
        // (A read ended here was told when it was ended.)
        if (error.code != 0 && !error.cancelled)
            qWarning("Error updating display: %s", qPrintable(error.message));
    }
    idleBusy_ = false;
}

void Veltranor::delay_(unsigned milliseconds)
{
    const QDeadlineTimer deadline {qint64(milliseconds)};
    while (!deadline.hasExpired() && running_) {
        if (QAbstractEventDispatcher* dispatcher = thread()->eventDispatcher())
            dispatcher->processEvents(QEventLoop::AllEvents);
        QThread::msleep(50);
    }
}

void Veltranor::stop()
{
    refuseRequestsForGood();
    if (running_) {
        running_ = false;
        Q_EMIT runningChanged(false);
    }
    joinWorkers_();
}

void Veltranor::refuseRequestsForGood()
{
    if (vantor_)
        vantor_->shutDown();
    if (display_)
        display_->cancel();
}

void Veltranor::joinWorkers_()
{
    calibratorThread_.quit();
    calibratorThread_.wait();
    backgroundThread_.quit();
    backgroundThread_.wait();
}

// ---------------------------------------------------------------- run state

void Veltranor::fetchedOutputConfig()
{
    if (mode_ == Calibrator::ModeTemplate && display_)
        display_->recallLitTiles();
}

// ---------------------------------------------------------------- properties

QVariantMap Veltranor::limits() const
{
    QVariantMap map;
    for (const Limits::Limit& limit : Limits::kAll)
        map.insert(QString::fromLatin1(limit.name.data(), qsizetype(limit.name.size())),
                   QVariantMap {{QStringLiteral("low"), limit.low}, {QStringLiteral("high"), limit.high}});
    return map;
}

void Veltranor::clearResumeStep_()
{
    if (resumeStep_ == 0)
        return;
    resumeStep_ = 0;
    Q_EMIT resumeStepChanged();
}

bool Veltranor::linearityOnSimulated_() const
{
    return mode_ == Calibrator::ModeLinearity && display_ && display_ != vantor_;
}

void Veltranor::setTargetCCT(uint value)
{
    if (value == targetCCT_)
        return;
    targetCCT_ = uint(Limits::kTargetCct.clamp(value));
    writeSetting(QStringLiteral("targetCCT"), targetCCT_);
    if (linearityOnSimulated_())
        clearResumeStep_();
    Q_EMIT targetCCTChanged(targetCCT_);
}

void Veltranor::setTargetDuv(double value)
{
    if (!std::isfinite(value) || qFuzzyCompare(value, targetDuv_))
        return;
    targetDuv_ = Limits::kTargetDuv.clamp(value);
    writeSetting(QStringLiteral("targetDuv"), targetDuv_);
    if (linearityOnSimulated_())
        clearResumeStep_();
    Q_EMIT targetDuvChanged();
}

void Veltranor::setReadDelay(uint value)
{
    value = uint(Limits::kReadDelay.clamp(value));
    if (background_)
        background_->setReadDelay(value);
    if (value == readDelay_)
        return;
    readDelay_ = value;
    writeSetting(QStringLiteral("readDelay"), readDelay_);
    Q_EMIT readDelayChanged(readDelay_);
}

void Veltranor::setReadCount(uint value)
{
    if (value == readCount_)
        return;
    readCount_ = uint(Limits::kReadCount.clamp(value));
    writeSetting(QStringLiteral("readCount"), readCount_);
    Q_EMIT readCountChanged();
}

void Veltranor::setSteps(uint value)
{
    if (value == steps_)
        return;
    steps_ = uint(Limits::kSteps.clamp(value));
    writeSetting(QStringLiteral("steps"), steps_);
    if (mode_ == Calibrator::ModeLinearity)
        clearResumeStep_();
    Q_EMIT stepsChanged();
}

void Veltranor::setGamma(double value)
{
    if (!std::isfinite(value) || qFuzzyCompare(value, gamma_))
        return;
    gamma_ = Limits::kGamma.clamp(value);
    writeSetting(QStringLiteral("gamma"), gamma_);
    if (linearityOnSimulated_())
        clearResumeStep_();
    Q_EMIT gammaChanged();
}

void Veltranor::setAmbientBlack(bool value)
{
    if (value == ambientBlack_)
        return;
    ambientBlack_ = value;
    writeSetting(QStringLiteral("ambientBlack"), value);
    Q_EMIT ambientBlackChanged();
}

void Veltranor::setStepSpacing(double value)
{
    if (!std::isfinite(value) || qFuzzyCompare(value, stepSpacing_))
        return;
    stepSpacing_ = value;
    writeSetting(QStringLiteral("stepspacing"), value);
    if (mode_ == Calibrator::ModeLinearity)
        clearResumeStep_();
    Q_EMIT stepSpacingChanged();
}

void Veltranor::setBrightnessLevel(uint value)
{
    Limits::Limit bounds = Limits::kBrightness;
    if (vantor_)
        bounds.high = std::max(bounds.low, std::min(bounds.high, std::floor(vantor_->lumaMax())));
    value = uint(bounds.clamp(value));
    if (value == brightnessLevel_)
        return;
    brightnessLevel_ = value;
    writeSetting(QStringLiteral("bright"), value);
    if (linearityOnSimulated_())
        clearResumeStep_();
    Q_EMIT brightnessLevelChanged();
}

bool Veltranor::useSrgb()
{
    bool result = true;
    if (display_ && display_ == vantor_) {
        eotfType_ = vantor_->eotfType();
        if (eotfType_ != QLatin1String("sdrPreserve") && eotfType_ != QLatin1String("sdrPower"))
            qDebug("*** WARNING: unknown Vantor eotfType %s; assuming sdrPower ***", qPrintable(eotfType_));
        result = eotfType_ == QLatin1String("sdrPreserve");
    }
    if (useDebugOptions_)
        result = useSrgb_;
    return result;
}

void Veltranor::setUseSrgb(bool value)
{
    if (value == useSrgb_)
        return;
    useSrgb_ = value;
    writeSetting(QStringLiteral("useSRGB"), value);
    if (mode_ == Calibrator::ModeLinearity)
        clearResumeStep_();
    Q_EMIT useSrgbChanged();
}

void Veltranor::setTrust1stPoint(bool value)
{
    if (value == trust1stPoint_)
        return;
    trust1stPoint_ = value;
    writeSetting(QStringLiteral("trust1st"), value);
    if (mode_ == Calibrator::ModeLinearity)
        clearResumeStep_();
    Q_EMIT trust1stPointChanged();
}

void Veltranor::setStatusString(const QString& statusString)
{
    if (statusString_ == statusString)
        return;
    statusString_ = statusString;
    Q_EMIT statusStringChanged();
}

void Veltranor::settingsNotStored(const QString& fileName)
{
    if (settingsNotStoredSaid_)
        return;
    settingsNotStoredSaid_ = true;
    const QString text =
        QStringLiteral("Settings cannot be stored in %1: changes last only until the program quits.").arg(fileName);
    qWarning("%s", qUtf8Printable(text));
    setStatusString(text);
}

void Veltranor::setStatus(int status)
{
    if (status_ == status)
        return;
    status_ = status;
    Q_EMIT statusChanged();
}

void Veltranor::setFilename(const QString& value)
{
    if (value == filename_)
        return;
    filename_ = value;
    Q_EMIT filenameChanged();
}

void Veltranor::setCalibrationAvailable(bool value)
{
    if (value == calibrationAvailable_)
        return;
    calibrationAvailable_ = value;
    Q_EMIT calibrationAvailableChanged();
}

void Veltranor::setProgress(double progress)
{
    if (qFuzzyCompare(progress_, progress))
        return;
    progress_ = progress;
    Q_EMIT progressChanged();
}

void Veltranor::setResumeStep(uint value)
{
    if (value == resumeStep_)
        return;
    resumeStep_ = value;
    Q_EMIT resumeStepChanged();
}

void Veltranor::setErrorAllowed(double value)
{
    if (!std::isfinite(value) || qFuzzyCompare(value, errorAllowed_))
        return;
    errorAllowed_ = value;
    writeSetting(QStringLiteral("errAllowed"), value);
    Q_EMIT errorAllowedChanged();
}

void Veltranor::setMode(Mode value)
{
    if (value == mode_)
        return;
    // A run, or a stopped one still ending, uses its adjusters and records.
    if (running_)
        qDebug("Can't switch modes while running!");
    if (refuseUnlessIdle_())
        return;
    mode_ = value;
    setStatus(0);
    setStatusString(QStringLiteral(" "));
    deleteAdjusters();
    writeSetting(QStringLiteral("mode"), int(value));
    if (value == Calibrator::ModeBalance || value == Calibrator::ModeTemplate)
        fetchLdms();
    clearResumeStep_();
    Q_EMIT modeChanged();
}

void Veltranor::setSelectedLdm(int number)
{
    // A target measurement would rebuild the records a run uses; clearing
    // the choice (0) touches nothing of it.
    if (number != 0 ? refuseUnlessIdle_() : running_)
        return;
    selectedLdm_ = number;
    qDebug("setSelectedLDM #%d", number);
    writeSetting(QStringLiteral("selectedLdm") + (display_ ? display_->address() : QString()), number);
    Q_EMIT selectedLdmChanged();
    if (number == 0 || !display_)
        return;

    deleteAdjusters();
    uniformityLdms_.append(new Macropixel(display_->ldm(uint(number))));
    beginBusy_();
    selectedLdmAttempts_ = 0;
    grabContinuation_ = [this](bool success) { setSelectedLdmPart2(success); };
    if (!getImageLdmRGBData(false)) {
        // No observation will answer: end the busy phase here.
        if (auto next = std::exchange(grabContinuation_, {}))
            next(false);
    }
}

namespace {

template <typename Emit>
bool setFuzzy(double& member, double value, const QString& key, Emit emitChange)
{
    // No NaN or infinity reaches a member: each would pass every comparison.
    if (!std::isfinite(value) || qFuzzyCompare(value, member))
        return false;
    member = value;
    if (!key.isEmpty())
        writeSetting(key, value);
    emitChange();
    return true;
}

} // namespace

void Veltranor::setBalanceTargetRed(double value)
{
    if (setFuzzy(balanceTargetRed_, value, QStringLiteral("balRed"), [] {})) {
        if (mode_ == Calibrator::ModeBalance)
            clearResumeStep_();
        Q_EMIT balanceTargetRedChanged();
    }
}

void Veltranor::setBalanceTargetGreen(double value)
{
    if (setFuzzy(balanceTargetGreen_, value, QStringLiteral("balGreen"), [] {})) {
        if (mode_ == Calibrator::ModeBalance)
            clearResumeStep_();
        Q_EMIT balanceTargetGreenChanged();
    }
}

void Veltranor::setBalanceTargetBlue(double value)
{
    if (setFuzzy(balanceTargetBlue_, value, QStringLiteral("balBlue"), [] {})) {
        if (mode_ == Calibrator::ModeBalance)
            clearResumeStep_();
        Q_EMIT balanceTargetBlueChanged();
    }
}

void Veltranor::setTargetTime(const QString& value)
{
    if (value == targetTime_)
        return;
    targetTime_ = value;
    writeSetting(QStringLiteral("targetTime"), value);
    Q_EMIT targetTimeChanged();
}

void Veltranor::setFakeLdmVariation(double value)
{
    setFuzzy(fakeLdmVariation_, value, QString(), [this] { Q_EMIT fakeLdmVariationChanged(); });
}

void Veltranor::setTileGraderProfiling(bool value)
{
    if (value == tileGraderProfiling_)
        return;
    tileGraderProfiling_ = value;
    if (TileGrader* grader = tileGrader())
        grader->setProfiling(value);
    Q_EMIT tileGraderProfilingChanged();
}

void Veltranor::setCameraName(QString name)
{
    if (name == cameraName_)
        return;
    cameraName_ = name;
    Q_EMIT cameraNameChanged();
    getLensFiles();
}

void Veltranor::setLensName(const QString& value)
{
    // The grabs of a run, or of a stopped one still ending, compensate for
    // the lens chosen at its start.
    if (value != lensName_ && refuseUnlessIdle_()) {
        Q_EMIT lensNameChanged();
        return;
    }
    storeLensName_(value);
}

void Veltranor::storeLensName_(const QString& value)
{
    lensName_ = value;
    Q_EMIT lensNameChanged();
    writeSetting(QStringLiteral("lensName"), value);
}

void Veltranor::setLensFile(const QString& value)
{
    if (value != lensFile_ && refuseUnlessIdle_()) {
        Q_EMIT lensFileChanged(lensFile_);
        return;
    }
    storeLensFile_(value);
}

void Veltranor::storeLensFile_(const QString& value)
{
    lensFile_ = value;
    Q_EMIT lensFileChanged(value);
    writeSetting(QStringLiteral("lensFile"), value);
}

void Veltranor::applyEffectiveCameraSettings_()
{
    if (cameraController_)
        cameraController_->autoControlExposure(autoControlExposure_ || !useDebugOptions_);
    if (background_) {
        background_->removeReflections(removeReflections_ && useDebugOptions_);
        background_->useLogImages(useLogImages_ && useDebugOptions_);
    }
    if (imageSource_)
        imageSource_->useRawImages(useRawImages_ && useDebugOptions_);
}

void Veltranor::setUseDebugOptions(bool value)
{
    if (value == useDebugOptions_)
        return;
    useDebugOptions_ = value;
    Q_EMIT useDebugOptionsChanged();
    Q_EMIT useSrgbChanged();
    applyEffectiveCameraSettings_();
    Q_EMIT removeReflectionsChanged();
    Q_EMIT useLogImagesChanged();
    Q_EMIT useRawImagesChanged();
    if (!value && mode_ == Calibrator::ModeTemplate)
        setMode(Calibrator::ModeBalance);
    setStatusString(value ? QStringLiteral("Developer options are on.") : QStringLiteral("Developer options are off."));
    writeSetting(QStringLiteral("debug"), value);
}

void Veltranor::setHighGainLimit(double value)
{
    setFuzzy(highGainLimit_, value, QStringLiteral("hiGainLimit"), [this] { Q_EMIT highGainLimitChanged(); });
}

void Veltranor::setLowGainLimit(double value)
{
    setFuzzy(lowGainLimit_, value, QStringLiteral("loGainLimit"), [this] { Q_EMIT lowGainLimitChanged(); });
}

namespace {

template <typename Emit>
void setChanged(uint& member, uint value, const QString& key, Emit emitChange)
{
    if (value == member)
        return;
    member = value;
    writeSetting(key, value);
    emitChange();
}

} // namespace

void Veltranor::setBtCompliantIterations(uint value)
{
    setChanged(btCompliantIterations_, value, QStringLiteral("btCompliantIterations"),
               [this] { Q_EMIT btCompliantIterationsChanged(); });
}

void Veltranor::setBtMinIterations(uint value)
{
    setChanged(btMinIterations_, value, QStringLiteral("btMinIterations"), [this] { Q_EMIT btMinIterationsChanged(); });
}

void Veltranor::setBtMaxIterations(uint value)
{
    setChanged(btMaxIterations_, value, QStringLiteral("btMaxIterations"), [this] { Q_EMIT btMaxIterationsChanged(); });
}

void Veltranor::setTileMeshWidth(uint value)
{
    value = std::min(value, kMaxTileMesh);
    setChanged(tileMeshWidth_, value, QStringLiteral("tileMeshWidth"), [this] { Q_EMIT tileMeshWidthChanged(); });
}

void Veltranor::setTileMeshHeight(uint value)
{
    value = std::min(value, kMaxTileMesh);
    setChanged(tileMeshHeight_, value, QStringLiteral("tileMeshHeight"), [this] { Q_EMIT tileMeshHeightChanged(); });
}

void Veltranor::setAutoControlExposure(bool value)
{
    if (value == autoControlExposure_)
        return;
    autoControlExposure_ = value;
    writeSetting(QStringLiteral("autoControlExp"), value);
    Q_EMIT autoControlExposureChanged();
    if (cameraController_)
        cameraController_->autoControlExposure(autoControlExposure_ || !useDebugOptions_);
}

void Veltranor::setRemoveReflections(bool value)
{
    if (background_)
        background_->removeReflections(value && useDebugOptions_);
    if (value == removeReflections_)
        return;
    removeReflections_ = value;
    writeSetting(QStringLiteral("removeRefl"), value);
    Q_EMIT removeReflectionsChanged();
}

void Veltranor::setUseLogImages(bool value)
{
    if (background_)
        background_->useLogImages(value && useDebugOptions_);
    if (value == useLogImages_)
        return;
    useLogImages_ = value;
    writeSetting(QStringLiteral("logImages"), value);
    Q_EMIT useLogImagesChanged();
}

void Veltranor::setUseRawImages(bool value)
{
    if (imageSource_)
        imageSource_->useRawImages(value && useDebugOptions_);
    if (value == useRawImages_)
        return;
    useRawImages_ = value;
    qDebug("Veltranor:useRawImages %d", int(value));
    writeSetting(QStringLiteral("rawImages"), value);
    Q_EMIT useRawImagesChanged();
}

void Veltranor::setLinearGainBoost(uint value)
{
    if (TileGrader* grader = tileGrader())
        grader->setLinearGainBoost(value);
    setChanged(linearGainBoost_, value, QStringLiteral("linearGainBoost"), [this] { Q_EMIT linearGainBoostChanged(); });
}

void Veltranor::setRawInterpolation(uint value)
{
    if (TileGrader* grader = tileGrader())
        grader->setRawInterpolation(value);
    setChanged(rawInterpolation_, value, QStringLiteral("rawInterpolation"),
               [this] { Q_EMIT rawInterpolationChanged(); });
}

void Veltranor::setHighlightRecovery(uint value)
{
    if (TileGrader* grader = tileGrader())
        grader->setHighlightRecovery(value);
    setChanged(highlightRecovery_, value, QStringLiteral("highlights"), [this] { Q_EMIT highlightRecoveryChanged(); });
}

void Veltranor::setGainTweak(float value)
{
    if (TileGrader* grader = tileGrader())
        grader->setGainTweak(value);
    if (qFuzzyCompare(value, gainTweak_))
        return;
    gainTweak_ = value;
    Q_EMIT gainTweakChanged();
}
