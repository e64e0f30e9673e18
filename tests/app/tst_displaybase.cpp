// ctest-labels: threaded
#include "testsupport.h"

#include "displaybase.h"

#include <QMetaMethod>
#include <QSettings>
#include <QSignalSpy>
#include <QThread>

#include <atomic>
#include <thread>
#include <climits>

namespace {

// The abstract model with its two missing operations, and its protected
// building blocks opened for the tests.
class TestDisplay : public DisplayBase
{
public:
    explicit TestDisplay(const QString& name)
        : DisplayBase(name, nullptr)
    {
    }
    ErrorType resetMesh() override { return {}; }
    void cancel() override {}

    using DisplayBase::addLdm;
    using DisplayBase::addTile;
    using DisplayBase::fetchLdmsDone;
    QList<Macropixel>& ldms() { return ldmList; }
    QList<Tile>& tiles() { return tileList; }
    QRect litRect() const { return litTileRect; }
    QRect selectionRect() const { return tileSelectionRect; }
};

// Records the names of the signals an object emits, in order.
class SignalLog : public QObject
{
    Q_OBJECT
public:
    QStringList names;

    void watch(QObject* object)
    {
        const QMetaObject* mo = object->metaObject();
        const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("record()"));
        for (int i = QObject::staticMetaObject.methodCount(); i < mo->methodCount(); ++i) {
            if (mo->method(i).methodType() == QMetaMethod::Signal)
                connect(object, mo->method(i), this, slot);
        }
    }
    QStringList take() { return std::exchange(names, {}); }

public Q_SLOTS:
    void record()
    {
        names << QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name());
    }
};

// Two receiver tiles side by side, 200 x 100 each, each holding two LDMs of
// 100 x 100: LDMs 1, 2 in tile 1 (x 0, 100), LDMs 3, 4 in tile 2 (x 200, 300).
void buildTwoTiles(TestDisplay& d)
{
    d.ldms().clear();
    d.tiles().clear();
    for (int t = 0; t < 2; ++t) {
        Tile tile;
        tile.name = QStringLiteral("AA:BB:CC:DD:EE:0%1").arg(t + 1);
        tile.x = float(t * 200);
        tile.width = 200;
        tile.height = 100;
        tile.ldmsWide = 2;
        tile.ldmsHigh = 1;
        d.addTile(tile);
        for (int c = 0; c < 2; ++c) {
            Macropixel m;
            m.name = tile.name;
            m.x = float(t * 200 + c * 100);
            m.width = 100;
            m.height = 100;
            m.index = c + 1;
            m.tile = uint(t + 1);
            d.addLdm(m);
        }
    }
    d.fetchLdmsDone();
}

QList<bool> flags(TestDisplay& d, bool Macropixel::*flag)
{
    QList<bool> out;
    for (const Macropixel& m : d.ldms())
        out << m.*flag;
    return out;
}

} // namespace

class TestDisplayBase : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
    }

    void errorTypeSemantics()
    {
        const ErrorType ok;
        QCOMPARE(ok.code, 0);
        QVERIFY(ok.message.isEmpty());
        // Equal when both succeed or both fail; code and message beyond that
        // take no part.
        QVERIFY(ErrorType(1, QStringLiteral("a")) == ErrorType(2, QStringLiteral("b")));
        QVERIFY(ErrorType(0, QStringLiteral("x")) == ok);
        QVERIFY(ErrorType(1) != ok);
        QVERIFY(ok < ErrorType(2));
        QVERIFY(!(ErrorType(2) < ok));
        QVERIFY(!(ErrorType(1) < ErrorType(2)));
        QVERIFY(!(ok < ok));

        // Carried by queued signals and variants.
        const QVariant v = QVariant::fromValue(ErrorType(2, QStringLiteral("No network address")));
        QCOMPARE(v.value<ErrorType>().code, 2);
        QCOMPARE(v.value<ErrorType>().message, QStringLiteral("No network address"));
        QVERIFY(QMetaType::fromType<ErrorType>().isValid());
    }

    void recordDefaults()
    {
        const Macropixel m;
        QCOMPARE(m.number, 0u);
        QVERIFY(m.selected && m.adjustable && m.lit);
        QCOMPARE(m.intensityGain, 0.0);
        const Tile t;
        QVERIFY(t.selected && t.adjustable && t.lit && !t.changed);
        QCOMPARE(t.ldmsWide, 0);
        QVERIFY(t.macropixels.isEmpty());
        const DisplayBase::CalibrationPoint p;
        QCOMPARE(p.blueMy, 0.0);
        QCOMPARE(int(DisplayBase::TestPatternGenerated), 2);
    }

    // Signal and property order is part of the interface QML and the processor
    // client build on.
    void metaObjectOrder()
    {
        const QMetaObject& mo = DisplayBase::staticMetaObject;
        QStringList signalNames;
        for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
            if (mo.method(i).methodType() == QMetaMethod::Signal)
                signalNames << QString::fromLatin1(mo.method(i).name());
        }
        const QStringList expectedSignals = QStringLiteral(
            "nameChanged redChanged greenChanged blueChanged maximumChanged colorStrChanged "
            "colorReadoutChanged cyclingChanged addressChanged supportsMeshUniformityChanged "
            "fetchedOutputConfig ldmCountChanged litLdmCountChanged adjustableLdmCountChanged "
            "ldmDataChanged tileCountChanged litTileCountChanged adjustableTileCountChanged "
            "tileDataChanged refreshChanged needFakeLdmRGBsChanged displayGainRedChanged "
            "displayGainGreenChanged displayGainBlueChanged isVantorChanged maxXChanged minXChanged "
            "maxYChanged minYChanged maxLitLdmXChanged minLitLdmXChanged maxLitLdmYChanged "
            "minLitLdmYChanged outputFrequencyChanged errorChanged").split(QLatin1Char(' '));
        QCOMPARE(signalNames, expectedSignals);

        QStringList propertyNames;
        for (int i = mo.propertyOffset(); i < mo.propertyCount(); ++i)
            propertyNames << QString::fromLatin1(mo.property(i).name());
        const QStringList expectedProperties = QStringLiteral(
            "name address red green blue maximum displayGainRed displayGainGreen displayGainBlue "
            "cycling colorStr colorReadout supportsMeshUniformity ldmCount litLdmCount "
            "adjustableLdmCount ldmData tileCount litTileCount adjustableTileCount tileData maxX "
            "minX maxY minY maxLitLdmX minLitLdmX maxLitLdmY minLitLdmY refresh needFakeLdmRGBs "
            "isVantor outputFrequency error").split(QLatin1Char(' '));
        QCOMPARE(propertyNames, expectedProperties);
        QCOMPARE(mo.property(mo.indexOfProperty("maximum")).metaType(), QMetaType::fromType<uint>());
        QCOMPARE(mo.property(mo.indexOfProperty("ldmData")).metaType(), QMetaType::fromType<int>());
        QVERIFY(mo.indexOfMethod("setLdmRGB(uint,double,double,double)") >= 0);
        QVERIFY(mo.indexOfMethod("resetMesh()") >= 0);
    }

    void freshDisplay()
    {
        TestDisplay d(QStringLiteral("Fresh"));
        QVERIFY(d.address().isEmpty());
        QCOMPARE(d.ldmCount(), 0u);
        QCOMPARE(d.tileCount(), 0u);
        QCOMPARE(QList<int>({d.minX(), d.maxX(), d.minY(), d.maxY()}), QList<int>({0, 2, 0, 1}));
        QCOMPARE(QList<int>({d.minLitLdmX(), d.maxLitLdmX(), d.minLitLdmY(), d.maxLitLdmY()}),
                 QList<int>({0, 2, 0, 1}));
        QCOMPARE(d.red(), 0.5);
        QCOMPARE(d.maximum(), 1u);
        QCOMPARE(d.displayGainGreen(), 1.0);
        QCOMPARE(d.outputFrequency(), 60.0);
        QVERIFY(!d.isVantor() && !d.cycling() && !d.supportsMeshUniformity());
        QCOMPARE(d.colorStr(), QStringLiteral("#606060"));
        QCOMPARE(d.colorReadout(), QStringLiteral("red:0.500000  green:0.500000  blue:0.500000"));
        QCOMPARE(d.litRect(), QRect());
        QCOMPARE(d.selectionRect(), QRect());
        QVERIFY(d.read().code == 0);
    }

    void addressAndSettings()
    {
        QSettings settings;
        settings.setValue(QStringLiteral("Lobby/address"), QStringLiteral("HTTP://10.0.0.5"));
        settings.setValue(QStringLiteral("litTiles10.0.0.5"), QRect(QPoint(5, 6), QPoint(1, 2)));
        settings.setValue(QStringLiteral("Wall DuMMy/address"), QStringLiteral("10.9.9.9"));
        settings.setValue(QStringLiteral("litTilesN/A"), QStringLiteral("not a rectangle"));
        settings.sync();

        // The stored address goes through setAddress, which writes it back
        // without its scheme; the lit rectangle is read for that address, as
        // stored (not normalised).
        TestDisplay lobby(QStringLiteral("Lobby"));
        QCOMPARE(lobby.address(), QStringLiteral("10.0.0.5"));
        QCOMPARE(QSettings().value(QStringLiteral("Lobby/address")).toString(), QStringLiteral("10.0.0.5"));
        QCOMPARE(lobby.litRect(), QRect(QPoint(5, 6), QPoint(1, 2)));

        // A dummy or simulated display is always at "N/A"; a stored rectangle
        // that is no rectangle reads as none.
        TestDisplay dummy(QStringLiteral("Wall DuMMy"));
        QCOMPARE(dummy.address(), QStringLiteral("N/A"));
        QCOMPARE(QSettings().value(QStringLiteral("Wall DuMMy/address")).toString(), QStringLiteral("N/A"));
        QCOMPARE(dummy.litRect(), QRect());
        QCOMPARE(TestDisplay(QStringLiteral("sImUlAtEd")).address(), QStringLiteral("N/A"));

        QSignalSpy changed(&lobby, &DisplayBase::addressChanged);
        lobby.setAddress(QStringLiteral("10.0.0.5"));
        QCOMPARE(changed.count(), 0);
        // The text as passed differs, so it is stored (the same again), signalled and written.
        settings.setValue(QStringLiteral("Lobby/address"), QStringLiteral("overwritten"));
        lobby.setAddress(QStringLiteral("http://10.0.0.5"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(lobby.address(), QStringLiteral("10.0.0.5"));
        QCOMPARE(QSettings().value(QStringLiteral("Lobby/address")).toString(), QStringLiteral("10.0.0.5"));
        // Every occurrence, any case.
        lobby.setAddress(QStringLiteral("Http://host:8080/hTTp://x"));
        QCOMPARE(lobby.address(), QStringLiteral("host:8080/x"));

        // The address key keeps the constructor's name.
        lobby.setName(QStringLiteral("Renamed"));
        lobby.setAddress(QStringLiteral("10.0.0.7"));
        QCOMPARE(QSettings().value(QStringLiteral("Lobby/address")).toString(), QStringLiteral("10.0.0.7"));
        QVERIFY(!QSettings().contains(QStringLiteral("Renamed/address")));

        // After an address change the rectangle is not read again; the next
        // selection store writes under the new address.
        QCOMPARE(lobby.litRect(), QRect(QPoint(5, 6), QPoint(1, 2)));
        buildTwoTiles(lobby);
        lobby.selectTiles(QPoint(10, 10), QPoint(20, 20));
        lobby.lightSelectedTiles();
        QCOMPARE(QSettings().value(QStringLiteral("litTiles10.0.0.7")).toRect(), QRect(QPoint(10, 10), QPoint(20, 20)));
        QCOMPARE(QSettings().value(QStringLiteral("litTiles10.0.0.5")).toRect(), QRect(QPoint(5, 6), QPoint(1, 2)));
    }

    void simpleSettersAndCounters()
    {
        TestDisplay d(QStringLiteral("Setters"));
        QVERIFY(d.ldmData() != d.ldmData());
        QVERIFY(d.property("tileData").toInt() != d.property("tileData").toInt());
        QVERIFY(d.property("refresh").toInt() != d.property("refresh").toInt());
        QVERIFY(d.needFakeLdmRGBs() != d.needFakeLdmRGBs());

        SignalLog log;
        log.watch(&d);
        d.setProperty("ldmData", 42);
        d.setProperty("tileData", 42);
        d.fetchFakeLdmRGBs();
        d.setMaximum(1); // the same value still signals
        d.setMaximum(7);
        d.setName(QStringLiteral("Setters"));
        d.setName(QStringLiteral("Other"));
        d.setCycling(false);
        d.setCycling(true);
        QCOMPARE(log.take(), QStringList({"ldmDataChanged", "tileDataChanged", "needFakeLdmRGBsChanged",
                                          "maximumChanged", "colorStrChanged", "maximumChanged",
                                          "colorStrChanged", "nameChanged", "cyclingChanged"}));
        QCOMPARE(d.maximum(), 7u);
        QCOMPARE(d.property("maximum").toUInt(), 7u);

        QSignalSpy frequency(&d, &DisplayBase::outputFrequencyChanged);
        d.setOutputFrequency(60.0);
        d.setOutputFrequency(50.0);
        QCOMPARE(frequency.count(), 1);
        QCOMPARE(frequency.at(0).at(0).toDouble(), 50.0);
    }

    void colourAndGains()
    {
        TestDisplay d(QStringLiteral("Colour"));
        SignalLog log;
        log.watch(&d);

        // Relative comparison: a change in the 14th digit is no change, and a
        // stored 0.0 equals only 0.0.
        QCOMPARE(d.setRed(0.5 + 1e-14).code, 0);
        QVERIFY(log.names.isEmpty());
        d.setRed(1.0);
        d.setGreen(0.0);
        d.setGreen(0.0);
        d.setGreen(1e-300);
        d.setGreen(0.0);
        d.setBlue(0.5);
        QCOMPARE(log.take(), QStringList({"redChanged", "colorStrChanged", "greenChanged", "colorStrChanged",
                                          "greenChanged", "colorStrChanged", "greenChanged",
                                          "colorStrChanged"}));
        QCOMPARE(d.colorStr(), QStringLiteral("#bf0060"));
        QCOMPARE(d.colorReadout(), QStringLiteral("red:1.000000  green:0.000000  blue:0.500000"));

        // Display gains: always stored and signalled; the level is capped at
        // full scale but has no lower bound.
        d.setDisplayGainRGB(2.0, 1.0, 1.0);
        d.setDisplayGainRGB(2.0, 1.0, 1.0);
        QCOMPARE(log.take(), QStringList({"displayGainRedChanged", "displayGainGreenChanged",
                                          "displayGainBlueChanged", "colorStrChanged",
                                          "displayGainRedChanged", "displayGainGreenChanged",
                                          "displayGainBlueChanged", "colorStrChanged"}));
        QCOMPARE(d.colorStr(), QStringLiteral("#ff0060"));
        QCOMPARE(d.property("colorStr").toString(), QStringLiteral("#ff0060"));
        d.setDisplayGainRGB(1.0, 0.5, 1.0);
        QCOMPARE(d.displayGainGreen(), 0.5);
        d.setRGB(0, -0.5, 1.0, 0.02);
        // -0.375 * 255 = -95.6 -> -96; 0.375 * 255 = 95.6 -> 96; 0.015 * 255 = 3.8 -> 4
        QCOMPARE(d.colorStr(), QStringLiteral("#-606004"));
        d.setRGB(0, 12.25, 0.0, 0.5);
        QCOMPARE(d.colorReadout(), QStringLiteral("red:12.250000  green:0.000000  blue:0.500000"));
        log.take();

        // setRGB with an LDM number reaches setLdmRGB with intensity 0.
        buildTwoTiles(d);
        d.setLdmRGB(3, 0.0, 0.0, 0.0, -1.0);
        log.take();
        QCOMPARE(d.setRGB(3, 0.1, 0.2, 0.3).code, 0);
        QCOMPARE(log.take(), QStringList({"ldmDataChanged"}));
        QCOMPARE(QList<double>({d.ldmRedGain(3), d.ldmGreenGain(3), d.ldmBlueGain(3), d.ldmIntensityGain(3)}),
                 QList<double>({0.1, 0.2, 0.3, 0.0}));
        QCOMPARE(d.red(), 12.25);
        const ErrorType outOfRange = d.setRGB(5, 0.1, 0.2, 0.3);
        QCOMPARE(outOfRange.code, 2);
        QVERIFY(outOfRange.message.isEmpty());
        QVERIFY(log.names.isEmpty());
    }

    void addingAndFetchDone()
    {
        TestDisplay d(QStringLiteral("Adding"));
        SignalLog log;
        log.watch(&d);

        // No LDM yet: the old extents stay; plural for 0.
        QTest::ignoreMessage(QtDebugMsg, "0 LDMs, spanning x from 0 to 2, y from 0 to 1");
        QTest::ignoreMessage(QtDebugMsg, "0 Tiles, spanning x from 0 to 2, y from 0 to 1");
        QTest::ignoreMessage(QtDebugMsg, "Tile #1: invalid Tile number 1");
        d.fetchLdmsDone();
        // All lit extents change from their start values when nothing is lit.
        QCOMPARE(log.take(), QStringList({"minXChanged", "maxXChanged", "minYChanged", "maxYChanged",
                                          "ldmCountChanged", "tileCountChanged", "refreshChanged",
                                          "fetchedOutputConfig", "ldmDataChanged", "minLitLdmXChanged",
                                          "minLitLdmYChanged", "maxLitLdmXChanged", "maxLitLdmYChanged"}));
        QCOMPARE(d.maxLitLdmX(), INT_MIN);
        QCOMPARE(d.minLitLdmX(), INT_MAX);

        // The first LDM sets the extents afresh, truncating toward zero; later
        // ones only widen them. Numbers: 0 becomes the position, others stay.
        Macropixel m;
        m.x = -10.7f;
        m.y = 20.9f;
        m.width = 30.5f;
        m.height = 10.0f;
        d.addLdm(m);
        QCOMPARE(QList<int>({d.minX(), d.maxX(), d.minY(), d.maxY()}), QList<int>({-10, 19, 20, 30}));
        m.x = -10.2f; // left of -10 as a float, truncated back to -10
        m.y = 25.0f;
        m.number = 9;
        d.addLdm(m);
        QCOMPARE(d.minX(), -10);
        QCOMPARE(d.ldms().at(0).number, 1u);
        QCOMPARE(d.ldms().at(1).number, 9u);
        m.number = 0;
        m.x = 100.0f;
        m.width = 0.75f;
        m.y = 0.5f;
        d.addLdm(m);
        QCOMPARE(QList<int>({d.minX(), d.maxX(), d.minY(), d.maxY()}), QList<int>({-10, 100, 0, 35}));
        QCOMPARE(d.ldms().at(2).number, 3u);

        Tile t;
        t.name = QStringLiteral("T");
        t.x = 1.5f;
        t.y = 2.0f;
        t.width = 10.25f;
        t.height = 3.0f;
        d.addTile(t);
        log.take();
        QTest::ignoreMessage(QtDebugMsg, "3 LDMs, spanning x from -10 to 100, y from 0 to 35");
        QTest::ignoreMessage(QtDebugMsg, "1 Tile, spanning x from -10 to 100, y from 0 to 35");
        QTest::ignoreMessage(QtDebugMsg, "Tile #1: Tile    1: T from   1.5,    2  to  11.75 ,    5");
        d.fetchLdmsDone();
        QCOMPARE(d.ldmCount(), 3u);
        QCOMPARE(d.tileCount(), 1u);
        QCOMPARE(d.litTileCount(), 1u);
        QCOMPARE(d.adjustableTileCount(), 1u);
        QCOMPARE(d.litLdmCount(), 3u);
        QCOMPARE(d.adjustableLdmCount(), 3u);
        QCOMPARE(QList<int>({d.minLitLdmX(), d.maxLitLdmX(), d.minLitLdmY(), d.maxLitLdmY()}),
                 QList<int>({-10, 100, 0, 35}));

        // Singular only for one LDM.
        d.ldms().resize(1);
        QTest::ignoreMessage(QtDebugMsg, "1 LDM, spanning x from -10 to 100, y from 0 to 35");
        d.fetchLdmsDone();
    }

    // Lookups by number and index, at 0, past the end and after the lists
    // shrank under counts that a failed fetch left behind.
    void lookupsAtTheEdges()
    {
        TestDisplay d(QStringLiteral("Edges"));
        buildTwoTiles(d);
        d.ldms()[1].x = 100.9f;
        d.ldms()[1].width = 99.6f;

        QCOMPARE(d.ldmX(2), 100);
        QCOMPARE(d.ldmWidth(2), 99);
        for (uint n : {0u, 5u, 1000u}) {
            QCOMPARE(d.ldmX(n), -1);
            QCOMPARE(d.ldmY(n), -1);
            QCOMPARE(d.ldmWidth(n), 0);
            QCOMPARE(d.ldmHeight(n), 0);
            QCOMPARE(d.ldmRedGain(n), 0.0);
            QCOMPARE(d.ldmIntensityGain(n), 0.0);
            QCOMPARE(d.ldmBlueObserved(n), 0.0);
            QVERIFY(!d.ldmIsLit(n));
            QVERIFY(!d.ldmAdjustable(n));
            QCOMPARE(d.ldm(n).number, 0u);
            QCOMPARE(d.dumpLdm(n), QStringLiteral("invalid LDM number %1").arg(n));
        }
        for (uint n : {0u, 3u}) {
            QCOMPARE(d.tileX(n), -1);
            QCOMPARE(d.tileWidth(n), 0);
            QVERIFY(!d.tileLit(n));
            QVERIFY(!d.tileAdjustable(n));
            QCOMPARE(d.tile(n).number, 0u);
            QCOMPARE(d.dumpTile(n), QStringLiteral("invalid Tile number %1").arg(n));
        }
        QCOMPARE(d.tileX(2), 200);
        QCOMPARE(d.tileHeight(2), 100);
        QVERIFY(d.tileLit(2));
        QCOMPARE(&d.ldm(4), &d.ldms()[3]);

        // Out of range: nothing stored, no signal, code 2 with no message.
        QSignalSpy data(&d, &DisplayBase::ldmDataChanged);
        QCOMPARE(d.setLdmRGB(0, 1, 1, 1, 1).code, 2);
        QCOMPARE(d.setLdmRGB(5, 1, 1, 1, 1).code, 2);
        d.setLdmRGBObserved(0, 9, 9, 9);
        d.setLdmRGBObserved(5, 9, 9, 9);
        QCOMPARE(data.count(), 0);
        QCOMPARE(d.setLdmRGB(4, 0.5, 0.25, 0.125).code, 0);
        QCOMPARE(data.count(), 1);
        d.setLdmRGBObserved(4, 1, 2, 3);
        QCOMPARE(QList<double>({d.ldmRedObserved(4), d.ldmGreenObserved(4), d.ldmBlueObserved(4)}),
                 QList<double>({1, 2, 3}));

        // A failed fetch empties the lists while the counts stay at 4 and 2:
        // every read by number stays inside the real lists.
        d.ldms().clear();
        d.tiles().clear();
        QCOMPARE(d.ldmCount(), 4u);
        QCOMPARE(d.ldmX(1), -1);
        QCOMPARE(d.ldmRedGain(4), 0.0);
        QVERIFY(!d.ldmIsLit(1));
        QCOMPARE(d.ldm(1).number, 0u);
        QCOMPARE(d.tile(1).number, 0u);
        QCOMPARE(d.tileX(1), -1);
        QCOMPARE(d.setLdmRGB(1, 1, 1, 1, 1).code, 2);
        d.setLdmRGBObserved(1, 1, 1, 1);
        QCOMPARE(d.findLdm(1, 50, 50), nullptr);
        QTest::ignoreMessage(QtDebugMsg, "********* DisplayBase::litLdm(1): ran off end of array");
        QCOMPARE(d.litLdm(1).number, 0u);
        QTest::ignoreMessage(QtDebugMsg, "********* DisplayBase::adjustableTile(2): ran off end of array");
        QCOMPARE(d.adjustableTile(2).number, 0u);
        Macropixel entry;
        entry.number = 1;
        entry.redGain = 0.5;
        QList<Macropixel*> entries {&entry};
        QCOMPARE(d.setLdmRGBs(entries).code, 0);
        d.getLdmObservedRGBs(entries);
        QCOMPARE(entry.redObserved, 0.0);
        QTest::ignoreMessage(QtDebugMsg, "invalid LDM number 1");
        QTest::ignoreMessage(QtDebugMsg, "invalid LDM number 4");
        d.dumpLdms();
    }

    // What a caller writes into the out-of-range record must not reach the
    // next caller.
    void defaultRecordsAreReset()
    {
        TestDisplay d(QStringLiteral("Defaults"));
        buildTwoTiles(d);
        auto poison = [](Macropixel& m) {
            m.number = 77;
            m.redGain = 5.0;
            m.lit = false;
            m.name = QStringLiteral("poison");
        };
        poison(d.ldm(0));
        QTest::ignoreMessage(QtDebugMsg, "********* DisplayBase::litLdm(0): index out of range 1–4");
        poison(d.litLdm(0));
        QTest::ignoreMessage(QtDebugMsg, "********* DisplayBase::adjustableLdm(5): index out of range 1–4");
        poison(d.adjustableLdm(5));

        const Macropixel& again = d.ldm(99);
        QCOMPARE(again.number, 0u);
        QCOMPARE(again.redGain, 0.0);
        QVERIFY(again.lit && again.name.isEmpty());
        QTest::ignoreMessage(QtDebugMsg, "********* DisplayBase::litLdm(9): index out of range 1–4");
        QCOMPARE(d.litLdm(9).redGain, 0.0);
        QTest::ignoreMessage(QtDebugMsg, "********* DisplayBase::adjustableLdm(0): index out of range 1–4");
        QVERIFY(d.adjustableLdm(0).lit);

        d.tile(0).name = QStringLiteral("poison");
        d.tile(0).ldmsWide = 8;
        QTest::ignoreMessage(QtDebugMsg, "********* DisplayBase::litTile(3): index out of range 1–2");
        d.litTile(3).changed = true;
        QTest::ignoreMessage(QtDebugMsg, "********* DisplayBase::adjustableTile(0): index out of range 2");
        d.adjustableTile(0).lit = false;
        QVERIFY(d.tile(7).name.isEmpty());
        QCOMPARE(d.tile(7).ldmsWide, 0);
        QTest::ignoreMessage(QtDebugMsg, "********* DisplayBase::litTile(0): index out of range 1–2");
        QVERIFY(!d.litTile(0).changed);
        QTest::ignoreMessage(QtDebugMsg, "********* DisplayBase::adjustableTile(3): index out of range 2");
        QVERIFY(d.adjustableTile(3).lit);
        // The model itself was never touched.
        for (const Macropixel& m : d.ldms())
            QVERIFY(m.redGain == 0.0 && m.lit);
    }

    void indexedLookups()
    {
        TestDisplay d(QStringLiteral("Indexed"));
        // No LDM lit: the range message shows the count 0.
        QTest::ignoreMessage(QtDebugMsg, "********* DisplayBase::litLdm(1): index out of range 1–0");
        QVERIFY(d.litLdm(1).selected);

        buildTwoTiles(d);
        d.selectLdms(QPoint(150, 0), QPoint(250, 100)); // LDMs 2 and 3
        d.lightSelectedLdms();
        d.adjustSelectedLdms(0);
        QCOMPARE(d.litLdmCount(), 2u);
        QCOMPARE(d.litLdm(1).number, 2u);
        QCOMPARE(d.litLdm(2).number, 3u);
        QCOMPARE(d.adjustableLdm(2).number, 3u);
        QTest::ignoreMessage(QtDebugMsg, "********* DisplayBase::litLdm(3): index out of range 1–2");
        QCOMPARE(d.litLdm(3).number, 0u);

        // The lit tile count is only set by a fetch: after tiles were switched
        // off the walk can run off the end.
        d.selectTiles(QPoint(250, 50), QPoint(251, 51));
        d.lightSelectedTiles();
        QCOMPARE(d.litTileCount(), 2u);
        QCOMPARE(d.litTile(1).number, 2u);
        QTest::ignoreMessage(QtDebugMsg, "********* DisplayBase::litTile(2): ran off end of array");
        QCOMPARE(d.litTile(2).number, 0u);
        d.adjustSelectedTiles(0);
        QCOMPARE(d.adjustableTileCount(), 1u);
        QCOMPARE(d.adjustableTile(1).number, 2u);
        QTest::ignoreMessage(QtDebugMsg, "********* DisplayBase::adjustableTile(2): index out of range 1");
        QCOMPARE(d.adjustableTile(2).number, 0u);
    }

    // Scoped access from another thread: the same records as the lookups,
    // nullptr where those hand out a default record, and the lock held.
    void scopedRecords_data()
    {
        QTest::addColumn<QString>("lookup");
        QTest::addColumn<uint>("argument");
        QTest::addColumn<uint>("number"); // 0: no record
        QTest::newRow("ldm") << "ldm" << 3u << 3u;
        QTest::newRow("ldm 0") << "ldm" << 0u << 0u;
        QTest::newRow("ldm past end") << "ldm" << 5u << 0u;
        QTest::newRow("lit ldm") << "litLdm" << 2u << 3u;
        QTest::newRow("lit ldm past lit") << "litLdm" << 3u << 0u;
        QTest::newRow("adjustable ldm") << "adjustableLdm" << 1u << 2u;
        QTest::newRow("tile") << "tile" << 2u << 2u;
        QTest::newRow("tile past end") << "tile" << 3u << 0u;
        QTest::newRow("lit tile") << "litTile" << 1u << 1u;
        QTest::newRow("adjustable tile 0") << "adjustableTile" << 0u << 0u;
        QTest::newRow("find in tile 2") << "findLdm" << 2u << 3u;
        QTest::newRow("find in wrong tile") << "findLdm" << 1u << 0u;
    }
    void scopedRecords()
    {
        QFETCH(QString, lookup);
        QFETCH(uint, argument);
        QFETCH(uint, number);
        TestDisplay d(QStringLiteral("Scoped"));
        buildTwoTiles(d);
        d.selectLdms(QPoint(150, 0), QPoint(250, 100)); // LDMs 2 and 3
        d.lightSelectedLdms();
        d.adjustSelectedLdms(0);

        // Standard threads: their join is one the thread checker sees, where
        // QThread::wait() in the uninstrumented Qt is not.
        std::atomic<uint> found {99};
        std::atomic<bool> lockedMeanwhile {true};
        std::thread reader([&] {
            DisplayBase::Records records(d);
            const void* record = nullptr;
            if (lookup == "ldm")
                record = records.ldm(argument);
            else if (lookup == "litLdm")
                record = records.litLdm(argument);
            else if (lookup == "adjustableLdm")
                record = records.adjustableLdm(argument);
            else if (lookup == "tile")
                record = records.tile(argument);
            else if (lookup == "litTile")
                record = records.litTile(argument);
            else if (lookup == "adjustableTile")
                record = records.adjustableTile(argument);
            else
                record = records.findLdm(argument, 250, 50);
            found = !record ? 0
                : lookup.contains("ile") ? static_cast<const Tile*>(record)->number
                                         : static_cast<const Macropixel*>(record)->number;
            // Another thread cannot take the model lock while this lives.
            std::thread other([&] {
                lockedMeanwhile = !d.modelMutex().tryLock();
                if (!lockedMeanwhile)
                    d.modelMutex().unlock();
            });
            other.join();
        });
        reader.join();
        QCOMPARE(found.load(), number);
        QVERIFY(lockedMeanwhile.load());
        QVERIFY(d.modelMutex().tryLock());
        d.modelMutex().unlock();
    }

    void findingLdms()
    {
        TestDisplay d(QStringLiteral("Find"));
        buildTwoTiles(d);
        QCOMPARE(d.findLdm(1, 0, 0), &d.ldms().at(0));
        QCOMPARE(d.findLdm(1, 99, 99), &d.ldms().at(0));
        QCOMPARE(d.findLdm(1, 100, 0), &d.ldms().at(1)); // right edge belongs to the next
        QCOMPARE(d.findLdm(1, 50, 100), nullptr);        // bottom edge is outside
        QCOMPARE(d.findLdm(1, -1, 50), nullptr);
        QCOMPARE(d.findLdm(2, 50, 50), nullptr);         // wrong tile
        QCOMPARE(d.findLdm(2, 250, 50), &d.ldms().at(2));
        QCOMPARE(d.findLdm(0, 250, 50), nullptr);

        QList<Macropixel*> ldms;
        for (Macropixel& m : d.ldms())
            ldms << &m;
        QCOMPARE(ldmForNumber(ldms, 3), &d.ldms()[2]);
        QTest::ignoreMessage(QtDebugMsg, "*** ldmForNumber: no LDM for #5 in list! Returning nullptr. ***");
        QCOMPARE(ldmForNumber(ldms, 5), nullptr);
        QList<Tile*> tiles;
        QTest::ignoreMessage(QtDebugMsg, "*** tileForNumber: no TILE for #1 in list! Returning nullptr. ***");
        QCOMPARE(tileForNumber(tiles, 1), nullptr);
        tiles << &d.tiles()[1] << &d.tiles()[0];
        QCOMPARE(tileForNumber(tiles, 1), &d.tiles()[0]);
    }

    void selectingLdms()
    {
        TestDisplay d(QStringLiteral("Select"));
        buildTwoTiles(d);
        const QList<bool> none {false, false, false, false};

        d.selectLdms(QPoint(0, 0), QPoint(0, 0));
        QCOMPARE(flags(d, &Macropixel::selected), none);
        // Exactly one LDM's rectangle selects exactly that LDM.
        d.selectLdms(QPoint(100, 0), QPoint(200, 100));
        QCOMPARE(flags(d, &Macropixel::selected), QList<bool>({false, true, false, false}));
        // Touching edges only: nothing.
        d.selectLdms(QPoint(200, 100), QPoint(300, 200));
        QCOMPARE(flags(d, &Macropixel::selected), none);
        // Corners are not put in order.
        d.selectLdms(QPoint(300, 100), QPoint(0, 0));
        QCOMPARE(flags(d, &Macropixel::selected), none);
        d.selectAllLdms();
        QCOMPARE(flags(d, &Macropixel::selected), QList<bool>({true, true, true, true}));
    }

    void selectingTiles()
    {
        TestDisplay d(QStringLiteral("Tiles"));
        // No tiles: the LDM rectangle is used as given.
        d.addLdm(Macropixel {});
        d.ldms()[0].width = 10;
        d.ldms()[0].height = 10;
        d.selectTiles(QPoint(10, 10), QPoint(20, 20));
        QCOMPARE(flags(d, &Macropixel::selected), QList<bool>({false}));
        d.selectTiles(QPoint(9, 9), QPoint(20, 20));
        QCOMPARE(flags(d, &Macropixel::selected), QList<bool>({true}));
        QCOMPARE(d.selectionRect(), QRect(QPoint(9, 9), QPoint(20, 20)));

        buildTwoTiles(d);
        QSignalSpy data(&d, &DisplayBase::ldmDataChanged);
        // One pixel of tile 2 selects every LDM of tile 2 and nothing else.
        d.selectTiles(QPoint(250, 50), QPoint(251, 51));
        QCOMPARE(flags(d, &Macropixel::selected), QList<bool>({false, false, true, true}));
        QVERIFY(!d.tiles().at(0).selected && d.tiles().at(1).selected);
        QCOMPARE(data.count(), 0);
        // Kept as given, not normalised.
        d.selectTiles(QPoint(251, 51), QPoint(250, 50));
        QCOMPARE(d.selectionRect().topLeft(), QPoint(251, 51));
        QCOMPARE(d.selectionRect().bottomRight(), QPoint(250, 50));
        QCOMPARE(flags(d, &Macropixel::selected), QList<bool>({false, false, true, true}));
        // The shared edge x = 200 touches both tiles and selects neither.
        d.selectTiles(QPoint(200, 0), QPoint(200, 100));
        QVERIFY(!d.tiles().at(0).selected && !d.tiles().at(1).selected);
        QCOMPARE(flags(d, &Macropixel::selected), QList<bool>({false, false, false, false}));
        // A tile's right edge is truncated: 199.9 wide ends at 199, which a
        // drag from x 199 does not pass; the grown LDM rectangle still starts
        // at 199 and takes LDM 2 with tile 2.
        d.tiles()[0].width = 199.9f;
        d.selectTiles(QPoint(199, 10), QPoint(210, 20));
        QVERIFY(!d.tiles().at(0).selected && d.tiles().at(1).selected);
        QCOMPARE(flags(d, &Macropixel::selected), QList<bool>({false, true, true, true}));
        // A drag ending inside tile 1 grows to all of it.
        d.selectTiles(QPoint(150, 10), QPoint(160, 20));
        QCOMPARE(flags(d, &Macropixel::selected), QList<bool>({true, true, false, false}));

        d.selectAllTiles();
        QCOMPARE(d.selectionRect(), QRect());
        QCOMPARE(d.litRect(), QRect());
        QCOMPARE(flags(d, &Macropixel::selected), QList<bool>({true, true, true, true}));
        QVERIFY(d.tiles().at(0).selected && d.tiles().at(1).selected);
    }

    void markingAdjustable()
    {
        TestDisplay d(QStringLiteral("Adjust"));
        SignalLog log;
        log.watch(&d);
        // Even an empty list signals.
        d.adjustSelectedLdms(1);
        QCOMPARE(log.take(), QStringList({"ldmDataChanged", "adjustableLdmCountChanged"}));

        buildTwoTiles(d);
        d.setLdmRGB(4, 0, 0, 0, -1.0); // switched off
        d.selectLdms(QPoint(50, 0), QPoint(350, 100)); // all four
        d.adjustSelectedLdms(0);
        QCOMPARE(flags(d, &Macropixel::adjustable), QList<bool>({true, true, true, false}));
        QCOMPARE(d.adjustableLdmCount(), 3u);

        d.selectLdms(QPoint(150, 0), QPoint(250, 100)); // 2 and 3
        d.adjustSelectedLdms(-1);
        QCOMPARE(flags(d, &Macropixel::adjustable), QList<bool>({true, false, false, false}));
        QCOMPARE(d.adjustableLdmCount(), 1u);
        d.selectLdms(QPoint(250, 0), QPoint(350, 100)); // 3 and 4
        d.adjustSelectedLdms(1);
        QCOMPARE(flags(d, &Macropixel::adjustable), QList<bool>({true, false, true, false}));
        d.adjustSelectedLdms(0);
        QCOMPARE(flags(d, &Macropixel::adjustable), QList<bool>({false, false, true, false}));
        QCOMPARE(d.adjustableLdmCount(), 1u);
        // -0.9 itself counts as off.
        d.setLdmRGB(3, 0, 0, 0, -0.9);
        d.adjustSelectedLdms(1);
        QCOMPARE(flags(d, &Macropixel::adjustable), QList<bool>({false, false, true, false}));
        d.adjustSelectedLdms(0);
        QCOMPARE(flags(d, &Macropixel::adjustable), QList<bool>({false, false, false, false}));

        // Tiles: by selection and lit flag, then the LDMs with the same mode.
        d.setLdmRGB(3, 0, 0, 0, 0);
        d.setLdmRGB(4, 0, 0, 0, 0);
        d.tiles()[0].lit = false;
        d.selectTiles(QPoint(0, 0), QPoint(400, 100));
        d.adjustSelectedTiles(0);
        QVERIFY(!d.tiles().at(0).adjustable && d.tiles().at(1).adjustable);
        QCOMPARE(d.adjustableTileCount(), 1u);
        QCOMPARE(d.adjustableLdmCount(), 4u);
        d.selectTiles(QPoint(250, 0), QPoint(260, 10));
        d.adjustSelectedTiles(-1);
        QCOMPARE(d.adjustableTileCount(), 0u);
        QCOMPARE(flags(d, &Macropixel::adjustable), QList<bool>({true, true, false, false}));
        d.tiles()[0].lit = true;
        d.selectTiles(QPoint(0, 0), QPoint(10, 10));
        d.adjustSelectedTiles(1);
        QVERIFY(d.tiles().at(0).adjustable && !d.tiles().at(1).adjustable);
        QCOMPARE(d.adjustableTileCount(), 1u);
    }

    void lightingAndLitExtents()
    {
        TestDisplay d(QStringLiteral("Light"));
        buildTwoTiles(d);
        for (uint n = 1; n <= 4; ++n)
            d.setLdmRGBObserved(n, 10, 20, 30);

        SignalLog log;
        log.watch(&d);
        d.selectLdms(QPoint(150, 0), QPoint(250, 100)); // 2 and 3
        d.lightSelectedLdms();
        QCOMPARE(log.take(), QStringList({"ldmDataChanged", "minLitLdmXChanged", "maxLitLdmXChanged",
                                          "litLdmCountChanged", "adjustableLdmCountChanged"}));
        QCOMPARE(flags(d, &Macropixel::lit), QList<bool>({false, true, true, false}));
        QCOMPARE(d.ldmIntensityGain(1), -1.0);
        QCOMPARE(d.ldmIntensityGain(2), 0.0);
        QCOMPARE(d.ldmRedObserved(1), 0.0);
        QCOMPARE(d.ldmBlueObserved(2), 30.0);
        QCOMPARE(QList<int>({d.minLitLdmX(), d.maxLitLdmX(), d.minLitLdmY(), d.maxLitLdmY()}),
                 QList<int>({100, 300, 0, 100}));
        QCOMPARE(d.litLdmCount(), 2u);
        // The same again: only the data signal.
        d.lightSelectedLdms();
        QCOMPARE(log.take(), QStringList({"ldmDataChanged"}));

        // Darkening the lit ones keeps their flags and the extents.
        d.lightLitLdms(false);
        QCOMPARE(log.take(), QStringList({"ldmDataChanged"}));
        QCOMPARE(d.ldmIntensityGain(2), -1.0);
        QCOMPARE(d.ldmIntensityGain(1), -1.0);
        QVERIFY(d.ldmIsLit(2));
        d.lightLitLdms(true);
        QCOMPARE(d.ldmIntensityGain(2), 0.0);
        QCOMPARE(d.ldmIntensityGain(1), -1.0);

        // Reset: colour only, then intensity (which relights and recounts).
        for (uint n = 1; n <= 4; ++n)
            d.setLdmRGB(n, 0.1, 0.2, 0.3, d.ldmIntensityGain(n));
        log.take();
        d.resetLdms(true, false);
        QCOMPARE(log.take(), QStringList({"ldmDataChanged"}));
        QCOMPARE(d.ldmGreenGain(3), 0.0);
        QCOMPARE(d.ldmIntensityGain(1), -1.0);
        d.adjustSelectedLdms(-1);
        log.take();
        d.resetLdms(false, true);
        QCOMPARE(log.take(), QStringList({"ldmDataChanged", "minLitLdmXChanged", "maxLitLdmXChanged",
                                          "litLdmCountChanged", "adjustableLdmCountChanged"}));
        QCOMPARE(flags(d, &Macropixel::lit), QList<bool>({true, true, true, true}));
        QCOMPARE(flags(d, &Macropixel::adjustable), QList<bool>({true, true, true, true}));
        QCOMPARE(d.ldmIntensityGain(1), 0.0);
        QCOMPARE(d.minLitLdmX(), 0);
        QCOMPARE(d.maxLitLdmX(), 400);

        // Everything off: the extents keep their search start values.
        d.selectLdms(QPoint(0, 0), QPoint(0, 0));
        d.lightSelectedLdms();
        QCOMPARE(d.maxLitLdmX(), INT_MIN);
        QCOMPARE(d.minLitLdmX(), INT_MAX);
        QCOMPARE(d.maxLitLdmY(), INT_MIN);
        QCOMPARE(d.minLitLdmY(), INT_MAX);
        QCOMPARE(d.litLdmCount(), 0u);
        log.take();
        d.setLitExtents();
        QVERIFY(log.names.isEmpty());

        // Only an LDM both lit and adjustable counts as adjustable.
        const bool litAndAdjustable[4][2] = {{true, true}, {true, false}, {false, true}, {false, true}};
        for (int i = 0; i < 4; ++i) {
            d.ldms()[i].lit = litAndAdjustable[i][0];
            d.ldms()[i].adjustable = litAndAdjustable[i][1];
        }
        d.setLitExtents();
        QCOMPARE(d.litLdmCount(), 2u);
        QCOMPARE(d.adjustableLdmCount(), 1u);
        QCOMPARE(QList<int>({d.minLitLdmX(), d.maxLitLdmX()}), QList<int>({0, 200}));
    }

    void litTilesAreRecalled()
    {
        QSettings().setValue(QStringLiteral("Recall/address"), QStringLiteral("10.1.2.3"));
        TestDisplay d(QStringLiteral("Recall"));
        buildTwoTiles(d);

        // Nothing stored: everything lit and adjustable.
        d.recallLitTiles();
        QCOMPARE(flags(d, &Macropixel::lit), QList<bool>({true, true, true, true}));
        QCOMPARE(d.adjustableLdmCount(), 4u);
        QCOMPARE(d.adjustableTileCount(), 2u);

        // Lighting a tile selection stores it for this address...
        d.selectTiles(QPoint(350, 99), QPoint(360, 120));
        d.lightSelectedTiles();
        QCOMPARE(flags(d, &Macropixel::lit), QList<bool>({false, false, true, true}));
        QVERIFY(!d.tiles().at(0).lit && d.tiles().at(1).lit);
        const QRect stored(QPoint(350, 99), QPoint(360, 120));
        QCOMPARE(d.litRect(), stored);
        QCOMPARE(QSettings().value(QStringLiteral("litTiles10.1.2.3")).toRect(), stored);

        // ...and a rebuilt wall gets it back.
        buildTwoTiles(d);
        QCOMPARE(flags(d, &Macropixel::lit), QList<bool>({true, true, true, true}));
        d.recallLitTiles();
        QCOMPARE(flags(d, &Macropixel::lit), QList<bool>({false, false, true, true}));
        QCOMPARE(flags(d, &Macropixel::adjustable), QList<bool>({false, false, true, true}));
        QCOMPARE(d.adjustableTileCount(), 1u);

        // A new display on the same address starts from the stored rectangle.
        TestDisplay again(QStringLiteral("Recall"));
        QCOMPARE(again.litRect(), stored);

        // Selecting all tiles forgets the rectangle.
        d.selectAllTiles();
        QCOMPARE(QSettings().value(QStringLiteral("litTiles10.1.2.3")).toRect(), QRect());
    }

    void copyingGainsInAndOut()
    {
        TestDisplay d(QStringLiteral("Copy"));
        buildTwoTiles(d);
        QList<Macropixel*> none;
        QCOMPARE(d.setLdmRGBs(none).code, 2);

        Macropixel a, b, c, wrong;
        a.number = 2;
        a.redGain = 0.1;
        a.greenGain = 0.2;
        a.blueGain = 0.3;
        a.intensityGain = -1.0;
        b.number = 0;        // skipped
        c.number = 5;        // past the end: skipped
        c.redGain = 9.0;
        wrong.number = 3;
        wrong.redGain = 0.7;
        d.ldms()[2].number = 33; // model record whose number does not match its position
        QList<Macropixel*> entries {&a, nullptr, &b, &c, &wrong};
        QSignalSpy data(&d, &DisplayBase::ldmDataChanged);
        QTest::ignoreMessage(QtDebugMsg, "setLdmRGBs number error!");
        QCOMPARE(d.setLdmRGBs(entries).code, 0);
        QCOMPARE(data.count(), 1);
        QCOMPARE(QList<double>({d.ldmRedGain(2), d.ldmGreenGain(2), d.ldmBlueGain(2), d.ldmIntensityGain(2)}),
                 QList<double>({0.1, 0.2, 0.3, -1.0}));
        QCOMPARE(d.ldmRedGain(3), 0.7); // used all the same
        QCOMPARE(d.ldmRedGain(1), 0.0);
        QCOMPARE(d.ldmRedGain(4), 0.0);

        d.setLdmRGBObserved(2, 11, 12, 13);
        d.setLdmRGBObserved(3, 21, 22, 23);
        QTest::ignoreMessage(QtDebugMsg, "getLdmObservedRGBs number error!");
        d.getLdmObservedRGBs(entries);
        QCOMPARE(QList<double>({a.redObserved, a.greenObserved, a.blueObserved}), QList<double>({11, 12, 13}));
        QCOMPARE(wrong.blueObserved, 23.0);
        QCOMPARE(c.redObserved, 0.0);
        QCOMPARE(data.count(), 1);
    }

    void dumps()
    {
        TestDisplay d(QStringLiteral("Dump"));
        buildTwoTiles(d);
        d.setLdmRGB(2, 0.1, -0.25, 12.3456, -1);
        d.setLdmRGBObserved(2, 190, 0, 1234.5);
        d.ldms()[1].y = 0.125f;
        QCOMPARE(d.dumpLdm(2), QStringLiteral("LDM    2: AA:BB:CC:DD:EE:01 #2 @  100, 0.125;  rgbi gains  "
                                              "0.100, -0.250, 12.346, -1.000;  RGB 190.00,   0.00, 1234.50"));
        d.tiles()[1].x = 1234567.0f;
        QCOMPARE(d.dumpTile(2),
                 QStringLiteral("Tile    2: AA:BB:CC:DD:EE:02 from  1.23457e+06,    0  to  1.23477e+06 ,  100"));
        // Names are not taken for placeholders.
        d.ldms()[0].name = QStringLiteral("%1%2");
        QVERIFY(d.dumpLdm(1).startsWith(QStringLiteral("LDM    1: %1%2 #1 @    0,    0;")));

        QTest::ignoreMessage(QtDebugMsg, "Tile    1: AA:BB:CC:DD:EE:01 from     0,    0  to   200 ,  100");
        QTest::ignoreMessage(QtDebugMsg,
                             "Tile    2: AA:BB:CC:DD:EE:02 from  1.23457e+06,    0  to  1.23477e+06 ,  100");
        d.dumpTiles();
    }

    // The correction engine writes gains from its own thread while the GUI
    // thread rebuilds and reads the lists.
    void concurrentWritersAndReaders()
    {
        TestDisplay d(QStringLiteral("Threads"));
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context,
                                             const QString& message) {
            if (type != QtDebugMsg)
                previous(type, context, message);
        });
        d.fetchLdms();

        std::atomic<bool> stop {false};
        std::atomic<int> passes {0};
        QThread* writer = QThread::create([&d, &stop, &passes] {
            QList<Macropixel> records(150);
            QList<Macropixel*> entries;
            for (int i = 0; i < records.size(); ++i) {
                records[i].number = uint(i + 1);
                entries << &records[i];
            }
            for (int k = 0; !stop; ++k) {
                for (Macropixel& m : records)
                    m.redGain = k;
                d.setLdmRGBs(entries);
                d.setLdmRGB(uint(1 + k % 150), k, k, k, 0.0);
                d.setLdmRGBObserved(uint(1 + k % 150), k, k, k);
                d.getLdmObservedRGBs(entries);
                d.setDisplayGainRGB(1.0, 1.0, 1.0);
                d.colorStr(); // the cached texts are written from both threads
                d.colorReadout();
                ++passes;
            }
        });
        writer->start();
        double sink = 0;
        for (int round = 0; round < 1000 || passes < 100; ++round) {
            d.fetchLdms();
            if (round % 100 == 0)
                d.recallLitTiles();
            d.lightSelectedLdms();
            for (uint n = 0; n <= 150; ++n)
                sink += d.ldmX(n) + d.ldmRedGain(n) + d.ldmGreenObserved(n) + (d.ldmIsLit(n) ? 1 : 0);
            sink += d.colorStr().size() + d.colorReadout().size();
        }
        stop = true;
        writer->wait();
        delete writer;
        qInstallMessageHandler(previous);
        QVERIFY(sink != 0);
        QCOMPARE(d.ldmCount(), 144u);
    }
};

VELTRANO_TEST_MAIN(TestDisplayBase)
#include "tst_displaybase.moc"
