// Output curves from linearity points: positions, slopes and handles on
// worked inputs, dropped empty steps, and the inputs that give no curves.
#include "linearitycurves.h"
#include "messagecapture.h"
#include "testsupport.h"

#include <cmath>
#include <limits>

namespace {

CalibrationPoint grey(double red, double green, double blue)
{
    CalibrationPoint p;
    p.red = red;
    p.green = green;
    p.blue = blue;
    return p;
}

bool near(double a, double b)
{
    return std::abs(a - b) < 1e-12;
}

} // namespace

class TestLinearityCurves : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Two points on the diagonal: the chord is the tangent at both ends,
    // the handles 0.0707 from their points along it.
    void twoPoints()
    {
        QList<CalibrationPoint> points {grey(0, 0, 0), grey(1, 1, 1)};
        QVERIFY(computeCurveHandles(points, 2.0));
        const double d = 0.0707 / std::sqrt(2.0);
        QVERIFY(near(points[0].greenMx, d) && near(points[0].greenMy, d));
        QVERIFY(near(points[1].blueMx, 1 - d) && near(points[1].blueMy, 1 - d));
    }

    // Straight lines keep their slope at every point, each primary its own;
    // px follows the step spacing.
    void straightLinesWithSpacing()
    {
        QList<CalibrationPoint> points;
        for (double px : {0.0, 0.0625, 0.25, 0.5625, 1.0})
            points.append(grey(px, 0.5 * px, px));
        QVERIFY(computeCurveHandles(points, 2.0));
        for (const CalibrationPoint& p : points)
            QVERIFY(p.redPx == p.red && near(p.redSlope, 1.0) && near(p.greenSlope, 0.5) && near(p.blueSlope, 1.0));
    }

    // A bend: the first slope comes out negative and is limited to 0; the
    // inner slope weighs the shorter side more; the last one is not limited.
    void bendLimitsTheFirstSlope()
    {
        QList<CalibrationPoint> points {grey(0, 0, 0), grey(0.1, 0.1, 0.1), grey(0.9, 0.9, 0.9)};
        testsupport::MessageCapture log;
        QVERIFY(computeCurveHandles(points, 1.0));
        QCOMPARE(log.count(QStringLiteral("Limiting p0’s computed slope of -0.50000000 to 0.0")), 3);
        QCOMPARE(points[0].redSlope, 0.0);
        QVERIFY(near(points[0].redMx, 0.0707) && points[0].redMy == 0.0);
        QVERIFY(near(points[1].greenSlope, 0.51652173913043475));
        QVERIFY(near(points[1].greenMx, 0.56281542373469617) && near(points[1].greenMy, 0.13244553191166042));
        QVERIFY(near(points[2].blueSlope, 2.3));
        QVERIFY(near(points[2].blueMx, 0.9718100639229984) && near(points[2].blueMy, 0.83516314702289629));
    }

    // Black steps after the first are dropped; the rest keep their px.
    void emptyStepsAreDropped()
    {
        QList<CalibrationPoint> points {grey(0, 0, 0), grey(0, 0, 0), grey(0, 0, 0), grey(0.5, 0.5, 0.5),
                                        grey(1, 1, 1)};
        QVERIFY(computeCurveHandles(points, 2.0));
        QCOMPARE(points.size(), 3);
        QCOMPARE(points[1].redPx, 0.5625);
        QCOMPARE(points[1].redPy, 0.5);
        QCOMPARE(points[2].bluePx, 1.0);
    }

    void nothingToProcess_data()
    {
        QTest::addColumn<QList<CalibrationPoint>>("points");
        QTest::addColumn<double>("spacing");
        const QList<CalibrationPoint> good {grey(0, 0, 0), grey(0.5, 0.5, 0.5), grey(1, 1, 1)};
        QTest::newRow("empty") << QList<CalibrationPoint>() << 1.0;
        QTest::newRow("one point") << QList<CalibrationPoint> {grey(1, 1, 1)} << 1.0;
        QTest::newRow("black last point") << QList<CalibrationPoint> {grey(0, 0, 0), grey(1, 1, 1), grey(0, 0, 0)}
                                          << 1.0;
        QTest::newRow("zero spacing") << good << 0.0;
        QTest::newRow("negative spacing") << good << -1.0;
        QTest::newRow("NaN spacing") << good << std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("infinite spacing") << good << std::numeric_limits<double>::infinity();
        QTest::newRow("NaN level") << QList<CalibrationPoint> {grey(0, 0, 0), grey(std::nan(""), 1, 1), grey(1, 1, 1)}
                                   << 1.0;
    }

    // No curves, and the points are left as they were.
    void nothingToProcess()
    {
        QFETCH(QList<CalibrationPoint>, points);
        QFETCH(double, spacing);
        const QList<CalibrationPoint> before = points;
        QVERIFY(!computeCurveHandles(points, spacing));
        QCOMPARE(points.size(), before.size());
        for (qsizetype i = 0; i < points.size(); ++i)
            QCOMPARE(points[i].redMx, before[i].redMx);
    }
};

VELTRANO_TEST_MAIN(TestLinearityCurves)

#include "tst_linearitycurves.moc"
