#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "glowkit/tesscalfile.h"

#include <string>

// Runs tests/standins/fake_processor.py, the stand-in LED processor, as a child
// process on 127.0.0.1 and talks to its control resources. The control calls
// are plain blocking HTTP/1.0 exchanges, so they work on any thread and need
// no event loop.
class ProcessorStandin {
public:
    ProcessorStandin();
    // Another stand-in of tests/standins with the same start and control
    // conventions (port on the first stdout line, JSON control resources).
    explicit ProcessorStandin(const QString& script);
    ~ProcessorStandin();
    ProcessorStandin(const ProcessorStandin&) = delete;
    ProcessorStandin& operator=(const ProcessorStandin&) = delete;

    // Starts the server (extra command-line arguments, e.g. "--auth", json);
    // false with errorString() when it does not come up.
    bool start(const QStringList& arguments = {});
    void stop();
    QString errorString() const { return error_; }

    quint16 port() const { return port_; }
    std::string host() const { return "127.0.0.1"; }
    std::string service() const { return std::to_string(port_); }

    // One control exchange; the reply's JSON (null on failure, with a warning).
    QJsonValue control(const QByteArray& method, const QByteArray& path, const QJsonValue& body = {});

    QJsonArray requestLog();
    void clearLog();
    void setAuth(const QJsonObject& settings);
    void addRule(const QJsonObject& rule);
    void clearRules();
    void queueCalBusy(const QString& tile, const QJsonArray& replies);
    // Drops the queued calBusy replies and the pending busy/idle handshakes.
    void clearCalBusy();
    int releaseHung();
    QJsonObject state();
    // {tile: {ldm: base64 body}}: the last calibration upload of each LDM.
    QJsonObject uploads();
    void setState(const QJsonObject& state);

    // Waits (processing events) until the log holds at least `count` records.
    bool waitForRequests(int count, int timeoutMs = 5000);

    // Helpers for log records.
    static QByteArray raw(const QJsonObject& record);
    static QByteArray body(const QJsonObject& record);
    static QList<QPair<QString, QString>> headers(const QJsonObject& record);
    static QString header(const QJsonObject& record, const QString& name);
    // The correction mesh of an uploaded body, as the library reads it back.
    static TessCalFile::Mesh uploadedMesh(const QJsonObject& record);

private:
    QString script_ = QStringLiteral("fake_processor.py");
    QProcess process_;
    quint16 port_ = 0;
    QString error_;
};
