#include "processorstandin.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QTest>

#include <sstream>

ProcessorStandin::ProcessorStandin() = default;

ProcessorStandin::ProcessorStandin(const QString& script)
    : script_(script)
{
}

ProcessorStandin::~ProcessorStandin()
{
    stop();
}

bool ProcessorStandin::start(const QStringList& arguments)
{
    stop();
    error_.clear();
    process_.setProgram(QStringLiteral("python3"));
    process_.setArguments(QStringList{QStringLiteral(VELTRANO_STANDINS_DIR "/") + script_} + arguments);
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.setReadChannel(QProcess::StandardOutput);
    process_.start();
    if (!process_.waitForStarted(10000)) {
        error_ = QStringLiteral("python3 did not start: %1").arg(process_.errorString());
        return false;
    }
    QDeadlineTimer deadline(15000);
    while (!process_.canReadLine() && !deadline.hasExpired()) {
        if (process_.state() != QProcess::Running)
            break;
        process_.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    const QByteArray line = process_.readLine().trimmed();
    bool ok = false;
    const uint port = line.toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        error_ = QStringLiteral("fake processor gave no port (stdout \"%1\", stderr \"%2\")")
                     .arg(QString::fromUtf8(line), QString::fromUtf8(process_.readAllStandardError()));
        stop();
        return false;
    }
    port_ = quint16(port);
    return true;
}

void ProcessorStandin::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.closeWriteChannel(); // the server stops when its input closes
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(2000);
    }
    port_ = 0;
}

QJsonValue ProcessorStandin::control(const QByteArray& method, const QByteArray& path, const QJsonValue& body)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port_);
    if (!socket.waitForConnected(5000)) {
        qWarning("fake processor control: no connection: %s", qPrintable(socket.errorString()));
        return {};
    }
    QByteArray payload;
    if (body.isObject())
        payload = QJsonDocument(body.toObject()).toJson(QJsonDocument::Compact);
    else if (body.isArray())
        payload = QJsonDocument(body.toArray()).toJson(QJsonDocument::Compact);
    QByteArray request = method + ' ' + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
    if (!payload.isEmpty())
        request += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(payload.size()) + "\r\n";
    request += "\r\n" + payload;
    socket.write(request);
    socket.waitForBytesWritten(5000);
    QByteArray reply;
    QDeadlineTimer deadline(10000);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(100);
        reply += socket.readAll();
    }
    reply += socket.readAll();
    const int split = reply.indexOf("\r\n\r\n");
    if (!reply.startsWith("HTTP/1.1 200") || split < 0) {
        qWarning("fake processor control %s %s failed: %s", method.constData(), path.constData(),
                 reply.left(200).constData());
        return {};
    }
    const QJsonDocument doc = QJsonDocument::fromJson(reply.mid(split + 4));
    if (doc.isArray())
        return doc.array();
    return doc.object();
}

QJsonArray ProcessorStandin::requestLog()
{
    return control("GET", "/__log").toArray();
}

void ProcessorStandin::clearLog()
{
    control("POST", "/__log/clear");
}

void ProcessorStandin::setAuth(const QJsonObject& settings)
{
    control("POST", "/__auth", settings);
}

void ProcessorStandin::addRule(const QJsonObject& rule)
{
    control("POST", "/__script", QJsonObject{{QStringLiteral("rules"), QJsonArray{rule}}});
}

void ProcessorStandin::clearRules()
{
    control("POST", "/__script/clear");
}

void ProcessorStandin::queueCalBusy(const QString& tile, const QJsonArray& replies)
{
    control("POST", "/__calbusy", QJsonObject{{tile, replies}});
}

void ProcessorStandin::clearCalBusy()
{
    control("POST", "/__calbusy/clear");
}

int ProcessorStandin::releaseHung()
{
    return control("POST", "/__release").toObject().value(QStringLiteral("released")).toInt();
}

QJsonObject ProcessorStandin::state()
{
    return control("GET", "/__state").toObject();
}

QJsonObject ProcessorStandin::uploads()
{
    return control("GET", "/__uploads").toObject();
}

void ProcessorStandin::setState(const QJsonObject& state)
{
    control("PUT", "/__state", state);
}

bool ProcessorStandin::waitForRequests(int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (requestLog().size() < count) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

QByteArray ProcessorStandin::raw(const QJsonObject& record)
{
    return QByteArray::fromBase64(record.value(QStringLiteral("raw64")).toString().toLatin1());
}

QByteArray ProcessorStandin::body(const QJsonObject& record)
{
    return QByteArray::fromBase64(record.value(QStringLiteral("body64")).toString().toLatin1());
}

TessCalFile::Mesh ProcessorStandin::uploadedMesh(const QJsonObject& record)
{
    std::istringstream in(body(record).toStdString());
    return TessCalFile::Handler().readStreamMesh(in);
}

QList<QPair<QString, QString>> ProcessorStandin::headers(const QJsonObject& record)
{
    QList<QPair<QString, QString>> result;
    const QJsonArray list = record.value(QStringLiteral("headers")).toArray();
    for (const QJsonValue& item : list) {
        const QJsonArray pair = item.toArray();
        result.append({pair.at(0).toString(), pair.at(1).toString()});
    }
    return result;
}

QString ProcessorStandin::header(const QJsonObject& record, const QString& name)
{
    const auto list = headers(record);
    for (const auto& [key, value] : list) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}
