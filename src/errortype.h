#pragma once

#include <QMetaType>
#include <QString>

// Outcome of every display, meter and camera operation.
//   code 0: no error (message empty)
//   code 1: recoverable, the caller may retry the same operation
//   code 2: fatal, the caller stops
struct ErrorType
{
    int code = 0;
    QString message;
    // This program ended the request (a Stop, a new address, the quit): it
    // says nothing about the device.
    bool cancelled = false;

    ErrorType() = default;
    ErrorType(int code, const QString& message = QString())
        : code(code)
        , message(message)
    {
    }

    // A request this program cancelled (code 1, the network library's text).
    static ErrorType cancelledRequest(const QString& message)
    {
        ErrorType error(1, message);
        error.cancelled = true;
        return error;
    }

    // The message on one line, for a status text: trimmed, every line break
    // (a processor's reply body may hold several) shown as "; ".
    QString oneLine() const
    {
        QString text = message.trimmed();
        text.replace(QLatin1String("\r\n"), QLatin1String("; "));
        text.replace(QLatin1Char('\n'), QLatin1String("; "));
        text.replace(QLatin1Char('\r'), QLatin1String("; "));
        return text;
    }

    // Two values are equal when both are OK or both are errors; the message and
    // the exact error code do not take part.
    friend bool operator==(const ErrorType& a, const ErrorType& b)
    {
        return (a.code == 0) == (b.code == 0);
    }
    friend bool operator!=(const ErrorType& a, const ErrorType& b) { return !(a == b); }
    // OK orders before any error.
    friend bool operator<(const ErrorType& a, const ErrorType& b)
    {
        return a.code == 0 && b.code != 0;
    }
};

Q_DECLARE_METATYPE(ErrorType)
