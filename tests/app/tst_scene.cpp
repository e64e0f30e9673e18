// Scene pieces against the real central object, the simulated display and
// the dummy camera: the wall view's drags, the simulated wall's fake
// observations, the preferences window and the panels' read-outs of a
// loopback network meter.
#include "cinemeterii.h"
#include "imageitem.h"
#include "platformhelper.h"
#include "option.h"
#include "polledcontext.h"
#include "processorstandin.h"
#include "processorwall.h"
#include "testsupport.h"
#include "vantor.h"
#include "veltranor.h"

#include <QDir>
#include <QJSValue>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>

#include <memory>

using testsupport::PolledContext;

// Scene fragments go the way the program's scene goes: hidden, then deleted
// from the event loop, so the scene graph releases its textures.
struct SceneDeleter
{
    void operator()(QObject* object) const
    {
        for (QQuickWindow* window : object->findChildren<QQuickWindow*>())
            window->close();
        if (auto* window = qobject_cast<QQuickWindow*>(object))
            window->close();
        object->deleteLater();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
};
using Scene = std::unique_ptr<QObject, SceneDeleter>;

class TestScene : public QObject
{
    Q_OBJECT

    std::unique_ptr<PolledContext> net_;
    std::unique_ptr<Veltranor> v_;
    std::unique_ptr<QQmlEngine> engine_;
    std::unique_ptr<ProcessorStandin> processor_;

    // Creates a scene fragment beside the program's QML files.
    Scene create(const QByteArray& qml)
    {
        QQmlComponent component(engine_.get());
        component.setData("import QtQuick\nimport QtQuick.Window\n" + qml,
                          QUrl(QStringLiteral("qrc:/src/ui/SceneTestHost.qml")));
        Scene object(component.create());
        if (!object)
            qWarning() << component.errors();
        return object;
    }

    static QString artifactDir()
    {
        const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/../../artifacts");
        QDir().mkpath(dir);
        return QDir(dir).absolutePath();
    }

    // The colour of each LDM view's outline, by number.
    static QStringList outlineColours(QObject* grid, uint count)
    {
        QStringList colours;
        for (uint n = 1; n <= count; ++n) {
            auto* view = grid->findChild<QObject*>(QStringLiteral("ldm%1").arg(n));
            auto* fill = view ? view->findChild<QObject*>(QStringLiteral("ldmFill")) : nullptr;
            colours.append(fill ? fill->property("border").value<QObject*>()->property("color").value<QColor>().name()
                                : QStringLiteral("missing"));
        }
        return colours;
    }

    // Repeater children are found through the item tree only.
    static QQuickItem* findItem(QQuickItem* item, const QString& name)
    {
        if (item->objectName() == name)
            return item;
        for (QQuickItem* child : item->childItems())
            if (QQuickItem* found = findItem(child, name))
                return found;
        return nullptr;
    }

    QStringList expectedOutlines() const
    {
        QStringList colours;
        DisplayBase* d = v_->display();
        for (uint n = 1; n <= d->ldmCount(); ++n)
            colours.append(!d->ldmIsLit(n)       ? QStringLiteral("#333333")
                           : d->ldmAdjustable(n) ? QStringLiteral("#dddddd")
                                                 : QStringLiteral("#808080"));
        return colours;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        QSettings().clear();
        QSettings().setValue("output", true);
        QSettings().setValue("camera", true);
        net_ = std::make_unique<PolledContext>();
        v_ = std::make_unique<Veltranor>(net_->io());
        v_->setDisplayPolling(false);
        v_->idleTimer().stop();

        QQuickStyle::setStyle(QStringLiteral("Fusion"));
        qmlRegisterType<ImageItem>("ImageItem", 1, 0, "ImageItem");
        PlatformHelper::registerQmlType();
        engine_ = std::make_unique<QQmlEngine>();
        QQmlContext* root = engine_->rootContext();
        root->setContextProperty(QStringLiteral("veltranor"), v_.get());
        root->setContextProperty(QStringLiteral("appLog"), v_->appLog());
        root->setContextProperty(QStringLiteral("linearityLog"), v_->linearityLog());
        root->setContextProperty(QStringLiteral("qtVersion"), QString::fromLatin1(qVersion()));
        root->setContextProperty(QStringLiteral("veltranoVersion"), QStringLiteral("test"));
        QVERIFY(v_->display()->name() == QStringLiteral("Simulated Display"));
        QVERIFY(v_->imageSource()->isDummy());
    }

    void cleanupTestCase()
    {
        processor_.reset();
        engine_.reset();
        v_.reset();
        net_.reset();
    }

    // A drag in "lit" mode lights and marks what the model selects, also when
    // it is dragged up and out of the wall; an Alt drag in "adj" mode takes
    // LDMs out of the adjusted set. Every view's outline follows the model.
    void wallDragLightsAndMarks()
    {
        v_->setMode(Calibrator::ModeBalance);
        v_->fetchLdms();
        auto root = create("Window { width: 1000; height: 700; visible: true\n"
                           "  ScreenPanel { objectName: 'wall'; anchors.fill: parent } }");
        QVERIFY(root);
        auto* window = qobject_cast<QQuickWindow*>(root.get());
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QObject* wall = root->findChild<QObject*>(QStringLiteral("wall"));
        QObject* grid = root->findChild<QObject*>(QStringLiteral("ldmGrid"));
        auto* area = root->findChild<QQuickItem*>(QStringLiteral("wallArea"));
        QMetaObject::invokeMethod(wall, "zoom", Q_ARG(QVariant, 0));
        QTRY_VERIFY(area->width() < 1000);
        QCOMPARE(grid->property("viewList").toList().size(), 144);

        DisplayBase* d = v_->display();
        const auto toScene = [&](double x, double y) {
            return area
                ->mapToScene(QPointF((x - d->minX()) * area->width() / (d->maxX() - d->minX()),
                                     (y - d->minY()) * area->height() / (d->maxY() - d->minY())))
                .toPoint();
        };
        const auto drag = [&](QPoint from, QPoint to, Qt::KeyboardModifiers modifiers) {
            QTest::mousePress(window, Qt::LeftButton, modifiers, from);
            QTest::mouseMove(window, (from + to) / 2);
            QTest::mouseMove(window, to);
            QTest::mouseRelease(window, Qt::LeftButton, modifiers, to);
        };

        wall->setProperty("dragMode", "lit");
        drag(toScene(1150, 200), toScene(900, 0), Qt::NoModifier);
        QCOMPARE(d->litLdmCount(), 4u);
        for (uint n : {1u, 2u, 17u, 18u})
            QVERIFY2(d->ldmIsLit(n) && d->ldmAdjustable(n), qPrintable(QString::number(n)));
        QTRY_COMPARE(outlineColours(grid, d->ldmCount()), expectedOutlines());

        wall->setProperty("dragMode", "adj");
        drag(toScene(1120, 160), toScene(1180, 240), Qt::AltModifier);
        QVERIFY(!d->ldmAdjustable(18));
        QVERIFY(d->ldmAdjustable(17) && d->ldmIsLit(18));
        QTRY_COMPARE(outlineColours(grid, d->ldmCount()), expectedOutlines());
        QCOMPARE(outlineColours(grid, 18).last(), QStringLiteral("#808080"));

        QVERIFY(window->grabWindow().save(artifactDir() + QStringLiteral("/scene-wall.png")));

        // Gains mode: mid grey for no gain, each 0.01 of gain a quarter of full scale.
        d->setLdmRGB(18, 0.01, 0.0, -0.01);
        QMetaObject::invokeMethod(wall, "showLdm", Q_ARG(QVariant, QStringLiteral("Gains")));
        auto* fill18 = grid->findChild<QObject*>(QStringLiteral("ldm18"))->findChild<QObject*>(QStringLiteral("ldmFill"));
        const QColor gains = fill18->property("color").value<QColor>();
        QVERIFY(qAbs(gains.redF() - 0.8775) < 0.005 && qAbs(gains.greenF() - 0.6275) < 0.005
                && qAbs(gains.blueF() - 0.3775) < 0.005);
        QMetaObject::invokeMethod(wall, "showLdm", Q_ARG(QVariant, QStringLiteral("Images")));
        QCOMPARE(fill18->property("color").value<QColor>().alpha(), 0);

        // Zoom stops at 8000 wide going in and at the fitted width going out.
        const double fit = area->width();
        for (int i = 0; i < 12; ++i)
            QMetaObject::invokeMethod(wall, "zoom", Q_ARG(QVariant, 1.414213562373095));
        QCOMPARE(area->width(), 8000.0);
        for (int i = 0; i < 12; ++i)
            QMetaObject::invokeMethod(wall, "zoom", Q_ARG(QVariant, 1 / 1.414213562373095));
        QCOMPARE(area->width(), fit);
        // The context menu's reset lights everything again.
        QMetaObject::invokeMethod(wall, "resetAll");
        QCOMPARE(d->litLdmCount(), 144u);
        QTRY_COMPARE(outlineColours(grid, d->ldmCount()), expectedOutlines());
    }

    // The simulated wall answers a fetch of fake observations inside the
    // emission, while its window is hidden: the painted colour at 0.745 of
    // full scale. The main wall view's grid adds nothing, and a new fetch
    // rebuilds the views once.
    void fakeObservationsAnswerAFetch()
    {
        v_->setMode(Calibrator::ModeBalance);
        v_->setFakeLdmVariation(0.0);
        v_->fetchLdms();
        auto root = create("Window { width: 800; height: 600; visible: true\n"
                           "  ScreenPanel { anchors.fill: parent }\n"
                           "  SimulatedDisplayWindow { objectName: 'sim' } }");
        QVERIFY(root);
        QObject* sim = root->findChild<QObject*>(QStringLiteral("sim"));
        QObject* wall = root->findChild<QObject*>(QStringLiteral("simulatedWall"));
        QVERIFY(!sim->property("visible").toBool());
        DisplayBase* d = v_->display();
        v_->fetchLdms();
        QCOMPARE(wall->property("viewList").toList().size(), 144);
        QTRY_COMPARE(wall->findChildren<QQuickItem*>(QStringLiteral("ldm5")).size(), 1);

        d->setLdmRGB(5, 0.1, 0.0, -0.1);
        d->setLdmRGBObserved(6, 1, 2, 3);
        d->fetchFakeLdmRGBs();
        QCOMPARE(d->ldmRedObserved(5), 209.0);   // 189.975 × 1.1 = 208.97
        QCOMPARE(d->ldmGreenObserved(5), 190.0); // 189.975
        QCOMPARE(d->ldmBlueObserved(5), 171.0);  // 189.975 × 0.9 = 170.98
        QCOMPARE(d->ldmRedObserved(6), 190.0);
        auto* fill = wall->findChild<QObject*>(QStringLiteral("ldm5"))->findChild<QObject*>(QStringLiteral("ldmFill"));
        QTRY_VERIFY(qAbs(fill->property("color").value<QColor>().redF() - 0.825) < 0.01);

        d->setLdmRGB(5, 0.0, 0.0, 0.0);
        v_->setFakeLdmVariation(0.3);
        d->fetchFakeLdmRGBs();
        QSet<double> reds;
        for (uint n = 1; n <= d->ldmCount(); ++n) {
            const double red = d->ldmRedObserved(n);
            QVERIFY2(red >= 161 && red <= 219, qPrintable(QString::number(red)));
            reds.insert(red);
        }
        QVERIFY(reds.size() > 1);
        v_->setFakeLdmVariation(0.0);
    }

    // An idle refresh of the simulated display finds the same wall and keeps
    // the operator's work: the lit and adjusted sets, the target LDM and the
    // observations, a balance result (its gains and the colours the
    // simulated window draws, variation included). An explicit fetch still
    // builds the default wall anew.
    void idleRefreshKeepsTheOperatorsWork_data()
    {
        QTest::addColumn<QString>("work");
        QTest::newRow("lit set") << QStringLiteral("lit");
        QTest::newRow("adjusted set") << QStringLiteral("adjust");
        QTest::newRow("target and observations") << QStringLiteral("target");
        QTest::newRow("balance result") << QStringLiteral("balance");
    }

    void idleRefreshKeepsTheOperatorsWork()
    {
        QFETCH(QString, work);
        v_->setMode(Calibrator::ModeBalance);
        v_->setFakeLdmVariation(0.3);
        v_->setSelectedLdm(0);
        v_->fetchLdms();
        auto root = create("Window { width: 800; height: 600; visible: true\n"
                           "  ScreenPanel { anchors.fill: parent }\n"
                           "  SimulatedDisplayWindow { objectName: 'sim' } }");
        QVERIFY(root);
        DisplayBase* d = v_->display();
        QObject* grid = root->findChild<QObject*>(QStringLiteral("ldmGrid"));
        QObject* wall = root->findChild<QObject*>(QStringLiteral("simulatedWall"));
        QTRY_COMPARE(grid->property("viewList").toList().size(), 144);
        QTRY_COMPARE(wall->property("viewList").toList().size(), 144);

        if (work == QStringLiteral("lit")) {
            d->selectLdms(QPoint(1000, 50), QPoint(1399, 249));
            d->lightSelectedLdms();
            QCOMPARE(d->litLdmCount(), 8u);
        } else if (work == QStringLiteral("adjust")) {
            d->selectLdms(QPoint(1000, 50), QPoint(1399, 249));
            d->adjustSelectedLdms(0);
            QCOMPARE(d->adjustableLdmCount(), 8u);
        } else if (work == QStringLiteral("target")) {
            v_->setSelectedLdm(20);
            QTRY_VERIFY(!v_->running());
            d->setLdmRGBObserved(20, 180, 190, 200);
        } else {
            for (uint n = 1; n <= d->ldmCount(); ++n)
                d->setLdmRGB(n, (int(n % 7) - 3) / 100.0, (int(n % 5) - 2) / 100.0, (int(n % 3) - 1) / 100.0);
            d->fetchFakeLdmRGBs();
        }

        // Everything the operator sees of the wall, in the model and in both views.
        const auto wallState = [&] {
            QStringList state = testsupport::ldmRecords(*d);
            for (const QVariant& view : wall->property("viewList").toList())
                state << view.value<QObject*>()->findChild<QObject*>(QStringLiteral("ldmFill"))->property("color")
                             .value<QColor>().name();
            state << outlineColours(grid, d->ldmCount());
            state << QString::number(v_->selectedLdm()) << QString::number(d->litLdmCount())
                  << QString::number(d->adjustableLdmCount());
            return state;
        };
        QStringList outlines = expectedOutlines();
        if (v_->selectedLdm() > 0)
            outlines[v_->selectedLdm() - 1] = QStringLiteral("#008000");
        QTRY_COMPARE(outlineColours(grid, d->ldmCount()), outlines);
        const QStringList before = wallState();

        v_->setDisplayPolling(true);
        v_->idleUpdate();
        v_->setDisplayPolling(false);
        QCoreApplication::processEvents();
        QCOMPARE(wallState(), before);
        // The fake camera still sees the balanced colours.
        if (work == QStringLiteral("balance")) {
            d->fetchFakeLdmRGBs();
            QCOMPARE(wallState(), before);
        }

        // Asked for, the fetch lays out the default wall again.
        v_->fetchLdms();
        QCOMPARE(d->litLdmCount(), 144u);
        QCOMPARE(d->adjustableLdmCount(), 144u);
        for (uint n = 1; n <= d->ldmCount(); ++n)
            QVERIFY(d->ldmRedGain(n) == 0.0 && d->ldmRedObserved(n) == 0.0);
        v_->setSelectedLdm(0);
        v_->setFakeLdmVariation(0.0);
    }

    // A wall fetch or state read of the processor that fails keeps the wall
    // shown and the display gains read before; the output light turns red
    // with the reason as its tooltip, a fetch also names it in the status
    // line, and the next good refresh turns the light green again.
    void processorFailuresKeepTheWall_data()
    {
        QTest::addColumn<QString>("operation"); // "refresh", "mode" (to template) or "read" (the 10 s refresh)
        QTest::addColumn<QJsonObject>("rule");  // the stand-in's answer
        QTest::addColumn<QString>("address");   // instead of the stand-in's, when set
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("requests");

        const QString fetch = QStringLiteral("GET /api/v1/data?dev.receivers");
        const QString read = QStringLiteral("GET /api/v1/data?dev.display.brightness");
        const auto onFetch = [](QJsonObject rule) {
            rule.insert("path", "/api/v1/data?dev.receivers");
            return rule;
        };
        const auto fetchReply = [&](const QJsonObject& wall) {
            return onFetch({{"status", 200}, {"contentType", "application/json"},
                            {"body", QString::fromUtf8(QJsonDocument(wall).toJson())}});
        };
        const QJsonObject failure {{"status", 500}, {"body", "down"}};
        const QJsonObject noChallenge {{"status", 401}, {"body", "no"}};
        const QString authFailure = QStringLiteral("Authentication failed: 401 without a Digest challenge");

        QTest::newRow("refresh: 500") << "refresh" << onFetch(failure) << QString() << "HTTP error 500: down"
                                      << QStringList {fetch};
        QTest::newRow("refresh: 401 without challenge")
            << "refresh" << onFetch(noChallenge) << QString() << authFailure << QStringList {fetch};
        QTest::newRow("refresh: connection closed")
            << "refresh" << onFetch({{"action", "close"}}) << QString() << "end of stream" << QStringList {fetch};
        QTest::newRow("refresh: no JSON") << "refresh" << onFetch({{"status", 200}, {"body", "{\"dev\": ["}})
                                          << QString() << "VANTOR wall configuration malformed: the reply is no JSON object"
                                          << QStringList {fetch};
        QTest::newRow("refresh: receivers not an object")
            << "refresh" << fetchReply({{"dev", QJsonObject {{"receivers", QJsonArray {1, 2}}}}}) << QString()
            << "VANTOR wall configuration malformed: dev.receivers is no JSON object" << QStringList {fetch};
        QJsonObject unknownFixture = testsupport::meshWallState(1, 160, 90, 4, 3);
        unknownFixture.insert("sys", QJsonObject {{"fixtures", QJsonObject {}}});
        QTest::newRow("refresh: unknown fixture")
            << "refresh" << fetchReply(unknownFixture) << QString() << "type P missing" << QStringList {fetch};
        QTest::newRow("mode switch: 500") << "mode" << onFetch(failure) << QString() << "HTTP error 500: down"
                                          << QStringList {fetch};

        const auto onRead = [](QJsonObject rule) {
            rule.insert("path", "/api/v1/data?dev.display");
            return rule;
        };
        QTest::newRow("read: 500") << "read" << onRead(failure) << QString() << "HTTP error 500: down"
                                   << QStringList {read};
        QTest::newRow("read: 401 without challenge")
            << "read" << onRead(noChallenge) << QString() << authFailure << QStringList {read};
        // Display gains that no processor holds; the rest of the reply is good.
        const QString badGains = QStringLiteral("display.gains RGB data not valid in VANTOR status");
        const QList<std::pair<const char*, QByteArray>> gains {
            {"text", "\"0.5\""}, {"null", "null"}, {"array", "[0.5]"},
            {"negative", "-5"},  {"huge", "1e308"}, {"denormal", "1e-320"}};
        for (const auto& [name, value] : gains) {
            const QByteArray body = "{\"dev\":{\"display\":{\"brightness\":10,\"gains\":{\"r\":" + value
                                    + ",\"g\":0.8,\"b\":0.7},\"out\":{\"adjust\":{\"gain\":{\"r\":1,\"g\":1,\"b\":1}}}}}}";
            QTest::newRow(qPrintable(QStringLiteral("read: display gain ") + name))
                << "read" << onRead({{"status", 200}, {"body", QString::fromUtf8(body)}}) << QString() << badGains
                << QStringList {read};
        }
        // The resolver refuses a host name with a blank or "!" without asking
        // any name server; nothing reaches the processor.
        QTest::newRow("read: address that cannot be resolved")
            << "read" << QJsonObject() << "bad name!"
            << "VANTOR address bad name! cannot be resolved: Host not found (authoritative)" << QStringList();
    }

    void processorFailuresKeepTheWall()
    {
        QFETCH(QString, operation);
        QFETCH(QJsonObject, rule);
        QFETCH(QString, address);
        QFETCH(QString, error);
        QFETCH(QStringList, requests);
        if (!processor_) {
            processor_ = std::make_unique<ProcessorStandin>();
            QVERIFY2(processor_->start(), qPrintable(processor_->errorString()));
        }
        ProcessorStandin& fake = *processor_;
        fake.clearRules();
        QJsonObject state = fake.state();
        QJsonObject dev = state.value("dev").toObject(), display = dev.value("display").toObject();
        display.insert("gains", QJsonObject {{"r", 0.9}, {"g", 0.8}, {"b", 0.7}});
        dev.insert("display", display);
        const QJsonObject wall = testsupport::meshWallState(2, 160, 90, 4, 3);
        dev.insert("receivers", wall.value("dev").toObject().value("receivers"));
        state.insert("dev", dev);
        state.insert("sys", wall.value("sys"));
        fake.setState(state);

        // The processor's wall of 24 LDMs in balance mode, its settings read.
        const QString standIn = QStringLiteral("127.0.0.1:%1").arg(fake.port());
        v_->setMode(Calibrator::ModeBalance);
        v_->vantor()->setAddress(standIn);
        v_->setOutputType(0);
        const auto restore = qScopeGuard([&] {
            processor_->clearRules();
            v_->setDisplayPolling(false);
            v_->vantor()->setAddress(standIn);
            v_->setMode(Calibrator::ModeBalance);
            v_->setOutputType(1);
        });
        DisplayBase* d = v_->display();
        QCOMPARE(d, static_cast<DisplayBase*>(v_->vantor()));
        QCOMPARE(d->fetchLdms().code, 0);
        QCOMPARE(d->read().code, 0);
        // The records with the place and receiver of each LDM.
        const auto wallShown = [d] {
            QStringList shown = testsupport::ldmRecords(*d);
            for (uint n = 1; n <= d->ldmCount(); ++n)
                shown << QStringLiteral("%1 @%2,%3").arg(d->ldm(n).name).arg(d->ldmX(n)).arg(d->ldmY(n));
            return shown;
        };
        QCOMPARE(d->ldmCount(), 24u);
        const QStringList wallBefore = wallShown();
        auto root = create("Window { width: 1100; height: 300; visible: true\n"
                           "  DisplayPanel { objectName: 'display'; width: 1100 } }");
        QVERIFY(root);
        const auto led = [&] { return root->findChild<QQuickItem*>(QStringLiteral("outputLed")); };
        const auto ledText = [&] {
            return led()->findChild<QObject*>(QStringLiteral("ledToolTip"))->property("text").toString();
        };
        const auto ledImage = [&] {
            return led()->property("contentItem").value<QQuickItem*>()->property("source").toUrl().fileName();
        };
        QCOMPARE(ledText(), QStringLiteral("Output OK"));
        QCOMPARE(ledImage(), QStringLiteral("IconGreenLED.png"));

        v_->setStatusString(QStringLiteral("before"));
        if (!address.isEmpty())
            v_->vantor()->setAddress(address);
        if (!rule.isEmpty())
            fake.addRule(rule);
        fake.clearLog();
        if (operation == QStringLiteral("refresh")) {
            v_->fetchLdms();
        } else if (operation == QStringLiteral("mode")) {
            v_->setMode(Calibrator::ModeTemplate);
            QCOMPARE(v_->mode(), Calibrator::ModeTemplate);
        } else {
            v_->setDisplayPolling(true);
            v_->idleUpdate();
        }

        QTRY_COMPARE(ledText(), error);
        QCOMPARE(ledImage(), QStringLiteral("IconRedLED.png"));
        QCOMPARE(v_->statusString(), operation == QStringLiteral("read") ? QStringLiteral("before")
                                                                         : QStringLiteral("Fetch LDMs failed: ") + error);
        QCOMPARE(wallShown(), wallBefore);
        QCOMPARE(d->ldmCount(), 24u);
        QCOMPARE(d->displayGainRed(), 0.9);
        QStringList reached;
        for (const QJsonValue& record : fake.requestLog()) {
            const QString target = record.toObject().value("target").toString();
            reached << record.toObject().value("method").toString() + ' ' + target.section('&', 0, 0);
        }
        QCOMPARE(reached, requests);

        // The next good refresh clears the light.
        fake.clearRules();
        v_->vantor()->setAddress(standIn);
        v_->setDisplayPolling(true);
        v_->idleUpdate();
        QTRY_COMPARE(ledText(), QStringLiteral("Output OK"));
        QCOMPARE(ledImage(), QStringLiteral("IconGreenLED.png"));
        // The failure a fetch told is red; a good Refresh clears it, and only it.
        if (operation != QStringLiteral("read")) {
            QCOMPARE(v_->status(), -1);
            v_->fetchLdms();
            QCOMPARE(v_->statusString(), QString());
            QCOMPARE(v_->status(), 0);
            v_->setStatusString(QStringLiteral("a run's outcome"));
            v_->fetchLdms();
            QCOMPARE(v_->statusString(), QStringLiteral("a run's outcome"));
        }
    }

    // Fields write their setters (and so their keys), refuse what their
    // validators refuse, the password stays scrambled in the store, and
    // Reset to Defaults asks first and then restores the twelve values.
    void preferencesWriteAndReset()
    {
        v_->setUseDebugOptions(true);
        v_->setGamma(2.4);
        auto root = create("Prefs { objectName: 'prefs' }");
        QVERIFY(root);
        auto* window = qobject_cast<QQuickWindow*>(root.get());
        QMetaObject::invokeMethod(root.get(), "open");
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const auto field = [&](const char* name) { return root->findChild<QObject*>(QLatin1String(name)); };
        const auto commit = [&](const char* name, const QString& text) {
            QObject* f = field(name);
            f->setProperty("text", text);
            QMetaObject::invokeMethod(f, "finishEditing");
        };

        commit("steps", QStringLiteral("100"));
        QCOMPARE(v_->steps(), 100u);
        QCOMPARE(QSettings().value("steps").toUInt(), 100u);
        commit("steps", QStringLiteral("0"));
        QCOMPARE(v_->steps(), 100u);
        QCOMPARE(field("steps")->property("text").toString(), QStringLiteral("100"));
        QCOMPARE(field("steps")->property("color").value<QColor>(), QColor("white"));

        QCOMPARE(field("gamma")->property("text").toString(), QStringLiteral("1"));
        commit("gamma", QStringLiteral("1.2"));
        QVERIFY(qAbs(v_->gamma() - 2.88) < 1e-9);

        commit("errorAllowed", QStringLiteral("0.75"));
        QCOMPARE(v_->errorAllowed(), 0.75);

        QCOMPARE(field("password")->property("echoMode").toInt(), 0); // shown as typed
        commit("password", QStringLiteral("s3cret"));
        QCOMPARE(v_->vantor()->password(), QStringLiteral("s3cret"));
        const QString stored = QSettings().value("VantorP").toString();
        QVERIFY(!stored.isEmpty() && stored != QStringLiteral("s3cret"));

        // Walking the form by keys from a clicked field, on and back, stores nothing.
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window));
        auto* user = qobject_cast<QQuickItem*>(field("username"));
        QTest::mouseClick(window, Qt::LeftButton, {}, user->mapToScene(QPointF(10, user->height() / 2)).toPoint());
        QTRY_VERIFY(qobject_cast<QQuickItem*>(field("username"))->hasActiveFocus());
        for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Backtab, Qt::Key_Backtab})
            QTest::keyClick(window, key);
        QTRY_VERIFY(!qobject_cast<QQuickItem*>(field("password"))->hasActiveFocus());
        QCOMPARE(v_->vantor()->password(), QStringLiteral("s3cret"));
        QCOMPARE(QSettings().value("VantorP").toString(), stored);
        QCOMPARE(field("password")->property("text").toString(), QStringLiteral("s3cret"));

        QTest::qWait(100);
        QVERIFY(window->grabWindow().save(artifactDir() + QStringLiteral("/scene-preferences.png")));

        // Developer options off: the section goes and the window shrinks.
        const int tall = window->height();
        v_->setUseDebugOptions(false);
        QTRY_VERIFY(window->height() < tall);

        // Cancel changes nothing; OK restores the twelve values.
        v_->setTargetCCT(5000);
        QObject* box = nullptr;
        for (QObject* o : root->findChildren<QObject*>())
            if (o->property("title").toString() == QStringLiteral("Are you sure?"))
                box = o;
        QVERIFY(box);
        QMetaObject::invokeMethod(root.get(), "reset");
        QTRY_VERIFY(box->property("visible").toBool());
        QMetaObject::invokeMethod(box->property("cancelButton").value<QObject*>(), "clicked");
        QCOMPARE(v_->targetCCT(), 5000u);
        QVERIFY(!box->property("visible").toBool());

        QMetaObject::invokeMethod(root.get(), "reset");
        QVERIFY(!box->property("okChosen").toBool());
        QMetaObject::invokeMethod(box->property("macOkButton").value<QObject*>(), "clicked");
        QCOMPARE(v_->steps(), 17u);
        QCOMPARE(v_->stepSpacing(), 2.0);
        QCOMPARE(v_->ambientBlack(), false);
        QCOMPARE(v_->trust1stPoint(), false);
        QCOMPARE(v_->errorAllowed(), 0.3);
        QCOMPARE(v_->readCount(), 4u);
        QCOMPARE(v_->readDelay(), 1500u);
        QCOMPARE(v_->targetCCT(), 6504u);
        QCOMPARE(v_->targetDuv(), 0.0032);
        QCOMPARE(v_->gamma(), 2.4);
        QCOMPARE(v_->brightnessLevel(), 100u);
        QCOMPARE(QSettings().value("useSRGB").toBool(), false); // the getter answers for the display
        QCOMPARE(v_->statusString(), QStringLiteral("Defaults restored."));
        QCOMPARE(QSettings().value("steps").toUInt(), 17u);
        QCOMPARE(field("steps")->property("text").toString(), QStringLiteral("17"));

        // A run closes the window.
        v_->runNothing();
        QTRY_VERIFY(!window->isVisible());
        v_->setRunning(false);
    }

    // Every field with a validator takes its bounds from the table of limits
    // (a gamma shown divided by 2.4, a brightness at most the processor's maximum).
    void preferenceFieldsTakeTheirLimits()
    {
        auto root = create("Prefs { objectName: 'prefs' }");
        QVERIFY(root);
        int fields = 0;
        for (QObject* field : root->findChildren<QObject*>()) {
            auto* validator = field->property("validator").value<QObject*>();
            const QString key = field->property("key").toString();
            const QVariantMap limit = v_->limits().value(key).toMap();
            if (!validator)
                continue;
            ++fields;
            const auto shown = [&](const char* bound) {
                return field->property("fromText").value<QJSValue>().call({validator->property(bound).toString()}).toNumber();
            };
            QVERIFY2(qFuzzyCompare(shown("bottom"), limit["low"].toDouble()), qPrintable(key));
            QVERIFY2(qFuzzyCompare(shown("top"), key == "brightnessLevel" ? v_->vantor()->lumaMax() : limit["high"].toDouble()), qPrintable(key));
        }
        QCOMPARE(fields, 17);
    }

    // The correction panel shows what the network meter last read, and the
    // display panel's target text follows the balance targets.
    void panelsFollowMeterAndTargets()
    {
        QProcess server;
        server.setProgram(QStringLiteral("python3"));
        server.setArguments({QStringLiteral(VELTRANO_STANDINS_DIR "/fake_cinemeter.py")});
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start();
        QVERIFY(server.waitForReadyRead(10000));
        const QString port = QString::fromUtf8(server.readLine()).trimmed();

        v_->setMode(Calibrator::ModeLinearity);
        v_->setColorimeterType(1);
        Colorimeter* meter = v_->colorimeter();
        QCOMPARE(meter, v_->cineMeterII());
        meter->setAddress(QStringLiteral("127.0.0.1:") + port + QStringLiteral("/meter"));
        auto root = create("Window { width: 1100; height: 400; visible: true\n"
                           "  Column { ColorimeterPanel { width: 1100 } DisplayPanel { objectName: 'display' } } }");
        QVERIFY(root);
        const auto text = [&](const char* name) {
            return root->findChild<QObject*>(QLatin1String(name))->property("text").toString();
        };

        const auto readAndCompare = [&] {
            QSignalSpy data(meter, &Colorimeter::dataAvailable);
            meter->read();
            QVERIFY(data.wait(8000));
            QVERIFY(!meter->cctString().isEmpty());
            QTRY_COMPARE(text("cctText"), meter->cctString());
            QCOMPARE(text("duvText"), meter->duvString());
            QCOMPARE(text("luminanceText"), meter->luminanceString());
        };
        readAndCompare();
        const QString first = text("luminanceText");
        server.write("{\"body\": \"brightness_SI 42.5 cd/m2\\nCCT 5600\\n\\u2206uv -0.0020\\ncie1931_x 0.33\\n"
                     "cie1931_y 0.34\"}\n");
        QVERIFY(server.waitForReadyRead(5000));
        readAndCompare();
        QVERIFY(text("luminanceText") != first);

        v_->setMode(Calibrator::ModeBalance);
        QObject* display = root->findChild<QObject*>(QStringLiteral("display"));
        v_->setBalanceTargetRed(100.5);
        v_->setBalanceTargetGreen(170.0);
        v_->setBalanceTargetBlue(90.25);
        v_->setTargetTime(QStringLiteral("12:00:00 2026-12-09"));
        QCOMPARE(display->property("targetText").toString(),
                 QStringLiteral("   Target RGB: <b>100.50, 170.00, 90.25</b>, set <b>12:00:00 2026-12-09</b>   "));
        QMetaObject::invokeMethod(display, "clearTarget");
        QCOMPARE(display->property("targetText").toString(), QStringLiteral("   Target RGB not set   "));
        QCOMPARE(v_->statusString(), QStringLiteral("Target RGB values cleared"));

        v_->setColorimeterType(0);
        server.write("quit\n");
        if (!server.waitForFinished(3000))
            server.kill();
    }

    // Every other window and panel loads without a warning of its own; the
    // output sliders send the operator's moves and follow the display; the
    // camera preview keeps its size while a run is active.
    void slidersAndSecondaryWindows()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral("^qrc:/src/ui/(?!VeltMenuItem)")));
        v_->setMode(Calibrator::ModeLinearity);
        auto root = create("Window { width: 900; height: 500; visible: true\n"
                           "  Row { CameraPanel {} OutputControlPanel { objectName: 'output'; height: 300 } }\n"
                           "  ImageWindow { objectName: 'preview' } AboutBox {} MessageBox {}\n"
                           "  SimulatedDisplayWindow { objectName: 'sim' }\n"
                           "  LogPanel { objectName: 'log'; y: 320; width: 600; height: 150; model: appLog;"
                           "    title: 'Log Messages' } }");
        QVERIFY(root);
        auto* window = qobject_cast<QQuickWindow*>(root.get());
        QVERIFY(QTest::qWaitForWindowExposed(window));
        DisplayBase* d = v_->display();

        // The log follows new rows while it sits at the bottom.
        auto* log = root->findChild<QObject*>(QStringLiteral("logView"));
        QMetaObject::invokeMethod(log, "positionViewAtEnd");
        for (int i = 0; i < 40; ++i)
            qInfo("scene test line %d", i);
        QTRY_VERIFY(log->property("contentHeight").toDouble() > 150);
        QTRY_VERIFY(log->property("atYEnd").toBool());

        QQuickItem* redSlider = findItem(window->contentItem(), QStringLiteral("sliderRed"));
        QVERIFY(redSlider);
        QObject* red = redSlider->property("slider").value<QObject*>();
        red->setProperty("value", 0.5);
        QMetaObject::invokeMethod(red, "moved");
        QCOMPARE(d->red(), 0.5);
        d->setRed(0.25);
        QTRY_COMPARE(red->property("value").toDouble(), 0.25);

        // Moves that arrive while a colour is being sent (the processor's
        // request runs a nested event loop) collapse into the latest one.
        auto coalesce = create("Item { OutputControlPanel { id: out; objectName: 'out'; display: fake }\n"
                               "  QtObject { id: fake; objectName: 'fake'; property real red: 0; property real green: 0\n"
                               "    property real blue: 0; property var sent: []; property bool nest: true\n"
                               "    onRedChanged: { sent.push(red); if (nest) { nest = false;\n"
                               "      out.request('red', 0.5); out.request('red', 0.6); out.request('red', 0.7) } } } }");
        QVERIFY(coalesce);
        QMetaObject::invokeMethod(coalesce->findChild<QObject*>(QStringLiteral("out")), "request",
                                  Q_ARG(QVariant, QStringLiteral("red")), Q_ARG(QVariant, 0.1));
        QCOMPARE(coalesce->findChild<QObject*>(QStringLiteral("fake"))->property("sent").toList(),
                 QVariantList({0.1, 0.7}));

        // No lens file applied: the lens pickers claim no lens or focal length.
        QObject owner;
        v_->lensNameList()->append(new Option(0, QStringLiteral("Lens A"), QStringLiteral("A"), &owner));
        v_->lensFileList()->append(new Option(0, QStringLiteral("24mm"), QStringLiteral("a24.jpg"), &owner));
        v_->lensFileList()->append(new Option(1, QStringLiteral("35mm"), QStringLiteral("a35.jpg"), &owner));
        Q_EMIT v_->lensNameList()->optionsChanged();
        Q_EMIT v_->lensFileList()->optionsChanged();
        v_->setLensName(QStringLiteral("A"));
        v_->setLensFile(QString());
        QObject* lensPicker = root->findChild<QObject*>(QStringLiteral("lensPicker"));
        QObject* filePicker = root->findChild<QObject*>(QStringLiteral("lensFilePicker"));
        QTRY_COMPARE(filePicker->property("currentIndex").toInt(), -1);
        QCOMPARE(lensPicker->property("currentIndex").toInt(), -1);
        v_->setLensFile(QStringLiteral("a35.jpg"));
        QTRY_COMPARE(filePicker->property("currentText").toString(), QStringLiteral("35mm"));
        QCOMPARE(lensPicker->property("currentText").toString(), QStringLiteral("Lens A"));
        v_->setLensFile(QString());
        v_->lensNameList()->clear();
        v_->lensFileList()->clear();
        Q_EMIT v_->lensNameList()->optionsChanged();
        Q_EMIT v_->lensFileList()->optionsChanged();

        QObject* sim = root->findChild<QObject*>(QStringLiteral("sim"));
        QTRY_COMPARE(sim->property("color").value<QColor>().name(), d->colorStr());

        auto* preview = qobject_cast<QQuickWindow*>(root->findChild<QObject*>(QStringLiteral("preview")));
        preview->show();
        preview->resize(700, 450);
        v_->runNothing();
        QTRY_COMPARE(preview->maximumSize(), QSize(700, 450));
        QCOMPARE(preview->minimumSize(), QSize(700, 450));
        v_->setRunning(false);
        QTRY_COMPARE(preview->minimumSize(), QSize(320, 200));
    }
};

VELTRANO_TEST_MAIN(TestScene)
#include "tst_scene.moc"
