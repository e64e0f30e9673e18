// The measurement tasks: one averaged measurement (task 2) and the read-count
// test (task 3), which shows how much repeated readings scatter for 1, 2, 4,
// ... 64 averaged readings. Neither changes any gains.

#include "calibrator.h"

#include <QDebug>

#include <algorithm>
#include <cstdio>

void Calibrator::takeMeasurement()
{
    if (task_ != TaskMeasure)
        return;
    setStatusString(QStringLiteral("Taking measurement..."));
    const bool measured = averageReadings_(int(readCount_));
    if (running_ && !measured) {
        // A reading that failed is no measurement: say why instead.
        setStatusString(ioErrors() ? QStringLiteral("Measurement stopped with colorimeter error %1").arg(colorimeterError_)
                                   : QStringLiteral("Measurement stopped; no new or valid data from the colorimeter."));
        endTask_(true);
        return;
    }
    if (running_) {
        char text[100];
        std::snprintf(text, sizeof text, "CCT %4.0f, duv %+8.4f, luminance %6.2f %s", reading.cct, reading.duv,
                      reading.luminance, luminanceUnits.toUtf8().constData());
        qDebug("%s", text);
        Q_EMIT appendLinearityLog(QString::fromUtf8(text));
    }
    setStatusString(QString());
    endTask_(true);
}

void Calibrator::testReadCounts()
{
    if (task_ != TaskTestReadCounts)
        return;
    setResumeStep(0);
    beginTask_();
    startTime = QDateTime::currentDateTime();
    pointList.clear();
    colorimeterErrorType_ = ErrorType();
    Q_EMIT clearLinearityLog();
    setStatusString(QStringLiteral("Running Read Count test..."));
    setProgress(0.0);

    // The spread of a quantity relative to its mean, in percent.
    auto relative = [](double spread, double max, double min) {
        const double mean = (max + min) / 2.0;
        return mean == 0.0 ? 0.0 : 100.0 * spread / mean;
    };

    readCount_ = 1;
    unsigned done = 0;
    for (; readCount_ <= 64; readCount_ *= 2) {
        double cctMin = 100000, cctMax = 0, duvMin = 1.0, duvMax = -1.0, lumMin = 100000, lumMax = 0;
        for (int loop = 1; loop <= 50; ++loop) {
            delay_(100);
            averageReadings_(int(readCount_));
            done += readCount_;
            setProgress(done / 6350.0);
            setStatusString(QStringLiteral("Read count in progress%1...").arg(remainingTime(progress_)));
            qDebug("readCount %2d, loop %2d:   CCT %4.0f,    duv %+8.4f,    lum %6.2f", int(readCount_), loop,
                   reading.cct, reading.duv, reading.luminance);
            cctMin = std::min(cctMin, reading.cct);
            cctMax = std::max(cctMax, reading.cct);
            duvMin = std::min(duvMin, reading.duv);
            duvMax = std::max(duvMax, reading.duv);
            lumMin = std::min(lumMin, reading.luminance);
            lumMax = std::max(lumMax, reading.luminance);
        }
        const double cctSpread = cctMax - cctMin;
        const double duvSpread = duvMax - duvMin;
        const double lumSpread = lumMax - lumMin;
        char summary[100];
        std::snprintf(summary, sizeof summary,
                      "readCount %2d:  CCT err %6.2f, %5.2f%%;  duv err %8.6f, %5.2f%%;  lum err %6.2f, %5.2f%%",
                      int(readCount_), cctSpread, relative(cctSpread, cctMax, cctMin), duvSpread,
                      duvSpread * 100.0 / 0.01, lumSpread, relative(lumSpread, lumMax, lumMin));
        Q_EMIT appendLinearityLog(QString::fromUtf8(summary));
    }
    // readCount_ is left at 128 until the next run sets it.

    setStatusString(running_ ? QStringLiteral("Read Count test completed.")
                             : QStringLiteral("Read Count test cancelled."));
    setProgress(-1.0);
    endTask_(true);
}
