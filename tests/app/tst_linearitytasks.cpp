#include "testsupport.h"

#include "calibratorbench.h"
#include "messagecapture.h"
#include "plantmeter.h"

#include <cmath>

namespace {

struct Result
{
    QList<CalibrationPoint> points;
    QList<float> levels;
    uint resumeStep = 0;
    uint currentStep = 0;
    double luminanceScale = 0;
    QString status;
};

Result resultOf(CalibratorBench& bench)
{
    Result r;
    bench.onWorker([&] {
        Calibrator* c = bench.cal;
        r = {c->points, c->levels, c->resumeStep(), c->currentStep, c->luminanceScale,
             c->statusString()};
    });
    return r;
}

bool measured(const CalibrationPoint& p)
{
    return p.cct != 0.0 && p.luminance != 0.0;
}

} // namespace

class TestLinearityTasks : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stepTable()
    {
        Calibrator c(Calibrator::ModeLinearity, 0);
        c.setTargetLum(100.5);
        c.formatStepTable_(0.5);
        QCOMPARE(c.levels.size(), 11);
        QCOMPARE(c.levels[0], 0.5f);
        QCOMPARE(c.levels[5], float(std::pow(0.5, 2.4) * 100 + 0.5));
        QCOMPARE(c.levels[10], 100.5f);

        // sRGB: the linear branch includes px = 0.04 (step 1 of 25).
        c.useSrgb = true;
        c.setSteps(25);
        c.formatStepTable_(0.5);
        QCOMPARE(c.levels[1], float(0.04 * 0.07739943839475116 * 100 + 0.5));
        QCOMPARE(c.levels[20], float(std::pow((0.8 + 0.055) / 1.055, 2.4) * 100 + 0.5));
    }

    // A whole correction, a cancel in the middle of a level, the resume of
    // that level and the refusals of a resume.
    void correctionCancelAndResume()
    {
        testsupport::MessageCapture log; // outlives the Calibrator thread
        CalibratorBench bench;
        PlantMeter meter(bench.display);
        bench.useMeter(&meter);
        QVERIFY(bench.configureLinearity(4));
        bench.onWorker([&] { bench.cal->setAmbientBlack(true); });
        log.clear();

        QVERIFY(bench.runTask(Calibrator::TaskCalibrate));
        QCOMPARE(bench.done.last(), qMakePair(0u, true));
        Result r = resultOf(bench);
        QCOMPARE(r.status, QStringLiteral("Correction completed without error"));
        QCOMPARE(r.resumeStep, 0u);
        QCOMPARE(bench.progress.last(), -1.0);
        QCOMPARE(r.points.size(), 5);
        QCOMPARE(r.points[0].luminance, 0.0); // the plant's black
        QCOMPARE(r.points[4].red, 1.0);
        // The display-wide gains found for the brightest level: 80 of 100 nits.
        QVERIFY2(qAbs(r.points[4].greenDisplayGain - 0.8) < 0.02, qPrintable(QString::number(r.points[4].greenDisplayGain)));
        for (int i = 1; i <= 4; ++i) {
            const CalibrationPoint& p = r.points[i];
            QCOMPARE(p.luminanceTarget, double(r.levels[i]));
            // The allowed error (1 %) is one of the gains' full scale.
            QVERIFY2(qAbs(p.luminance - p.luminanceTarget) < 0.8,
                     qPrintable(QStringLiteral("#%1: %2 for %3").arg(i).arg(p.luminance).arg(p.luminanceTarget)));
            QVERIFY2(p.error() <= 0.04, qPrintable(QString::number(p.error())));
            QVERIFY2(qAbs(p.cct - 6500) < 65, qPrintable(QString::number(p.cct)));
            QCOMPARE(p.redDisplayGain, r.points[4].redDisplayGain);
        }
        QCOMPARE(bench.linearityLog.first(), QStringLiteral("Finished Correction:"));
        QCOMPARE(bench.linearityLog.size(), 5);
        QVERIFY(bench.linearityLog[1].startsWith(QStringLiteral("# 1: ")));
        // Levels go through the numbered gains once the opening is done.
        QCOMPARE(bench.display.calls().last().op, QStringLiteral("setRGB"));
        QCOMPARE(log.count(QStringLiteral("ambient black 0.000 nits")), 1);

        // Cancelled while the third step (level 2) is adjusted.
        bench.statuses.clear();
        // The central object sets the targets before every run (the
        // adjustment leaves its last level's luminance in targetLum).
        QVERIFY(bench.configureLinearity(4));
        bench.cal->setTask(Calibrator::TaskCalibrate);
        bench.queueRunning(true);
        QVERIFY(bench.waitForStatus(QStringLiteral("Step 3 of 4: Setting basic level...")));
        bench.queueRunning(false);
        QTRY_COMPARE_WITH_TIMEOUT(bench.done.size(), 2, 30000);
        QCOMPARE(bench.done.last(), qMakePair(0u, false));
        r = resultOf(bench);
        QCOMPARE(r.status, QStringLiteral("Correction cancelled"));
        QCOMPARE(r.resumeStep, 2u); // the brightest level and level 3
        QCOMPARE(r.currentStep, 3u);
        QVERIFY(measured(r.points[4]) && measured(r.points[3]));
        QVERIFY(!measured(r.points[2]) && !measured(r.points[1]));
        QCOMPARE(bench.progress.last(), -1.0);

        // resume() continues after the step that was cut short: refused.
        log.clear();
        QVERIFY(bench.onWorker([&] { bench.cal->resume(); }));
        QCOMPARE(log.count(QStringLiteral("Warning: resuming after the the first failed step; correction will contain gaps")), 1);
        QCOMPARE(bench.done.size(), 2);

        // The resume task continues at the cancelled level.
        QVERIFY(bench.configureLinearity(4));
        log.clear();
        QVERIFY(bench.runTask(Calibrator::TaskResume));
        QCOMPARE(bench.done.last(), qMakePair(0u, true));
        r = resultOf(bench);
        QCOMPARE(r.status, QStringLiteral("Correction completed without error"));
        QCOMPARE(log.count(QStringLiteral("******** LEVEL 3"), true), 0);
        QCOMPARE(log.count(QStringLiteral("******** LEVEL 2"), true), 1);
        QCOMPARE(log.count(QStringLiteral("Setting RGB to last known good levels:"), true), 1);
        for (int i = 1; i <= 4; ++i)
            QVERIFY2(qAbs(r.points[i].luminance - r.levels[i]) < 0.8, qPrintable(QStringLiteral("#%1: %2 for %3").arg(i).arg(r.points[i].luminance).arg(r.levels[i])));

        // A changed step count refuses a resume.
        bench.onWorker([&] {
            bench.cal->setSteps(5);
            bench.cal->setResumeStep(1); // as if a correction stopped early
        });
        log.clear();
        QVERIFY(bench.runTask(Calibrator::TaskResume));
        QCOMPARE(bench.done.last(), qMakePair(0u, false));
        QCOMPARE(log.count(QStringLiteral("Can't resume correction because number of steps has changed: set to 4 to resume")), 1);
        QVERIFY(bench.cal->running()); // left as it was
        bench.queueRunning(false);
        QTRY_VERIFY(!bench.cal->running());
    }

    // A correction cancelled in its display-wide opening must not leave the
    // display-wide control to the next run; that run trusts its first point.
    // A target the wall cannot reach: the opening stops at the gain ceiling,
    // and the run ends saying so rather than "Correction cancelled".
    void unreachableTargetKeepsTheLimitStatus()
    {
        CalibratorBench bench;
        PlantMeter meter(bench.display);
        bench.useMeter(&meter);
        QVERIFY(bench.configureLinearity(4));
        bench.onWorker([&] { bench.cal->setTargetLum(1000); });
        QVERIFY(bench.runTask(Calibrator::TaskCalibrate));
        QCOMPARE(bench.done.last(), qMakePair(0u, false));
        QCOMPARE(resultOf(bench).status,
                 QStringLiteral("Correction stopped due to R,G,B values persistently at maximum"));
    }

    void cancelledOpeningThenTrustedFirstPoint()
    {
        CalibratorBench bench;
        PlantMeter meter(bench.display);
        bench.useMeter(&meter);
        QVERIFY(bench.configureLinearity(2));
        bench.cal->setTask(Calibrator::TaskCalibrate);
        bench.queueRunning(true);
        QVERIFY(bench.waitForStatus(QStringLiteral("Getting maximum brightness level...")));
        bench.queueRunning(false);
        QTRY_COMPARE_WITH_TIMEOUT(bench.done.size(), 1, 30000);
        QCOMPARE(bench.done.last(), qMakePair(0u, false));
        QVERIFY(bench.display.calls().last().op == QStringLiteral("setDisplayGainRGB"));

        // The display-wide gains stay as the cancel left them (1.0): the
        // wall reads 100 nits at full gains, the target asks for 125.
        bench.onWorker([&] {
            bench.cal->trust1stPoint = true;
            bench.cal->setTargetLum(125);
        });
        const qsizetype before = bench.display.calls().size();
        QVERIFY(bench.runTask(Calibrator::TaskCalibrate));
        QCOMPARE(bench.done.last(), qMakePair(0u, true));
        const QList<FakeDisplay::Call> calls = bench.display.calls().mid(before);
        QVERIFY(!calls.isEmpty());
        for (const FakeDisplay::Call& call : calls)
            QCOMPARE(call.op, QStringLiteral("setRGB"));
        const Result r = resultOf(bench);
        QCOMPARE(r.status, QStringLiteral("Correction completed without error"));
        QCOMPARE(r.luminanceScale, 1.25);
        QCOMPARE(r.levels[2], 100.0f); // the working target
        QCOMPARE(r.points[2].luminance, 125.0); // stored scaled
        QCOMPARE(r.points[2].luminanceTarget, 100.0);
        QVERIFY2(qAbs(r.points[1].luminance - 1.25 * r.levels[1]) < 1.25,
                 qPrintable(QString::number(r.points[1].luminance)));
    }
};

VELTRANO_TEST_MAIN(TestLinearityTasks)
#include "tst_linearitytasks.moc"
