// ctest-labels: threaded
// The processor client's wall operations against the stand-in processor: the
// fetch of receivers and LDMs, per-LDM gains (the stand-in's state follows the
// PATCHes, so a later fetch sees them), test patterns and output curves.
#include "testsupport.h"

#include "messagecapture.h"
#include "polledcontext.h"
#include "processorstandin.h"

#include "vantor.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QThread>

#include <functional>
#include <iterator>
#include <memory>

using testsupport::MessageCapture;
using testsupport::PolledContext;

namespace {

const QString kMac1 = QStringLiteral("AA:BB:CC:DD:EE:01");
const QString kMac2 = QStringLiteral("AA:BB:CC:DD:EE:02");

QJsonObject info(const QString& type, int pixelsW, int pixelsH, int ldmsW, int ldmsH)
{
    return QJsonObject {{QStringLiteral("type"), type},       {QStringLiteral("pixelsW"), pixelsW},
                        {QStringLiteral("pixelsH"), pixelsH}, {QStringLiteral("ldmsW"), ldmsW},
                        {QStringLiteral("ldmsH"), ldmsH}};
}

QJsonObject gains(double r, double g, double b, double i)
{
    return QJsonObject {{QStringLiteral("gains"),
                         QJsonObject {{QStringLiteral("r"), r}, {QStringLiteral("g"), g},
                                      {QStringLiteral("b"), b}, {QStringLiteral("i"), i}}}};
}

// A receiver of 160 x 90 pixels on a 4 x 3 LDM grid with LDM keys 1 to 12.
QJsonObject receiver(int x, int y, const QString& type, double base)
{
    QJsonObject ldms;
    for (int k = 1; k <= 12; ++k)
        ldms.insert(QString::number(k), gains(base + k / 100.0, 0.0, -0.5, 0.0));
    return QJsonObject {{QStringLiteral("x"), x},
                        {QStringLiteral("y"), y},
                        {QStringLiteral("info"), info(type, 160, 90, 4, 3)},
                        {QStringLiteral("ldms"), ldms}};
}

QJsonObject meshFixture(bool mesh)
{
    return QJsonObject {
        {QStringLiteral("cal"),
         QJsonObject {{QStringLiteral("uniformity"), QJsonObject {{QStringLiteral("mesh"), mesh}}}}}};
}

QJsonObject wallState(const QJsonObject& receivers, const QJsonObject& fixtures)
{
    return QJsonObject {
        {QStringLiteral("dev"), QJsonObject {{QStringLiteral("receivers"), receivers}}},
        {QStringLiteral("sys"), QJsonObject {{QStringLiteral("fixtures"), fixtures}}}};
}

// Two receivers: ...:02 at the origin (fixture "P3.9"), ...:01 at (320, 180)
// (fixture "P2.6", mesh capable), whose LDM 3 is switched off and LDM 5 has
// no gains.
QJsonObject twoReceivers()
{
    QJsonObject first = receiver(320, 180, QStringLiteral("P2.6"), 0.0);
    QJsonObject ldms = first.value(QStringLiteral("ldms")).toObject();
    ldms.insert(QStringLiteral("3"), gains(0.0, 0.0, 0.0, -1.0));
    ldms.insert(QStringLiteral("5"), QJsonObject {});
    first.insert(QStringLiteral("ldms"), ldms);
    return wallState(QJsonObject {{kMac2, receiver(0, 0, QStringLiteral("P3.9"), 0.5)}, {kMac1, first}},
                     QJsonObject {{QStringLiteral("P2.6"), meshFixture(true)},
                                  {QStringLiteral("P3.9"), meshFixture(false)}});
}

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The per-LDM gain document for {mac: {key: gains}}.
QByteArray gainDocument(const QList<std::tuple<QString, QString, QJsonObject>>& entries)
{
    QJsonObject receivers;
    for (const auto& [mac, key, value] : entries) {
        QJsonObject receiver = receivers.value(mac).toObject();
        QJsonObject ldms = receiver.value(QStringLiteral("ldms")).toObject();
        ldms.insert(key, value);
        receiver.insert(QStringLiteral("ldms"), ldms);
        receivers.insert(mac, receiver);
    }
    return compact(QJsonObject {{QStringLiteral("dev"), QJsonObject {{QStringLiteral("receivers"), receivers}}}});
}

} // namespace

class TestVantorWall : public QObject
{
    Q_OBJECT

    ProcessorStandin fake_;
    std::unique_ptr<PolledContext> net_;
    std::unique_ptr<Vantor> vantor_;

    QJsonArray log() { return fake_.requestLog(); }
    static QByteArray body(const QJsonValue& record) { return ProcessorStandin::body(record.toObject()); }

    // Fetches the two-receiver wall and forgets the requests so far.
    void fetchWall()
    {
        fake_.setState(twoReceivers());
        QCOMPARE(vantor_->fetchLdms().code, 0);
        QCOMPARE(vantor_->ldmCount(), 24u);
        fake_.clearLog();
    }

    void addRule(const QString& method, int status, const QString& text)
    {
        fake_.addRule(QJsonObject {{QStringLiteral("method"), method},
                                   {QStringLiteral("status"), status},
                                   {QStringLiteral("body"), text}});
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        QSettings().clear();
        QVERIFY2(fake_.start(), qPrintable(fake_.errorString()));
        net_ = std::make_unique<PolledContext>();
    }

    void init()
    {
        fake_.clearRules();
        fake_.clearLog();
        vantor_ = std::make_unique<Vantor>(net_->io());
        vantor_->setAddress(QStringLiteral("127.0.0.1:%1").arg(fake_.port()));
    }

    void cleanup() { vantor_.reset(); }

    void cleanupTestCase()
    {
        net_.reset();
        fake_.stop();
    }

    // Receivers and their LDMs in byte-wise text order, placed on the grid.
    void fetchTwoReceivers()
    {
        fake_.setState(twoReceivers());
        QSignalSpy fetched(vantor_.get(), &DisplayBase::fetchedOutputConfig);
        MessageCapture capture;
        QCOMPARE(vantor_->fetchLdms().code, 0);
        QCOMPARE(fetched.count(), 1);

        const QJsonArray requests = log();
        QCOMPARE(requests.size(), 1);
        const QJsonObject get = requests.at(0).toObject();
        QCOMPARE(get.value(QStringLiteral("method")).toString(), QStringLiteral("GET"));
        QCOMPARE(get.value(QStringLiteral("target")).toString(),
                 QStringLiteral("/api/v1/data?dev.receivers&sys.fixtures"));
        QCOMPARE(body(get), QByteArray());

        QCOMPARE(vantor_->tileCount(), 2u);
        const Tile& t1 = vantor_->tile(1);
        QCOMPARE(t1.name, kMac1);
        QCOMPARE(QRectF(t1.x, t1.y, t1.width, t1.height), QRectF(320, 180, 160, 90));
        QCOMPARE(t1.ldmsWide, 4);
        QCOMPARE(t1.ldmsHigh, 3);
        QCOMPARE(vantor_->tile(2).name, kMac2);

        QCOMPARE(vantor_->ldmCount(), 24u);
        QList<int> keys;
        for (uint n = 1; n <= 12; ++n) {
            QCOMPARE(vantor_->ldm(n).name, kMac1);
            QCOMPARE(vantor_->ldm(n).tile, 1u);
            QCOMPARE(vantor_->ldm(n).number, n);
            keys << vantor_->ldm(n).index;
        }
        QCOMPARE(keys, QList<int>({1, 10, 11, 12, 2, 3, 4, 5, 6, 7, 8, 9}));
        QCOMPARE(vantor_->ldm(13).name, kMac2);
        QCOMPARE(vantor_->ldm(13).tile, 2u);

        // Key 10 sits in column 1, row 2 of its receiver.
        const Macropixel& ten = vantor_->ldm(2);
        QCOMPARE(QRectF(ten.x, ten.y, ten.width, ten.height), QRectF(360, 240, 40, 30));
        QCOMPARE(ten.redGain, 0.10);
        QCOMPARE(ten.blueGain, -0.5);
        QVERIFY(ten.lit && ten.selected && ten.adjustable);
        // Key 3 is switched off; key 5 has no gains and counts as lit.
        QCOMPARE(vantor_->ldm(6).index, 3);
        QVERIFY(!vantor_->ldm(6).lit);
        QCOMPARE(vantor_->ldm(6).intensityGain, -1.0);
        QCOMPARE(vantor_->ldm(8).index, 5);
        QVERIFY(vantor_->ldm(8).lit);
        QCOMPARE(vantor_->ldm(8).redGain, 0.0);
        // Key 9 of the receiver at the origin: column 0, row 2.
        QCOMPARE(vantor_->ldm(24).index, 9);
        QCOMPARE(vantor_->ldm(24).x, 0.0f);
        QCOMPARE(vantor_->ldm(24).y, 60.0f);

        QCOMPARE(vantor_->minX(), 0);
        QCOMPARE(vantor_->maxX(), 480);
        QCOMPARE(vantor_->minY(), 0);
        QCOMPARE(vantor_->maxY(), 270);
        QCOMPARE(vantor_->litLdmCount(), 23u);

        QCOMPARE(capture.count(QStringLiteral("VANTOR has 2 receivers")), 1);
        QCOMPARE(capture.count(QStringLiteral("MAC AA:BB:CC:DD:EE:01: @320,180, 160x90 pixels, 12 4x3 ldms")), 1);
        QCOMPARE(capture.count(QStringLiteral("MAC AA:BB:CC:DD:EE:02: @0,0, 160x90 pixels, 12 4x3 ldms")), 1);
        QCOMPARE(capture.count(QStringLiteral("Fixture P2.6 supports mesh uniformity")), 1);
        QCOMPARE(capture.count(QStringLiteral("Fixture "), true), 1);
        QCOMPARE(capture.count(QStringLiteral("24 LDMs, spanning x from 0 to 480, y from 0 to 270")), 1);
    }

    // Only the first three receivers get a line of their own; odd sizes truncate.
    void fetchManyReceivers()
    {
        QJsonObject receivers;
        for (int i = 0; i < 5; ++i) {
            QJsonObject r = receiver(i * 100, 0, QStringLiteral("P2.6"), 0.0);
            r.insert(QStringLiteral("info"), info(QStringLiteral("P2.6"), 100, 90, 3, 3));
            receivers.insert(QStringLiteral("AA:00:00:00:00:0%1").arg(i), r);
        }
        fake_.setState(wallState(receivers, QJsonObject {{QStringLiteral("P2.6"), meshFixture(false)}}));
        MessageCapture capture;
        QCOMPARE(vantor_->fetchLdms().code, 0);
        QCOMPARE(capture.count(QStringLiteral("VANTOR has 5 receivers")), 1);
        QCOMPARE(capture.count(QStringLiteral("MAC "), true), 3);
        QCOMPARE(vantor_->ldmWidth(1), 33);
        QCOMPARE(vantor_->tileCount(), 5u);
        // Keys 10 to 12 lie beyond a 3 x 3 grid, in a fourth row.
        QCOMPARE(vantor_->ldm(2).index, 10);
        QCOMPARE(vantor_->ldmY(2), 90);
    }

    void fetchFailures()
    {
        // A fixture type that the processor does not describe is fatal; the
        // wall fetched before stays as it was.
        fetchWall();
        QJsonObject state = twoReceivers();
        QJsonObject sys = state.value(QStringLiteral("sys")).toObject();
        sys.insert(QStringLiteral("fixtures"), QJsonObject {{QStringLiteral("P2.6"), meshFixture(true)},
                                                           {QStringLiteral("P3.9"), QJsonObject {}}});
        state.insert(QStringLiteral("sys"), sys);
        fake_.setState(state);
        QSignalSpy fetched(vantor_.get(), &DisplayBase::fetchedOutputConfig);
        ErrorType result = vantor_->fetchLdms();
        QCOMPARE(result.code, 2);
        QCOMPARE(result.message, QStringLiteral("type P3.9 missing"));
        QCOMPARE(fetched.count(), 0);
        QCOMPARE(vantor_->ldmCount(), 24u);
        QCOMPARE(vantor_->ldm(24).name, kMac2);

        // A receiver without an LDM grid is left out with a warning; the rest
        // of the wall comes in.
        state = twoReceivers();
        QJsonObject dev = state.value(QStringLiteral("dev")).toObject();
        QJsonObject receivers = dev.value(QStringLiteral("receivers")).toObject();
        QJsonObject broken = receivers.value(kMac1).toObject();
        broken.insert(QStringLiteral("info"), info(QStringLiteral("P2.6"), 160, 90, 0, 3));
        receivers.insert(kMac1, broken);
        QJsonObject noRows = receiver(900, 0, QStringLiteral("P3.9"), 0.0);
        noRows.remove(QStringLiteral("info"));
        noRows.insert(QStringLiteral("info"), QJsonObject {{QStringLiteral("type"), QStringLiteral("P3.9")},
                                                          {QStringLiteral("ldmsW"), 4}});
        receivers.insert(QStringLiteral("AA:BB:CC:DD:EE:03"), noRows);
        dev.insert(QStringLiteral("receivers"), receivers);
        state.insert(QStringLiteral("dev"), dev);
        fake_.setState(state);
        QTest::ignoreMessage(QtWarningMsg, "VANTOR receiver AA:BB:CC:DD:EE:01 reports a 0x3 LDM grid; skipped");
        QTest::ignoreMessage(QtWarningMsg, "VANTOR receiver AA:BB:CC:DD:EE:03 reports a 4x0 LDM grid; skipped");
        result = vantor_->fetchLdms();
        QCOMPARE(result.code, 0);
        QCOMPARE(vantor_->tileCount(), 1u);
        QCOMPARE(vantor_->tile(1).name, kMac2);
        QCOMPARE(vantor_->ldmCount(), 12u);
        QCOMPARE(vantor_->ldm(1).tile, 1u);

        // A failed request leaves the wall as it was and publishes nothing.
        addRule(QStringLiteral("GET"), 500, QStringLiteral("boom"));
        fetched.clear();
        result = vantor_->fetchLdms();
        QCOMPARE(result.code, 1);
        QCOMPARE(result.message, QStringLiteral("HTTP error 500: boom"));
        QCOMPARE(fetched.count(), 0);
        QCOMPARE(vantor_->ldmCount(), 12u);
        QCOMPARE(vantor_->tile(1).name, kMac2);
        QCOMPARE(vantor_->ldm(12).tile, 1u);

        // No receivers at all: an empty wall, and the fetch completes.
        fake_.setState(wallState(QJsonObject {}, QJsonObject {}));
        QCOMPARE(vantor_->fetchLdms().code, 0);
        QCOMPARE(fetched.count(), 1);
        QCOMPARE(vantor_->ldmCount(), 0u);
    }

    void singleLdmGains()
    {
        fetchWall();
        QSignalSpy changed(vantor_.get(), &DisplayBase::ldmDataChanged);

        QCOMPARE(vantor_->setLdmRGB(2, 0.1, 0.2, 0.3, -1.0).code, 0);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(vantor_->ldm(2).greenGain, 0.2);
        QCOMPARE(vantor_->ldm(2).intensityGain, -1.0);

        QTest::ignoreMessage(QtDebugMsg, "*** Vantor::setRGB called with number 13 ****");
        QCOMPARE(vantor_->setRGB(13, 0.5, 0.6, 0.7).code, 0);
        QTest::ignoreMessage(QtDebugMsg, "Vantor::setRGB: #1 0.2500 0.0000 -0.1250");
        QTest::ignoreMessage(QtDebugMsg, "      --> 0.2500 0.0000 -0.1250");
        QTest::ignoreMessage(QtDebugMsg, "*** Vantor::setRGB called with number 1 ****");
        QCOMPARE(vantor_->setRGB(1, 0.25, 0.0, -0.125).code, 0);

        QJsonArray requests = log();
        QCOMPARE(requests.size(), 3);
        for (const QJsonValue& r : requests) {
            QCOMPARE(r.toObject().value(QStringLiteral("method")).toString(), QStringLiteral("PATCH"));
            QCOMPARE(r.toObject().value(QStringLiteral("target")).toString(), QStringLiteral("/api/v1/data"));
        }
        QCOMPARE(body(requests.at(0)),
                 QByteArray(R"({"dev":{"receivers":{"AA:BB:CC:DD:EE:01":{"ldms":{"10":)"
                            R"({"gains":{"b":0.3,"g":0.2,"i":-1,"r":0.1}}}}}}})"));
        QCOMPARE(body(requests.at(1)),
                 QByteArray(R"({"dev":{"receivers":{"AA:BB:CC:DD:EE:02":{"ldms":{"1":)"
                            R"({"gains":{"b":0.7,"g":0.6,"i":0,"r":0.5}}}}}}})"));

        // Numbers outside the list send nothing.
        fake_.clearLog();
        for (uint n : {0u, 25u}) {
            const ErrorType e = vantor_->setLdmRGB(n, 1, 1, 1, 0);
            QCOMPARE(e.code, 2);
            QCOMPARE(e.message, QString());
        }
        QCOMPARE(log().size(), 0);

        // A failure is returned; the model keeps the new gains, unannounced.
        addRule(QStringLiteral("PATCH"), 500, QStringLiteral("boom"));
        changed.clear();
        const ErrorType failed = vantor_->setLdmRGB(4, 0.9, 0.9, 0.9, 0.0);
        QCOMPARE(failed.code, 1);
        QCOMPARE(failed.message, QStringLiteral("HTTP error 500: boom"));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(vantor_->ldm(4).redGain, 0.9);

        // The processor kept what it accepted: a new fetch shows it.
        QCOMPARE(vantor_->fetchLdms().code, 0);
        QCOMPARE(vantor_->ldm(2).redGain, 0.1);
        QVERIFY(!vantor_->ldm(2).lit);
        QCOMPARE(vantor_->ldm(13).blueGain, 0.7);
        QCOMPARE(vantor_->ldm(4).redGain, 0.12);
    }

    void manyLdmGains_data()
    {
        QTest::addColumn<QList<uint>>("numbers");
        QTest::addColumn<QStringList>("skipped");

        QTest::newRow("grouped by receiver") << QList<uint> {1, 2, 13} << QStringList();
        QTest::newRow("receiver visited twice") << QList<uint> {1, 13, 2} << QStringList();
        QTest::newRow("entries out of range")
            << QList<uint> {0, 1, 13, 99, 2}
            << QStringList {"setLdmRGBs: no LDM #0 (count 24), entry skipped",
                            "setLdmRGBs: no LDM #99 (count 24), entry skipped"};
    }

    // One PATCH holds every listed LDM under its receiver, however the list
    // is ordered; entries out of range are skipped with a line each.
    void manyLdmGains()
    {
        QFETCH(QList<uint>, numbers);
        QFETCH(QStringList, skipped);
        fetchWall();

        QList<Macropixel> records;
        for (uint n : numbers) {
            Macropixel m;
            m.number = n;
            m.redGain = n / 10.0;
            m.greenGain = -double(n) / 100.0;
            m.blueGain = 0.5;
            m.intensityGain = n == 13 ? -1.0 : 0.0;
            records << m;
        }
        QList<Macropixel*> list;
        for (Macropixel& m : records)
            list << &m;

        for (const QString& line : skipped)
            QTest::ignoreMessage(QtDebugMsg, qPrintable(line));
        QSignalSpy changed(vantor_.get(), &DisplayBase::ldmDataChanged);
        QCOMPARE(vantor_->setLdmRGBs(list).code, 0);
        QCOMPARE(changed.count(), 1);

        const QJsonArray requests = log();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(body(requests.at(0)),
                 gainDocument({{kMac1, QStringLiteral("1"), gains(0.1, -0.01, 0.5, 0)},
                               {kMac1, QStringLiteral("10"), gains(0.2, -0.02, 0.5, 0)},
                               {kMac2, QStringLiteral("1"), gains(1.3, -0.13, 0.5, -1)}}));
        QCOMPARE(vantor_->ldm(13).redGain, 1.3);

        QCOMPARE(vantor_->fetchLdms().code, 0);
        QCOMPARE(vantor_->ldm(1).redGain, 0.1);
        QCOMPARE(vantor_->ldm(2).greenGain, -0.02);
        QVERIFY(!vantor_->ldm(13).lit);
    }

    // The lighting operations send every LDM of the model; an empty list
    // sends an empty receivers object.
    void lightingSendsAll()
    {
        fetchWall();
        QList<Macropixel*> none;
        QCOMPARE(vantor_->setLdmRGBs(none).code, 0);
        QCOMPARE(body(log().at(0)), QByteArray(R"({"dev":{"receivers":{}}})"));
        fake_.clearLog();

        vantor_->lightLitLdms(false);
        QJsonArray requests = log();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(body(requests.at(0)).count(R"("i":-1)"), 24);

        vantor_->resetLdms(true, true);
        QCOMPARE(vantor_->fetchLdms().code, 0);
        QCOMPARE(vantor_->litLdmCount(), 24u);
        QCOMPARE(vantor_->ldm(3).redGain, 0.0);

        vantor_->selectLdms(QPoint(0, 0), QPoint(160, 90));
        fake_.clearLog();
        vantor_->lightSelectedLdms();
        requests = log();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(body(requests.at(0)).count(R"("i":-1)"), 12);
        QCOMPARE(body(requests.at(0)).count(R"("i":0)"), 12);
    }

    void testPatterns_data()
    {
        QTest::addColumn<int>("pattern");
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<QByteArray>("patch");
        QTest::addColumn<QByteArray>("generate");

        const auto generate = [](QByteArray step, QByteArray position, QByteArray size) {
            return R"({"$schema":"./vantor-generate-v1.json","draw":[{"draw":[{"color":[1,1,1],"position":)"
                   + position + R"(,"size":)" + size + R"(,"type":"rect"}],"step":)" + step
                   + R"(,"type":"repeat"}]})";
        };
        const QByteArray off = R"({"dev":{"ingest":{"testPattern":{"enabled":false}}}})";
        QTest::newRow("off") << 0 << 40 << 30
                             << QByteArray(R"({"dev":{"ingest":{"testPattern":{"enabled":false,"mediaEnabled":false}}}})")
                             << QByteArray();
        QTest::newRow("white") << 1 << 0 << 0
                               << QByteArray(R"({"dev":{"ingest":{"testPattern":{"enabled":true,)"
                                             R"("mediaEnabled":false,"type":"white"}}}})")
                               << QByteArray();
        QTest::newRow("generated 40x30") << 2 << 40 << 30 << off << generate("[40,30]", "[13,10]", "[13,10]");
        QTest::newRow("generated 64x64") << 2 << 64 << 64 << off << generate("[64,64]", "[21,21]", "[21,21]");
        QTest::newRow("generated 5x2") << 2 << 5 << 2 << off << generate("[5,2]", "[2,1]", "[2,1]");
        QTest::newRow("generated 1x1") << 2 << 1 << 1 << off << generate("[1,1]", "[0,0]", "[0,0]");
        QTest::newRow("generated 0x0") << 2 << 0 << 0 << off << generate("[0,0]", "[0,0]", "[0,0]");
        QTest::newRow("unknown") << 3 << 40 << 30 << QByteArray() << QByteArray();
    }

    void testPatterns()
    {
        QFETCH(int, pattern);
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(QByteArray, patch);
        QFETCH(QByteArray, generate);

        QCOMPARE(vantor_->displayTestPattern(DisplayBase::TestPattern(pattern), w, h).code, 0);
        const QJsonArray requests = log();
        QCOMPARE(requests.size(), int(!patch.isEmpty()) + int(!generate.isEmpty()));
        if (!patch.isEmpty()) {
            QCOMPARE(requests.at(0)[QStringLiteral("method")].toString(), QStringLiteral("PATCH"));
            QCOMPARE(body(requests.at(0)), patch);
        }
        if (!generate.isEmpty()) {
            const QJsonObject post = requests.at(1).toObject();
            QCOMPARE(post.value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
            QCOMPARE(post.value(QStringLiteral("target")).toString(), QStringLiteral("/api/v1/media/generate"));
            QCOMPARE(ProcessorStandin::header(post, QStringLiteral("Content-Type")), QStringLiteral("application/json"));
            QCOMPARE(body(post), generate);
            // The processor took the document as a pattern.
            const QJsonArray accepted = fake_.control("GET", "/__generated").toArray();
            QCOMPARE(accepted.last().toObject(), QJsonDocument::fromJson(generate).object());
        }
    }

    // The generate request waits for the pattern to be off, and its failure
    // comes back.
    void testPatternFailures()
    {
        addRule(QStringLiteral("PATCH"), 500, QStringLiteral("boom"));
        ErrorType result = vantor_->displayTestPattern(DisplayBase::TestPatternGenerated, 40, 30);
        QCOMPARE(result.message, QStringLiteral("HTTP error 500: boom"));
        QCOMPARE(log().size(), 1);

        fake_.clearLog();
        addRule(QStringLiteral("POST"), 422, QStringLiteral("bad pattern"));
        result = vantor_->displayTestPattern(DisplayBase::TestPatternGenerated, 40, 30);
        QCOMPARE(result.code, 1);
        QCOMPARE(result.message, QStringLiteral("HTTP error 422: bad pattern"));
        QCOMPARE(log().size(), 2);
    }

    // The curves travel as JSON text inside the document; the display gains
    // go beside them and the model's own gains stay.
    void outputCurves()
    {
        DisplayBase::CalibrationPoint p1;
        p1.redPx = 0.1;
        p1.redPy = 0.2;
        p1.redMx = 0.3;
        p1.redMy = 0.4;
        p1.greenPx = 0.5;
        p1.bluePy = 1.0;
        DisplayBase::CalibrationPoint p2;
        p2.redPx = 0.75;
        p2.greenMy = -0.25;
        p2.blueMx = 2.0;

        QSignalSpy gainSpy(vantor_.get(), &DisplayBase::displayGainRedChanged);
        QCOMPARE(vantor_->sendCalibration({p1, p2}, 1.0, 0.95, 0.9).code, 0);
        QCOMPARE(gainSpy.count(), 0);
        QCOMPARE(vantor_->displayGainGreen(), 1.0);

        const auto quoted = [](QByteArray text) { return '"' + text.replace('"', "\\\"") + '"'; };
        const QByteArray red = R"([{"mx":0.3,"my":0.4,"px":0.1,"py":0.2},{"mx":0,"my":0,"px":0.75,"py":0}])";
        const QByteArray green = R"([{"mx":0,"my":0,"px":0.5,"py":0},{"mx":0,"my":-0.25,"px":0,"py":0}])";
        const QByteArray blue = R"([{"mx":0,"my":0,"px":0,"py":1},{"mx":2,"my":0,"px":0,"py":0}])";
        const QByteArray expected = R"({"dev":{"display":{"gains":{"b":0.9,"g":0.95,"r":1},"out":{"curves":{"b":)"
                                    + quoted(blue) + R"(,"enabled":true,"g":)" + quoted(green) + R"(,"r":)"
                                    + quoted(red) + R"(,"y":"[]"}}}}})";
        const QJsonArray requests = log();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.at(0)[QStringLiteral("method")].toString(), QStringLiteral("PATCH"));
        QCOMPARE(body(requests.at(0)), expected);

        // No points still switches the curves on, with empty texts.
        fake_.clearLog();
        QCOMPARE(vantor_->sendCalibration({}, 1, 1, 1).code, 0);
        QVERIFY(body(log().at(0)).contains(R"("b":"[]","enabled":true,"g":"[]","r":"[]","y":"[]")"));

        addRule(QStringLiteral("PATCH"), 500, QStringLiteral("boom"));
        QTest::ignoreMessage(QtDebugMsg, "sendCalibration: error HTTP error 500: boom");
        const ErrorType failed = vantor_->sendCalibration({p1}, 1, 1, 1);
        QCOMPARE(failed.code, 1);
    }

    // The correction engine's thread waits for the processor while QML reads
    // the model on the GUI thread: no operation may keep the model's lock
    // through its wait.
    void modelReadableWhileWaiting_data()
    {
        QTest::addColumn<int>("operation");
        const char* names[] = {"setLdmRGBs", "setLdmRGB", "lightSelectedLdms", "resetLdms",
                               "setRGB 0", "setDisplayGainRGB", "updateVantor", "read",
                               "fetchLdms", "sendCalibration", "displayTestPattern"};
        for (int i = 0; i < int(std::size(names)); ++i)
            QTest::newRow(names[i]) << i;
    }

    void modelReadableWhileWaiting()
    {
        QFETCH(int, operation);
        fetchWall();
        Vantor& v = *vantor_;
        Macropixel entry;
        entry.number = 2;
        entry.redGain = 0.5;
        QList<Macropixel*> entries {&entry};
        const std::function<void()> operations[] = {
            [&] { v.setLdmRGBs(entries); },
            [&] { v.setLdmRGB(2, 0.1, 0.2, 0.3, 0.0); },
            [&] { v.lightSelectedLdms(); },
            [&] { v.resetLdms(true, true); },
            [&] { v.setRGB(0, 0.3, 0.4, 0.5); },
            [&] { v.setDisplayGainRGB(0.9, 0.9, 0.9); },
            [&] { v.updateVantor(); },
            [&] { v.read(); },
            [&] { v.fetchLdms(); },
            [&] { v.sendCalibration({DisplayBase::CalibrationPoint()}, 1, 1, 1); },
            [&] { v.displayTestPattern(DisplayBase::TestPatternWhite, 0, 0); },
        };
        fake_.addRule(QJsonObject {{QStringLiteral("action"), QStringLiteral("hang")}});
        QThread* worker = QThread::create(operations[operation]);
        worker->start();
        // Its request has reached the processor, which holds the answer back.
        QVERIFY(fake_.waitForRequests(1));

        const bool free = v.modelMutex().tryLock(5000);
        double sink = 1;
        if (free) {
            v.modelMutex().unlock();
            sink = v.ldmRedGain(2) + double(v.colorStr().size()) + v.litLdmCount() + v.cct();
        }

        int released = 0; // once the stand-in holds it
        QTRY_VERIFY_WITH_TIMEOUT((released += fake_.releaseHung()) > 0, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 20000);
        worker->wait();
        delete worker;
        QVERIFY2(free, "the model's lock is held while the processor is awaited");
        QVERIFY(sink > 0);
    }
};

VELTRANO_TEST_MAIN(TestVantorWall)
#include "tst_vantor_wall.moc"
