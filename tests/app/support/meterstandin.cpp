#include "meterstandin.h"

#include <QTest>

MeterStandIn::MeterStandIn(const QString& script)
{
    process_.setProgram(QStringLiteral("python3"));
    process_.setArguments({QStringLiteral(VELTRANO_STANDINS_DIR "/") + script});
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { collect(); });
    process_.start();
    QTRY_VERIFY_WITH_TIMEOUT(!first_.isEmpty(), 30000); // python starts slowly on a busy machine
}

MeterStandIn::~MeterStandIn()
{
    process_.write("quit\n");
    if (!process_.waitForFinished(3000))
        process_.kill();
    process_.waitForFinished(1000);
}

bool MeterStandIn::control(const QString& line)
{
    const int expected = acks_ + 1;
    process_.write(line.toUtf8() + '\n');
    while (acks_ < expected)
        if (!process_.waitForReadyRead(5000))
            return false;
    return true;
}

void MeterStandIn::collect()
{
    while (process_.canReadLine()) {
        const QString line = QString::fromUtf8(process_.readLine()).trimmed();
        if (first_.isEmpty())
            first_ = line;
        else if (line == QLatin1String("ok"))
            ++acks_;
        else
            output_.append(line);
    }
}
