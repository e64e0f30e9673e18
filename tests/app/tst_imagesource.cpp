#include "imagesource.h"
#include "testsupport.h"

#include <QSignalSpy>

struct StatusStep
{
    int waitBefore; // ms
    int code;
    QString message;
};
Q_DECLARE_METATYPE(QList<StatusStep>)

class TestImageSource : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void statusDelay_data()
    {
        QTest::addColumn<QList<StatusStep>>("steps");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("errorSignals");
        QTest::newRow("error alone shows") << QList<StatusStep>{{0, 1, "lost"}} << 1 << "lost" << 1;
        QTest::newRow("OK within 100 ms hides the error")
            << QList<StatusStep>{{0, 2, "lost"}, {40, 0, "fine"}} << 0 << "" << 0;
        QTest::newRow("the last of two errors shows")
            << QList<StatusStep>{{0, 1, "first"}, {50, 2, "second"}} << 2 << "second" << 1;
        QTest::newRow("OK after a shown error clears it")
            << QList<StatusStep>{{0, 1, "lost"}, {300, 0, "ignored"}} << 0 << "" << 2;
    }
    void statusDelay()
    {
        QFETCH(QList<StatusStep>, steps);
        QFETCH(int, code);
        QFETCH(QString, message);
        QFETCH(int, errorSignals);
        ImageSource source;
        QSignalSpy errors(&source, &ImageSource::errorTypeChanged);
        for (const StatusStep& s : steps) {
            QTest::qWait(s.waitBefore);
            source.setCameraStatus(ErrorType(s.code, s.message), s.message);
            if (s.code == 0) // shows at once
                QCOMPARE(source.statusMessage(), QString());
        }
        QTest::qWait(300);
        QCOMPARE(source.errorType().code, code);
        QCOMPARE(source.statusMessage(), message);
        QCOMPARE(errors.count(), errorSignals);
    }

    void storedErrorKept()
    {
        ImageSource source;
        source.setErrorType(ErrorType(1, "recoverable"));
        QSignalSpy errors(&source, &ImageSource::errorTypeChanged);
        source.setErrorType(ErrorType(2, "fatal"));
        QCOMPARE(source.errorType().code, 1);
        QCOMPARE(source.errorType().message, QStringLiteral("recoverable"));
        QCOMPARE(errors.count(), 0);
    }

    void dummyCamera()
    {
        ImageSource dummy;
        QVERIFY(dummy.isDummy());
        QSignalSpy name(&dummy, &ImageSource::cameraNameChanged);
        QSignalSpy ready(&dummy, &ImageSource::cameraReadyChanged);
        QTest::ignoreMessage(QtDebugMsg, "Dummy Camera connected (readings will use Simulated Display).");
        dummy.connect();
        QVERIFY(dummy.cameraReady());
        QCOMPARE(name.count(), 1);
        QCOMPARE(name.front().front().toString(), QStringLiteral("Dummy Camera"));
        dummy.setCameraName("Dummy Camera");
        QCOMPARE(name.count(), 1);
        QTest::ignoreMessage(QtDebugMsg, "Dummy Camera reconnected (readings will use Simulated Display).");
        dummy.reconnect();
        QCOMPARE(ready.count(), 1);

        QSignalSpy path(&dummy, &ImageSource::imagePathChanged);
        QSignalSpy capture(&dummy, &ImageSource::captureImage);
        QTest::ignoreMessage(QtDebugMsg, "\"Captured\" an image.");
        dummy.grab();
        QCOMPARE(path.count() + capture.count(), 0);
        QCOMPARE(dummy.imagePath(), QString());
        QCOMPARE(dummy.changeExposure(0), 0);
        QCOMPARE(dummy.changeExposure(3), 3);
        dummy.displayFrequency(59.94);
        dummy.displayCct(5600);
        QCOMPARE(dummy.refreshRate(), 59.94);
        QCOMPARE(dummy.cct(), 5600);
    }
};

VELTRANO_TEST_MAIN(TestImageSource)
#include "tst_imagesource.moc"
