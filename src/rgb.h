#pragma once

#include <QObject>

// A red, green, blue triple of doubles with change signals. A write that is
// equal to the held value under relative fuzzy comparison changes nothing.
class RGB : public QObject
{
    Q_OBJECT
    Q_PROPERTY(double red READ red WRITE setRed NOTIFY redChanged)
    Q_PROPERTY(double green READ green WRITE setGreen NOTIFY greenChanged)
    Q_PROPERTY(double blue READ blue WRITE setBlue NOTIFY blueChanged)

public:
    explicit RGB(QObject* parent = nullptr);

    double red() const { return red_; }
    double green() const { return green_; }
    double blue() const { return blue_; }

    void setRed(double red);
    void setGreen(double green);
    void setBlue(double blue);

Q_SIGNALS:
    void redChanged();
    void greenChanged();
    void blueChanged();

private:
    double red_ = 0.0;
    double green_ = 0.0;
    double blue_ = 0.0;
};
