// Readings from the colour meter and gains sent to the display: the
// primitives every task of the Calibrator uses.

#include "calibrator.h"

#include "colorimeter.h"
#include "displaybase.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>

QString timestamp()
{
    // A local time converted to its own offset prints the offset ("Z" for 0).
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

void Calibrator::readColorimeterData(Colorimeter* data)
{
    if (!running_ || !data)
        return;
    QString error;
    data->lock();
    reading.cct = data->cct();
    reading.duv = data->duv();
    reading.luminance = data->luminance();
    reading.timestamp = data->timestamp();
    luminanceUnits = data->luminanceUnits();
    colorimeterErrorType_ = data->errorType();
    error = data->error();
    data->unlock();
    setColorimeterError(error);
    dataReady = true;
}

void Calibrator::setReadTime_(const QString& time)
{
    const std::lock_guard lock(readTimeMutex);
    readTime = time;
}

QString Calibrator::readTime_() const
{
    const std::lock_guard lock(readTimeMutex);
    return readTime;
}

void Calibrator::saveThisToLast_()
{
    lastGains = gains;
    lastReading.cct = reading.cct;
    lastReading.duv = reading.duv;
    lastReading.luminance = reading.luminance;
}

void Calibrator::delay_(unsigned ms)
{
    const QDeadlineTimer deadline(ms);
    while (running_ && !deadline.hasExpired()) {
        QThread::msleep(ulong(std::clamp<qint64>(deadline.remainingTime(), 1, 50)));
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

bool Calibrator::waitForData_(unsigned ms)
{
    if (dataReady)
        return true;
    const QDeadlineTimer deadline = ms == 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(qint64(ms));
    // Sleep in the event dispatcher until something arrives; the tick bounds
    // each sleep, so a flag cleared by a direct call and the deadline are
    // seen as well.
    QTimer tick;
    tick.start(50);
    while (!dataReady && running_ && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return dataReady;
}

bool Calibrator::takeReading_()
{
    if (mode_ != ModeLinearity && usingCoroutines) {
        qDebug("***** ERROR: takeReadings_ called while balancing using coroutines. *****");
        return false;
    }
    if (mode_ == ModeBalance)
        return false;

    // A meter that answers nothing at all ends the reading with a meter
    // error instead of holding the run until it is stopped. Each request has
    // the whole bound: slow answers and the pauses after errors are no
    // silence.
    const unsigned silence = std::max(1u, meterSilenceMs.load());
    auto meterSilent = [this, silence] {
        const QString text = QStringLiteral("no valid reading within %1 s").arg(silence / 1000);
        qDebug("takeReading_: %s", qUtf8Printable(text));
        colorimeterErrorType_ = ErrorType(2, text);
        setColorimeterError(text);
        return false;
    };
    for (int attempt = 0; attempt < 10 && running_; ++attempt) {
        setReadTime_(timestamp());
        previousTimestamp = reading.timestamp;
        dataReady = false;
        Q_EMIT takeReading();
        if (!waitForData_(silence))
            return running_ ? meterSilent() : false;

        const int code = colorimeterErrorType_.code;
        if (code == 0) {
            if (reading.timestamp != previousTimestamp)
                return true;
            delay_(100); // no new data yet
        } else if (code == 1) {
            if (logIt_())
                qDebug("takeReading_: recoverable error %s; will retry...",
                       qUtf8Printable(colorimeterError_));
            delay_(2000);
        } else {
            if (logIt_())
                qDebug("takeReading_: fatal error %s", qUtf8Printable(colorimeterError_));
            return false;
        }
    }
    if (running_)
        qDebug("takeReading_: no new or valid data after multiple retries.");
    return false;
}

bool Calibrator::takeMultipleReadings_(int count)
{
    if (mode_ != ModeLinearity && usingCoroutines) {
        qDebug("***** ERROR: takeMultipleReadings_ called while balancing using coroutines. *****");
        return false;
    }
    if (mode_ == ModeBalance)
        return false;

    const int n = count <= 0 ? 1 : std::min(count, 100);
    double cct = 0.0, duv = 0.0, luminance = 0.0;
    for (int i = 0; i < n && running_; ++i) {
        if (!takeReading_())
            return false;
        cct += reading.cct;
        duv += reading.duv;
        luminance += reading.luminance;
    }
    reading.cct = cct / n;
    reading.duv = duv / n;
    reading.luminance = luminance / n;
    return true;
}

int Calibrator::sendGainsLoop_(double r, double g, double b, ControlType type, const char* who)
{
    if (type == ControlDefault)
        type = defaultControlType;
    ErrorType result;
    for (int attempt = 0; attempt < 20 && running_; ++attempt) {
        DisplayBase* d = display_.load();
        if (!d) {
            result = ErrorType(2, QStringLiteral("no display"));
        } else if (type == ControlDisplayGain) {
            result = d->setDisplayGainRGB(r, g, b);
        } else {
            result = d->setRGB(number_, r, g, b);
        }
        if (result.code == 0)
            break;
        if (result.code == 1) {
            if (running_ && logIt_())
                qDebug("#%-4d Calibrator::%s: recoverable error %s; will retry...", int(number_), who,
                       qUtf8Printable(result.message));
            delay_(100);
            continue;
        }
        qDebug("Calibrator::%s: fatal error %s", who, qUtf8Printable(result.message));
        break;
    }
    // Given up while the run goes on: the task ends on the display's error.
    if (result.code != 0 && running_ && displayError.code == 0)
        displayError = result;
    return result.code;
}

bool Calibrator::sendRGBGains_(double r, double g, double b, ControlType type)
{
    const int code = sendGainsLoop_(r, g, b, type, "sendRGBGains_");
    if (colorimeterErrorType_.code != 0 && running_)
        qDebug("****#%-4d exiting sendRGBGains_ with error types %d, (colorimeter), %d (output)****",
               int(number_), colorimeterErrorType_.code, code);
    return code == 0;
}

bool Calibrator::setRGBGains_(double r, double g, double b, ControlType type)
{
    saveThisToLast_();
    if (usingCoroutines) {
        qDebug("***** ERROR: setRGBGains_ called while using coroutines. *****");
        return false;
    }
    const int code = sendGainsLoop_(r, g, b, type, "setRGBGains_");
    gains = {r, g, b};
    if (colorimeterErrorType_.code != 0 && running_)
        qDebug("****#%-4d exiting setRGBGains_ with error types %d, (colorimeter), %d (ouyput)****",
               int(number_), colorimeterErrorType_.code, code);
    return code == 0;
}

bool Calibrator::getRGBDeltas_()
{
    const double error[3] = {targetLum_ - reading.luminance, targetCCT_ - reading.cct,
                             targetDuv_ - reading.duv};
    const auto& s = sensitivity;
    // Cofactors; the inverse is their transpose divided by the determinant.
    double c[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            c[i][j] = s[i1][j1] * s[i2][j2] - s[i1][j2] * s[i2][j1];
        }
    }
    const double det = s[0][0] * c[0][0] + s[0][1] * c[0][1] + s[0][2] * c[0][2];
    if (std::fabs(det) > 1e-21) {
        for (int ch = 0; ch < 3; ++ch)
            deltas[ch] = (c[0][ch] * error[0] + c[1][ch] * error[1] + c[2][ch] * error[2]) / det;
        return true;
    }
    if (logIt_()) {
        qDebug("getRGBDeltas_: determinant %.24f; %s invertible", det, "NOT");
        qDebug("                (cutoff is %.24f)", 1e-21);
        qDebug("    lr %+.20f  lg %+.20f  ld %+.20f", s[0][0], s[0][1], s[0][2]);
        qDebug("    kr %+.20f  kg %+.20f  kb %+.20f", s[1][0], s[1][1], s[1][2]);
        qDebug("    dr %+.20f  dg %+.20f  db %+.20f", s[2][0], s[2][1], s[2][2]);
        qDebug("    --------------------------------------");
        qDebug("    deltas: CCT %f  duv %f  lum %f", error[1], error[2], error[0]);
    }
    return false;
}

bool Calibrator::getRGBDeltasWithRetries_()
{
    if (getRGBDeltas_())
        return true;
    for (int retry = 1; retry <= 3; ++retry) {
        if (number_ != 0)
            qDebug("LDM #%d getRGBDeltas failed; retry #%d", int(number_), retry);
        else
            qDebug("getRGBDeltas failed; retry #%d", retry);

        // Only the meter can measure the sensitivity anew. An adjuster of a
        // camera run has no display of its own and reads no meter.
        if (mode_ != ModeLinearity)
            continue;
        gainSetCoroutine = coSetGains_();
        bool measured = true;
        while (measured && !gainSetCoroutine.done()) {
            gainSetCoroutine.resume();
            measured = sendRGBGains_(gains.red, gains.green, gains.blue, defaultControlType);
            if (measured) {
                delay_(readDelay_);
                measured = readForCorrection_(int(readCount_));
            }
        }
        if (!measured) {
            gainSetCoroutine = AdjustTask::idle();
            if (failed_())
                return false; // the display no longer takes gains, or the meter gave no reading
            continue;
        }
        if (getRGBDeltas_())
            return true;
    }
    return false;
}

bool Calibrator::limitRGBDeltas_(double percent, double scale, unsigned maxDelta)
{
    bool changed = false;
    auto largest = [this](double divisor) {
        return std::max({std::fabs(deltas[0] / divisor), std::fabs(deltas[1] / divisor),
                         std::fabs(deltas[2] / divisor)});
    };
    auto scaleAll = [this](double f) {
        for (double& d : deltas)
            d *= f;
    };

    if (percent != 0.0) {
        const double m = largest(maximumValue_);
        if (m > percent / 100.0) {
            const double f = (percent / 100.0) / m;
            scaleAll(f);
            changed = true;
            if (logIt_())
                qDebug("limitRGBDeltas_: limiting delta percentages by %f to %.2f%% of value", f, percent);
        }
    }
    if (scale != 0.0) {
        scaleAll(scale);
        changed = true;
        if (logIt_()) {
            const double s = scale * 100.0;
            if (scale < 0.01)
                qDebug("limitRGBDeltas_: limiting gains by %.2f%% ", s);
            else if (scale < 0.1)
                qDebug("limitRGBDeltas_: limiting gains by %.1f%% ", s);
            else
                qDebug("limitRGBDeltas_: limiting gains by %.0f%% ", s);
        }
    }
    if (maxDelta != 0) {
        const double m = largest(1.0);
        if (m > double(maxDelta)) {
            const double f = double(maxDelta) / m;
            scaleAll(f);
            changed = true;
            if (logIt_())
                qDebug("limitRGBDeltas_: limiting deltas by scale %.4f", f);
        }
    }
    return changed;
}
