#pragma once

#include <QProcess>
#include <QString>

// One of the python meter stand-ins under tests/standins ("fake_cr100.py",
// "fake_cinemeter.py"), run for the life of the object. Its first output line
// (the pty path or the port) is first(); control lines are answered by "ok".
class MeterStandIn
{
public:
    explicit MeterStandIn(const QString& script);
    ~MeterStandIn();
    MeterStandIn(const MeterStandIn&) = delete;
    MeterStandIn& operator=(const MeterStandIn&) = delete;

    QString first() const { return first_; }
    // Lines other than the first and the acknowledgements, in order.
    QStringList output() const { return output_; }
    // Sends a control line and blocks (no event processing) until the
    // stand-in took it, so a request the meter sends afterwards sees it.
    bool control(const QString& line);

private:
    void collect();

    QProcess process_;
    QString first_;
    QStringList output_;
    int acks_ = 0;
};
