// The lens-compensation images built into the program: where they are, how
// they are named and that they hold the lens model's fall-off.

#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QtTest>

#include <cmath>

class TestLensComp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void imagesAreBuiltInAndNamed();
    void flatFieldsFollowTheLensModel_data();
    void flatFieldsFollowTheLensModel();
};

void TestLensComp::imagesAreBuiltInAndNamed()
{
    // The folder is addressed as ":src/lenscomp" by the lens lists.
    const QDir folder(QStringLiteral(":src/lenscomp"));
    QVERIFY(folder.exists());
    const QStringList files =
        folder.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name | QDir::IgnoreCase);
    QCOMPARE(files.size(), 34);

    // camera _ lens words _ @focal[~focal] [_ [WxH]] .jpg
    static const QRegularExpression pattern(
        QStringLiteral("^(ILCE-7C|ILCE-7SM3)_FE_4\\^024-(070|105)_@\\d{3}(~\\d+)?(_\\[\\d+x\\d+\\])?\\.jpg$"));
    int large = 0;
    for (const QString& name : files) {
        QVERIFY2(pattern.match(name).hasMatch(), qPrintable(name));
        const QImage image(folder.filePath(name));
        QVERIFY2(!image.isNull(), qPrintable(name));
        QCOMPARE(image.width() * 2, image.height() * 3);
        const QSize expected = name.contains("[1200x800]") ? QSize(1200, 800) : QSize(180, 120);
        QCOMPARE(image.size(), expected);
        large += expected.width() == 1200;
    }
    QCOMPARE(large, 2);
    for (const char* name : {"ILCE-7C_FE_4^024-070_@050.jpg", "ILCE-7C_FE_4^024-070_@050~70.jpg",
                             "ILCE-7C_FE_4^024-070_@035_[1200x800].jpg", "ILCE-7SM3_FE_4^024-105_@070~105.jpg"})
        QVERIFY2(files.contains(QString::fromLatin1(name)), name);
}

void TestLensComp::flatFieldsFollowTheLensModel_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("k");
    QTest::newRow("50 mm") << "ILCE-7C_FE_4^024-070_@050.jpg" << 1.2829823e-5;
    QTest::newRow("70 mm") << "ILCE-7C_FE_4^024-070_@070.jpg" << 1.1498427e-5;
    QTest::newRow("35 mm, large") << "ILCE-7C_FE_4^024-070_@035_[1200x800].jpg" << -1.0;
}

void TestLensComp::flatFieldsFollowTheLensModel()
{
    QFETCH(QString, name);
    QFETCH(double, k);
    const QImage image = QImage(QStringLiteral(":src/lenscomp/") + name).convertToFormat(QImage::Format_RGB888);
    QVERIFY(!image.isNull());
    const int w = image.width();
    const int h = image.height();
    auto level = [&](int c, int r) { return qGreen(image.pixel(c, r)); };

    // Bright in the middle, darker towards every corner, the same in all channels.
    QVERIFY(level(w / 2, h / 2) >= 253);
    for (const QPoint corner : {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1)}) {
        QVERIFY(level(corner.x(), corner.y()) < level(w / 2, h / 2) - 20);
        const QRgb px = image.pixel(corner);
        QVERIFY(std::abs(qRed(px) - qGreen(px)) <= 2 && std::abs(qBlue(px) - qGreen(px)) <= 2);
    }
    if (k < 0)
        return;
    // Dividing by the image undoes the same gain as the analytic model:
    // 255 / level = 1 / (1 - k (dx^2 + dy^2)) on the 180 by 120 grid.
    for (const QPoint p : {QPoint(0, 0), QPoint(45, 30), QPoint(170, 110), QPoint(90, 10)}) {
        const double dx = p.x() * 180.0 / w - 90.0;
        const double dy = p.y() * 120.0 / h - 60.0;
        const double expected = 255.0 * (1.0 - k * (dx * dx + dy * dy));
        QVERIFY2(std::abs(level(p.x(), p.y()) - expected) <= 3.0,
                 qPrintable(QStringLiteral("at %1,%2: %3 vs %4").arg(p.x()).arg(p.y()).arg(level(p.x(), p.y())).arg(expected)));
    }
}

QTEST_GUILESS_MAIN(TestLensComp)
#include "tst_lenscomp.moc"
