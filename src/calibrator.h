#pragma once

#ifndef Q_MOC_RUN // moc cannot parse <coroutine>
#include "adjusttask.h"
#endif
#include "calibrationpoint.h"
#include "errortype.h"
#include "macropixel.h"
#include "tile.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <mutex>
#include <optional>

class Colorimeter;
class DisplayBase;

// The current local time with its UTC offset, ISO 8601 with milliseconds
// ("2025-07-01T14:03:07.125+02:00"; a zero offset is written "Z").
QString timestamp();

// The step spacing: fraction raised to the power spacing.
double pxForIndexAndSpacing(double fraction, double spacing);

// Estimate of the time a run still needs, as a text to append to a status
// line; empty while less than 2 % is done.
QString remainingTime(const QDateTime& start, double fraction);

// The correction engine. One main Calibrator lives on the Calibrator thread
// and runs one task at a time inside setRunning(true); the uniformity runs add
// one adjuster Calibrator per macropixel. While a task waits it processes its
// own thread's events, which is how meter readings, camera observations and a
// cancel (a queued setRunning(false)) reach it.
//
// Threads: `running` and `display` are read by other threads and are atomic.
// Everything else belongs to the thread the Calibrator lives on (the GUI
// thread configures the main Calibrator only while it is idle).
class Calibrator : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool running READ running WRITE setRunning NOTIFY runningChanged)
    Q_PROPERTY(uint targetCCT READ targetCCT WRITE setTargetCCT NOTIFY targetCCTChanged)
    Q_PROPERTY(double targetDuv READ targetDuv WRITE setTargetDuv NOTIFY targetDuvChanged)
    Q_PROPERTY(double targetLum READ targetLum WRITE setTargetLum NOTIFY targetLumChanged)
    Q_PROPERTY(uint readDelay READ readDelay WRITE setReadDelay NOTIFY readDelayChanged)
    Q_PROPERTY(double maximumValue READ maximumValue WRITE setMaximumValue NOTIFY maximumValueChanged)
    Q_PROPERTY(QString statusString READ statusString WRITE setStatusString NOTIFY statusStringChanged)
    Q_PROPERTY(bool ambientBlack READ ambientBlack WRITE setAmbientBlack NOTIFY ambientBlackChanged)
    Q_PROPERTY(double stepSpacing READ stepSpacing WRITE setStepSpacing NOTIFY stepSpacingChanged)
    Q_PROPERTY(ErrorType colorimeterErrorType READ colorimeterErrorType WRITE setColorimeterErrorType
                   NOTIFY colorimeterErrorTypeChanged)
    Q_PROPERTY(QString colorimeterError READ colorimeterError WRITE setColorimeterError
                   NOTIFY colorimeterErrorChanged)
    Q_PROPERTY(Mode mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(TaskType task READ task WRITE setTask NOTIFY taskChanged)
    Q_PROPERTY(double progress READ progress WRITE setProgress NOTIFY progressChanged)
    Q_PROPERTY(uint resumeStep READ resumeStep WRITE setResumeStep NOTIFY resumeStepChanged)
    Q_PROPERTY(double errorAllowed READ errorAllowed WRITE setErrorAllowed NOTIFY errorAllowedChanged)
    Q_PROPERTY(double maximumWeightedError READ maximumWeightedError NOTIFY maximumWeightedErrorChanged)
    Q_PROPERTY(bool loggable READ loggable WRITE setLoggable NOTIFY loggableChanged)
    Q_PROPERTY(double highGainLimit READ highGainLimit WRITE setHighGainLimit NOTIFY highGainLimitChanged)
    Q_PROPERTY(double lowGainLimit READ lowGainLimit WRITE setLowGainLimit NOTIFY lowGainLimitChanged)
    Q_PROPERTY(QList<Calibrator*> adjusters READ adjusters WRITE setAdjusters NOTIFY adjustersChanged)
    Q_PROPERTY(QList<Macropixel*> macropixels READ macropixels WRITE setMacropixels NOTIFY macropixelsChanged)
    Q_PROPERTY(QList<Tile*> tiles READ tiles WRITE setTiles NOTIFY tilesChanged)

public:
    // Fixed underlying types: a task or mode number from outside (a stored
    // setting, QML) may hold any int, and only a known value is acted on.
    enum Mode : int {
        ModeLinearity = 0, // colour meter readings, white point and gamma
        ModeBalance = 1,   // per-LDM gains from camera observations
        ModeTemplate = 2,  // per-tile mesh gains from camera observations
    };
    Q_ENUM(Mode)

    enum TaskType : int {
        TaskNothing = 0,      // running stays true until cleared; no work
        TaskCalibrate = 1,    // linearity correction from the start
        TaskMeasure = 2,      // one averaged measurement
        TaskTestReadCounts = 3,
        TaskResume = 4,       // resume the linearity correction
        TaskBalance = 5,
        TaskTemplate = 6,
    };
    Q_ENUM(TaskType)

    enum ControlType : int {
        ControlDefault = 0,     // the Calibrator's current default
        ControlRGB = 1,         // numbered RGB (any value but 0 and 2 acts so)
        ControlDisplayGain = 2, // display-wide gains
    };

    enum Color { Red = 0, Green = 1, Blue = 2 };
    static const char* const colorStr_[3];

    // Rows of the sensitivity matrix: the measured quantity. In the camera
    // modes the rows carry observed blue, red and green.
    enum Quantity { Luminance = 0, Cct = 1, Duv = 2 };

    struct Reading
    {
        double cct = 0.0;
        double duv = 0.0;
        double luminance = 0.0;
        QString timestamp;

        // The measured quantities by slot: 0 cct, 1 duv, 2 luminance (in
        // the camera modes observed red, green, blue).
        double& operator[](int slot) { return slot == 0 ? cct : slot == 1 ? duv : luminance; }
        double operator[](int slot) const { return slot == 0 ? cct : slot == 1 ? duv : luminance; }
    };

    struct RGBValues
    {
        double red = 0.0;
        double green = 0.0;
        double blue = 0.0;

        double& operator[](int c) { return c == Red ? red : c == Green ? green : blue; }
        double operator[](int c) const { return c == Red ? red : c == Green ? green : blue; }
    };

    Calibrator(Mode mode, uint number, QObject* parent = nullptr);
    ~Calibrator() override;

    // ---- properties
    bool running() const { return running_; }
    void setRunning(bool value);
    // A start or stop sent from another thread with the task (a TaskType) set
    // when it was sent. A start whose task was replaced before it arrived (a
    // busy phase's start still queued when the next run set its own task)
    // runs nothing: that run's own start follows it.
    void setRunningFor(bool value, int task);
    uint targetCCT() const { return uint(targetCCT_); }
    void setTargetCCT(uint value);
    double targetDuv() const { return targetDuv_; }
    void setTargetDuv(double value);
    double targetLum() const { return targetLum_; }
    void setTargetLum(double value);
    uint readDelay() const { return readDelay_; }
    void setReadDelay(uint value);
    double maximumValue() const { return maximumValue_; }
    void setMaximumValue(double value);
    QString statusString() const { return statusString_; }
    void setStatusString(const QString& text);
    bool ambientBlack() const { return ambientBlack_; }
    void setAmbientBlack(bool value);
    double stepSpacing() const { return stepSpacing_; }
    void setStepSpacing(double value);
    ErrorType colorimeterErrorType() const { return colorimeterErrorType_; }
    void setColorimeterErrorType(const ErrorType& value);
    QString colorimeterError() const { return colorimeterError_; }
    void setColorimeterError(const QString& text);
    Mode mode() const { return mode_; }
    void setMode(Mode value);
    TaskType task() const { return task_.load(); }
    void setTask(TaskType value);
    double progress() const { return progress_; }
    void setProgress(double value);
    uint resumeStep() const { return resumeStep_; }
    void setResumeStep(uint value);
    double errorAllowed() const { return errorAllowed_; }
    void setErrorAllowed(double value);
    double maximumWeightedError() const { return maximumWeightedError_; }
    // Set by the brightness adjustment.
    void setMaximumWeightedError_(double value) { maximumWeightedError_ = value; }
    bool loggable() const { return loggable_; }
    void setLoggable(bool value);
    double highGainLimit() const { return highGainLimit_; }
    void setHighGainLimit(double value);
    double lowGainLimit() const { return lowGainLimit_; }
    void setLowGainLimit(double value);
    QList<Calibrator*> adjusters() const { return adjusters_; }
    void setAdjusters(const QList<Calibrator*>& list);
    QList<Macropixel*> macropixels() const { return macropixels_; }
    void setMacropixels(const QList<Macropixel*>& list);
    QList<Tile*> tiles() const { return tiles_; }
    void setTiles(const QList<Tile*>& list);

    // ---- getters and setters outside the property system
    uint readCount() const { return readCount_; }
    void setReadCount(uint value);
    uint steps() const { return steps_; }
    void setSteps(uint value);
    double gamma() const { return gamma_; }
    void setGamma(double value);
    uint number() const { return number_; }
    DisplayBase* display() const { return display_.load(); }
    void setDisplay(DisplayBase* d) { display_.store(d); }

    double calibrationError() const;
    double maxDeltaError() const;
    bool ioErrors() const { return colorimeterErrorType_.code != 0; }
    bool tooDark() const { return mode_ == ModeLinearity && reading.luminance == 0.0; }
    bool logIt_() const { return mode_ == ModeLinearity || loggable_; }
    // Something failed that ends the run (see `failure`, `displayError`).
    bool failed_() const { return !failure.isEmpty() || displayError.code != 0; }
    // Running, and nothing has failed that ends the run.
    bool going_() const { return running_ && !failed_(); }
    // A correction level cannot go on: records the cause (the display's or
    // the meter's error, or a dark reading) as the correction's end status.
    void failCorrection_();

    // ---- readings and gains (all on the Calibrator's own thread; every one
    // returns promptly once `running` clears)
    // How long a reading waits for a meter that has answered nothing since
    // it was asked; a meter that answers, however slowly, is not cut off.
    // Tests shorten it.
    static inline std::atomic<unsigned> meterSilenceMs {20000};
    bool takeReading_();
    bool takeMultipleReadings_(int count);
    // Waits for dataReady at most `ms` milliseconds (0: until it is set or
    // `running` clears).
    bool waitForData_(unsigned ms = 0);
    void delay_(unsigned ms);
    bool sendRGBGains_(double r, double g, double b, ControlType type);
    bool setRGBGains_(double r, double g, double b, ControlType type);
    void saveThisToLast_();
    void setReadTime_(const QString& time);
    QString readTime_() const;
    bool getRGBDeltas_();
    bool getRGBDeltasWithRetries_();
    bool limitRGBDeltas_(double percent, double scale, unsigned maxDelta);

    // ---- records of the display model, copied under the model's lock (the
    // GUI thread may replace the model's lists at any time): a default record
    // when there is no display or no such record.
    Macropixel displayLdm_(uint number) const;
    Tile displayTile_(uint number) const;

    // ---- reports
    void displayCalibration(const QString& title, QList<CalibrationPoint>& list);
    void dumpPointList(const QString& title);
    void formatPointLine_(const QString& label, CalibrationPoint& point);
    QString gainString() const;
    void logTime(const QString& prefix, qint64 seconds);
    QString remainingTime(double fraction) const { return ::remainingTime(startTime, fraction); }
    // The point cache of the brightness adjustment: keyed by the gains.
    static QString pointKey_(const CalibrationPoint& point);
    static CalibrationPoint cachedPoint_(const QHash<QString, CalibrationPoint>& cache,
                                         const QString& key);
    void dumpPointCache_(const QString& title, const QHash<QString, CalibrationPoint>& cache);

    // ---- tasks and their coroutines; the ones not written yet end as every
    // task ends (beginTask_ ... endTask_).
    void balance();
    void setBalanceTargets(double red, double green, double blue);
    void setInitialDisplayGains(double red, double green, double blue);

    // Uniformity run: the update cycles of the balance and template runs.
    // balanceSetup gives a Calibrator the gain range of the camera runs;
    // setAndReadMacropixels_ sends the changed gains (all of them at the
    // initial level when `all`), waits and observes; readRGBsObserved asks
    // the shell for an observation and waits for it (false once stopped).
    void balanceSetup();
    void setAndReadMacropixels_(bool all);
    void sendLdmRGBs();
    bool readRGBsObserved(bool tiles);
    void dumpMacropixels();
    void dumpTiles();

    // Adjuster coroutines: created parked before their first statement and
    // driven by resume (see AdjustTask). Each leaf records gains with
    // coSetRGBGains_ and suspends until its driver has sent them and put the
    // new observation into `reading`.
    AdjustTask coCalibrateForBrightness_(double luminance);
    AdjustTask coSetGains_();
    AdjustTask coSetGain_(Color c);
    AdjustTask coChangeColor_(Color c, double delta);
    AdjustTask& renewCoAdjust_(double luminance);
    AdjustTask& renewCoGainSet_();
    // Records gains for the driver (no clamping; out-of-range values are
    // logged). The control type is not used.
    bool coSetRGBGains_(double red, double green, double blue, ControlType type = ControlDefault);
    // Linearity driver of the gain-set coroutine, from the initial gains.
    bool coSetInitialGains_();

    // ---- linearity correction
    CalibrationPoint& captureCalibration(CalibrationPoint& point, double target);
    void formatStepTable_(double black);
    double getAmbientLevel_();
    double getBrightestPoint_();
    bool setAndReadVantorRGB_();
    // Drives the held adjust coroutine to its end, sending its gains and
    // reading after each suspension; true when the level was reached.
    bool driveAdjustment_();
    // Averages count readings into `reading`; on a failed reading or a stop
    // the previous values stay.
    bool averageReadings_(int count);
    // averageReadings_ for a correction: a reading that failed while the run
    // goes on is the meter's error (stale data included), and ends the
    // correction with it.
    bool readForCorrection_(int count);

    // ---- state (see the members table of the engine; public for the tasks)
    QList<CalibrationPoint> points;
    qint64 durationSeconds = 0;
    // Set when a correction stopped itself at a gain limit: its own status
    // text then stands instead of "Correction cancelled".
    bool stoppedAtLimit = false;
    // Why the current run ended on its own before its end, while `running`
    // stayed set (a meter error, a dark reading, gains the display did not
    // take, a failed upload): the status a correction ends with, the reason
    // a uniformity run gives. Empty while nothing failed; the first cause
    // stands. Read by the shell after done().
    QString failure;
    // The display's error when a send of gains gave up (code 0 otherwise).
    ErrorType displayError;
    RGBValues balanceTargets;
    bool useSrgb = false;
    bool trust1stPoint = false;
    unsigned iterations = 0;
    unsigned compliantIterations = 20;
    unsigned minIterations = 50;
    unsigned maxIterations = 400;
    bool dataReady = false;
    double sensitivity[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    Reading reading;
    Reading lastReading;
    QString previousTimestamp;
    double cctAdjust = 0.0;
    double duvAdjust = 0.0;
    double luminanceScale = 1.0;
    RGBValues gains;
    RGBValues lastGains;
    double deltas[3] = {0.0, 0.0, 0.0};
    RGBValues displayGains {1.0, 1.0, 1.0};
    double previousDeltas[3] = {0.0, 0.0, 0.0};
    unsigned signFlips[3] = {0, 0, 0};
    unsigned currentStep = 0;
    unsigned storedSteps = 0;
    unsigned startStep = 0;
    unsigned stepsToGo = 0;
    bool usingCoroutines = false;
    QString luminanceUnits;
    QDateTime startTime;
    qint64 elapsed = 0;
    AdjustTask adjustCoroutine;
    AdjustTask gainSetCoroutine;
    double minimumValue = 0.0;
    double initialGain = 1.0;
    unsigned minimumPoints = 3;
    bool finishBalancingRequested = false;
    QList<float> levels;
    QList<CalibrationPoint> pointList;
    ControlType defaultControlType = ControlRGB;
    bool gainsPending = false;
    bool sendPerLdm = false;

public Q_SLOTS:
    void calibrate();
    void resume();
    void calibrateSteps(uint start);
    double pointWeight(CalibrationPoint& point, double maxError);
    int pointsWithinError(double maxError);
    int pointsWithinError();
    bool setFinalRGB(double maxError);
    void finishBalancing();
    void readColorimeterData(Colorimeter* data);
    void testReadCounts();
    void takeMeasurement();
    void macropixelsObserved(QList<Macropixel*> list);
    void tilesObserved(QList<Tile*> list);

Q_SIGNALS:
    void done(uint number, bool completed);
    void runningChanged(bool newValue);
    void statusStringChanged(QString newStatusString);
    // A correction ran through every level without error; the status text
    // that tells it follows at once.
    void correctionCompleted();
    void calibrationChanged(QString newCalibration);
    void takeReading();
    void getLdmsObserved();
    void getTilesObserved();
    void targetCCTChanged();
    void readDelayChanged();
    void readCountChanged();
    void maximumValueChanged();
    void targetDuvChanged();
    void stepsChanged();
    void gammaChanged();
    void clearLinearityLog();
    void appendLinearityLog(QString newCalibration);
    void ambientBlackChanged();
    void stepSpacingChanged();
    void colorimeterErrorTypeChanged();
    void colorimeterErrorChanged();
    void testingChanged();
    void modeChanged();
    void taskChanged();
    void progressChanged(double);
    void targetLumChanged();
    void resumeStepChanged();
    void errorAllowedChanged();
    void maximumWeightedErrorChanged();
    void loggableChanged();
    void highGainLimitChanged();
    void lowGainLimitChanged();
    void adjustersChanged();
    void macropixelsChanged();
    void displayChanged();
    void tilesChanged();
    void updateProgress();

protected:
    // Sets `running` for a task started by a direct call (not through
    // setRunning), without dispatching the shared task again.
    void beginTask_();
    // The common end of every task: `running` cleared (with runningChanged
    // unless this is an adjuster driven by coroutines), then done().
    void endTask_(bool completed);
    // The first half of endTask_: `running` cleared, without done().
    void stopRunning_();
    // Records (with coroutines) or sends gains for a black or white reading.
    void setMeasuringGains_(double value);
    // One send loop of sendRGBGains_ / setRGBGains_; `who` names the caller
    // in the log lines.
    int sendGainsLoop_(double r, double g, double b, ControlType type, const char* who);

    static std::atomic<TaskType> task_; // set by the GUI thread, read by the task

    Mode mode_;
    uint number_;
    std::atomic<bool> running_ {false};
    QString statusString_;
    // Standard mutexes, whose locking ThreadSanitizer follows.
    std::recursive_mutex runMutex;
    mutable std::mutex readTimeMutex;
    double targetCCT_ = 6500.0;
    double targetDuv_ = 0.0;
    double targetLum_ = 0.0;
    uint readDelay_ = 500;
    uint readCount_ = 1;
    double gamma_ = 2.4;
    uint steps_ = 10;
    QString readTime;
    uint resumeStep_ = 0;
    bool ambientBlack_ = true;
    double maximumValue_ = 1.0;
    double maximumWeightedError_ = 0.0;
    double stepSpacing_ = 1.0;
    ErrorType colorimeterErrorType_;
    QString colorimeterError_;
    double progress_ = 0.0;
    double errorAllowed_ = 0.0;
    bool loggable_ = false;
    double highGainLimit_ = 0.5;
    double lowGainLimit_ = 0.25;
    QList<Calibrator*> adjusters_;
    QList<Macropixel*> macropixels_;
    QList<Tile*> tiles_;
    std::atomic<DisplayBase*> display_ {nullptr};
};

Q_DECLARE_METATYPE(Calibrator*)
