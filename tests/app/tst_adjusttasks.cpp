#include "testsupport.h"

#include "calibrator.h"
#include "messagecapture.h"

#include <cmath>

namespace {

// A linear plant driven by hand on this thread: every observation is
// offset + matrix x gains, written where the driver of a coroutine puts it.
struct Plant
{
    // Rows: luminance, CCT, Duv in Mode 0; observed blue, red, green in the
    // camera modes (the rows of the sensitivity table).
    double m[3][3] = {{30, 60, 10}, {-3000, 500, 2500}, {-0.01, 0.02, -0.01}};
    double o[3] = {0.0, 6500.0, 0.0};
    int observations = 0;

    void observe(Calibrator& c)
    {
        double v[3];
        for (int q = 0; q < 3; ++q)
            v[q] = o[q] + m[q][0] * c.gains.red + m[q][1] * c.gains.green + m[q][2] * c.gains.blue;
        // Slots: 0 cct (red), 1 duv (green), 2 luminance (blue).
        c.reading.luminance = v[0];
        c.reading.cct = v[1];
        c.reading.duv = v[2];
        ++observations;
    }
    // Resumes the task and observes after every resume, as a driver does;
    // returns the number of resumes.
    int drive(Calibrator& c, AdjustTask& task, int limit = 10000)
    {
        int resumes = 0;
        while (!task.done() && resumes < limit) {
            task.resume();
            c.gainsPending = false;
            observe(c);
            ++resumes;
        }
        return resumes;
    }
};

// Luminance moves with red, CCT with green, Duv with blue.
void setDiagonal(Calibrator& c)
{
    for (int q = 0; q < 3; ++q)
        for (int ch = 0; ch < 3; ++ch)
            c.sensitivity[q][ch] = 0.0;
    c.sensitivity[Calibrator::Luminance][Calibrator::Red] = 100;
    c.sensitivity[Calibrator::Cct][Calibrator::Green] = 1000;
    c.sensitivity[Calibrator::Duv][Calibrator::Blue] = 0.1;
}

// The main Calibrator, running the "nothing" task so that `running` is set.
void startLinearity(Calibrator& c)
{
    c.setTask(Calibrator::TaskNothing);
    c.setRunning(true);
    c.usingCoroutines = true;
}

int destroyedLocals = 0;
struct Local
{
    ~Local() { ++destroyedLocals; }
};

AdjustTask leaf(bool* started)
{
    Local local;
    *started = true;
    co_await std::suspend_always {};
    co_await std::suspend_always {};
    co_return true;
}

AdjustTask awaitingParent(bool* started, bool* childResult)
{
    Local local;
    AdjustTask child = leaf(started);
    while (!child.step())
        co_await std::suspend_always {};
    *childResult = child.result();
    co_return false;
}

} // namespace

class TestAdjustTasks : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void taskType()
    {
        bool started = false, childResult = false;
        {
            AdjustTask task = awaitingParent(&started, &childResult);
            QVERIFY(!started); // lazy
            QVERIFY(!task.done());
            task.resume(); // runs down to the leaf, which parks
            QVERIFY(started && !task.done());
            task.resume();
            task.resume();
            QVERIFY(task.done());
            QVERIFY(childResult);
            QVERIFY(!task.result()); // the parent's own result
        }
        // A parent parked while awaiting frees its child's locals and its own.
        destroyedLocals = 0;
        {
            AdjustTask task = awaitingParent(&started, &childResult);
            task.resume();
            QCOMPARE(destroyedLocals, 0);
        }
        QCOMPARE(destroyedLocals, 2);

        AdjustTask idle = AdjustTask::idle();
        QVERIFY(!idle.done());
        idle.resume();
        QVERIFY(idle.done() && !idle.result());
        idle.destroy();
        QVERIFY(idle.isNull() && idle.done());
    }

    void recordingGains()
    {
        Calibrator c(Calibrator::ModeBalance, 7);
        testsupport::MessageCapture log;
        QVERIFY(!c.coSetRGBGains_(0.5, 0.5, 0.5));
        QVERIFY(!c.gainsPending);
        QCOMPARE(c.gains.red, 0.0);
        QCOMPARE(log.count(QStringLiteral("***** ERROR: coSetRGBGains_ called while NOT using coroutines. *****")), 1);

        // Out of range is logged but recorded all the same.
        c.usingCoroutines = true;
        c.gains = {0.1, 0.2, 0.3};
        c.reading.luminance = 42;
        QVERIFY(c.coSetRGBGains_(1.5, 0.5, -0.25));
        QVERIFY(c.gainsPending);
        QCOMPARE(c.gains.red, 1.5);
        QCOMPARE(c.gains.blue, -0.25);
        QCOMPARE(c.lastGains.green, 0.2);
        QCOMPARE(c.lastReading.luminance, 42.0);
        QCOMPARE(log.count(QStringLiteral("*** coSetRGBGains_ #7 range error: 1.500000, 0.500000, -0.250000! ***")), 1);

        // Renewing a slot parked deep inside a child frees both (checked by
        // the address sanitizer); an empty slot is only filled.
        c.setRunning(true);
        AdjustTask& gainSet = c.renewCoGainSet_();
        gainSet.resume();
        QVERIFY(!gainSet.done());
        c.renewCoGainSet_();
        c.gainSetCoroutine.destroy();
        QVERIFY(c.gainSetCoroutine.isNull());
        QVERIFY(!c.renewCoGainSet_().isNull());
    }

    // One step of one channel: clamped at the maximum, divided by the step.
    void changeColor()
    {
        Calibrator c(Calibrator::ModeBalance, 3);
        c.usingCoroutines = true;
        c.setRunning(true);
        Plant plant;
        c.gains = {0.98, 0.5, 0.5};
        plant.observe(c);
        AdjustTask step = c.coChangeColor_(Calibrator::Red, 0.05);
        QCOMPARE(plant.drive(c, step), 2);
        QVERIFY(step.result());
        QCOMPARE(c.gains.red, 1.0);
        // Observed change 0.02 x m, divided by the requested 0.05.
        QVERIFY(qAbs(c.sensitivity[Calibrator::Luminance][Calibrator::Red] - 30 * 0.02 / 0.05) < 1e-9);
        QVERIFY(qAbs(c.sensitivity[Calibrator::Cct][Calibrator::Red] + 3000 * 0.02 / 0.05) < 1e-6);

        testsupport::MessageCapture log;
        AdjustTask zero = c.coChangeColor_(Calibrator::Green, 0.0);
        zero.resume();
        QVERIFY(zero.done() && zero.result());
        QCOMPARE(log.count(QStringLiteral("Calibrator::coChangeColor_: delta == 0!")), 1);
        c.usingCoroutines = false;
        AdjustTask refused = c.coChangeColor_(Calibrator::Green, 0.05);
        refused.resume();
        QVERIFY(refused.done() && !refused.result());
    }

    void sensitivityOfLinearPlant()
    {
        Calibrator c(Calibrator::ModeLinearity, 0);
        startLinearity(c);
        c.setMaximumValue(2.0);
        c.gains = {1.0, 1.0, 1.0};
        Plant plant;
        plant.observe(c);
        testsupport::MessageCapture log;
        AdjustTask gainSet = c.coSetGains_();
        // One attempt: two steps for each of three channels.
        QCOMPARE(plant.drive(c, gainSet), 7);
        QVERIFY(gainSet.result());
        for (int q = 0; q < 3; ++q)
            for (int ch = 0; ch < 3; ++ch)
                QVERIFY2(qAbs(c.sensitivity[q][ch] - plant.m[q][ch]) < 1e-6 * qMax(1.0, qAbs(plant.m[q][ch])),
                         qPrintable(QStringLiteral("%1,%2: %3").arg(q).arg(ch).arg(c.sensitivity[q][ch])));
        // Back where it started, having stepped down first (1.0 is not below half of 2.0).
        QCOMPARE(c.gains.green, 1.0);
        QCOMPARE(log.count(QStringLiteral("green gains:  +60.0000000 Lum,    +500.00000 CCT,   +0.020000000 Duv   "
                                          "(delta 0.020)")),
                 1);

        // An implausible wall (red raises the CCT) is measured three times
        // and its mean kept.
        plant.m[1][0] = 1000;
        plant.observe(c);
        log.clear();
        AdjustTask again = c.coSetGains_();
        QCOMPARE(plant.drive(c, again), 19);
        QVERIFY(again.result());
        QCOMPARE(log.count(QStringLiteral("setGains #"), true), 3);
        QCOMPARE(log.count(QStringLiteral("setGains #3: red CCT gain is greater than zero.")), 1);
        QCOMPARE(log.count(QStringLiteral("Averaged gains:")), 1);
        QVERIFY(qAbs(c.sensitivity[Calibrator::Cct][Calibrator::Red] - 1000) < 1e-6);
    }

    void cameraFloors_data()
    {
        QTest::addColumn<double>("observed");
        QTest::addColumn<double>("slope");
        QTest::addColumn<double>("kept");
        QTest::newRow("dark and weak") << 5.0 << 120.0 << 300.0;
        QTest::newRow("saturated and weak") << 250.0 << 120.0 << 300.0;
        QTest::newRow("saturated and strong") << 250.0 << 400.0 << 400.0;
        QTest::newRow("in band") << 100.0 << 40.0 << 40.0;
        QTest::newRow("in band, too weak") << 100.0 << 10.0 << 25.0;
    }
    void cameraFloors()
    {
        QFETCH(double, observed);
        QFETCH(double, slope);
        QFETCH(double, kept);
        Calibrator c(Calibrator::ModeBalance, 4);
        c.usingCoroutines = true;
        c.setRunning(true);
        c.setLoggable(true);
        c.gains = {0.6, 0.0, 0.0};
        // Observed red in the CCT row, green in Duv, blue in luminance.
        Plant plant;
        plant.m[0][2] = 200;
        plant.m[1][0] = slope;
        plant.m[2][1] = 200;
        plant.m[0][0] = plant.m[0][1] = plant.m[1][1] = plant.m[1][2] = plant.m[2][0] = plant.m[2][2] = 0;
        plant.o[0] = plant.o[2] = 100;
        plant.o[1] = observed - slope * 0.6;
        plant.observe(c);
        AdjustTask gainSet = c.coSetGains_();
        plant.drive(c, gainSet);
        QVERIFY(gainSet.result());
        QCOMPARE(c.gains.red, 0.6); // 0.6 -> 0.55 -> 0.6
        QVERIFY2(qAbs(c.sensitivity[Calibrator::Cct][Calibrator::Red] - kept) < 1e-6,
                 qPrintable(QString::number(c.sensitivity[Calibrator::Cct][Calibrator::Red])));
        QVERIFY(qAbs(c.sensitivity[Calibrator::Duv][Calibrator::Green] - 200) < 1e-6);
    }

    // A level of the linear plant is driven within the allowed error.
    void brightnessConverges_data()
    {
        QTest::addColumn<double>("target");
        QTest::addColumn<double>("allowed");
        QTest::newRow("bright, 1 %") << 80.0 << 1.0;
        QTest::newRow("dim, 4 %") << 20.0 << 4.0;
    }
    void brightnessConverges()
    {
        QFETCH(double, target);
        QFETCH(double, allowed);
        Calibrator c(Calibrator::ModeLinearity, 0);
        startLinearity(c);
        c.setMaximumValue(2.0);
        c.setErrorAllowed(allowed);
        c.currentStep = 1;
        c.stepsToGo = 10;
        c.gains = {1.0, 1.0, 1.0};
        Plant plant;
        plant.observe(c);
        AdjustTask gainSet = c.coSetGains_();
        plant.drive(c, gainSet);
        // Start off the white point, so every channel has to move.
        c.gains = {0.7, 1.1, 0.9};
        plant.observe(c);

        AdjustTask& adjust = c.renewCoAdjust_(target);
        const int resumes = plant.drive(c, adjust, 200);
        QVERIFY(adjust.done());
        QVERIFY(adjust.result());
        QVERIFY2(resumes < 50, qPrintable(QString::number(resumes)));
        QCOMPARE(c.maximumWeightedError(), qMax(allowed * 1.5 / 100, 0.04));
        QVERIFY2(qAbs(c.reading.luminance - target) / target < allowed / 100,
                 qPrintable(QString::number(c.reading.luminance)));
        QVERIFY2(qAbs(c.reading.cct - 6500) < 6500 * allowed / 100, qPrintable(QString::number(c.reading.cct)));
        QVERIFY(qAbs(c.reading.duv) < 0.001);
        QVERIFY(c.pointList.size() >= 3);
    }

    // A meter that never answers the red gain: red sticks at the maximum
    // while green and blue still move, and the adjustment stops there.
    void stuckAtMaximum()
    {
        Calibrator c(Calibrator::ModeLinearity, 0);
        startLinearity(c);
        c.currentStep = 1;
        c.stepsToGo = 1;
        setDiagonal(c);
        c.gains = {0.5, 0.5, 0.5};
        c.reading = {6490, 0.0005, 10.0, QString()};
        testsupport::MessageCapture log;
        AdjustTask& adjust = c.renewCoAdjust_(40.0);
        int resumes = 0;
        while (!adjust.done() && resumes < 500) {
            adjust.resume(); // the reading never changes
            ++resumes;
        }
        QVERIFY(adjust.done());
        QVERIFY(!adjust.result());
        QVERIFY(!c.running());
        QCOMPARE(c.gains.red, 1.0);
        QCOMPARE(c.statusString(), QStringLiteral("Correction stopped due to R,G,B values persistently at maximum"));
        QCOMPARE(log.count(QStringLiteral("Maximum value clipping: can't set R,G,B any higher.")), 1);
    }

    // A gain triple reached a fourth time resets the gains (no loop seen
    // yet); reached a fifth time its loop is tested and, being small enough,
    // ends the adjustment.
    void repeatsResetThenEndTheLoop()
    {
        Calibrator c(Calibrator::ModeLinearity, 0);
        startLinearity(c);
        c.currentStep = 1;
        c.stepsToGo = 1;
        c.setErrorAllowed(0.0001);
        setDiagonal(c);
        c.gains = {0.2, 0.2, 0.2};
        // Luminance jumps between two values as red crosses 0.2, so red swings
        // between two gains; green and blue sit on their targets.
        auto observe = [&c] {
            c.reading.luminance = c.gains.red > 0.2 + 1e-9 ? 70.0 : 50.0;
            c.reading.cct = 6500 + 1000 * (c.gains.green - 0.2);
            c.reading.duv = 0.1 * (c.gains.blue - 0.2);
        };
        observe();
        testsupport::MessageCapture log;
        AdjustTask& adjust = c.renewCoAdjust_(60.0);
        int resumes = 0;
        while (!adjust.done() && resumes < 300) {
            adjust.resume();
            observe();
            ++resumes;
        }
        QVERIFY(adjust.done());
        QCOMPARE(log.count(QStringLiteral("Resetting gains due to repeats:")), 1);
        QCOMPARE(log.count(QStringLiteral("Looping; we'll test the repeated values.")), 1);
        QCOMPARE(log.count(QStringLiteral("looping: 0.200000, 0.200000, 0.200000; 1 + 3 times")), 1);
        QCOMPARE(log.count(QStringLiteral("looping: 0.200000, 0.200000, 0.200000; 1 + 4 times")), 1);
        QVERIFY(adjust.result());
    }
};

VELTRANO_TEST_MAIN(TestAdjustTasks)
#include "tst_adjusttasks.moc"
