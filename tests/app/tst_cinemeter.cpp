// ctest-labels: threaded
// The network colour meter against a loopback stand-in of the phone app.

#include "cinemeterii.h"
#include "messagecapture.h"
#include "testsupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>

class TestCineMeter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void fixedListsAndFilterFactors();
    void readings_data();
    void readings();
    void failures_data();
    void failures();
    void missingAddress();

private:
    void configure(const QJsonObject& state);
    // One read; returns how many dataAvailable signals it produced.
    int readOnce();

    QProcess server_;
    int acks_ = 0;
    QString port_;
    std::unique_ptr<CineMeterII> meter_;
};

void TestCineMeter::initTestCase()
{
    server_.setProgram(QStringLiteral("python3"));
    server_.setArguments({QStringLiteral(VELTRANO_STANDINS_DIR "/fake_cinemeter.py")});
    server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&server_, &QProcess::readyReadStandardOutput, this, [this] {
        while (server_.canReadLine()) {
            const QString line = QString::fromUtf8(server_.readLine()).trimmed();
            if (port_.isEmpty())
                port_ = line;
            else if (line == QLatin1String("ok"))
                ++acks_;
        }
    });
    server_.start();
    QTRY_VERIFY_WITH_TIMEOUT(!port_.isEmpty(), 10000);

    // A saved selection of the CC30M entry, which the fixed list leaves out.
    QSettings().setValue("Cine Meter II/filter", 9);
    QSettings().setValue("Cine Meter II/address", "HTTP://127.0.0.1:" + port_ + "/meter");
    meter_ = std::make_unique<CineMeterII>();
    QCOMPARE(meter_->address(), "127.0.0.1:" + port_ + "/meter");
    QCOMPARE(meter_->filterList()->count(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(meter_->filterList()->count(), 7, 8000);
}

void TestCineMeter::cleanupTestCase()
{
    meter_.reset();
    server_.write("quit\n");
    if (!server_.waitForFinished(3000))
        server_.kill();
}

void TestCineMeter::configure(const QJsonObject& state)
{
    acks_ = 0;
    server_.write(QJsonDocument(state).toJson(QJsonDocument::Compact) + '\n');
    QTRY_COMPARE(acks_, 1);
}

int TestCineMeter::readOnce()
{
    QSignalSpy data(meter_.get(), &Colorimeter::dataAvailable);
    meter_->read();
    if (!data.wait(8000))
        return 0;
    QTest::qWait(50); // a second outcome would arrive right behind the first
    return int(data.count());
}

void TestCineMeter::fixedListsAndFilterFactors()
{
    QCOMPARE(meter_->filter(), -1); // the saved 9 was not offered
    QCOMPARE(QSettings().value("Cine Meter II/filter").toInt(), -1);
    QList<int> numbers;
    for (qsizetype i = 0; i < meter_->filterList()->count(); ++i)
        numbers.append(meter_->filterList()->option(i)->number());
    QCOMPARE(numbers, QList<int>({-1, 4, 5, 6, 7, 1, 2}));
    QCOMPARE(meter_->matrixList()->count(), 4);
    QCOMPARE(meter_->matrixList()->option(3)->name(), QStringLiteral("Orvane"));

    const QList<QPair<int, double>> factors{{4, 1.995}, {1, 63.096}, {2, 125.893}, {-1, 1.0}};
    for (const auto& [filter, factor] : factors) {
        meter_->setFilter(filter);
        QVERIFY2(qAbs(meter_->filterFactor() - factor) < 0.001, qPrintable(QString::number(filter)));
    }
}

void TestCineMeter::readings_data()
{
    QTest::addColumn<int>("filter");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("luminance");
    QTest::addColumn<QString>("cct");
    QTest::addColumn<QString>("duv");
    QTest::addColumn<QString>("xy");

    const QString x0 = QStringLiteral("0.1000, 0.2000");
    // A reading has a luminance and, unless it is dark, a CCT.
    const QString plain = QStringLiteral("brightness_SI 1 cd/m²\nCCT 1000\n");
    QTest::newRow("filtered") << 4 << "brightness_SI 12.5 cd/m2\nCCT 1000" << "24.9408 cd/m2" << "1000 K"
                              << "+0.0001" << x0;
    QTest::newRow("low light") << -1 << "brightness_SI 0.02 nits" << "0 nits" << "1000 K" << "+0.0001"
                               << x0;
    QTest::newRow("colour") << -1 << QStringLiteral("brightness_SI 1 cd/m²\nCCT 5600\n\u2206uv -0.0031\nCCT\nbogus 1 2")
                            << "1 cd/m²" << "5600 K" << "\u22120.0031" << x0;
    QTest::newRow("x alone") << -1 << plain + "cie1931_x 0.4" << "1 cd/m²" << "1000 K" << "+0.0001" << x0;
    QTest::newRow("at the edges") << -1 << QStringLiteral("brightness_SI 1e6 cd/m2\nCCT 1e5\n\u2206uv -1\ncie1931_x 1\ncie1931_y 1")
                                  << "1e+06 cd/m2" << "100000 K" << "\u22121.0000" << "1.0000, 1.0000";
    QTest::newRow("x and y") << -1 << plain + "cie1931_y 0.38\n\ncie1931_x 0.4 "
                             << "1 cd/m²" << "1000 K" << "+0.0001" << "0.4000, 0.3800";
}

void TestCineMeter::readings()
{
    QFETCH(int, filter);
    QFETCH(QString, body);
    QFETCH(QString, luminance);
    QFETCH(QString, cct);
    QFETCH(QString, duv);
    QFETCH(QString, xy);

    meter_->setFilter(filter);
    meter_->setCct(1000);
    meter_->setDuv(0.0001);
    meter_->setCieXY(0.1, 0.2);
    meter_->setLuminanceUnits(QStringLiteral("cd/m²"));
    meter_->setLuminance(1);
    meter_->setErrorType(ErrorType(1));
    configure({{"body", body}, {"status", 200}, {"delay", 0}, {"timestamp", true}});
    testsupport::MessageCapture log;
    const QString before = meter_->timestamp();
    QCOMPARE(readOnce(), 1);
    QCOMPARE(meter_->luminanceString(), luminance);
    QCOMPARE(meter_->cctString(), cct);
    QCOMPARE(meter_->duvString(), duv);
    QCOMPARE(meter_->cieXYString(), xy);
    QCOMPARE(meter_->errorType().code, 0);
    QCOMPARE(meter_->error(), QString());
    QVERIFY(meter_->timestamp().startsWith(QLatin1String("20")));
    QVERIFY(meter_->timestamp() != before);
    QCOMPARE(log.count(QStringLiteral("Cine Meter II low light limit")),
             luminance.startsWith(QLatin1String("0 ")) ? 1 : 0);
}

void TestCineMeter::failures_data()
{
    QTest::addColumn<QJsonObject>("state");
    QTest::addColumn<QString>("error"); // empty: any non-empty text
    QTest::newRow("server error") << QJsonObject{{"status", 500}, {"body", "oops"}} << QString();
    QTest::newRow("empty body") << QJsonObject{{"body", ""}, {"timestamp", false}}
                                << QStringLiteral("Cine Meter II: empty reply");
    QTest::newRow("time-out") << QJsonObject{{"delay", 6.0}} << QStringLiteral("Cine Meter II: no answer within 4 s");
    // Values no meter reports.
    const auto body = [](const char* text) { return QJsonObject{{"body", text}}; };
    QTest::newRow("luminance nan") << body("brightness_SI nan cd/m2\nCCT 5600")
                                   << QStringLiteral("Cine Meter II: bad brightness_SI [nan]");
    QTest::newRow("luminance inf") << body("brightness_SI inf cd/m2\nCCT 5600")
                                   << QStringLiteral("Cine Meter II: bad brightness_SI [inf]");
    QTest::newRow("negative luminance") << body("brightness_SI -5 cd/m2\nCCT 5600")
                                        << QStringLiteral("Cine Meter II: bad brightness_SI [-5]");
    QTest::newRow("decimal comma") << body("brightness_SI 12,5 cd/m2\nCCT 5600")
                                   << QStringLiteral("Cine Meter II: bad brightness_SI [12,5]");
    QTest::newRow("CCT out of range") << body("brightness_SI 77 cd/m2\nCCT 1e308")
                                      << QStringLiteral("Cine Meter II: bad CCT [1e308]");
    QTest::newRow("Duv beyond a file's") << body("brightness_SI 77 cd/m2\nCCT 5600\n\u2206uv 1e300")
                                         << QStringLiteral("Cine Meter II: bad \u2206uv [1e300]");
    QTest::newRow("CCT below 1 K") << body("brightness_SI 77 cd/m2\nCCT 4.9e-324")
                                   << QStringLiteral("CCT, dUV unavailable / out of range");
    QTest::newRow("x below 0") << body("brightness_SI 77 cd/m2\nCCT 5600\ncie1931_x -3\ncie1931_y 0.3")
                               << QStringLiteral("Cine Meter II: bad cie1931_x [-3]");
    QTest::newRow("y above 1") << body("brightness_SI 77 cd/m2\nCCT 5600\ncie1931_x 0.3\ncie1931_y 7")
                               << QStringLiteral("Cine Meter II: bad cie1931_y [7]");
    QTest::newRow("no luminance") << body("CCT 5600") << QStringLiteral("Cine Meter II: no brightness_SI in reply");
    QTest::newRow("no CCT") << body("brightness_SI 77 cd/m2") << QStringLiteral("Cine Meter II: no CCT in reply");
}

void TestCineMeter::failures()
{
    QFETCH(QJsonObject, state);
    QFETCH(QString, error);
    QJsonObject full{{"body", "brightness_SI 77 cd/m2"}, {"status", 200}, {"delay", 0}, {"timestamp", true}};
    for (auto it = state.begin(); it != state.end(); ++it)
        full[it.key()] = it.value();
    configure(full);
    meter_->setLuminance(5.0);
    meter_->setErrorType(ErrorType(0));
    const QString before = meter_->timestamp();
    QCOMPARE(readOnce(), 1);
    QCOMPARE(meter_->errorType().code, 1);
    QVERIFY(!meter_->error().isEmpty());
    if (!error.isEmpty())
        QCOMPARE(meter_->error(), error);
    // Nothing of an error page or of a refused reply is taken.
    QCOMPARE(meter_->luminance(), 5.0);
    QCOMPARE(meter_->timestamp(), before);
}

void TestCineMeter::missingAddress()
{
    CineMeterII meter;
    meter.setAddress(QString());
    QSignalSpy data(&meter, &Colorimeter::dataAvailable);
    meter.read();
    QCOMPARE(data.count(), 1);
    QCOMPARE(meter.error(), QStringLiteral("Cine Meter II: no network address; can't connect"));
    QCOMPARE(meter.errorType().code, 2);
}

VELTRANO_TEST_MAIN(TestCineMeter)
#include "tst_cinemeter.moc"
