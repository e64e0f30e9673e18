#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <string>

// Debian's apache2 with mod_auth_digest on 127.0.0.1, as a real Digest peer:
// its own configuration, server root, pid file, logs and user file in a
// temporary folder, run in the foreground as a child process on a free port.
// Everything under "/" needs Digest (MD5, qop auth); "/cgi/echo" is a CGI
// script that answers "<method> <uri> <body length>" and the body.
class ApacheDigestPeer {
public:
    ApacheDigestPeer();
    ~ApacheDigestPeer();
    ApacheDigestPeer(const ApacheDigestPeer&) = delete;
    ApacheDigestPeer& operator=(const ApacheDigestPeer&) = delete;

    // The apache2 program, or empty when it is not installed.
    static QString executable();

    bool start(const QString& realm, const QString& user, const QString& password, int nonceLifetimeSeconds);
    void stop();
    QString errorString() const { return error_; }

    quint16 port() const { return port_; }
    std::string host() const { return "127.0.0.1"; }
    std::string service() const { return std::to_string(port_); }

    // The access log, one "<request line> <status>" per request.
    QStringList accessLog() const;
    QString errorLog() const;

private:
    bool startOnce(const QString& realm, const QString& user, const QString& password, int nonceLifetimeSeconds);

    std::unique_ptr<QTemporaryDir> dir_;
    QProcess process_;
    quint16 port_ = 0;
    QString error_;
};
