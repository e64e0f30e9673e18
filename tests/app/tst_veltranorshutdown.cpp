// ctest-labels: threaded
// Stopping or quitting while the engine waits for a meter that never answers:
// the serial meter's instrument ignores the measure command, the network
// meter's stand-in holds its reply. Both must end promptly, nothing hanging on
// the Calibrator thread.

#include "calibrator.h"
#include "meterstandin.h"
#include "polledcontext.h"
#include "testsupport.h"
#include "veltranor.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QSignalSpy>

#include <memory>

class TestVeltranorShutdown : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
    }

    void endDuringSilentReading_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<bool>("destroy");
        QTest::newRow("CR100, quit") << true << true;
        QTest::newRow("CR100, stop") << true << false;
        QTest::newRow("CineMeterII, quit") << false << true;
        QTest::newRow("CineMeterII, stop") << false << false;
    }

    void endDuringSilentReading()
    {
        QFETCH(bool, serial);
        QFETCH(bool, destroy);
        QSettings().clear();
        MeterStandIn standIn(serial ? QStringLiteral("fake_cr100.py") : QStringLiteral("fake_cinemeter.py"));
        if (serial) {
            qputenv("VELTRANO_CR100_PORT", standIn.first().toLocal8Bit());
            QVERIFY(standIn.control(QStringLiteral("reply M"))); // no answer at all
        } else {
            QSettings().setValue("Cine Meter II/address", "127.0.0.1:" + standIn.first() + "/meter");
            QVERIFY(standIn.control(QStringLiteral("{\"delay\": 60}")));
        }
        QSettings().setValue("colorMeter", serial);
        QSettings().setValue("output", true); // the simulated display

        testsupport::PolledContext net;
        auto v = std::make_unique<Veltranor>(net.io());
        v->calibrator()->setTask(Calibrator::TaskMeasure);
        v->setRunning(true);
        const QString asked = serial ? QStringLiteral("> M") : QStringLiteral("GET /meter");
        QTRY_VERIFY_WITH_TIMEOUT(standIn.output().contains(asked), 20000);

        QElapsedTimer clock;
        clock.start();
        if (destroy) {
            v.reset();
        } else {
            QSignalSpy running(v.get(), &Veltranor::runningChanged);
            v->stop();
            QCOMPARE(running.count(), 1);
            QVERIFY(v->calibratorThread().isFinished());
            v.reset();
        }
        // A bound for a hang, not a speed check: the waits inside are bounded
        // by the engine's running flag, well below this.
        QVERIFY2(clock.elapsed() < 30000, qPrintable(QString::number(clock.elapsed())));
    }
};

VELTRANO_TEST_MAIN(TestVeltranorShutdown)

#include "tst_veltranorshutdown.moc"
