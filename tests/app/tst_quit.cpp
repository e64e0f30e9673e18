// ctest-labels: threaded
// Quitting the program, measured from the quit action to the end of its
// process: with nothing pending, and while a processor request that the
// processor never answers holds the GUI thread (the idle refresh, the
// preparation of a linearity run), and with every debug category logged,
// which makes the scene log from inside the QML engine.
#include "processorstandin.h"
#include "testsupport.h"
#include "vantor.h"
#include "veltranomain.h"
#include "veltranor.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <functional>

namespace {

// Runs once the application object of veltranoMain exists.
std::function<void()> onApplicationCreated;

void callStartupHook()
{
    if (onApplicationCreated)
        onApplicationCreated();
}

enum Pending { Nothing, IdleRefresh, RunPreparation, DebugLogging };
enum QuitBy { ExitAction, ClosingTheWindow };

// The program with its real scene. Once it runs, it enters the pending
// request (if any) and quits from inside that wait, saying "quitting" on
// stdout just before.
int runProgram(Pending pending, QuitBy quitBy, const QString& processor)
{
    onApplicationCreated = [=] {
        // With every debug category on, the scene logs from inside the QML
        // engine while it builds and lays out its views: give it time to.
        QTimer::singleShot(pending == DebugLogging ? 4000 : 500, qApp, [=] {
            const auto quit = [quitBy] {
                std::fputs("quitting\n", stdout);
                std::fflush(stdout);
                if (quitBy == ExitAction) {
                    QCoreApplication::quit(); // what File > Exit and Ctrl+Q do
                } else {
                    for (QWindow* window : QGuiApplication::topLevelWindows())
                        if (window->isVisible())
                            window->close();
                }
            };
            if (pending == Nothing || pending == DebugLogging) {
                quit();
                return;
            }
            auto* veltranor = qApp->findChild<Veltranor*>();
            veltranor->vantor()->setAddress(processor);
            QTimer::singleShot(300, qApp, quit); // runs inside the wait below
            if (pending == IdleRefresh)
                veltranor->idleUpdate();
            else
                veltranor->setRunning(true);
        });
    };
    char name[] = "Veltrano";
    char* argv[] = {name, nullptr};
    int argc = 1;
    return veltranoMain(argc, argv, QUrl(QString::fromLatin1(kMainSceneUrl)));
}

} // namespace

class TestQuit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void quitEndsTheProcess_data()
    {
        QTest::addColumn<int>("pending");
        QTest::addColumn<int>("quitBy");
        QTest::newRow("exit, nothing pending") << int(Nothing) << int(ExitAction);
        QTest::newRow("window closed, nothing pending") << int(Nothing) << int(ClosingTheWindow);
        QTest::newRow("exit during the idle refresh") << int(IdleRefresh) << int(ExitAction);
        QTest::newRow("window closed during the idle refresh") << int(IdleRefresh) << int(ClosingTheWindow);
        QTest::newRow("exit while a run is prepared") << int(RunPreparation) << int(ExitAction);
        QTest::newRow("window closed while a run is prepared") << int(RunPreparation) << int(ClosingTheWindow);
        QTest::newRow("exit, every debug category logged") << int(DebugLogging) << int(ExitAction);
    }

    void quitEndsTheProcess()
    {
        QFETCH(int, pending);
        QFETCH(int, quitBy);
        ProcessorStandin processor;
        QVERIFY2(processor.start(), qPrintable(processor.errorString()));
        processor.setAuth(QJsonObject {{QStringLiteral("enabled"), false}});
        processor.addRule(QJsonObject {{"action", "hang"}, {"times", -1}});

        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The update check at start stays on this machine.
        environment.insert(QStringLiteral("VELTRANO_UPDATE_URL"), QStringLiteral("http://127.0.0.1:9"));
#if defined(__SANITIZE_THREAD__)
        // The whole scene runs in the program, on Debian's Qt, which is not
        // built for ThreadSanitizer: Qt's own hand-overs (image conversion on
        // its thread pool, its read-write locks) are reported there. What the
        // quit path runs of ours is checked in the engine, client and
        // shut-down tests; here the program only has to end in time.
        environment.insert(QStringLiteral("TSAN_OPTIONS"),
                           environment.value(QStringLiteral("TSAN_OPTIONS")) + QStringLiteral(":report_bugs=0"));
#endif
        if (pending == DebugLogging) {
            environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=true"));
            program.setStandardErrorFile(QProcess::nullDevice());
        } else {
            program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        }
        program.setProcessEnvironment(environment);
        program.start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--program"), QString::number(pending), QString::number(quitBy),
                       QStringLiteral("127.0.0.1:%1").arg(processor.port())});
        QVERIFY(program.waitForStarted(10000));
        QElapsedTimer sinceQuit;
        QByteArray said;
        while (!said.contains("quitting\n")) {
            if (!program.waitForReadyRead(60000))
                QFAIL(program.state() == QProcess::NotRunning ? "the program ended before it quit"
                                                              : "the program never came to quit");
            said += program.readAllStandardOutput();
        }
        sinceQuit.start();
        // The goal is 2 s; the bound leaves room for a loaded machine.
        const bool ended = program.waitForFinished(5000);
        const qint64 took = sinceQuit.elapsed();
        if (!ended) {
            program.kill();
            program.waitForFinished(10000);
        }
        processor.releaseHung();
        qInfo("ended %lld ms after quitting", static_cast<long long>(took));
        QVERIFY2(ended, qPrintable(QStringLiteral("still running %1 ms after quitting").arg(took)));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateUserFolders();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 5 && qstrcmp(argv[1], "--program") == 0) {
        qAddPreRoutine(callStartupHook);
        return runProgram(Pending(atoi(argv[2])), QuitBy(atoi(argv[3])), QString::fromLocal8Bit(argv[4]));
    }
    QCoreApplication app(argc, argv);
    TestQuit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_quit.moc"
