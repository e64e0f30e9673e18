// ctest-labels: threaded
// The processor client against the stand-in processor on loopback: the object
// and its credentials, the request layer and its error codes, the state read,
// the display settings document and its batching, the colour operations and
// the address change that cancels what is pending.
#include "testsupport.h"

#include "messagecapture.h"
#include "polledcontext.h"
#include "processorstandin.h"

#include "simplecrypt.h"
#include "vantor.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

using testsupport::MessageCapture;
using testsupport::PolledContext;

namespace {

// The display settings document of a fresh object, as the processor receives it.
const QByteArray kFreshDocument =
    R"({"dev":{"display":{"brightness":10,"cct":6500,"gains":{"b":1,"g":1,"r":1},"gamma":2.4,)"
    R"("out":{"adjust":{"enabled":true,"gain":{"b":0,"g":0,"r":0},"gamma":{"b":1,"g":1,"r":1},)"
    R"("legacy":false,"lift":{"b":0,"g":0,"r":0},"offset":{"b":0,"g":0,"r":0},"saturation":1},)"
    R"("curves":{"enabled":false}}},"ingest":{"testPattern":{"enabled":false,"type":"white"}}}})";

const char* kReadTarget =
    "/api/v1/data?dev.display.brightness&dev.display.cct&dev.display.cctDuv&dev.display.gamma"
    "&dev.display.eotfType&dev.display.lumaMax&dev.display.tileBpc&dev.display.gains"
    "&dev.display.out.adjust&dev.display.out.curves.enabled&dev.ingest.testPattern.enabled"
    "&dev.ingest.testPattern.type&dev.ingest.outputFreq";

QJsonObject parse(const QByteArray& text)
{
    return QJsonDocument::fromJson(text).object();
}

// The processor state the state-read test starts from.
QJsonObject processorState()
{
    return parse(R"({"dev":{"display":{"brightness":42.5,"cct":5600,"cctDuv":0.003,"eotfType":"pq",
        "gamma":2.2,"lumaMax":50,"tileBpc":12,"gains":{"r":0.9,"g":0.8,"b":0.7},
        "out":{"adjust":{"gain":{"r":0.2,"g":0.3,"b":0.4}},"curves":{"enabled":false}}},
        "ingest":{"testPattern":{"enabled":true,"type":"white"},"outputFreq":120}}})");
}

// Runs a reaction on every Qt message (on the thread that logs it) before the
// handler that was installed earlier sees it.
std::function<void(const QString&)> gReaction;
QtMessageHandler gPreviousHandler = nullptr;

void reactingHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (gReaction)
        gReaction(message);
    if (gPreviousHandler)
        gPreviousHandler(type, context, message);
}

// A member of a JSON tree by its dotted path.
QJsonValue member(const QJsonObject& root, const QString& path)
{
    QJsonValue node = root;
    for (const QString& key : path.split(QLatin1Char('.')))
        node = node.toObject().value(key);
    return node;
}

} // namespace

// Records the names of the signals an object emits, in order.
class SignalRecorder : public QObject
{
    Q_OBJECT
public:
    QStringList names;

    void watch(QObject* object)
    {
        const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("record()"));
        const QMetaObject* meta = object->metaObject();
        for (int i = QObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
            if (meta->method(i).methodType() == QMetaMethod::Signal)
                connect(object, meta->method(i), this, slot, Qt::DirectConnection);
        }
    }

public Q_SLOTS:
    void record() { names.append(QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name())); }
};

class TestVantor : public QObject
{
    Q_OBJECT

    ProcessorStandin fake_;
    std::unique_ptr<PolledContext> net_;

    QString fakeAddress() const { return QStringLiteral("127.0.0.1:%1").arg(fake_.port()); }

    std::unique_ptr<Vantor> makeVantor(bool withAddress = true)
    {
        auto vantor = std::make_unique<Vantor>(net_->io());
        if (withAddress)
            vantor->setAddress(fakeAddress());
        return vantor;
    }

    // The processor requests seen so far (control requests are not logged).
    QJsonArray log() { return fake_.requestLog(); }

    static QByteArray body(const QJsonValue& record) { return ProcessorStandin::body(record.toObject()); }

    // A port on which nothing listens.
    static quint16 closedPort()
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        const quint16 port = server.serverPort();
        server.close();
        return port;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        QVERIFY2(fake_.start(), qPrintable(fake_.errorString()));
        net_ = std::make_unique<PolledContext>();
    }

    void init()
    {
        QSettings().clear();
        fake_.clearRules();
        fake_.setAuth(QJsonObject {{QStringLiteral("enabled"), false}});
        fake_.setState(processorState());
        fake_.clearLog();
    }

    void cleanupTestCase()
    {
        net_.reset();
        fake_.stop();
    }

    void freshObject()
    {
        auto vantor = makeVantor(false);
        QCOMPARE(vantor->name(), QStringLiteral("VANTOR"));
        QVERIFY(vantor->isVantor());
        QVERIFY(vantor->supportsMeshUniformity());
        QCOMPARE(vantor->username(), QString());
        QCOMPARE(vantor->password(), QString());
        QCOMPARE(vantor->cct(), 6500u);
        QCOMPARE(vantor->duv(), 0.0);
        QCOMPARE(vantor->eotfType(), QStringLiteral("sdrPreserve"));
        QCOMPARE(vantor->gamma(), 2.4);
        QCOMPARE(vantor->lumaMax(), 10000.0);
        QCOMPARE(vantor->percentBrightness(), 10.0);
        QVERIFY(!vantor->testPatternEnabled());
        QVERIFY(!vantor->curvesEnabled());
        QCOMPARE(vantor->red(), 0.0);
        QCOMPARE(vantor->green(), 0.0);
        QCOMPARE(vantor->blue(), 0.0);
        QVERIFY(vantor->updatesEnabled);

        // The address comes back from the settings store.
        vantor->setAddress(fakeAddress());
        vantor.reset();
        QCOMPARE(makeVantor(false)->address(), fakeAddress());
    }

    // The password is stored scrambled, comes back at start, and is scrambled
    // anew then; the restored credentials pass the processor's Digest check.
    void credentials()
    {
        const QString secret = QStringLiteral("s3cret – ü");
        QString scrambled;
        {
            auto vantor = makeVantor();
            QSignalSpy userSpy(vantor.get(), &Vantor::usernameChanged);
            QSignalSpy passwordSpy(vantor.get(), &Vantor::passwordChanged);
            vantor->setUsername(QStringLiteral("operator"));
            vantor->setPassword(secret);
            QCOMPARE(userSpy.count(), 1);
            QCOMPARE(passwordSpy.count(), 1);
            QCOMPARE(vantor->password(), secret);

            QSettings settings;
            QCOMPARE(settings.value(QStringLiteral("VantorU")).toString(), QStringLiteral("operator"));
            scrambled = settings.value(QStringLiteral("VantorP")).toString();
            QVERIFY(!scrambled.isEmpty());
            QVERIFY(!scrambled.contains(QStringLiteral("s3cret")));
            SimpleCrypt crypt(Q_UINT64_C(0x0F3B71C5E29D4A68));
            QCOMPARE(crypt.decryptToString(scrambled), secret);

            // The same text again: nothing written, nothing emitted.
            vantor->setPassword(secret);
            QCOMPARE(passwordSpy.count(), 1);
            QCOMPARE(QSettings().value(QStringLiteral("VantorP")).toString(), scrambled);
        }

        // Store the password in another valid form (SHA-1 instead of the
        // checksum): the start must read it and write the usual form back.
        {
            SimpleCrypt hashed(Q_UINT64_C(0x0F3B71C5E29D4A68));
            hashed.setIntegrityProtectionMode(SimpleCrypt::ProtectionHash);
            const QString other = hashed.encryptToString(secret);
            QCOMPARE(QByteArray::fromBase64(other.toLatin1()).at(1) & 0x04, 0x04);
            QSettings().setValue(QStringLiteral("VantorP"), other);
        }
        fake_.setAuth(QJsonObject {{QStringLiteral("enabled"), true},
                                   {QStringLiteral("user"), QStringLiteral("operator")},
                                   {QStringLiteral("password"), secret}});
        {
            auto vantor = makeVantor(false);
            QCOMPARE(vantor->username(), QStringLiteral("operator"));
            QCOMPARE(vantor->password(), secret);
            const QString rewritten = QSettings().value(QStringLiteral("VantorP")).toString();
            QCOMPARE(QByteArray::fromBase64(rewritten.toLatin1()).at(1), char(0x02));
            QCOMPARE(SimpleCrypt(Q_UINT64_C(0x0F3B71C5E29D4A68)).decryptToString(rewritten), secret);

            QCOMPARE(vantor->read().code, 0);
            const QJsonArray requests = log();
            QCOMPARE(requests.size(), 2); // the challenge, then the authorised retry
            QCOMPARE(requests.at(1).toObject().value(QStringLiteral("authState")).toString(),
                     QStringLiteral("ok"));
        }

        // A stored text that does not unscramble leaves the password empty and
        // the stored text as it was.
        QSettings().setValue(QStringLiteral("VantorP"), QStringLiteral("AwKnot-a-cyphertext"));
        auto vantor = makeVantor(false);
        QCOMPARE(vantor->password(), QString());
        QCOMPARE(QSettings().value(QStringLiteral("VantorP")).toString(), QStringLiteral("AwKnot-a-cyphertext"));
    }

    // Setting changes while updates are off go out together in one PATCH.
    void settingsBatch()
    {
        auto vantor = makeVantor();
        QCOMPARE(vantor->updateVantor().code, 0);
        QJsonArray requests = log();
        QCOMPARE(requests.size(), 1);
        const QJsonObject first = requests.at(0).toObject();
        QCOMPARE(first.value(QStringLiteral("method")).toString(), QStringLiteral("PATCH"));
        QCOMPARE(first.value(QStringLiteral("target")).toString(), QStringLiteral("/api/v1/data"));
        QCOMPARE(ProcessorStandin::header(first, QStringLiteral("Content-Type")), QStringLiteral("application/json"));
        QCOMPARE(body(first), kFreshDocument);
        fake_.clearLog();

        QSignalSpy cctSpy(vantor.get(), &Vantor::cctChanged);
        QSignalSpy gammaSpy(vantor.get(), &Vantor::gammaChanged);
        vantor->updatesEnabled = false;
        vantor->setCct(5000);
        vantor->setGamma(2.2);
        vantor->setPercentBrightness(50.0);
        vantor->setTestPatternEnabled(true);
        vantor->setCurvesEnabled(true);
        vantor->setEotfType(QStringLiteral("pq"));
        vantor->setDuv(0.002);
        vantor->setLumaMax(20);
        QCOMPARE(vantor->updateVantor().code, 0);
        QCOMPARE(log().size(), 0);
        QCOMPARE(cctSpy.count(), 1);
        QCOMPARE(cctSpy.at(0).at(0).toUInt(), 5000u);
        QCOMPARE(gammaSpy.at(0).at(0).toDouble(), 2.2);
        QCOMPARE(vantor->lumaMax(), 100.0);

        vantor->updatesEnabled = true;
        QCOMPARE(vantor->updateVantor().code, 0);
        requests = log();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(body(requests.at(0)),
                 QByteArray(R"({"dev":{"display":{"brightness":50,"cct":5000,"gains":{"b":1,"g":1,"r":1},)"
                            R"("gamma":2.2,"out":{"adjust":{"enabled":true,"gain":{"b":0,"g":0,"r":0},)"
                            R"("gamma":{"b":1,"g":1,"r":1},"legacy":false,"lift":{"b":0,"g":0,"r":0},)"
                            R"("offset":{"b":0,"g":0,"r":0},"saturation":1},"curves":{"enabled":true}}},)"
                            R"("ingest":{"testPattern":{"enabled":true,"type":"white"}}}})"));
        // The processor took it in.
        const QJsonObject state = fake_.state();
        QCOMPARE(member(state, QStringLiteral("dev.display.cct")).toInt(), 5000);
        QCOMPARE(member(state, QStringLiteral("dev.display.out.curves.enabled")).toBool(), true);
        fake_.clearLog();

        // With updates on, every writer sends the whole document, also those
        // whose value the document does not hold; a change within the relative
        // tolerance is no change.
        vantor->setGamma(2.2000000000000002);
        QCOMPARE(log().size(), 0);
        vantor->setEotfType(QStringLiteral("hlg"));
        vantor->setLumaMax(4000);
        vantor->setCct(6500);
        requests = log();
        QCOMPARE(requests.size(), 3);
        QVERIFY(!body(requests.at(0)).contains("eotfType"));
        QVERIFY(!body(requests.at(1)).contains("lumaMax"));
        QVERIFY(body(requests.at(2)).contains(R"("cct":6500)"));

        // Every writer has sent the settings by the time it announces the change.
        int sentWhenSignalled = -1;
        const auto note = [&] { sentWhenSignalled = int(log().size()); };
        QObject receiver;
        connect(vantor.get(), &Vantor::cctChanged, &receiver, note);
        connect(vantor.get(), &Vantor::duvChanged, &receiver, note);
        connect(vantor.get(), &Vantor::eotfTypeChanged, &receiver, note);
        connect(vantor.get(), &Vantor::gammaChanged, &receiver, note);
        connect(vantor.get(), &Vantor::percentBrightnessChanged, &receiver, note);
        connect(vantor.get(), &Vantor::lumaMaxChanged, &receiver, note);
        connect(vantor.get(), &Vantor::testPatternEnabledChanged, &receiver, note);
        connect(vantor.get(), &Vantor::curvesEnabledChanged, &receiver, note);
        const std::function<void()> writers[] = {
            [&] { vantor->setCct(3200); },
            [&] { vantor->setDuv(0.004); },
            [&] { vantor->setEotfType(QStringLiteral("sdrPreserve")); },
            [&] { vantor->setGamma(2.6); },
            [&] { vantor->setPercentBrightness(75.0); },
            [&] { vantor->setLumaMax(1000); },
            [&] { vantor->setTestPatternEnabled(false); },
            [&] { vantor->setCurvesEnabled(false); },
        };
        for (const auto& write : writers) {
            fake_.clearLog();
            sentWhenSignalled = -1;
            write();
            QCOMPARE(sentWhenSignalled, 1);
        }
    }

    // The colour operations: equal components send nothing through the single
    // setters; setRGB with number 0 always sends; display gains always send.
    void colour()
    {
        auto vantor = makeVantor();
        QSignalSpy redSpy(vantor.get(), &DisplayBase::redChanged);
        QSignalSpy colorSpy(vantor.get(), &DisplayBase::colorStrChanged);

        QCOMPARE(vantor->setRed(0.0).code, 0);
        QCOMPARE(log().size(), 0);
        QCOMPARE(vantor->setRed(0.25).code, 0);
        QCOMPARE(redSpy.count(), 1);
        QCOMPARE(colorSpy.count(), 1);
        QCOMPARE(vantor->setRGB(0, 0.25, 0.0, 0.0).code, 0);
        QCOMPARE(redSpy.count(), 1);
        QCOMPARE(colorSpy.count(), 1);
        QCOMPARE(vantor->setDisplayGainRGB(1.0, 0.95, 0.9).code, 0);
        QCOMPARE(vantor->displayGainGreen(), 0.95);
        const QJsonArray requests = log();
        QCOMPARE(requests.size(), 3);
        QVERIFY(body(requests.at(0)).contains(R"("gain":{"b":0,"g":0,"r":0.25})"));
        QVERIFY(body(requests.at(2)).contains(R"("gains":{"b":0.9,"g":0.95,"r":1})"));

        // Each component is stored and announced before the next one changes.
        double greenSeen = -1.0;
        auto watch = connect(vantor.get(), &DisplayBase::redChanged, this, [&] { greenSeen = vantor->green(); });
        QCOMPARE(vantor->setRGB(0, 0.5, 0.75, 0.0).code, 0);
        disconnect(watch);
        QCOMPARE(greenSeen, 0.0);
        QCOMPARE(vantor->green(), 0.75);

        // A failure comes back and the model keeps the new value.
        fake_.addRule(QJsonObject {{QStringLiteral("method"), QStringLiteral("PATCH")},
                                   {QStringLiteral("status"), 503},
                                   {QStringLiteral("body"), QStringLiteral("busy, try later")}});
        const ErrorType failed = vantor->setGreen(0.5);
        QCOMPARE(failed.code, 1);
        QCOMPARE(failed.message, QStringLiteral("HTTP error 503: busy, try later"));
        QCOMPARE(vantor->green(), 0.5);
    }

    // Every value of the state read reaches its property, with one signal each
    // in order, and nothing is written back.
    void readState()
    {
        auto vantor = makeVantor();
        SignalRecorder recorder;
        recorder.watch(vantor.get());
        QStringList& emitted = recorder.names;

        const ErrorType result = vantor->read();
        QCOMPARE(result.code, 0);
        QCOMPARE(result.message, QString());
        QCOMPARE(vantor->percentBrightness(), 42.5);
        QCOMPARE(vantor->cct(), 5600u);
        QCOMPARE(vantor->duv(), 0.003);
        QCOMPARE(vantor->eotfType(), QStringLiteral("pq"));
        QCOMPARE(vantor->gamma(), 2.2);
        QCOMPARE(vantor->lumaMax(), 100.0);
        QCOMPARE(vantor->red(), 0.2);
        QCOMPARE(vantor->green(), 0.3);
        QCOMPARE(vantor->blue(), 0.4);
        QCOMPARE(vantor->displayGainRed(), 0.9);
        QCOMPARE(vantor->displayGainGreen(), 0.8);
        QCOMPARE(vantor->displayGainBlue(), 0.7);
        QVERIFY(vantor->testPatternEnabled());
        QCOMPARE(vantor->outputFrequency(), 120.0);
        QVERIFY(!vantor->curvesEnabled());
        QVERIFY(vantor->updatesEnabled);

        QCOMPARE(emitted,
                 QStringList({"percentBrightnessChanged", "cctChanged", "duvChanged", "eotfTypeChanged",
                              "gammaChanged", "lumaMaxChanged", "redChanged", "colorStrChanged", "greenChanged",
                              "colorStrChanged", "blueChanged", "colorStrChanged", "displayGainRedChanged", "displayGainGreenChanged",
                              "displayGainBlueChanged", "colorStrChanged", "testPatternEnabledChanged",
                              "outputFrequencyChanged"}));

        const QJsonArray requests = log();
        QCOMPARE(requests.size(), 1);
        const QJsonObject get = requests.at(0).toObject();
        QCOMPARE(get.value(QStringLiteral("method")).toString(), QStringLiteral("GET"));
        QCOMPARE(get.value(QStringLiteral("target")).toString(), QString::fromLatin1(kReadTarget));
        QCOMPARE(ProcessorStandin::header(get, QStringLiteral("Content-Length")), QString());
        QCOMPARE(ProcessorStandin::header(get, QStringLiteral("Content-Type")), QStringLiteral("application/json"));

        // Values within the relative tolerance change nothing; values that are
        // the same emit nothing.
        QJsonObject state = processorState();
        QJsonObject dev = state["dev"].toObject();
        QJsonObject display = dev["display"].toObject();
        display["brightness"] = 42.500000000000014;
        dev["display"] = display;
        state["dev"] = dev;
        fake_.setState(state);
        emitted.clear();
        QCOMPARE(vantor->read().code, 0);
        QCOMPARE(vantor->percentBrightness(), 42.5);
        // Only the display gains signal on every read.
        QCOMPARE(emitted, QStringList({"displayGainRedChanged", "displayGainGreenChanged", "displayGainBlueChanged",
                                       "colorStrChanged"}));
    }

    void readMissingData_data()
    {
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("lines");

        const QString colour = QStringLiteral("VANTOR: r,g,b data not found.");
        const QString gains = QStringLiteral("VANTOR: display.gains r,g,b data not found.");
        QTest::newRow("no gains at all")
            << QByteArray(R"({"dev":{"display":{"brightness":33,"out":{"adjust":{}}}}})") << 2
            << QStringLiteral("display.gains RGB data not found in VANTOR status") << QStringList {colour, gains};
        QTest::newRow("no colour")
            << QByteArray(R"({"dev":{"display":{"brightness":33,"gains":{"r":1,"g":1,"b":1}}}})") << 2
            << QStringLiteral("RGB data not found in VANTOR status") << QStringList {colour};
        QTest::newRow("colour lacks blue")
            << QByteArray(R"({"dev":{"display":{"brightness":33,"gains":{"r":1,"g":1,"b":1},)"
                          R"("out":{"adjust":{"gain":{"r":1,"g":1}}}}}})")
            << 2 << QStringLiteral("RGB data not found in VANTOR status") << QStringList {colour};
        QTest::newRow("curves on")
            << QByteArray(R"({"dev":{"display":{"brightness":33,"out":{"curves":{"enabled":true}}}}})") << 0
            << QString() << QStringList();
        QTest::newRow("display gains of other types refused")
            << QByteArray(R"({"dev":{"display":{"brightness":33,"gains":{"r":"x","g":null,"b":[]},)"
                          R"("out":{"adjust":{"gain":{"r":true,"g":1,"b":1}}}}}})")
            << 2 << QStringLiteral("display.gains RGB data not valid in VANTOR status")
            << QStringList {QStringLiteral("VANTOR: display.gains r,g,b data not valid.")};
    }

    // Missing gain data is an error unless the processor's curves are on; what
    // was found is applied all the same.
    void readMissingData()
    {
        QFETCH(QByteArray, state);
        QFETCH(int, code);
        QFETCH(QString, message);
        QFETCH(QStringList, lines);

        fake_.setState(parse(state));
        auto vantor = makeVantor();
        MessageCapture capture;
        const ErrorType result = vantor->read();
        QCOMPARE(result.code, code);
        QCOMPARE(result.message, message);
        QCOMPARE(vantor->percentBrightness(), 33.0);
        for (const QString& line : lines)
            QCOMPARE(capture.count(line), 1);
        QCOMPARE(capture.count(QStringLiteral("VANTOR: "), true), int(lines.size()));
        QVERIFY(vantor->updatesEnabled);
        QCOMPARE(log().size(), 1);
    }

    // A 204 without a body is a success with nothing in it.
    void readEmptyReply()
    {
        fake_.addRule(QJsonObject {{QStringLiteral("method"), QStringLiteral("GET")},
                                   {QStringLiteral("status"), 204}});
        auto vantor = makeVantor();
        const ErrorType result = vantor->read();
        QCOMPARE(result.code, 2);
        QCOMPARE(result.message, QStringLiteral("display.gains RGB data not found in VANTOR status"));
        QCOMPARE(vantor->percentBrightness(), 10.0);
    }

    void requestErrors()
    {
        // No address: code 2 and nothing sent, by every operation.
        auto vantor = makeVantor(false);
        const auto noAddress = [](const ErrorType& e) {
            return e.code == 2 && e.message == QStringLiteral("No network address");
        };
        QVERIFY(noAddress(vantor->read()));
        QVERIFY(noAddress(vantor->updateVantor()));
        QVERIFY(noAddress(vantor->fetchLdms()));
        QVERIFY(noAddress(vantor->displayTestPattern(DisplayBase::TestPatternWhite, 0, 0)));
        QVERIFY(noAddress(vantor->sendCalibration({}, 1, 1, 1)));
        QVERIFY(noAddress(vantor->setDisplayGainRGB(1, 1, 1)));
        vantor->updatesEnabled = false;
        QCOMPARE(vantor->updateVantor().code, 0);
        vantor->updatesEnabled = true;
        QCOMPARE(log().size(), 0);

        // A closed port: the network error's text, code 1.
        vantor->setAddress(QStringLiteral("127.0.0.1:%1").arg(closedPort()));
        ErrorType result = vantor->read();
        QCOMPARE(result.code, 1);
        QCOMPARE(result.message, QStringLiteral("Connection refused"));

        // An HTTP error: status and the whole body.
        vantor->setAddress(fakeAddress());
        const QString longBody = QStringLiteral("no such thing: ") + QString(400, QLatin1Char('x'));
        fake_.addRule(QJsonObject {{QStringLiteral("status"), 404}, {QStringLiteral("body"), longBody}});
        result = vantor->read();
        QCOMPARE(result.code, 1);
        QCOMPARE(result.message, QStringLiteral("HTTP error 404: ") + longBody);

        // Wrong credentials: the second 401 comes back as an HTTP error.
        fake_.setAuth(QJsonObject {{QStringLiteral("enabled"), true}});
        vantor->setUsername(QStringLiteral("admin"));
        vantor->setPassword(QStringLiteral("wrong"));
        result = vantor->updateVantor();
        QCOMPARE(result.code, 1);
        QCOMPARE(result.message, QStringLiteral("HTTP error 401: Unauthorized"));
    }

    // The address is resolved once and kept until it changes; a failed
    // look-up is logged and tried again by the next request.
    void addressResolution()
    {
        auto vantor = makeVantor(false);
        MessageCapture capture;
        vantor->setAddress(QStringLiteral("127.0.0.1:no-such-service"));
        QCOMPARE(vantor->read().code, 1);
        QCOMPARE(capture.count(QStringLiteral("Vantor address failed to resolve, error "), true), 1);
        QVERIFY(vantor->endpoints().empty());

        vantor->setAddress(fakeAddress());
        capture.clear();
        QCOMPARE(vantor->read().code, 0);
        QCOMPARE(vantor->read().code, 0);
        QCOMPARE(capture.count(QStringLiteral("Vantor resolving address ") + fakeAddress()), 1);
        QCOMPARE(capture.count(QStringLiteral("Vantor address resolved, 1 result(s): ") + fakeAddress()), 1);
        QCOMPARE(vantor->endpoints().size(), size_t(1));

        // The same address again keeps the endpoints; the scheme prefix makes
        // it a change that clears them.
        QSignalSpy addressSpy(vantor.get(), &DisplayBase::addressChanged);
        vantor->setAddress(fakeAddress());
        QCOMPARE(vantor->endpoints().size(), size_t(1));
        QCOMPARE(addressSpy.count(), 0);
        vantor->setAddress(QStringLiteral("HTTP://") + fakeAddress());
        QCOMPARE(addressSpy.count(), 1);
        QCOMPARE(vantor->address(), fakeAddress());
        QVERIFY(vantor->endpoints().empty());

        // The address changes just as the look-up of the old one completes
        // (here from the line that reports it): nothing of the old address
        // stays in the cache.
        const QString next = QStringLiteral("127.0.0.1:%1").arg(closedPort());
        gReaction = [&](const QString& message) {
            if (message.startsWith(QStringLiteral("Vantor address resolved")))
                vantor->setAddress(next);
        };
        gPreviousHandler = qInstallMessageHandler(reactingHandler);
        vantor->read();
        qInstallMessageHandler(gPreviousHandler);
        gReaction = nullptr;
        QCOMPARE(vantor->address(), next);
        QVERIFY(vantor->endpoints().empty());
    }

    // A new address cancels the request that waits; the same address does not.
    void addressChangeCancels()
    {
        auto vantor = makeVantor();
        fake_.addRule(QJsonObject {{QStringLiteral("method"), QStringLiteral("GET")},
                                   {QStringLiteral("action"), QStringLiteral("hang")}});
        QTimer::singleShot(200, vantor.get(), [&] { vantor->setAddress(QStringLiteral("127.0.0.1:1")); });
        ErrorType result = vantor->read();
        QCOMPARE(result.code, 1);
        QCOMPARE(result.message, QStringLiteral("Operation canceled"));
        QCOMPARE(fake_.releaseHung(), 1);

        vantor->setAddress(fakeAddress());
        fake_.addRule(QJsonObject {{QStringLiteral("method"), QStringLiteral("GET")},
                                   {QStringLiteral("action"), QStringLiteral("hang")}});
        QTimer::singleShot(100, vantor.get(), [&] { vantor->setAddress(fakeAddress()); });
        QTimer::singleShot(400, vantor.get(), [&] { fake_.releaseHung(); });
        result = vantor->read();
        QCOMPARE(result.code, 1);
        QVERIFY2(result.message != QStringLiteral("Operation canceled"), qPrintable(result.message));

        // cancel() ends a waiting request the same way.
        fake_.addRule(QJsonObject {{QStringLiteral("method"), QStringLiteral("PATCH")},
                                   {QStringLiteral("action"), QStringLiteral("hang")}});
        QTimer::singleShot(100, vantor.get(), [&] { vantor->cancel(); });
        result = vantor->updateVantor();
        QCOMPARE(result.message, QStringLiteral("Operation canceled"));
        fake_.releaseHung();
    }

    // The correction engine's thread sends while the GUI thread sends too;
    // each round starts with an empty endpoint cache, so both threads resolve
    // and fill it at the same time.
    void requestsFromTwoThreads()
    {
        auto vantor = makeVantor(false);
        const QString addresses[2] = {fakeAddress(), QStringLiteral("localhost:%1").arg(fake_.port())};
        for (int round = 0; round < 6; ++round) {
            vantor->setAddress(addresses[round % 2]);
            QVERIFY(vantor->endpoints().empty());
            std::atomic<int> failures {0};
            QThread* worker = QThread::create([&] {
                for (int i = 0; i < 3; ++i) {
                    if (vantor->setDisplayGainRGB(1.0, 1.0, 1.0 - i / 100.0).code != 0)
                        ++failures;
                }
            });
            worker->start();
            for (int i = 0; i < 3; ++i)
                QCOMPARE(vantor->displayTestPattern(DisplayBase::TestPatternWhite, 0, 0).code, 0);
            // The worker's exchanges advance in this thread's poll: keep it running.
            QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 20000);
            worker->wait();
            delete worker;
            QCOMPARE(failures.load(), 0);
            QVERIFY(!vantor->endpoints().empty());
        }
        QCOMPARE(log().size(), 6 * 6);
    }
};

VELTRANO_TEST_MAIN(TestVantor)
#include "tst_vantor.moc"
