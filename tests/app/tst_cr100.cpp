// ctest-labels: threaded
// The serial colour meter against a fake instrument on a pseudo-terminal.

#include "cr100.h"
#include "messagecapture.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>

#include <memory>

namespace {

// The python instrument: its first output line is the pty path, then one
// "> <command>" line per command it received.
class FakeInstrument
{
public:
    explicit FakeInstrument(const QStringList& args = {})
    {
        process_.setProgram(QStringLiteral("python3"));
        process_.setArguments(QStringList{QStringLiteral(VELTRANO_STANDINS_DIR "/fake_cr100.py")}
                              + args);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { collect(); });
        QTRY_VERIFY_WITH_TIMEOUT(!path_.isEmpty(), 10000);
        qputenv("VELTRANO_CR100_PORT", path_.toLocal8Bit());
    }
    ~FakeInstrument()
    {
        process_.write("quit\n");
        if (!process_.waitForFinished(3000))
            process_.kill();
        process_.waitForFinished(1000);
    }

    // Replaces the answer to `command` by `lines` (none: no answer).
    void script(const QString& command, const QStringList& lines)
    {
        QString control = QStringLiteral("reply ") + command;
        for (const QString& line : lines)
            control += QLatin1Char('|') + line;
        send(control);
    }
    // Answers the next `command` with `lines` only `seconds` after it came.
    void late(double seconds, const QString& command, const QStringList& lines)
    {
        send(QStringLiteral("late %1 %2|").arg(seconds).arg(command) + lines.join(QLatin1Char('|')));
    }
    void clearScripts() { send(QStringLiteral("clear")); }
    QStringList commands() const { return commands_; }
    QString path() const { return path_; }
    void forget() { commands_.clear(); }
    void quit() { process_.write("quit\n"); process_.waitForFinished(3000); }

private:
    void send(const QString& control)
    {
        acks_ = 0;
        process_.write(control.toUtf8() + '\n');
        QTRY_COMPARE(acks_, 1);
    }
    void collect()
    {
        while (process_.canReadLine()) {
            const QString line = QString::fromUtf8(process_.readLine()).chopped(1);
            if (path_.isEmpty())
                path_ = line;
            else if (line.startsWith(QLatin1String("> ")))
                commands_.append(line.mid(2));
            else if (line == QLatin1String("ok"))
                ++acks_;
        }
    }

    QProcess process_;
    QString path_;
    QStringList commands_;
    int acks_ = 0;
};

const QStringList kMeasure{"M", "RM Y", "RM CCT"};

} // namespace

class TestCR100 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void firstReadingLoadsListsThenMeasures();
    void absentSavedFilterIsDroppedAndSpectrometerNoted();
    void failedReplies_data();
    void failedReplies();
    void noInstrument();
    void instrumentGoneMidReading();
    void lostReplyFreesTheMeter_data();
    void lostReplyFreesTheMeter();
    void portNames_data();
    void portNames();

private:
    // One instrument with the default lists for the tests that script it.
    FakeInstrument& scripted();
    std::unique_ptr<FakeInstrument> scripted_;
};

FakeInstrument& TestCR100::scripted()
{
    if (!scripted_)
        scripted_ = std::make_unique<FakeInstrument>();
    scripted_->clearScripts();
    scripted_->forget();
    qputenv("VELTRANO_CR100_PORT", scripted_->path().toLocal8Bit());
    return *scripted_;
}

void TestCR100::init()
{
    QSettings().clear();
    qunsetenv("VELTRANO_CR100_PORT");
}

void TestCR100::firstReadingLoadsListsThenMeasures()
{
    QSettings().setValue("Colorimetry Research/filter", 4);
    QSettings().setValue("Colorimetry Research/matrix", 1);
    FakeInstrument fake({"--filters", "4,ND-100-0.3,Radiance;9,CC30M,Radiance;2,ND-42-42,Unassigned;5,"
                                      "ND-100-0.6,Radiance",
                         "--matrices", "1,Factory,1,0,0,0,1,0,0,0,1;3,Other,1,0,0,0,1,0,0,0,1"});
    CR100 meter;
    QSignalSpy data(&meter, &Colorimeter::dataAvailable);
    testsupport::MessageCapture log;
    meter.read();
    meter.read(); // still busy: no second outcome
    QTRY_COMPARE(data.count(), 1);
    QCOMPARE(log.count(QStringLiteral("Colorimetry Research: read() still in progress; returning")), 1);
    QCOMPARE(fake.commands(),
             QStringList({"SM Reset", "RC Model", "RC InstrumentType", "RC Filter", "SM Filter1 4",
                          "RC MatrixCalib", "SM Matrix 1", "SM UserCalibMode 1"})
                 + kMeasure);
    QCOMPARE(meter.name(), QStringLiteral("CR-100"));
    QCOMPARE(meter.errorType().code, 0);
    QCOMPARE(meter.error(), QString());
    QCOMPARE(meter.luminance(), 123.45);
    QCOMPARE(meter.cct(), 6504.0);
    QCOMPARE(meter.duv(), 0.0012);
    QVERIFY(!meter.timestamp().isEmpty());
    QCOMPARE(meter.filterList()->count(), 3); // none, 4, 5
    QCOMPARE(meter.filterList()->option(2)->number(), 5);
    QCOMPARE(meter.filterName(), QStringLiteral("ND-100-0.3"));
    QCOMPARE(meter.matrixList()->count(), 3);
    QCOMPARE(meter.matrixList()->option(1)->type(), QStringLiteral("matrix"));
    QCOMPARE(meter.matrixName(), QStringLiteral("Factory"));
    QVERIFY(!meter.spectrometer());

    // Later readings only measure.
    fake.forget();
    const QString stamp = meter.timestamp();
    QTest::qWait(5);
    meter.read();
    QTRY_COMPARE(data.count(), 2);
    QCOMPARE(fake.commands(), kMeasure);
    QVERIFY(meter.timestamp() != stamp);

    // Another filter: the chain runs through the matrices to a full reading.
    fake.forget();
    meter.setFilterAndMatrix(5, -2);
    QTRY_COMPARE(data.count(), 3);
    QCOMPARE(fake.commands(),
             QStringList({"SM Filter1 5", "RC MatrixCalib", "SM Matrix 1", "SM UserCalibMode 1"})
                 + kMeasure);
    QCOMPARE(QSettings().value("Colorimetry Research/filter").toInt(), 5);
}

void TestCR100::absentSavedFilterIsDroppedAndSpectrometerNoted()
{
    QSettings().setValue("Colorimetry Research/filter", 7);
    FakeInstrument fake({"--type", "2", "--model", ""});
    CR100 meter;
    QSignalSpy data(&meter, &Colorimeter::dataAvailable);
    testsupport::MessageCapture log;
    meter.read();
    QTRY_COMPARE(data.count(), 1);
    const QStringList load{"SM Reset", "RC Model", "RC InstrumentType", "RC Filter"};
    const QStringList tail{"RC MatrixCalib", "SM UserCalibMode 0"};
    QCOMPARE(fake.commands(), load + load + tail + kMeasure);
    QCOMPARE(QSettings().value("Colorimetry Research/filter").toInt(), -1);
    QCOMPARE(meter.name(), QStringLiteral("Colorimetry Research")); // empty model keeps the name
    QVERIFY(meter.spectrometer());
    QVERIFY(log.count("After RC InstrumentType: Name [Colorimetry Research], is a spectrometer") > 0);
}

void TestCR100::failedReplies_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("reply");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("code");
    QTest::addColumn<double>("luminance");
    QTest::addColumn<QString>("lastCommand"); // nothing is sent after it

    QTest::newRow("too dark") << "M" << QStringList{"ER:-304:M:under range"} << "" << 0 << 0.0 << "M";
    QTest::newRow("too dark 305") << "RM Y" << QStringList{"ER:-305:RM Y:"} << "" << 0 << 0.0
                                  << "RM Y";
    QTest::newRow("instrument error") << "M" << QStringList{"ER:-100:M:fault"}
                                      << "Error: [ER:-100:M:fault]" << 2 << 50.0 << "M";
    QTest::newRow("no cct") << "RM CCT" << QStringList{"OK:0:RM CCT:0,0"}
                            << "CCT, dUV unavailable / out of range" << 1 << 123.45 << "RM CCT";
    QTest::newRow("luminance not a number") << "RM Y" << QStringList{"OK:0:RM Y:#?!"} << "bad luminance [#?!]" << 2
                                            << 50.0 << "RM Y";
    QTest::newRow("one part") << "RM CCT" << QStringList{"OK:0:RM CCT:6500"} << "bad CCT,dUv [6500]" << 2
                              << 123.45 << "RM CCT";
    QTest::newRow("luminance out of range") << "RM Y" << QStringList{"OK:0:RM Y:1e308"} << "bad luminance [1e308]"
                                            << 2 << 50.0 << "RM Y";
    QTest::newRow("negative luminance") << "RM Y" << QStringList{"OK:0:RM Y:-5"} << "bad luminance [-5]" << 2 << 50.0
                                        << "RM Y";
    QTest::newRow("negative CCT") << "RM CCT" << QStringList{"OK:0:RM CCT:-6500,0.001"}
                                  << "bad CCT,dUv [-6500,0.001]" << 2 << 123.45 << "RM CCT";
    QTest::newRow("Duv not finite") << "RM CCT" << QStringList{"OK:0:RM CCT:6504,nan"} << "bad CCT,dUv [6504,nan]"
                                    << 2 << 123.45 << "RM CCT";
    QTest::newRow("Duv beyond a file's") << "RM CCT" << QStringList{"OK:0:RM CCT:6504,5"} << "bad CCT,dUv [6504,5]"
                                         << 2 << 123.45 << "RM CCT";
    QTest::newRow("Duv just below -1") << "RM CCT" << QStringList{"OK:0:RM CCT:6504,-1.0001"}
                                       << "bad CCT,dUv [6504,-1.0001]" << 2 << 123.45 << "RM CCT";
    QTest::newRow("CCT below 1 K") << "RM CCT" << QStringList{"OK:0:RM CCT:4.9e-324,0.001"}
                                   << "CCT, dUV unavailable / out of range" << 1 << 123.45 << "RM CCT";
    QTest::newRow("line longer than the buffer")
        << "RM Y" << QStringList{"OK:0:RM Y:" + QString(300, QLatin1Char('1'))}
        << "reply too long [OK:0:RM Y:1111111111111111111111...]" << 2 << 50.0 << "RM Y";
    QTest::newRow("bad filter line") << "RC Filter" << QStringList{"OK:0:RC Filter:1", "4;ND"}
                                     << "Bad filter response [4;ND]" << 2 << 50.0 << "RC Filter";
    QTest::newRow("bad matrix line") << "RC MatrixCalib"
                                     << QStringList{"OK:0:RC MatrixCalib:1,3,3", "1,Short,1"}
                                     << "Bad matrix response [1,Short,1]" << 2 << 50.0
                                     << "RC MatrixCalib";
}

void TestCR100::failedReplies()
{
    QFETCH(QString, command);
    QFETCH(QStringList, reply);
    QFETCH(QString, error);
    QFETCH(int, code);
    QFETCH(double, luminance);
    QFETCH(QString, lastCommand);

    FakeInstrument& fake = scripted();
    fake.script(command, reply);
    CR100 meter;
    meter.setLuminance(50.0);
    meter.setCct(5000.0);
    meter.setTimestamp(QStringLiteral("earlier"));
    QSignalSpy data(&meter, &Colorimeter::dataAvailable);
    meter.read();
    QTRY_COMPARE(data.count(), 1);
    QTest::qWait(200); // nothing more follows: the chain has stopped
    QCOMPARE(data.count(), 1);
    QCOMPARE(fake.commands().last(), lastCommand);
    QCOMPARE(meter.error(), error);
    QCOMPARE(meter.errorType().code, code);
    QCOMPARE(meter.luminance(), luminance);
    QCOMPARE(meter.cct(), 5000.0);
    // A reading of 0 carries a fresh time, or it would be taken as stale.
    QCOMPARE(meter.timestamp() != QLatin1String("earlier"), code == 0);
    if (code == 2) // fatal: the lists are reloaded next time
        QCOMPARE(meter.filterList()->count(), 1);

    // The next reading recovers.
    fake.clearScripts();
    fake.forget();
    meter.read();
    QTRY_COMPARE(data.count(), 2);
    QCOMPARE(meter.errorType().code, 0);
    QCOMPARE(meter.luminance(), 123.45);
    QCOMPARE(fake.commands().first(), code == 2 ? QStringLiteral("SM Reset") : QStringLiteral("M"));
}

void TestCR100::noInstrument()
{
    CR100 meter;
    QSignalSpy data(&meter, &Colorimeter::dataAvailable);
    for (int i = 1; i <= 2; ++i) {
        meter.read();
        QCOMPARE(data.count(), i);
        QCOMPARE(meter.error(), QStringLiteral("CRI colorimeter not found"));
        QCOMPARE(meter.errorType().code, 2);
    }
    QCOMPARE(meter.filterList()->count(), 1);

    qputenv("VELTRANO_CR100_PORT", "/nonexistent/tty-veltrano");
    meter.read();
    QCOMPARE(data.count(), 3);
    QCOMPARE(meter.error(), QStringLiteral("Unable to open serial port"));
    QCOMPARE(meter.errorType().code, 2);
}

void TestCR100::instrumentGoneMidReading()
{
    FakeInstrument& fake = scripted();
    fake.script("M", {}); // never answers
    CR100 meter;
    QSignalSpy data(&meter, &Colorimeter::dataAvailable);
    meter.read();
    QTRY_COMPARE(fake.commands().count(), 7);
    // A filter change waits for the reading in progress, but not forever:
    // that reading ends when its reply does not come, and the change goes
    // on from a reload of the lists, which sends the chosen filter, up to
    // the next measurement.
    meter.setFilter(5);
    QCOMPARE(data.count(), 1);
    QCOMPARE(meter.error(), QStringLiteral("No reply to [M]"));
    QTRY_COMPARE(fake.commands().count(), 15);
    QCOMPARE(fake.commands().mid(7), QStringList({"SM Reset", "RC Model", "RC InstrumentType", "RC Filter",
                                                  "SM Filter1 5", "RC MatrixCalib", "SM UserCalibMode 0", "M"}));
    QCOMPARE(QSettings().value("Colorimetry Research/filter").toInt(), 5);
    QCOMPARE(data.count(), 1);

    // The device is gone: the reading ends, and the next one opens the port again.
    meter.handleError(QSerialPort::ResourceError);
    QCOMPARE(data.count(), 2);
    QCOMPARE(meter.errorType().code, 2);
    QCOMPARE(meter.filterList()->count(), 1);
    fake.clearScripts();
    fake.forget();
    meter.read();
    QTRY_COMPARE(data.count(), 3);
    QCOMPARE(meter.errorType().code, 0);
    QCOMPARE(fake.commands().first(), QStringLiteral("SM Reset"));
}

// A reply that never comes, or comes garbled, ends the reading after 10 s
// with a fatal error; the meter is free again and the next reading works.
void TestCR100::lostReplyFreesTheMeter_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("reply");
    QTest::addColumn<int>("sent"); // commands sent before the chain stopped
    QTest::addColumn<double>("late"); // seconds after which the reply comes after all; 0: never
    QTest::addColumn<bool>("idle"); // the late reply comes before the next reading starts

    QTest::newRow("no reply to M") << "M" << QStringList{} << 9 << 0.0 << false;
    QTest::newRow("garbled reply") << "RM Y" << QStringList{"~#~garbled~#~"} << 10 << 0.0 << false;
    QTest::newRow("reply naming another command") << "RM CCT" << QStringList{"OK:0:RM XY:1,2"} << 11 << 0.0
                                                  << false;
    QTest::newRow("filter list cut short") << "RC Filter" << QStringList{"OK:0:RC Filter:2", "4,ND-100-0.3,Radiance"}
                                           << 4 << 0.0 << false;
    // It comes while the next reading waits for its first reply.
    QTest::newRow("reply after its reading ended") << "RM Y" << QStringList{"OK:0:RM Y:77"} << 10 << 12.0 << false;
    // It comes while no reading runs: it neither sets a value nor goes on
    // with the chain.
    QTest::newRow("reply while no reading runs") << "RM Y" << QStringList{"OK:0:RM Y:77"} << 10 << 13.0 << true;
}

void TestCR100::lostReplyFreesTheMeter()
{
    QFETCH(QString, command);
    QFETCH(QStringList, reply);
    QFETCH(int, sent);
    QFETCH(double, late);
    QFETCH(bool, idle);

    QSettings().setValue("Colorimetry Research/filter", 4);
    QSettings().setValue("Colorimetry Research/matrix", 1);
    FakeInstrument& fake = scripted();
    if (late > 0)
        fake.late(late, command, reply);
    else
        fake.script(command, reply);
    testsupport::MessageCapture log;
    CR100 meter;
    QSignalSpy data(&meter, &Colorimeter::dataAvailable);
    meter.read();
    QTRY_COMPARE(fake.commands().size(), sent);
    QElapsedTimer sinceLost;
    sinceLost.start();
    QTRY_COMPARE_WITH_TIMEOUT(data.count(), 1, 15000);
    QCOMPARE(fake.commands().size(), sent);
    QCOMPARE(fake.commands().last(), command);
    QCOMPARE(meter.error(), QStringLiteral("No reply to [%1]").arg(command));
    QCOMPARE(meter.errorType().code, 2);
    QCOMPARE(meter.filterList()->count(), 1);
    if (idle) {
        // Waits for the reply to be seen, taken or ignored: ignored, it
        // leaves the reading's outcome, the values and the instrument alone.
        const double luminance = meter.luminance();
        const QString ignored = QStringLiteral(": ignoring unexpected [OK:0:RM Y:77]");
        QTRY_VERIFY_WITH_TIMEOUT(!log.messages().filter(ignored).isEmpty() || fake.commands().size() > sent
                                     || meter.luminance() != luminance,
                                 15000);
        QCOMPARE(fake.commands().size(), sent);
        QCOMPARE(meter.luminance(), luminance);
        QCOMPARE(meter.error(), QStringLiteral("No reply to [%1]").arg(command));
        QCOMPARE(data.count(), 1);
    }

    fake.clearScripts();
    fake.forget();
    meter.read();
    QTRY_COMPARE_WITH_TIMEOUT(data.count(), 2, 15000);
    QCOMPARE(meter.errorType().code, 0);
    QCOMPARE(meter.luminance(), 123.45);
    QCOMPARE(fake.commands().first(), QStringLiteral("SM Reset"));
    QVERIFY2(sinceLost.elapsed() < 20000, qPrintable(QString::number(sinceLost.elapsed())));
}

void TestCR100::portNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("meter");
    QTest::newRow("Linux USB serial") << "ttyUSB0" << true;
    QTest::newRow("Linux USB modem") << "ttyACM1" << true;
}

void TestCR100::portNames()
{
    QFETCH(QString, name);
    QFETCH(bool, meter);
    QCOMPARE(CR100::isMeterPortName(name), meter);
}

VELTRANO_TEST_MAIN(TestCR100)
#include "tst_cr100.moc"
