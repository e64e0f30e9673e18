#include "cr100.h"

#include "meterreplies.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPortInfo>
#include <QThread>

#include <utility>

namespace {

constexpr quint16 kVendorId = 0x2799;
constexpr quint16 kProductId = 2;
// The longest wait for the reply to one command of a reading.
constexpr int kReplyTimeoutMs = 10000;
// A filter or matrix change waits at most this long for a reading in
// progress; the reply time-out ends such a reading well before.
constexpr qint64 kBusyWaitMs = 2 * kReplyTimeoutMs;

} // namespace

CR100::CR100(QObject* parent)
    : Colorimeter(QStringLiteral("Colorimetry Research"), parent)
    , readStart(QDateTime::currentDateTime())
{
    replyTimer_.setSingleShot(true);
    replyTimer_.setTimerType(Qt::PreciseTimer);
    replyTimer_.setInterval(kReplyTimeoutMs);
    connect(&replyTimer_, &QTimer::timeout, this, &CR100::replyTimedOut_);
}

bool CR100::isMeterPortName(const QString& name)
{
    return name.startsWith(QLatin1String("cu")) || name.startsWith(QLatin1String("COM"))
           || name.startsWith(QLatin1String("ttyUSB")) || name.startsWith(QLatin1String("ttyACM"));
}

CR100::~CR100()
{
    disconnectPort();
}

bool CR100::portReady()
{
    if (port && port->isOpen())
        return true;
    if (port) {
        disconnectPort();
        delete port;
        port = nullptr;
    }

    QString portName;
    const QString seam = qEnvironmentVariable("VELTRANO_CR100_PORT");
    if (!seam.isEmpty()) {
        portName = seam;
    } else {
        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        for (const QSerialPortInfo& info : ports) {
            const QString name = info.portName();
            if (isMeterPortName(name) && info.hasVendorIdentifier() && info.vendorIdentifier() == kVendorId
                && info.hasProductIdentifier() && info.productIdentifier() == kProductId) {
                portName = name;
                break;
            }
        }
    }

    if (portName.isEmpty()) {
        setError(QStringLiteral("CRI colorimeter not found"));
        setErrorType(ErrorType(2));
        Q_EMIT dataAvailable(this);
        return false;
    }

    qDebug("Found CRI colorimeter on port %s.", qUtf8Printable(portName));
    busy = false;
    resetFilterAndMatrixLists();
    port = new QSerialPort(portName, this);
    connectPort();
    if (!port->open(QIODevice::ReadWrite)) {
        setError(QStringLiteral("Unable to open serial port"));
        disconnectPort();
        delete port;
        port = nullptr;
        setErrorType(ErrorType(2));
        Q_EMIT dataAvailable(this);
        return false;
    }
    setError(QString());
    setErrorType(ErrorType(0));
    return true;
}

void CR100::connectPort()
{
    connect(port, &QSerialPort::errorOccurred, this, &CR100::handleError);
    connect(port, &QSerialPort::readyRead, this, &CR100::readData);
}

void CR100::disconnectPort()
{
    if (!port)
        return;
    if (port->isOpen())
        port->close();
    disconnect(port, nullptr, this, nullptr);
}

void CR100::resetFilterAndMatrixLists()
{
    filtersLoaded = false;
    filterList_.clear();
    Q_EMIT filterChanged();
    Q_EMIT filterNameChanged();
    Q_EMIT filterListChanged();
    matrixList_.clear();
    Q_EMIT matrixChanged();
    Q_EMIT matrixNameChanged();
    Q_EMIT matrixListChanged();
}

bool CR100::send(const char* command)
{
    if (!port || !port->isOpen())
        return false;
    const QByteArray bytes(command);
    if (verbose_) {
        QByteArray shown = bytes;
        shown.replace("\r", "\\r");
        qDebug("Sending [%s]", shown.constData());
    }
    if (port->write(bytes) <= 0)
        return false;
    if (busy) {
        awaited_ = bytes.left(bytes.indexOf('\r'));
        replyTimer_.start();
    }
    return true;
}

void CR100::replyTimedOut_()
{
    if (!busy)
        return;
    qDebug("%s: no reply to [%s] within %d s", qUtf8Printable(name()), awaited_.constData(),
           kReplyTimeoutMs / 1000);
    verbose_ = false;
    filtersPending = 0;
    matricesPending = 0;
    fail_(2, QStringLiteral("No reply to [%1]").arg(QString::fromUtf8(awaited_)));
}

void CR100::fail_(int code, const QString& error)
{
    lock();
    setError(error);
    busy = false;
    replyTimer_.stop();
    setErrorType(ErrorType(code));
    unlock();
    Q_EMIT dataAvailable(this);
}

// A command of the chain that cannot be written ends the reading in
// progress: nothing would ever answer it.
void CR100::sendInChain_(const char* command)
{
    if (send(command) || !busy)
        return;
    verbose_ = false;
    fail_(2, QStringLiteral("No serial communication"));
}

void CR100::read()
{
    if (!portReady())
        return;
    if (busy) {
        qDebug("%s: read() still in progress; returning", qUtf8Printable(name()));
        return;
    }
    if (!port->isOpen()) {
        setError(QStringLiteral("No serial communication"));
        setErrorType(ErrorType(2));
        return;
    }
    busy = true;
    readStart = QDateTime::currentDateTime();
    port->readAll();

    if (filtersLoaded) {
        if (!send("M\r")) {
            qDebug("Sending \"M\" failed.");
            verbose_ = false;
            fail_(2, QStringLiteral("No serial communication"));
        }
    } else {
        verbose_ = true;
        if (!send("SM Reset\r")) {
            qDebug("Sending \"SM Reset\" failed.");
            verbose_ = false;
            fail_(2, QStringLiteral("No serial communication"));
        }
    }
}

void CR100::readData()
{
    while (port) {
        if (droppingLine_) {
            // The rest of an over-long line, up to its end.
            const qint64 n = port->readLine(lineBuffer, sizeof lineBuffer);
            if (n <= 0)
                break;
            if (lineBuffer[n - 1] == '\n')
                droppingLine_ = false;
            continue;
        }
        // A line that cannot end within the buffer is too long, whether or
        // not its end has arrived yet.
        const bool tooLong = port->canReadLine() ? !lineFits_() : port->bytesAvailable() >= qint64(sizeof lineBuffer) - 1;
        if (!port->canReadLine() && !tooLong)
            break;
        const qint64 n = port->readLine(lineBuffer, sizeof lineBuffer);
        if (n < 0) {
            // Ends the reading in progress; a device that cannot be read
            // would fail again at once.
            verbose_ = false;
            fail_(2, QStringLiteral("readData error"));
            break;
        }
        if (tooLong) {
            droppingLine_ = lineBuffer[n - 1] != '\n';
            const QString start = QString::fromUtf8(lineBuffer, qMin<qint64>(n, 32));
            qDebug("%s: dropping a line longer than %d bytes [%s...]", qUtf8Printable(name()),
                   int(sizeof lineBuffer) - 1, qUtf8Printable(start));
            if (busy) {
                verbose_ = false;
                fail_(2, QStringLiteral("reply too long [%1...]").arg(start));
            }
            continue;
        }
        handleLine_(QByteArray(lineBuffer, qsizetype(n)));
    }
}

// Whether the next line, with its end, fits the line buffer.
bool CR100::lineFits_()
{
    const QByteArray next = port->peek(qint64(sizeof lineBuffer) - 1);
    return next.contains('\n') || next.contains('\r');
}

void CR100::handleLine_(const QByteArray& bytes)
{
    const MeterReply::SerialLine line = MeterReply::parseSerialLine(bytes);
    if (line.text.isEmpty())
        return;
    if (verbose_)
        qDebug("%s line [%s]", qUtf8Printable(name()), qUtf8Printable(line.text));

    // A reply that comes after its reading ended (too late, or after an
    // error) must not start a chain of its own.
    if (!busy) {
        qDebug("%s: ignoring unexpected [%s]", qUtf8Printable(name()), qUtf8Printable(line.text));
        return;
    }

    if (!line.isStatus()) {
        handleListLine_(line.text);
        return;
    }
    // A reply to an earlier command (one that came too late) is no answer to
    // the command now waiting.
    if (!answers_(line.echo())) {
        qDebug("%s: ignoring unexpected [%s]", qUtf8Printable(name()), qUtf8Printable(line.text));
        return;
    }

    const QString status = line.status();
    if (status != QLatin1String("OK")) {
        const QString code = line.code();
        if (status == QLatin1String("ER")
            && (code == QLatin1String("-304") || code == QLatin1String("-305"))) {
            qDebug("%s: error %s: %s; setting luminance to zero.", qUtf8Printable(name()),
                   qUtf8Printable(code), qUtf8Printable(line.value()));
            lock();
            setLuminance(0.0);
            // A fresh time, or the reader would discard this as a stale reading.
            setTimestamp();
            setError(QString());
            setErrorType(ErrorType(0));
            unlock();
            busy = false;
            replyTimer_.stop();
            Q_EMIT dataAvailable(this);
            if (verbose_)
                qDebug("\"success\": %.0f K, %.4f dUV, %.2f %s", cct(), duv(), luminance(),
                       qUtf8Printable(luminanceUnits()));
        } else {
            fail_(2, QStringLiteral("Error: [%1]").arg(line.text));
        }
        // The reading has its outcome: the rest of the chain must not pass
        // as the next one.
        verbose_ = false;
        return;
    }

    nextStep_(line.echo(), line.value());
}

bool CR100::answers_(const QString& echo) const
{
    const QString awaited = QString::fromUtf8(awaited_);
    if (echo == awaited)
        return true;
    // These commands carry a number the echo need not repeat.
    for (const char* family : {"SM Filter", "RC Matrix", "SM Matrix", "SM UserCalib"}) {
        if (awaited.startsWith(QLatin1String(family)))
            return echo.startsWith(QLatin1String(family));
    }
    return false;
}

void CR100::handleListLine_(const QString& line)
{
    if (filtersPending > 0) {
        const QStringList fields = line.split(QLatin1Char(','));
        if (fields.size() != 3) {
            fail_(2, QStringLiteral("Bad filter response [%1]").arg(line));
            return;
        }
        auto* option = new Option(MeterReply::parseEntryNumber(fields.at(0)), fields.at(1),
                                  fields.at(2), this);
        if (option->name().startsWith(QLatin1String("ND"))
            && option->type().startsWith(QLatin1String("Radiance"))) {
            filterList_.append(option);
        } else if (verbose_) {
            qDebug("%s: skipping filter %s", qUtf8Printable(name()), qUtf8Printable(line));
        }
        if (--filtersPending == 0)
            filtersLoaded_();
    } else if (matricesPending > 0) {
        const QStringList fields = line.split(QLatin1Char(','));
        if (fields.size() != 11) {
            fail_(2, QStringLiteral("Bad matrix response [%1]").arg(line));
            return;
        }
        matrixList_.append(new Option(MeterReply::parseEntryNumber(fields.at(0)), fields.at(1),
                                      QStringLiteral("matrix"), this));
        if (--matricesPending == 0)
            matricesLoaded_();
    } else {
        qDebug("%s: ignoring unexpected [%s]", qUtf8Printable(name()), qUtf8Printable(line));
    }
}

void CR100::nextStep_(const QString& echo, const QString& value)
{
    const QByteArray meter = name().toUtf8();
    if (echo == QLatin1String("M")) {
        sendInChain_("RM Y\r");
    } else if (echo == QLatin1String("RM Y")) {
        // A luminance that is no number is no reading.
        const std::optional<double> luminance = MeterReply::parseLuminance(value);
        if (!luminance) {
            verbose_ = false;
            fail_(2, QStringLiteral("bad luminance [%1]").arg(value));
            return;
        }
        lock();
        setLuminance(*luminance);
        unlock();
        sendInChain_("RM CCT\r");
    } else if (echo == QLatin1String("RM CCT")) {
        endReading_(value);
    } else if (echo == QLatin1String("SM Reset")) {
        verbose_ = true;
        qDebug("requesting model...");
        sendInChain_("RC Model\r");
    } else if (echo == QLatin1String("RC Model")) {
        if (!value.isEmpty())
            setName(value);
        if (verbose_)
            qDebug("After RC Model: Name is [%s]", qUtf8Printable(name()));
        sendInChain_("RC InstrumentType\r");
    } else if (echo == QLatin1String("RC InstrumentType")) {
        if (value == QLatin1String("2"))
            spectrometer_ = true;
        if (verbose_)
            qDebug("After RC InstrumentType: Name [%s], %s a spectrometer", qUtf8Printable(name()),
                   spectrometer_ ? "is" : "is not");
        sendInChain_("RC Filter\r");
    } else if (echo == QLatin1String("RC Filter")) {
        const quint32 count = MeterReply::parseCount(value);
        filtersPending = int(qMin<quint32>(count, quint32(INT_MAX)));
        filterList_.clear();
        if (verbose_)
            qDebug("%s: %d filters in list", meter.constData(), filtersPending);
        if (filtersPending == 0)
            filtersLoaded_();
    } else if (echo.startsWith(QLatin1String("SM Filter"))) {
        if (verbose_)
            qDebug("%s: filter set; fetch matrices", meter.constData());
        sendInChain_("RC MatrixCalib\r");
    } else if (echo.startsWith(QLatin1String("RC Matrix"))) {
        const quint32 count = MeterReply::parseCount(value.section(QLatin1Char(','), 0, 0));
        matricesPending = int(qMin<quint32>(count, quint32(INT_MAX)));
        matrixList_.clear();
        if (verbose_)
            qDebug("%s: %d matrices in list", meter.constData(), matricesPending);
        if (matricesPending == 0)
            matricesLoaded_();
    } else if (echo.startsWith(QLatin1String("SM Matrix"))) {
        if (verbose_)
            qDebug("%s: matrix has been set; now set calib mode.", meter.constData());
        sendUserCalibMode();
    } else if (echo.startsWith(QLatin1String("SM UserCalib"))) {
        if (verbose_)
            qDebug("%s: UserCalibMode has been set; now measure.", meter.constData());
        sendInChain_("M\r");
    }
}

void CR100::endReading_(const QString& value)
{
    const MeterReply::CctDuv reading = MeterReply::parseCctDuv(value);
    if (!reading.valid || reading.cct == 0.0) {
        if (reading.valid)
            fail_(1, QStringLiteral("CCT, dUV unavailable / out of range"));
        else
            fail_(2, QStringLiteral("bad CCT,dUv [%1]").arg(value));
        verbose_ = false;
        return;
    }
    lock();
    setTimestamp();
    setCct(reading.cct);
    setDuv(reading.duv);
    setError(QString());
    setErrorType(ErrorType(0));
    unlock();
    if (verbose_)
        qDebug("success: %.0f K, %.4f dUV, %.2f %s", cct(), duv(), luminance(),
               qUtf8Printable(luminanceUnits()));
    busy = false;
    replyTimer_.stop();
    verbose_ = false;
    Q_EMIT dataAvailable(this);
    const float seconds = float(readStart.msecsTo(QDateTime::currentDateTime())) / 1000.0f;
    if (seconds > 20.0f)
        qDebug("Colorimeter reading took %.3f seconds", double(seconds));
}

void CR100::sendFilter(int number)
{
    Colorimeter::setFilter(number);
    if (storedFilter() < 0) {
        if (verbose_)
            qDebug("%s: filter #-1; sending SM Reset", qUtf8Printable(name()));
        sendInChain_("SM Reset\r");
    } else {
        const QByteArray command = QByteArray("SM Filter1 ") + QByteArray::number(storedFilter()) + '\r';
        sendInChain_(command.constData());
        if (verbose_)
            qDebug("%s: setting filter #%d", qUtf8Printable(name()), storedFilter());
    }
}

void CR100::sendMatrix(int number)
{
    Colorimeter::setMatrix(number);
    if (storedMatrix() < 0) {
        if (verbose_)
            qDebug("%s: matrix #-1; sending SM UserCalibMode 0", qUtf8Printable(name()));
        sendInChain_("SM UserCalibMode 0\r");
    } else {
        const QByteArray command = QByteArray("SM Matrix ") + QByteArray::number(storedMatrix()) + '\r';
        sendInChain_(command.constData());
        if (verbose_)
            qDebug("%s: setting matrix #%d", qUtf8Printable(name()), storedMatrix());
    }
}

void CR100::sendUserCalibMode()
{
    const char* command = "SM UserCalibMode 1\r";
    if (verbose_)
        qDebug("%s: sending %s", qUtf8Printable(name()), "SM UserCalibMode 1\\r");
    sendInChain_(command);
}

void CR100::waitWhileBusy_()
{
    if (!portReady())
        return;
    QElapsedTimer waited;
    waited.start();
    while (busy && waited.elapsed() < kBusyWaitMs) {
        if (!port || !port->isOpen())
            break;
        if (verbose_)
            qDebug("===================================== waiting...");
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    if (portReady())
        busy = true;
}

// A choice made while the lists are gone (a reading that failed discarded
// them) is kept: the lists are reloaded first, and the reload applies it.
void CR100::setFilter(int number)
{
    waitWhileBusy_();
    if (filtersLoaded || !busy) {
        sendFilter(number);
        return;
    }
    chosenFilter_ = number;
    verbose_ = true;
    sendInChain_("SM Reset\r");
}

void CR100::setMatrix(int number)
{
    waitWhileBusy_();
    if (filtersLoaded || !busy) {
        sendMatrix(number);
        return;
    }
    chosenMatrix_ = number;
    verbose_ = true;
    sendInChain_("SM Reset\r");
}

void CR100::filtersLoaded_()
{
    filtersLoaded = true;
    Q_EMIT filterListChanged();
    if (const std::optional<int> chosen = std::exchange(chosenFilter_, std::nullopt))
        Colorimeter::setFilter(*chosen);
    if (storedFilter() < 0)
        sendInChain_("RC MatrixCalib\r");
    else
        sendFilter(storedFilter());
}

void CR100::matricesLoaded_()
{
    Q_EMIT matrixListChanged();
    if (const std::optional<int> chosen = std::exchange(chosenMatrix_, std::nullopt))
        Colorimeter::setMatrix(*chosen);
    sendMatrix(storedMatrix());
}

void CR100::setErrorType(ErrorType e)
{
    Colorimeter::setErrorType(e);
    if (e.code == 2) {
        if (verbose_)
            qDebug("%s: fatal error, discarding filters and matrices.", qUtf8Printable(name()));
        resetFilterAndMatrixLists();
    }
}

void CR100::handleError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError || !port)
        return;
    setError(port->errorString());
    port->close();
    busy = false;
    replyTimer_.stop();
    setErrorType(ErrorType(2));
    Q_EMIT dataAvailable(this);
}
