#include "meterreplies.h"

#include <cmath>

namespace MeterReply {

SerialLine parseSerialLine(const QByteArray& bytes)
{
    qsizetype end = 0;
    while (end < bytes.size() && bytes.at(end) != '\r' && bytes.at(end) != '\n' && bytes.at(end) != '\0')
        ++end;
    SerialLine line;
    line.text = QString::fromUtf8(bytes.constData(), end);
    line.fields = line.text.split(QLatin1Char(':'));
    return line;
}

quint32 parseCount(const QString& text)
{
    bool ok = false;
    const quint32 n = text.toUInt(&ok);
    return ok ? n : 0;
}

int parseEntryNumber(const QString& text)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok ? n : 0;
}

CctDuv parseCctDuv(const QString& value)
{
    CctDuv result;
    const QStringList parts = value.split(QLatin1Char(','));
    if (parts.size() != 2)
        return result;
    result.twoParts = true;
    result.cct = parts.at(0).toDouble();
    result.duv = parts.at(1).toDouble();
    return result;
}

std::optional<double> parseLuminance(const QString& value)
{
    bool ok = false;
    const double luminance = value.toDouble(&ok);
    if (!ok || !std::isfinite(luminance))
        return std::nullopt;
    return luminance;
}

NetworkReport parseNetworkReport(const QByteArray& body)
{
    NetworkReport report;
    double x = 0.0;
    double y = 0.0;
    const QStringList lines = QString::fromUtf8(body).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("20")) || line.startsWith(QLatin1String("timestamp"))) {
            report.timestamp = line;
            continue;
        }
        const QStringList fields = line.split(QLatin1Char(' '));
        const QString& name = fields.at(0);
        if (fields.size() >= 2) {
            const double value = fields.at(1).toDouble();
            if (name == QLatin1String("brightness_SI")) {
                if (fields.size() >= 3) {
                    report.luminance = value;
                    report.units = fields.at(2);
                }
            } else if (name == QLatin1String("CCT")) {
                report.cct = value;
            } else if (name == QStringLiteral("\u2206uv")) {
                report.duv = value;
            } else if (name == QLatin1String("cie1931_x")) {
                x = value;
            } else if (name == QLatin1String("cie1931_y")) {
                y = value;
            }
        }
        if (x != 0.0 && y != 0.0)
            report.xy = std::make_pair(x, y);
    }
    return report;
}

} // namespace MeterReply
