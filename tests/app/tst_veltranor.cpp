#include "testsupport.h"
#include "veltranor.h"

#include <QSignalSpy>

class TestVeltranor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stopEndsTheRunAndJoinsTheWorkers()
    {
        boost::asio::io_context context;
        Veltranor veltranor(context);
        QVERIFY(veltranor.calibratorThread().isRunning());
        QVERIFY(veltranor.backgroundThread().isRunning());

        veltranor.setRunning(true);
        QSignalSpy spy(&veltranor, &Veltranor::runningChanged);
        veltranor.stop();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toBool(), false);
        QVERIFY(!veltranor.running());
        QVERIFY(veltranor.calibratorThread().isFinished());
        QVERIFY(veltranor.backgroundThread().isFinished());

        // A second stop (and the destructor after it) is harmless.
        veltranor.stop();
        QCOMPARE(spy.count(), 1);
    }
};

VELTRANO_TEST_MAIN(TestVeltranor)

#include "tst_veltranor.moc"
