#include "fakedisplay.h"


FakeDisplay::FakeDisplay(QObject* parent)
    : DisplayBase(QStringLiteral("fake"), parent)
{
}

void FakeDisplay::script(const QList<ErrorType>& results)
{
    std::lock_guard lock(mutex_);
    script_ = results;
}

QList<FakeDisplay::Call> FakeDisplay::calls() const
{
    std::lock_guard lock(mutex_);
    return calls_;
}

ErrorType FakeDisplay::record_(const Call& call)
{
    std::lock_guard lock(mutex_);
    calls_ << call;
    return script_.isEmpty() ? ErrorType() : script_.takeFirst();
}

ErrorType FakeDisplay::setRGB(uint number, double red, double green, double blue)
{
    return record_({QStringLiteral("setRGB"), number, red, green, blue});
}

ErrorType FakeDisplay::setDisplayGainRGB(double red, double green, double blue)
{
    return record_({QStringLiteral("setDisplayGainRGB"), 0, red, green, blue});
}

ErrorType FakeDisplay::recordList_(const QString& op, const QList<Macropixel*>& list, bool keepGains)
{
    Call call {op};
    std::lock_guard lock(mutex_);
    for (const Macropixel* m : list) {
        if (!m)
            continue;
        call.numbers << m->number;
        if (keepGains)
            sent_[m->number] = {m->redGain, m->greenGain, m->blueGain};
    }
    calls_ << call;
    return script_.isEmpty() ? ErrorType() : script_.takeFirst();
}

ErrorType FakeDisplay::setLdmRGBs(QList<Macropixel*>& ldms)
{
    return recordList_(QStringLiteral("setLdmRGBs"), ldms, true);
}

ErrorType FakeDisplay::setMeshRGBs(QList<Macropixel*>& macropixels, float)
{
    return recordList_(QStringLiteral("setMeshRGBs"), macropixels, true);
}

ErrorType FakeDisplay::commitMeshRGBs(QList<Macropixel*>& macropixels)
{
    return recordList_(QStringLiteral("commitMeshRGBs"), macropixels, false);
}

std::array<double, 3> FakeDisplay::sentGains(uint number) const
{
    std::lock_guard lock(mutex_);
    return sent_.value(number, {0.0, 0.0, 0.0});
}
