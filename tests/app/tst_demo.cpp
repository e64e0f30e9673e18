// ctest-labels: threaded
// The demonstration script (scripts/run-demo.sh): its stand-ins come up on free
// loopback ports, the settings it writes point the program's own device
// classes at them, and every stand-in ends with the script however it ends.
#include "testsupport.h"

#include "polledcontext.h"

#include "cinemeterii.h"
#include "imageitem.h"
#include "platformhelper.h"
#include "simulatedcamerasdk.h"
#include "simulateddisplay.h"
#include "vantor.h"
#include "veltranomain.h"
#include "veltranor.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <cmath>
#include <csignal>
#include <memory>

using testsupport::PolledContext;

namespace {

const QString kScript = QStringLiteral(VELTRANO_SOURCE_DIR "/scripts/run-demo.sh");

// A process that is gone or only waits to be reaped.
bool ended(qint64 pid)
{
    const QByteArray stat = testsupport::readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    return stat.isEmpty() || (close > 0 && stat.mid(close + 2, 1) == "Z");
}

bool listening(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(2000);
}

// One run of the script, with what it printed about its stand-ins.
struct DemoRun {
    QProcess process;
    quint16 processorPort = 0;
    quint16 meterPort = 0;
    quint16 feedPort = 0;
    QList<qint64> pids;
    QString output;

    bool start(const QString& folder, const QStringList& arguments, const QStringList& environment = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VELTRANO_DEMO_DIR"), folder);
        env.insert(QStringLiteral("VELTRANO_DEMO_SKIP_SETUP"), QStringLiteral("1"));
        env.insert(QStringLiteral("TMPDIR"), folder);
        for (const QString& pair : environment)
            env.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("bash"), QStringList {kScript} + arguments);
        const QRegularExpression line(
            QStringLiteral("(processor|meter|update feed) stand-in +http://127\\.0\\.0\\.1:(\\d+)\\S* +\\(pid (\\d+)"));
        // Generous: python starts slowly on a loaded machine.
        const QDeadlineTimer deadline(60000);
        while (pids.size() < 3 && !deadline.hasExpired()) {
            process.waitForReadyRead(100);
            output += QString::fromUtf8(process.readAllStandardOutput());
            pids.clear();
            for (const auto& m : line.globalMatch(output)) {
                const QString name = m.captured(1);
                (name == QLatin1String("processor") ? processorPort : name == QLatin1String("meter") ? meterPort : feedPort) =
                    m.captured(2).toUShort();
                pids << m.captured(3).toLongLong();
            }
            if (process.state() == QProcess::NotRunning && pids.size() < 3)
                break;
        }
        return pids.size() == 3;
    }

    // A failed check leaves nothing behind for the next tests.
    ~DemoRun()
    {
        for (qint64 pid : pids)
            if (!ended(pid))
                ::kill(pid_t(pid), SIGKILL);
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    bool allEnded() const
    {
        for (qint64 pid : pids)
            if (!ended(pid))
                return false;
        return !listening(processorPort) && !listening(meterPort) && !listening(feedPort);
    }
};

QString artifactsFolder()
{
    const QString configured = qEnvironmentVariable("VELTRANO_ARTIFACTS_DIR");
    return configured.isEmpty() ? QCoreApplication::applicationDirPath() + "/../../artifacts" : configured;
}

// The main window as the program shows it, on `veltranor`.
struct MainScene {
    QQmlApplicationEngine engine;

    explicit MainScene(Veltranor& veltranor)
    {
        engine.rootContext()->setContextProperty(QStringLiteral("qtVersion"), QString::fromLatin1(qVersion()));
        engine.rootContext()->setContextProperty(QStringLiteral("veltranoVersion"),
                                                 QString::fromLatin1(kVeltranoVersion));
        engine.rootContext()->setContextProperty(QStringLiteral("veltranor"), &veltranor);
        engine.rootContext()->setContextProperty(QStringLiteral("appLog"), veltranor.appLog());
        engine.rootContext()->setContextProperty(QStringLiteral("linearityLog"), veltranor.linearityLog());
        engine.load(QUrl(QString::fromLatin1(kMainSceneUrl)));
    }
    QQuickWindow* window() const
    {
        return engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(engine.rootObjects().constFirst());
    }
    // The camera preview window, shown.
    QQuickWindow* preview() const
    {
        QObject* ui = window() ? window()->findChild<QObject*>(QStringLiteral("mainUI")) : nullptr;
        auto* preview = ui ? ui->property("imageWindow").value<QQuickWindow*>() : nullptr;
        if (preview)
            preview->show();
        return preview;
    }
    QImage previewImage() const
    {
        QQuickWindow* w = preview();
        auto* item = w ? w->findChild<ImageItem*>(QStringLiteral("previewImage")) : nullptr;
        return item ? item->image() : QImage();
    }
    // Saves a picture of `w` among the test artifacts.
    static bool keep(QQuickWindow* w, const QString& name)
    {
        if (!w)
            return false;
        QSignalSpy frame(w, &QQuickWindow::frameSwapped);
        w->update();
        frame.wait(2000);
        const QString folder = artifactsFolder();
        const QString path = folder + QLatin1Char('/') + name;
        if (!QDir().mkpath(folder) || !w->grabWindow().save(path))
            return false;
        qInfo("kept %s", qPrintable(path));
        return true;
    }
};

} // namespace

class TestDemo : public QObject
{
    Q_OBJECT

    QTemporaryDir folder_;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(folder_.isValid());
        // The program's settings are the processor demo's.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder_.path() + "/processor/config");
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        qmlRegisterType<ImageItem>("ImageItem", 1, 0, "ImageItem");
        PlatformHelper::registerQmlType();
    }

    // The processor demo's stand-ins, seen through the program's device
    // classes configured only by the settings the script wrote: the stored
    // credentials pass Digest, the wall comes in, and the meter reads what
    // the processor shows.
    void processorDemoStandins()
    {
        DemoRun run;
        QVERIFY2(run.start(folder_.path(), {QStringLiteral("--processor"), QStringLiteral("--standins-only")}),
                 qPrintable(run.output));
        {
            PolledContext net;
            Vantor vantor(net.io());
            QCOMPARE(vantor.address(), QStringLiteral("127.0.0.1:%1").arg(run.processorPort));
            const ErrorType fetched = vantor.fetchLdms();
            QVERIFY2(fetched.code == 0, qPrintable(fetched.message));
            QCOMPARE(vantor.tileCount(), 8u);
            QCOMPARE(vantor.ldmCount(), 96u);

            CineMeterII meter;
            QSignalSpy readings(&meter, &Colorimeter::dataAvailable);
            const auto read = [&] {
                readings.clear();
                meter.read();
                return readings.wait(10000) && meter.errorType().code == 0;
            };
            // Full white: the processor's brightness of its lumaMax (the
            // 1000 cd/m² of a real wall of this kind), in the demo wall's own white.
            QVERIFY(read());
            QCOMPARE(meter.luminance(), 1000.0);
            QVERIFY2(qAbs(meter.cct() - 6200.0) < 0.01 && qAbs(meter.duv() - 0.002) < 1e-6,
                     qPrintable(QStringLiteral("%1 K %2").arg(meter.cct()).arg(meter.duv())));
            // The program sends the display settings it holds with every
            // colour: those the processor has.
            const ErrorType state = vantor.read();
            QVERIFY2(state.code == 0, qPrintable(state.message));
            // Half the output signal gives the light of the transfer function
            // (sRGB: about a fifth), not half; more blue than red raises the
            // colour temperature.
            QCOMPARE(vantor.setRGB(0, 0.5, 0.5, 0.5).code, 0);
            QVERIFY(read());
            QVERIFY2(meter.luminance() > 200.0 && meter.luminance() < 220.0, qPrintable(QString::number(meter.luminance())));
            QCOMPARE(vantor.setRGB(0, 0.4, 0.5, 0.6).code, 0);
            QVERIFY(read());
            QVERIFY(meter.cct() > 6200.0);
        }
        const QByteArray requests =
            testsupport::readFile(folder_.path() + "/processor/logs/processor-requests.log");
        QVERIFY2(requests.contains("GET /api/v1/data?dev.receivers&sys.fixtures 200"), requests.constData());
        QVERIFY(requests.contains("PATCH /api/v1/data 204 {\"dev\":{\"display\""));

        // Closing its input ends the script and its stand-ins.
        run.process.closeWriteChannel();
        QVERIFY(run.process.waitForFinished(30000));
        QCOMPARE(run.process.exitCode(), 0);
        QVERIFY(run.allEnded());
    }

    // The demo's point: a linearity correction with the settings as they come
    // (17 steps, their spacing and gamma; the demo's fast meter reads) run
    // from the program's own object against the stand-ins ends with its
    // output curves sent to the display, the meter measuring the wall the
    // program drives: the processor stand-in's, or the program's simulated
    // wall. The darkest step of a wall as bright as real ones stays above
    // the meter's low-light limit. The main window is kept as a picture of
    // the result.
    void linearityRunConverges_data()
    {
        QTest::addColumn<QString>("demo");
        QTest::newRow("processor") << QStringLiteral("processor");
        QTest::newRow("simulated wall") << QStringLiteral("simulated");
    }

    void linearityRunConverges()
    {
        QFETCH(QString, demo);
        const bool processor = demo == QLatin1String("processor");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder_.path() + "/" + demo + "/config");
        const QString wallState = folder_.path() + "/" + demo + "/simulated-wall.json";
        qputenv("VELTRANO_SIMULATED_WALL_STATE", processor ? QByteArray() : QFile::encodeName(wallState));
        const auto restore = qScopeGuard([this] {
            qunsetenv("VELTRANO_SIMULATED_WALL_STATE");
            QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder_.path() + "/processor/config");
        });

        DemoRun run;
        QVERIFY2(run.start(folder_.path(), {"--" + demo, QStringLiteral("--standins-only")}), qPrintable(run.output));
        {
            PolledContext net;
            Veltranor veltranor(net.io());
            QCOMPARE(veltranor.display() == veltranor.vantor(), processor);
            QCOMPARE(veltranor.colorimeter(), veltranor.cineMeterII());
            if (processor) {
                // What the idle update would have read by the time a user starts.
                const ErrorType read = veltranor.vantor()->read();
                QVERIFY2(read.code == 0, qPrintable(read.message));
            }
            QCOMPARE(veltranor.steps(), 17u);
            QCOMPARE(veltranor.readCount(), 1u);
            QCOMPARE(veltranor.readDelay(), 500u);

            MainScene scene(veltranor);
            QVERIFY(scene.window());

            QElapsedTimer clock;
            clock.start();
            veltranor.setRunning(true);
            QVERIFY(veltranor.running());
            QTRY_VERIFY_WITH_TIMEOUT(!veltranor.running(), 600000);
            qInfo("the %s demo's correction took %lld s", qPrintable(demo), clock.elapsed() / 1000);
            QCOMPARE(veltranor.statusString(), QStringLiteral("Correction completed without error"));
            QCOMPARE(veltranor.status(), 1);
            // The meter saw the simulated wall, not a stand-in's constant.
            QCOMPARE(QFile::exists(wallState), !processor);
            QVERIFY(MainScene::keep(scene.window(), "demo-linearity-" + demo + ".png"));
        }
        if (processor) {
            const QByteArray requests =
                testsupport::readFile(folder_.path() + "/processor/logs/processor-requests.log");
            // The output curves, non-empty, in a PATCH the processor took.
            const QRegularExpression curves(
                QStringLiteral("^PATCH /api/v1/data 204 .*\"curves\":\\{\"b\":\"\\[\\{"),
                QRegularExpression::MultilineOption);
            QVERIFY2(curves.match(QString::fromUtf8(requests)).hasMatch(), requests.right(2000).constData());
        }

        run.process.closeWriteChannel();
        QVERIFY(run.process.waitForFinished(30000));
        QVERIFY(run.allEnded());
    }

    // The camera demo: the simulated camera photographs the wall the program
    // drives, exposed as a camera at the program's exposure sees it. Grab
    // shows the wall in the preview; the target LDM chosen through the camera
    // is within the range the program asks for; a balance run of a varied
    // wall goes through the photo analysis and ends with every LDM on the
    // target; and the result stands through the idle refreshes that follow,
    // in the model and in the simulated window.
    void cameraBalanceConverges()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder_.path() + "/camera/config");
        qputenv("VELTRANO_SIMULATED_WALL_STATE", QFile::encodeName(folder_.path() + "/camera/simulated-wall.json"));
        const auto restore = qScopeGuard([this] {
            qunsetenv("VELTRANO_SIMULATED_WALL_STATE");
            QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder_.path() + "/processor/config");
        });

        DemoRun run;
        QVERIFY2(run.start(folder_.path(), {QStringLiteral("--camera"), QStringLiteral("--standins-only")}),
                 qPrintable(run.output));
        {
            PolledContext net;
            Veltranor v(net.io());
            // The idle refreshes come where this test asks for them.
            v.idleTimer().stop();
            QCOMPARE(v.display(), static_cast<DisplayBase*>(v.simulatedDisplay()));
            QCOMPARE(v.cameraType(), 0);
            MainScene scene(v);
            QVERIFY(scene.window());
            auto sdk = std::dynamic_pointer_cast<SimulatedCameraSdk>(camerasdk::CameraSdk::platform());
            QVERIFY(sdk);
            QVERIFY(QTest::qWaitFor([&] {
                return sdk->property(camerasdk::StillImageStoreDestination)->GetCurrentValue() == 1
                       && v.imageSource()->cameraReady();
            }, 30000));
            v.setMode(Calibrator::ModeBalance);
            DisplayBase* d = v.display();
            QCOMPARE(d->ldmCount(), 144u);

            // Grab: the preview shows the wall the analysis found, lit.
            QVERIFY(v.grabImage());
            QTRY_VERIFY_WITH_TIMEOUT(!v.running(), 60000);
            QCOMPARE(v.statusString(), QStringLiteral("Image capture and processing succeeded."));
            QTRY_VERIFY(!scene.previewImage().isNull());
            const QImage preview = scene.previewImage().convertToFormat(QImage::Format_RGB32);
            const int middle = qGray(preview.pixel(preview.width() / 2, preview.height() / 2));
            QVERIFY2(middle > 60, qPrintable(QString::number(middle)));
            QVERIFY(MainScene::keep(scene.preview(), QStringLiteral("demo-camera-preview.png")));

            // The target LDM, seen through the camera.
            v.chooseTargetLdm(20);
            QTRY_VERIFY_WITH_TIMEOUT(!v.running(), 60000);
            QVERIFY2(v.statusString().startsWith(QStringLiteral("Using target LDM’s RGB ")),
                     qPrintable(v.statusString()));
            const double target[3] = {v.balanceTargetRed(), v.balanceTargetGreen(), v.balanceTargetBlue()};
            QVERIFY2(target[1] >= 160.0 && target[1] <= 190.0, qPrintable(QString::number(target[1])));

            // A wall whose LDMs differ by a few percent; Run balances it.
            for (uint n = 1; n <= d->ldmCount(); ++n)
                if (n != 20)
                    d->setLdmRGB(n, 0.05 * std::sin(n * 1.3), 0.05 * std::sin(n * 2.1), 0.05 * std::sin(n * 0.7));
            QElapsedTimer clock;
            clock.start();
            v.setRunning(true);
            QVERIFY(v.running());
            QTRY_VERIFY_WITH_TIMEOUT(!v.running(), 600000);
            qInfo("the camera demo's balance took %lld s", clock.elapsed() / 1000);
            QCOMPARE(v.statusString(), QStringLiteral("Uniformity completed."));
            QCOMPARE(v.status(), 1);
            QVERIFY(MainScene::keep(scene.window(), QStringLiteral("demo-balance-camera.png")));
            QList<double> gains;
            for (uint n = 1; n <= d->ldmCount(); ++n) {
                const double observed[3] = {d->ldmRedObserved(n), d->ldmGreenObserved(n), d->ldmBlueObserved(n)};
                for (int c = 0; c < 3; ++c)
                    QVERIFY2(qAbs(observed[c] - target[c]) <= target[c] * 0.02, qPrintable(d->dumpLdm(n)));
                gains << d->ldmRedGain(n) << d->ldmGreenGain(n) << d->ldmBlueGain(n);
            }

            // The result stands through the idle refreshes of a minute.
            const auto wallColours = [&scene] {
                QObject* ui = scene.window()->findChild<QObject*>(QStringLiteral("mainUI"));
                auto* wall = ui->property("simulatedDisplay").value<QObject*>();
                QStringList colours;
                for (uint n = 1; wall && n <= 144; ++n) {
                    auto* ldm = wall->findChild<QObject*>(QStringLiteral("ldm%1").arg(n));
                    auto* fill = ldm ? ldm->findChild<QObject*>(QStringLiteral("ldmFill")) : nullptr;
                    colours << (fill ? fill->property("color").value<QColor>().name() : QString());
                }
                return colours;
            };
            const QStringList balanced = wallColours();
            QVERIFY(!balanced.contains(QString()));
            for (int tick = 0; tick < 6; ++tick) {
                v.idleUpdate();
                QTest::qWait(100);
            }
            QList<double> after;
            for (uint n = 1; n <= d->ldmCount(); ++n)
                after << d->ldmRedGain(n) << d->ldmGreenGain(n) << d->ldmBlueGain(n);
            QCOMPARE(after, gains);
            QCOMPARE(wallColours(), balanced);
        }
        run.process.closeWriteChannel();
        QVERIFY(run.process.waitForFinished(30000));
        QVERIFY(run.allEnded());
    }

    // However the script ends, nothing it started stays behind.
    void standinsEndWithTheScript_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("program");
        QTest::addColumn<int>("signal");   // sent to the script; 0: none
        QTest::addColumn<int>("exitCode"); // -1: not checked (killed)
        QTest::newRow("program quits") << QStringList {} << QStringLiteral("true") << 0 << 0;
        QTest::newRow("program fails to start")
            << QStringList {QStringLiteral("--processor")} << QStringLiteral("/nonexistent/Veltrano") << 0 << 127;
        QTest::newRow("terminated while the program runs")
            << QStringList {QStringLiteral("--"), QStringLiteral("-c"), QStringLiteral("echo $$ >\"$0\"; exec sleep 600")}
            << QStringLiteral("sh") << int(SIGTERM) << 143;
        QTest::newRow("killed") << QStringList {QStringLiteral("--standins-only")} << QString() << int(SIGKILL)
                                << -1;
        // The program's update check goes to the stand-in feed on loopback,
        // which offers nothing newer. The program asks it as the updater does.
        QTest::newRow("update check stays on the machine")
            << QStringList {QStringLiteral("--"), QStringLiteral("-c"),
                            QStringLiteral(R"(exec python3 -c 'import os, sys, urllib.request as r
url = os.environ["VELTRANO_UPDATE_URL"]
feed = r.build_opener(r.ProxyHandler({})).open(url + "/api/v1/updates/veltrano/release?arch=Darwin-x86_64&latest")
open(sys.argv[1], "w").write(url + "\n" + feed.read().decode())' "$0")")}
            << QStringLiteral("sh") << 0 << 0;
    }

    void standinsEndWithTheScript()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, program);
        QFETCH(int, signal);
        QFETCH(int, exitCode);

        // The stand-in program writes its pid to the file named by $0.
        const QString pidFile = folder_.filePath(QStringLiteral("program.pid"));
        QFile::remove(pidFile);
        const bool writesPid = arguments.join(' ').contains(QStringLiteral("echo $$"));
        // Or what the update feed answered, after the address asked.
        const bool asksFeed = arguments.join(' ').contains(QStringLiteral("VELTRANO_UPDATE_URL"));
        if (writesPid || asksFeed)
            arguments << pidFile;

        DemoRun run;
        QVERIFY2(run.start(folder_.path(), arguments, {QStringLiteral("VELTRANO_DEMO_PROGRAM=") + program}),
                 qPrintable(run.output));
        qint64 programPid = 0;
        if (writesPid) {
            QTRY_VERIFY_WITH_TIMEOUT((programPid = testsupport::readFile(pidFile).trimmed().toLongLong()) > 0, 10000);
        }
        if (signal)
            ::kill(pid_t(run.process.processId()), signal);
        QVERIFY(run.process.waitForFinished(30000));
        if (exitCode >= 0)
            QCOMPARE(run.process.exitCode(), exitCode);
        QTRY_VERIFY_WITH_TIMEOUT(run.allEnded(), 20000);
        if (programPid)
            QTRY_VERIFY_WITH_TIMEOUT(ended(programPid), 10000);
        if (asksFeed) {
            const QByteArray answer = testsupport::readFile(pidFile);
            QVERIFY2(answer.startsWith("http://127.0.0.1:" + QByteArray::number(run.feedPort) + "\n"), answer.constData());
            const QJsonObject feed = QJsonDocument::fromJson(answer.mid(answer.indexOf('\n') + 1)).object();
            QVERIFY2(feed.contains("items") && feed["items"].toArray().isEmpty(), answer.constData());
        }
    }
};

VELTRANO_TEST_MAIN(TestDemo)
#include "tst_demo.moc"
