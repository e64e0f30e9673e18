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

struct ReadResult
{
    enum Outcome {
        Read,           // points holds at least one point
        Empty,          // no header, or a header without rows
        MissingHandles, // one of the twelve px/py/mx/my columns has no name in the header
    };
    Outcome outcome = Empty;
    QList<CalibrationPoint> points;
};

// Reads from the device's current position up to the first empty line or the
// end. Columns absent from the header, and fields missing from the end of a
// short row, keep the CalibrationPoint defaults; text that is no number reads
// as 0; of two columns with the same name the later one counts; names not
// known are skipped.
ReadResult read(QIODevice& device);

} // namespace CorrectionFile
