#include "imageitem.h"

#include <QPainter>

ImageItem::ImageItem(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
}

void ImageItem::setImage(QImage image)
{
    image_ = std::move(image);
    update();
    Q_EMIT imageChanged();
}

void ImageItem::clear()
{
    if (!image_.isNull())
        image_ = QImage();
}

void ImageItem::paint(QPainter* painter)
{
    if (image_.isNull())
        return;
    const QRectF bounds = boundingRect();
    const QSize size(int(bounds.width()), int(bounds.height()));
    if (size.isEmpty())
        return;
    const QImage scaled = image_.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    QPointF position = bounds.center() - QPointF(scaled.rect().center());
    position.setX(std::max<qreal>(0.0, position.x()));
    position.setY(std::max<qreal>(0.0, position.y()));
    painter->drawImage(position, scaled);
}
