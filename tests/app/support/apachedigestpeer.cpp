#include "apachedigestpeer.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <unistd.h>

namespace {

bool writeFile(const QString& path, const QByteArray& data, QFile::Permissions permissions)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(data);
    file.close();
    return file.setPermissions(permissions);
}

const QFile::Permissions kReadable = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
const QFile::Permissions kExecutable = kReadable | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

const char kEchoScript[] = R"(#!/usr/bin/python3
import os, sys
n = int(os.environ.get("CONTENT_LENGTH") or 0)
body = sys.stdin.buffer.read(n) if n else b""
out = sys.stdout.buffer
out.write(b"Content-Type: text/plain\r\n\r\n")
out.write(("%s %s %d\n" % (os.environ.get("REQUEST_METHOD"), os.environ.get("REQUEST_URI"), len(body))).encode())
out.write(body)
out.flush()
)";

} // namespace

ApacheDigestPeer::ApacheDigestPeer() = default;

ApacheDigestPeer::~ApacheDigestPeer()
{
    stop();
}

QString ApacheDigestPeer::executable()
{
    const QFileInfo program(QStringLiteral("/usr/sbin/apache2"));
    const QFileInfo module(QStringLiteral("/usr/lib/apache2/modules/mod_auth_digest.so"));
    return program.isExecutable() && module.exists() ? program.filePath() : QString();
}

bool ApacheDigestPeer::start(const QString& realm, const QString& user, const QString& password,
                             int nonceLifetimeSeconds)
{
    // The free port is only probed, so another process may take it first: try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnce(realm, user, password, nonceLifetimeSeconds))
            return true;
    }
    return false;
}

bool ApacheDigestPeer::startOnce(const QString& realm, const QString& user, const QString& password,
                                 int nonceLifetimeSeconds)
{
    stop();
    error_.clear();
    if (executable().isEmpty()) {
        error_ = QStringLiteral("apache2 is not installed");
        return false;
    }
    dir_ = std::make_unique<QTemporaryDir>();
    if (!dir_->isValid()) {
        error_ = QStringLiteral("no temporary folder");
        return false;
    }
    const QString root = dir_->path();
    // The server's children may run as another user (when started as root):
    // the folder, the user file and the script must be readable for them.
    QFile::setPermissions(root, kExecutable | QFile::WriteOwner);
    QDir(root).mkpath(QStringLiteral("logs"));
    QDir(root).mkpath(QStringLiteral("run"));
    QDir(root).mkpath(QStringLiteral("htdocs"));
    QDir(root).mkpath(QStringLiteral("cgi"));
    for (const char* sub : {"htdocs", "cgi"})
        QFile::setPermissions(root + '/' + QLatin1String(sub), kExecutable | QFile::WriteOwner);

    const QByteArray ha1 = QCryptographicHash::hash((user + ':' + realm + ':' + password).toUtf8(),
                                                    QCryptographicHash::Md5)
                               .toHex();
    bool ok = writeFile(root + QStringLiteral("/users"), (user + ':' + realm + ':').toUtf8() + ha1 + '\n', kReadable)
              && writeFile(root + QStringLiteral("/htdocs/index.txt"), "hello\n", kReadable)
              && writeFile(root + QStringLiteral("/cgi/echo"), kEchoScript, kExecutable);

    port_ = freePort();
    const QString modules = QStringLiteral("/usr/lib/apache2/modules");
    QString conf;
    conf += QStringLiteral("ServerRoot \"%1\"\n").arg(root);
    conf += QStringLiteral("DefaultRuntimeDir \"%1/run\"\n").arg(root);
    conf += QStringLiteral("PidFile \"%1/run/httpd.pid\"\n").arg(root);
    conf += QStringLiteral("Listen 127.0.0.1:%1\n").arg(port_);
    conf += QStringLiteral("ServerName 127.0.0.1\n");
    for (const char* module : {"mpm_prefork", "authn_core", "authn_file", "authz_core", "authz_user", "auth_digest",
                               "alias", "cgi"}) {
        conf += QStringLiteral("LoadModule %1_module %2/mod_%1.so\n").arg(QLatin1String(module), modules);
    }
    if (geteuid() == 0)
        conf += QStringLiteral("User nobody\nGroup nogroup\n");
    conf += QStringLiteral("StartServers 2\nMinSpareServers 1\nMaxSpareServers 4\n");
    conf += QStringLiteral("ErrorLog \"%1/logs/error.log\"\nLogLevel info auth_digest:debug\n").arg(root);
    conf += QStringLiteral("LogFormat \"%r %>s\" brief\nCustomLog \"%1/logs/access.log\" brief\n").arg(root);
    conf += QStringLiteral("DocumentRoot \"%1/htdocs\"\n").arg(root);
    conf += QStringLiteral("ScriptAlias /cgi/ \"%1/cgi/\"\n").arg(root);
    conf += QStringLiteral("<Location />\n"
                           "  AuthType Digest\n"
                           "  AuthName \"%1\"\n"
                           "  AuthDigestProvider file\n"
                           "  AuthUserFile \"%2/users\"\n"
                           "  AuthDigestNonceLifetime %3\n"
                           "  Require valid-user\n"
                           "</Location>\n")
                .arg(realm, root)
                .arg(nonceLifetimeSeconds);
    ok = ok && writeFile(root + QStringLiteral("/httpd.conf"), conf.toUtf8(), kReadable);
    if (!ok || port_ == 0) {
        error_ = QStringLiteral("could not prepare the server folder");
        return false;
    }

    process_.setProgram(executable());
    process_.setArguments({QStringLiteral("-f"), root + QStringLiteral("/httpd.conf"), QStringLiteral("-DFOREGROUND")});
    process_.setProcessChannelMode(QProcess::MergedChannels);
    // On stop the server signals its whole process group: give it its own.
    process_.setChildProcessModifier([] { ::setsid(); });
    process_.start();
    if (!process_.waitForStarted(10000)) {
        error_ = QStringLiteral("apache2 did not start: %1").arg(process_.errorString());
        return false;
    }
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (process_.state() != QProcess::Running) {
            error_ = QStringLiteral("apache2 stopped: %1 %2")
                         .arg(QString::fromUtf8(process_.readAll()), errorLog());
            return false;
        }
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port_);
        if (probe.waitForConnected(200)) {
            probe.abort();
            return true;
        }
        QThread::msleep(50);
    }
    error_ = QStringLiteral("apache2 does not listen: %1").arg(errorLog());
    stop();
    return false;
}

void ApacheDigestPeer::stop()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }
}

QStringList ApacheDigestPeer::accessLog() const
{
    if (!dir_)
        return {};
    QFile file(dir_->path() + QStringLiteral("/logs/access.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

QString ApacheDigestPeer::errorLog() const
{
    if (!dir_)
        return {};
    QFile file(dir_->path() + QStringLiteral("/logs/error.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}
