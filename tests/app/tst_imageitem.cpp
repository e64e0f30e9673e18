#include "imageitem.h"
#include "testsupport.h"

#include <QPainter>
#include <QSignalSpy>

namespace {

// Paints the item onto a transparent canvas larger than the item.
QImage render(ImageItem& item, QSize canvas)
{
    QImage target(canvas, QImage::Format_ARGB32);
    target.fill(Qt::transparent);
    QPainter painter(&target);
    item.paint(&painter);
    painter.end();
    return target;
}

QImage solid(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

} // namespace

class TestImageItem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void paintsStretchedAtTheCentredOffset()
    {
        ImageItem item;
        item.setSize(QSizeF(100, 50));
        item.setImage(solid(QSize(7, 3), Qt::red));
        const QImage out = render(item, QSize(104, 54));
        // 100 x 50 copy drawn at (1, 1).
        QCOMPARE(out.pixelColor(0, 0).alpha(), 0);
        QCOMPARE(out.pixelColor(1, 1), QColor(Qt::red));
        QCOMPARE(out.pixelColor(100, 50), QColor(Qt::red));
        QCOMPARE(out.pixelColor(101, 51).alpha(), 0);
        QCOMPARE(out.pixelColor(101, 1).alpha(), 0);
    }

    void stretchesWithoutLetterboxing()
    {
        // Left half red, right half blue, square image into a wide item.
        QImage image(2, 2, QImage::Format_ARGB32);
        image.setPixelColor(0, 0, Qt::red);
        image.setPixelColor(0, 1, Qt::red);
        image.setPixelColor(1, 0, Qt::blue);
        image.setPixelColor(1, 1, Qt::blue);
        ImageItem item;
        item.setSize(QSizeF(200, 20));
        item.setImage(image);
        const QImage out = render(item, QSize(210, 30));
        QCOMPARE(out.pixelColor(2, 2), QColor(Qt::red));
        QCOMPARE(out.pixelColor(99, 19), QColor(Qt::red));
        QCOMPARE(out.pixelColor(102, 2), QColor(Qt::blue));
        QCOMPARE(out.pixelColor(200, 20), QColor(Qt::blue));
    }

    void nothingForNullImageOrEmptyItem()
    {
        ImageItem item;
        item.setSize(QSizeF(10, 10));
        QVERIFY(render(item, QSize(12, 12)).pixelColor(5, 5).alpha() == 0);

        item.setImage(solid(QSize(4, 4), Qt::green));
        item.setSize(QSizeF(0, 10));
        QVERIFY(render(item, QSize(12, 12)).pixelColor(0, 5).alpha() == 0);
    }

    void imageChangedOnEveryWriteButNotOnClear()
    {
        ImageItem item;
        QSignalSpy spy(&item, &ImageItem::imageChanged);
        const QImage image = solid(QSize(2, 2), Qt::white);
        item.setProperty("image", image);
        item.setProperty("image", image);
        QCOMPARE(spy.count(), 2);
        item.clear();
        QCOMPARE(spy.count(), 2);
        QVERIFY(item.image().isNull());
    }
};

VELTRANO_TEST_MAIN(TestImageItem)

#include "tst_imageitem.moc"
