#include "correctionfile.h"

#include <QIODevice>
#include <QString>

#include <array>
#include <cmath>
#include <limits>

namespace {

struct ValueColumn
{
    const char* name;
    double CalibrationPoint::*field;
};

using P = CalibrationPoint;

// The real columns, in file order (between "#" and "seconds").
constexpr std::array<ValueColumn, 25> kValues {{
    {"red", &P::red},
    {"green", &P::green},
    {"blue", &P::blue},
    {"cct", &P::cct},
    {"duv", &P::duv},
    {"luminance", &P::luminance},
    {"luminanceTarget", &P::luminanceTarget},
    {"redPx", &P::redPx},
    {"redPy", &P::redPy},
    {"redMx", &P::redMx},
    {"redMy", &P::redMy},
    {"redSlope", &P::redSlope},
    {"greenPx", &P::greenPx},
    {"greenPy", &P::greenPy},
    {"greenMx", &P::greenMx},
    {"greenMy", &P::greenMy},
    {"greenSlope", &P::greenSlope},
    {"bluePx", &P::bluePx},
    {"bluePy", &P::bluePy},
    {"blueMx", &P::blueMx},
    {"blueMy", &P::blueMy},
    {"blueSlope", &P::blueSlope},
    {"redDisplayGain", &P::redDisplayGain},
    {"greenDisplayGain", &P::greenDisplayGain},
    {"blueDisplayGain", &P::blueDisplayGain},
}};

// Positions in kValues of the handle columns a file must name.
constexpr std::array<int, 12> kHandleColumns {7, 8, 9, 10, 12, 13, 14, 15, 17, 18, 19, 20};

const QString kSeconds = QStringLiteral("seconds");

// One line without its line end; false at the end of the device.
bool readLine(QIODevice& device, QString& line)
{
    if (device.atEnd())
        return false;
    QByteArray bytes = device.readLine();
    while (bytes.endsWith('\n') || bytes.endsWith('\r'))
        bytes.chop(1);
    line = QString::fromUtf8(bytes);
    return true;
}

double toReal(const QString& text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? value : 0.0;
}

quint32 toSeconds(const QString& text)
{
    const double value = toReal(text);
    if (!(value > 0.0))
        return 0;
    if (value >= double(std::numeric_limits<quint32>::max()))
        return std::numeric_limits<quint32>::max();
    return quint32(value);
}

} // namespace

namespace CorrectionFile {

QStringList columnNames()
{
    QStringList names {QStringLiteral("#")};
    for (const ValueColumn& column : kValues)
        names.append(QString::fromLatin1(column.name));
    names.append(kSeconds);
    return names;
}

QByteArray write(const QList<CalibrationPoint>& points)
{
    QString text = columnNames().join(QLatin1Char('\t')) + QStringLiteral("\r\n");
    for (qsizetype i = 0; i < points.size(); ++i) {
        const CalibrationPoint& point = points.at(i);
        text += QString::number(i);
        for (const ValueColumn& column : kValues) {
            text += QLatin1Char('\t');
            text += QString::number(point.*column.field, 'g', 16);
        }
        text += QLatin1Char('\t');
        text += QString::number(point.seconds);
        text += QStringLiteral("\r\n");
    }
    return text.toUtf8();
}

ReadResult read(QIODevice& device)
{
    ReadResult result;
    QString line;
    if (!readLine(device, line) || line.isEmpty())
        return result;

    std::array<qsizetype, kValues.size()> position;
    position.fill(-1);
    qsizetype secondsPosition = -1;
    const QStringList header = line.split(QLatin1Char('\t'), Qt::KeepEmptyParts);
    for (qsizetype field = 0; field < header.size(); ++field) {
        const QString& name = header.at(field);
        if (name == kSeconds) {
            secondsPosition = field;
            continue;
        }
        for (std::size_t v = 0; v < kValues.size(); ++v)
            if (name == QLatin1String(kValues[v].name))
                position[v] = field;
    }
    for (int v : kHandleColumns) {
        if (position[std::size_t(v)] < 0) {
            result.outcome = ReadResult::MissingHandles;
            return result;
        }
    }

    while (readLine(device, line) && !line.isEmpty()) {
        const QStringList fields = line.split(QLatin1Char('\t'), Qt::KeepEmptyParts);
        CalibrationPoint point;
        for (std::size_t v = 0; v < kValues.size(); ++v)
            if (position[v] >= 0 && position[v] < fields.size())
                point.*kValues[v].field = toReal(fields.at(position[v]));
        if (secondsPosition >= 0 && secondsPosition < fields.size())
            point.seconds = toSeconds(fields.at(secondsPosition));
        result.points.append(point);
    }
    result.outcome = result.points.isEmpty() ? ReadResult::Empty : ReadResult::Read;
    return result;
}

} // namespace CorrectionFile
