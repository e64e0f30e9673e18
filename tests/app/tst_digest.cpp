// ctest-labels: threaded
// Digest authentication of the HTTP client: the challenge parser, the
// response digest and the Authorization value.
#include "testsupport.h"

#include "http_client"

#include <QRegularExpression>

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <map>
#include <set>
#include <thread>

namespace hc = http_client;

class TestDigest : public QObject {
    Q_OBJECT

    boost::asio::io_context io_;
    hc::registry cancellers_;

    // The worked example of RFC 2617, section 3.5.
    void loadRfcExample(hc::context& ctx, const std::string& qop, const std::string& opaque)
    {
        ctx.user = "Mufasa";
        ctx.password = "Circle Of Life";
        ctx.realm = "testrealm@host.com";
        ctx.nonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
        ctx.qop = qop;
        ctx.opaque = opaque;
        ctx.cnonce = "0a4f113b";
    }

    static hc::string_request request(boost::beast::http::verb method, const char* target)
    {
        return hc::string_request(method, target, 11);
    }

private Q_SLOTS:
    void rfc2617Vector()
    {
        hc::context ctx(io_, cancellers_);
        loadRfcExample(ctx, "auth", "5ccc069c403ebaf9f0171e9517f40e41");
        QCOMPARE(hc::digest_response(ctx, request(boost::beast::http::verb::get, "/dir/index.html")),
                 std::string("6629fae49393a05397450978507c4ef1"));
        QCOMPARE(ctx.nc, std::uint64_t(1));
        QCOMPARE(ctx.cnonce, std::string("0a4f113b"));
        // The count goes on, and method and target (query included) enter HA2.
        QCOMPARE(hc::digest_response(ctx, request(boost::beast::http::verb::patch, "/api/v1/data")),
                 std::string("6d6b3c57798f14ab1a622112900e3122"));
        QCOMPARE(ctx.nc, std::uint64_t(2));

        // Without qop: MD5(HA1:nonce:HA2); nc still counts.
        hc::context plain(io_, cancellers_);
        loadRfcExample(plain, "", "");
        QCOMPARE(hc::digest_response(plain, request(boost::beast::http::verb::get, "/dir/index.html")),
                 std::string("670fd8c2df070c60b045671b8b24ff02"));
        QCOMPARE(plain.nc, std::uint64_t(1));
    }

    void authorizationValue()
    {
        hc::context ctx(io_, cancellers_);
        loadRfcExample(ctx, "auth", "5ccc069c403ebaf9f0171e9517f40e41");
        QCOMPARE(hc::digest_authorization(ctx, request(boost::beast::http::verb::get, "/dir/index.html")),
                 std::string("Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
                             "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
                             "response=\"6629fae49393a05397450978507c4ef1\", "
                             "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\", qop=auth, nc=00000001, "
                             "cnonce=\"0a4f113b\""));

        // No qop: no qop and nc items. No opaque in the challenge: no opaque
        // item at all (servers refuse opaque="").
        hc::context plain(io_, cancellers_);
        loadRfcExample(plain, "", "");
        QCOMPARE(hc::digest_authorization(plain, request(boost::beast::http::verb::get, "/dir/index.html")),
                 std::string("Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
                             "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
                             "response=\"670fd8c2df070c60b045671b8b24ff02\", cnonce=\"0a4f113b\""));

        // Quotes and backslashes inside quoted items are escaped.
        hc::context odd(io_, cancellers_);
        loadRfcExample(odd, "", "o\"p");
        odd.realm = "a \"quoted\" \\realm";
        const std::string value = hc::digest_authorization(odd, request(boost::beast::http::verb::get, "/"));
        QVERIFY(value.find("realm=\"a \\\"quoted\\\" \\\\realm\"") != std::string::npos);
        QVERIFY(value.find("opaque=\"o\\\"p\"") != std::string::npos);
    }

    void authorizationNeedsCredentialsAndChallenge_data()
    {
        QTest::addColumn<int>("missing");
        QTest::newRow("user") << 0;
        QTest::newRow("password") << 1;
        QTest::newRow("realm") << 2;
        QTest::newRow("nonce") << 3;
    }

    void authorizationNeedsCredentialsAndChallenge()
    {
        QFETCH(int, missing);
        hc::context ctx(io_, cancellers_);
        loadRfcExample(ctx, "auth", "");
        ctx.cnonce.clear();
        std::string* fields[] = {&ctx.user, &ctx.password, &ctx.realm, &ctx.nonce};
        fields[missing]->clear();
        QCOMPARE(hc::digest_authorization(ctx, request(boost::beast::http::verb::get, "/")), std::string());
        QCOMPARE(ctx.nc, std::uint64_t(0));
        QVERIFY(ctx.cnonce.empty());
    }

    void cnonceMadeOnceAndCountGoesOn()
    {
        hc::context ctx(io_, cancellers_);
        loadRfcExample(ctx, "auth", "");
        ctx.cnonce.clear();
        const auto micros = [] {
            return std::chrono::duration_cast<std::chrono::microseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                .count();
        };
        const long long before = micros();
        const std::string first = hc::digest_authorization(ctx, request(boost::beast::http::verb::get, "/a"));
        const long long after = micros();
        QVERIFY(ctx.cnonce.size() == 16);
        const long long cnonce = std::stoll(ctx.cnonce);
        QVERIFY(cnonce >= before && cnonce <= after);
        const std::string second = hc::digest_authorization(ctx, request(boost::beast::http::verb::get, "/b"));
        QVERIFY(first.find("nc=00000001") != std::string::npos);
        QVERIFY(second.find("nc=00000002") != std::string::npos);
        QVERIFY(second.find("cnonce=\"" + ctx.cnonce + "\"") != std::string::npos);
        // The count is hexadecimal: the tenth header under the nonce says
        // 0000000a, the sixteenth 00000010.
        std::map<std::uint64_t, std::string> later;
        while (ctx.nc < 16) {
            const std::string value = hc::digest_authorization(ctx, request(boost::beast::http::verb::get, "/b"));
            later[ctx.nc] = value;
        }
        QVERIFY2(later[10].find(", nc=0000000a, ") != std::string::npos, later[10].c_str());
        QVERIFY2(later[16].find(", nc=00000010, ") != std::string::npos, later[16].c_str());

        // A new challenge replaces realm, nonce, qop and opaque only.
        QVERIFY(!hc::parse_authenticate(ctx, "Digest realm=\"other\", nonce=\"fresh\""));
        QCOMPARE(ctx.nc, std::uint64_t(16));
        QCOMPARE(std::stoll(ctx.cnonce), cnonce);
        const std::string third = hc::digest_authorization(ctx, request(boost::beast::http::verb::get, "/c"));
        QVERIFY(third.find("nonce=\"fresh\"") != std::string::npos);
        QVERIFY(third.find("qop") == std::string::npos);
        QCOMPARE(ctx.nc, std::uint64_t(17));
    }

    void challengeAccepted_data()
    {
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("realm");
        QTest::addColumn<QString>("nonce");
        QTest::addColumn<QString>("qop");
        QTest::addColumn<QString>("opaque");

        QTest::newRow("realm and nonce only") << "Digest realm=\"r\", nonce=\"n\"" << "r" << "n" << "" << "";
        QTest::newRow("rfc 2617 example")
            << "Digest realm=\"testrealm@host.com\", qop=\"auth\", algorithm=MD5, "
               "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""
            << "testrealm@host.com" << "dcd98b7102dd2f0e8b11d0f600bfb0c093" << "auth"
            << "5ccc069c403ebaf9f0171e9517f40e41";
        // Real servers make nonces out of base64 text, which ends in "=".
        QTest::newRow("nonce with =")
            << "Digest realm=\"Vantor\", nonce=\"pOPYoSRiBgA=ed5df0122ead2043e4f356081370e76a9334feef\", "
               "algorithm=MD5, qop=\"auth\""
            << "Vantor" << "pOPYoSRiBgA=ed5df0122ead2043e4f356081370e76a9334feef" << "auth" << "";
        QTest::newRow("comma and = inside quotes")
            << "Digest realm=\"a, b=c\", nonce=\"x=,y==\", opaque=\"=\"" << "a, b=c" << "x=,y==" << "" << "=";
        QTest::newRow("backslash escapes")
            << "Digest realm=\"say \\\"hi\\\"\", nonce=\"a\\\\b\"" << "say \"hi\"" << "a\\b" << "" << "";
        QTest::newRow("qop list with auth") << "Digest realm=\"r\", nonce=\"n\", qop=\"auth,auth-int\"" << "r" << "n"
                                            << "auth" << "";
        QTest::newRow("qop list, auth last") << "Digest qop=\"auth-int, auth\", realm=\"r\", nonce=\"n\"" << "r"
                                             << "n" << "auth" << "";
        QTest::newRow("tokens") << "Digest realm=plain, nonce=abc, qop=auth" << "plain" << "abc" << "auth" << "";
        QTest::newRow("no space after comma") << "Digest realm=\"r\",nonce=\"n\"" << "r" << "n" << "" << "";
        QTest::newRow("space after =") << "Digest realm= \"r\", nonce=  n" << "r" << "n" << "" << "";
        QTest::newRow("space before comma")
            << "Digest realm=r , nonce=\"n\" ,algorithm=MD5 , qop=auth , opaque= ,x=1 " << "r" << "n" << "auth" << "";
        QTest::newRow("later duplicate wins") << "Digest realm=\"a\", nonce=\"n\", realm=\"b\"" << "b" << "n" << ""
                                              << "";
        QTest::newRow("empty algorithm and qop")
            << "Digest realm=\"r\", nonce=\"n\", algorithm=\"\", qop=\"\"" << "r" << "n" << "" << "";
        QTest::newRow("stale and unknown items")
            << "Digest realm=\"r\", domain=\"/a /b\", nonce=\"n\", stale=true, flag" << "r" << "n" << "" << "";
    }

    void challengeAccepted()
    {
        QFETCH(QString, header);
        hc::context ctx(io_, cancellers_);
        ctx.opaque = "old";
        ctx.qop = "auth";
        QCOMPARE(hc::parse_authenticate(ctx, header.toStdString()), hc::error_code());
        QTEST(QString::fromStdString(ctx.realm), "realm");
        QTEST(QString::fromStdString(ctx.nonce), "nonce");
        QTEST(QString::fromStdString(ctx.qop), "qop");
        QTEST(QString::fromStdString(ctx.opaque), "opaque");
        QCOMPARE(ctx.nc, std::uint64_t(0));
        QVERIFY(ctx.cnonce.empty());
    }

    void challengeRejected_data()
    {
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("message");
        QTest::newRow("basic") << "Basic realm=\"x\"" << "Invalid WWW-Authenticate header: Basic realm=\"x\"";
        QTest::newRow("lower-case scheme") << "digest realm=\"x\", nonce=\"y\""
                                           << "Invalid WWW-Authenticate header: digest realm=\"x\", nonce=\"y\"";
        QTest::newRow("too short") << "Digest" << "Invalid WWW-Authenticate header: Digest";
        QTest::newRow("no nonce") << "Digest realm=\"x\"" << "Missing required fields in WWW-Authenticate header";
        QTest::newRow("keys are case-sensitive")
            << "Digest Realm=\"x\", nonce=\"y\"" << "Missing required fields in WWW-Authenticate header";
        QTest::newRow("keys are not trimmed")
            << "Digest realm =\"x\", nonce=\"y\"" << "Missing required fields in WWW-Authenticate header";
        QTest::newRow("md5-sess") << "Digest realm=\"x\", nonce=\"y\", algorithm=MD5-sess"
                                  << "Unsupported algorithm: MD5-sess";
        QTest::newRow("auth-int") << "Digest realm=\"x\", nonce=\"y\", qop=\"auth-int\"" << "Unsupported qop: auth-int";
        QTest::newRow("line break in a value") << "Digest realm=\"a\r\nX: 1\", nonce=\"y\""
                                               << "Invalid WWW-Authenticate header: Digest realm=\"a\r\nX: 1\", "
                                                  "nonce=\"y\"";
        QTest::newRow("list without auth") << "Digest realm=\"x\", nonce=\"y\", qop=\"auth-int, authx\""
                                           << "Unsupported qop: auth-int, authx";
    }

    void challengeRejected()
    {
        QFETCH(QString, header);
        QFETCH(QString, message);
        hc::context ctx(io_, cancellers_);
        QVERIFY(!hc::parse_authenticate(ctx, "Digest realm=\"good\", nonce=\"n1\", qop=\"auth\", opaque=\"o\""));
        QTest::ignoreMessage(QtCriticalMsg, message.toUtf8().constData());
        const hc::error_code ec = hc::parse_authenticate(ctx, header.toStdString());
        QCOMPARE(ec, hc::error_code(boost::beast::http::error::need_more));
        QCOMPARE(QString::fromStdString(ec.message()), QStringLiteral("need more"));
        // A bad challenge never erases a good one.
        QCOMPARE(ctx.realm, std::string("good"));
        QCOMPARE(ctx.nonce, std::string("n1"));
        QCOMPARE(ctx.qop, std::string("auth"));
        QCOMPARE(ctx.opaque, std::string("o"));
    }

    // Requests finish on the GUI thread while others start on a worker: every
    // header must get its own nonce count.
    void countsFromTwoThreads()
    {
        hc::context ctx(io_, cancellers_);
        loadRfcExample(ctx, "auth", "");
        constexpr int perThread = 2000;
        std::vector<std::string> seen[2];
        auto work = [&](int index) {
            for (int i = 0; i < perThread; ++i)
                seen[index].push_back(hc::digest_authorization(ctx, request(boost::beast::http::verb::get, "/x")));
        };
        std::thread a(work, 0);
        std::thread b(work, 1);
        a.join();
        b.join();
        std::set<QString> counts;
        const QRegularExpression nc(QStringLiteral("nc=([0-9a-f]{8})"));
        for (const auto& list : seen) {
            for (const auto& value : list)
                counts.insert(nc.match(QString::fromStdString(value)).captured(1));
        }
        QCOMPARE(int(counts.size()), 2 * perThread);
        QCOMPARE(ctx.nc, std::uint64_t(2 * perThread));
    }
};

VELTRANO_TEST_MAIN(TestDigest)
#include "tst_digest.moc"
