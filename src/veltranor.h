#pragma once

#include "calibrationpoint.h"
#include "calibrator.h"
#include "colorimeter.h"
#include "displaybase.h"
#include "logmodel.h"
#include "macropixel.h"
#include "optionlist.h"
#include "tile.h"
#include "tilegrader.h"
#include "updater.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

#include <boost/asio/io_context.hpp>

#include <functional>

#include "background.h"
#include "cameracontroller.h"
#include "imagesource.h"

class CR100;
class CineMeterII;
class SimulatedDisplay;
class Vantor;

// The program's central object: the QML scene reaches every device and every
// run through it. It builds the object graph (updater, meters, displays,
// image sources, the grab worker and the main correction engine on their own
// threads), keeps every run setting in the settings store and chooses the
// active meter, display and image source.
class Veltranor : public QObject
{
    Q_OBJECT
    Q_PROPERTY(LogModel* appLog READ appLog CONSTANT)
    Q_PROPERTY(LogModel* linearityLog READ linearityLog CONSTANT)
    Q_PROPERTY(Colorimeter* colorimeter READ colorimeter WRITE setColorimeter NOTIFY colorimeterChanged)
    Q_PROPERTY(DisplayBase* display READ display WRITE setDisplay NOTIFY displayChanged)
    Q_PROPERTY(ImageSource* imageSource READ imageSource WRITE setImageSource NOTIFY imageSourceChanged)
    Q_PROPERTY(Vantor* vantor READ vantor WRITE setVantor NOTIFY vantorChanged)
    Q_PROPERTY(Calibrator* calibrator READ calibrator NOTIFY calibratorChanged)
    Q_PROPERTY(Updater* updater READ updater NOTIFY updaterChanged)
    Q_PROPERTY(TileGrader* tileGrader READ tileGrader NOTIFY tileGraderChanged)
    Q_PROPERTY(Colorimeter* cineMeterII READ cineMeterII NOTIFY cineMeterIIChanged)
    Q_PROPERTY(uint targetCCT READ targetCCT WRITE setTargetCCT NOTIFY targetCCTChanged)
    Q_PROPERTY(double targetDuv READ targetDuv WRITE setTargetDuv NOTIFY targetDuvChanged)
    Q_PROPERTY(uint readDelay READ readDelay WRITE setReadDelay NOTIFY readDelayChanged)
    Q_PROPERTY(uint readCount READ readCount WRITE setReadCount NOTIFY readCountChanged)
    Q_PROPERTY(uint steps READ steps WRITE setSteps NOTIFY stepsChanged)
    Q_PROPERTY(double gamma READ gamma WRITE setGamma NOTIFY gammaChanged)
    Q_PROPERTY(bool ambientBlack READ ambientBlack WRITE setAmbientBlack NOTIFY ambientBlackChanged)
    Q_PROPERTY(double stepSpacing READ stepSpacing WRITE setStepSpacing NOTIFY stepSpacingChanged)
    Q_PROPERTY(uint brightnessLevel READ brightnessLevel WRITE setBrightnessLevel NOTIFY brightnessLevelChanged)
    Q_PROPERTY(bool useSrgb READ useSrgb WRITE setUseSrgb NOTIFY useSrgbChanged)
    Q_PROPERTY(bool trust1stPoint READ trust1stPoint WRITE setTrust1stPoint NOTIFY trust1stPointChanged)
    Q_PROPERTY(bool running READ running WRITE setRunning NOTIFY runningChanged)
    Q_PROPERTY(QString statusString READ statusString WRITE setStatusString NOTIFY statusStringChanged)
    Q_PROPERTY(int status READ status WRITE setStatus NOTIFY statusChanged)
    Q_PROPERTY(bool showSimulatedDisplay READ showSimulatedDisplay NOTIFY showSimulatedDisplayChanged)
    Q_PROPERTY(QString filename READ filename WRITE setFilename NOTIFY filenameChanged)
    Q_PROPERTY(bool calibrationAvailable READ calibrationAvailable WRITE setCalibrationAvailable NOTIFY
                   calibrationAvailableChanged)
    Q_PROPERTY(double progress READ progress WRITE setProgress NOTIFY progressChanged)
    Q_PROPERTY(uint resumeStep READ resumeStep WRITE setResumeStep NOTIFY resumeStepChanged)
    Q_PROPERTY(double errorAllowed READ errorAllowed WRITE setErrorAllowed NOTIFY errorAllowedChanged)
    Q_PROPERTY(Calibrator::Mode mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(int selectedLdm READ selectedLdm WRITE setSelectedLdm NOTIFY selectedLdmChanged)
    Q_PROPERTY(double balanceTargetRed READ balanceTargetRed WRITE setBalanceTargetRed NOTIFY
                   balanceTargetRedChanged)
    Q_PROPERTY(double balanceTargetGreen READ balanceTargetGreen WRITE setBalanceTargetGreen NOTIFY
                   balanceTargetGreenChanged)
    Q_PROPERTY(double balanceTargetBlue READ balanceTargetBlue WRITE setBalanceTargetBlue NOTIFY
                   balanceTargetBlueChanged)
    Q_PROPERTY(QString targetTime READ targetTime WRITE setTargetTime NOTIFY targetTimeChanged)
    Q_PROPERTY(double fakeLdmVariation READ fakeLdmVariation WRITE setFakeLdmVariation NOTIFY
                   fakeLdmVariationChanged)
    Q_PROPERTY(int colorimeterType READ colorimeterType WRITE setColorimeterType NOTIFY colorimeterTypeChanged)
    Q_PROPERTY(int cameraType READ cameraType WRITE setCameraType NOTIFY cameraTypeChanged)
    Q_PROPERTY(int outputType READ outputType WRITE setOutputType NOTIFY outputTypeChanged)
    Q_PROPERTY(bool tileGraderProfiling READ tileGraderProfiling WRITE setTileGraderProfiling NOTIFY
                   tileGraderProfilingChanged)
    Q_PROPERTY(QString cameraName READ cameraName WRITE setCameraName NOTIFY cameraNameChanged)
    Q_PROPERTY(QString lensName READ lensName WRITE setLensName NOTIFY lensNameChanged)
    Q_PROPERTY(QString lensFile READ lensFile WRITE setLensFile NOTIFY lensFileChanged)
    Q_PROPERTY(QString lensFileName READ lensFileName NOTIFY lensFileNameChanged)
    Q_PROPERTY(OptionList* lensFileList READ lensFileList NOTIFY lensFileListChanged)
    Q_PROPERTY(OptionList* lensNameList READ lensNameList NOTIFY lensNameListChanged)
    Q_PROPERTY(bool useDebugOptions READ useDebugOptions WRITE setUseDebugOptions NOTIFY useDebugOptionsChanged)
    Q_PROPERTY(double highGainLimit READ highGainLimit WRITE setHighGainLimit NOTIFY highGainLimitChanged)
    Q_PROPERTY(double lowGainLimit READ lowGainLimit WRITE setLowGainLimit NOTIFY lowGainLimitChanged)
    Q_PROPERTY(uint btCompliantIterations READ btCompliantIterations WRITE setBtCompliantIterations NOTIFY
                   btCompliantIterationsChanged)
    Q_PROPERTY(uint btMinIterations READ btMinIterations WRITE setBtMinIterations NOTIFY btMinIterationsChanged)
    Q_PROPERTY(uint btMaxIterations READ btMaxIterations WRITE setBtMaxIterations NOTIFY btMaxIterationsChanged)
    Q_PROPERTY(uint tileMeshWidth READ tileMeshWidth WRITE setTileMeshWidth NOTIFY tileMeshWidthChanged)
    Q_PROPERTY(uint tileMeshHeight READ tileMeshHeight WRITE setTileMeshHeight NOTIFY tileMeshHeightChanged)
    Q_PROPERTY(bool autoControlExposure READ autoControlExposure WRITE setAutoControlExposure NOTIFY
                   autoControlExposureChanged)
    Q_PROPERTY(bool removeReflections READ removeReflections WRITE setRemoveReflections NOTIFY
                   removeReflectionsChanged)
    Q_PROPERTY(bool useLogImages READ useLogImages WRITE setUseLogImages NOTIFY useLogImagesChanged)
    Q_PROPERTY(bool useRawImages READ useRawImages WRITE setUseRawImages NOTIFY useRawImagesChanged)
    Q_PROPERTY(uint linearGainBoost READ linearGainBoost WRITE setLinearGainBoost NOTIFY linearGainBoostChanged)
    Q_PROPERTY(uint rawInterpolation READ rawInterpolation WRITE setRawInterpolation NOTIFY
                   rawInterpolationChanged)
    Q_PROPERTY(uint highlightRecovery READ highlightRecovery WRITE setHighlightRecovery NOTIFY
                   highlightRecoveryChanged)
    Q_PROPERTY(float gainTweak READ gainTweak WRITE setGainTweak NOTIFY gainTweakChanged)
    // The bounds of the window's fields, by property name: {"low", "high"}.
    Q_PROPERTY(QVariantMap limits READ limits CONSTANT)

public:
    using Mode = Calibrator::Mode;

    Veltranor(boost::asio::io_context& context, QObject* parent = nullptr);
    ~Veltranor() override;

    // ---- devices
    LogModel* appLog() const { return appLog_; }
    LogModel* linearityLog() { return &linearityLog_; }
    Colorimeter* colorimeter() const { return colorimeter_; }
    void setColorimeter(Colorimeter* meter);
    DisplayBase* display() const { return display_; }
    void setDisplay(DisplayBase* display);
    ImageSource* imageSource() const { return imageSource_; }
    void setImageSource(ImageSource* source);
    Background* background() const { return background_; }
    Vantor* vantor() const { return vantor_; }
    void setVantor(Vantor* vantor);
    Calibrator* calibrator() const { return calibrator_; }
    Updater* updater() const { return updater_; }
    TileGrader* tileGrader() const;
    Colorimeter* cineMeterII() const;
    QVariantMap limits() const;
    CR100* cr100() const { return cr100_; }
    SimulatedDisplay* simulatedDisplay() const { return simulatedDisplay_; }

    // ---- run settings
    uint targetCCT() const { return targetCCT_; }
    void setTargetCCT(uint value);
    double targetDuv() const { return targetDuv_; }
    void setTargetDuv(double value);
    uint readDelay() const { return readDelay_; }
    void setReadDelay(uint value);
    uint readCount() const { return readCount_; }
    void setReadCount(uint value);
    uint steps() const { return steps_; }
    void setSteps(uint value);
    double gamma() const { return gamma_; }
    void setGamma(double value);
    bool ambientBlack() const { return ambientBlack_; }
    void setAmbientBlack(bool value);
    double stepSpacing() const { return stepSpacing_; }
    void setStepSpacing(double value);
    uint brightnessLevel() const { return brightnessLevel_; }
    void setBrightnessLevel(uint value);
    bool useSrgb();
    void setUseSrgb(bool value);
    bool trust1stPoint() const { return trust1stPoint_; }
    void setTrust1stPoint(bool value);
    bool running() const { return running_; }
    void setRunning(bool running);
    QString statusString() const { return statusString_; }
    void setStatusString(const QString& statusString);
    // Called when the settings store reports an error on a write; says once,
    // in the log and the status, that settings cannot be stored there.
    void settingsNotStored(const QString& fileName);
    int status() const { return status_; }
    void setStatus(int status);
    bool showSimulatedDisplay() const;
    QString filename() const { return filename_; }
    void setFilename(const QString& value);
    QString filepath() const { return filepath_; }
    void setFilepath(const QString& value);
    bool calibrationAvailable() const { return calibrationAvailable_; }
    void setCalibrationAvailable(bool value);
    double progress() const { return progress_; }
    void setProgress(double progress);
    uint resumeStep() const { return resumeStep_; }
    void setResumeStep(uint value);
    double errorAllowed() const { return errorAllowed_; }
    void setErrorAllowed(double value);
    Mode mode() const { return mode_; }
    void setMode(Mode value);
    int selectedLdm() const { return selectedLdm_; }
    void setSelectedLdm(int number);
    double balanceTargetRed() const { return balanceTargetRed_; }
    void setBalanceTargetRed(double value);
    double balanceTargetGreen() const { return balanceTargetGreen_; }
    void setBalanceTargetGreen(double value);
    double balanceTargetBlue() const { return balanceTargetBlue_; }
    void setBalanceTargetBlue(double value);
    QString targetTime() const { return targetTime_; }
    void setTargetTime(const QString& value);
    double fakeLdmVariation() const { return fakeLdmVariation_; }
    void setFakeLdmVariation(double value);
    int colorimeterType() const { return meterChoice_ ? 0 : 1; }
    void setColorimeterType(int value);
    int cameraType() const { return cameraChoice_ ? 1 : 0; }
    void setCameraType(int value);
    int outputType() const { return displayChoice_ ? 1 : 0; }
    void setOutputType(int value);
    bool tileGraderProfiling() const { return tileGraderProfiling_; }
    void setTileGraderProfiling(bool value);
    QString cameraName() const { return cameraName_; }
    QString lensName() const { return lensName_; }
    void setLensName(const QString& value);
    QString lensFile() const { return lensFile_; }
    void setLensFile(const QString& value);
    QString lensFileName() const { return lensFileName_; }
    OptionList* lensFileList() { return &lensFileList_; }
    OptionList* lensNameList() { return &lensNameList_; }
    bool useDebugOptions() const { return useDebugOptions_; }
    void setUseDebugOptions(bool value);
    double highGainLimit() const { return highGainLimit_; }
    void setHighGainLimit(double value);
    double lowGainLimit() const { return lowGainLimit_; }
    void setLowGainLimit(double value);
    uint btCompliantIterations() const { return btCompliantIterations_; }
    void setBtCompliantIterations(uint value);
    uint btMinIterations() const { return btMinIterations_; }
    void setBtMinIterations(uint value);
    uint btMaxIterations() const { return btMaxIterations_; }
    void setBtMaxIterations(uint value);
    // Mesh cells across (and down) one tile: a stored or set value above
    // kMaxTileMesh is taken as kMaxTileMesh, far above any real tile (a cell
    // of a pixel or two). Over the whole wall a mesh of more than
    // kMaxMeshCells cells is refused where it is built.
    static constexpr uint kMaxTileMesh = 1000;
    static constexpr qsizetype kMaxMeshCells = 1000000;
    uint tileMeshWidth() const { return tileMeshWidth_; }
    void setTileMeshWidth(uint value);
    uint tileMeshHeight() const { return tileMeshHeight_; }
    void setTileMeshHeight(uint value);
    bool autoControlExposure() const { return autoControlExposure_; }
    void setAutoControlExposure(bool value);
    bool removeReflections() const { return removeReflections_; }
    void setRemoveReflections(bool value);
    bool useLogImages() const { return useLogImages_; }
    void setUseLogImages(bool value);
    bool useRawImages() const { return useRawImages_; }
    void setUseRawImages(bool value);
    uint linearGainBoost() const { return linearGainBoost_; }
    void setLinearGainBoost(uint value);
    uint rawInterpolation() const { return rawInterpolation_; }
    void setRawInterpolation(uint value);
    uint highlightRecovery() const { return highlightRecovery_; }
    void setHighlightRecovery(uint value);
    float gainTweak() const { return gainTweak_; }
    void setGainTweak(float value);

    // Waits while processing the GUI thread's events, ending early when the
    // run stops.
    void delay_(unsigned milliseconds);
    // Lens lists: turns a lens key or an image name into its display name.
    static void lensNameForFile(QString& text);

    // The refresh that the idle timer runs every 10 s.
    void idleUpdate();
    // Deletes the uniformity adjusters (they live on the GUI thread).
    void deleteAdjusters();

    // uniformity run orchestration: adjusters, observation records, grabs
    bool buildBalancers();
    bool buildTemplaters();
    const QList<Calibrator*>& adjusters() const { return adjusters_; }
    const QList<Macropixel*>& observedLdms() const { return uniformityLdms_; }
    const QList<Tile*>& observedTiles() const { return uniformityTiles_; }
    // targets: exposure and range checks of a target LDM
    bool exposureAdjusted();
    bool testTargetLdm();
    bool useAutoExposure() const { return autoControlExposure_ || !useDebugOptions_; }

    boost::asio::io_context& networkContext() { return context_; }
    QThread& calibratorThread() { return calibratorThread_; }
    QThread& backgroundThread() { return backgroundThread_; }
    QTimer& idleTimer() { return idleTimer_; }
    bool displayPolling() const { return displayPoll_; }
    void setDisplayPolling(bool poll) { displayPoll_ = poll; }

    QList<CalibrationPoint> correctionPoints;

    // run control, linearity post-processing, correction and log files
    Q_INVOKABLE void resume();
    Q_INVOKABLE void test();
    Q_INVOKABLE void takeMeasurement();
    Q_INVOKABLE bool setupBalance();
    Q_INVOKABLE QString elapsedTimeString() const;
    Q_INVOKABLE QString defaultLogFileName() const;
    // The file a save dialog proposes for path, as a file URL, in a folder
    // that exists: a missing folder is created, and when that fails the
    // Documents folder (or else the home folder) is proposed instead.
    Q_INVOKABLE QUrl proposedSaveFile(const QString& path) const;
    // Whether a save to this file URL would replace a file.
    Q_INVOKABLE bool fileExists(const QUrl& url) const;
    bool processCalibration();
    void showCalibrationStats();
    // The display's answer (code 0 when there was nothing to send).
    ErrorType sendCalibration();
    void setupVantor();
    // The processor's answer to the update (code 0 off the processor).
    ErrorType resetVantor(bool completed);
    ErrorType updateVantor_();
    void setCorrectionParameters();
    void setAdjustmentParameters(Mode mode);
    bool donePending() const { return phase_ == RunPhase::Running || phase_ == RunPhase::Ending; }
    // Nothing runs, ends or waits: no run, busy phase or tear-down of one.
    bool idle() const { return phase_ == RunPhase::Idle && !running_; }

Q_SIGNALS:
    void colorimeterChanged();
    void displayChanged();
    void tileGraderChanged();
    void cineMeterIIChanged();
    void idleChanged();
    void targetCCTChanged(uint newTargetCCT);
    void readDelayChanged(uint newReadDelay);
    void runningChanged(bool newValue);
    // runningChanged as the engine receives it (queued), with the task set
    // when it was emitted.
    void engineRunningChanged(bool running, int task);
    void statusStringChanged();
    void calibrate();
    void calibratorChanged();
    void stepsChanged();
    void gammaChanged();
    void targetDuvChanged();
    void readCountChanged();
    void ambientBlackChanged();
    void vantorChanged();
    void stepSpacingChanged();
    void brightnessLevelChanged();
    void showSimulatedDisplayChanged();
    void filenameChanged();
    void calibrationAvailableChanged();
    void progressChanged();
    void modeChanged();
    void ldmsObserved(QList<Macropixel*> ldms);
    void tilesObserved(QList<Tile*> tiles);
    void resumeStepChanged();
    void errorAllowedChanged();
    void selectedLdmChanged();
    void balanceTargetRedChanged();
    void balanceTargetGreenChanged();
    void balanceTargetBlueChanged();
    void imageSourceChanged();
    void fakeLdmVariationChanged();
    void ldmArrayDimensions(int width, int height);
    void ldmArrayAspectRatio(float aspectRatio);
    void newLdmArrayImage(QString newImagePath);
    void ldmArrayInfo(int ldmsWide, int ldmsHigh, float aspectRatio);
    void grabImageData(bool verbose);
    void colorimeterTypeChanged();
    void cameraTypeChanged();
    void outputTypeChanged();
    void tileGraderProfilingChanged();
    void useSrgbChanged();
    void trust1stPointChanged();
    void showMessageBox(QString title, QString message);
    void lensFileChanged(QString lensFile);
    void lensFileNameChanged();
    void lensFileListChanged();
    void cameraNameChanged();
    void lensNameChanged();
    void lensNameListChanged();
    void useDebugOptionsChanged();
    void finishBalancing();
    void updaterChanged();
    void statusChanged();
    void highGainLimitChanged();
    void lowGainLimitChanged();
    void btCompliantIterationsChanged();
    void btMinIterationsChanged();
    void btMaxIterationsChanged();
    void tileMeshWidthChanged();
    void tileMeshHeightChanged();
    void showMacropixelInsetChanged();
    void autoControlExposureChanged();
    void removeReflectionsChanged();
    void useLogImagesChanged();
    void targetTimeChanged();
    void useRawImagesChanged();
    void linearGainBoostChanged();
    void rawInterpolationChanged();
    void highlightRecoveryChanged();
    void gainTweakChanged();

public Q_SLOTS:
    void switchInput();
    void switchOutput();
    void switchCamera();
    void calibratorDone(uint number, bool completed);
    void updateStatusString(QString newString);
    // A busy phase without a task: running, so the scene shows the stop
    // button, until whoever called it clears running again.
    void runNothing();
    void fetchLdms();
    void fetchedOutputConfig();
    void updateProgress();
    void clearLinearityLog();
    void appendLinearityLog(QString text);
    // uniformity run orchestration: observation requests and grab results
    void getLdmsObserved();
    void getTilesObserved();
    void blankDisplay(bool blank);
    bool getImageLdmRGBData(bool verbose = false);
    bool getImageTileRGBData(bool verbose = false);
    void grabImageDataDone(bool success, QList<cv::Mat*>* averagesArrayList);
    bool grabImage(bool verbose = true);
    void tileGraderImageProcessed(bool successful);
    void tileGraderAveragesUpdated(cv::Mat averagesArray);
    // targets: target LDM, read-outs, mesh test pattern and registration
    void chooseTargetLdm(int number);
    void chooseTargetTile(int number);
    void displayLdm(int ldmNumber);
    void displayTile(int tileNumber);
    double ldmRedError(int number);
    double ldmGreenError(int number);
    double ldmBlueError(int number);
    void setMeshTestPattern();
    void runMeshRegistration();
    bool usingRawImages() const { return useRawImages_ && useDebugOptions_; }
    void setCameraName(QString name);
    void getLensFiles();
    bool saveCalibration(QUrl url);
    bool readCalibration(QUrl url);
    bool saveLog(QUrl url);
    // Called at aboutToQuit: cancels the active display's requests, ends a run
    // and joins the worker threads, so nothing touches the network context
    // after main has destroyed it.
    void stop();
    // The application is quitting: every pending processor request ends now
    // and none starts any more, for good, so no wait outlives the quit.
    void refuseRequestsForGood();

private:
    // The continuation of an LDM observation asked for by setSelectedLdm.
    void setSelectedLdmPart2(bool success);
    // uniformity run orchestration: continuations and helpers
    void getLdmsObservedPart2(bool ok);
    void getTilesObservedPart2(bool ok);
    void grabImagePart2(bool ok);
    // The grab worker's wait, on the status line while the capture test waits.
    void grabWaiting_(int tryNumber, int attempt);
    // Runs the stored grab step once (it is cleared first); nothing when none is stored.
    void runGrabContinuation_(bool ok);
    bool sectionGrid_(const char* kind, int w, int h, bool verbose, int& wide, int& high, float& aspect);
    // Clears running and announces it, leaving the status as it is; a busy
    // phase with no wait left is over.
    void endRun_();
    // Runs one display request that the shell waits on; outside a run or busy
    // phase it is a busy phase of its own, so that the window offers Stop
    // while it waits and the status says what for (the text given). Sets
    // *stopped when a Stop came while it waited.
    ErrorType busyRequest_(const QString& waitingFor, const std::function<ErrorType()>& request,
                           bool* stopped = nullptr);
    // targets: continuations of the mesh registration
    void runMeshRegistrationPart2(bool ok);
    void runMeshRegistrationPart3(bool ok);
    void registrationFailed_(const QString& text, bool patternOff);
    // False, with a status, when the tile mesh is empty or too large for a wall of tileCount tiles.
    bool meshFits_(uint tileCount);
    // Shows a registration pattern; a refusal ends the registration with
    // the display's error (false).
    bool showRegistrationPattern_(int pattern, int x, int y);
    void clearResumeStep_();
    bool linearityOnSimulated_() const;
    void joinWorkers_();
    void applyEffectiveCameraSettings_();
    // The lens and lens file the lens lists restore, stored without the
    // refusal of an operator's choice: a camera may connect in any phase.
    void storeLensName_(const QString& value);
    void storeLensFile_(const QString& value);

    boost::asio::io_context& context_;
    LogModel* appLog_ = nullptr;
    LogModel linearityLog_;
    Colorimeter* colorimeter_ = nullptr;
    CineMeterII* cineMeterII_ = nullptr;
    CR100* cr100_ = nullptr;
    DisplayBase* display_ = nullptr;
    SimulatedDisplay* simulatedDisplay_ = nullptr;
    Vantor* vantor_ = nullptr;
    ImageSource* imageSource_ = nullptr;
    ImageSource* dummyCamera_ = nullptr;
    CameraController* cameraController_ = nullptr;
    QTimer idleTimer_;
    Background* background_ = nullptr;
    Updater* updater_ = nullptr;
    QThread calibratorThread_;
    QThread backgroundThread_;
    bool meterChoice_ = true;
    bool displayChoice_ = false;
    bool cameraChoice_ = false;
    Calibrator* calibrator_ = nullptr;
    bool displayPoll_ = true;
    bool idleBusy_ = false;
    // The periodic read: its interval, the first request of the read under
    // way, and whether it was found unanswered when the next one was due.
    static constexpr int kIdleIntervalSeconds = 10;
    quint64 idleStart_ = 0;
    bool idleUnanswered_ = false;

    QList<Calibrator*> adjusters_;
    QList<Macropixel*> uniformityLdms_;
    std::function<void(bool)> grabContinuation_;
    int selectedLdmAttempts_ = 0;
    int grabKind_ = 1;
    // uniformity run orchestration: tile copies of a template run, test state
    QList<Tile*> uniformityTiles_;
    QElapsedTimer captureStartTime_;
    bool captureVerbose_ = false;
    bool captureTestWaiting_ = false;
    int lastImageProcessed_ = 0;
    cv::Mat lastAverages_;
    // targets: a target measurement is in progress
    bool targetLdmTest_ = false;

    double savedBrightness_ = 50.0;
    double savedCct_ = 3200.0;
    double savedDuv_ = 0.0;
    QString eotfType_ = QStringLiteral("sdrPreserve");
    double savedGamma_ = 0.0;

    uint targetCCT_ = 6500;
    double targetDuv_ = 0.0;
    uint readDelay_ = 1500;
    uint readCount_ = 1;
    uint steps_ = 10;
    double gamma_ = 2.4;
    bool useSrgb_ = false;
    bool trust1stPoint_ = false;
    bool running_ = false;
    bool ambientBlack_ = true;
    double stepSpacing_ = 1.0;
    uint brightnessLevel_ = 100;
    bool useDebugOptions_ = false;
    double highGainLimit_ = 0.5;
    double lowGainLimit_ = 0.25;
    uint btCompliantIterations_ = 20;
    uint btMinIterations_ = 50;
    uint btMaxIterations_ = 400;
    uint tileMeshWidth_ = 20;
    uint tileMeshHeight_ = 20;
    bool autoControlExposure_ = true;
    uint linearGainBoost_ = 2;
    uint rawInterpolation_ = 0;
    uint highlightRecovery_ = 3;
    bool removeReflections_ = false;
    bool useLogImages_ = false;
    bool useRawImages_ = false;

    double progress_ = -1.0;
    int status_ = 0;
    QString statusString_;
    bool settingsNotStoredSaid_ = false;
    QString filename_;
    QString filepath_;
    bool calibrationAvailable_ = false;
    uint resumeStep_ = 0;
    bool targetLdmChosen_ = false;
    double errorAllowed_ = 0.0;
    double fakeLdmVariation_ = 0.0;
    float gainTweak_ = 1.0f;
    Mode mode_ = Calibrator::ModeLinearity;
    int selectedLdm_ = 0;
    double balanceTargetRed_ = 0.0;
    double balanceTargetGreen_ = 0.0;
    double balanceTargetBlue_ = 0.0;
    QString targetTime_;
    bool tileGraderProfiling_ = false;
    OptionList lensFileList_;
    OptionList lensNameList_;
    QString lensFile_;
    QString lensFileName_;
    QString cameraName_;
    QString lensName_;

    // run control
    // The status while a correction is on its way to the processor.
    static const QString kSendingCorrection;
    void emitTaskStart_();
    // What a Stop of a busy phase (or of a run not yet handed to the engine)
    // ends: the requests the phase started.
    void cancelPhaseRequests_();
    // Tells the scene a linearity run has started before the processor is
    // prepared, so that Stop is offered during the set-up; the engine hears
    // of it only once the set-up is done (emitTaskStart_).
    void announceRun_();
    // The one set-up of the processor for every linearity run (Run and
    // Resume): false when a Stop came during it; the processor has then been
    // put back and the run has ended as cancelled.
    bool setUpProcessor_();
    // A linearity run stopped before the engine started: the processor is
    // put back and the run ends as cancelled.
    void restoreAfterStop_();
    // How long the tear-down of a stopped phase (the processor's restore, the
    // registration's pattern off) may wait for the processor; a processor
    // answers it within a second.
    static constexpr int kStoppedTearDownLimitSeconds = 10;
    // How a stopped phase's closing request ended.
    struct TearDown {
        ErrorType error;
        bool gaveUp = false;  // the processor did not answer within the limit
        bool stopped = false; // a further Stop ended it
    };
    // Sends the closing request of a phase the operator has stopped, within
    // the limit above; a busy phase of its own when the stopped phase has
    // ended already, so the window offers Stop while it waits.
    TearDown stoppedTearDown_(const std::function<ErrorType()>& request);
    // The restore of a linearity run that never reached the engine (stopped
    // in its set-up, or refused), in the restoring phase; idle once it has
    // returned. %1 of the waiting text: the outcome.
    TearDown restoreUnstartedRun_(const QString& outcome);
    // The status after a stopped run's restore (%1 of the texts: outcome).
    static QString restoreText_(const QString& outcome, const TearDown& end);
    // Lifts the refusal a Stop during the processor's set-up put on.
    void endSetUpRefusal_();
    // After a Stop the processor's restore is tried for a limited time only:
    // the same Stop ends a tear-down the processor does not answer. Sets
    // gaveUp when the limit ended it.
    void limitStoppedTearDown_(QTimer& timer, bool& gaveUp);
    // The one check of every press that starts, switches or rebuilds
    // something: true (with the status text, shown again at every refusal)
    // unless the phase is idle. A run, a busy phase or the set-up is "in
    // progress" while it offers Stop; after a Stop it is "still ending" until
    // the last of its tear-down has returned.
    bool refuseUnlessIdle_();
    // Busy (running, the engine told task nothing) within the phase in force,
    // or as a busy phase of its own when idle; no refusal.
    void beginBusy_();
    // The refused sRGB start: the processor is put back as after a Stop.
    void refuseSrgb_();
    // A start given up before the scene heard of it: idle again, no signal.
    void abandonStart_();
    // A busy phase that is no longer running and has no wait left on the
    // stack is over (phase idle).
    void settleBusy_();
    // A wait of the phase in force on this stack (a processor request, a
    // Refresh, a registration step): a Stop of a busy phase leaves it busy
    // until its last wait has returned, so that nothing starts inside it.
    class PhaseWait
    {
    public:
        explicit PhaseWait(Veltranor& owner)
            : owner_(owner)
        {
            ++owner_.phaseWaits_;
        }
        ~PhaseWait()
        {
            --owner_.phaseWaits_;
            owner_.settleBusy_();
        }
        PhaseWait(const PhaseWait&) = delete;
        PhaseWait& operator=(const PhaseWait&) = delete;

    private:
        Veltranor& owner_;
    };
    int phaseWaits_ = 0;
    // The text the last Refresh ended with when it failed or was stopped; a
    // good Refresh clears it, and only it.
    QString refreshOutcome_;
    QString correctionFileName_() const;
    QDateTime uniformityStart_;
    qsizetype adjusterCount_ = 0;
    // The life of a run, which Run, Resume, the engine's start and done, a
    // Stop and the tear-down move; `running` also covers the busy phases
    // (registration, Refresh, a processor request) outside it.
    enum class RunPhase {
        Idle,
        // A busy phase without a task (Refresh, registration, capture test,
        // target LDM, a processor request, the updater): running until its
        // owner ends it; a Stop ends it once its waits have returned.
        Busy,
        // Announced to the scene; the processor is being prepared and the
        // engine is still to be started. It lasts until the set-up's request
        // has returned, also after a Stop.
        SettingUp,
        // The engine runs; its done is pending.
        Running,
        // Stopped; the engine's done is still pending. Its status texts are
        // no longer shown.
        Ending,
        // The shell's closing requests still wait: a linearity run's restore
        // and correction after the engine's done, the restore after a
        // stopped set-up or a refused sRGB start.
        Restoring,
    };
    RunPhase phase_ = RunPhase::Idle;
    // running := true for a run or busy phase that starts now in the phase
    // given: a Stop ends the processor requests started from here on, none older.
    void beginPhase_(RunPhase phase);
    // The engine told that the correction completed; the text that follows
    // is shown only once the closing requests have reached the processor.
    void engineCompleted_();
    bool completionNext_ = false;
    QString heldCompletion_;
    // The last text the engine told in the run.
    QString engineText_;
    quint64 phaseStart_ = 0;
    QMetaObject::Connection engineRunning_;
    // Queues runningChanged to the engine with the task set when it was emitted.
    void tellEngine_(bool running);
    // The mode of the run whose done is pending: its tear-down follows it,
    // whatever the mode is when the done arrives.
    Mode runMode_ = Calibrator::ModeLinearity;
};
