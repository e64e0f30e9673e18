// ctest-labels: threaded
#include "testsupport.h"

#include "calibrator.h"
#include "fakedisplay.h"
#include "messagecapture.h"
#include "scriptedmeter.h"

#include <QSignalSpy>
#include <QThread>

#include <atomic>
#include <functional>
#include <mutex>

namespace {

using Answer = ScriptedMeter::Answer;

// Sends the test's requests to the Calibrator thread as queued signals.
class Driver : public QObject
{
    Q_OBJECT
Q_SIGNALS:
    void running(bool on);
    void work();
};

// The main Calibrator on a worker thread, wired to a scripted meter and a
// recording display the way the central object wires the real ones. Every
// hand-over between the threads also goes through a std::mutex or an atomic,
// which the thread sanitizer sees (it does not see Qt's own locks).
struct Bench
{
    QThread thread;
    Calibrator* cal = new Calibrator(Calibrator::ModeLinearity, 0);
    FakeDisplay display;
    ScriptedMeter meter;
    Driver driver;
    std::mutex jobMutex;
    std::function<void()> job;
    std::atomic<bool> finished {false};
    std::atomic<bool> deleted {false};

    Bench()
    {
        cal->setDisplay(&display);
        cal->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, [this] {
            delete cal; // on the Calibrator thread, as deleteLater would
            deleted = true;
        });
        QObject::connect(cal, &Calibrator::takeReading, &meter, &Colorimeter::read);
        QObject::connect(&meter, &Colorimeter::dataAvailable, cal, &Calibrator::readColorimeterData);
        QObject::connect(&driver, &Driver::running, cal, &Calibrator::setRunning);
        QObject::connect(&driver, &Driver::work, cal, [this] {
            std::function<void()> f;
            {
                std::lock_guard lock(jobMutex);
                f = job;
            }
            f();
            finished = true;
        });
        thread.start();
    }
    ~Bench()
    {
        thread.quit();
        thread.wait();
        while (!deleted)
            QThread::yieldCurrentThread();
    }

    void queueRunning(bool on) { Q_EMIT driver.running(on); }
    // Starts the "nothing" task, so that the primitives see `running`.
    bool startIdleTask()
    {
        cal->setTask(Calibrator::TaskNothing);
        queueRunning(true);
        return QTest::qWaitFor([this] { return cal->running(); }, 5000);
    }
    // Runs work on the Calibrator thread; waitForWork() waits until it returned.
    void post(std::function<void()> work)
    {
        {
            std::lock_guard lock(jobMutex);
            job = std::move(work);
        }
        finished = false;
        Q_EMIT driver.work();
    }
    bool waitForWork(int timeoutMs = 30000)
    {
        return QTest::qWaitFor([this] { return finished.load(); }, timeoutMs);
    }
    bool onWorker(std::function<void()> work)
    {
        post(std::move(work));
        return waitForWork();
    }
};

CalibrationPoint pointWithDeltas(double r, double g, double b)
{
    CalibrationPoint p;
    p.deltas[0] = r;
    p.deltas[1] = g;
    p.deltas[2] = b;
    return p;
}

} // namespace

class TestCalibrator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
    }

    void defaultsAndSharedTask()
    {
        const CalibrationPoint p;
        QCOMPARE(p.count, 1u);
        QVERIFY(p.redDisplayGain == 1.0 && p.greenDisplayGain == 1.0 && p.blueDisplayGain == 1.0);
        QVERIFY(p.red == 0 && p.luminanceTarget == 0 && p.blueSlope == 0 && p.error() == 0);

        Calibrator a(Calibrator::ModeLinearity, 0);
        Calibrator b(Calibrator::ModeBalance, 7);
        QCOMPARE(a.task(), Calibrator::TaskCalibrate);
        QVERIFY(a.ambientBlack());
        QCOMPARE(a.readDelay(), 500u);
        QCOMPARE(a.readCount(), 1u);
        QCOMPARE(a.steps(), 10u);
        QCOMPARE(a.gamma(), 2.4);
        QCOMPARE(a.targetCCT(), 6500u);
        QCOMPARE(a.highGainLimit(), 0.5);
        QCOMPARE(a.lowGainLimit(), 0.25);
        QCOMPARE(a.maximumValue(), 1.0);
        QVERIFY(a.luminanceUnits.isEmpty());
        b.setTask(Calibrator::TaskMeasure);
        QCOMPARE(a.task(), Calibrator::TaskMeasure);
        a.setTask(Calibrator::TaskCalibrate);
    }

    void setterClamps_data()
    {
        QTest::addColumn<QString>("setter");
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("stored");
        QTest::newRow("cct high") << "cct" << 20000.0 << 10000.0;
        QTest::newRow("cct low") << "cct" << 1000.0 << 1667.0;
        QTest::newRow("cct in range") << "cct" << 5000.0 << 5000.0;
        QTest::newRow("duv high") << "duv" << 0.02 << 0.01;
        QTest::newRow("duv low") << "duv" << -0.5 << -0.01;
        QTest::newRow("gamma high") << "gamma" << 5.0 << 3.8;
        QTest::newRow("gamma low") << "gamma" << 0.5 << 1.0;
        QTest::newRow("delay zero stays") << "delay" << 0.0 << 0.0;
        QTest::newRow("delay short") << "delay" << 100.0 << 500.0;
        QTest::newRow("delay long") << "delay" << 9000.0 << 5000.0;
        QTest::newRow("count zero") << "count" << 0.0 << 1.0;
        QTest::newRow("count high") << "count" << 1000.0 << 100.0;
        QTest::newRow("count in range") << "count" << 64.0 << 64.0;
    }
    void setterClamps()
    {
        QFETCH(QString, setter);
        QFETCH(double, value);
        QFETCH(double, stored);
        Calibrator c(Calibrator::ModeLinearity, 0);
        if (setter == "cct") {
            c.setTargetCCT(uint(value));
            QCOMPARE(double(c.targetCCT()), stored);
        } else if (setter == "duv") {
            c.setTargetDuv(value);
            QCOMPARE(c.targetDuv(), stored);
        } else if (setter == "gamma") {
            c.setGamma(value);
            QCOMPARE(c.gamma(), stored);
        } else if (setter == "delay") {
            c.setReadDelay(uint(value));
            QCOMPARE(double(c.readDelay()), stored);
        } else {
            c.setReadCount(uint(value));
            QCOMPARE(double(c.readCount()), stored);
        }
    }

    void changeSignals()
    {
        Calibrator c(Calibrator::ModeLinearity, 0);
        QSignalSpy cct(&c, &Calibrator::targetCCTChanged);
        QSignalSpy errorType(&c, &Calibrator::colorimeterErrorTypeChanged);
        c.setTargetCCT(6500);
        QCOMPARE(cct.count(), 0);
        // Compared against the request, not the clamped value.
        c.setTargetCCT(20000);
        c.setTargetCCT(20000);
        QCOMPARE(cct.count(), 2);
        // Only a change between OK and error is stored.
        c.setColorimeterErrorType(ErrorType(1, QStringLiteral("first")));
        c.setColorimeterErrorType(ErrorType(2, QStringLiteral("second")));
        QCOMPARE(errorType.count(), 1);
        QCOMPARE(c.colorimeterErrorType().code, 1);
        c.setColorimeterErrorType(ErrorType());
        QCOMPARE(c.colorimeterErrorType().code, 0);
    }

    // Tasks are started by a queued setRunning(true) on the Calibrator thread.
    void runControl()
    {
        testsupport::MessageCapture log; // outlives the Calibrator thread
        Bench bench;
        Calibrator* cal = bench.cal;
        // Recorded on this thread (queued), not by spies on the worker.
        QObject context;
        QList<bool> running;
        QList<uint> done;
        QObject::connect(cal, &Calibrator::runningChanged, &context, [&](bool on) { running << on; });
        QObject::connect(cal, &Calibrator::done, &context, [&](uint number, bool) { done << number; });

        QVERIFY(bench.startIdleTask());
        QTRY_COMPARE(running.count(), 1);
        QCOMPARE(running.at(0), true);
        bench.queueRunning(true); // already running: nothing
        bench.queueRunning(false);
        QTRY_VERIFY(!cal->running());
        QTRY_COMPARE(running.count(), 2);
        QCOMPARE(done.count(), 0);

        cal->setTask(Calibrator::TaskType(9));
        bench.queueRunning(true);
        QTRY_COMPARE(running.count(), 3);
        QCOMPARE(running.at(2), false);
        QCOMPARE(log.count(QStringLiteral("Calibrator::setRunning: #0 unknown task type 9")), 1);
        QVERIFY(!cal->running());

        // A task ends with done(number, true) and the flag cleared.
        cal->setTask(Calibrator::TaskMeasure);
        bench.queueRunning(true);
        QTRY_COMPARE(done.count(), 1);
        QCOMPARE(done.at(0), 0u);
        QTRY_VERIFY(!cal->running());

        // calibrate() called while idle starts the task once, not nested
        // through the shared task. A meter that fails ends it early.
        bench.meter.script({Answer {.luminance = 0, .code = 2}});
        cal->setTask(Calibrator::TaskCalibrate);
        QVERIFY(bench.onWorker([cal] { cal->calibrate(); }));
        QTRY_COMPARE(done.count(), 2);
        QTest::qWait(50);
        QCOMPARE(done.count(), 2);
        QVERIFY(!cal->running());
    }

    void cancelWhileWaitingForMeter()
    {
        Bench bench;
        bench.meter.script({Answer {.silent = true}});
        QVERIFY(bench.startIdleTask());
        bool result = true;
        bench.post([&] { result = bench.cal->takeReading_(); });
        QTRY_COMPARE(bench.meter.reads(), 1);
        bench.queueRunning(false);
        QVERIFY(bench.waitForWork());
        QVERIFY(!result);
        QVERIFY(!bench.cal->running());
    }

    void readings_data()
    {
        QTest::addColumn<QList<Answer>>("answers");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("reads");
        QTest::addColumn<double>("luminance");
        QTest::addColumn<QString>("log");

        QTest::newRow("averaged") << QList<Answer> {{100}, {200}, {600}} << 3 << true << 3 << 300.0
                                  << QString();
        QTest::newRow("count 0 takes one") << QList<Answer> {{50}} << 0 << true << 1 << 50.0 << QString();
        QTest::newRow("count above 100 takes 100") << QList<Answer> {{10}} << 500 << true << 100 << 10.0
                                                   << QString();
        QTest::newRow("recoverable retried") << QList<Answer> {{.luminance = 1, .code = 1}, {70}} << 1 << true
                                             << 2 << 70.0
                                             << "takeReading_: recoverable error scripted error 1; will retry...";
        QTest::newRow("fatal fails at once") << QList<Answer> {{.luminance = 1, .code = 2}, {70}} << 2 << false
                                             << 1 << 1.0 << "takeReading_: fatal error scripted error 2";
        QTest::newRow("stale waited out")
            << QList<Answer> {{10}, {.luminance = 99, .fresh = false}, {.luminance = 99, .fresh = false}, {30}}
            << 2 << true << 4 << 20.0 << QString();
        QTest::newRow("stale ten times")
            << QList<Answer> {{.luminance = 5, .fresh = false}} << 1 << false << 10 << 5.0
            << "takeReading_: no new or valid data after multiple retries.";
    }
    void readings()
    {
        QFETCH(QList<Answer>, answers);
        QFETCH(int, count);
        QFETCH(bool, ok);
        QFETCH(int, reads);
        QFETCH(double, luminance);
        QFETCH(QString, log);

        testsupport::MessageCapture capture; // outlives the Calibrator thread
        Bench bench;
        bench.meter.script(answers);
        QVERIFY(bench.startIdleTask());
        capture.clear();
        bool result = !ok;
        QVERIFY(bench.onWorker([&] { result = bench.cal->takeMultipleReadings_(count); }));
        QCOMPARE(result, ok);
        QCOMPARE(bench.meter.reads(), reads);
        QCOMPARE(bench.cal->reading.luminance, luminance);
        if (!log.isEmpty())
            QCOMPARE(capture.count(log), 1);
        QCOMPARE(bench.cal->luminanceUnits, QStringLiteral("cd/m²"));
    }

    void gains_data()
    {
        QTest::addColumn<QList<ErrorType>>("script");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("defaultType");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("calls");

        const QString rgb = QStringLiteral("setRGB");
        const QString wide = QStringLiteral("setDisplayGainRGB");
        QTest::newRow("ok") << QList<ErrorType> {} << 1 << 1 << true << QStringList {rgb};
        QTest::newRow("recoverable retried") << QList<ErrorType> {ErrorType(1, "busy"), ErrorType(1, "busy")}
                                             << 1 << 1 << true << QStringList {rgb, rgb, rgb};
        QTest::newRow("fatal stops") << QList<ErrorType> {ErrorType(2, "gone")} << 1 << 1 << false
                                     << QStringList {rgb};
        QTest::newRow("twenty attempts") << QList<ErrorType>(25, ErrorType(1, "busy")) << 1 << 1 << false
                                         << QStringList(20, rgb);
        QTest::newRow("default type display-wide") << QList<ErrorType> {} << 0 << 2 << true
                                                    << QStringList {wide};
        QTest::newRow("explicit display-wide") << QList<ErrorType> {} << 2 << 1 << true << QStringList {wide};
    }
    void gains()
    {
        QFETCH(QList<ErrorType>, script);
        QFETCH(int, type);
        QFETCH(int, defaultType);
        QFETCH(bool, ok);
        QFETCH(QStringList, calls);

        for (bool recording : {false, true}) {
            Bench bench;
            bench.display.script(script);
            bench.cal->defaultControlType = Calibrator::ControlType(defaultType);
            QVERIFY(bench.startIdleTask());
            bool result = !ok;
            QVERIFY(bench.onWorker([&] {
                auto t = Calibrator::ControlType(type);
                result = recording ? bench.cal->setRGBGains_(0.5, 0.25, 0.125, t)
                                   : bench.cal->sendRGBGains_(0.5, 0.25, 0.125, t);
            }));
            QCOMPARE(result, ok);
            QStringList ops;
            for (const FakeDisplay::Call& call : bench.display.calls()) {
                ops << call.op;
                QCOMPARE(call.green, 0.25);
            }
            QCOMPARE(ops, calls);
            // Only setRGBGains_ records the gains, whatever the outcome.
            QCOMPARE(bench.cal->gains.blue, recording ? 0.125 : 0.0);
        }
    }

    void gainsWithoutDisplayOrRun()
    {
        Bench bench;
        bench.cal->setDisplay(nullptr);
        QVERIFY(bench.startIdleTask());
        bool result = true;
        QVERIFY(bench.onWorker([&] { result = bench.cal->sendRGBGains_(1, 1, 1, Calibrator::ControlRGB); }));
        QVERIFY(!result);

        // Not running: nothing is sent and the send counts as done.
        Calibrator idle(Calibrator::ModeLinearity, 0);
        FakeDisplay display;
        idle.setDisplay(&display);
        QVERIFY(idle.sendRGBGains_(1, 1, 1, Calibrator::ControlRGB));
        QVERIFY(display.calls().isEmpty());
    }

    void displayRecordsAndTimestamps()
    {
        Calibrator c(Calibrator::ModeTemplate, 0);
        QCOMPARE(c.displayLdm_(1).number, 0u); // no display
        FakeDisplay display;
        Macropixel m;
        m.number = 1;
        m.redGain = 0.25;
        Tile t;
        t.number = 1;
        t.name = QStringLiteral("AA:BB");
        display.ldms() << m;
        display.tiles() << t;
        c.setDisplay(&display);
        QCOMPARE(c.displayLdm_(1).redGain, 0.25);
        QCOMPARE(c.displayLdm_(2).number, 0u);
        QCOMPARE(c.displayTile_(1).name, QStringLiteral("AA:BB"));

        // Local time with its offset; a zero offset is written Z.
        const QByteArray tz = qgetenv("TZ");
        qputenv("TZ", "UTC0");
        QVERIFY2(timestamp().endsWith('Z'), qPrintable(timestamp()));
        qputenv("TZ", "XYZ-2");
        QVERIFY2(timestamp().endsWith(QStringLiteral("+02:00")), qPrintable(timestamp()));
        QVERIFY(QDateTime::fromString(timestamp(), Qt::ISODateWithMs).isValid());
        if (tz.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", tz);
    }

    void deltasSolver()
    {
        Calibrator c(Calibrator::ModeLinearity, 0);
        // A known matrix and gains: the errors it predicts are solved back.
        const double s[3][3] = {{200, 300, 50}, {-4000, 500, 6000}, {0.02, -0.03, 0.005}};
        const double d[3] = {0.05, -0.02, 0.01};
        for (int q = 0; q < 3; ++q)
            for (int ch = 0; ch < 3; ++ch)
                c.sensitivity[q][ch] = s[q][ch];
        c.setTargetLum(100);
        c.setTargetCCT(6500);
        c.setTargetDuv(0.002);
        c.reading.luminance = 100 - (s[0][0] * d[0] + s[0][1] * d[1] + s[0][2] * d[2]);
        c.reading.cct = 6500 - (s[1][0] * d[0] + s[1][1] * d[1] + s[1][2] * d[2]);
        c.reading.duv = 0.002 - (s[2][0] * d[0] + s[2][1] * d[1] + s[2][2] * d[2]);
        QVERIFY(c.getRGBDeltas_());
        for (int ch = 0; ch < 3; ++ch)
            QVERIFY2(qAbs(c.deltas[ch] - d[ch]) < 1e-9, qPrintable(QString::number(c.deltas[ch])));

        // |det| = 1e-21 exactly is singular: the deltas are kept.
        for (auto& row : c.sensitivity)
            for (double& v : row)
                v = 0;
        c.sensitivity[0][0] = 1e-21;
        c.sensitivity[1][1] = 1;
        c.sensitivity[2][2] = 1;
        testsupport::MessageCapture log;
        QVERIFY(!c.getRGBDeltas_());
        QCOMPARE(c.deltas[0], d[0]);
        QCOMPARE(log.count(QStringLiteral("getRGBDeltas_: determinant"), true), 1);

        // An adjuster without a display fails after three retries instead of
        // calling the display.
        Calibrator adjuster(Calibrator::ModeBalance, 12);
        adjuster.setLoggable(true);
        adjuster.usingCoroutines = true;
        adjuster.setRunning(true);
        log.clear();
        QVERIFY(!adjuster.getRGBDeltasWithRetries_());
        QCOMPARE(log.count(QStringLiteral("LDM #12 getRGBDeltas failed; retry #"), true), 3);
        QCOMPARE(log.count(QStringLiteral("Calibrator::sendRGBGains_: fatal error"), true), 0);
    }

    void limiter_data()
    {
        QTest::addColumn<QList<double>>("in");
        QTest::addColumn<QList<double>>("args"); // percent, scale, maxDelta
        QTest::addColumn<QList<double>>("out");
        QTest::addColumn<bool>("changed");
        QTest::newRow("percent limits") << QList<double> {0.3, -0.1, 0.05} << QList<double> {10, 0, 0}
                                        << QList<double> {0.1, -0.1 / 3, 0.05 / 3} << true;
        QTest::newRow("percent within") << QList<double> {0.05, 0, 0} << QList<double> {10, 0, 0}
                                        << QList<double> {0.05, 0, 0} << false;
        QTest::newRow("scale") << QList<double> {0.2, -0.4, 0} << QList<double> {0, 0.5, 0}
                               << QList<double> {0.1, -0.2, 0} << true;
        QTest::newRow("max delta") << QList<double> {20, -40, 10} << QList<double> {0, 0, 10}
                                   << QList<double> {5, -10, 2.5} << true;
        QTest::newRow("max delta within") << QList<double> {2, -4, 1} << QList<double> {0, 0, 10}
                                          << QList<double> {2, -4, 1} << false;
    }
    void limiter()
    {
        QFETCH(QList<double>, in);
        QFETCH(QList<double>, args);
        QFETCH(QList<double>, out);
        QFETCH(bool, changed);
        Calibrator c(Calibrator::ModeBalance, 1);
        for (int i = 0; i < 3; ++i)
            c.deltas[i] = in[i];
        QCOMPARE(c.limitRGBDeltas_(args[0], args[1], unsigned(args[2])), changed);
        for (int i = 0; i < 3; ++i)
            QVERIFY2(qAbs(c.deltas[i] - out[i]) < 1e-12, qPrintable(QString::number(c.deltas[i])));
    }

    void pointWeights()
    {
        Calibrator c(Calibrator::ModeBalance, 1);
        CalibrationPoint p = pointWithDeltas(0.1, -0.05, 0.05);
        QVERIFY(qAbs(c.pointWeight(p, 0.3) - 0.1001) < 1e-12);
        CalibrationPoint edge = pointWithDeltas(0.3, 0, 0);
        QCOMPARE(c.pointWeight(edge, 0.3), 0.0);

        c.pointList = {pointWithDeltas(0.01, 0, 0), pointWithDeltas(0, -0.02, 0.01),
                       pointWithDeltas(0.05, 0, 0), pointWithDeltas(0, 0, 0.2)};
        QCOMPARE(c.pointsWithinError(0.04), 2);
        QCOMPARE(c.pointsWithinError(), 0); // maximumWeightedError 0
        c.setMaximumWeightedError_(0.1);
        QCOMPARE(c.pointsWithinError(), 3);
    }

    void timeTexts_data()
    {
        QTest::addColumn<int>("elapsed");
        QTest::addColumn<double>("fraction");
        QTest::addColumn<QString>("text");
        QTest::newRow("too early") << 60 << 0.01 << QString();
        QTest::newRow("half") << 60 << 0.5 << "; probably about 1 minute remaining";
        QTest::newRow("under a minute") << 10 << 0.9 << "; less than 1 minute remaining";
        QTest::newRow("early guess") << 600 << 0.1 << "; guessing maybe 1 hour 30 minutes remaining";
        QTest::newRow("quarter") << 300 << 0.25 << "; something like 15 minutes remaining";
        QTest::newRow("late") << 3000 << 0.75 << "; about 17 minutes remaining";
    }
    void timeTexts()
    {
        QFETCH(int, elapsed);
        QFETCH(double, fraction);
        QFETCH(QString, text);
        QCOMPARE(remainingTime(QDateTime::currentDateTime().addSecs(-elapsed), fraction), text);
    }

    void logTimes()
    {
        Calibrator c(Calibrator::ModeLinearity, 0);
        testsupport::MessageCapture log;
        c.logTime(QStringLiteral("Took"), 3661);
        c.logTime(QStringLiteral("Took"), 7200);
        c.logTime(QStringLiteral("Took"), 125);
        c.logTime(QStringLiteral("Took"), 0);
        QCOMPARE(log.messages(), QStringList({"Took 1 hour 1 minute 1 second.", "Took 2 hours.",
                                              "Took 2 minutes 5 seconds."}));
    }

    void linearityLog()
    {
        Calibrator c(Calibrator::ModeLinearity, 0);
        c.luminanceUnits = QStringLiteral("cd/m²");
        QSignalSpy clear(&c, &Calibrator::clearLinearityLog);
        QSignalSpy lines(&c, &Calibrator::appendLinearityLog);
        QList<CalibrationPoint> single(1);
        c.displayCalibration(QStringLiteral("Only black"), single);
        QCOMPARE(lines.count(), 1);

        QList<CalibrationPoint> list(3);

        list[1].cct = 0; // nothing measured yet
        list[2] = CalibrationPoint();
        list[2].red = 0.5;
        list[2].green = 0.25;
        list[2].blue = 1;
        list[2].cct = 6504.4;
        list[2].duv = -0.00123;
        list[2].luminance = 99.5;
        list[2].luminanceTarget = 100;
        lines.clear();
        c.displayCalibration(QStringLiteral("After level"), list);
        QCOMPARE(clear.count(), 2);
        QStringList texts;
        for (const auto& args : lines)
            texts << args.at(0).toString();
        QCOMPARE(texts, QStringList({"After level", "# 1:",
                                     "# 2: 0.500000, 0.250000, 1.000000;  6504 K, -0.0012 Duv,  99.50 "
                                     "cd/m² (for 100.00 cd/m²)"}));

        CalibrationPoint key;
        key.red = 0.1;
        key.green = 0.2;
        key.blue = 1.0 / 3;
        QCOMPARE(Calibrator::pointKey_(key), QStringLiteral("0.10000000.20000000.3333333"));
    }
};

VELTRANO_TEST_MAIN(TestCalibrator)
#include "tst_calibrator.moc"
