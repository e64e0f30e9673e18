// The read-only side of the Calibrator: the linearity log, the debug lines of
// a run, point weights and the time texts.

#include "calibrator.h"

#include <QDebug>

#include <cstdio>

namespace {

// The plural ending of a count.
QString plural(qint64 count)
{
    return count == 1 ? QString() : QStringLiteral("s");
}

} // namespace

void Calibrator::displayCalibration(const QString& title, QList<CalibrationPoint>& list)
{
    Q_EMIT clearLinearityLog();
    Q_EMIT appendLinearityLog(title);
    if (list.size() < 2)
        return;
    for (qsizetype i = 1; i < list.size(); ++i) {
        const CalibrationPoint& p = list.at(i);
        if (p.cct == 0.0 || p.luminance == 0.0) {
            Q_EMIT appendLinearityLog(QStringLiteral("#%1:").arg(i, 2));
            continue;
        }
        Q_EMIT appendLinearityLog(
            QStringLiteral("#%1: %2, %3, %4; %5 K, %6 Duv, %7 %8 (for %9 %10)")
                .arg(i, 2)
                .arg(p.red, 0, 'f', 6)
                .arg(p.green, 0, 'f', 6)
                .arg(p.blue, 0, 'f', 6)
                .arg(p.cct, 5, 'f', 0)
                .arg(p.duv, 0, 'f', 4)
                .arg(p.luminance, 6, 'f', 2)
                .arg(luminanceUnits)
                .arg(p.luminanceTarget, 6, 'f', 2)
                .arg(luminanceUnits));
    }
}

void Calibrator::formatPointLine_(const QString& label, CalibrationPoint& p)
{
    const QByteArray l = label.toUtf8();
    if (task_ == TaskCalibrate) {
        qDebug("%s: %2dx %.6f, %.6f, %.6f;  deltas %+.6f  %+.6f  %+.6f;  Lum %6.2f, CCT %4.0f, duv "
               "%+8.4f, error %.2f%%",
               l.constData(), int(p.count), p.red, p.green, p.blue, p.deltas[0], p.deltas[1],
               p.deltas[2], p.luminance, p.cct, p.duv, 100.0 * p.error());
    } else {
        qDebug("%s: %2dx %+.6f, %+.6f, %+.6f;  deltas %+.6f  %+.6f  %+.6f;  R %6.2f, G %6.2f, B "
               "%6.2f, error %.2f%%",
               l.constData(), int(p.count), p.red, p.green, p.blue, p.deltas[0], p.deltas[1],
               p.deltas[2], p.cct, p.duv, p.luminance, 100.0 * p.error());
    }
}

void Calibrator::dumpPointList(const QString& title)
{
    qDebug("%s", qUtf8Printable(title));
    for (const CalibrationPoint& p : std::as_const(pointList)) {
        if (task_ == TaskCalibrate)
            qDebug("  %2dx %.6f, %.6f, %.6f;  deltas %+.6f  %+.6f  %+.6f;  Lum %6.2f, CCT %4.0f, duv "
                   "%+8.4f, error %.2f%%",
                   int(p.count), p.red, p.green, p.blue, p.deltas[0], p.deltas[1], p.deltas[2],
                   p.luminance, p.cct, p.duv, 100.0 * p.error());
        else
            qDebug("  %2dx %+.6f, %+.6f, %+.6f;  deltas %+.6f  %+.6f  %+.6f;  R %6.2f, G %6.2f, B "
                   "%6.2f, error %.2f%%",
                   int(p.count), p.red, p.green, p.blue, p.deltas[0], p.deltas[1], p.deltas[2],
                   p.cct, p.duv, p.luminance, 100.0 * p.error());
    }
}

double Calibrator::pointWeight(CalibrationPoint& point, double maxError)
{
    if (maxError == 0.0)
        maxError = maximumWeightedError_;
    const double w = maxError + 0.0001 - point.error();
    return w > 0.0001 ? w : 0.0;
}

int Calibrator::pointsWithinError(double maxError)
{
    int count = 0;
    for (CalibrationPoint& p : pointList) {
        if (pointWeight(p, maxError) > 0.0001)
            ++count;
    }
    return count;
}

int Calibrator::pointsWithinError()
{
    return pointsWithinError(0.0);
}

QString Calibrator::gainString() const
{
    QString text;
    char line[100];
    for (int c = Red; c <= Blue; ++c) {
        if (mode_ == ModeLinearity) {
            std::snprintf(line, sizeof line,
                          c == Blue ? "%s gains: %+12.7f Lum, %+13.5f CCT, %+14.9f Duv"
                                    : "%s gains: %+12.7f Lum, %+13.5f CCT, %+14.9f Duv\n",
                          colorStr_[c], sensitivity[Luminance][c], sensitivity[Cct][c],
                          sensitivity[Duv][c]);
        } else {
            // Camera modes: red in the CCT row, green in the Duv row, blue in
            // the luminance row.
            std::snprintf(line, sizeof line, "%s gains: %+12f R, %+12f G, %+12f B\n", colorStr_[c],
                          sensitivity[Cct][c], sensitivity[Duv][c], sensitivity[Luminance][c]);
        }
        text += QString::fromUtf8(line);
    }
    return text;
}

void Calibrator::logTime(const QString& prefix, qint64 seconds)
{
    if (seconds == 0)
        return;
    const qint64 hours = seconds / 3600;
    const qint64 minutes = (seconds % 3600) / 60;
    const qint64 secs = seconds % 60;
    QString text;
    if (hours != 0)
        text += QStringLiteral(" %1 hour%2").arg(hours).arg(plural(hours));
    if (minutes != 0)
        text += QStringLiteral(" %1 minute%2").arg(minutes).arg(plural(minutes));
    if (secs != 0)
        text += QStringLiteral(" %1 second%2").arg(secs).arg(plural(secs));
    qDebug("%s%s.", qUtf8Printable(prefix), qUtf8Printable(text));
}

QString remainingTime(const QDateTime& start, double fraction)
{
    if (fraction <= 0.02)
        return QString();
    const qint64 elapsed = start.secsTo(QDateTime::currentDateTime());
    const qint64 remaining = qint64(double(elapsed) / fraction) - elapsed + 30;
    const qint64 hours = remaining / 3600;
    const qint64 minutes = (remaining - 3600 * hours) / 60;
    QString text;
    if (hours != 0)
        text += QStringLiteral(" %1 hour%2").arg(hours).arg(plural(hours));
    if (minutes != 0)
        text += QStringLiteral(" %1 minute%2").arg(minutes).arg(plural(minutes));
    if (text.isEmpty())
        return QStringLiteral("; less than 1 minute remaining");
    if (fraction < 0.25)
        return QStringLiteral("; guessing maybe%1 remaining").arg(text);
    if (fraction < 0.5)
        return QStringLiteral("; something like%1 remaining").arg(text);
    if (fraction < 0.75)
        return QStringLiteral("; probably about%1 remaining").arg(text);
    return QStringLiteral("; about%1 remaining").arg(text);
}

QString Calibrator::pointKey_(const CalibrationPoint& point)
{
    return QStringLiteral("%1%2%3")
        .arg(point.red, 0, 'f', 7)
        .arg(point.green, 0, 'f', 7)
        .arg(point.blue, 0, 'f', 7);
}

CalibrationPoint Calibrator::cachedPoint_(const QHash<QString, CalibrationPoint>& cache,
                                          const QString& key)
{
    return cache.value(key, CalibrationPoint());
}

void Calibrator::dumpPointCache_(const QString& title, const QHash<QString, CalibrationPoint>& cache)
{
    qDebug("%s", qUtf8Printable(title));
    for (const CalibrationPoint& p : cache) {
        if (task_ == TaskCalibrate)
            qDebug("  %2dx %.6f, %.6f, %.6f;  deltas %+.6f  %+.6f  %+.6f;  Lum %6.2f, CCT %4.0f, duv "
                   "%+8.4f, error %.2f%%",
                   int(p.count), p.red, p.green, p.blue, p.deltas[0], p.deltas[1], p.deltas[2],
                   p.luminance, p.cct, p.duv, 100.0 * p.error());
        else
            qDebug("  %2dx %.6f, %.6f, %.6f;  deltas %+.6f  %+.6f  %+.6f;  R %6.2f, G %6.2f, B "
                   "%6.2f, error %.2f%%",
                   int(p.count), p.red, p.green, p.blue, p.deltas[0], p.deltas[1], p.deltas[2],
                   p.cct, p.duv, p.luminance, 100.0 * p.error());
    }
}
