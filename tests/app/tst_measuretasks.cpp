// ctest-labels: threaded
#include "testsupport.h"

#include "calibratorbench.h"
#include "messagecapture.h"
#include "scriptedmeter.h"

using Answer = ScriptedMeter::Answer;

class TestMeasureTasks : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void measurement()
    {
        CalibratorBench bench;
        ScriptedMeter meter;
        bench.useMeter(&meter);
        meter.script({{.luminance = 100, .cct = 6400, .duv = -0.002}, {.luminance = 200, .cct = 6600, .duv = 0.004}});
        bench.onWorker([&] { bench.cal->setReadCount(2); });

        // Not the measurement task: nothing happens.
        bench.cal->setTask(Calibrator::TaskCalibrate);
        QVERIFY(bench.onWorker([&] { bench.cal->takeMeasurement(); }));
        QCOMPARE(meter.reads(), 0);
        QVERIFY(bench.statuses.isEmpty());

        QVERIFY(bench.runTask(Calibrator::TaskMeasure));
        QCOMPARE(bench.done.last(), qMakePair(0u, true));
        QCOMPARE(meter.reads(), 2);
        QCOMPARE(bench.linearityLog, QStringList({"CCT 6500, duv  +0.0010, luminance 150.00 cd/m²"}));
        QCOMPARE(bench.statuses, QStringList({"Taking measurement...", ""}));
        QTRY_VERIFY(!bench.cal->running());
    }

    // 6350 readings over seven read counts; a steady meter scatters nothing.
    void readCountTest()
    {
        CalibratorBench bench;
        ScriptedMeter meter;
        bench.useMeter(&meter);
        meter.script({{.luminance = 100, .cct = 6500, .duv = 0.001}});
        bench.onWorker([&] { bench.cal->setResumeStep(3); });

        QVERIFY(bench.runTask(Calibrator::TaskTestReadCounts, 240000));
        QCOMPARE(bench.done.last(), qMakePair(0u, true));
        QCOMPARE(meter.reads(), 6350);
        QStringList expected;
        for (int count = 1; count <= 64; count *= 2)
            expected << QStringLiteral("readCount %1:  CCT err   0.00,  0.00%;  duv err 0.000000,  0.00%;  "
                                       "lum err   0.00,  0.00%")
                            .arg(count, 2);
        QCOMPARE(bench.linearityLog, expected);
        QVERIFY(bench.progress.contains(1.0));
        QCOMPARE(bench.progress.last(), -1.0);
        QCOMPARE(bench.statuses.last(), QStringLiteral("Read Count test completed."));
        uint readCount = 0, resumeStep = 1;
        bench.onWorker([&] {
            readCount = bench.cal->readCount();
            resumeStep = bench.cal->resumeStep();
        });
        QCOMPARE(readCount, 128u);
        QCOMPARE(resumeStep, 0u);
    }

    // A scattering meter: the spreads and their shares of the mean; a
    // cancel lets the remaining loops pass without reading.
    void readCountScatterAndCancel()
    {
        CalibratorBench bench;
        ScriptedMeter meter;
        bench.useMeter(&meter);
        QList<Answer> answers;
        for (int i = 0; i < 50; ++i)
            answers << (i % 2 ? Answer {.luminance = 90, .cct = 6400, .duv = 0.001}
                              : Answer {.luminance = 110, .cct = 6600, .duv = 0.003});
        answers << Answer {.silent = true};
        meter.script(answers);

        bench.cal->setTask(Calibrator::TaskTestReadCounts);
        bench.queueRunning(true);
        QTRY_COMPARE_WITH_TIMEOUT(bench.linearityLog.size(), 1, 30000);
        QCOMPARE(bench.linearityLog.first(),
                 QStringLiteral("readCount  1:  CCT err 200.00,  3.08%;  duv err 0.002000, 20.00%;  lum err  20.00, 20.00%"));
        QTRY_COMPARE(meter.reads(), 51); // the silent answer: waiting for the meter
        bench.queueRunning(false);
        QTRY_COMPARE_WITH_TIMEOUT(bench.done.size(), 1, 30000);
        QCOMPARE(bench.done.last(), qMakePair(0u, true));
        QCOMPARE(meter.reads(), 51);
        QCOMPARE(bench.linearityLog.size(), 7);
        QCOMPARE(bench.statuses.last(), QStringLiteral("Read Count test cancelled."));
    }
};

VELTRANO_TEST_MAIN(TestMeasureTasks)
#include "tst_measuretasks.moc"
