#include "rgb.h"

#include <QtNumeric>

RGB::RGB(QObject* parent)
    : QObject(parent)
{
}

void RGB::setRed(double red)
{
    if (qFuzzyCompare(red_, red))
        return;
    red_ = red;
    Q_EMIT redChanged();
}

void RGB::setGreen(double green)
{
    if (qFuzzyCompare(green_, green))
        return;
    green_ = green;
    Q_EMIT greenChanged();
}

void RGB::setBlue(double blue)
{
    if (qFuzzyCompare(blue_, blue))
        return;
    blue_ = blue;
    Q_EMIT blueChanged();
}
