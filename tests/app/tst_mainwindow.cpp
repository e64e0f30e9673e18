// The main window as the program loads it, with the real central object, the
// simulated display and the dummy camera: menus and shortcuts, Run/Stop and
// the footer, the update check on a loopback feed, the file dialogs, the
// restart countdown, the timed repaint and the persisted window state.
#include "imageitem.h"
#include "logmodel.h"
#include "messagecapture.h"
#include "platformhelper.h"
#include "processorstandin.h"
#include "testsupport.h"
#include "vantor.h"
#include "veltranomain.h"
#include "veltranor.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QRegularExpression>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <boost/asio/io_context.hpp>

#include <sys/resource.h>

#include <csignal>
#include <functional>
#include <memory>

namespace {

QString artifactsFolder()
{
    const QString configured = qEnvironmentVariable("VELTRANO_ARTIFACTS_DIR");
    return configured.isEmpty() ? QCoreApplication::applicationDirPath() + "/../../artifacts" : configured;
}

// The scene as main builds it.
struct Scene {
    boost::asio::io_context io;
    std::unique_ptr<Veltranor> veltranor;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow* window = nullptr;
    QObject* ui = nullptr;

    Scene()
    {
        veltranor = std::make_unique<Veltranor>(io);
        // No test here is about the 10 s refresh; it would rebuild the LDM
        // views (and fetch the wall) in the middle of a test's waits.
        veltranor->idleTimer().stop();
        engine = std::make_unique<QQmlApplicationEngine>();
        QQmlContext* context = engine->rootContext();
        context->setContextProperty("qtVersion", QString::fromLatin1(qVersion()));
        context->setContextProperty("veltranoVersion", QString::fromLatin1(kVeltranoVersion));
        context->setContextProperty("veltranor", veltranor.get());
        context->setContextProperty("appLog", veltranor->appLog());
        context->setContextProperty("linearityLog", veltranor->linearityLog());
        engine->load(QUrl(QString::fromLatin1(kMainSceneUrl)));
        if (!engine->rootObjects().isEmpty())
            window = qobject_cast<QQuickWindow*>(engine->rootObjects().first());
        if (window)
            ui = window->findChild<QObject*>("mainUI");
    }
    ~Scene()
    {
        if (window)
            window->close();
        engine.reset();
        veltranor.reset();
    }

    QObject* object(const char* name) const { return ui->property(name).value<QObject*>(); }
    void trigger(const char* action) const { QMetaObject::invokeMethod(object(action), "trigger"); }
    QQuickItem* item(const char* name) const { return window->findChild<QQuickItem*>(name); }
    // The wall view's item of LDM `n`, looked up afresh: the grid rebuilds its
    // items whenever the LDMs are fetched, so none is kept across a wait.
    QQuickItem* ldmView(int n) const
    {
        QObject* grid = object("screenPanel")->property("ldmGrid").value<QObject*>();
        return grid ? grid->findChild<QQuickItem*>(QStringLiteral("ldm%1").arg(n)) : nullptr;
    }
    QColor ldmOutline(int n) const
    {
        QQuickItem* view = ldmView(n);
        QObject* fill = view ? view->findChild<QObject*>("ldmFill") : nullptr;
        QObject* border = fill ? fill->property("border").value<QObject*>() : nullptr;
        return border ? border->property("color").value<QColor>() : QColor();
    }
    QString statusLine() const { return item("statusLine")->property("text").toString(); }
    bool activate() const
    {
        window->requestActivate();
        return QTest::qWaitForWindowActive(window);
    }
    // The first visible item below `from` whose text is `text`.
    QQuickItem* itemWithText(const QString& text, QQuickItem* from = nullptr) const
    {
        from = from ? from : window->contentItem();
        if (from->isVisible() && from->property("text").toString() == text)
            return from;
        for (QQuickItem* child : from->childItems())
            if (QQuickItem* found = itemWithText(text, child))
                return found;
        return nullptr;
    }
    // The first visible item below `from` with that object name.
    QQuickItem* itemNamed(const QString& name, QQuickItem* from = nullptr) const
    {
        from = from ? from : window->contentItem();
        if (!from->isVisible())
            return nullptr;
        if (from->objectName() == name)
            return from;
        for (QQuickItem* child : from->childItems())
            if (QQuickItem* found = itemNamed(name, child))
                return found;
        return nullptr;
    }
    // Waits until the scene is laid out and drawn.
    void waitForFrame() const
    {
        QSignalSpy frame(window, &QQuickWindow::frameSwapped);
        window->update();
        frame.wait(2000);
    }
    void click(QQuickItem* item) const
    {
        waitForFrame();
        press(item);
    }
    // For items the scene rebuilds (the LDM views): looked up after the wait.
    void click(const std::function<QQuickItem*()>& find) const
    {
        waitForFrame();
        press(find());
    }
    void press(QQuickItem* item) const
    {
        QVERIFY(item);
        QTest::mouseClick(window, Qt::LeftButton, {},
                          item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint());
    }
    bool saveScreenshot(const QString& name) const
    {
        waitForFrame();
        const QString folder = artifactsFolder();
        return QDir().mkpath(folder) && window->grabWindow().save(folder + "/" + name);
    }
};

bool hasSlot(QObject* object, const char* signature)
{
    return object->metaObject()->indexOfMethod(signature) >= 0;
}

// A feed offering `version`, or nothing.
QString feed(const QString& version = QString(), const QString& notes = QString())
{
    QJsonArray items;
    if (!version.isEmpty())
        items.append(QJsonObject{{"version", version},
                                 {"name", "Veltrano-" + version + ".exe"},
                                 {"url", "http://127.0.0.1:1/installers/Veltrano.exe"},
                                 {"notes", notes}});
    return QString::fromUtf8(QJsonDocument(QJsonObject{{"items", items}}).toJson());
}

// Stands in for a window manager: it answers a shown window's change of
// size by keeping it within the size limits in force when the change comes,
// and notes the limits the window was mapped with.
class SizeLimitingManager : public QObject
{
public:
    explicit SizeLimitingManager(QWindow* window)
        : QObject(window)
    {
        window->installEventFilter(this);
    }
    QSize mappedMaximum;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* window = qobject_cast<QWindow*>(watched);
        if (window && event->type() == QEvent::Show)
            mappedMaximum = window->maximumSize();
        if (window && event->type() == QEvent::Resize && window->isVisible()) {
            const QSize limited = window->size().boundedTo(window->maximumSize()).expandedTo(window->minimumSize());
            if (limited != window->size())
                window->resize(limited);
        }
        return false;
    }
};

// The menu entry showing an action with `text`.
QObject* menuEntry(QQuickWindow* window, const QString& text)
{
    for (QObject* o : window->findChildren<QObject*>())
        if (o->property("action").isValid() && o->property("text").toString() == text)
            return o;
    return nullptr;
}

// Waits until `window` has drawn itself afresh.
void waitForFrame(QQuickWindow* window)
{
    QSignalSpy frame(window, &QQuickWindow::frameSwapped);
    window->contentItem()->update();
    frame.wait(2000);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    ProcessorStandin updates_{QStringLiteral("fake_update_feed.py")};

    void setFeed(const QString& body)
    {
        QVERIFY(!updates_.control("POST", "/__feed", QJsonObject{{"status", 200}, {"body", body}}).isNull());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        QCoreApplication::setApplicationVersion(QString::fromLatin1(kVeltranoVersion));
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
        qmlRegisterType<ImageItem>("ImageItem", 1, 0, "ImageItem");
        PlatformHelper::registerQmlType();
        QVERIFY2(updates_.start(), qPrintable(updates_.errorString()));
        qputenv("VELTRANO_UPDATE_URL", QByteArray("http://127.0.0.1:") + QByteArray::number(updates_.port()));
    }

    void init()
    {
        QSettings settings;
        settings.clear();
        settings.setValue("output", true); // simulated display
        settings.setValue("camera", true); // dummy camera
        settings.sync();
        setFeed(feed());
    }

    void menusAndShortcutsDriveModeAndTitle()
    {
        Scene scene;
        QVERIFY(scene.window);
        QVERIFY(scene.activate());
        const QString title = QStringLiteral("VANTOR Veltrano ® v25.07.0.478 – %1");
        QCOMPARE(scene.window->title(), title.arg("Linearity Mode"));

        QObject* uniformity = scene.window->findChild<QObject*>("uniformityModeItem");
        QVERIFY(uniformity);
        QMetaObject::invokeMethod(uniformity->property("action").value<QObject*>(), "trigger");
        QCOMPARE(int(scene.veltranor->mode()), 1);
        QCOMPARE(scene.window->title(), title.arg("Uniformity Mode"));
        QTRY_VERIFY(!scene.item("resumeButton")->isVisible()); // linearity only

        QObject* linearity = scene.window->findChild<QObject*>("linearityModeItem");
        QMetaObject::invokeMethod(linearity->property("action").value<QObject*>(), "trigger");
        QCOMPARE(int(scene.veltranor->mode()), 0);
        QCOMPARE(scene.window->title(), title.arg("Linearity Mode"));

        // Ctrl+D, in no menu, toggles developer options, but not while running.
        QTest::keyClick(scene.window, Qt::Key_D, Qt::ControlModifier);
        QVERIFY(scene.veltranor->useDebugOptions());
        scene.veltranor->runNothing();
        QTRY_VERIFY(!scene.object("developerOptions")->property("enabled").toBool());
        QTest::keyClick(scene.window, Qt::Key_D, Qt::ControlModifier);
        QVERIFY(scene.veltranor->useDebugOptions());
        scene.veltranor->setRunning(false);
    }

    // The menu bar's shortcuts work whatever had the keyboard before: a menu
    // closed with Escape (which leaves no title highlighted and lets the
    // next click open a menu), a field that took Enter.
    void shortcutsWorkAfterMenusFieldsAndDialogs_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QKeySequence>("keys");
        QTest::newRow("menu closed with Escape, then Save") << "menu" << QKeySequence(QKeySequence::Save);
        QTest::newRow("address field took Enter, then Open") << "address" << QKeySequence(QKeySequence::Open);
    }
    void shortcutsWorkAfterMenusFieldsAndDialogs()
    {
        QFETCH(QString, before);
        QFETCH(QKeySequence, keys);
        if (before == "address")
            QSettings().setValue("output", false); // the processor: its address in the panel
        Scene scene;
        QVERIFY(scene.window);
        scene.window->resize(1300, 900);
        QVERIFY(scene.activate());
        scene.veltranor->setCalibrationAvailable(true);
        QTRY_VERIFY(scene.object("fileSaveAction")->property("enabled").toBool());
        const auto menuTitle = [&](const QString& text) {
            QQuickItem* bar = qobject_cast<QQuickItem*>(scene.window->property("menuBar").value<QObject*>());
            return bar ? scene.itemWithText(text, bar) : nullptr;
        };
        const auto highlightedTitles = [&] {
            QStringList titles;
            for (const char* text : {"&File", "&Edit", "&Operation", "&View", "&Window", "&Help"})
                if (QQuickItem* title = menuTitle(text); title && title->property("highlighted").toBool())
                    titles << text;
            return titles;
        };
        const auto fileMenuOpen = [&] {
            QQuickItem* title = menuTitle("&File");
            QObject* menu = title ? title->property("menu").value<QObject*>() : nullptr;
            return menu && menu->property("opened").toBool();
        };

        if (before == "menu") {
            scene.click([&] { return menuTitle("&File"); });
            QTRY_VERIFY(fileMenuOpen());
            QTest::keyClick(scene.window, Qt::Key_Escape);
            QTRY_VERIFY(!fileMenuOpen());
            QTRY_COMPARE(highlightedTitles(), QStringList());
            scene.click([&] { return menuTitle("&File"); });
            QTRY_VERIFY(fileMenuOpen());
            QTest::keyClick(scene.window, Qt::Key_Escape);
            QTRY_VERIFY(!fileMenuOpen());
            QTRY_COMPARE(highlightedTitles(), QStringList());
        } else if (before == "address") {
            QTRY_VERIFY(scene.itemNamed("vantorAddress"));
            scene.click([&] { return scene.itemNamed("vantorAddress"); });
            QTRY_VERIFY(scene.itemNamed("vantorAddress")->hasActiveFocus());
            QMetaObject::invokeMethod(scene.itemNamed("vantorAddress"), "selectAll");
            for (const char key : QByteArray("127.0.0.1:9"))
                QTest::keyClick(scene.window, key);
            QTest::keyClick(scene.window, Qt::Key_Return);
            QTRY_COMPARE(scene.veltranor->vantor()->address(), QStringLiteral("127.0.0.1:9"));
        }

        QTest::keySequence(scene.window, keys);
        QTRY_VERIFY(scene.object(keys == QKeySequence(QKeySequence::Save) ? "correctionSaveDialog" : "correctionOpenDialog")
                        ->property("visible").toBool());
    }

    void runStopAndFooterFollowTheRun()
    {
        Scene scene;
        QVERIFY(scene.window);
        QVERIFY(scene.activate());
        QSignalSpy running(scene.veltranor.get(), &Veltranor::runningChanged);

        // The footer's button starts the run (in linearity mode always allowed).
        QQuickItem* button = scene.item("runStopButton");
        QVERIFY(button->isEnabled());
        QTest::mouseClick(scene.window, Qt::LeftButton, {},
                          button->mapToScene(QPointF(button->width() / 2, button->height() / 2)).toPoint());
        QVERIFY(!running.isEmpty());
        QCOMPARE(running.first().first().toBool(), true);

        // Escape stops it.
        if (scene.veltranor->running())
            QTest::keyClick(scene.window, Qt::Key_Escape);
        QTRY_VERIFY(!scene.veltranor->running());
        // Until the engine has ended the stopped run, nothing new starts.
        QTRY_VERIFY(!scene.veltranor->donePending());

        // The status line and the progress bar follow Veltranor.
        scene.veltranor->setStatusString(QStringLiteral("Step 3 of 10"));
        QCOMPARE(scene.statusLine(), QStringLiteral("Step 3 of 10"));
        QQuickItem* progress = scene.item("progressBar");
        scene.veltranor->setProgress(-1.0);
        scene.veltranor->setStatus(0);
        QTRY_VERIFY(!progress->isVisible());
        scene.veltranor->setProgress(0.25);
        QTRY_VERIFY(progress->isVisible());
        QCOMPARE(progress->property("value").toDouble(), 0.25);

        // A right click on the status line offers to reset its colour, only
        // while there is a colour to reset.
        QObject* menu = scene.window->findChild<QObject*>("statusMenu");
        const QPoint line = scene.item("statusLine")->mapToScene(QPointF(20, 5)).toPoint();
        QTest::mouseClick(scene.window, Qt::RightButton, {}, line);
        QVERIFY(!menu->property("visible").toBool());
        scene.veltranor->setStatus(-1);
        QTest::mouseClick(scene.window, Qt::RightButton, {}, line);
        QTRY_VERIFY(menu->property("visible").toBool());
        QMetaObject::invokeMethod(menu, "close");

        // Ctrl+R runs again; in uniformity mode a run without targets cannot start.
        QTest::keyClick(scene.window, Qt::Key_R, Qt::ControlModifier);
        QTRY_VERIFY(running.count() >= 3);
        scene.veltranor->setRunning(false);
        QTRY_VERIFY(!scene.veltranor->running());
        QTRY_VERIFY(!scene.veltranor->donePending());
        scene.veltranor->setMode(Calibrator::ModeBalance);
        QTRY_VERIFY(!scene.object("runStopCal")->property("enabled").toBool());

        scene.veltranor->setMode(Calibrator::ModeLinearity);
        scene.window->resize(1300, 900);
        QVERIFY(scene.saveScreenshot("mainwindow-linearity.png"));
    }

    // The operator's way through a balance run on the simulated wall. In
    // "Set target RGB" mode a click on an LDM of the wall view takes its
    // colour, as the dummy camera sees it, for the balance targets. Run then
    // balances a varied wall: the simulated wall's views answer every
    // observation, and every LDM ends on the target.
    void balanceRunFromTheWallView()
    {
        Scene scene;
        QVERIFY(scene.window);
        scene.window->resize(1300, 900);
        QVERIFY(scene.activate());
        Veltranor* v = scene.veltranor.get();
        v->setReadDelay(0);
        QObject* uniformity = scene.window->findChild<QObject*>("uniformityModeItem");
        QMetaObject::invokeMethod(uniformity->property("action").value<QObject*>(), "trigger");
        QCOMPARE(int(v->mode()), int(Calibrator::ModeBalance));
        DisplayBase* d = v->display();
        QCOMPARE(d->ldmCount(), 144u);
        scene.click(scene.itemWithText("Set target RGB"));
        QCOMPARE(scene.ui->property("dragMode").toString(), QStringLiteral("ref"));

        QTRY_COMPARE(scene.object("screenPanel")->property("ldmGrid").value<QObject*>()->property("viewList").toList().size(),
                     144);
        QTRY_VERIFY(scene.ldmView(20));
        scene.click([&] { return scene.ldmView(20); });
        QCOMPARE(v->selectedLdm(), 20);
        QCOMPARE(v->statusString(), QStringLiteral("Using target LDM’s RGB 190, 190, 190"));
        QCOMPARE(v->balanceTargetRed(), 190.0); // 255 × 0.745, rounded
        QCOMPARE(v->balanceTargetGreen(), 190.0);
        QCOMPARE(v->balanceTargetBlue(), 190.0);
        QVERIFY(!v->targetTime().isEmpty());
        QTRY_VERIFY(!v->running());
        QTRY_COMPARE(scene.ldmOutline(20), QColor("green"));

        // The wall varies from LDM to LDM; Run balances it.
        scene.click(scene.itemWithText("[↺ Var]"));
        QCOMPARE(v->fakeLdmVariation(), 0.3);
        QTRY_VERIFY(scene.object("runStopCal")->property("enabled").toBool());
        scene.click(scene.item("runStopButton"));
        QVERIFY(v->running());
        // The photo of a repaint (after a drag, a fetch) leaves a run alone.
        QMetaObject::invokeMethod(scene.object("captureRepaint"), "start");
        QTRY_VERIFY(scene.ui->property("simulatedDisplay").value<QObject*>()->property("visible").toBool());
        QTRY_VERIFY_WITH_TIMEOUT(!v->running(), 200000);
        QCOMPARE(v->statusString(), QStringLiteral("Uniformity completed."));
        QCOMPARE(v->status(), 1);
        // The fake observations are whole codes, so an adjuster can circle
        // round the target and end on its best point a code or two away
        // (the wall started up to 15 % off).
        for (uint n = 1; n <= d->ldmCount(); ++n)
            for (const double observed : {d->ldmRedObserved(n), d->ldmGreenObserved(n), d->ldmBlueObserved(n)})
                QVERIFY2(qAbs(observed - 190.0) <= 190.0 * 0.02, qPrintable(d->dumpLdm(n)));
        // The result stands: a minute of idle refreshes keeps the gains, and
        // the simulated wall still shows the balanced colours.
        for (int tick = 0; tick < 6; ++tick)
            v->idleUpdate();
        d->fetchFakeLdmRGBs();
        for (uint n = 1; n <= d->ldmCount(); ++n)
            for (const double observed : {d->ldmRedObserved(n), d->ldmGreenObserved(n), d->ldmBlueObserved(n)})
                QVERIFY2(qAbs(observed - 190.0) <= 190.0 * 0.02, qPrintable(d->dumpLdm(n)));

        // On target, the errors view paints every LDM mid grey.
        scene.click(scene.itemWithText("Errors"));
        QVERIFY(scene.saveScreenshot("mainwindow-uniformity.png"));
    }

    // Run pressed while a stopped run is still ending: nothing starts, and the
    // footer says why at every press, also after it was cleared meanwhile
    // (as Resume, Spot Measure and the read-count test clear it first).
    void runPressedWhileTheRunEnds()
    {
        Scene scene;
        QVERIFY(scene.window);
        Veltranor* v = scene.veltranor.get();
        const QString ending = QStringLiteral("The previous run is still ending; try again when it has stopped.");
        // No event loop runs between these presses: the engine's done, which
        // comes through this thread's queue, cannot arrive in between.
        scene.trigger("runStopCal");
        QVERIFY(v->running());
        scene.trigger("runStopCal");
        QVERIFY(!v->running());
        scene.trigger("runStopCal");
        QVERIFY(!v->running());
        QCOMPARE(scene.statusLine(), ending);
        scene.trigger("stopTimer");
        QCOMPARE(scene.statusLine(), QString());
        scene.trigger("runStopCal");
        QVERIFY(!v->running());
        QCOMPARE(scene.statusLine(), ending);
        QTRY_VERIFY_WITH_TIMEOUT(!v->donePending(), 30000);
    }

    void updateCheckResults()
    {
        Scene scene;
        QVERIFY(scene.window);
        QObject* box = scene.object("updateBox");

        // The start-up check finds nothing and shows nothing; its result
        // cannot stop a run the operator started meanwhile.
        scene.veltranor->runNothing();
        scene.veltranor->updater()->setAvailable(-1);
        QVERIFY(scene.veltranor->running());
        QVERIFY(!box->property("visible").toBool());
        scene.veltranor->setRunning(false);
        QTRY_VERIFY(scene.object("checkForUpdates")->property("enabled").toBool());

        // Asked from the menu: busy until the answer, then the answer.
        scene.trigger("checkForUpdates");
        QVERIFY(scene.veltranor->running());
        QVERIFY(!scene.object("runStopCal")->property("enabled").toBool());
        QTRY_VERIFY_WITH_TIMEOUT(box->property("visible").toBool(), 20000);
        QVERIFY(!scene.veltranor->running());
        QCOMPARE(box->property("title").toString(), QStringLiteral("Check For Update"));
        QCOMPARE(box->property("text").toString(), QStringLiteral("No newer version found; v25.07.0.478 is current."));
        QVERIFY(!box->property("cancelButton").value<QObject*>()->property("visible").toBool());
        QMetaObject::invokeMethod(box, "close");

        // A newer version that the operator skipped: a note and no skip button.
        scene.veltranor->updater()->setSkipVersion(QStringLiteral("v25.9.0.1"));
        setFeed(feed(QStringLiteral("v25.9.0.1")));
        QTRY_VERIFY(scene.object("checkForUpdates")->property("enabled").toBool());
        scene.trigger("checkForUpdates");
        QTRY_VERIFY_WITH_TIMEOUT(scene.veltranor->updater()->available() == 1, 20000);
        QTRY_VERIFY(box->property("visible").toBool());
        QCOMPARE(box->property("title").toString(), QStringLiteral("Update Available"));
        QVERIFY(box->property("text").toString().endsWith("(This version is skipped during startup check.)"));
        QVERIFY(!box->property("button3").value<QObject*>()->property("visible").toBool());
        QMetaObject::invokeMethod(box, "close");

        // The installer is proposed in the real downloads folder on macOS.
        QVariant proposal;
        QMetaObject::invokeMethod(scene.ui, "installerProposal", Q_RETURN_ARG(QVariant, proposal),
                                  Q_ARG(QVariant, "osx"), Q_ARG(QVariant, "Veltrano.dmg"));
        QCOMPARE(QUrl(proposal.toString()).toLocalFile(),
                 QStandardPaths::writableLocation(QStandardPaths::DownloadLocation) + "/Veltrano.dmg");
    }

    // A manual check ends its busy phase on every answer, also on one that
    // changes nothing: Run and Stop work again and nothing is running.
    void manualUpdateCheckEnds_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("body");
        QTest::newRow("empty body") << 200 << "";
        QTest::newRow("no content") << 204 << "";
    }

    void manualUpdateCheckEnds()
    {
        QFETCH(int, status);
        QFETCH(QString, body);
        QVERIFY(!updates_.control("POST", "/__feed", QJsonObject{{"status", status}, {"body", body}}).isNull());
        auto feedRequests = [this] { return updates_.control("GET", "/__log").toArray().size(); };

        Scene scene;
        QVERIFY(scene.window);
        QTRY_VERIFY(scene.object("checkForUpdates")->property("enabled").toBool());
        const qsizetype before = feedRequests();
        scene.trigger("checkForUpdates");
        QVERIFY(scene.veltranor->running());
        QVERIFY(!scene.object("runStopCal")->property("enabled").toBool());
        QTRY_VERIFY_WITH_TIMEOUT(feedRequests() > before, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(scene.object("runStopCal")->property("enabled").toBool(), 20000);
        QVERIFY(!scene.veltranor->running());
        QVERIFY(scene.ui->property("statusText").toString() != QStringLiteral("Checking for updates..."));
        QVERIFY(!scene.object("updateBox")->property("visible").toBool());
    }

    void correctionDialogsSaveAndRead()
    {
        Scene scene;
        QVERIFY(scene.window);
        QObject* save = scene.object("correctionSaveDialog");
        QCOMPARE(save->property("defaultSuffix").toString(), QStringLiteral("tsv"));

        QTemporaryDir proposed;
        scene.veltranor->setFilename(proposed.path() + "/proposed.tsv");
        scene.veltranor->setCalibrationAvailable(true);
        QTRY_VERIFY(scene.object("fileSaveAction")->property("enabled").toBool());
        scene.trigger("fileSaveAction");
        QCOMPARE(save->property("selectedFile").toUrl(), QUrl::fromLocalFile(proposed.path() + "/proposed.tsv"));
        if (!hasSlot(scene.veltranor.get(), "saveCalibration(QUrl)")
            || !hasSlot(scene.veltranor.get(), "readCalibration(QUrl)"))
            QSKIP("correction files are not in this build");

        QMetaObject::invokeMethod(save, "close");

        // The proposed name has no suffix: the file is saved with the one the
        // filter shows, and the open dialog reads it back.
        QTemporaryDir dir;
        scene.veltranor->setFilename(dir.path() + "/correction");
        scene.veltranor->correctionPoints = {CalibrationPoint(), CalibrationPoint()};
        scene.trigger("fileSaveAction");
        QMetaObject::invokeMethod(save, "accept");
        QTRY_VERIFY(QFile::exists(dir.filePath("correction.tsv")));

        scene.veltranor->correctionPoints.clear();
        QObject* open = scene.object("correctionOpenDialog");
        open->setProperty("selectedFile", QUrl::fromLocalFile(dir.filePath("correction.tsv")));
        scene.trigger("fileOpenAction");
        QMetaObject::invokeMethod(open, "accept");
        QTRY_COMPARE(scene.veltranor->correctionPoints.size(), 2);
    }

    // Save Correction and Save Log write where their dialog shows: a typed
    // name, a file chosen from the list (replaced once the operator agrees)
    // and the proposed name, whose folder is created when it is missing. The
    // path bar and the list show that folder.
    void saveDialogsSaveWhereTheyShow_data()
    {
        QTest::addColumn<QByteArray>("action");
        QTest::addColumn<QByteArray>("dialog");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("place"); // of the proposed folder
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("status");
        const QByteArray correction = "fileSaveAction", correctionDialog = "correctionSaveDialog";
        const QByteArray log = "logSaveAction", logDialog = "logSaveDialog";
        QTest::newRow("correction, typed name")
            << correction << correctionDialog << "typed" << "exists" << "typed\\.tsv" << "Correction saved to ";
        QTest::newRow("correction, chosen file")
            << correction << correctionDialog << "chosen" << "exists" << "chosen\\.tsv" << "Correction saved to ";
        QTest::newRow("correction, typed name of a file that exists")
            << correction << correctionDialog << "typed" << "exists" << "typed\\.tsv" << "Correction saved to ";
        QTest::newRow("correction after a failed save")
            << correction << correctionDialog << "typed" << "exists" << "typed\\.tsv" << "Correction saved to ";
        QTest::newRow("correction, proposed name")
            << correction << correctionDialog << "proposed" << "exists" << "proposed\\.tsv" << "Correction saved to ";
        QTest::newRow("correction, missing folder")
            << correction << correctionDialog << "proposed" << "missing" << "proposed\\.tsv" << "Correction saved to ";
        QTest::newRow("correction, folder that cannot be made")
            << correction << correctionDialog << "proposed" << "blocked" << "proposed\\.tsv" << "Correction saved to ";
        QTest::newRow("log, typed name") << log << logDialog << "typed" << "exists" << "typed\\.txt" << "Log saved to ";
        QTest::newRow("log, chosen file") << log << logDialog << "chosen" << "exists" << "chosen\\.txt" << "Log saved to ";
        QTest::newRow("log after a failed save")
            << log << logDialog << "typed" << "exists" << "typed\\.txt" << "Log saved to ";
        QTest::newRow("log, proposed name")
            << log << logDialog << "proposed" << "exists" << "VeltranoLog-[-0-9T]+Z\\.txt" << "Log saved to ";
        QTest::newRow("log, missing folder")
            << log << logDialog << "proposed" << "missing" << "VeltranoLog-[-0-9T]+Z\\.txt" << "Log saved to ";
        // A full path typed as the name stands as typed; a failure shows red.
        QTest::newRow("correction, typed full path")
            << correction << correctionDialog << "full path" << "exists" << "abs-cal\\.tsv" << "Correction saved to ";
        QTest::newRow("log, typed path that cannot be written")
            << log << logDialog << "unwritable" << "exists" << "log\\.txt" << "Unable to open file ";
        QTest::newRow("log, full disk") << log << logDialog << "typed" << "full" << "typed\\.txt" << "Unable to write file ";
        // Open starts where the last file went, corrections first.
        QTest::newRow("correction open") << QByteArray("fileOpenAction") << QByteArray("correctionOpenDialog") << "open"
                                         << "exists" << "" << "";
    }

    void saveDialogsSaveWhereTheyShow()
    {
        QFETCH(QByteArray, action);
        QFETCH(QByteArray, dialog);
        QFETCH(QString, how);
        QFETCH(QString, place);
        QFETCH(QString, name);
        QFETCH(QString, status);
        const QByteArray tag = QTest::currentDataTag();
        // A dot in the folder: the dialog leaves adding the suffix to us.
        QTemporaryDir dir(QDir::tempPath() + "/veltrano.saves-XXXXXX");
        // A folder below a plain file cannot be made: the Documents folder
        // is proposed instead.
        const QString proposedFolder = dir.path() + (place == "blocked" ? "/file/saved" : "/saved");
        const QString folder = place == "blocked"
            ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
            : proposedFolder;
        if (place == "exists" || place == "full")
            QVERIFY(QDir().mkpath(folder));
        if (place == "blocked")
            QVERIFY(QFile(dir.path() + "/file").open(QIODevice::WriteOnly));
        const QString suffix = dialog == "logSaveDialog" ? "txt" : "tsv";
        const QString existing = (tag.contains("exists") ? "typed." : how == "chosen" ? "chosen." : "") + suffix;
        if (existing != suffix) {
            QFile chosen(folder + "/" + existing);
            QVERIFY(chosen.open(QIODevice::WriteOnly));
            chosen.write("earlier\n");
        }

        Scene scene;
        QVERIFY(scene.window);
        scene.window->resize(1300, 900);
        QVERIFY(scene.activate());
        Veltranor* v = scene.veltranor.get();
        v->idleTimer().stop();
        v->setFilepath(proposedFolder + "/x");
        v->setFilename(proposedFolder + "/proposed.tsv");
        v->correctionPoints = {CalibrationPoint(), CalibrationPoint()};
        v->setCalibrationAvailable(true);
        v->setStatus(tag.contains("failed") ? -1 : 1); // the last run's or save's bar
        QTRY_VERIFY(scene.object(action.constData())->property("enabled").toBool());
        scene.trigger(action.constData());
        QObject* saveDialog = scene.object(dialog.constData());
        QTRY_VERIFY(saveDialog->property("visible").toBool());

        // The dialog's own list and path bar.
        QQuickItem* list = nullptr;
        QTRY_VERIFY((list = scene.itemNamed("fileDialogListView")));
        QQuickItem* popup = list;
        while (popup->parentItem() && !popup->parentItem()->inherits("QQuickOverlay"))
            popup = popup->parentItem();
        QObject* files = list->property("model").value<QObject*>();
        QCOMPARE(saveDialog->property("currentFolder").toUrl(), QUrl::fromLocalFile(folder));
        QTRY_COMPARE(files->property("folder").toUrl(), QUrl::fromLocalFile(folder));
        QVERIFY(QFileInfo(folder).isDir());

        if (how == "open") {
            QCOMPARE(saveDialog->property("nameFilters").toStringList().value(0), QStringLiteral("Correction files (*.tsv)"));
            QMetaObject::invokeMethod(saveDialog, "close");
            return;
        }
        // The typed full paths: in a folder beside the dialog's, or below a plain file.
        const QString typedFolder = how == "full path" ? dir.path() + "/x" : how == "unwritable" ? dir.path() + "/file" : folder;
        if (how == "full path")
            QVERIFY(QDir().mkpath(typedFolder));
        if (how == "unwritable")
            QVERIFY(QFile(typedFolder).open(QIODevice::WriteOnly));
        const QString typed = how == "full path" ? typedFolder + "/abs-cal" : how == "unwritable" ? typedFolder + "/log" : "typed";
        if (how == "typed" || how == "full path" || how == "unwritable") {
            QQuickItem* field = scene.itemNamed("fileNameTextField", popup);
            QVERIFY(field);
            field->forceActiveFocus();
            QTRY_VERIFY(field->hasActiveFocus());
            QMetaObject::invokeMethod(field, "selectAll");
            for (const char key : typed.toLatin1())
                QTest::keyClick(scene.window, key);
            QCOMPARE(field->property("text").toString(), typed);
        } else if (how == "chosen") {
            QQuickItem* chosen = nullptr;
            QTRY_VERIFY((chosen = scene.itemWithText("chosen." + suffix, list)));
            scene.click(chosen);
        }
        // A full disk: the file opens, its writing fails (for root too).
        rlimit limit{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &limit) == 0);
        const rlimit full{place == "full" ? rlim_t(1) : limit.rlim_cur, limit.rlim_max};
        signal(SIGXFSZ, SIG_IGN);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &full) == 0);
        scene.click(scene.itemWithText("Save", popup));
        QVERIFY(setrlimit(RLIMIT_FSIZE, &limit) == 0);
        if (existing != suffix) {
            // The file exists: it is replaced only once the operator says so
            // (Cancel is the default), asked by the name that is written.
            QObject* box = scene.object("replaceBox");
            QVERIFY(box);
            QTRY_VERIFY(box->property("visible").toBool());
            QCOMPARE(box->property("text").toString(), existing + " already exists.\nDo you want to replace it?");
            QVERIFY(box->property("cancelButton").value<QObject*>()->property("highlighted").toBool());
            QCOMPARE(testsupport::readFile(folder + "/" + existing), QByteArray("earlier\n"));
            QMetaObject::invokeMethod(box, "choose", Q_ARG(QVariant, QStringLiteral("ok")));
        }

        QTRY_VERIFY2(v->statusString().startsWith(status), qPrintable(v->statusString()));
        const QString path = v->statusString().mid(status.size());
        QVERIFY2(QRegularExpression("^" + QRegularExpression::escape(typedFolder) + "/" + name + "$").match(path).hasMatch(),
                 qPrintable(path));
        QCOMPARE(v->status(), status.startsWith("Unable") ? -1 : 1); // the bar tells this save's outcome
        if (status.startsWith("Unable"))
            return;
        QVERIFY(QFileInfo(path).size() > QByteArray("earlier\n").size());
    }

    void escapeStopsTheRestartCountdown()
    {
        Scene scene;
        QVERIFY(scene.window);
        QVERIFY(scene.activate());
        scene.veltranor->setUseDebugOptions(true);
        scene.ui->setProperty("autoRestart", true);
        scene.veltranor->runNothing();
        scene.veltranor->setRunning(false); // a run ends: the countdown starts
        QTRY_COMPARE(scene.statusLine(), QStringLiteral("restarting in 10; hit ESC to stop..."));
        QTest::keyClick(scene.window, Qt::Key_Escape);
        QVERIFY(!scene.object("restartTimer")->property("running").toBool());
        QCOMPARE(scene.statusLine(), QString());
        QVERIFY(!scene.veltranor->running());
    }

    void repaintAndDragModeDuringUniformityRuns()
    {
        Scene scene;
        QVERIFY(scene.window);
        scene.veltranor->setUseDebugOptions(true);
        QObject* capture = scene.object("captureRepaint");
        QSignalSpy grabStarts(capture, SIGNAL(runningChanged()));

        // Template mode with the dummy camera: no photo after the repaint.
        scene.veltranor->setMode(Calibrator::ModeTemplate);
        if (scene.veltranor->mode() == Calibrator::ModeTemplate) {
            QSignalSpy repaint(scene.object("repaintLdms"), SIGNAL(triggered()));
            QMetaObject::invokeMethod(scene.object("repaintLdms"), "start");
            QVERIFY(repaint.wait());
            QCOMPARE(grabStarts.count(), 0);
        }

        // Balance mode with a ready camera takes one.
        scene.veltranor->setMode(Calibrator::ModeBalance);
        QVERIFY(scene.veltranor->imageSource()->cameraReady());
        QMetaObject::invokeMethod(scene.object("repaintLdms"), "start");
        QTRY_VERIFY(grabStarts.count() >= 1);
        QMetaObject::invokeMethod(capture, "stop");
        // A camera that is not ready: none.
        QTRY_VERIFY(!scene.veltranor->running());
        scene.veltranor->imageSource()->setCameraReady(false);
        grabStarts.clear();
        QSignalSpy repaint(scene.object("repaintLdms"), SIGNAL(triggered()));
        QMetaObject::invokeMethod(scene.object("repaintLdms"), "start");
        QVERIFY(repaint.wait());
        QCOMPARE(grabStarts.count(), 0);

        // A uniformity run shows data on a click; the old mode comes back.
        scene.ui->setProperty("dragMode", "lit");
        scene.veltranor->runNothing();
        QTRY_COMPARE(scene.ui->property("dragMode").toString(), QStringLiteral("dat"));
        scene.veltranor->setRunning(false);
        QTRY_COMPARE(scene.ui->property("dragMode").toString(), QStringLiteral("lit"));
    }

    void windowStatePersists()
    {
        {
            Scene scene;
            QVERIFY(scene.window);
            scene.ui->setProperty("logVisible", true);
            scene.ui->setProperty("dragMode", "adj");
            scene.ui->setProperty("outputControlsShown", true);
            scene.ui->setProperty("autoRestart", true);
        }
        QSettings settings;
        settings.beginGroup("MainWindow");
        QCOMPARE(settings.value("logVisible").toBool(), true);
        QCOMPARE(settings.value("outputControlsVisible").toBool(), true);
        QCOMPARE(settings.value("dragMode").toString(), QStringLiteral("adj"));
        QVERIFY(settings.contains("splitView"));
        settings.endGroup();

        Scene again;
        QVERIFY(again.window);
        QVERIFY(again.ui->property("logVisible").toBool());
        QVERIFY(again.ui->property("autoRestart").toBool());
        QCOMPARE(again.ui->property("dragMode").toString(), QStringLiteral("adj"));
        QVERIFY(again.item("footer")->isVisible());
    }

    // Windows open at quit are open again at the next start.
    void openWindowsComeBackAtStart()
    {
        {
            Scene scene;
            QVERIFY(scene.window);
            scene.trigger("showSimulatedDisplay");
            scene.trigger("showCameraCapture");
            QTRY_VERIFY(scene.object("simulatedDisplay")->property("visible").toBool());
            QTRY_VERIFY(scene.object("imageWindow")->property("visible").toBool());
        }
        Scene again;
        QVERIFY(again.window);
        QTRY_VERIFY(again.object("simulatedDisplay")->property("visible").toBool());
        QTRY_VERIFY(again.object("imageWindow")->property("visible").toBool());
    }

    // Edit ▸ Preferences opens the window as its own opening does: centred
    // over the main view, the gamma radio of the stored choice checked.
    // The About box and the update box open centred the same way, and
    // Escape closes them (without a window manager nothing else does).
    void preferencesFromTheMenu_data()
    {
        QTest::addColumn<bool>("srgb");
        QTest::addColumn<QString>("box");
        QTest::newRow("sRGB") << true << QString();
        QTest::newRow("straight gamma") << false << QString();
        QTest::newRow("about box") << false << "aboutBox";
        QTest::newRow("update box") << false << "updateBox";
    }
    void preferencesFromTheMenu()
    {
        QFETCH(bool, srgb);
        QFETCH(QString, box);
        Scene scene;
        QVERIFY(scene.window);
        scene.window->resize(1300, 900);
        QVERIFY(scene.activate());
        if (!box.isEmpty()) {
            auto* shown = qobject_cast<QQuickWindow*>(scene.object(box.toLatin1().constData()));
            QVERIFY(shown);
            if (box == "aboutBox")
                QMetaObject::invokeMethod(menuEntry(scene.window, "&About...")->property("action").value<QObject*>(),
                                          "trigger");
            else
                QMetaObject::invokeMethod(shown, "open");
            QVERIFY(QTest::qWaitForWindowExposed(shown));
            auto* view = qobject_cast<QQuickItem*>(scene.ui);
            const QPointF centre = view->mapToGlobal(QPointF(view->width() / 2, view->height() / 2));
            QTRY_VERIFY2(qAbs(shown->x() + shown->width() / 2 - centre.x()) <= 1
                             && qAbs(shown->y() + shown->height() / 2 - centre.y()) <= 1,
                         qPrintable(QStringLiteral("%1,%2 %3x%4").arg(shown->x()).arg(shown->y())
                                        .arg(shown->width()).arg(shown->height())));
            // Escape as the operator presses it, on the box they see active:
            // on a loaded machine X can hand the focus back to the main
            // window after the box took it, and then the box is activated
            // again first.
            QTRY_VERIFY_WITH_TIMEOUT(([&] {
                if (!shown->isVisible())
                    return true;
                if (QGuiApplication::focusWindow() != shown) {
                    shown->requestActivate();
                    return false;
                }
                QTest::keyClick(shown, Qt::Key_Escape);
                return QTest::qWaitFor([&] { return !shown->isVisible(); }, 1000);
            })(), 20000);
            return;
        }
        scene.veltranor->setUseDebugOptions(true);
        scene.veltranor->setUseSrgb(srgb);
        QObject* entry = menuEntry(scene.window, "Pr&eferences...");
        QVERIFY(entry);
        QMetaObject::invokeMethod(entry->property("action").value<QObject*>(), "trigger");
        auto* prefs = qobject_cast<QQuickWindow*>(scene.object("prefs"));
        QVERIFY(QTest::qWaitForWindowExposed(prefs));

        auto* view = qobject_cast<QQuickItem*>(scene.ui);
        const QPointF centre = view->mapToGlobal(QPointF(view->width() / 2, view->height() / 2));
        QVERIFY(qAbs(prefs->x() + prefs->width() / 2 - centre.x()) <= 1);
        QVERIFY(qAbs(prefs->y() + prefs->height() / 2 - centre.y()) <= 1);
        QQuickItem* srgbRadio = scene.itemWithText("sRGB (sdrPreserve)", prefs->contentItem());
        QQuickItem* straight = scene.itemWithText("“Straight” gamma (sdrPower)", prefs->contentItem());
        QVERIFY(srgbRadio && straight);
        QCOMPARE(srgbRadio->property("checked").toBool(), srgb);
        QCOMPARE(straight->property("checked").toBool(), !srgb);
        waitForFrame(prefs);
        if (srgb)
            QVERIFY(QDir().mkpath(artifactsFolder())
                    && prefs->grabWindow().save(artifactsFolder() + "/preferences-from-menu.png"));
    }

    // The main window opens at the larger of 780 x 600 and its minimum, and
    // at its minimum every pane shown lies whole above the footer.
    void mainWindowFitsItsPanes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("log");
        QTest::addColumn<bool>("outputControls");
        QTest::newRow("linearity") << 0 << false << false;
        QTest::newRow("linearity, output controls") << 0 << false << true;
        QTest::newRow("linearity, log") << 0 << true << false;
        QTest::newRow("balance, log") << 1 << true << false;
    }
    void mainWindowFitsItsPanes()
    {
        QFETCH(int, mode);
        QFETCH(bool, log);
        QFETCH(bool, outputControls);
        QSettings().setValue("mode", mode);
        QSettings().setValue("MainWindow/logVisible", log);
        QSettings().setValue("MainWindow/outputControlsVisible", outputControls);
        Scene scene;
        QVERIFY(scene.window);
        QTRY_COMPARE(scene.window->width(), qMax(780, scene.window->minimumWidth()));
        QTRY_COMPARE(scene.window->height(), qMax(600, scene.window->minimumHeight()));
        // Started in a uniformity mode, the wall is there without a refresh
        // (the test's scene runs none).
        if (mode != 0)
            QTRY_COMPARE(scene.object("screenPanel")->property("ldmGrid").value<QObject*>()->property("viewList").toList().size(),
                         144);
        for (const char* row : {"data row 1", "data row 2", "data row 3"})
            scene.veltranor->linearityLog()->appendEntry(QDateTime::currentDateTime(), {}, LogModel::Info, {}, row);

        QStringList titles = {"VANTOR Controls", "Equal"};
        titles += mode == 0 ? QStringList{"Correction Controls", "Correction & Measurement Data"}
                            : QStringList{"Camera Controls", "LDMs"};
        if (outputControls)
            titles += "Output Controls";
        if (log)
            titles += "Log Messages";
        for (const bool minimum : {false, true}) {
            if (minimum) {
                scene.window->resize(scene.window->minimumSize());
                QTRY_COMPARE(scene.window->size(), scene.window->minimumSize());
            }
            scene.waitForFrame();
            const double footerTop = scene.item("footer")->mapToScene(QPointF(0, 0)).y();
            for (const QString& title : titles) {
                QQuickItem* label = scene.itemWithText(title);
                if (title == "Equal" && mode != 0)
                    continue;
                QVERIFY2(label, qPrintable(title));
                // A panel's title lies on its frame; "Equal" stands alone.
                QQuickItem* shown = title == "Equal" ? label : label->parentItem();
                const QRectF box = shown->mapRectToScene(QRectF(0, 0, shown->width(), shown->height()));
                QVERIFY2(box.bottom() <= footerTop && box.right() <= scene.window->width() - 16
                             && box.height() >= qMin(shown->implicitHeight(), 80.0) - 0.5,
                         qPrintable(QStringLiteral("%1%2: %3,%4 %5x%6, footer at %7")
                                        .arg(title, minimum ? " at the minimum" : "").arg(box.x()).arg(box.y())
                                        .arg(box.width()).arg(box.height()).arg(footerTop)));
                // The correction data keeps a few rows in view.
                if (title == "Correction & Measurement Data") {
                    QQuickItem* row = scene.itemWithText("data row 1", shown);
                    QVERIFY(row);
                    QVERIFY2(box.height() >= 3 * row->height() + 32, qPrintable(QString::number(box.height())));
                }
            }
        }
    }

    // The scene reads whole on its dark ground: log texts, the slider's end
    // labels, dimmed disabled entries, the About box's links, the status
    // menu's entry, and the menus' shortcuts without warnings at start-up.
    void sceneReadable_data()
    {
        QTest::addColumn<QString>("what");
        for (const char* what : {"correction data", "application log", "slider ends", "disabled entries",
                                 "about links", "status menu", "shortcuts", "elided status line",
                                 "show mode of a fresh store", "camera preview before any photo"})
            QTest::newRow(what) << QString::fromLatin1(what);
    }
    void sceneReadable()
    {
        QFETCH(QString, what);
        testsupport::MessageCapture capture;
        Scene scene;
        QVERIFY(scene.window);
        scene.window->resize(1300, 900);
        QVERIFY(scene.activate());
        Veltranor* v = scene.veltranor.get();
        const auto textColour = [&](const char* view) {
            QQuickItem* item = scene.item(view);
            return item ? item->property("textColor").value<QColor>() : QColor();
        };

        if (what == "correction data") {
            // Grey while a run writes it, white otherwise, on the panel's fill.
            QTRY_COMPARE(textColour("linearityLogView"), QColor("white"));
            v->runNothing();
            QTRY_COMPARE(textColour("linearityLogView"), QColor("lightgray"));
            v->setRunning(false);
            QTRY_COMPARE(textColour("linearityLogView"), QColor("white"));
            v->linearityLog()->appendEntry(QDateTime::currentDateTime(), {}, LogModel::Info, {}, "row of data");
            QQuickItem* row = nullptr;
            QTRY_VERIFY((row = scene.itemWithText("row of data", scene.item("linearityLogView"))));
            QCOMPARE(row->property("color").value<QColor>(), QColor("white"));
            QCOMPARE(scene.item("linearityLogView")->property("color").value<QColor>(), QColor("#801A1A1B"));
        } else if (what == "application log") {
            scene.ui->setProperty("logVisible", true);
            v->runNothing();
            QTRY_VERIFY(scene.ui->property("isRunning").toBool());
            QCOMPARE(textColour("appLogView"), QColor("white"));
            v->setRunning(false);
        } else if (what == "slider ends") {
            for (const char* end : {"Favor shadows", "Equal"}) {
                QQuickItem* label = scene.itemWithText(end);
                QVERIFY(label);
                QCOMPARE(label->property("color").value<QColor>(), QColor("white"));
            }
        } else if (what == "disabled entries") {
            // No correction to save yet.
            QObject* save = menuEntry(scene.window, "&Save Correction…");
            QObject* open = menuEntry(scene.window, "&Open Correction...");
            QVERIFY(save && open);
            QTRY_VERIFY(!save->property("enabled").toBool());
            QCOMPARE(save->property("contentItem").value<QQuickItem*>()->opacity(), 0.5);
            QCOMPARE(open->property("contentItem").value<QQuickItem*>()->opacity(), 1.0);
        } else if (what == "about links") {
            auto* about = qobject_cast<QQuickWindow*>(scene.object("aboutBox"));
            QVERIFY(QTest::qWaitForWindowExposed(scene.window));
            QMetaObject::invokeMethod(about, "open");
            QVERIFY(QTest::qWaitForWindowExposed(about));
            waitForFrame(about);
            const QImage picture = about->grabWindow();
            int light = 0;
            int blue = 0;
            for (int y = 0; y < picture.height(); ++y)
                for (int x = 0; x < picture.width(); ++x) {
                    const QRgb p = picture.pixel(x, y);
                    light += qAbs(qRed(p) - 0x69) + qAbs(qGreen(p) - 0xc4) + qAbs(qBlue(p) - 0xf8) < 40;
                    blue += qRed(p) + qGreen(p) + qAbs(qBlue(p) - 0xff) < 40;
                }
            QVERIFY2(light > 20 && blue == 0, qPrintable(QStringLiteral("%1 light, %2 blue").arg(light).arg(blue)));
        } else if (what == "status menu") {
            v->setStatus(-1);
            QObject* menu = scene.window->findChild<QObject*>("statusMenu");
            QTest::mouseClick(scene.window, Qt::RightButton, {},
                              scene.item("statusLine")->mapToScene(QPointF(20, 5)).toPoint());
            QTRY_VERIFY(menu->property("opened").toBool());
            QQuickItem* entry = scene.itemWithText("Reset Status Color", menu->property("contentItem").value<QQuickItem*>());
            QVERIFY(entry);
            QTRY_VERIFY(entry->width() >= entry->implicitWidth());
        } else if (what == "elided status line") {
            // An LDM's read-out is longer than the footer: its tooltip holds it whole.
            const QString line = QStringLiteral("LDM #20 tile 2 column 3 row 4 %1;  errors   0.521%,  -0.334%,   1.207%")
                                     .arg(QString(200, QLatin1Char('x')));
            v->setStatusString(line);
            QTRY_VERIFY(scene.item("statusLine")->property("truncated").toBool());
            QTest::mouseMove(scene.window, scene.item("statusLine")->mapToScene(QPointF(40, 5)).toPoint());
            QObject* tip = nullptr;
            QTRY_VERIFY((tip = scene.window->findChild<QObject*>("statusToolTip")) && tip->property("visible").toBool());
            QCOMPARE(tip->property("text").toString(), line);
        } else if (what == "show mode of a fresh store") {
            v->setMode(Calibrator::ModeBalance);
            QTRY_VERIFY(scene.itemWithText("Images"));
            QTRY_VERIFY(scene.itemWithText("Images")->property("checked").toBool());
        } else if (what == "camera preview before any photo") {
            scene.trigger("showCameraCapture");
            auto* preview = qobject_cast<QQuickWindow*>(scene.object("imageWindow"));
            QVERIFY(QTest::qWaitForWindowExposed(preview));
            QQuickItem* note = preview->findChild<QQuickItem*>("noPhotoText");
            QVERIFY(note && note->isVisible());
            QCOMPARE(note->property("text").toString(), QStringLiteral("No photo has been taken yet."));
        } else {
            QCOMPARE(capture.messages().filter("Only binding to one of multiple key bindings").size(), 0);
            const QList<QPair<QString, QKeySequence>> entries = {
                {"&Open Correction...", QKeySequence::Open}, {"E&xit", QKeySequence::Quit},
                {"Cu&t", QKeySequence::Cut}, {"&Copy", QKeySequence::Copy}, {"&Paste", QKeySequence::Paste},
                {"&Stop", QKeySequence::Cancel}, {"Zoom In", QKeySequence::ZoomIn}, {"&Run", QKeySequence("Ctrl+R")}};
            for (const auto& [text, sequence] : entries) {
                QObject* entry = menuEntry(scene.window, text);
                QVERIFY2(entry, qPrintable(text));
                QCOMPARE(entry->property("shortcutText").toString(), sequence.toString(QKeySequence::NativeText));
            }
        }
    }

    // Message boxes are as large as their content, also under a window
    // manager that holds a window within its size limits: else the box
    // shows a dark rectangle without its text's end or its OK button, and,
    // modal, takes every click from the wall view until it is dismissed.
    void boxesFitTheirContent_data()
    {
        QTest::addColumn<QString>("box");
        QTest::newRow("update check") << "updateBox";
        QTest::newRow("target LDM too bright") << "messageBox";
        QTest::newRow("update with long notes") << "updateBox";
    }
    void boxesFitTheirContent()
    {
        QFETCH(QString, box);
        Scene scene;
        QVERIFY(scene.window);
        scene.window->resize(1300, 900);
        QVERIFY(scene.activate());
        Veltranor* v = scene.veltranor.get();
        auto* shown = qobject_cast<QQuickWindow*>(scene.object(box.toLatin1().constData()));
        QVERIFY(shown);
        SizeLimitingManager manager(shown);
        QObject* grid = scene.object("screenPanel")->property("ldmGrid").value<QObject*>();

        if (box == "updateBox") {
            if (QByteArray(QTest::currentDataTag()).contains("notes"))
                setFeed(feed(QStringLiteral("v99.0"), QString("Faster grabs and steadier runs. ").repeated(60)));
            scene.trigger("checkForUpdates");
            QTRY_VERIFY_WITH_TIMEOUT(shown->isVisible(), 20000);
        } else {
            v->setReadDelay(0);
            v->setMode(Calibrator::ModeBalance);
            scene.ui->setProperty("dragMode", "ref");
            QTRY_COMPARE(grid->property("viewList").toList().size(), 144);
            v->display()->setLdmRGB(20, 0.1, 0.1, 0.1); // seen 10 % above the allowed green
            scene.click(grid->findChild<QQuickItem*>("ldm20"));
            QTRY_VERIFY(shown->isVisible());
            QCOMPARE(v->statusString(), QStringLiteral("Target LDM too bright"));
        }
        QQuickItem* text = shown->findChild<QQuickItem*>("messageText");
        QQuickItem* ok = shown->findChild<QQuickItem*>("macOkButton");
        QVERIFY(text && ok);
        QTRY_VERIFY(shown->width() >= text->width() + 32);
        QTRY_VERIFY(shown->height() >= text->implicitHeight() + 32 + ok->height());
        QVERIFY(manager.mappedMaximum.height() >= shown->height()); // mapped whole, not grown into its size
        // A long note wraps: the box stays within the screen.
        QVERIFY(shown->frameGeometry().width() <= shown->screen()->availableGeometry().width());
        const QPointF corner = ok->mapToScene(QPointF(ok->width(), ok->height()));
        QVERIFY(corner.x() <= shown->width() && corner.y() <= shown->height());

        // OK closes the box, and the wall view takes clicks again.
        waitForFrame(shown);
        QTest::mouseClick(shown, Qt::LeftButton, {}, ok->mapToScene(QPointF(ok->width() / 2, ok->height() / 2)).toPoint());
        QTRY_VERIFY(!shown->isVisible());
        if (box == "messageBox") {
            QTRY_VERIFY(!v->running());
            scene.click(grid->findChild<QQuickItem*>("ldm21"));
            QTRY_COMPARE(v->statusString(), QStringLiteral("Using target LDM’s RGB 190, 190, 190"));
            QCOMPARE(v->selectedLdm(), 21);
        }
    }

    // Shown, the secondary windows lie on the screen with their frame,
    // whatever was stored.
    void windowsLieOnTheScreen_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QRect>("stored");
        QTest::addColumn<QSize>("minimum");
        QTest::newRow("simulated display above and left") << "DummyWindow" << QRect(-300, -200, 640, 480) << QSize();
        QTest::newRow("simulated display too large") << "DummyWindow" << QRect(100, 100, 2500, 1500) << QSize();
        QTest::newRow("camera preview below and right") << "ImageWindow" << QRect(1700, 1100, 640, 400) << QSize();
        QTest::newRow("camera preview full height") << "ImageWindow" << QRect(0, 50, 640, 1200) << QSize();
        QTest::newRow("simulated display whose minimum exceeds the screen")
            << "DummyWindow" << QRect(100, 100, 640, 480) << QSize(2500, 1500);
    }
    void windowsLieOnTheScreen()
    {
        QFETCH(QString, group);
        QFETCH(QRect, stored);
        QFETCH(QSize, minimum);
        QSettings settings;
        settings.beginGroup(group);
        settings.setValue("x", stored.x());
        settings.setValue("y", stored.y());
        settings.setValue("width", stored.width());
        settings.setValue("height", stored.height());
        settings.sync();
        Scene scene;
        QVERIFY(scene.window);
        const bool simulated = group == "DummyWindow";
        if (minimum.isValid())
            qobject_cast<QWindow*>(scene.object("simulatedDisplay"))->setMinimumSize(minimum);
        scene.trigger(simulated ? "showSimulatedDisplay" : "showCameraCapture");
        auto* shown = qobject_cast<QQuickWindow*>(scene.object(simulated ? "simulatedDisplay" : "imageWindow"));
        QVERIFY(QTest::qWaitForWindowExposed(shown));
        QTRY_VERIFY2(shown->screen()->availableGeometry().contains(shown->frameGeometry()),
                     qPrintable(QStringLiteral("%1,%2 %3x%4").arg(shown->x()).arg(shown->y())
                                    .arg(shown->width()).arg(shown->height())));
    }
};

VELTRANO_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
