// ctest-labels: threaded
// A template run end to end: the wall is driven by the stand-in processor
// (each LDM with its own brightness and tint, times the correction mesh last
// uploaded for it) and photographed by the simulated camera; the run uploads
// one mesh per LDM each cycle, waits for every tile to take them in, commits
// at the end and leaves the wall even.
#include "testsupport.h"

#include "processorstandin.h"
#include "processorwall.h"
#include "polledcontext.h"
#include "simulatedcamerasdk.h"
#include "vantor.h"
#include "veltranor.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <cmath>
#include <map>
#include <memory>
#include <sstream>

namespace {

constexpr double kTarget = 140.0;
constexpr float kAmbient = 3.0f;

// Every LDM a little brighter than the target, each with its own tint (blue,
// green, red), its right half brighter and its lower half darker.
cv::Vec3f level(const QString& mac, int key, float u, float v)
{
    const int n = key + 4 * (mac.endsWith(QLatin1Char('1')) ? 1 : 0);
    const float shade = (u < 0.5f ? 1.0f : 1.06f) * (v < 0.5f ? 1.0f : 0.96f);
    return cv::Vec3f(float(150 + 6 * (n % 5)), float(158 + 4 * n), float(188 - 5 * n)) * shade;
}

} // namespace

class TestTemplateRun : public QObject
{
    Q_OBJECT

    QTemporaryDir pictures_;
    std::unique_ptr<testsupport::PolledContext> net_;

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("TMPDIR", QFile::encodeName(pictures_.path()));
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        QSettings().clear();
        net_ = std::make_unique<testsupport::PolledContext>();
    }
    void cleanupTestCase() { net_.reset(); }

    void templateRunThroughCamera()
    {
        ProcessorStandin processor;
        QVERIFY2(processor.start(), qPrintable(processor.errorString()));
        // Two receivers of 120 x 80 pixels side by side, each 2 x 2 LDMs of 60 x 40.
        const QJsonObject state = testsupport::meshWallState(2, 120, 80, 2, 2);
        processor.setState(state);
        auto sdk = std::dynamic_pointer_cast<SimulatedCameraSdk>(camerasdk::CameraSdk::platform());
        QVERIFY(sdk);
        wallphoto::Shot shot;
        shot.size = cv::Size(1200, 800);
        shot.corners = {cv::Point2f(100, 240), cv::Point2f(1100, 255), cv::Point2f(1090, 585), cv::Point2f(110, 570)};
        shot.ambient = cv::Vec3f(kAmbient, kAmbient, kAmbient);
        shot.noise = 0.5f;
        shot.supersample = 2;
        sdk->setWall([&processor, state] { return testsupport::processorWall(state, processor.uploads(), level); },
                     shot);
        const auto forgetWall = qScopeGuard([&sdk] { sdk->setWall({}); });

        Veltranor v(net_->io());
        v.idleTimer().stop();
        v.setCameraType(0);
        v.vantor()->setAddress(QStringLiteral("127.0.0.1:%1").arg(processor.port()));
        QCOMPARE(v.display(), v.vantor());
        v.setMode(Calibrator::ModeTemplate); // fetches the wall
        QCOMPARE(v.vantor()->ldmCount(), 8u);
        v.setTileMeshWidth(4); // 2 x 2 cells on each LDM
        v.setTileMeshHeight(4);
        v.setBtCompliantIterations(3);
        v.setBtMinIterations(6);
        v.setBtMaxIterations(12);
        v.setBalanceTargetRed(kTarget);
        v.setBalanceTargetGreen(kTarget);
        v.setBalanceTargetBlue(kTarget);
        v.setReadDelay(0);
        QVERIFY(QTest::qWaitFor([&] {
            return sdk->property(camerasdk::StillImageStoreDestination)->GetCurrentValue() == 1
                   && v.imageSource()->cameraReady();
        }, 10000));
        processor.clearLog();

        v.setRunning(true);
        QTRY_VERIFY_WITH_TIMEOUT(!v.running(), 240000);
        QCOMPARE(v.statusString(), QStringLiteral("Uniformity completed."));
        QCOMPARE(v.status(), 1);

        // Per tile: rounds of mesh posts, each waited for until the tile
        // reported busy and then idle, and one commit at the end.
        std::map<QString, QString> sequence;
        for (const QJsonValue& value : processor.requestLog()) {
            const QStringList path = value.toObject().value(QStringLiteral("path")).toString().split(QLatin1Char('/'));
            if (path.size() < 6 || path.at(3) != QStringLiteral("tile"))
                continue;
            const QString& last = path.last();
            sequence[path.at(4)] += last == QStringLiteral("cal")       ? QLatin1Char('P')
                                    : last == QStringLiteral("calBusy") ? QLatin1Char('B')
                                    : last == QStringLiteral("calSave") ? QLatin1Char('S')
                                                                        : QLatin1Char('?');
        }
        QCOMPARE(sequence.size(), size_t(2));
        static const QRegularExpression rounds(QStringLiteral("^(P{1,4}B{2,})+S$"));
        for (const auto& [tile, letters] : sequence)
            QVERIFY2(rounds.match(letters).hasMatch(), qPrintable(tile + QLatin1Char(' ') + letters));

        // Every LDM's last mesh holds its 2 x 2 cells, each in its place, and
        // evens the wall out.
        const QJsonObject uploads = processor.uploads();
        int meshes = 0;
        for (auto tile = uploads.begin(); tile != uploads.end(); ++tile) {
            const QJsonObject ldms = tile.value().toObject();
            for (auto ldm = ldms.begin(); ldm != ldms.end(); ++ldm, ++meshes) {
                std::istringstream in(QByteArray::fromBase64(ldm.value().toString().toLatin1()).toStdString());
                const TessCalFile::Mesh mesh = TessCalFile::Handler().readStreamMesh(in);
                QCOMPARE(mesh.planes.size(), size_t(3));
                QCOMPARE(mesh.planes[0].size(), size_t(4));
                QCOMPARE(mesh.planes[0][0].size(), size_t(4));
                for (size_t c = 0; c < 3; ++c)
                    for (size_t row = 1; row <= 2; ++row)
                        for (size_t column = 1; column <= 2; ++column) {
                            const cv::Vec3f base =
                                level(tile.key(), ldm.key().toInt(), float(column) * 0.5f - 0.25f, float(row) * 0.5f - 0.25f);
                            const double seen = base[2 - int(c)] * mesh.planes[c][row][column] + kAmbient;
                            QVERIFY2(std::abs(seen - kTarget) <= kTarget * 0.02,
                                     qPrintable(QStringLiteral("%1/%2 plane %3: %4")
                                                    .arg(tile.key(), ldm.key())
                                                    .arg(c)
                                                    .arg(seen)));
                        }
            }
        }
        QCOMPARE(meshes, 8);
    }
};

VELTRANO_TEST_MAIN(TestTemplateRun)
#include "tst_templaterun.moc"
