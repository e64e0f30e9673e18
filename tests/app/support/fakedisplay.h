#pragma once

#include "displaybase.h"

#include <QList>
#include <QMutex>
#include <QString>

// A display that records the gain calls made on it (from any thread) and
// answers them with scripted results: the next scripted ErrorType for each
// call, OK once the script is used up.
class FakeDisplay : public DisplayBase
{
    Q_OBJECT
public:
    struct Call
    {
        QString op; // "setRGB" or "setDisplayGainRGB"
        uint number = 0;
        double red = 0, green = 0, blue = 0;
    };

    explicit FakeDisplay(QObject* parent = nullptr);

    void script(const QList<ErrorType>& results);
    QList<Call> calls() const;

    ErrorType resetMesh() override { return {}; }
    void cancel() override {}
    ErrorType setRGB(uint number, double red, double green, double blue) override;
    ErrorType setDisplayGainRGB(double red, double green, double blue) override;

    // The model's lists, for building records in tests.
    QList<Macropixel>& ldms() { return ldmList; }
    QList<Tile>& tiles() { return tileList; }

private:
    ErrorType record_(const Call& call);

    mutable QMutex mutex_;
    QList<Call> calls_;
    QList<ErrorType> script_;
};
