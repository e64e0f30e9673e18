#include "scriptedmeter.h"

#include <QMutexLocker>

ScriptedMeter::ScriptedMeter(QObject* parent)
    : Colorimeter(QStringLiteral("scripted"), parent)
{
}

void ScriptedMeter::script(const QList<Answer>& answers)
{
    QMutexLocker lock(&scriptMutex_);
    answers_ = answers;
    reads_ = 0;
}

int ScriptedMeter::reads() const
{
    QMutexLocker lock(&scriptMutex_);
    return reads_;
}

void ScriptedMeter::read()
{
    Answer a;
    {
        QMutexLocker lock(&scriptMutex_);
        ++reads_;
        if (!answers_.isEmpty())
            a = answers_.size() > 1 ? answers_.takeFirst() : answers_.first();
    }
    if (a.silent)
        return;
    lock();
    setCct(a.cct);
    setDuv(a.duv);
    setLuminance(a.luminance);
    if (a.fresh)
        setTimestamp(QString::number(++stamp_));
    setError(a.code == 0 ? QString() : QStringLiteral("scripted error %1").arg(a.code));
    setErrorType(ErrorType(a.code, error()));
    unlock();
    Q_EMIT dataAvailable(this);
}
