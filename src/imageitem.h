#pragma once

#include <QImage>
#include <QQuickPaintedItem>

// A QML element that shows one image stretched over the whole item
// (camera preview, analysis stages, the rectified wall).
class ImageItem : public QQuickPaintedItem
{
    Q_OBJECT
    Q_PROPERTY(QImage image READ image WRITE setImage NOTIFY imageChanged)

public:
    explicit ImageItem(QQuickItem* parent = nullptr);

    QImage image() const { return image_; }
    Q_INVOKABLE void setImage(QImage image);

    void paint(QPainter* painter) override;

public Q_SLOTS:
    // Drops the stored image without repainting: the last painting stays
    // until something else makes the item repaint.
    void clear();

Q_SIGNALS:
    void imageChanged();

private:
    QImage image_;
};
