#include "meterreplies.h"

#include "valuelimits.h"

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

bool plausibleLuminance(double luminance)
{
    return Limits::kLuminance.holds(luminance);
}

bool plausibleCct(double cct)
{
    return Limits::kCct.holds(cct);
}

bool plausibleDuv(double duv)
{
    return Limits::kDuv.holds(duv);
}

bool isNoCct(double cct)
{
    return cct >= 0.0 && cct < Limits::kCct.low;
}

CctDuv parseCctDuv(const QString& value)
{
    CctDuv result;
    const QStringList parts = value.split(QLatin1Char(','));
    if (parts.size() != 2)
        return result;
    result.twoParts = true;
    bool cctOk = false, duvOk = false;
    result.cct = parts.at(0).toDouble(&cctOk);
    result.duv = parts.at(1).toDouble(&duvOk);
    result.valid = cctOk && duvOk && plausibleDuv(result.duv) && (isNoCct(result.cct) || plausibleCct(result.cct));
    if (result.valid && isNoCct(result.cct))
        result.cct = 0.0;
    return result;
}

std::optional<double> parseLuminance(const QString& value)
{
    bool ok = false;
    const double luminance = value.toDouble(&ok);
    if (!ok || !plausibleLuminance(luminance))
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
        const bool luminance = name == QLatin1String("brightness_SI") && fields.size() >= 3;
        const bool cct = name == QLatin1String("CCT");
        const bool duv = name == QStringLiteral("\u2206uv");
        const bool known = luminance || cct || duv || name == QLatin1String("cie1931_x")
                           || name == QLatin1String("cie1931_y");
        if (known && fields.size() >= 2) {
            bool ok = false;
            double value = fields.at(1).toDouble(&ok);
            const bool plausible = ok
                                   && (luminance ? plausibleLuminance(value)
                                       : cct     ? isNoCct(value) || plausibleCct(value)
                                       : duv     ? plausibleDuv(value)
                                                 : Limits::kChromaticity.holds(value));
            if (plausible && cct && isNoCct(value))
                value = 0.0;
            if (!plausible) {
                if (report.fault.isEmpty())
                    report.fault = QStringLiteral("%1 [%2]").arg(name, fields.at(1));
            } else if (luminance) {
                report.luminance = value;
                report.luminanceText = fields.at(1);
                report.units = fields.at(2);
            } else if (cct) {
                report.cct = value;
            } else if (name == QLatin1String("cie1931_x")) {
                x = value;
            } else if (name == QLatin1String("cie1931_y")) {
                y = value;
            } else {
                report.duv = value;
            }
        }
        if (x != 0.0 && y != 0.0)
            report.xy = std::make_pair(x, y);
    }
    return report;
}

} // namespace MeterReply
