// ctest-labels: threaded
// The central object: what a first start writes, how stored values are
// clamped, device switching with the connections and resume steps that follow
// it, developer options, the idle refresh against the stand-in processor and
// destruction in the middle of a run.
#include "cr100.h"
#include "fakedisplay.h"
#include "messagecapture.h"
#include "polledcontext.h"
#include "processorstandin.h"
#include "processorwall.h"
#include "scriptedmeter.h"
#include "simulateddisplay.h"
#include "testsupport.h"
#include "vantor.h"
#include "veltranor.h"

#include <QJsonObject>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <memory>

#include <sys/resource.h>

using testsupport::PolledContext;

// Records what the central object tells the active image source.
class RecordingSource : public ImageSource
{
public:
    QList<bool> autoExposure, raw;
    void autoControlExposure(bool on) override { autoExposure.append(on); }
    void useRawImages(bool on) override { raw.append(on); }
};

class TestVeltranor : public QObject
{
    Q_OBJECT

    std::unique_ptr<PolledContext> net_;

    std::unique_ptr<Veltranor> make() { return std::make_unique<Veltranor>(net_->io()); }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        net_ = std::make_unique<PolledContext>();
    }

    void init() { QSettings().clear(); }

    void cleanupTestCase() { net_.reset(); }

    // An empty store: CR100 and the processor are active, and only the
    // settings whose default differs from the starting value are written.
    void freshStart()
    {
        auto v = make();
        QCOMPARE(v->colorimeter(), static_cast<Colorimeter*>(v->cr100()));
        QCOMPARE(v->display(), static_cast<DisplayBase*>(v->vantor()));
        QCOMPARE(v->calibrator()->display(), static_cast<DisplayBase*>(v->vantor()));
        QCOMPARE(v->mode(), Calibrator::ModeLinearity);
        QCOMPARE(v->simulatedDisplay()->name(), QStringLiteral("Simulated Display"));
        QVERIFY(v->calibratorThread().isRunning() && v->backgroundThread().isRunning());
        QVERIFY(v->idleTimer().isActive());

        QStringList keys = QSettings().allKeys();
        keys.sort();
        // The simulated display keeps its own address key.
        QCOMPARE(keys, QStringList({"Simulated Display/address", "ambientBlack", "errAllowed", "filepath", "highlights",
                                    "readCount", "steps", "stepspacing", "useSRGB"}));
        QCOMPARE(v->filepath(),
                 QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QLatin1Char('/'));
        QCOMPARE(v->readCount(), 4u);
        QCOMPARE(v->steps(), 17u);
        QCOMPARE(v->balanceTargetRed(), 0.0);
        QCOMPARE(v->highlightRecovery(), 1u);
    }

    void storedValuesAreClamped_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("cct high") << "targetCCT" << QVariant(20000) << QVariant(10000u);
        QTest::newRow("cct low") << "targetCCT" << QVariant(1000) << QVariant(1667u);
        QTest::newRow("cct negative") << "targetCCT" << QVariant(-5.0) << QVariant(1667u);
        QTest::newRow("cct huge") << "targetCCT" << QVariant(1e30) << QVariant(10000u);
        QTest::newRow("cct text") << "targetCCT" << QVariant("warm") << QVariant(6500u);
        QTest::newRow("cct real") << "targetCCT" << QVariant(5000.9) << QVariant(5000u);
        QTest::newRow("duv") << "targetDuv" << QVariant(0.5) << QVariant(0.01);
        QTest::newRow("gamma") << "gamma" << QVariant(9.0) << QVariant(2.4);
        QTest::newRow("read delay") << "readDelay" << QVariant(100) << QVariant(500u);
        QTest::newRow("read count 0") << "readCount" << QVariant(0) << QVariant(1u);
        QTest::newRow("read count 250") << "readCount" << QVariant(250) << QVariant(100u);
        QTest::newRow("steps") << "steps" << QVariant(0) << QVariant(1u);
        QTest::newRow("brightness") << "bright" << QVariant(20000) << QVariant(10000u); // the processor's maximum
    }

    // Stored values pass through the setters: out of range they are clamped
    // (and written back), a gamma and text take the default and leave the store.
    void storedValuesAreClamped()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, expected);
        QSettings().setValue(key, stored);
        auto v = make();
        static const QHash<QString, const char*> property {
            {"targetCCT", "targetCCT"}, {"targetDuv", "targetDuv"}, {"gamma", "gamma"},
            {"readDelay", "readDelay"}, {"readCount", "readCount"},   {"steps", "steps"},
            {"bright", "brightnessLevel"}};
        QCOMPARE(v->property(property.value(key)), expected);
        const QVariant left = QSettings().value(key);
        QVERIFY2(!left.isValid() || left.toString() == expected.toString(), qPrintable(left.toString()));
    }

    void storedValuesAreFinite_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("property");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("duv nan") << "targetDuv" << "targetDuv" << "nan" << QVariant(0.0);
        QTest::newRow("gamma nan") << "gamma" << "gamma" << "nan" << QVariant(2.4);
        QTest::newRow("gamma inf") << "gamma" << "gamma" << "inf" << QVariant(2.4);
        QTest::newRow("allowed error nan") << "errAllowed" << "errorAllowed" << "nan" << QVariant(0.3);
        QTest::newRow("step spacing -inf") << "stepspacing" << "stepSpacing" << "-inf" << QVariant(2.0);
        QTest::newRow("red target nan") << "balRed" << "balanceTargetRed" << "nan" << QVariant(0.0);
        QTest::newRow("green target inf") << "balGreen" << "balanceTargetGreen" << "inf" << QVariant(0.0);
        QTest::newRow("blue target nan") << "balBlue" << "balanceTargetBlue" << "nan" << QVariant(0.0);
        QTest::newRow("high gain limit nan") << "hiGainLimit" << "highGainLimit" << "nan" << QVariant(0.5);
        QTest::newRow("low gain limit inf") << "loGainLimit" << "lowGainLimit" << "inf" << QVariant(0.25);
        QTest::newRow("mesh width huge") << "tileMeshWidth" << "tileMeshWidth" << "99999999" << QVariant(20u);
        QTest::newRow("mesh height huge") << "tileMeshHeight" << "tileMeshHeight" << "4294967295" << QVariant(20u);
        // Whole numbers beyond what the window takes: a run would allocate by them.
        QTest::newRow("steps huge") << "steps" << "steps" << "4294967295" << QVariant(100u);
        QTest::newRow("gamma negative") << "gamma" << "gamma" << "-2" << QVariant(2.4);
        QTest::newRow("read delay huge") << "readDelay" << "readDelay" << "4294967295" << QVariant(5000u);
        QTest::newRow("read count 100") << "readCount" << "readCount" << "100" << QVariant(100u);
        QTest::newRow("brightness 0") << "bright" << "brightnessLevel" << "0" << QVariant(1u);
        QTest::newRow("compliant iterations huge") << "btCompliantIterations" << "btCompliantIterations"
                                                   << "4294967295" << QVariant(20u);
        QTest::newRow("minimum iterations 4") << "btMinIterations" << "btMinIterations" << "4" << QVariant(50u);
        QTest::newRow("maximum iterations 501") << "btMaxIterations" << "btMaxIterations" << "501" << QVariant(400u);
        QTest::newRow("gain boost 9") << "linearGainBoost" << "linearGainBoost" << "9" << QVariant(2u);
        QTest::newRow("raw interpolation 7") << "rawInterpolation" << "rawInterpolation" << "7" << QVariant(0u);
        QTest::newRow("highlight recovery 4") << "highlights" << "highlightRecovery" << "4" << QVariant(1u);
    }

    // A stored NaN or infinity passes every clamp and comparison: it takes
    // the default and leaves the store. A whole number beyond its bounds
    // reaches the engine: it is clamped, or takes the default.
    void storedValuesAreFinite()
    {
        QFETCH(QString, key);
        QFETCH(QString, property);
        QFETCH(QString, stored);
        QFETCH(QVariant, expected);
        QSettings().setValue(key, stored);
        auto v = make();
        QCOMPARE(v->property(qPrintable(property)), expected);
        const QVariant left = QSettings().value(key);
        QVERIFY2(!left.isValid() || left.toString() == expected.toString(), qPrintable(left.toString()));
        // Nor does a setter take one.
        if (expected.typeId() == QMetaType::Double) {
            QVERIFY(v->setProperty(qPrintable(property), std::nan("")));
            QCOMPARE(v->property(qPrintable(property)), expected);
        }
    }

    // A store that cannot be written (its folder would lie under a file,
    // which stops root too) is named once, in the log and in the status.
    void unwritableStoreIsSaidOnce()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath("file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker.fileName() + "/config");
        const auto restore = qScopeGuard([] {
            QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                               QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
        });
        const QString text = "Settings cannot be stored in " + QSettings().fileName()
            + ": changes last only until the program quits.";
        auto v = make();
        v->setSteps(42);
        QCOMPARE(v->statusString(), text);
        v->setStatusString("next");
        v->setReadCount(7);
        QCOMPARE(v->statusString(), QStringLiteral("next"));
        qWarning("after the second change");
        LogModel* log = GetAppLog();
        const auto count = [log](const QString& line) {
            int n = 0;
            for (int row = 0; row < log->rowCount(); ++row)
                n += log->data(log->index(row), LogModel::MessageRole).toString() == line;
            return n;
        };
        QTRY_COMPARE(count("after the second change"), 1);
        QCOMPARE(count(text), 1);
    }

    void meshPatternIsBounded_data()
    {
        QTest::addColumn<uint>("wide");
        QTest::addColumn<uint>("high");
        QTest::addColumn<int>("tiles");
        QTest::addColumn<int>("cells"); // sent; 0: refused
        QTest::newRow("huge height, one tile") << 20u << 99999999u << 1 << 20 * 1000;
        QTest::newRow("largest mesh, one tile") << 99999999u << 99999999u << 1 << 1000 * 1000;
        QTest::newRow("largest mesh, two tiles") << 1000u << 1000u << 2 << 0;
    }

    // Whatever the mesh size, building the test pattern stays under
    // 512 MB; a wall-wide mesh beyond the limit is refused with a status.
    void meshPatternIsBounded()
    {
        QFETCH(uint, wide);
        QFETCH(uint, high);
        QFETCH(int, tiles);
        QFETCH(int, cells);
        FakeDisplay display; // outlives the central object that shows it
        auto v = make();
        v->setTileMeshWidth(wide);
        v->setTileMeshHeight(high);
        QVERIFY(v->tileMeshWidth() <= 1000u && v->tileMeshHeight() <= 1000u);
        for (int t = 0; t < tiles; ++t) {
            Tile tile;
            tile.x = float(1000 * t);
            tile.width = tile.height = 1000;
            display.addTile(tile);
        }
        display.fetchLdmsDone();
        v->setDisplay(&display);
        rusage before {};
        getrusage(RUSAGE_SELF, &before);
        v->setMeshTestPattern();
        rusage after {};
        getrusage(RUSAGE_SELF, &after);
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__) // their shadow memory counts too
        QVERIFY2(after.ru_maxrss - before.ru_maxrss < 512 * 1024, "the pattern takes less than 512 MB");
#endif
        const QList<FakeDisplay::Call> calls = display.calls();
        if (cells == 0) {
            QCOMPARE(calls.size(), 0);
            QCOMPARE(v->statusString(), QStringLiteral("Tile mesh size (1000, 1000) on 2 tiles is more than 1000000 cells"));
        } else {
            QCOMPARE(calls.size(), 1);
            QCOMPARE(calls.front().numbers.size(), qsizetype(cells));
        }
        v->setDisplay(v->simulatedDisplay());
    }

    // Comparisons use the value before clamping (or the fuzzy rule); lens
    // choices are announced every time.
    void setterSignals()
    {
        auto v = make();
        QSignalSpy cct(v.get(), &Veltranor::targetCCTChanged);
        v->setTargetCCT(20000);
        v->setTargetCCT(20000);
        v->setTargetCCT(10000);
        QCOMPARE(cct.count(), 2);
        QCOMPARE(cct.at(1).at(0).toUInt(), 10000u);

        QSignalSpy gamma(v.get(), &Veltranor::gammaChanged);
        v->setGamma(2.4000000000001);
        QCOMPARE(gamma.count(), 0);

        QSignalSpy lens(v.get(), &Veltranor::lensFileChanged);
        v->setLensFile(QStringLiteral(":/lens/a.jpg"));
        v->setLensFile(QStringLiteral(":/lens/a.jpg"));
        QCOMPARE(lens.count(), 2);
        QCOMPARE(v->tileGrader() != nullptr, true);

        QSignalSpy type(v.get(), &Veltranor::colorimeterTypeChanged);
        v->setColorimeterType(0);
        QCOMPARE(type.count(), 0);
        v->setColorimeterType(1);
        QCOMPARE(type.count(), 1);
        QCOMPARE(v->colorimeter(), v->cineMeterII());
        QCOMPARE(QSettings().value("colorMeter").toBool(), false);
    }

    // Readings follow the active meter; the resume step survives only the
    // changes that do not matter in the current mode.
    void meterAndDisplaySwitching()
    {
        auto v = make();
        ScriptedMeter first, second;
        first.script({ScriptedMeter::Answer {.silent = true}});
        second.script({ScriptedMeter::Answer {.silent = true}});
        v->setColorimeter(&first);
        v->setColorimeter(&second);
        Q_EMIT v->calibrator()->takeReading();
        QCOMPARE(first.reads(), 0);
        QCOMPARE(second.reads(), 1);

        v->setResumeStep(3);
        v->setOutputType(1);
        QCOMPARE(v->resumeStep(), 0u);
        QCOMPARE(v->calibrator()->display(), static_cast<DisplayBase*>(v->simulatedDisplay()));
        QVERIFY(v->showSimulatedDisplay());

        // Meter switch: clears in linearity mode only.
        v->setMode(Calibrator::ModeBalance);
        v->setResumeStep(3);
        v->setColorimeter(&first);
        QCOMPARE(v->resumeStep(), 3u);
        v->setBalanceTargetRed(0.5);
        QCOMPARE(v->resumeStep(), 0u);
        v->setMode(Calibrator::ModeLinearity);
        v->setResumeStep(3);
        v->setColorimeter(&second);
        QCOMPARE(v->resumeStep(), 0u);

        // Targets matter only on the simulated display.
        v->setResumeStep(3);
        v->setGamma(2.2);
        QCOMPARE(v->resumeStep(), 0u);
        QSignalSpy shown(v.get(), &Veltranor::showSimulatedDisplayChanged);
        v->setOutputType(0);
        QCOMPARE(shown.count(), 1);
        v->setResumeStep(3);
        v->setGamma(2.6);
        QCOMPARE(v->resumeStep(), 3u);
        QCOMPARE(QSettings().value("output").toBool(), false);

        // The selected LDM is kept per display address.
        QSettings().setValue("selectedLdm", 7);
        QSettings().setValue("selectedLdm" + v->simulatedDisplay()->address(), 7);
        v->switchOutput();
        QCOMPARE(v->selectedLdm(), 7);
        v->setColorimeter(v->cr100());
    }

    // The active source gets the effective camera settings, and the grab
    // worker the read delay, whatever the stored flags say.
    void imageSourceSwitching()
    {
        auto v = make();
        QVERIFY(!v->imageSource()->isDummy());
        v->setMode(Calibrator::ModeBalance);
        v->setResumeStep(2);
        v->setCameraType(1);
        QVERIFY(v->imageSource()->isDummy());
        QCOMPARE(v->resumeStep(), 0u);
        QCOMPARE(QSettings().value("camera").toBool(), true);

        v->setReadDelay(100);
        QCOMPARE(v->background()->readDelay(), 750u);

        RecordingSource source;
        v->setAutoControlExposure(false);
        v->setUseRawImages(true);
        v->setImageSource(&source);
        QCOMPARE(source.autoExposure, QList<bool>({true}));
        QCOMPARE(source.raw, QList<bool>({false}));
        v->setUseDebugOptions(true);
        QCOMPARE(source.raw.last(), true);
        v->setCameraType(0);
    }

    // Without an LDM to observe, choosing one ends its busy phase.
    void selectedLdmWithoutLdms()
    {
        auto v = make();
        QSignalSpy running(v.get(), &Veltranor::runningChanged);
        v->setSelectedLdm(4);
        QCOMPARE(v->selectedLdm(), 4);
        QVERIFY(!v->running());
        QCOMPARE(running.count(), 2);
        QCOMPARE(QSettings().value("selectedLdm" + v->vantor()->address()).toInt(), 4);
    }

    void developerOptionsAndSrgb()
    {
        auto v = make();
        v->vantor()->updatesEnabled = false;
        v->vantor()->setEotfType(QStringLiteral("sdrPower"));
        QVERIFY(!v->useSrgb());
        v->vantor()->setEotfType(QStringLiteral("sdrPreserve"));
        QVERIFY(v->useSrgb());

        QSignalSpy srgb(v.get(), &Veltranor::useSrgbChanged);
        v->setUseSrgb(false);
        v->setUseDebugOptions(true);
        QVERIFY(!v->useSrgb());
        QCOMPARE(v->statusString(), QStringLiteral("Developer options are on."));
        QVERIFY(srgb.count() >= 2);

        v->setMode(Calibrator::ModeTemplate);
        v->setUseDebugOptions(false);
        QCOMPARE(v->mode(), Calibrator::ModeBalance);
        QCOMPARE(v->statusString(), QStringLiteral("Developer options are off."));
        QCOMPARE(QSettings().value("mode").toInt(), 1);

        v->runNothing();
        v->setMode(Calibrator::ModeLinearity);
        QCOMPARE(v->mode(), Calibrator::ModeBalance);
        v->setRunning(false);
    }

    // The idle refresh reads the processor over loopback; while a read hangs,
    // further ticks do not start requests of their own, a busy phase ending
    // meanwhile leaves the read alone, and the next tick due ends it and
    // says so on the output LED.
    void idleRefresh()
    {
        ProcessorStandin fake;
        QVERIFY2(fake.start(), qPrintable(fake.errorString()));
        fake.setAuth(QJsonObject {{QStringLiteral("enabled"), false}});
        auto v = make();
        v->vantor()->setAddress(QStringLiteral("127.0.0.1:%1").arg(fake.port()));
        fake.clearLog();

        v->idleUpdate();
        QVERIFY(fake.requestLog().size() >= 2);

        fake.clearLog();
        fake.addRule(QJsonObject {{"method", "GET"}, {"action", "hang"}});
        bool nested = false;
        testsupport::MessageCapture log;
        QTimer::singleShot(100, v.get(), [&] {
            // A busy phase that starts and ends meanwhile (an update check)
            // ends only what it waits for itself, not the refresh's read.
            v->runNothing();
            v->setRunning(false);
            QTimer::singleShot(300, v.get(), [&] {
                nested = true;
                v->idleUpdate();
                v->idleUpdate();
            });
        });
        v->idleUpdate();
        QVERIFY(nested);
        QCOMPARE(fake.requestLog().size(), 1);
        QCOMPARE(v->vantor()->error(), QStringLiteral("the processor did not answer within 10 s"));
        QCOMPARE(log.count(QStringLiteral("Error updating display: Operation canceled")), 0);
        fake.releaseHung();

        // Nothing is refreshed during a run or with polling switched off.
        fake.clearLog();
        v->setDisplayPolling(false);
        v->idleUpdate();
        v->setDisplayPolling(true);
        v->runNothing();
        v->idleUpdate();
        v->setRunning(false);
        QCOMPARE(fake.requestLog().size(), 0);
        v.reset();
        fake.stop();
    }

    // A refresh that finds the same wall on the processor takes over the gains
    // the processor reports and keeps the operator's selection, lit and
    // adjusted sets and observations; a wall that changed is rebuilt, and a
    // refresh that fails leaves the wall as it was. An explicit fetch still
    // rebuilds everything.
    void idleRefreshKeepsTheSameWall_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("lit and adjusted sets") << QString();
        QTest::newRow("processor gains") << QStringLiteral("gains");
        QTest::newRow("failed refresh") << QStringLiteral("fail");
        QTest::newRow("changed wall") << QStringLiteral("wall");
        QTest::newRow("fetch asked for while it waits") << QStringLiteral("asked");
    }

    void idleRefreshKeepsTheSameWall()
    {
        QFETCH(QString, change);
        ProcessorStandin fake;
        QVERIFY2(fake.start(), qPrintable(fake.errorString()));
        fake.setAuth(QJsonObject {{QStringLiteral("enabled"), false}});
        // The stand-in's display settings with a wall of `receivers` receivers.
        const QJsonObject display = fake.state();
        const auto wall = [&](int receivers) {
            const QJsonObject mesh = testsupport::meshWallState(receivers, 160, 90, 4, 3);
            QJsonObject state = display;
            QJsonObject dev = state.value("dev").toObject();
            dev.insert("receivers", mesh.value("dev").toObject().value("receivers"));
            state.insert("dev", dev);
            state.insert("sys", mesh.value("sys"));
            return state;
        };
        fake.setState(wall(2));
        auto v = make();
        v->idleTimer().stop();
        v->setMode(Calibrator::ModeBalance);
        DisplayBase* d = v->display();
        QCOMPARE(d, static_cast<DisplayBase*>(v->vantor()));
        d->setAddress(QStringLiteral("127.0.0.1:%1").arg(fake.port()));
        QCOMPARE(d->fetchLdms().code, 0);
        QCOMPARE(d->ldmCount(), 24u);

        // The operator lights and adjusts the top left 2 x 2 LDMs of the first
        // receiver, takes one of them out of the adjusted set again, and LDM 1
        // has been observed.
        d->selectLdms(QPoint(0, 0), QPoint(79, 59));
        d->lightSelectedLdms();
        d->adjustSelectedLdms(0);
        d->selectLdms(QPoint(0, 0), QPoint(39, 29));
        d->adjustSelectedLdms(-1);
        d->setLdmRGBObserved(1, 10, 20, 30);
        const auto records = [d] { return testsupport::ldmRecords(*d); };
        QStringList expected = records();
        QCOMPARE(d->litLdmCount(), 4u);
        QCOMPARE(d->adjustableLdmCount(), 3u);

        QSignalSpy rebuilt(d, &DisplayBase::refreshChanged);
        QSignalSpy redrawn(d, &DisplayBase::ldmDataChanged);
        if (change == QStringLiteral("gains")) {
            // The processor reports a new red gain for the LDM with key 2 of
            // the first receiver (LDM 5 in the model's text order).
            QJsonObject state = fake.state();
            QJsonObject receivers = state.value("dev").toObject().value("receivers").toObject();
            QJsonObject first = receivers.value("AA:BB:CC:DD:EE:00").toObject();
            QJsonObject ldms = first.value("ldms").toObject();
            QCOMPARE(d->ldm(5).index, 2);
            ldms.insert("2", QJsonObject {{"gains", QJsonObject {{"r", 0.02}, {"g", 0.0}, {"b", -0.01}, {"i", 0.0}}}});
            first.insert("ldms", ldms);
            receivers.insert("AA:BB:CC:DD:EE:00", first);
            QJsonObject dev = state.value("dev").toObject();
            dev.insert("receivers", receivers);
            state.insert("dev", dev);
            fake.setState(state);
            expected[4] = expected[4].replace(QStringLiteral("gains 0 0 0 0"), QStringLiteral("gains 0.02 0 -0.01 0"));
        } else if (change == QStringLiteral("fail")) {
            fake.addRule(QJsonObject {{"path", "/api/v1/data?dev.receivers"}, {"status", 500}, {"body", "down"}});
        } else if (change == QStringLiteral("wall")) {
            fake.setState(wall(3));
        } else if (change == QStringLiteral("asked")) {
            // The refresh's request hangs; the operator's Refresh meanwhile
            // rebuilds the wall, then the hung request fails.
            fake.addRule(QJsonObject {{"path", "/api/v1/data?dev.receivers"}, {"action", "hang"}});
            QTimer::singleShot(100, v.get(), [&] {
                QCOMPARE(d->fetchLdms().code, 0);
                fake.releaseHung();
            });
        }
        v->idleUpdate();

        if (change == QStringLiteral("asked")) {
            QCOMPARE(rebuilt.count(), 1);
            QCOMPARE(d->ldmCount(), 24u);
            QVERIFY(d->ldmAdjustable(1));
            QCOMPARE(d->ldmRedObserved(1), 0.0);
            return;
        }
        if (change == QStringLiteral("wall")) {
            QCOMPARE(d->ldmCount(), 36u);
            QCOMPARE(d->tileCount(), 3u);
            QCOMPARE(rebuilt.count(), 1);
            QCOMPARE(d->litLdmCount(), 36u);
            QCOMPARE(d->adjustableLdmCount(), 36u);
            QCOMPARE(d->ldmRedObserved(1), 0.0);
            return;
        }
        QCOMPARE(records(), expected);
        QCOMPARE(d->tileCount(), 2u);
        QCOMPARE(rebuilt.count(), 0);
        QCOMPARE(redrawn.count(), 1);
        QCOMPARE(d->litLdmCount(), 4u);
        QCOMPARE(d->adjustableLdmCount(), 3u);

        // Asked for, the fetch builds the wall anew.
        fake.clearRules();
        QCOMPARE(d->fetchLdms().code, 0);
        QCOMPARE(rebuilt.count(), 1);
        QVERIFY(d->ldm(17).selected && d->ldm(17).adjustable);
        QCOMPARE(d->ldmRedObserved(1), 0.0);
        v.reset();
        fake.stop();
    }

    // Quitting mid-run stops the engine's task before anything it uses goes.
    void destructionDuringRun()
    {
        auto v = make();
        ScriptedMeter meter;
        meter.script({ScriptedMeter::Answer {.silent = true}});
        v->setColorimeter(&meter);
        v->switchOutput();
        Calibrator* calibrator = v->calibrator();
        calibrator->setTask(Calibrator::TaskNothing);
        v->setRunning(true);
        QTRY_VERIFY(v->calibrator()->running());
        v.reset();
    }

    void stopEndsTheRunAndJoinsTheWorkers()
    {
        auto v = make();
        v->setRunning(true);
        QSignalSpy spy(v.get(), &Veltranor::runningChanged);
        v->stop();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toBool(), false);
        QVERIFY(v->calibratorThread().isFinished());
        QVERIFY(v->backgroundThread().isFinished());
        v->stop();
        QCOMPARE(spy.count(), 1);
    }
};

VELTRANO_TEST_MAIN(TestVeltranor)

#include "tst_veltranor.moc"
