#pragma once

#include "displaybase.h"

#include <QHash>
#include <QList>
#include <QString>

#include <array>
#include <mutex>

// A display that records the gain calls made on it (from any thread) and
// answers them with scripted results: the next scripted ErrorType for each
// call, OK once the script is used up.
class FakeDisplay : public DisplayBase
{
    Q_OBJECT
public:
    struct Call
    {
        QString op; // "setRGB", "setDisplayGainRGB", "setLdmRGBs", "setMeshRGBs", "commitMeshRGBs"
        uint number = 0;
        double red = 0, green = 0, blue = 0;
        QList<uint> numbers; // the list calls: the records' numbers, in order
    };

    explicit FakeDisplay(QObject* parent = nullptr);

    void script(const QList<ErrorType>& results);
    QList<Call> calls() const;

    ErrorType resetMesh() override { return {}; }
    void cancel() override {}
    ErrorType setRGB(uint number, double red, double green, double blue) override;
    ErrorType setDisplayGainRGB(double red, double green, double blue) override;
    // The list calls also keep the gains of every record they carried.
    ErrorType setLdmRGBs(QList<Macropixel*>& ldms) override;
    ErrorType setMeshRGBs(QList<Macropixel*>& macropixels, float value) override;
    ErrorType commitMeshRGBs(QList<Macropixel*>& macropixels) override;
    // The red, green, blue gains last sent for a record number (0 if never).
    std::array<double, 3> sentGains(uint number) const;

    // The model's lists, for building records in tests; fetchLdmsDone
    // publishes what was built.
    QList<Macropixel>& ldms() { return ldmList; }
    QList<Tile>& tiles() { return tileList; }
    using DisplayBase::addTile;
    using DisplayBase::fetchLdmsDone;

private:
    ErrorType record_(const Call& call);
    ErrorType recordList_(const QString& op, const QList<Macropixel*>& list, bool keepGains);

    mutable std::mutex mutex_; // a standard mutex: the thread sanitizer follows it
    QList<Call> calls_;
    QList<ErrorType> script_;
    QHash<uint, std::array<double, 3>> sent_;
};
