#pragma once

#include "colorimeter.h"

#include <QDateTime>
#include <QSerialPort>
#include <QTimer>

#include <optional>

// The colour meter on a USB serial port. The instrument answers each command
// (ended by one carriage return) with a status line "STATUS:CODE:ECHO:VALUE";
// list commands are followed by one ","-separated line per entry. A reading is
// a chain of commands, each reply's handler sending the next one. The first
// reading after the port opens, or after a fatal error, also reloads the model
// name and the filter and matrix lists and applies the saved selections.
//
// The port is searched by name and USB ids; the environment variable
// VELTRANO_CR100_PORT, when set, names the port to use instead. A command of
// a reading that gets no reply within 10 s ends that reading with a fatal
// error, so a lost or garbled reply never leaves the meter busy.
class CR100 : public Colorimeter
{
    Q_OBJECT

public:
    explicit CR100(QObject* parent = nullptr);
    ~CR100() override;

    void setErrorType(ErrorType e) override;
    void setFilter(int number) override;
    void setMatrix(int number) override;

    // Whether a serial port of this name may be the instrument: "cu*" and
    // "COM*" (macOS, Windows) or "ttyUSB*" and "ttyACM*" (Linux).
    static bool isMeterPortName(const QString& name);

public Q_SLOTS:
    void read() override;
    void readData();
    void handleError(QSerialPort::SerialPortError error);

private:
    bool portReady();
    bool send(const char* command);
    void sendFilter(int number);
    void sendMatrix(int number);
    void sendUserCalibMode();
    void connectPort();
    void disconnectPort();
    void resetFilterAndMatrixLists();

    bool lineFits_();
    void handleLine_(const QByteArray& bytes);
    // Whether a status line's echo answers the command waiting for its reply.
    bool answers_(const QString& echo) const;
    void handleListLine_(const QString& line);
    void nextStep_(const QString& echo, const QString& value);
    void endReading_(const QString& value);
    void fail_(int code, const QString& error);
    void sendInChain_(const char* command);
    void waitWhileBusy_();
    void filtersLoaded_();
    void matricesLoaded_();
    void replyTimedOut_();

    QSerialPort* port = nullptr;
    char lineBuffer[200] = {};
    bool filtersLoaded = false;
    int filtersPending = 0;
    int matricesPending = 0;
    bool busy = false;
    QDateTime readStart;
    // Runs from each command sent during a reading until its reply.
    QTimer replyTimer_;
    QByteArray awaited_; // the command the timer waits on, without its CR
    bool droppingLine_ = false; // reading the rest of an over-long line
    // A filter or matrix chosen while the lists were gone: applied when the
    // reload has brought them back.
    std::optional<int> chosenFilter_;
    std::optional<int> chosenMatrix_;
};
