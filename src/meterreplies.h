#pragma once

// Parsers of the bytes the colour meters send back. Qt Core only, so that
// they can be exercised on their own.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace MeterReply {

// One line of the serial instrument, as read (at most 199 bytes). The line
// ends at its first CR or LF.
struct SerialLine
{
    QString text;       // the line, decoded as UTF-8
    QStringList fields; // text split at ":" (empty fields kept)

    // A status line has exactly four fields: status, code, echo, value.
    bool isStatus() const { return fields.size() == 4; }
    QString status() const { return isStatus() ? fields.at(0) : QString(); }
    QString code() const { return isStatus() ? fields.at(1) : QString(); }
    QString echo() const { return isStatus() ? fields.at(2) : QString(); }
    QString value() const { return isStatus() ? fields.at(3) : QString(); }
    // The ","-separated fields of a list entry line.
    QStringList entryFields() const { return text.split(QLatin1Char(',')); }
};

SerialLine parseSerialLine(const QByteArray& bytes);

// A count: unsigned 32-bit decimal, 0 when not a number or out of range.
quint32 parseCount(const QString& text);
// An entry number: signed 32-bit decimal, 0 when not a number or out of range.
int parseEntryNumber(const QString& text);

// What a colour meter can report, by the one table of limits (valuelimits.h):
// every value a finite number, a luminance within Limits::kLuminance, a CCT
// within Limits::kCct, a Duv within Limits::kDuv (what a correction file
// takes) and chromaticity coordinates within Limits::kChromaticity. Anything
// else is no reading but the meter's error. A CCT of 0, or one above 0 but
// below Limits::kCct.low, is none measured: it reads as 0.
bool plausibleLuminance(double luminance);
bool plausibleCct(double cct);
bool plausibleDuv(double duv);
bool isNoCct(double cct); // 0 up to (not including) Limits::kCct.low

// The value of the "RM CCT" reply: "<cct>,<duv>".
struct CctDuv
{
    bool twoParts = false; // exactly two ","-separated parts
    // Two numbers, a plausible Duv and a CCT that is plausible or none
    // measured (then cct is 0).
    bool valid = false;
    double cct = 0.0;
    double duv = 0.0;
};
CctDuv parseCctDuv(const QString& value);

// The value of the "RM Y" reply: a plausible luminance, or nothing.
std::optional<double> parseLuminance(const QString& value);

// The plain-text report of the network meter. Fields stay empty when the
// reply does not carry them, or carry a value that cannot be true.
struct NetworkReport
{
    std::optional<double> luminance; // as reported, before any filter factor
    QString luminanceText;           // the value as written
    QString units;                   // with luminance
    std::optional<double> cct;
    std::optional<double> duv;
    // The last x, y pair seen with both coordinates non-zero.
    std::optional<std::pair<double, double>> xy;
    std::optional<QString> timestamp;
    // The first value that is no finite number or out of range, as
    // "<name> [<value>]"; empty when every value can be true. A CCT of none
    // measured is no fault here: cct is then 0.
    QString fault;
};
NetworkReport parseNetworkReport(const QByteArray& body);

} // namespace MeterReply
