// ctest-labels: threaded
// The calibration uploader against the stand-in processor: the order and flags
// of the per-LDM posts, concurrent tiles, the busy/idle status poll with its
// bounds, the failure texts, and a tile whose upload throws.
#include "testsupport.h"

#include "messagecapture.h"
#include "polledcontext.h"
#include "processorstandin.h"

#include "calupdater.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTcpServer>

#include <memory>
#include <stdexcept>

using testsupport::MessageCapture;
using testsupport::PolledContext;
namespace hc = http_client;

namespace {

const std::string kTileA = "AA:BB:CC:DD:EE:01";
const std::string kTileB = "AA:BB:CC:DD:EE:02";

CalUpdater::Stream stream(const QByteArray& bytes)
{
    CalUpdater::Stream buffer;
    buffer.commit(boost::asio::buffer_copy(buffer.prepare(size_t(bytes.size())),
                                           boost::asio::buffer(bytes.constData(), size_t(bytes.size()))));
    return buffer;
}

// The requests that concern one tile, in arrival order: method, target after
// the tile, content type, content length and body (hex), as far as present.
QStringList requestsOf(const QJsonArray& log, const std::string& tile, QList<int>* seqs = nullptr)
{
    QStringList requests;
    const QString prefix = QStringLiteral("/api/v1/tile/%1/").arg(QString::fromStdString(tile));
    for (const QJsonValue& value : log) {
        const QJsonObject record = value.toObject();
        const QString target = record.value(QStringLiteral("target")).toString();
        if (!target.startsWith(prefix))
            continue;
        requests.append(QStringList {record.value(QStringLiteral("method")).toString(), target.mid(prefix.size()),
                                     ProcessorStandin::header(record, QStringLiteral("Content-Type")),
                                     ProcessorStandin::header(record, QStringLiteral("Content-Length")),
                                     QString::fromLatin1(ProcessorStandin::body(record).toHex())}
                            .join(QLatin1Char(' '))
                            .simplified());
        if (seqs)
            seqs->append(record.value(QStringLiteral("seq")).toInt());
    }
    return requests;
}

// One tile's uploads throw (after a short pause); the others run as usual
// and record when they have ended.
class ThrowingUpdater : public CalUpdater
{
public:
    using CalUpdater::CalUpdater;
    std::string throwingTile;
    QStringList ended;

    QCoro::Task<Result> UploadLdms(std::string tile) override
    {
        if (tile == throwingTile) {
            co_await Delay(std::chrono::milliseconds(10));
            throw std::runtime_error("upload broke");
        }
        const Result result = co_await CalUpdater::UploadLdms(tile);
        ended.append(QString::fromStdString(tile));
        co_return result;
    }
};

} // namespace

class TestCalUpdater : public QObject
{
    Q_OBJECT

    ProcessorStandin fake_;
    std::unique_ptr<PolledContext> net_;
    hc::registry cancellers_;
    std::unique_ptr<hc::context> ctx_;
    hc::resolver_results endpoints_;

    std::unique_ptr<CalUpdater> makeUpdater(hc::resolver_results endpoints = {})
    {
        auto updater = std::make_unique<CalUpdater>(*ctx_, "127.0.0.1", endpoints.empty() ? endpoints_ : endpoints);
        updater->setPollInterval(std::chrono::milliseconds(1));
        return updater;
    }

    CalUpdater::Result upload(CalUpdater& updater)
    {
        auto task = updater.UploadTiles();
        return hc::sync_wait(net_->io(), task);
    }

    hc::resolver_results resolve(const std::string& service)
    {
        auto task = hc::resolve_address(*ctx_, "127.0.0.1", service);
        return hc::sync_wait(net_->io(), task).value();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(fake_.start(), qPrintable(fake_.errorString()));
        net_ = std::make_unique<PolledContext>();
        ctx_ = std::make_unique<hc::context>(net_->io(), cancellers_);
        endpoints_ = resolve(fake_.service());
    }

    void init()
    {
        fake_.clearRules();
        fake_.clearCalBusy();
        fake_.clearLog();
    }

    void cleanupTestCase()
    {
        ctx_.reset();
        net_.reset();
        fake_.stop();
    }

    // Keys in byte-wise order, "false" only on the last; bodies unchanged (an
    // empty stream without a body); the status polls after the posts; the
    // tiles side by side: a slow post of one tile does not hold up the other.
    void postsInKeyOrderThenPollsPerTile()
    {
        fake_.addRule(QJsonObject {{QStringLiteral("path"), QStringLiteral("/api/v1/tile/AA:BB:CC:DD:EE:01/1/")},
                                   {QStringLiteral("delay"), 1.0}});
        auto updater = makeUpdater();
        updater->addLDM(kTileA, "2", stream("two"));
        updater->addLDM(kTileA, "10", stream(QByteArray("te\0n", 4)));
        updater->addLDM(kTileA, "1", stream("replaced"));
        updater->addLDM(kTileA, "1", stream("one"));
        updater->addLDM(kTileB, "7", stream(QByteArray()));
        QCOMPARE(upload(*updater), CalUpdater::Result());

        const QJsonArray log = fake_.requestLog();
        QList<int> seqA, seqB;
        QCOMPARE(requestsOf(log, kTileA, &seqA),
                 QStringList({"POST 1/cal?raw&continuation=true application/octet-stream 3 6f6e65",
                              "POST 10/cal?raw&continuation=true application/octet-stream 4 7465006e",
                              "POST 2/cal?raw&continuation=false application/octet-stream 3 74776f", "GET calBusy",
                              "GET calBusy"}));
        QCOMPARE(requestsOf(log, kTileB, &seqB),
                 QStringList({"POST 7/cal?raw&continuation=false application/octet-stream", "GET calBusy",
                              "GET calBusy"}));
        QVERIFY(seqB.last() < seqA.at(1));
    }

    // Replies to the status polls and the requests they take.
    void statusPoll_data()
    {
        QTest::addColumn<QJsonArray>("replies");
        QTest::addColumn<int>("polls");
        QTest::addColumn<QString>("failure");

        const auto repeat = [](const QJsonValue& reply, int times, QJsonArray start = {}) {
            for (int i = 0; i < times; ++i)
                start.append(reply);
            return start;
        };
        QTest::newRow("idle before busy polls again") << QJsonArray {"idle", "busy", "idle"} << 3 << QString();
        QTest::newRow("texts compared exactly")
            << QJsonArray {"busy\n", "\"busy\"", QJsonObject {{QStringLiteral("status"), 204}}, "Busy", "busy",
                           "idle ", "idle"}
            << 7 << QString();
        QTest::newRow("finished before the first poll") << repeat("idle", 6) << 6 << QString();
        QTest::newRow("idle run broken by another reply")
            << QJsonArray {"idle", "idle", "idle", "idle", "", "idle", "idle", "idle", "idle", "idle", "idle"} << 11
            << QString();
        QTest::newRow("never idle") << repeat("busy", 301) << 301
                                    << QStringLiteral("UploadLdms: tile AA:BB:CC:DD:EE:01, status timeout");
        QTest::newRow("never busy") << repeat("", 300) << 300
                                    << QStringLiteral("UploadLdms: tile AA:BB:CC:DD:EE:01, status timeout");
        QTest::newRow("status refused")
            << QJsonArray {"busy", QJsonObject {{QStringLiteral("status"), 503}, {QStringLiteral("body"), "x"}}} << 2
            << QStringLiteral("UploadLdms: tile AA:BB:CC:DD:EE:01, http status 503");
    }

    void statusPoll()
    {
        QFETCH(QJsonArray, replies);
        QFETCH(int, polls);
        QFETCH(QString, failure);
        // A reply beyond the script would be the stand-in's own "busy"/"idle".
        replies.append(QStringLiteral("not scripted"));
        fake_.queueCalBusy(QString::fromStdString(kTileA), replies);

        MessageCapture messages;
        auto updater = makeUpdater();
        updater->addLDM(kTileA, "1", stream("mesh"));
        const CalUpdater::Result result = upload(*updater);
        QCOMPARE(result.value_or(QString()), failure);
        QCOMPARE(requestsOf(fake_.requestLog(), kTileA).count(QStringLiteral("GET calBusy")), polls);
        QCOMPARE(messages.count(QLatin1Char('"') + failure + QLatin1Char('"')), failure.isEmpty() ? 0 : 1);
    }

    // Failed tiles: their texts one line each in tile order, logged quoted;
    // nothing after the failure is sent for that tile; the others finish.
    void failures()
    {
        MessageCapture messages;
        {
            // The second LDM is refused: the third is not sent, no status poll.
            fake_.addRule(QJsonObject {{QStringLiteral("path"), QStringLiteral("/api/v1/tile/AA:BB:CC:DD:EE:02/2/")},
                                       {QStringLiteral("status"), 404}});
            auto updater = makeUpdater();
            for (const char* key : {"1", "2", "3"}) {
                updater->addLDM(kTileA, key, stream("a"));
                updater->addLDM(kTileB, key, stream("b"));
            }
            QCOMPARE(upload(*updater).value_or(QString()),
                     QStringLiteral("UploadLdms: tile AA:BB:CC:DD:EE:02, ldm 2, http status 404"));
            QCOMPARE(requestsOf(fake_.requestLog(), kTileB),
                     QStringList({"POST 1/cal?raw&continuation=true application/octet-stream 1 62",
                                  "POST 2/cal?raw&continuation=true application/octet-stream 1 62"}));
            QCOMPARE(requestsOf(fake_.requestLog(), kTileA).size(), 5);
            QCOMPARE(messages.count(QStringLiteral("\"UploadLdms: tile AA:BB:CC:DD:EE:02, ldm 2, http status 404\"")), 1);
        }
        {
            // Nobody listens: both tiles fail below HTTP.
            QTcpServer server;
            QVERIFY(server.listen(QHostAddress::LocalHost, 0));
            const std::string port = std::to_string(server.serverPort());
            server.close();
            auto updater = makeUpdater(resolve(port));
            updater->addLDM(kTileB, "5", stream("b"));
            updater->addLDM(kTileA, "4", stream("a"));
            QCOMPARE(upload(*updater).value_or(QString()),
                     QStringLiteral("UploadLdms: tile AA:BB:CC:DD:EE:01, ldm 4, network error Connection refused\n"
                                    "UploadLdms: tile AA:BB:CC:DD:EE:02, ldm 5, network error Connection refused"));
        }
        {
            // Nothing to send.
            fake_.clearLog();
            auto updater = makeUpdater();
            QCOMPARE(upload(*updater), CalUpdater::Result());
            auto task = updater->UploadLdms("AA:BB:CC:DD:EE:09");
            QCOMPARE(hc::sync_wait(net_->io(), task).value_or(QString()),
                     QStringLiteral("UploadLdms: tile AA:BB:CC:DD:EE:09 no LDMs"));
            QCOMPARE(fake_.requestLog().size(), 0);
        }
    }

    // A tile that throws does not end the upload before the other tiles'
    // uploads, which still use the uploader, have ended.
    void throwingTileAwaitsTheOthers()
    {
        fake_.addRule(QJsonObject {{QStringLiteral("path"), QStringLiteral("/api/v1/tile/AA:BB:CC:DD:EE:02/")},
                                   {QStringLiteral("delay"), 0.3}});
        ThrowingUpdater updater(*ctx_, "127.0.0.1", endpoints_);
        updater.throwingTile = kTileA;
        updater.addLDM(kTileA, "1", stream("a"));
        updater.addLDM(kTileB, "1", stream("b"));
        auto task = updater.UploadTiles();
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, hc::sync_wait(net_->io(), task));
        QCOMPARE(updater.ended, QStringList {QString::fromStdString(kTileB)});
    }
};

VELTRANO_TEST_MAIN(TestCalUpdater)
#include "tst_calupdater.moc"
