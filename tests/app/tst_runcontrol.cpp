// ctest-labels: threaded
// Runs through the central object: a linearity run against the stand-in
// processor from start to the correction sent, the sRGB refusal, a Stop in
// the middle of a run and during the processor's preparation, the waits on a
// processor that holds its answers, and the end of a uniformity run.
#include "cr100.h"
#include "messagecapture.h"
#include "polledcontext.h"
#include "processorstandin.h"
#include "processorwall.h"
#include "scriptedmeter.h"
#include "testsupport.h"
#include "vantor.h"
#include "veltranor.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <semaphore>

using testsupport::PolledContext;

namespace {

// A meter reading a linear wall driven by the processor's colour and display
// gains: 150 nits at full white, 6500 K and Duv 0 whenever the primaries are
// equal.
class ProcessorPlant : public Colorimeter
{
public:
    explicit ProcessorPlant(Vantor& vantor)
        : Colorimeter(QStringLiteral("plant"))
        , vantor_(vantor)
    {
    }

    void read() override
    {
        const double r = vantor_.red() * vantor_.displayGainRed();
        const double g = vantor_.green() * vantor_.displayGainGreen();
        const double b = vantor_.blue() * vantor_.displayGainBlue();
        lock();
        setLuminance(45 * r + 90 * g + 15 * b);
        setCct(6500 - 3000 * r + 500 * g + 2500 * b);
        setDuv(-0.01 * r + 0.02 * g - 0.01 * b);
        setTimestamp(QString::number(++reads));
        setError(QString());
        setErrorType(ErrorType());
        unlock();
        Q_EMIT dataAvailable(this);
    }

    std::atomic<int> reads {0};

private:
    Vantor& vantor_;
};

QList<QJsonObject> patches(ProcessorStandin& fake)
{
    QList<QJsonObject> bodies;
    for (const QJsonValue& record : fake.requestLog())
        if (record.toObject().value("method").toString() == QLatin1String("PATCH"))
            bodies.append(QJsonDocument::fromJson(ProcessorStandin::body(record.toObject())).object());
    return bodies;
}

// The measuring state (test pattern on, curves off, black) or the normal one.
bool measuringState(const QJsonObject& patch, bool measuring)
{
    const QJsonObject display = patch["dev"]["display"].toObject();
    return patch["dev"]["ingest"]["testPattern"]["enabled"].toBool() == measuring
           && display["out"]["curves"]["enabled"].toBool() == !measuring
           && display["out"]["adjust"]["gain"]["g"].toDouble() == (measuring ? 0.0 : 1.0);
}

const QString kStillEnding = QStringLiteral("The previous run is still ending; try again when it has stopped.");
const QString kUnanswered = QStringLiteral("the processor did not answer within 10 s");
const QString kInProgress = QStringLiteral("A run is in progress; try again when it has stopped.");

// What an operator can do between a Stop and the engine's done.
enum class Press {
    ModeSwitch,
    DeviceSwitch,
    TargetLdm,
    Run,
    Resume,
    Measure,
    ReadCountTest,
    BusyPhase,
    CaptureTest,
    Registration,
    OpenCorrection,
    MeterSwitch,
    CameraSwitch,
    LensChoice,
    MeshPattern
};

void press(Veltranor& v, Press what, const QString& correctionFile)
{
    switch (what) {
    case Press::ModeSwitch:
        v.setMode(v.mode() == Calibrator::ModeLinearity ? Calibrator::ModeBalance : Calibrator::ModeLinearity);
        break;
    case Press::DeviceSwitch: // Preferences, Alternate Devices: the simulated display
        v.setOutputType(1 - v.outputType());
        break;
    case Press::TargetLdm: // a click on an LDM in "Set target RGB"
        v.chooseTargetLdm(5);
        break;
    case Press::Run:
        v.setRunning(true);
        break;
    case Press::Resume:
        v.resume();
        break;
    case Press::Measure:
        v.takeMeasurement();
        break;
    case Press::ReadCountTest:
        v.test();
        break;
    case Press::BusyPhase: // Check for Update, loading a correction file
        v.runNothing();
        break;
    case Press::CaptureTest:
        v.grabImage();
        break;
    case Press::Registration:
        v.runMeshRegistration();
        break;
    case Press::OpenCorrection:
        v.readCalibration(QUrl::fromLocalFile(correctionFile));
        break;
    case Press::MeterSwitch:
        v.setColorimeterType(1 - v.colorimeterType());
        break;
    case Press::CameraSwitch:
        v.setCameraType(1 - v.cameraType());
        break;
    case Press::LensChoice:
        v.setLensName(QStringLiteral("another lens"));
        break;
    case Press::MeshPattern:
        v.setMeshTestPattern();
        break;
    }
}

} // namespace

class TestRunControl : public QObject
{
    Q_OBJECT

    std::unique_ptr<PolledContext> net_;
    ProcessorStandin fake_;
    QTemporaryDir dir_;

    std::unique_ptr<Veltranor> make(bool onProcessor)
    {
        auto v = std::make_unique<Veltranor>(net_->io());
        v->idleTimer().stop();
        v->setReadCount(1);
        v->setReadDelay(500);
        if (onProcessor) {
            v->vantor()->setAddress(QStringLiteral("127.0.0.1:%1").arg(fake_.port()));
            v->vantor()->read();
        } else {
            v->setOutputType(1);
        }
        return v;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        net_ = std::make_unique<PolledContext>();
        QVERIFY2(fake_.start(), qPrintable(fake_.errorString()));
        fake_.setAuth(QJsonObject {{QStringLiteral("enabled"), false}});
    }

    void init()
    {
        QSettings().clear();
        fake_.clearRules();
        fake_.clearLog();
    }

    void cleanupTestCase()
    {
        fake_.stop();
        net_.reset();
    }

    // One PATCH puts the processor into its measuring state before the
    // engine starts, one restores it, and the correction follows.
    void linearityRunOnProcessor()
    {
        auto v = make(true);
        ProcessorPlant meter(*v->vantor());
        v->setColorimeter(&meter);
        v->setSteps(2);
        v->setFilepath(dir_.filePath(QStringLiteral("x")));
        fake_.clearLog();

        v->setRunning(true);
        QVERIFY(v->running());
        QList<QJsonObject> sent = patches(fake_);
        QCOMPARE(sent.size(), 1);
        QVERIFY(measuringState(sent[0], true));

        QTRY_VERIFY_WITH_TIMEOUT(!v->running(), 120000);
        QCOMPARE(v->status(), 1);
        QVERIFY(v->calibrationAvailable());
        QCOMPARE(v->correctionPoints.size(), 3);
        QVERIFY2(QRegularExpression(QRegularExpression::escape(dir_.path())
                                    + QStringLiteral("/VantorCal-\\d{4}-\\d\\d-\\d\\dT\\d\\d-\\d\\d-\\d\\d\\.tsv$"))
                     .match(v->filename())
                     .hasMatch(),
                 qPrintable(v->filename()));

        sent = patches(fake_);
        QVERIFY(sent.size() >= 3);
        QVERIFY(measuringState(sent[sent.size() - 2], false));
        const QJsonObject last = sent.last();
        const QJsonObject display = last["dev"]["display"].toObject();
        const QJsonArray red = QJsonDocument::fromJson(display["out"]["curves"]["r"].toString().toUtf8()).array();
        QCOMPARE(red.size(), 3);
        QCOMPARE(red[2].toObject()["px"].toDouble(), 1.0);
        QCOMPARE(display["gains"]["g"].toDouble(), v->correctionPoints.last().greenDisplayGain);
        QVERIFY(!v->donePending());
    }

    // sRGB needs the gamma at 2.4: the run is refused, and QML sees no change.
    void srgbRefusal()
    {
        auto v = make(false);
        v->setGamma(2.2);
        QSignalSpy running(v.get(), &Veltranor::runningChanged);
        testsupport::MessageCapture log;
        v->setRunning(true);
        QVERIFY(!v->running());
        QCOMPARE(running.count(), 0);
        QCOMPARE(v->statusString(),
                 QStringLiteral("Correction canceled: VANTOR Gamma (HDR) must be 1.0 to correct using sRGB."));
        QCOMPARE(log.count(QStringLiteral(
                     "Correction canceled: VANTOR Gamma (HDR) is 0.92, must be 1.0 for sRGB corrections.")),
                 1);
    }

    // Stop while the engine waits for a reading: the run ends cancelled,
    // busy while its points are processed.
    void stopMidRun()
    {
        auto v = make(false);
        ScriptedMeter meter;
        meter.script({ScriptedMeter::Answer {.silent = true}});
        v->setColorimeter(&meter);
        QSignalSpy running(v.get(), &Veltranor::runningChanged);
        testsupport::MessageCapture log;
        v->setRunning(true);
        QTRY_VERIFY_WITH_TIMEOUT(meter.reads() >= 1, 30000);
        v->setRunning(false);
        QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("Veltranor: Correction cancelled.")), 1, 30000);
        QTRY_VERIFY(!v->running());
        QCOMPARE(v->status(), -1);
        QCOMPARE(running.count(), 4); // started, stopped, busy while processing, idle
        QVERIFY(!v->donePending());
        v->setColorimeter(v->cr100());
    }

    void stopDuringPreparation_data()
    {
        QTest::addColumn<int>("what");       // pressed while the set-up's PATCH is held (-1: nothing)
        QTest::addColumn<bool>("afterStop"); // pressed right after the Stop, else before it
        QTest::newRow("Stop alone") << -1 << false;
        QTest::newRow("output switch") << int(Press::DeviceSwitch) << false;
        QTest::newRow("meter switch") << int(Press::MeterSwitch) << false;
        QTest::newRow("camera switch") << int(Press::CameraSwitch) << false;
        QTest::newRow("mode switch") << int(Press::ModeSwitch) << false;
        QTest::newRow("target LDM click") << int(Press::TargetLdm) << false;
        QTest::newRow("lens choice") << int(Press::LensChoice) << false;
        QTest::newRow("mesh test pattern") << int(Press::MeshPattern) << false;
        QTest::newRow("open a correction file") << int(Press::OpenCorrection) << false;
        QTest::newRow("run right after the Stop") << int(Press::Run) << true;
        QTest::newRow("resume right after the Stop") << int(Press::Resume) << true;
    }

    // A Stop taken while the processor is being prepared: the processor is
    // put back and the engine never starts. Until the set-up's request has
    // returned, a press changes nothing and says why.
    void stopDuringPreparation()
    {
        QFETCH(int, what);
        QFETCH(bool, afterStop);
        auto v = make(true);
        ScriptedMeter meter;
        v->setColorimeter(&meter);
        const int camera = v->cameraType();
        const QString lens = v->lensName();
        fake_.addRule(QJsonObject {{"method", "PATCH"}, {"action", "hang"}});
        fake_.clearLog();
        QList<bool> told;
        QObject context;
        connect(v.get(), &Veltranor::runningChanged, &context, [&](bool on) { told << on; });
        QString refusal;
        const auto pressNow = [&] {
            press(*v, Press(what), QString());
            refusal = v->statusString();
        };
        // The operator's hand, once the processor holds the set-up's PATCH.
        QTimer hand;
        hand.setInterval(20);
        connect(&hand, &QTimer::timeout, &context, [&] {
            const QJsonArray log = fake_.requestLog();
            if (log.isEmpty() || !log.last().toObject().value("held").toBool())
                return;
            hand.stop();
            if (what >= 0 && !afterStop)
                pressNow();
            v->setRunning(false);
            if (afterStop)
                pressNow();
            fake_.releaseHung();
        });
        hand.start();
        v->setRunning(true);
        if (what >= 0)
            QCOMPARE(refusal, afterStop ? kStillEnding : kInProgress);
        QVERIFY(v->idle());
        for (qsizetype i = 1; i < told.size(); ++i)
            QVERIFY2(!(told[i] && told[i - 1]), "told running twice in a row");
        QCOMPARE(v->display(), static_cast<DisplayBase*>(v->vantor()));
        QCOMPARE(v->colorimeter(), static_cast<Colorimeter*>(&meter));
        QCOMPARE(v->cameraType(), camera);
        QCOMPARE(v->mode(), Calibrator::ModeLinearity);
        QCOMPARE(v->lensName(), lens);
        const QList<QJsonObject> sent = patches(fake_);
        QCOMPARE(sent.size(), 2);
        QVERIFY(measuringState(sent.first(), true));
        QVERIFY(measuringState(sent.last(), false));
        QTest::qWait(1500);
        QCOMPARE(meter.reads(), 0);
        QVERIFY(!v->calibrator()->running());
        v->setColorimeter(v->cr100());
    }

    void cameraConnectsInAnyPhase_data()
    {
        QTest::addColumn<int>("phase"); // 0 idle, 1 a busy phase, 2 a linearity run on the simulated wall
        QTest::newRow("idle") << 0;
        QTest::newRow("busy phase") << 1;
        QTest::newRow("linearity run") << 2;
    }

    // The camera's connection restores the saved lens and image in whatever
    // phase it lands: nothing was pressed, so nothing is refused.
    void cameraConnectsInAnyPhase()
    {
        QFETCH(int, phase);
        const QString file = QStringLiteral(":src/lenscomp/ILCE-7C_FE_4^024-105_@070~105.jpg");
        QSettings().setValue("lensName", "FE_4^024-105");
        QSettings().setValue("lensFile", file);
        auto v = make(false);
        ScriptedMeter meter; // never answers: the run waits
        meter.script({ScriptedMeter::Answer {.silent = true}});
        v->setColorimeter(&meter);
        phase == 1 ? v->runNothing() : v->setRunning(phase == 2);
        const QString status = v->statusString();
        v->setCameraName(QStringLiteral("ILCE-7C"));
        QCOMPARE(v->lensFile(), file);
        QCOMPARE(QSettings().value("lensFile").toString(), file);
        QCOMPARE(v->statusString(), status);
        v->setRunning(false);
        QTRY_VERIFY_WITH_TIMEOUT(v->idle(), 30000);
        v->setColorimeter(v->cr100());
    }

    void endingRefusesWhatTheRunHolds_data()
    {
        QTest::addColumn<bool>("balance");
        QTest::addColumn<int>("what");
        QTest::newRow("balance: mode switch") << true << int(Press::ModeSwitch);
        QTest::newRow("balance: target LDM click") << true << int(Press::TargetLdm);
        QTest::newRow("balance: run again") << true << int(Press::Run);
        QTest::newRow("balance: resume") << true << int(Press::Resume);
        QTest::newRow("balance: busy phase") << true << int(Press::BusyPhase);
        QTest::newRow("balance: capture test") << true << int(Press::CaptureTest);
        QTest::newRow("balance: mesh registration") << true << int(Press::Registration);
        QTest::newRow("linearity: mode switch") << false << int(Press::ModeSwitch);
        QTest::newRow("linearity: display switch") << false << int(Press::DeviceSwitch);
        QTest::newRow("linearity: run again") << false << int(Press::Run);
        QTest::newRow("linearity: measure") << false << int(Press::Measure);
        QTest::newRow("linearity: read-count test") << false << int(Press::ReadCountTest);
        QTest::newRow("linearity: busy phase") << false << int(Press::BusyPhase);
        QTest::newRow("linearity: open a correction file") << false << int(Press::OpenCorrection);
    }

    // Between Stop and the engine's done the stopped task still runs with its
    // adjusters and records: nothing is started, freed or rebuilt, each press
    // says why, and the tear-down is the one of the run that ended.
    void endingRefusesWhatTheRunHolds()
    {
        QFETCH(bool, balance);
        QFETCH(int, what);
        auto v = make(!balance);
        ProcessorPlant plant(*v->vantor());
        if (balance) {
            v->setCameraType(1); // the dummy camera answers from the wall model
            v->setMode(Calibrator::ModeBalance);
            v->setBalanceTargetRed(140);
            v->setBalanceTargetGreen(140);
            v->setBalanceTargetBlue(140);
        } else {
            v->setColorimeter(&plant);
            v->setSteps(40);
        }
        const Calibrator::Mode mode = v->mode();
        v->setRunning(true);
        QVERIFY(v->running());
        if (balance)
            QTRY_VERIFY_WITH_TIMEOUT(v->calibrator()->running(), 30000);
        else
            QTRY_VERIFY_WITH_TIMEOUT(plant.reads >= 1, 30000);
        const qsizetype adjusters = v->adjusters().size();
        const qsizetype records = v->observedLdms().size();
        const QString correctionFile = dir_.filePath(QStringLiteral("good.tsv"));
        v->correctionPoints = QList<CalibrationPoint>(2);
        v->correctionPoints[1].red = v->correctionPoints[1].redPx = 1.0;
        QVERIFY(v->saveCalibration(QUrl::fromLocalFile(correctionFile)));
        v->correctionPoints.clear();
        const QString filename = v->filename();
        fake_.clearLog();

        // The done comes through this thread's queue: no event loop runs
        // between the Stop and the presses, so the run is still ending.
        // A device switch while the run runs says so.
        v->setOutputType(1 - v->outputType());
        QCOMPARE(v->statusString(), kInProgress);
        v->setRunning(false);
        QVERIFY(v->donePending() && !v->running());
        // No text the stopped engine told (its step texts) reaches the status line.
        QStringList told;
        QObject context;
        connect(v.get(), &Veltranor::statusStringChanged, &context, [&] { told << v->statusString(); });
        QSignalSpy announced(v.get(), &Veltranor::statusStringChanged);
        press(*v, Press(what), correctionFile);
        press(*v, Press(what), correctionFile);
        QVERIFY(!v->running());
        QCOMPARE(v->statusString(), kStillEnding);
        QCOMPARE(announced.count(), 2);
        QVERIFY(v->correctionPoints.isEmpty());
        QCOMPARE(v->filename(), filename);
        QCOMPARE(v->mode(), mode);
        QCOMPARE(v->display() == v->vantor(), !balance);
        QCOMPARE(v->adjusters().size(), adjusters);
        QCOMPARE(v->observedLdms().size(), records);

        QTRY_VERIFY_WITH_TIMEOUT(!v->donePending(), 30000);
        QTRY_VERIFY(!v->running());
        QCOMPARE(v->status(), -1);
        for (const QString& text : std::as_const(told))
            QVERIFY2(!text.startsWith(QStringLiteral("Step ")), qPrintable(text));
        if (balance) {
            QVERIFY(v->adjusters().isEmpty());
        } else {
            QVERIFY(!v->statusString().startsWith(QStringLiteral("Uniformity")));
            bool restored = false;
            for (const QJsonObject& patch : patches(fake_))
                restored = restored || measuringState(patch, false);
            QVERIFY(restored);
        }
        // Over: the same press is taken again.
        v->setMode(Calibrator::ModeLinearity);
        QCOMPARE(v->mode(), Calibrator::ModeLinearity);
        v->setColorimeter(v->cr100());
    }

    // A busy phase's start and stop still wait in the engine's queue when a
    // balance run sets its task: the run's task runs once, from its own start.
    void busyPhaseStillQueuedAtARunsStart()
    {
        testsupport::MessageCapture log;
        auto v = make(false);
        v->setCameraType(1);
        v->setMode(Calibrator::ModeBalance);
        v->setBalanceTargetRed(140);
        v->setBalanceTargetGreen(140);
        v->setBalanceTargetBlue(140);
        // The engine's thread is held until every start and stop is queued.
        std::binary_semaphore gate(0);
        QMetaObject::invokeMethod(v->calibrator(), [&gate] { gate.acquire(); }, Qt::QueuedConnection);
        v->runNothing();
        v->setRunning(false);
        v->setRunning(true);
        gate.release();
        const QString started = QStringLiteral("Calibrator #0 balancing");
        QTRY_VERIFY_WITH_TIMEOUT(log.count(started) >= 1, 30000);
        v->setRunning(false);
        QTRY_COMPARE_WITH_TIMEOUT(v->statusString(),
                                  QStringLiteral("Uniformity cancelled; display left in indeterminate state."), 30000);
        QVERIFY(!v->donePending());
        QCOMPARE(log.count(started), 1);
    }

    void stopEndsAWaitingRequest_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QJsonObject>("hang");     // the processor's rule that holds requests
        QTest::addColumn<bool>("afterSetUp");      // added once the processor is prepared
        QTest::addColumn<int>("stops");            // Stop presses, one per request held, at most
        QTest::addColumn<int>("holds");            // requests the processor ends up holding
        QTest::addColumn<QString>("waiting");      // the status at the last request held ("": any)
        QTest::addColumn<QString>("status");       // the idle rows: the output LED's text
        const QJsonObject patch {{"method", "PATCH"}, {"action", "hang"}};
        QJsonObject everyPatch = patch;
        everyPatch.insert("times", -1);
        const QJsonObject uploads {{"path", "/api/v1/tile/"}, {"action", "hang"}, {"times", -1}};
        QTest::newRow("linearity: gain PATCH") << "run" << patch << true << 1 << 1 << "" << "Correction cancelled";
        QTest::newRow("balance: LDM gains PATCH")
            << "balance" << patch << false << 1 << 1 << ""
            << "Uniformity cancelled; display left in indeterminate state.";
        // Every adjuster's request is held: those the run tries after the
        // Stop must end at once, not wait for a second press.
        QTest::newRow("balance: every LDM gains PATCH")
            << "balance" << everyPatch << false << 1 << 1 << ""
            << "Uniformity cancelled; display left in indeterminate state.";
        QTest::newRow("linearity: the PATCH preparing the processor")
            << "run" << patch << false << 1 << 1 << "" << "Correction cancelled";
        // One Stop ends the run; the restore the processor never answers
        // ends by itself, and the window says so while it waits.
        QTest::newRow("linearity: every PATCH, the tear-down's too")
            << "run" << everyPatch << true << 1 << 2 << "Correction cancelled; restoring the processor..."
            << "Correction cancelled; the processor did not answer its restore within 10 s";
        QTest::newRow("registration: white, then pattern off")
            << "registration" << everyPatch << false << 1 << 2 << "Turning the test pattern off..."
            << "Mesh registration cancelled; the test pattern may still be on: the processor did not answer "
               "within 10 s"
           ;
        // Resume prepares the processor as Run does: one Stop ends the set-up
        // and its restore, which the processor does not answer either.
        QTest::newRow("resume: every PATCH from the set-up on")
            << "resume" << everyPatch << false << 1 << 2 << "Correction cancelled; restoring the processor..."
            << "Correction cancelled; the processor did not answer its restore within 10 s";
        // The refused sRGB start puts the processor back as a Stop does.
        QTest::newRow("linearity: the sRGB refusal's restore")
            << "srgb" << everyPatch << false << 1 << 1 << ""
            << "Correction canceled: VANTOR Gamma (HDR) must be 1.0 to correct using sRGB; the restore was stopped, "
               "the processor was not put back";
        QTest::newRow("linearity: a second Stop during the restore")
            << "run" << everyPatch << true << 2 << 2 << "Correction cancelled; restoring the processor..."
            << "Correction cancelled; the restore was stopped, the processor was not put back";
        // The Stop comes while the set-up's look-up of the address is under
        // way: the set-up's request that follows it is refused, not sent.
        QTest::newRow("linearity: Stop during the set-up's look-up")
            << "lookup" << everyPatch << false << 0 << 1 << "Correction cancelled; restoring the processor..."
            << "Correction cancelled; the processor did not answer its restore within 10 s";
        const QJsonObject fetch {{"method", "GET"}, {"path", "/api/v1/data?dev.receivers"}, {"action", "hang"}};
        QTest::newRow("refresh: the wall fetch")
            << "refresh" << fetch << false << 1 << 1 << "Fetching the wall from the processor..."
            << "Fetch LDMs stopped; the wall shown before stays.";
        // The periodic read: nothing to stop; the next read, when it is due,
        // tells the LED, and the one after that clears it.
        const QJsonObject read {{"method", "GET"}, {"action", "hang"}};
        QJsonObject interim = read;
        interim.insert("interim", QJsonArray {100});
        QTest::newRow("idle read") << "idle" << read << false << 0 << 1 << "" << kUnanswered;
        QTest::newRow("idle read: 100 Continue, then silence") << "idle" << interim << false << 0 << 1 << "" << kUnanswered;
        QTest::newRow("checkerboard mesh upload")
            << "checkerboard" << uploads << false << 1 << 1 << "Sending the mesh test pattern..."
            << "Failed to send the mesh test pattern: UploadLdms: tile AA:BB:CC:DD:EE:00, ldm 1, network error "
               "Operation canceled";
        QTest::newRow("correction file sent")
            << "file" << everyPatch << false << 1 << 1 << "Sending the correction to the processor..."
            << "Correction could not be sent: Operation canceled";
    }

    // The processor holds what the window waits for: the window offers Stop
    // (and says what it waits for) while it waits, and each Stop ends the
    // request held then, with every request the stopped run tries on its way
    // out, so that nothing is left waiting on the processor.
    void stopEndsAWaitingRequest()
    {
        QFETCH(QString, what);
        QFETCH(QJsonObject, hang);
        QFETCH(bool, afterSetUp);
        QFETCH(int, stops);
        QFETCH(int, holds);
        QFETCH(QString, waiting);
        QFETCH(QString, status);
        ProcessorStandin wall;
        QVERIFY2(wall.start(), qPrintable(wall.errorString()));
        wall.setAuth(QJsonObject {{QStringLiteral("enabled"), false}});
        auto v = make(false);
        v->setOutputType(0);
        v->vantor()->setAddress(QStringLiteral("127.0.0.1:%1").arg(wall.port()));
        ProcessorPlant plant(*v->vantor());
        const bool uniformity = what == QLatin1String("balance") || what == QLatin1String("checkerboard")
                                || what == QLatin1String("refresh");
        const bool idle = what == QLatin1String("idle");
        if (uniformity) {
            wall.setState(testsupport::meshWallState(1, 160, 90, 4, 3));
            v->setCameraType(1);
            v->setMode(Calibrator::ModeBalance);
            QVERIFY(v->display()->ldmCount() > 0);
            v->setBalanceTargetRed(140);
            v->setBalanceTargetGreen(140);
            v->setBalanceTargetBlue(140);
            v->setTileMeshWidth(4);
            v->setTileMeshHeight(3);
        } else {
            QCOMPARE(v->vantor()->read().code, 0);
            v->setColorimeter(&plant);
            v->setSteps(40);
            if (what == QLatin1String("srgb")) {
                // The processor at gamma 2.2; its set-up is answered, its restore held.
                v->vantor()->setGamma(2.2);
                wall.addRule(QJsonObject {{"method", "PATCH"}, {"delay", 0}});
            }
        }
        const QUrl file = QUrl::fromLocalFile(dir_.filePath(QStringLiteral("held.tsv")));
        if (what == QLatin1String("file")) {
            v->correctionPoints = {CalibrationPoint {}, CalibrationPoint {}};
            v->correctionPoints[1].redPx = v->correctionPoints[1].greenPx = v->correctionPoints[1].bluePx = 1.0;
            QVERIFY(v->saveCalibration(file));
        }
        const auto held = [&] {
            qsizetype count = 0;
            for (const QJsonValue& record : wall.requestLog())
                count += record.toObject().value("held").toBool() ? 1 : 0;
            return count;
        };

        // What the scene is told, and the operator's presses: Stop only while
        // it is offered, once for each request the processor holds.
        QObject context; // gone before the central object
        bool offered = false;
        connect(v.get(), &Veltranor::runningChanged, &context, [&](bool on) { offered = on; });
        int presses = 0;
        qsizetype heldSeen = 0;
        QString shownAtHold;
        QTimer operatorHand;
        operatorHand.setInterval(50);
        connect(&operatorHand, &QTimer::timeout, &context, [&] {
            const qsizetype now = held();
            if (!offered || now <= heldSeen)
                return;
            heldSeen = now;
            shownAtHold = v->statusString();
            if (presses < stops) {
                ++presses;
                v->setRunning(false);
            }
        });
        // A wait that nothing the operator can press ends is let go here, so
        // that the row fails instead of hanging.
        bool stuck = false;
        QTimer::singleShot(40000, &context, [&] {
            stuck = true;
            v->vantor()->cancel();
            wall.releaseHung();
        });
        operatorHand.start();

        const qsizetype ldms = v->display()->ldmCount();
        if (what == QLatin1String("lookup")) {
            // A look-up afresh, held until the operator has pressed Stop.
            v->vantor()->setAddress(QString());
            v->vantor()->setAddress(QStringLiteral("127.0.0.1:%1").arg(wall.port()));
            v->vantor()->lookupHook = [&, looked = false](const QString&) mutable {
                if (!std::exchange(looked, true))
                    v->setRunning(false);
            };
        }
        if (!afterSetUp)
            wall.addRule(hang);
        if (idle)
            v->idleTimer().start(1000);
        else if (what == QLatin1String("refresh"))
            v->fetchLdms();
        else if (what == QLatin1String("resume"))
            v->resume();
        else if (what == QLatin1String("registration"))
            v->runMeshRegistration();
        else if (what == QLatin1String("checkerboard"))
            v->setMeshTestPattern();
        else if (what == QLatin1String("file"))
            QVERIFY(!v->readCalibration(file));
        else
            v->setRunning(true);
        if (afterSetUp)
            wall.addRule(hang);

        if (idle) {
            QTRY_COMPARE_WITH_TIMEOUT(v->display()->error(), status, 30000);
            QCOMPARE(held(), qsizetype(holds));
            // The next good read clears it.
            QTRY_COMPARE_WITH_TIMEOUT(v->display()->error(), QString(), 30000);
            v->idleTimer().stop();
            QVERIFY(!v->running());
            QCOMPARE(held(), qsizetype(holds));
            wall.releaseHung();
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(stuck || (heldSeen == holds && !v->running() && !v->donePending()), 45000);
        operatorHand.stop();
        QVERIFY(!stuck);
        QCOMPARE(presses, stops);
        if (!waiting.isEmpty())
            QCOMPARE(shownAtHold, waiting);
        QCOMPARE(v->statusString(), status);
        QCOMPARE(v->status(), -1);
        QCOMPARE(v->display()->error(), QString()); // the output LED
        QCOMPARE(v->display()->ldmCount(), ldms);
        // Each Stop ended the one request held then; nothing else waits.
        QCOMPARE(held(), qsizetype(holds));
        if (what == QLatin1String("file"))
            QCOMPARE(v->correctionPoints.size(), 2);
        wall.releaseHung();
        v->setColorimeter(v->cr100());
    }

    // The end of a uniformity run, also with no adjusters at all; a start
    // without LDMs is refused without a signal; an LDM fetch keeps the busy
    // state it found.
    void uniformityEnd()
    {
        auto v = make(false);
        v->setOutputType(0); // the processor without an address: no LDMs
        testsupport::MessageCapture log;
        v->setMode(Calibrator::ModeBalance);
        QCOMPARE(log.count(QStringLiteral("Fetch LDMs failed: "), true), 1);

        QSignalSpy running(v.get(), &Veltranor::runningChanged);
        v->setRunning(true);
        QVERIFY(!v->running());
        QCOMPARE(v->status(), -1);
        QCOMPARE(running.count(), 0);

        v->runNothing();
        v->fetchLdms();
        QVERIFY(v->running());
        v->setProgress(0.5);
        v->calibratorDone(0, true);
        QCOMPARE(v->statusString(), QStringLiteral("Uniformity completed."));
        QCOMPARE(v->status(), 1);
        QCOMPARE(v->progress(), -1.0);
        QVERIFY(!v->running());

        v->calibratorDone(0, false);
        QCOMPARE(v->statusString(), QStringLiteral("Uniformity cancelled; display left in indeterminate state."));
        QCOMPARE(v->status(), -1);
        QCOMPARE(v->elapsedTimeString(), QStringLiteral(" no time at all"));
    }
};

VELTRANO_TEST_MAIN(TestRunControl)

#include "tst_runcontrol.moc"
