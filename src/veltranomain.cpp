#include "veltranomain.h"

#include "imageitem.h"
#include "logmodel.h"
#include "platformhelper.h"
#include "veltranor.h"

#include <QApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTimer>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <sys/resource.h>

#include <memory>
#include <optional>

namespace {

// Best effort: raise the soft open-files limit to min(hard, 10240).
void raiseOpenFilesLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    const rlim_t wanted = 10240;
    limit.rlim_cur = (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > wanted) ? wanted
                                                                                   : limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

// Sees the application's quit request before any event loop has unwound: a
// processor request that a nested wait of the GUI thread is in (the idle
// refresh, the preparation of a run) would otherwise keep that loop, and with
// it the whole program, alive.
class QuitWatcher : public QObject
{
public:
    explicit QuitWatcher(Veltranor* veltranor)
        : veltranor_(veltranor)
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Quit && watched == QCoreApplication::instance())
            veltranor_->refuseRequestsForGood();
        return false;
    }

private:
    Veltranor* veltranor_;
};

} // namespace

int veltranoMain(int argc, char** argv, const QUrl& scene)
{
    GetAppLog();
    raiseOpenFilesLimit();

    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QString::fromLatin1(kVeltranoVersion));
    qDebug("version is %s", kVeltranoVersion);
    QApplication::setOrganizationName(QStringLiteral("Tessaline"));
    QApplication::setOrganizationDomain(QStringLiteral("tessaline.com"));
    QApplication::setApplicationName(QStringLiteral("Veltrano"));
    qDebug("native is %d", QCoreApplication::testAttribute(Qt::AA_DontUseNativeMenuBar) ? 1 : 0);

    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    QQuickWindow::setTextRenderType(QQuickWindow::NativeTextRendering);

    int result = 0;
    {
        QQmlApplicationEngine engine;
        qmlRegisterType<ImageItem>("ImageItem", 1, 0, "ImageItem");
        PlatformHelper::registerQmlType();

        engine.rootContext()->setContextProperty(QStringLiteral("qtVersion"), QString::fromLatin1(qVersion()));
        engine.rootContext()->setContextProperty(QStringLiteral("veltranoVersion"),
                                                 QString::fromLatin1(kVeltranoVersion));

        auto context = std::make_unique<boost::asio::io_context>();
        std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> guard;
        guard.emplace(context->get_executor());

        auto pollTimer = std::make_unique<QTimer>();
        boost::asio::io_context* ctx = context.get();
        QObject::connect(pollTimer.get(), &QTimer::timeout, pollTimer.get(), [ctx] { ctx->poll(); },
                         Qt::QueuedConnection);
        pollTimer->start(16);

        auto* veltranor = new Veltranor(*context, &app);

        engine.rootContext()->setContextProperty(QStringLiteral("veltranor"), veltranor);
        engine.rootContext()->setContextProperty(QStringLiteral("appLog"), veltranor->appLog());
        engine.rootContext()->setContextProperty(QStringLiteral("linearityLog"), veltranor->linearityLog());

        auto mainScene = std::make_unique<QUrl>(scene);
        const QUrl sceneUrl = scene;
        QObject::connect(
            &engine, &QQmlApplicationEngine::objectCreated, &app,
            [sceneUrl](QObject* object, const QUrl& url) {
                if (!object && url == sceneUrl)
                    QCoreApplication::exit(-1);
            },
            Qt::QueuedConnection);
        engine.load(*mainScene);

        QObject::connect(&app, &QCoreApplication::aboutToQuit, veltranor, &Veltranor::stop);
        QuitWatcher quitWatcher(veltranor);
        app.installEventFilter(&quitWatcher);

        result = QApplication::exec();
        app.removeEventFilter(&quitWatcher);

        // Tear-down: no more polls, release the guard, then the network context,
        // then the engine; the application object deletes Veltranor last.
        mainScene.reset();
        pollTimer.reset();
        guard.reset();
        context.reset();
    }
    return result;
}
