#pragma once

#include "calibrationpoint.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

class QIODevice;

// The correction file: tab-separated UTF-8 text, every line ended by "\r\n".
// A header line names the columns, each further line is one point: "#" (the
// position from 0), the 25 real values of a point (16 significant digits,
// shortest of fixed and scientific notation) and "seconds" (integer).
// Readers find the columns by name.
namespace CorrectionFile {

// The 27 column names in the order they are written.
QStringList columnNames();

// The whole file for these points (the header alone for none).
QByteArray write(const QList<CalibrationPoint>& points);

// What a file may hold. A row as write() makes it stays under 1 kB and a run
// has a few hundred steps at most, so a longer line or more rows is no
// correction: the reader stops there instead of reading on.
constexpr qsizetype kMaxLineBytes = 8192; // one line, its line end not counted
constexpr qsizetype kMaxRows = 10000;     // rows after the header
// Every value of the file must be finite and within its bounds, which are
// those of the one table of limits (valuelimits.h): a drive level or curve
// handle within Limits::kLevel, a display gain within Limits::kDisplayGain
// (what the processor takes back), a luminance and its target within
// Limits::kLuminance, a CCT of 0 (a point without a reading, such as the
// black level) up to Limits::kCct.high, and a Duv within Limits::kDuv.

struct ReadResult
{
    enum Outcome {
        Read,           // points holds at least one point
        Empty,          // no header, or a header without rows
        MissingHandles, // one of the twelve px/py/mx/my columns has no name in the header
        NotFinite,      // a value is nan or infinite (or overflows a double)
        OutOfRange,     // a value outside its column's bounds (low..high)
        NoCorrection,   // every level, handle and display gain of every row is 0
        LineTooLong,    // a line longer than kMaxLineBytes
        TooManyRows,    // more than kMaxRows rows
    };
    Outcome outcome = Empty;
    QList<CalibrationPoint> points; // empty unless Read
    // Where a refusal was found: the line (the header is line 1), the field
    // (from 1) and its column name. Zero and empty where they do not apply.
    qsizetype line = 0;
    qsizetype column = 0;
    QString columnName;
    // The bounds of that column, for OutOfRange.
    double low = 0.0;
    double high = 0.0;
};

// Reads from the device's current position up to the first empty line or the
// end. Columns absent from the header, and fields missing from the end of a
// short row, keep the CalibrationPoint defaults; text that is no number reads
// as 0; of two columns with the same name the later one counts; names not
// known are skipped. A value that is not finite or out of its bounds, an
// over-long line, too many rows or rows that are all zero where a correction
// has its values refuse the whole file.
ReadResult read(QIODevice& device);

} // namespace CorrectionFile
