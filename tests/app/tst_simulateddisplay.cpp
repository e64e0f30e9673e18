#include "testsupport.h"

#include "simulateddisplay.h"

#include <QSettings>
#include <QSignalSpy>

class TestSimulatedDisplay : public QObject
{
    Q_OBJECT

    static void fetchQuietly(SimulatedDisplay& d)
    {
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^144 LDMs")));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^1 Tile,")));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Tile #1: ")));
        QCOMPARE(d.fetchLdms().code, 0);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
    }

    void identity()
    {
        QSettings().setValue(QStringLiteral("Simulated Display/address"), QStringLiteral("10.0.0.1"));
        SimulatedDisplay d;
        QCOMPARE(d.name(), QStringLiteral("Simulated Display"));
        QCOMPARE(d.address(), QStringLiteral("N/A"));
        QCOMPARE(QSettings().value(QStringLiteral("Simulated Display/address")).toString(), QStringLiteral("N/A"));
        QVERIFY(!d.supportsMeshUniformity());
        QVERIFY(!d.isVantor());
        QCOMPARE(d.ldmCount(), 0u);
        QCOMPARE(QString::fromLatin1(d.metaObject()->className()), QStringLiteral("SimulatedDisplay"));
    }

    void defaultWall()
    {
        SimulatedDisplay d;
        QSignalSpy fetched(&d, &DisplayBase::fetchedOutputConfig);
        QTest::ignoreMessage(QtDebugMsg, "144 LDMs, spanning x from 1000 to 2600, y from 50 to 950");
        QTest::ignoreMessage(QtDebugMsg, "1 Tile, spanning x from 1000 to 2600, y from 50 to 950");
        QTest::ignoreMessage(QtDebugMsg,
                             "Tile #1: Tile    1: 12:34:56:78:9A:BC from  1000,   50  to  2600 ,  950");
        QCOMPARE(d.fetchLdms().code, 0);
        QCOMPARE(fetched.count(), 1);

        QCOMPARE(d.ldmCount(), 144u);
        QCOMPARE(d.tileCount(), 1u);
        QCOMPARE(d.litLdmCount(), 144u);
        QCOMPARE(d.adjustableLdmCount(), 144u);
        QCOMPARE(QList<int>({d.minX(), d.maxX(), d.minY(), d.maxY()}), QList<int>({1000, 2600, 50, 950}));
        QCOMPARE(QList<int>({d.minLitLdmX(), d.maxLitLdmX(), d.minLitLdmY(), d.maxLitLdmY()}),
                 QList<int>({1000, 2600, 50, 950}));

        // Row by row from the top, left to right.
        QCOMPARE(d.ldmX(1), 1000);
        QCOMPARE(d.ldmY(1), 50);
        QCOMPARE(d.ldmX(16), 2500);
        QCOMPARE(d.ldmY(16), 50);
        QCOMPARE(d.ldmX(17), 1000);
        QCOMPARE(d.ldmY(17), 150);
        QCOMPARE(d.ldmX(144), 2500);
        QCOMPARE(d.ldmY(144), 850);
        QCOMPARE(d.ldmX(145), -1);
        for (uint n = 1; n <= 144; ++n) {
            const Macropixel& m = d.ldm(n);
            QCOMPARE(m.number, n);
            QCOMPARE(m.index, int((n - 1) % 4) + 1);
            QCOMPARE(m.tile, 1u);
            QCOMPARE(m.name, QStringLiteral("12:34:56:78:9A:BC"));
            QCOMPARE(m.width, 100.0f);
            QCOMPARE(m.height, 100.0f);
            QVERIFY(m.selected && m.adjustable && m.lit);
            QCOMPARE(m.intensityGain, 0.0);
        }
        QVERIFY(d.dumpLdm(6).contains(QStringLiteral(" #2 @ ")));
        QCOMPARE(d.dumpLdm(6), QStringLiteral("LDM    6: 12:34:56:78:9A:BC #2 @ 1500,   50;  rgbi gains  "
                                              "0.000,  0.000,  0.000,  0.000;  RGB   0.00,   0.00,   0.00"));

        const Tile& t = d.tile(1);
        QCOMPARE(t.number, 1u);
        QCOMPARE(QList<float>({t.x, t.y, t.width, t.height}), QList<float>({1000, 50, 1600, 900}));
        QCOMPARE(t.ldmsWide, 0);
        QCOMPARE(t.ldmsHigh, 0);
        QVERIFY(t.selected && t.adjustable && t.lit);

        QCOMPARE(d.findLdm(1, 1050, 100), &d.ldm(1));
        QCOMPARE(d.findLdm(1, 2599, 949), &d.ldm(144));
        QCOMPARE(d.findLdm(1, 2600, 949), nullptr);
        QCOMPARE(d.findLdm(2, 1050, 100), nullptr);

        // Six LDM lines, then the rest counted.
        static QStringList lines;
        lines.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& message) { lines << message; });
        d.dumpLdms();
        qInstallMessageHandler(previous);
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines.at(0), QStringLiteral("LDM    1: 12:34:56:78:9A:BC #1 @ 1000,   50;  rgbi gains  "
                                             "0.000,  0.000,  0.000,  0.000;  RGB   0.00,   0.00,   0.00"));
        QCOMPARE(lines.at(5), d.dumpLdm(6));
        QCOMPARE(lines.at(6), QStringLiteral("...and 138 more."));
    }

    // Each fetch lays the wall out afresh; the recall that follows it lights
    // and marks the LDMs again by the stored rectangle.
    void refetchAndRecall()
    {
        SimulatedDisplay d;
        fetchQuietly(d);
        d.setLdmRGB(5, 0.1, 0.2, 0.3, -1.0);
        d.setLdmRGBObserved(5, 1, 2, 3);
        d.selectLdms(QPoint(1000, 50), QPoint(1100, 150));
        d.lightSelectedLdms();
        QCOMPARE(d.litLdmCount(), 1u);

        fetchQuietly(d);
        QCOMPARE(d.ldmCount(), 144u);
        QCOMPARE(d.ldmRedGain(5), 0.0);
        QCOMPARE(d.ldmIntensityGain(5), 0.0);
        QCOMPARE(d.ldmRedObserved(5), 0.0);
        QVERIFY(d.ldmIsLit(2) && d.ldmAdjustable(2));
        QCOMPARE(d.litLdmCount(), 144u);

        // No stored rectangle: everything stays lit and adjustable.
        d.recallLitTiles();
        QCOMPARE(d.litLdmCount(), 144u);
        QCOMPARE(d.adjustableLdmCount(), 144u);

        // A stored tile selection covers the whole (single) tile: all lit.
        d.selectTiles(QPoint(1500, 500), QPoint(1501, 501));
        d.lightSelectedTiles();
        QCOMPARE(QSettings().value(QStringLiteral("litTilesN/A")).toRect(),
                 QRect(QPoint(1500, 500), QPoint(1501, 501)));
        QCOMPARE(d.litLdmCount(), 144u);

        // A selection beside the wall lights nothing; a new display on the
        // same settings recalls it.
        d.selectTiles(QPoint(0, 0), QPoint(10, 10));
        d.lightSelectedTiles();
        QCOMPARE(d.litLdmCount(), 0u);
        SimulatedDisplay again;
        fetchQuietly(again);
        QCOMPARE(again.litLdmCount(), 144u);
        again.recallLitTiles();
        QCOMPARE(again.litLdmCount(), 0u);
        QCOMPARE(again.adjustableLdmCount(), 0u);
        again.selectAllTiles();
        again.lightSelectedTiles();
        QCOMPARE(again.litLdmCount(), 144u);
    }

    void deviceOperationsAcceptEverything()
    {
        SimulatedDisplay d;
        fetchQuietly(d);
        d.setLdmRGB(3, 0.25, 0.5, 0.75, 0.0);
        QSignalSpy data(&d, &DisplayBase::ldmDataChanged);

        Macropixel cell;
        cell.number = 3;
        cell.redGain = -0.5;
        QList<Macropixel*> cells {&cell, nullptr};
        QList<Macropixel*> empty;
        QCOMPARE(d.setMeshRGBs(cells, 1.0f).code, 0);
        QCOMPARE(d.setMeshRGBs(empty, -1.0f).code, 0);
        QCOMPARE(d.commitMeshRGBs(cells).code, 0);
        QCOMPARE(d.resetMesh().code, 0);
        QCOMPARE(d.displayTestPattern(DisplayBase::TestPatternGenerated, 0, -5).code, 0);
        QCOMPARE(d.displayTestPattern(DisplayBase::TestPattern(42), 1, 1).code, 0);
        QCOMPARE(d.read().code, 0);
        QCOMPARE(d.sendCalibration({DisplayBase::CalibrationPoint()}, 1.0, 0.95, 0.9).code, 0);
        d.cancel();
        QCOMPARE(data.count(), 0);
        QCOMPARE(d.ldmRedGain(3), 0.25);
        QCOMPARE(d.displayGainGreen(), 1.0);

        // Colour and gains land in the model only.
        QCOMPARE(d.setRGB(0, 0.1, 0.2, 0.3).code, 0);
        QCOMPARE(d.colorReadout(), QStringLiteral("red:0.100000  green:0.200000  blue:0.300000"));
        QCOMPARE(d.setRGB(7, 0.1, 0.2, 0.3).code, 0);
        QCOMPARE(d.ldmBlueGain(7), 0.3);
        QCOMPARE(d.setDisplayGainRGB(1.0, 0.9, 0.8).code, 0);
        QCOMPARE(d.displayGainBlue(), 0.8);
    }
};

VELTRANO_TEST_MAIN(TestSimulatedDisplay)
#include "tst_simulateddisplay.moc"
