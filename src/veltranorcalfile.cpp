// Veltranor: the curves of a linearity result, the correction file and the log file.
#include "veltranor.h"

#include "vantor.h"

#include "correctionfile.h"
#include "linearitycurves.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

#include <cmath>
#include <utility>

namespace {

// prefix + the current UTC time (ISO 8601, no fractions) + suffix, with the
// time's ":" made "-" and a "Z" right before a "." dropped. The folder in
// front is left as it is.
QString timeStampedName(const QString& folder, const QString& prefix, const QString& suffix)
{
    QString name = prefix + QDateTime::currentDateTimeUtc().toString(Qt::ISODate) + suffix;
    name.replace(QLatin1Char(':'), QLatin1Char('-'));
    name.replace(QLatin1String("Z."), QLatin1String("."));
    return folder + name;
}

QString fileNameOf(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// Why a correction file was refused, naming the line (the header is line 1)
// and, for a value, its column.
QString refusalText(const QString& name, const CorrectionFile::ReadResult& result)
{
    using R = CorrectionFile::ReadResult;
    switch (result.outcome) {
    case R::NotFinite:
        return QStringLiteral("File %1 can’t be used: line %2, column %3 (%4) is not a finite number")
            .arg(name)
            .arg(result.line)
            .arg(result.column)
            .arg(result.columnName);
    case R::OutOfRange:
        return QStringLiteral("File %1 can’t be used: line %2, column %3 (%4) lies outside %5..%6")
            .arg(name)
            .arg(result.line)
            .arg(result.column)
            .arg(result.columnName, QString::number(result.low, 'g', 16), QString::number(result.high, 'g', 16));
    case R::NoCorrection:
        return QStringLiteral("File %1 can’t be used: every level, handle and display gain is 0").arg(name);
    case R::LineTooLong:
        return QStringLiteral("File %1 can’t be used: line %2 is longer than %3 bytes")
            .arg(name)
            .arg(result.line)
            .arg(CorrectionFile::kMaxLineBytes);
    case R::TooManyRows:
        return QStringLiteral("File %1 can’t be used: it has more than %2 rows")
            .arg(name)
            .arg(CorrectionFile::kMaxRows);
    default:
        return QString();
    }
}

} // namespace

QString Veltranor::correctionFileName_() const
{
    return timeStampedName(filepath_, QStringLiteral("VantorCal-"), QStringLiteral(".tsv"));
}

QString Veltranor::defaultLogFileName() const
{
    return timeStampedName(filepath_, QStringLiteral("VeltranoLog-"), QString());
}

QUrl Veltranor::proposedSaveFile(const QString& path) const
{
    const QFileInfo info(path);
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QStringList folders;
    if (QDir::isAbsolutePath(path))
        folders.append(info.absolutePath());
    folders << documents << QDir::homePath();
    for (const QString& folder : std::as_const(folders)) {
        if (!folder.isEmpty() && QDir().mkpath(folder))
            return QUrl::fromLocalFile(QDir(QDir::cleanPath(folder)).filePath(info.fileName()));
    }
    return QUrl::fromLocalFile(QDir::home().filePath(info.fileName()));
}

bool Veltranor::fileExists(const QUrl& url) const
{
    return url.isLocalFile() && QFileInfo::exists(url.toLocalFile());
}

void Veltranor::setFilepath(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash >= 1 ? path.left(slash + 1) : QString();
    if (folder == filepath_)
        return;
    filepath_ = folder;
    QSettings().setValue(QStringLiteral("filepath"), folder);
}

// ---------------------------------------------------------------- curves

bool Veltranor::processCalibration()
{
    return computeCurveHandles(correctionPoints, stepSpacing_);
}

void Veltranor::showCalibrationStats()
{
    const qsizetype n = correctionPoints.size();
    if (n < 2)
        return;
    quint64 iterations = 0, seconds = 0;
    double cctError = 0.0, duvError = 0.0, luminanceError = 0.0;
    qsizetype withTarget = 0;
    for (qsizetype i = 1; i < n; ++i) {
        const CalibrationPoint& p = correctionPoints.at(i);
        iterations += p.iterations;
        seconds += p.seconds;
        cctError += std::abs(p.cct - double(targetCCT_));
        duvError += std::abs(p.duv - targetDuv_);
        // A point without a luminance target has no relative error.
        if (p.luminanceTarget != 0.0) {
            luminanceError += 100.0 * std::abs(p.luminance - p.luminanceTarget) / p.luminanceTarget;
            ++withTarget;
        }
    }
    if (calibrator_)
        calibrator_->logTime(QStringLiteral("Including setup time, correction took"), calibrator_->durationSeconds);
    const qsizetype m = n - 1;
    qDebug("Averages over %d point%s: %u iterations, %u seconds; errors %.0f K CCT, %.4f duv, %.2f%% luminance",
           int(m), m == 1 ? "" : "s", uint(std::llround(double(iterations) / double(m))),
           uint(std::llround(double(seconds) / double(m))), cctError / double(m), duvError / double(m),
           withTarget == 0 ? 0.0 : luminanceError / double(withTarget));
}

ErrorType Veltranor::sendCalibration()
{
    if (!display_)
        return {};
    if (correctionPoints.isEmpty()) {
        qDebug("sendCalibration: no correction points to send");
        return {};
    }
    QList<DisplayBase::CalibrationPoint> curves;
    curves.reserve(correctionPoints.size());
    for (const CalibrationPoint& p : std::as_const(correctionPoints))
        curves.append({p.redPx, p.redPy, p.redMx, p.redMy, p.greenPx, p.greenPy, p.greenMx, p.greenMy, p.bluePx,
                       p.bluePy, p.blueMx, p.blueMy});
    const CalibrationPoint& last = correctionPoints.last();
    const ErrorType error =
        display_->sendCalibration(curves, last.redDisplayGain, last.greenDisplayGain, last.blueDisplayGain);
    if (error.code != 0)
        qDebug("sendCalibration: error %s", qUtf8Printable(error.message));
    return error;
}

// ---------------------------------------------------------------- files

bool Veltranor::saveCalibration(QUrl url)
{
    const QString path = url.toLocalFile();
    setFilepath(path);
    // The earlier file is replaced only once the new one is complete: a full
    // disk or a killed program leaves it as it was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qDebug("Unable to open file %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        setStatusString(QStringLiteral("Unable to open file %1").arg(path));
        return false;
    }
    const QByteArray bytes = CorrectionFile::write(correctionPoints);
    // The flush is checked here: a commit does not see a write that fails
    // only as the buffer is flushed, and would keep the partial file.
    if (file.write(bytes) != bytes.size() || !file.flush() || !file.commit()) {
        qDebug("Unable to write file %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        setStatusString(QStringLiteral("Unable to write file %1").arg(path));
        return false;
    }
    setStatusString(QStringLiteral("Correction saved to %1").arg(path));
    return true;
}

bool Veltranor::readCalibration(QUrl url)
{
    // The engine of a stopped run still holds its points.
    if (refuseUnlessIdle_())
        return false;
    const QString path = url.toLocalFile();
    qDebug("read file at %s", qUtf8Printable(path));
    setFilename(path);
    setFilepath(path);
    const QString name = fileNameOf(path);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setStatusString(QStringLiteral("Can’t open file %1: %2").arg(name, file.errorString()));
        qDebug("Unable to open file %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    CorrectionFile::ReadResult result = CorrectionFile::read(file);
    file.close();

    switch (result.outcome) {
    case CorrectionFile::ReadResult::Empty: {
        // A header without rows is as empty as no header: nothing to send.
        const QString text = QStringLiteral("File %1 is empty").arg(name);
        setStatusString(text);
        qDebug("%s", qUtf8Printable(text));
        return false;
    }
    case CorrectionFile::ReadResult::MissingHandles: {
        const QString text =
            QStringLiteral("File is missing one or more px, py, mx, or my columns, so it can’t be used");
        setStatusString(text);
        qDebug("%s", qUtf8Printable(text));
        return false;
    }
    case CorrectionFile::ReadResult::NotFinite:
    case CorrectionFile::ReadResult::OutOfRange:
    case CorrectionFile::ReadResult::NoCorrection:
    case CorrectionFile::ReadResult::LineTooLong:
    case CorrectionFile::ReadResult::TooManyRows: {
        // Refused whole: the points, the correction's availability and the
        // display stay as they were.
        const QString text = refusalText(name, result);
        setStatusString(text);
        qDebug("%s", qUtf8Printable(text));
        return false;
    }
    case CorrectionFile::ReadResult::Read:
        break;
    }

    setStatusString(QStringLiteral("Correction read from %1").arg(name));
    correctionPoints = std::move(result.points);
    for (qsizetype i = 0; i < correctionPoints.size(); ++i) {
        const CalibrationPoint& p = correctionPoints.at(i);
        qDebug("#%2d: %.6f, %.6f, %.6f", int(i), p.red, p.green, p.blue);
    }
    if (calibrator_)
        calibrator_->displayCalibration(name, correctionPoints);
    setResumeStep(0);
    setCalibrationAvailable(true);

    // Sent as a busy phase (ours only when no run was active): the window
    // says what it waits for, and a Stop ends the wait. A failed send leaves
    // the points loaded, to save or to send again.
    const bool onProcessor = vantor_ && display_ == vantor_;
    const ErrorType sent =
        busyRequest_(onProcessor ? kSendingCorrection : QString(), [this] { return sendCalibration(); });
    if (sent.code != 0) {
        setStatusString(QStringLiteral("Correction could not be sent: %1").arg(sent.oneLine()));
        setStatus(-1);
        return false;
    }
    if (onProcessor)
        setStatusString(QStringLiteral("Correction read from %1 and sent").arg(name));
    return true;
}

bool Veltranor::saveLog(QUrl url)
{
    const QString path = url.toLocalFile();
    setFilepath(path);
    setStatusString(QStringLiteral("Saving log to %1...").arg(path));
    bool opened = false;
    const QString error = appLog_->saveTo(path, &opened);
    if (!error.isEmpty()) {
        setStatusString((opened ? QStringLiteral("Unable to write file %1") : QStringLiteral("Unable to open file %1"))
                            .arg(path));
        return false;
    }
    setStatusString(QStringLiteral("Log saved to %1").arg(path));
    return true;
}
