// ctest-labels: threaded
// The processor client's mesh upload and commit against the stand-in
// processor: every uploaded body is read back with the library's reader.
#include "testsupport.h"

#include "messagecapture.h"
#include "polledcontext.h"
#include "processorstandin.h"

#include "vantor.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QThread>

#include <cmath>
#include <memory>
#include <tuple>

using testsupport::MessageCapture;
using testsupport::PolledContext;

namespace {

const QString kMac1 = QStringLiteral("AA:BB:CC:DD:EE:01");
const QString kMac2 = QStringLiteral("AA:BB:CC:DD:EE:02");

QJsonObject parse(const QString& text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// Two receivers of 160 x 90 pixels side by side, each a 4 x 3 grid of LDMs of
// 40 x 30 pixels with keys 1 to 12; red gains base + key / 100.
QJsonObject wall()
{
    QJsonObject receivers;
    for (const auto& [mac, x, base] : {std::tuple {kMac1, 0, 0.0}, std::tuple {kMac2, 160, 0.995}}) {
        QJsonObject ldms;
        for (int k = 1; k <= 12; ++k)
            ldms.insert(QString::number(k), parse(QStringLiteral(R"({"gains":{"r":%1,"g":0,"b":-0.5,"i":0}})")
                                                      .arg(base + k / 100.0)));
        QJsonObject receiver = parse(QStringLiteral(R"({"x":%1,"y":0,"info":{"type":"P2.6","pixelsW":160,)"
                                                    R"("pixelsH":90,"ldmsW":4,"ldmsH":3}})")
                                         .arg(x));
        receiver.insert(QStringLiteral("ldms"), ldms);
        receivers.insert(mac, receiver);
    }
    QJsonObject state = parse(QStringLiteral(R"({"sys":{"fixtures":{"P2.6":{"cal":{"uniformity":{"mesh":true}}}}}})"));
    state.insert(QStringLiteral("dev"), QJsonObject {{QStringLiteral("receivers"), receivers}});
    return state;
}

// The value the processor reads back for a mesh value (16-bit, 1.0 = 32768).
float stored(double value)
{
    return float(std::trunc(value * 32768.0) / 32768.0);
}

// The uploaded meshes, by "MAC/key", from the processor's log.
std::map<QString, TessCalFile::Mesh> uploadedMeshes(const QJsonArray& log)
{
    std::map<QString, TessCalFile::Mesh> meshes;
    for (const QJsonValue& value : log) {
        const QJsonObject record = value.toObject();
        const QStringList path = record.value(QStringLiteral("path")).toString().split(QLatin1Char('/'));
        if (path.size() == 7 && path.at(6) == QStringLiteral("cal"))
            meshes[path.at(4) + QLatin1Char('/') + path.at(5)] = ProcessorStandin::uploadedMesh(record);
    }
    return meshes;
}

QStringList targets(const QJsonArray& log)
{
    QStringList result;
    for (const QJsonValue& value : log)
        result.append(value.toObject().value(QStringLiteral("method")).toString() + QLatin1Char(' ')
                      + value.toObject().value(QStringLiteral("target")).toString());
    return result;
}

} // namespace

class TestMeshUpload : public QObject
{
    Q_OBJECT

    ProcessorStandin fake_;
    std::unique_ptr<PolledContext> net_;
    std::unique_ptr<Vantor> vantor_;
    QList<Macropixel> points_; // storage of the point lists handed over

    // The display's LDM with that receiver and key.
    Macropixel ldmOf(const QString& mac, int key)
    {
        for (uint n = 1; n <= vantor_->ldmCount(); ++n)
            if (vantor_->ldm(n).name == mac && vantor_->ldm(n).index == key)
                return vantor_->ldm(n);
        return {};
    }

    // A mesh point of the LDM at cell (column, row) of a grid of cells of that size.
    Macropixel* point(const Macropixel& ldm, float cellWidth, float cellHeight, int column, int row,
                      double r, double g, double b)
    {
        Macropixel p;
        p.x = ldm.x + float(column) * cellWidth;
        p.y = ldm.y + float(row) * cellHeight;
        p.tile = ldm.tile;
        p.index = int(ldm.number);
        p.redGain = r;
        p.greenGain = g;
        p.blueGain = b;
        points_.append(p);
        return &points_.last();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        QSettings().clear();
        QVERIFY2(fake_.start(), qPrintable(fake_.errorString()));
        net_ = std::make_unique<PolledContext>();
        vantor_ = std::make_unique<Vantor>(net_->io());
        vantor_->setAddress(QStringLiteral("127.0.0.1:%1").arg(fake_.port()));
        fake_.setState(wall());
        QCOMPARE(vantor_->fetchLdms().code, 0);
        QCOMPARE(vantor_->ldmCount(), 24u);
        points_.reserve(100);
    }

    void init()
    {
        fake_.clearRules();
        fake_.clearCalBusy();
        fake_.clearLog();
        points_.clear();
    }

    void cleanupTestCase()
    {
        vantor_.reset();
        net_.reset();
        fake_.stop();
    }

    // Points become one mesh per LDM: their cells, the border, the clamped
    // values, the frame and the trailing value; posted per tile in key text
    // order under the LDM's key; points off the grid are left out.
    void meshesPerLdm()
    {
        const Macropixel a1 = ldmOf(kMac1, 1), a2 = ldmOf(kMac1, 2), a10 = ldmOf(kMac1, 10), b4 = ldmOf(kMac2, 4);
        QList<Macropixel*> points {
            // A 2 x 2 grid (cells of 20 x 15) on a1, given out of order.
            point(a1, 20, 15, 1, 1, 0.25, 0.0, 0.0),
            point(a1, 20, 15, 0, 0, 0.999, -1.0, 0.5),
            point(a1, 20, 15, 1, 0, -1.5, 5.0, 0.0),
            point(a1, 20, 15, 0, 1, -0.5, 0.1, -0.25),
            // One point each.
            point(a10, 40, 30, 0, 0, 0.1, 0.2, 0.3),
            point(a2, 40, 30, 0, 0, 0.0, 0.0, 0.0),
            // b4: a 2 x 1 grid whose second column is off the LDM.
            point(b4, 20, 30, 0, 0, 0.5, 0.5, 0.5),
            point(b4, 500, 30, 1, 0, 0.7, 0.7, 0.7),
        };
        MessageCapture messages;
        QTest::ignoreMessage(QtDebugMsg, "setMeshRGBs: 4 LDMs");
        const ErrorType result = vantor_->setMeshRGBs(points, 0.05f);
        QCOMPARE(result.code, 0);
        QCOMPARE(messages.count(QStringLiteral("setMeshRGBs: 1 mesh points outside their LDM's cell grid skipped")), 1);

        const QJsonArray log = fake_.requestLog();
        // The tiles upload side by side: the order holds within each tile.
        const QStringList posts = targets(log).filter(QStringLiteral("/cal?"));
        QCOMPARE(posts.filter(kMac1), QStringList({"POST /api/v1/tile/AA:BB:CC:DD:EE:01/1/cal?raw&continuation=true",
                                                   "POST /api/v1/tile/AA:BB:CC:DD:EE:01/10/cal?raw&continuation=true",
                                                   "POST /api/v1/tile/AA:BB:CC:DD:EE:01/2/cal?raw&continuation=false"}));
        QCOMPARE(posts.filter(kMac2), QStringList({"POST /api/v1/tile/AA:BB:CC:DD:EE:02/4/cal?raw&continuation=false"}));
        QCOMPARE(targets(log).filter(QStringLiteral("/calBusy")).size(), 4);

        const auto meshes = uploadedMeshes(log);
        QCOMPARE(meshes.size(), size_t(4));
        const TessCalFile::Mesh& m = meshes.at(kMac1 + QStringLiteral("/1"));
        QCOMPARE(m.name, std::string("Veltrano continuous"));
        QCOMPARE(m.planes.size(), size_t(3));
        QCOMPARE(m.geometry, (std::array<float, 4> {0.5f, 0.5f, 2.0f, 2.0f}));
        QCOMPARE(m.value, 0.05f);
        // Interior cells [row][column], then the border repeating its neighbours.
        const float red[4][4] = {{1.999f, 1.999f, 0.0f, 0.0f},
                                 {1.999f, 1.999f, 0.0f, 0.0f},
                                 {0.5f, 0.5f, 1.25f, 1.25f},
                                 {0.5f, 0.5f, 1.25f, 1.25f}};
        const float green[4][4] = {{0.0f, 0.0f, 1.999f, 1.999f},
                                   {0.0f, 0.0f, 1.999f, 1.999f},
                                   {1.1f, 1.1f, 1.0f, 1.0f},
                                   {1.1f, 1.1f, 1.0f, 1.0f}};
        for (size_t r = 0; r < 4; ++r)
            for (size_t c = 0; c < 4; ++c) {
                QCOMPARE(m.planes[0][r][c], stored(red[r][c]));
                QCOMPARE(m.planes[1][r][c], stored(green[r][c]));
            }
        QCOMPARE(m.planes[2][2][1], stored(0.75));

        // One point: nine equal values per plane.
        const TessCalFile::Mesh& single = meshes.at(kMac1 + QStringLiteral("/10"));
        QCOMPARE(single.geometry, (std::array<float, 4> {0.5f, 0.5f, 1.0f, 1.0f}));
        for (size_t plane = 0; plane < 3; ++plane)
            for (const auto& row : single.planes[plane])
                QCOMPARE(row, std::vector<float>(3, stored(1.1 + 0.1 * double(plane))));

        // The off-grid point has no cell; its column keeps 0.
        const TessCalFile::Mesh& partial = meshes.at(kMac2 + QStringLiteral("/4"));
        QCOMPARE(partial.planes[0][1], (std::vector<float> {stored(1.5), stored(1.5), 0.0f, 0.0f}));
    }

    // Each LDM written flat at its own gains, then one commit per tile in
    // name order; a failure stops there with its text.
    void resetMesh_data()
    {
        QTest::addColumn<QJsonObject>("rule");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("commits");

        const QString save1 = QStringLiteral("POST /api/v1/tile/AA:BB:CC:DD:EE:01/calSave?type=user");
        const QString save2 = QStringLiteral("POST /api/v1/tile/AA:BB:CC:DD:EE:02/calSave?type=user");
        QTest::newRow("success") << QJsonObject() << 0 << QString() << QStringList {save1, save2};
        QTest::newRow("upload refused")
            << QJsonObject {{QStringLiteral("path"), QStringLiteral("/api/v1/tile/AA:BB:CC:DD:EE:02/11/")},
                            {QStringLiteral("status"), 500}}
            << 2 << QStringLiteral("UploadLdms: tile AA:BB:CC:DD:EE:02, ldm 11, http status 500") << QStringList();
        QTest::newRow("commit refused")
            << QJsonObject {{QStringLiteral("path"), QStringLiteral("/api/v1/tile/AA:BB:CC:DD:EE:01/calSave")},
                            {QStringLiteral("status"), 507},
                            {QStringLiteral("body"), QStringLiteral("full")}}
            << 1 << QStringLiteral("HTTP error 507: full") << QStringList {save1};
    }

    void resetMesh()
    {
        QFETCH(QJsonObject, rule);
        QFETCH(int, code);
        QFETCH(QString, message);
        QFETCH(QStringList, commits);
        if (!rule.isEmpty())
            fake_.addRule(rule);

        MessageCapture messages;
        const ErrorType result = vantor_->resetMesh();
        QCOMPARE(result.code, code);
        QCOMPARE(result.message, message);
        const QJsonArray log = fake_.requestLog();
        QCOMPARE(targets(log).filter(QStringLiteral("/calSave")), commits);
        if (code == 1)
            QCOMPARE(messages.count(QStringLiteral("\"commitMeshRGBs: tile AA:BB:CC:DD:EE:01, network error "
                                                   "HTTP error 507: full\"")),
                     1);
        if (code != 0)
            return;

        const auto meshes = uploadedMeshes(log);
        QCOMPARE(meshes.size(), size_t(24));
        for (uint n = 1; n <= 24; ++n) {
            const Macropixel ldm = vantor_->ldm(n);
            const TessCalFile::Mesh& mesh = meshes.at(ldm.name + QLatin1Char('/') + QString::number(ldm.index));
            const double gains[3] = {ldm.redGain, ldm.greenGain, ldm.blueGain};
            for (size_t plane = 0; plane < 3; ++plane)
                for (const auto& row : mesh.planes[plane])
                    QCOMPARE(row, std::vector<float>(3, stored(std::min(gains[plane] + 1.0, 1.999))));
        }
    }

    // Calls that must send nothing, and one that sends nothing at all.
    void nothingSent()
    {
        QList<Macropixel*> none;
        QCOMPARE(vantor_->setMeshRGBs(none, 1.0f).code, 0);
        QCOMPARE(vantor_->commitMeshRGBs(none).code, 0);

        // A mesh that the library refuses to write (a gain that is not a
        // number) is an error, and no LDM of the call is uploaded.
        const Macropixel a1 = ldmOf(kMac1, 1);
        QList<Macropixel*> points {point(a1, 40, 30, 0, 0, 0.1, 0.1, 0.1),
                                   point(ldmOf(kMac1, 5), 40, 30, 0, 0, std::nan(""), 0.0, 0.0)};
        const ErrorType refused = vantor_->setMeshRGBs(points, 1.0f);
        QCOMPARE(refused.code, 2);
        QCOMPARE(refused.message, QStringLiteral("setMeshRGBs: the mesh of tile AA:BB:CC:DD:EE:01, LDM 5 could not be written"));

        Vantor unaddressed(net_->io());
        unaddressed.setAddress(QString());
        const ErrorType noAddress = unaddressed.setMeshRGBs(points, 1.0f);
        QCOMPARE(noAddress.code, 2);
        QCOMPARE(noAddress.message, QStringLiteral("No network address"));
        QCOMPARE(fake_.requestLog().size(), 0);
    }

    // An upload from a worker thread, as the correction engine makes it,
    // while the main thread polls the network too; the status poll pauses
    // (a second) between its requests.
    void uploadFromWorkerThread()
    {
        fake_.queueCalBusy(kMac2, QJsonArray {"idle", "busy", "idle"});
        const Macropixel b7 = ldmOf(kMac2, 7);
        QList<Macropixel*> points {point(b7, 40, 30, 0, 0, 0.2, 0.2, 0.2)};
        ErrorType result(1, QStringLiteral("not run"));
        std::unique_ptr<QThread> worker(QThread::create([&] { result = vantor_->setMeshRGBs(points, 1.0f); }));
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 20000);
        QCOMPARE(result.code, 0);
        QCOMPARE(targets(fake_.requestLog()).filter(QStringLiteral("/calBusy")).size(), 3);
    }
};

VELTRANO_TEST_MAIN(TestMeshUpload)
#include "tst_meshupload.moc"
