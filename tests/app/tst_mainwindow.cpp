// The main window as the program loads it, with the real central object, the
// simulated display and the dummy camera: menus and shortcuts, Run/Stop and
// the footer, the update check on a loopback feed, the file dialogs, the
// restart countdown, the timed repaint and the persisted window state.
#include "imageitem.h"
#include "processorstandin.h"
#include "testsupport.h"
#include "veltranomain.h"
#include "veltranor.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <boost/asio/io_context.hpp>

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
QString feed(const QString& version = QString())
{
    QJsonArray items;
    if (!version.isEmpty())
        items.append(QJsonObject{{"version", version},
                                 {"name", "Veltrano-" + version + ".exe"},
                                 {"url", "http://127.0.0.1:1/installers/Veltrano.exe"},
                                 {"notes", ""}});
    return QString::fromUtf8(QJsonDocument(QJsonObject{{"items", items}}).toJson());
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

        QObject* grid = scene.object("screenPanel")->property("ldmGrid").value<QObject*>();
        QTRY_COMPARE(grid->property("viewList").toList().size(), 144);
        auto* target = grid->findChild<QQuickItem*>("ldm20");
        scene.click(target);
        QCOMPARE(v->selectedLdm(), 20);
        QCOMPARE(v->statusString(), QStringLiteral("Using target LDM’s RGB 190, 190, 190"));
        QCOMPARE(v->balanceTargetRed(), 190.0); // 255 × 0.745, rounded
        QCOMPARE(v->balanceTargetGreen(), 190.0);
        QCOMPARE(v->balanceTargetBlue(), 190.0);
        QVERIFY(!v->targetTime().isEmpty());
        QTRY_VERIFY(!v->running());
        auto* outline = target->findChild<QObject*>("ldmFill")->property("border").value<QObject*>();
        QTRY_COMPARE(outline->property("color").value<QColor>(), QColor("green"));

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

        // On target, the errors view paints every LDM mid grey.
        scene.click(scene.itemWithText("Errors"));
        QVERIFY(scene.saveScreenshot("mainwindow-uniformity.png"));
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

        scene.veltranor->setFilename(QStringLiteral("tmp/proposed.tsv"));
        scene.veltranor->setCalibrationAvailable(true);
        QTRY_VERIFY(scene.object("fileSaveAction")->property("enabled").toBool());
        scene.trigger("fileSaveAction");
        QCOMPARE(save->property("selectedFile").toUrl(), QUrl("file:///tmp/proposed.tsv"));
        if (!hasSlot(scene.veltranor.get(), "saveCalibration(QUrl)")
            || !hasSlot(scene.veltranor.get(), "readCalibration(QUrl)"))
            QSKIP("correction files are not in this build");

        QMetaObject::invokeMethod(save, "close");

        // The proposed name has no suffix: the file is saved with the one the
        // filter shows, and the open dialog reads it back.
        QTemporaryDir dir;
        scene.veltranor->setFilename(dir.path().mid(1) + "/correction");
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
};

VELTRANO_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
