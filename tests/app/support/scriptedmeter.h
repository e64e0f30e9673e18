#pragma once

#include "colorimeter.h"

#include <QList>
#include <QMutex>

// A colour meter that answers each read() with the next scripted answer (the
// last one repeats). Timestamps are counters: a fresh answer gets a new one,
// a stale answer repeats the previous one. A silent answer never replies.
class ScriptedMeter : public Colorimeter
{
    Q_OBJECT
public:
    struct Answer
    {
        double luminance = 100.0;
        int code = 0;
        bool fresh = true;
        bool silent = false;
        double cct = 6500.0;
        double duv = 0.001;
    };

    explicit ScriptedMeter(QObject* parent = nullptr);

    void script(const QList<Answer>& answers);
    int reads() const;

public Q_SLOTS:
    void read() override;

private:
    mutable QMutex scriptMutex_;
    QList<Answer> answers_;
    int reads_ = 0;
    int stamp_ = 0;
};
