// ctest-labels: threaded
// A short linearity correction of the engine reading each real meter: the
// serial meter on its fake instrument (a pty), the network meter on its
// loopback stand-in. Before every reading a plant works out what the wall
// shows for the gains last sent and tells the stand-in, so the run converges.

#include "calibratorbench.h"
#include "cinemeterii.h"
#include "cr100.h"
#include "meterstandin.h"
#include "plantmeter.h"
#include "scriptedmeter.h"
#include "testsupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSettings>

#include <memory>

class TestMeterLinearity : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QSettings().clear(); }

    void correctionReadsTheMeter_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::newRow("CR100") << true;
        QTest::newRow("CineMeterII") << false;
    }

    void correctionReadsTheMeter()
    {
        QFETCH(bool, serial);
        MeterStandIn standIn(serial ? QStringLiteral("fake_cr100.py") : QStringLiteral("fake_cinemeter.py"));
        std::unique_ptr<Colorimeter> meter;
        if (serial) {
            qputenv("VELTRANO_CR100_PORT", standIn.first().toLocal8Bit());
            meter = std::make_unique<CR100>();
        } else {
            meter = std::make_unique<CineMeterII>();
            meter->setAddress(QStringLiteral("127.0.0.1:") + standIn.first() + QStringLiteral("/meter"));
        }

        CalibratorBench bench;
        PlantMeter plant(bench.display);
        int reads = 0;
        bool scripted = true;
        // Connected before the meter, so it runs first for each reading.
        connect(bench.cal, &Calibrator::takeReading, this, [&] {
            plant.read();
            ++reads;
            const QString lum = QString::number(plant.luminance(), 'f', 4);
            const QString cct = QString::number(plant.cct(), 'f', 1);
            const QString duv = QString::number(plant.duv(), 'f', 5);
            if (serial) {
                scripted = scripted && standIn.control(QStringLiteral("reply RM Y|OK:0:RM Y:") + lum)
                           && standIn.control(QStringLiteral("reply RM CCT|OK:0:RM CCT:%1,%2").arg(cct, duv));
            } else {
                const QString body = QStringLiteral("brightness_SI %1 cd/m2\nCCT %2\n\u2206uv %3").arg(lum, cct, duv);
                scripted = scripted
                           && standIn.control(QString::fromUtf8(QJsonDocument(QJsonObject {{"body", body}}).toJson(QJsonDocument::Compact)));
            }
        }, Qt::QueuedConnection);
        bench.useMeter(meter.get());
        QVERIFY(bench.configureLinearity(2));

        QVERIFY(bench.runTask(Calibrator::TaskCalibrate));
        QVERIFY(scripted);
        QCOMPARE(bench.done.last(), qMakePair(0u, true));
        QList<CalibrationPoint> points;
        QString status;
        bench.onWorker([&] {
            points = bench.cal->points;
            status = bench.cal->statusString();
        });
        QCOMPARE(status, QStringLiteral("Correction completed without error"));
        QVERIFY(reads > 5);
        QCOMPARE(meter->errorType().code, 0);
        // Both levels were measured through the meter and reached their target.
        QCOMPARE(points.size(), 3);
        for (int i = 1; i <= 2; ++i) {
            QVERIFY2(qAbs(points[i].luminance - points[i].luminanceTarget) < 0.8,
                     qPrintable(QStringLiteral("#%1: %2 for %3").arg(i).arg(points[i].luminance).arg(points[i].luminanceTarget)));
            QVERIFY2(qAbs(points[i].cct - 6500) < 65, qPrintable(QString::number(points[i].cct)));
        }
    }

    // A meter that answers garbage, loses a reply or goes silent: the task
    // ends within 30 s with the meter's error, which its status names; a
    // measurement is then not logged.
    void measurementEndsOnMeterError_data()
    {
        QTest::addColumn<QString>("meter"); // stand-in script, or "" for a meter that never answers
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("correction"); // a linearity correction instead of a measurement

        QTest::newRow("serial: luminance not a number")
            << "fake_cr100.py" << "reply RM Y|OK:0:RM Y:#?!" << "bad luminance [#?!]" << false;
        QTest::newRow("serial: CCT not a pair")
            << "fake_cr100.py" << "reply RM CCT|OK:0:RM CCT:garbage" << "bad CCT,dUv [garbage]" << false;
        QTest::newRow("serial: reply lost") << "fake_cr100.py" << "reply RM Y" << "No reply to [RM Y]" << false;
        // The meter answers every reading with its error: no silence, so all
        // ten attempts are made.
        QTest::newRow("network: reply never comes")
            << "fake_cinemeter.py" << R"({"delay": 120})" << "Cine Meter II: no answer within 4 s" << false;
        QTest::newRow("meter never answers") << "" << "" << "no valid reading within 20 s" << false;
        QTest::newRow("correction: serial reply lost")
            << "fake_cr100.py" << "reply RM CCT" << "No reply to [RM CCT]" << true;
        QTest::newRow("correction: meter never answers") << "" << "" << "no valid reading within 20 s" << true;
    }

    void measurementEndsOnMeterError()
    {
        QFETCH(QString, meter);
        QFETCH(QString, control);
        QFETCH(QString, error);
        QFETCH(bool, correction);

        std::unique_ptr<MeterStandIn> standIn;
        std::unique_ptr<Colorimeter> colorimeter;
        if (meter.isEmpty()) {
            auto silent = std::make_unique<ScriptedMeter>();
            silent->script({ScriptedMeter::Answer {.silent = true}});
            colorimeter = std::move(silent);
        } else {
            standIn = std::make_unique<MeterStandIn>(meter);
            QVERIFY(standIn->control(control));
            if (meter == QLatin1String("fake_cr100.py")) {
                qputenv("VELTRANO_CR100_PORT", standIn->first().toLocal8Bit());
                colorimeter = std::make_unique<CR100>();
            } else {
                colorimeter = std::make_unique<CineMeterII>();
                colorimeter->setAddress(QStringLiteral("127.0.0.1:") + standIn->first() + QStringLiteral("/meter"));
                // A reply that never comes is given up after 0.2 s, not 4.
                colorimeter->findChild<QNetworkAccessManager*>()->setTransferTimeout(200);
            }
        }

        CalibratorBench bench;
        bench.useMeter(colorimeter.get());
        QVERIFY(correction ? bench.configureLinearity(2) : bench.onWorker([&] { bench.cal->setReadCount(1); }));
        QVERIFY(bench.runTask(correction ? Calibrator::TaskCalibrate : Calibrator::TaskMeasure, 30000));
        ErrorType code;
        QString text;
        bench.onWorker([&] {
            code = bench.cal->colorimeterErrorType();
            text = bench.cal->colorimeterError();
        });
        QVERIFY(code.code != 0);
        QCOMPARE(text, error);
        QCOMPARE(bench.done.last(), qMakePair(0u, true));
        if (!correction)
            QCOMPARE(bench.linearityLog, QStringList());
        QCOMPARE(bench.statuses.last(),
                 (correction ? QStringLiteral("Correction stopped with colorimeter error ")
                             : QStringLiteral("Measurement stopped with colorimeter error "))
                     + error);
    }
};

VELTRANO_TEST_MAIN(TestMeterLinearity)

#include "tst_meterlinearity.moc"
