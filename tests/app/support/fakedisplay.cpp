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
