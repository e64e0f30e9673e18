#include "logmodel.h"
#include "testsupport.h"
#include "veltranomain.h"
#include "veltranor.h"

#include <QGuiApplication>
#include <QQuickWindow>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <boost/asio/post.hpp>

#include <sys/resource.h>

#include <atomic>
#include <functional>

namespace {

// Runs once the application object of veltranoMain exists.
std::function<void()> onApplicationCreated;

void callStartupHook()
{
    if (onApplicationCreated)
        onApplicationCreated();
}

int runMain(const QUrl& scene)
{
    char name[] = "Veltrano";
    char* argv[] = {name, nullptr};
    int argc = 1;
    return veltranoMain(argc, argv, scene);
}

bool logHas(const QString& message)
{
    LogModel* log = GetAppLog();
    for (int row = 0; row < log->rowCount(); ++row) {
        if (log->data(log->index(row), LogModel::MessageRole).toString() == message)
            return true;
    }
    return false;
}

rlim_t softLimit()
{
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_cur;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void brokenSceneExitsWithMinusOne()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("broken.qml");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("import QtQuick\nItem { this is not QML }\n");
        file.close();

        bool eventLoopRan = false;
        onApplicationCreated = [&] { QTimer::singleShot(0, [&] { eventLoopRan = true; }); };
        QCOMPARE(runMain(QUrl::fromLocalFile(path)), -1);
        onApplicationCreated = nullptr;
        QVERIFY(eventLoopRan);
    }

    void realSceneStartsPollsAndQuitsCleanly()
    {
        rlimit before{};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &before), 0);

        QString title;
        QSize size;
        QSize minimum;
        QSize room; // the screen's, less the window's frame
        std::atomic<bool> polled{false};
        Veltranor* veltranor = nullptr;
        bool calibratorRunning = false;
        bool calibratorFinished = false;
        bool backgroundFinished = false;

        onApplicationCreated = [&] {
            QTimer::singleShot(300, qApp, [&] {
                veltranor = qApp->findChild<Veltranor*>();
                QVERIFY(veltranor);
                calibratorRunning = veltranor->calibratorThread().isRunning();
                boost::asio::post(veltranor->networkContext(), [&] { polled = true; });
                // The main window is the one shown; the scene's other windows start hidden.
                for (QWindow* window : QGuiApplication::topLevelWindows()) {
                    if (auto* quick = qobject_cast<QQuickWindow*>(window); quick && quick->isVisible()) {
                        title = quick->title();
                        size = quick->size();
                        minimum = quick->minimumSize();
                        const QMargins frame = quick->frameMargins();
                        room = quick->screen()->availableGeometry().size()
                               - QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
                    }
                }
                QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [&] {
                    // Connected after Veltranor::stop, so the workers are joined here.
                    calibratorFinished = veltranor->calibratorThread().isFinished();
                    backgroundFinished = veltranor->backgroundThread().isFinished();
                });
                QTimer::singleShot(200, qApp, [] { QCoreApplication::quit(); });
            });
        };
        const int result = runMain(QUrl(QString::fromLatin1(kMainSceneUrl)));
        onApplicationCreated = nullptr;

        QCOMPARE(result, 0);
        QVERIFY(polled.load());
        QVERIFY(calibratorRunning);
        QVERIFY(calibratorFinished);
        QVERIFY(backgroundFinished);
        QCOMPARE(title, QString::fromUtf8("VANTOR Veltrano ® v25.07.0.478 – Linearity Mode"));
        // 780 x 600, or its minimum where that is larger, but never beyond
        // the screen (the offscreen screen is 800 wide).
        QCOMPARE(size, QSize(780, 600).expandedTo(minimum).boundedTo(room));
        QVERIFY(logHas("version is v25.07.0.478"));
        QVERIFY(logHas("native is 0"));
        QVERIFY(logHas("~Veltranor()"));

        const rlim_t expected = before.rlim_max == RLIM_INFINITY || before.rlim_max > 10240 ? 10240 : before.rlim_max;
        QCOMPARE(softLimit(), expected);

        // The window geometry went into the settings group "MainWindow".
        QSettings settings("Tessaline", "Veltrano");
        QCOMPARE(settings.value("MainWindow/width").toInt(), size.width());
        QCOMPARE(settings.value("MainWindow/height").toInt(), size.height());
    }

    void openFilesLimitFollowsALowHardLimit()
    {
        rlimit limit{};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &limit), 0);
        limit.rlim_max = 2000;
        limit.rlim_cur = 100;
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &limit), 0);

        // A plain window: the limit is set before any scene loads, and Qt's
        // animation timer does not survive a second full scene in one process.
        QTemporaryDir dir;
        const QString path = dir.filePath("plain.qml");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("import QtQuick\nimport QtQuick.Window\nWindow { width: 100; height: 100 }\n");
        file.close();

        onApplicationCreated = [] { QTimer::singleShot(0, qApp, [] { QCoreApplication::quit(); }); };
        QCOMPARE(runMain(QUrl::fromLocalFile(path)), 0);
        onApplicationCreated = nullptr;
        QCOMPARE(softLimit(), rlim_t(2000));
    }
};

int main(int argc, char** argv)
{
    testsupport::isolateUserFolders();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qAddPreRoutine(callStartupHook);
    TestStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
