#include "correctionfile.h"

#include "valuelimits.h"

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
    double low;  // the bounds of a value, both included
    double high;
    bool correction; // a drive level, curve handle or display gain
};

using P = CalibrationPoint;
using namespace CorrectionFile;

constexpr double kAny = std::numeric_limits<double>::infinity();

constexpr ValueColumn level(const char* name, double P::*field)
{
    return {name, field, Limits::kLevel.low, Limits::kLevel.high, true};
}

constexpr ValueColumn gain(const char* name, double P::*field)
{
    return {name, field, Limits::kDisplayGain.low, Limits::kDisplayGain.high, true};
}

constexpr ValueColumn measured(const char* name, double P::*field, const Limits::Limit& limit)
{
    return {name, field, limit.low, limit.high, false};
}

constexpr ValueColumn slope(const char* name, double P::*field)
{
    return {name, field, -kAny, kAny, false};
}

// The real columns, in file order (between "#" and "seconds").
constexpr std::array<ValueColumn, 25> kValues {{
    level("red", &P::red),
    level("green", &P::green),
    level("blue", &P::blue),
    {"cct", &P::cct, 0.0, Limits::kCct.high, false},
    measured("duv", &P::duv, Limits::kDuv),
    measured("luminance", &P::luminance, Limits::kLuminance),
    measured("luminanceTarget", &P::luminanceTarget, Limits::kLuminance),
    level("redPx", &P::redPx),
    level("redPy", &P::redPy),
    level("redMx", &P::redMx),
    level("redMy", &P::redMy),
    slope("redSlope", &P::redSlope),
    level("greenPx", &P::greenPx),
    level("greenPy", &P::greenPy),
    level("greenMx", &P::greenMx),
    level("greenMy", &P::greenMy),
    slope("greenSlope", &P::greenSlope),
    level("bluePx", &P::bluePx),
    level("bluePy", &P::bluePy),
    level("blueMx", &P::blueMx),
    level("blueMy", &P::blueMy),
    slope("blueSlope", &P::blueSlope),
    gain("redDisplayGain", &P::redDisplayGain),
    gain("greenDisplayGain", &P::greenDisplayGain),
    gain("blueDisplayGain", &P::blueDisplayGain),
}};

// Positions in kValues of the handle columns a file must name.
constexpr std::array<int, 12> kHandleColumns {7, 8, 9, 10, 12, 13, 14, 15, 17, 18, 19, 20};

const QString kSeconds = QStringLiteral("seconds");

enum class LineRead { Line, End, TooLong };

// One line without its line end, of at most kMaxLineBytes bytes. A longer
// line is not read on: only a few bytes more than the limit are taken.
LineRead readLine(QIODevice& device, QString& line)
{
    using CorrectionFile::kMaxLineBytes;
    if (device.atEnd())
        return LineRead::End;
    // Room for the line, "\r\n", one byte more and readLine's terminating 0.
    char buffer[kMaxLineBytes + 4];
    const qint64 n = device.readLine(buffer, qint64(sizeof buffer));
    if (n <= 0)
        return LineRead::End;
    qsizetype length = qsizetype(n);
    if (buffer[length - 1] != '\n' && !device.atEnd())
        return LineRead::TooLong;
    while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r'))
        --length;
    if (length > kMaxLineBytes)
        return LineRead::TooLong;
    line = QString::fromUtf8(buffer, length);
    return LineRead::Line;
}

enum class Value { Number, NotFinite };

// Text that is no number reads as 0; "nan", "inf" and numbers too large for
// a double are told apart, since they are no value at all.
Value toReal(const QString& text, double& value)
{
    bool ok = false;
    value = text.toDouble(&ok);
    if (!std::isfinite(value))
        return Value::NotFinite; // also an overflow, which fails with an infinity
    if (!ok)
        value = 0.0;
    return Value::Number;
}

quint32 toSeconds(const QString& text)
{
    double value = 0.0;
    toReal(text, value);
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
    qsizetype lineNumber = 1;
    const auto refuse = [&](ReadResult::Outcome outcome) {
        result.outcome = outcome;
        result.line = lineNumber;
        result.points.clear();
        return result;
    };
    switch (readLine(device, line)) {
    case LineRead::TooLong:
        return refuse(ReadResult::LineTooLong);
    case LineRead::End:
        return result;
    case LineRead::Line:
        break;
    }
    if (line.isEmpty())
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

    // Whether a level, handle or display gain of a row is not 0 (a gain
    // missing from the file or the row keeps its default of 1).
    bool holdsCorrection = false;
    for (;;) {
        ++lineNumber;
        const LineRead got = readLine(device, line);
        if (got == LineRead::TooLong)
            return refuse(ReadResult::LineTooLong);
        if (got == LineRead::End || line.isEmpty())
            break;
        if (result.points.size() == kMaxRows)
            return refuse(ReadResult::TooManyRows);
        const QStringList fields = line.split(QLatin1Char('\t'), Qt::KeepEmptyParts);
        CalibrationPoint point;
        for (std::size_t v = 0; v < kValues.size(); ++v) {
            if (position[v] < 0 || position[v] >= fields.size())
                continue;
            double value = 0.0;
            const Value kind = toReal(fields.at(position[v]), value);
            if (kind == Value::NotFinite || value < kValues[v].low || value > kValues[v].high) {
                result.column = position[v] + 1;
                result.columnName = QString::fromLatin1(kValues[v].name);
                result.low = kValues[v].low;
                result.high = kValues[v].high;
                return refuse(kind == Value::NotFinite ? ReadResult::NotFinite : ReadResult::OutOfRange);
            }
            point.*kValues[v].field = value;
        }
        if (secondsPosition >= 0 && secondsPosition < fields.size())
            point.seconds = toSeconds(fields.at(secondsPosition));
        for (const ValueColumn& column : kValues)
            holdsCorrection = holdsCorrection || (column.correction && point.*column.field != 0.0);
        result.points.append(point);
    }
    if (result.points.isEmpty())
        return result;
    // Curves with every handle at 0 and no gain would blank the display.
    if (!holdsCorrection) {
        lineNumber = 0;
        return refuse(ReadResult::NoCorrection);
    }
    result.outcome = ReadResult::Read;
    return result;
}

} // namespace CorrectionFile
