#include "fakedisplay.h"

#include <QMutexLocker>

FakeDisplay::FakeDisplay(QObject* parent)
    : DisplayBase(QStringLiteral("fake"), parent)
{
}

void FakeDisplay::script(const QList<ErrorType>& results)
{
    QMutexLocker lock(&mutex_);
    script_ = results;
}

QList<FakeDisplay::Call> FakeDisplay::calls() const
{
    QMutexLocker lock(&mutex_);
    return calls_;
}

ErrorType FakeDisplay::record_(const Call& call)
{
    QMutexLocker lock(&mutex_);
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
