// ctest-labels: threaded
// The coroutine HTTP client and its synchronous wait, against the stand-in
// processor (exact request bytes, scripted answers, Digest), closed and silent
// peers, cancel-all, a worker thread waiting while the GUI thread polls, and
// Debian's apache2 with mod_auth_digest as a real Digest peer.
#include "testsupport.h"

#include "apachedigestpeer.h"
#include "processorstandin.h"

#include "http_client"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/beast/core/buffers_to_string.hpp>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>

namespace hc = http_client;
namespace http = boost::beast::http;
using Result = hc::expected<hc::response, hc::error_code>;

namespace {

QJsonObject authDefaults()
{
    return QJsonObject{{"enabled", false}, {"user", "admin"},        {"password", "secret"},
                       {"realm", "Vantor"}, {"qop", "auth"},          {"opaque", QJsonValue::Null},
                       {"algorithm", "MD5"}, {"nonce", QJsonValue::Null}, {"challenge", QJsonValue::Null},
                       {"nonceLifetime", 0}};
}

QJsonObject record(const QJsonArray& log, int index)
{
    return log.at(index).toObject();
}

QString authParam(const QJsonObject& rec, const char* key)
{
    return rec.value("auth").toObject().value(QLatin1String(key)).toString();
}

// The header names of a raw request, in order.
QStringList headerNames(const QByteArray& raw)
{
    QStringList names;
    const QByteArray head = raw.left(raw.indexOf("\r\n\r\n"));
    const QList<QByteArray> lines = head.split('\n');
    for (int i = 1; i < lines.size(); ++i)
        names << QString::fromLatin1(lines[i].left(lines[i].indexOf(':')));
    return names;
}

QString text(const Result& result)
{
    if (!result)
        return QStringLiteral("error: ") + QString::fromStdString(result.error().message());
    return QString::number(result->result_int()) + ' ' + QString::fromStdString(result->body());
}

QCoro::Task<int> finishedAtOnce()
{
    co_return 42;
}

QCoro::Task<int> throwsAtOnce()
{
    throw std::runtime_error("at once");
    co_return 0;
}

} // namespace

class TestHttpClient : public QObject {
    Q_OBJECT

    boost::asio::io_context io_;
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> guard_;
    QTimer poll_;
    hc::registry cancellers_;
    std::unique_ptr<hc::context> ctx_;
    ProcessorStandin fake_;
    hc::resolver_results endpoints_;

    Result send(http::verb method, const std::string& target, const std::string& contentType = {},
                const std::string& body = {}, std::optional<std::size_t> length = {},
                const std::string& host = "127.0.0.1")
    {
        auto task = hc::authorized_request(*ctx_, endpoints_, host, method, target, contentType,
                                           length.value_or(body.size()), body);
        return hc::sync_wait(io_, task);
    }

    hc::resolver_results resolve(const std::string& host, const std::string& service)
    {
        auto task = hc::resolve_address(*ctx_, host, service);
        auto result = hc::sync_wait(io_, task);
        return result ? result.value() : hc::resolver_results();
    }

    std::size_t pending()
    {
        std::lock_guard lock(ctx_->mutex);
        return cancellers_.size();
    }

    void useCredentials()
    {
        std::lock_guard lock(ctx_->mutex);
        ctx_->user = "admin";
        ctx_->password = "secret";
    }

    // Runs fn on a new thread while this (GUI) thread keeps polling.
    void runOnWorker(std::function<void()> fn, int timeoutMs = 30000)
    {
        std::unique_ptr<QThread> thread(QThread::create(std::move(fn)));
        thread->start();
        QTRY_VERIFY_WITH_TIMEOUT(thread->isFinished(), timeoutMs);
    }

private Q_SLOTS:
    void initTestCase()
    {
        guard_.emplace(io_.get_executor());
        // As the program does: poll the network context every 16 ms through
        // the GUI thread's event queue.
        connect(&poll_, &QTimer::timeout, &poll_, [this] { io_.poll(); }, Qt::QueuedConnection);
        poll_.start(16);
        QVERIFY2(fake_.start(), qPrintable(fake_.errorString()));
        ctx_ = std::make_unique<hc::context>(io_, cancellers_);
        endpoints_ = resolve(fake_.host(), fake_.service());
        QVERIFY(!endpoints_.empty());
    }

    void init()
    {
        ctx_ = std::make_unique<hc::context>(io_, cancellers_);
        fake_.clearRules();
        fake_.setAuth(authDefaults());
        fake_.clearLog();
    }

    void cleanup()
    {
        QCOMPARE(pending(), std::size_t(0));
        fake_.releaseHung();
    }

    void cleanupTestCase()
    {
        poll_.stop();
        fake_.stop();
        guard_.reset();
        io_.poll();
    }

    // ---- requests on the wire ------------------------------------------------

    void requestBytes_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("length");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("get") << int(http::verb::get) << QByteArray("/api/v1/data?dev.receivers&sys.fixtures")
                             << QByteArray("127.0.0.1") << QByteArray() << QByteArray() << 0
                             << QByteArray("GET /api/v1/data?dev.receivers&sys.fixtures HTTP/1.1\r\n"
                                           "Host: 127.0.0.1\r\n"
                                           "User-Agent: Boost.Beast/357\r\n\r\n");
        QTest::newRow("empty document") << int(http::verb::get) << QByteArray("/api/v1/data?dev.display.gamma")
                                        << QByteArray("127.0.0.1") << QByteArray("application/json") << QByteArray()
                                        << 0
                                        << QByteArray("GET /api/v1/data?dev.display.gamma HTTP/1.1\r\n"
                                                      "Host: 127.0.0.1\r\n"
                                                      "User-Agent: Boost.Beast/357\r\n"
                                                      "Content-Type: application/json\r\n\r\n");
        QTest::newRow("patch") << int(http::verb::patch) << QByteArray("/api/v1/data") << QByteArray("10.0.0.5")
                               << QByteArray("application/json") << QByteArray("{\"dev\":{\"x\":1}}") << 15
                               << QByteArray("PATCH /api/v1/data HTTP/1.1\r\n"
                                             "Host: 10.0.0.5\r\n"
                                             "User-Agent: Boost.Beast/357\r\n"
                                             "Content-Type: application/json\r\n"
                                             "Content-Length: 15\r\n\r\n"
                                             "{\"dev\":{\"x\":1}}");
        QTest::newRow("length 0 drops the body")
            << int(http::verb::post) << QByteArray("/api/v1/tile/00:1c:2b:3a:4d:5e/calSave?type=user")
            << QByteArray("Wall-Processor") << QByteArray("application/json") << QByteArray("{\"ignored\":true}") << 0
            << QByteArray("POST /api/v1/tile/00:1c:2b:3a:4d:5e/calSave?type=user HTTP/1.1\r\n"
                          "Host: Wall-Processor\r\n"
                          "User-Agent: Boost.Beast/357\r\n"
                          "Content-Type: application/json\r\n\r\n");
    }

    void requestBytes()
    {
        QFETCH(int, method);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, host);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(int, length);
        QFETCH(QByteArray, expected);

        const Result result = send(http::verb(method), target.toStdString(), contentType.toStdString(),
                                   body.toStdString(), std::size_t(length), host.toStdString());
        QVERIFY2(result, qPrintable(text(result)));
        const QJsonArray log = fake_.requestLog();
        QCOMPARE(log.size(), 1);
        QCOMPARE(ProcessorStandin::raw(record(log, 0)), expected);
    }

    void multiBufferBody()
    {
        QByteArray bytes;
        for (int i = 0; i < 3000; ++i)
            bytes.append(char(i * 7));
        boost::beast::multi_buffer stream;
        // Two separate pieces, as a stream writer leaves them.
        for (int half = 0; half < 2; ++half) {
            const QByteArray piece = bytes.mid(half * 1500, 1500);
            auto space = stream.prepare(std::size_t(piece.size()));
            boost::asio::buffer_copy(space, boost::asio::buffer(piece.constData(), std::size_t(piece.size())));
            stream.commit(std::size_t(piece.size()));
        }
        const std::string target = "/api/v1/tile/00:1c:2b:3a:4d:5e/10/cal?raw&continuation=false";
        auto task = hc::authorized_request(*ctx_, endpoints_, "127.0.0.1", http::verb::post, target,
                                           "application/octet-stream", stream.size(), stream);
        const Result result = hc::sync_wait(io_, task);
        QVERIFY2(result, qPrintable(text(result)));
        QCOMPARE(result->result_int(), 204);
        QCOMPARE(stream.size(), std::size_t(3000)); // the caller's stream is copied, not consumed

        // A stream of size 0 goes without a body.
        boost::beast::multi_buffer empty;
        auto emptyTask = hc::authorized_request(*ctx_, endpoints_, "127.0.0.1", http::verb::post,
                                                "/api/v1/tile/00:1c:2b:3a:4d:5e/2/cal?raw&continuation=true",
                                                "application/octet-stream", 0, empty);
        QVERIFY(hc::sync_wait(io_, emptyTask));

        const QJsonArray log = fake_.requestLog();
        QCOMPARE(log.size(), 2);
        QCOMPARE(ProcessorStandin::raw(record(log, 0)),
                 QByteArray("POST /api/v1/tile/00:1c:2b:3a:4d:5e/10/cal?raw&continuation=false HTTP/1.1\r\n"
                            "Host: 127.0.0.1\r\n"
                            "User-Agent: Boost.Beast/357\r\n"
                            "Content-Type: application/octet-stream\r\n"
                            "Content-Length: 3000\r\n\r\n")
                     + bytes);
        QCOMPARE(ProcessorStandin::raw(record(log, 1)),
                 QByteArray("POST /api/v1/tile/00:1c:2b:3a:4d:5e/2/cal?raw&continuation=true HTTP/1.1\r\n"
                            "Host: 127.0.0.1\r\n"
                            "User-Agent: Boost.Beast/357\r\n"
                            "Content-Type: application/octet-stream\r\n\r\n"));
    }

    void statusesAndBodiesComeBack()
    {
        fake_.addRule({{"path", "/api/v1/missing"}, {"status", 404}, {"body", "no such thing"}});
        fake_.addRule({{"path", "/api/v1/broken"}, {"status", 500}, {"body", ""}});
        QCOMPARE(text(send(http::verb::get, "/api/v1/missing")), QStringLiteral("404 no such thing"));
        QCOMPARE(text(send(http::verb::get, "/api/v1/broken")), QStringLiteral("500 "));
        QCOMPARE(text(send(http::verb::get, "/api/v1/data?dev.display.gamma")),
                 QStringLiteral("200 {\"dev\":{\"display\":{\"gamma\":2.4}}}"));
        // The stand-in closes its side right after answering, before the
        // client shuts down: the response still comes back.
        QCOMPARE(fake_.requestLog().size(), 3);
    }

    // ---- Digest ----------------------------------------------------------------

    void challengeAnsweredOnce()
    {
        // A nonce with "=" and ",", and an opaque, as the processor may send them.
        fake_.setAuth({{"enabled", true}, {"nonce", "Zm9v=,YmFy=="}, {"opaque", "op=aque,1"}});
        useCredentials();

        const Result first = send(http::verb::patch, "/api/v1/data", "application/json", "{\"a\":1}");
        QCOMPARE(text(first), QStringLiteral("204 "));
        QJsonArray log = fake_.requestLog();
        QCOMPARE(log.size(), 2);
        QCOMPARE(record(log, 0).value("authState").toString(), QStringLiteral("missing"));
        QCOMPARE(record(log, 0).value("outcome").toInt(), 401);
        QCOMPARE(record(log, 1).value("authState").toString(), QStringLiteral("ok"));
        QVERIFY(record(log, 0).value("connection") != record(log, 1).value("connection"));

        const QByteArray retry = ProcessorStandin::raw(record(log, 1));
        QCOMPARE(headerNames(retry), (QStringList{"Host", "User-Agent", "Content-Type", "Content-Length",
                                                  "Authorization"}));
        QVERIFY(retry.endsWith("\r\n\r\n{\"a\":1}"));
        const QString authorization = ProcessorStandin::header(record(log, 1), "Authorization");
        const QRegularExpression form(QStringLiteral(
            R"re(^Digest username="admin", realm="Vantor", nonce="Zm9v=,YmFy==", uri="/api/v1/data", )re"
            R"re(response="[0-9a-f]{32}", opaque="op=aque,1", qop=auth, nc=00000001, cnonce="(\d{16})"$)re"));
        const auto match = form.match(authorization);
        QVERIFY2(match.hasMatch(), qPrintable(authorization));
        const QString cnonce = match.captured(1);

        // The challenge stays: the next requests need one connection each, and
        // nc counts on with the same cnonce.
        fake_.clearLog();
        QCOMPARE(text(send(http::verb::get, "/api/v1/data?dev.display.cct")),
                 QStringLiteral("200 {\"dev\":{\"display\":{\"cct\":6500}}}"));
        boost::beast::multi_buffer blob;
        boost::asio::buffer_copy(blob.prepare(4), boost::asio::buffer("\x01\x00\x02\x03", 4));
        blob.commit(4);
        auto upload = hc::authorized_request(*ctx_, endpoints_, "127.0.0.1", http::verb::post,
                                             "/api/v1/tile/t1/1/cal?raw&continuation=false",
                                             "application/octet-stream", 4, blob);
        QCOMPARE(text(hc::sync_wait(io_, upload)), QStringLiteral("204 "));
        log = fake_.requestLog();
        QCOMPARE(log.size(), 2);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(record(log, i).value("authState").toString(), QStringLiteral("ok"));
            QCOMPARE(authParam(record(log, i), "nc"), QStringLiteral("0000000%1").arg(i + 2));
            QCOMPARE(authParam(record(log, i), "cnonce"), cnonce);
            QCOMPARE(headerNames(ProcessorStandin::raw(record(log, i))).last(), QStringLiteral("Authorization"));
        }
    }

    void challengeWithoutQopOrOpaque()
    {
        fake_.setAuth({{"enabled", true}, {"qop", ""}, {"algorithm", QJsonValue::Null}});
        useCredentials();
        QCOMPARE(text(send(http::verb::get, "/api/v1/data?dev.display.gamma")),
                 QStringLiteral("200 {\"dev\":{\"display\":{\"gamma\":2.4}}}"));
        const QJsonArray log = fake_.requestLog();
        QCOMPARE(log.size(), 2);
        // The stand-in, like apache2, refuses an opaque it never sent.
        QCOMPARE(record(log, 1).value("authState").toString(), QStringLiteral("ok"));
        const QJsonObject params = record(log, 1).value("auth").toObject();
        QVERIFY(!params.contains("opaque"));
        QVERIFY(!params.contains("qop"));
        QVERIFY(!params.contains("nc"));
        QVERIFY(params.contains("cnonce"));
    }

    void staleNonceKeepsCounting()
    {
        fake_.setAuth({{"enabled", true}});
        useCredentials();
        QVERIFY(send(http::verb::get, "/api/v1/data?sys.fixtures"));
        fake_.setAuth({{"rotate", true}}); // the nonce in use goes stale
        QCOMPARE(text(send(http::verb::get, "/api/v1/data?sys.fixtures")),
                 QStringLiteral("200 {\"sys\":{\"fixtures\":{}}}"));
        const QJsonArray log = fake_.requestLog();
        QCOMPARE(log.size(), 4);
        QCOMPARE(record(log, 2).value("authState").toString(), QStringLiteral("stale"));
        QCOMPARE(record(log, 3).value("authState").toString(), QStringLiteral("ok"));
        QCOMPARE(authParam(record(log, 1), "nc"), QStringLiteral("00000001"));
        QCOMPARE(authParam(record(log, 2), "nc"), QStringLiteral("00000002"));
        QCOMPARE(authParam(record(log, 3), "nc"), QStringLiteral("00000003"));
        QCOMPARE(authParam(record(log, 3), "cnonce"), authParam(record(log, 1), "cnonce"));
        QVERIFY(authParam(record(log, 3), "nonce") != authParam(record(log, 1), "nonce"));
    }

    void unauthorizedWithoutChallenge()
    {
        fake_.addRule({{"status", 401}, {"body", "go away"}});
        useCredentials();
        QTest::ignoreMessage(QtDebugMsg, "No WWW-Authenticate header found in response");
        const Result result = send(http::verb::get, "/api/v1/data?dev");
        QVERIFY(!result);
        QCOMPARE(result.error(), hc::error_code(hc::client_error::no_challenge));
        QCOMPARE(text(result), QStringLiteral("error: Authentication failed: 401 without a Digest challenge"));
        QCOMPARE(fake_.requestLog().size(), 1);
    }

    void secondUnauthorizedComesBack()
    {
        fake_.setAuth({{"enabled", true}});
        {
            std::lock_guard lock(ctx_->mutex);
            ctx_->user = "admin";
            ctx_->password = "wrong";
        }
        QCOMPARE(text(send(http::verb::get, "/api/v1/data?dev")), QStringLiteral("401 Unauthorized"));
        QJsonArray log = fake_.requestLog();
        QCOMPARE(log.size(), 2); // no third attempt
        QCOMPARE(record(log, 1).value("authState").toString(), QStringLiteral("bad"));

        // With the challenge known, the first attempt already carries
        // Authorization; a 401 to it gets one retry, whose 401 comes back.
        fake_.clearLog();
        QCOMPARE(text(send(http::verb::get, "/api/v1/data?dev")), QStringLiteral("401 Unauthorized"));
        log = fake_.requestLog();
        QCOMPARE(log.size(), 2);
        QCOMPARE(record(log, 0).value("authState").toString(), QStringLiteral("bad"));
    }

    // A challenge the client cannot answer ends the request after one
    // connection: nothing is sent with a guessed hash.
    void refusedChallengeSendsNothingMore_data()
    {
        QTest::addColumn<QString>("challenge");
        QTest::addColumn<QString>("message");
        QTest::newRow("basic") << "Basic realm=\"x\"" << "Invalid WWW-Authenticate header: Basic realm=\"x\"";
        QTest::newRow("unknown algorithm") << "Digest realm=\"x\", nonce=\"n\", algorithm=SHA-256, qop=\"auth\""
                                           << "Unsupported algorithm: SHA-256";
        QTest::newRow("auth-int only") << "Digest realm=\"x\", nonce=\"n\", qop=\"auth-int\""
                                       << "Unsupported qop: auth-int";
    }

    void refusedChallengeSendsNothingMore()
    {
        QFETCH(QString, challenge);
        QFETCH(QString, message);
        fake_.addRule({{"status", 401}, {"headers", QJsonArray{QJsonArray{"WWW-Authenticate", challenge}}}});
        useCredentials();
        QTest::ignoreMessage(QtCriticalMsg, message.toUtf8().constData());
        const Result result = send(http::verb::get, "/api/v1/data?dev");
        QCOMPARE(text(result), QStringLiteral("error: Authentication failed: Digest challenge not supported"));
        QCOMPARE(fake_.requestLog().size(), 1);
        QVERIFY(ctx_->realm.empty());
    }

    // Credentials that could end the Authorization line are refused before
    // anything is sent, with or without a known challenge.
    void credentialsWithLineBreakRefused_data()
    {
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<bool>("challenged");
        QTest::newRow("CRLF in the user name") << QByteArray("admin\r\nX-Injected: 1") << QByteArray("secret") << true;
        QTest::newRow("LF in the password") << QByteArray("admin") << QByteArray("sec\nret") << true;
        QTest::newRow("CR, no challenge yet") << QByteArray("ad\rmin") << QByteArray("secret") << false;
        QTest::newRow("NUL in the password") << QByteArray("admin") << QByteArray("sec\0ret", 7) << true;
    }

    void credentialsWithLineBreakRefused()
    {
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, password);
        QFETCH(bool, challenged);
        fake_.setAuth({{"enabled", true}});
        if (challenged) {
            useCredentials();
            QVERIFY(send(http::verb::get, "/api/v1/data?dev"));
            fake_.clearLog();
        }
        {
            std::lock_guard lock(ctx_->mutex);
            ctx_->user = user.toStdString();
            ctx_->password = password.toStdString();
        }
        QTest::ignoreMessage(QtCriticalMsg, "Digest user name or password holds a line break; request to "
                                            "/api/v1/data?dev not sent");
        const Result result = send(http::verb::patch, "/api/v1/data?dev", "application/json", "{}");
        QCOMPARE(text(result), QStringLiteral("error: User name or password holds a line break"));
        QTest::qWait(50);
        QCOMPARE(fake_.requestLog().size(), 0);
    }

    // ---- failing peers and cancel-all -------------------------------------------

    void closedPort()
    {
        quint16 port = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            port = probe.serverPort();
        }
        const hc::resolver_results closed = resolve("127.0.0.1", std::to_string(port));
        QCOMPARE(closed.size(), std::size_t(1));
        auto task = hc::authorized_request(*ctx_, closed, "127.0.0.1", http::verb::get, "/", "", 0, "");
        const Result result = hc::sync_wait(io_, task);
        QCOMPARE(text(result), QStringLiteral("error: Connection refused"));

        // No endpoint at all: the connect fails too, without a look-up.
        auto none = hc::authorized_request(*ctx_, hc::resolver_results(), "", http::verb::get, "/", "", 0, "");
        QVERIFY(!hc::sync_wait(io_, none));
    }

    // A peer that fails at any step ends the request with an error: nothing
    // hangs, and the registry empties (checked after every test). Interim
    // replies ahead of the answer are read past.
    void failingPeer_data()
    {
        QTest::addColumn<QJsonObject>("rule");
        QTest::addColumn<QString>("expected");
        const auto raw = [](const QByteArray& bytes) {
            return QJsonObject{{"action", "raw"}, {"raw", QString::fromLatin1(bytes)}};
        };
        QTest::newRow("closes without an answer") << QJsonObject{{"action", "close"}} << "error: end of stream";
        QTest::newRow("half a status line") << QJsonObject{{"action", "partial"}} << "error: partial message";
        QTest::newRow("short status line") << raw("HTTP/1.1 20\r\n\r\n") << "error: bad status";
        QTest::newRow("not HTTP") << raw("SSH-2.0-OpenSSH_9.2\r\n\r\n") << "error: bad version";
        QTest::newRow("truncated header") << raw("HTTP/1.1 200 OK\r\nContent-Type: appli")
                                          << "error: partial message";
        QTest::newRow("truncated body") << raw("HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n{\"dev\":")
                                        << "error: partial message";
        QTest::newRow("truncated chunk") << raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nbusy")
                                         << "error: partial message";
        QTest::newRow("interim replies, then the answer")
            << QJsonObject{{"interim", QJsonArray{100, 103}}, {"status", 200}, {"body", "done"}} << "200 done";
        QTest::newRow("interim reply, then nothing") << raw("HTTP/1.1 100 Continue\r\n\r\n")
                                                     << "error: end of stream";
        QTest::newRow("over-long header")
            << raw("HTTP/1.1 200 OK\r\nX-Pad: " + QByteArray(9000, 'a') + "\r\nContent-Length: 0\r\n\r\n")
            << "error: header limit exceeded";
    }

    void failingPeer()
    {
        QFETCH(QJsonObject, rule);
        fake_.addRule(rule);
        QTEST(text(send(http::verb::get, "/api/v1/data?dev")), "expected");
        QCOMPARE(fake_.requestLog().size(), 1);
    }

    void peerClosesBeforeReading()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        connect(&server, &QTcpServer::newConnection, &server, [&server] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                socket->abort();
                socket->deleteLater();
            }
        });
        const hc::resolver_results target = resolve("127.0.0.1", std::to_string(server.serverPort()));
        auto task = hc::authorized_request(*ctx_, target, "127.0.0.1", http::verb::post, "/api/v1/data",
                                           "application/json", 2, "{}");
        const Result result = hc::sync_wait(io_, task);
        QVERIFY2(!result, qPrintable(text(result)));
    }

    void cancelAllFreesSilentPeer()
    {
        hc::cancel_all(*ctx_); // nothing pending: nothing happens
        QCOMPARE(pending(), std::size_t(0));

        fake_.addRule({{"action", "hang"}});
        auto task = hc::authorized_request(*ctx_, endpoints_, "127.0.0.1", http::verb::get, "/api/v1/data?dev", "",
                                           0, "");
        QVERIFY(fake_.waitForRequests(1));
        QTest::qWait(100); // polls run; the request keeps waiting for its answer
        QVERIFY(!task.isReady());
        QCOMPARE(pending(), std::size_t(1));

        hc::cancel_all(*ctx_);
        const Result result = hc::sync_wait(io_, task);
        QCOMPARE(result.error(), hc::error_code(boost::asio::error::operation_aborted));
        QCOMPARE(text(result), QStringLiteral("error: Operation canceled"));
        QCOMPARE(pending(), std::size_t(0));

        // A cancel-all is no lasting state: the next request goes through.
        QCOMPARE(text(send(http::verb::get, "/api/v1/data?sys")), QStringLiteral("200 {\"sys\":{\"fixtures\":{}}}"));
    }

    // A request cancelled after its last operation completed, before its
    // coroutine resumed, must not start the next one.
    void cancelledRequestStartsNoFurtherOperation()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const hc::resolver_results target = resolve("127.0.0.1", std::to_string(server.serverPort()));
        std::optional<Result> outcome;
        auto attempt = [&]() -> QCoro::Task<void> {
            boost::beast::tcp_stream stream(io_);
            hc::cancel_registration registration(*ctx_, [&stream] { stream.cancel(); });
            hc::cancel_all(*ctx_); // lands while no operation is pending
            auto connected = co_await hc::async_connect(stream, target, &registration);
            if (!connected)
                outcome.emplace(connected.error());
            else
                outcome.emplace(hc::response());
        };
        auto task = attempt();
        QTRY_VERIFY(outcome.has_value());
        QCOMPARE(text(*outcome), QStringLiteral("error: Operation canceled"));
        QTest::qWait(50);
        QVERIFY(!server.hasPendingConnections());
    }

    // A refusal (a stopped run on its way out, the program quitting) ends the
    // request that waits, then every new one before it reaches the peer,
    // until it is lifted.
    void refusalEndsWaitingAndNewRequests()
    {
        fake_.setAuth(QJsonObject {{QStringLiteral("enabled"), false}});
        fake_.addRule({{"action", "hang"}});
        std::mutex heldMutex; // hands the worker's result over where TSan sees it
        std::optional<QString> held;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            auto task = hc::authorized_request(*ctx_, endpoints_, "127.0.0.1", http::verb::patch, "/api/v1/data",
                                               "application/json", 2, "{}");
            const QString outcome = text(hc::sync_wait(io_, task));
            std::lock_guard lock(heldMutex);
            held = outcome;
        }));
        worker->start();
        QVERIFY(fake_.waitForRequests(1));
        hc::refuse_requests(*ctx_, true);
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 10000);
        {
            std::lock_guard lock(heldMutex);
            QCOMPARE(held.value_or(QString()), QStringLiteral("error: Operation canceled"));
        }

        QCOMPARE(text(send(http::verb::get, "/api/v1/data?sys")), QStringLiteral("error: Operation canceled"));
        QCOMPARE(fake_.requestLog().size(), 1);

        hc::refuse_requests(*ctx_, false);
        QVERIFY(text(send(http::verb::get, "/api/v1/data?sys")).startsWith(QStringLiteral("200 ")));
        QCOMPARE(fake_.requestLog().size(), 2);
    }

    void resolveAddress()
    {
        const hc::resolver_results local = resolve("127.0.0.1", "8080");
        QCOMPARE(local.size(), std::size_t(1));
        QCOMPARE(local.begin()->endpoint().port(), 8080);
        QVERIFY(!resolve("localhost", "80").empty());
        auto bad = hc::resolve_address(*ctx_, "127.0.0.1", "no-such-service-here");
        QVERIFY(!hc::sync_wait(io_, bad));
    }

    // ---- synchronous wait --------------------------------------------------------

    void syncWaitOnFinishedTask()
    {
        bool polled = false;
        bool timerRan = false;
        boost::asio::post(io_, [&polled] { polled = true; });
        QTimer::singleShot(0, this, [&timerRan] { timerRan = true; });
        auto task = finishedAtOnce();
        QCOMPARE(hc::sync_wait(io_, task), 42);
        QVERIFY(!polled);   // no poll
        QVERIFY(!timerRan); // no event loop
        QTRY_VERIFY(polled && timerRan);
    }

    void syncWaitRethrows()
    {
        auto early = throwsAtOnce();
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, hc::sync_wait(io_, early));

        auto late = [this]() -> QCoro::Task<int> {
            auto reply = co_await hc::authorized_request(*ctx_, endpoints_, "127.0.0.1", http::verb::get,
                                                         "/api/v1/data?dev", "", 0, "");
            if (reply)
                throw std::runtime_error("after the reply");
            co_return 0;
        };
        auto task = late();
        try {
            hc::sync_wait(io_, task);
            QFAIL("no exception");
        } catch (const std::runtime_error& e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("after the reply"));
        }
    }

    void syncWaitKeepsEventsFlowing()
    {
        fake_.addRule({{"delay", 0.3}});
        QElapsedTimer clock;
        clock.start();
        qint64 timerAt = -1;
        QTimer::singleShot(50, this, [&] { timerAt = clock.elapsed(); });
        QVERIFY(send(http::verb::get, "/api/v1/data?dev"));
        const qint64 doneAt = clock.elapsed();
        QVERIFY(timerAt >= 0);
        QVERIFY(timerAt < doneAt);
    }

    // A worker thread waits on its requests while the GUI thread polls, and
    // the GUI thread runs its own requests at the same time. Digest is on, so
    // both threads build headers from the one context.
    void syncWaitOnWorkerThread()
    {
        fake_.setAuth({{"enabled", true}});
        useCredentials();
        QVERIFY(send(http::verb::get, "/api/v1/data?dev.display.gamma")); // learn the challenge
        fake_.addRule({{"path", "/api/v1/data?worker"}, {"delay", 0.01}, {"times", -1}});
        fake_.clearLog();

        constexpr int rounds = 25;
        std::atomic<int> workerOk{0};
        std::unique_ptr<QThread> worker(QThread::create([&] {
            for (int i = 0; i < rounds; ++i) {
                auto task = hc::authorized_request(*ctx_, endpoints_, "127.0.0.1", http::verb::get,
                                                   "/api/v1/data?worker", "", 0, "");
                const Result result = hc::sync_wait(io_, task);
                if (result && result->result_int() == 200)
                    ++workerOk;
            }
        }));
        worker->start();
        int guiOk = 0;
        for (int i = 0; i < rounds; ++i) {
            const Result result = send(http::verb::patch, "/api/v1/data", "application/json", "{}");
            if (result && result->result_int() == 204)
                ++guiOk;
        }
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 30000);
        QCOMPARE(guiOk, rounds);
        QCOMPARE(workerOk.load(), rounds);

        const QJsonArray log = fake_.requestLog();
        QCOMPARE(log.size(), 2 * rounds);
        std::set<QString> counts;
        for (const QJsonValue& item : log) {
            QCOMPARE(item.toObject().value("authState").toString(), QStringLiteral("ok"));
            counts.insert(authParam(item.toObject(), "nc"));
        }
        QCOMPARE(int(counts.size()), 2 * rounds);
        QCOMPARE(ctx_->nc, std::uint64_t(2 * rounds + 1));
    }

    void cancelWhileWorkerWaits()
    {
        fake_.addRule({{"action", "hang"}});
        std::optional<QString> outcome;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            auto task = hc::authorized_request(*ctx_, endpoints_, "127.0.0.1", http::verb::get, "/api/v1/data?dev",
                                               "", 0, "");
            try {
                outcome = text(hc::sync_wait(io_, task));
            } catch (...) {
                outcome = QStringLiteral("exception");
            }
        }));
        worker->start();
        QVERIFY(fake_.waitForRequests(1));
        QTest::qWait(50);
        QVERIFY(!worker->isFinished());
        hc::cancel_all(*ctx_);
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 10000);
        QCOMPARE(outcome.value_or(QString()), QStringLiteral("error: Operation canceled"));
    }

    // QThread::quit ends every event loop of the thread, the wait's own too:
    // the wait must still end with its request's result, not before. The
    // owner then blocks joining the thread, as the shut-down does, so nobody
    // else polls: the waiting thread has to advance the request itself.
    void threadQuitDuringWait()
    {
        fake_.addRule({{"delay", 0.4}});
        QThread thread;
        QObject inThread;
        inThread.moveToThread(&thread);
        thread.start();
        std::optional<QString> outcome;
        QMetaObject::invokeMethod(
            &inThread,
            [&] {
                auto task = hc::authorized_request(*ctx_, endpoints_, "127.0.0.1", http::verb::get,
                                                   "/api/v1/data?dev.display.gamma", "", 0, "");
                outcome = text(hc::sync_wait(io_, task));
            },
            Qt::QueuedConnection);
        QVERIFY(fake_.waitForRequests(1));
        thread.quit();
        const bool joined = thread.wait(5000);
        if (!joined)
            QTRY_VERIFY_WITH_TIMEOUT(thread.isFinished(), 10000); // free it through our polls
        QVERIFY(joined);
        QCOMPARE(outcome.value_or(QString()), QStringLiteral("200 {\"dev\":{\"display\":{\"gamma\":2.4}}}"));
    }

    // ---- a real peer ----------------------------------------------------------------

    void apacheDigest()
    {
        if (ApacheDigestPeer::executable().isEmpty())
            QSKIP("apache2 with mod_auth_digest is not installed (Debian packages apache2, apache2-utils)");
        ApacheDigestPeer apache;
        QVERIFY2(apache.start("Vantor Wall", "alice", "Wonder land", 2), qPrintable(apache.errorString()));
        const hc::resolver_results at = resolve(apache.host(), apache.service());
        QVERIFY(!at.empty());
        {
            std::lock_guard lock(ctx_->mutex);
            ctx_->user = "alice";
            ctx_->password = "Wonder land";
        }
        auto request = [&](http::verb method, const std::string& target, const std::string& type = {},
                           const std::string& body = {}) {
            auto task = hc::authorized_request(*ctx_, at, "127.0.0.1", method, target, type, body.size(), body);
            return text(hc::sync_wait(io_, task));
        };

        QCOMPARE(request(http::verb::get, "/index.txt"), QStringLiteral("200 hello\n"));
        QCOMPARE(request(http::verb::get, "/cgi/echo?dev.display.gamma&dev.ingest"),
                 QStringLiteral("200 GET /cgi/echo?dev.display.gamma&dev.ingest 0\n"));
        QCOMPARE(request(http::verb::patch, "/cgi/echo", "application/json", "{\"dev\":{\"display\":{}}}"),
                 QStringLiteral("200 PATCH /cgi/echo 22\n{\"dev\":{\"display\":{}}}"));
        boost::beast::multi_buffer blob;
        const std::string bytes(777, '\x5a');
        boost::asio::buffer_copy(blob.prepare(bytes.size()), boost::asio::buffer(bytes));
        blob.commit(bytes.size());
        auto upload = hc::authorized_request(*ctx_, at, "127.0.0.1", http::verb::post,
                                             "/cgi/echo?raw&continuation=false", "application/octet-stream",
                                             blob.size(), blob);
        QCOMPARE(text(hc::sync_wait(io_, upload)),
                 QStringLiteral("200 POST /cgi/echo?raw&continuation=false 777\n") + QString::fromStdString(bytes));
        QCOMPARE(request(http::verb::get, "/index.txt"), QStringLiteral("200 hello\n"));

        // One challenge for the whole series: apache's nonce holds "=" and
        // it sends no opaque.
        QTRY_COMPARE(apache.accessLog().size(), 6);
        QStringList log = apache.accessLog();
        QCOMPARE(log.first(), QStringLiteral("GET /index.txt HTTP/1.1 401"));
        for (int i = 1; i < log.size(); ++i)
            QVERIFY2(log[i].endsWith(QLatin1String(" 200")), qPrintable(log[i]));
        QVERIFY(ctx_->nonce.find('=') != std::string::npos);
        QVERIFY(ctx_->opaque.empty());

        // After the nonce's lifetime apache calls it stale; one retry recovers.
        QTest::qWait(3000);
        QCOMPARE(request(http::verb::get, "/index.txt"), QStringLiteral("200 hello\n"));
        QTRY_COMPARE(apache.accessLog().size(), 8);
        log = apache.accessLog();
        QCOMPARE(log[6], QStringLiteral("GET /index.txt HTTP/1.1 401"));
        QCOMPARE(log[7], QStringLiteral("GET /index.txt HTTP/1.1 200"));

        // Wrong credentials: one retry, and apache's second 401 comes back.
        hc::context wrong(io_, cancellers_);
        wrong.user = "alice";
        wrong.password = "wonderland";
        auto denied = hc::authorized_request(wrong, at, "127.0.0.1", http::verb::get, "/index.txt", "", 0, "");
        const Result result = hc::sync_wait(io_, denied);
        QVERIFY(result);
        QCOMPARE(result->result_int(), 401);
        QTRY_COMPARE(apache.accessLog().size(), 10);
    }
};

VELTRANO_TEST_MAIN(TestHttpClient)
#include "tst_httpclient.moc"
