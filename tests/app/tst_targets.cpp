// ctest-labels: threaded
// Choosing the balance target LDM (range check and the camera's exposure
// loop), the checkerboard mesh test pattern as the stand-in processor
// receives it, and the mesh registration through the simulated camera
// photographing a simulated wall.
#include "griddisplay.h"
#include "messagecapture.h"
#include "polledcontext.h"
#include "processorstandin.h"
#include "simulatedcamerasdk.h"
#include "testsupport.h"
#include "vantor.h"
#include "veltranor.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>
#include <vector>

using testsupport::MessageCapture;
using testsupport::PolledContext;

namespace {

QJsonObject parse(const QString& text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// Two receivers of 160 x 90 pixels side by side, each 4 x 3 LDMs of 40 x 30.
QJsonObject processorWall()
{
    QJsonObject receivers;
    for (int r = 0; r < 2; ++r) {
        QJsonObject ldms;
        for (int k = 1; k <= 12; ++k)
            ldms.insert(QString::number(k), parse(QStringLiteral(R"({"gains":{"r":0,"g":0,"b":0,"i":0}})")));
        QJsonObject receiver = parse(QStringLiteral(R"({"x":%1,"y":0,"info":{"type":"P2.6","pixelsW":160,)"
                                                    R"("pixelsH":90,"ldmsW":4,"ldmsH":3}})")
                                         .arg(160 * r));
        receiver.insert(QStringLiteral("ldms"), ldms);
        receivers.insert(QStringLiteral("AA:BB:CC:DD:EE:0%1").arg(r + 1), receiver);
    }
    QJsonObject state = parse(QStringLiteral(R"({"sys":{"fixtures":{"P2.6":{"cal":{"uniformity":{"mesh":true}}}}}})"));
    state.insert(QStringLiteral("dev"), QJsonObject {{QStringLiteral("receivers"), receivers}});
    return state;
}

} // namespace

class TestTargets : public QObject
{
    Q_OBJECT

    QTemporaryDir pictures_;
    std::unique_ptr<PolledContext> net_;

    std::unique_ptr<Veltranor> make(DisplayBase* display, bool dummyCamera)
    {
        auto v = std::make_unique<Veltranor>(net_->io());
        v->idleTimer().stop();
        if (display)
            v->setDisplay(display);
        v->setCameraType(dummyCamera ? 1 : 0);
        return v;
    }

    // The camera controller of `v`, once its simulated camera is connected
    // and configured.
    static bool cameraReady(Veltranor& v)
    {
        auto sdk = std::dynamic_pointer_cast<SimulatedCameraSdk>(camerasdk::CameraSdk::platform());
        return sdk && QTest::qWaitFor([&] {
                   return sdk->property(camerasdk::StillImageStoreDestination)->GetCurrentValue() == 1
                          && v.imageSource()->cameraReady();
               }, 10000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("TMPDIR", QFile::encodeName(pictures_.path()));
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        net_ = std::make_unique<PolledContext>();
    }

    void init() { QSettings().clear(); }
    void cleanupTestCase() { net_.reset(); }

    void targetRange_data()
    {
        QTest::addColumn<QList<double>>("observed");
        QTest::addColumn<QString>("status");
        QTest::newRow("lowest usable") << QList<double> {60.9, 160.5, 60.0} << "Using target LDM’s RGB 60, 160, 60";
        QTest::newRow("highest usable") << QList<double> {235.9, 190.9, 235.0} << "Using target LDM’s RGB 235, 190, 235";
        QTest::newRow("red too dark") << QList<double> {59.9, 170.0, 100.0} << "Target LDM too dark";
        QTest::newRow("green too bright") << QList<double> {100.0, 191.0, 100.0} << "Target LDM too bright";
    }

    // The target LDM's colour becomes the balance target only inside the
    // usable range; otherwise the operator is told what to change. Either
    // way the measurement ends and leaves nothing behind.
    void targetRange()
    {
        QFETCH(QList<double>, observed);
        QFETCH(QString, status);
        GridDisplay display;
        auto v = make(&display, true);
        connect(&display, &DisplayBase::needFakeLdmRGBsChanged, this,
                [&] { display.setLdmRGBObserved(3, observed[0], observed[1], observed[2]); });
        QSignalSpy messages(v.get(), &Veltranor::showMessageBox);
        v->chooseTargetLdm(3);

        QCOMPARE(v->statusString(), status);
        QVERIFY(!v->running());
        QVERIFY(v->observedLdms().isEmpty());
        const bool usable = status.startsWith(QStringLiteral("Using"));
        QCOMPARE(v->balanceTargetGreen(), usable ? observed[1] : 0.0);
        QCOMPARE(v->targetTime().isEmpty(), !usable);
        QCOMPARE(messages.count(), usable ? 0 : 1);
        if (status == QStringLiteral("Target LDM too dark")) {
            QCOMPARE(messages.at(0).at(0).toString(), status);
            QCOMPARE(messages.at(0).at(1).toString(),
                     QStringLiteral("This LDM's RGB values are 59, 170, 100. Target RGB values<br>must be between 60, "
                                    "160, 60 and 235, 190, 235.<br><br>Increase camera’s exposure or VANTOR’s "
                                    "brightness.<br>Aim for an exposure between middle gray and 75% peak white,<br>or "
                                    "a reading of +0.3 to +0.7 on the camera’s exposure meter."));
        }
    }

    void exposureClicks_data()
    {
        QTest::addColumn<float>("green");
        QTest::addColumn<QString>("line");
        QTest::newRow("on target") << 175.0f << "******* +0 clicks: green is 175  (target 175, diff +0) *******";
        QTest::newRow("1.5 clicks dark") << 145.0f << "******* +2 clicks: green is 145  (target 175, diff +30) *******";
        QTest::newRow("1.5 clicks bright") << 205.0f << "******* -2 clicks: green is 205  (target 175, diff -30) *******";
    }

    // With the camera, the target's green asks for exposure clicks, half a
    // click rounding away from zero. The test answers the grabs itself: the
    // first photo with the row's green, any later one (after the camera
    // changed its exposure) on target.
    void exposureClicks()
    {
        QFETCH(float, green);
        QFETCH(QString, line);
        GridDisplay display;
        auto v = make(&display, false);
        QVERIFY(cameraReady(*v));
        QObject::disconnect(v.get(), &Veltranor::grabImageData, v->background(), &Background::grabImageData);
        std::vector<cv::Mat> images(8);
        QList<cv::Mat*> averages;
        for (cv::Mat& image : images)
            averages.append(&image);
        int answered = 0;
        connect(v.get(), &Veltranor::grabImageData, this, [&] {
            const float g = answered++ == 0 ? green : 175.0f;
            for (cv::Mat& image : images)
                image = cv::Mat(1, 1, CV_32FC3, cv::Scalar(100, g, 100));
            QMetaObject::invokeMethod(this, [&] { v->grabImageDataDone(true, &averages); }, Qt::QueuedConnection);
        });
        MessageCapture log;
        v->chooseTargetLdm(1);
        QTRY_VERIFY_WITH_TIMEOUT(!v->running(), 30000);
        QCOMPARE(log.count(line), 1);
    }

    // Red and blue switch between off and neutral from cell to cell of the
    // whole wall; every LDM gets its mesh.
    void checkerboard()
    {
        ProcessorStandin processor;
        QVERIFY2(processor.start(), qPrintable(processor.errorString()));
        processor.setState(processorWall());
        auto v = make(nullptr, true);
        v->vantor()->setAddress(QStringLiteral("127.0.0.1:%1").arg(processor.port()));
        QCOMPARE(v->vantor()->fetchLdms().code, 0);
        v->setTileMeshWidth(8);
        v->setTileMeshHeight(6);
        processor.clearLog();
        v->setMeshTestPattern();

        int meshes = 0;
        for (const QJsonValue& value : processor.requestLog()) {
            const QJsonObject record = value.toObject();
            if (!record.value(QStringLiteral("path")).toString().endsWith(QStringLiteral("/cal")))
                continue;
            ++meshes;
            const TessCalFile::Mesh mesh = ProcessorStandin::uploadedMesh(record);
            QCOMPARE(mesh.value, 0.05f);
            QCOMPARE(mesh.planes.size(), size_t(3));
            // Each LDM of 40 x 30 holds 2 x 2 cells of 20 x 15, starting on
            // an even cell: off, neutral / neutral, off.
            for (int r = 1; r <= 2; ++r)
                for (int c = 1; c <= 2; ++c) {
                    const float expected = (r + c) % 2 ? 1.0f : 0.0f;
                    QCOMPARE(mesh.planes[0][size_t(r)][size_t(c)], expected);
                    QCOMPARE(mesh.planes[1][size_t(r)][size_t(c)], 1.0f);
                    QCOMPARE(mesh.planes[2][size_t(r)][size_t(c)], expected);
                }
        }
        QCOMPARE(meshes, 24);
    }

    void registration_data()
    {
        QTest::addColumn<bool>("dummyCamera");
        QTest::addColumn<bool>("coarse");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QList<int>>("patterns");
        QTest::newRow("rendered grid") << false << false << "Cell locations acquired" << QList<int> {1, 2, 0};
        QTest::newRow("grid of half the cells") << false << true << "Incorrect cell locations" << QList<int> {1, 2};
        QTest::newRow("dummy camera") << true << false << "Failed to capture image" << QList<int> {1, 0};
    }

    // White finds the wall, the generated grid its cells; a grid of the
    // wrong size is refused and stays on the wall for the operator to see.
    void registration()
    {
        QFETCH(bool, dummyCamera);
        QFETCH(bool, coarse);
        QFETCH(QString, status);
        QFETCH(QList<int>, patterns);
        GridDisplay display;
        display.coarsePattern = coarse;
        auto sdk = std::dynamic_pointer_cast<SimulatedCameraSdk>(camerasdk::CameraSdk::platform());
        QVERIFY(sdk);
        wallphoto::Shot shot;
        shot.size = cv::Size(1200, 800);
        shot.corners = {cv::Point2f(130, 150), cv::Point2f(1075, 165), cv::Point2f(1060, 655),
                        cv::Point2f(145, 640)};
        shot.ambient = cv::Vec3f(3, 3, 3);
        shot.supersample = 2;
        sdk->setWall([&display] { return display.wallImage(); }, shot);
        auto v = make(&display, dummyCamera);
        QVERIFY(dummyCamera || cameraReady(*v));
        v->setTileMeshWidth(4);
        v->setTileMeshHeight(4);
        v->setReadDelay(500);

        v->runMeshRegistration();
        QTRY_VERIFY_WITH_TIMEOUT(!v->running(), 90000);
        sdk->setWall({});
        QCOMPARE(v->statusString(), status);
        QCOMPARE(v->status(), status == QStringLiteral("Cell locations acquired") ? 1 : -1);
        QCOMPARE(display.patterns, patterns);
        QCOMPARE(v->tileGrader()->hasMeshLocations(), patterns.size() == 3);
        QCOMPARE(v->tileGrader()->reuseScreenContour(), !dummyCamera);
    }
};

VELTRANO_TEST_MAIN(TestTargets)
#include "tst_targets.moc"
