// The shell's side of uniformity runs: the adjusters and records it builds,
// its answers to observation requests (the test often takes the grab
// worker's place and answers with averages of known colours), the target LDM
// with the exposure loop, the checkerboard mesh as the stand-in processor
// receives it, and the mesh registration through the simulated camera.
#include "messagecapture.h"
#include "polledcontext.h"
#include "processorstandin.h"
#include "processorwall.h"
#include "simulatedcamerasdk.h"
#include "simulateddisplay.h"
#include "testsupport.h"
#include "vantor.h"
#include "veltranor.h"
#include "wallphoto.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QScopeGuard>
#include <QSignalSpy>

#include <opencv2/imgproc.hpp>

#include <atomic>
#include <memory>
#include <vector>

using testsupport::MessageCapture;

// 2 x 1 tiles of 2 x 2 LDMs of 80 x 60 from (100, 40) (`empty`: none). It
// keeps the test patterns asked for and draws what the camera sees (any
// thread): white, or the generated pattern as a square in each step cell.
class GridDisplay : public SimulatedDisplay
{
    Q_OBJECT
public:
    explicit GridDisplay(bool empty = false) : empty_(empty) { fetchLdms(); }

    ErrorType fetchLdms() override
    {
        {
            std::lock_guard lock(modelMutex_);
            ldmList.clear();
            tileList.clear();
            for (int t = 0; t < (empty_ ? 0 : 2); ++t) {
                Tile tile;
                tile.name = QStringLiteral("AA:00:00:00:00:0%1").arg(t);
                tile.x = float(100 + 160 * t);
                tile.y = 40;
                tile.width = 160;
                tile.height = 120;
                tile.ldmsWide = tile.ldmsHigh = 2;
                addTile(tile);
                for (int k = 0; k < 4; ++k) {
                    Macropixel m;
                    m.name = tile.name;
                    m.x = tile.x + float(80 * (k % 2));
                    m.y = tile.y + float(60 * (k / 2));
                    m.width = 80;
                    m.height = 60;
                    m.index = k + 1;
                    m.tile = uint(t + 1);
                    addLdm(m);
                }
            }
        }
        fetchLdmsDone();
        return {};
    }

    ErrorType displayTestPattern(DisplayBase::TestPattern pattern, int x, int y) override
    {
        patterns.append(int(pattern));
        stepX_ = x * (coarse ? 2 : 1);
        stepY_ = y * (coarse ? 2 : 1);
        pattern_ = int(pattern);
        return {};
    }

    cv::Mat wallImage()
    {
        cv::Mat wall(cv::Size(maxX() - minX(), maxY() - minY()), CV_32FC3, cv::Scalar::all(pattern_ == 1 ? 230 : 0));
        const cv::Size s(stepX_, stepY_);
        for (int y = 0; pattern_ == 2 && y + s.height <= wall.rows; y += s.height)
            for (int x = 0; x + s.width <= wall.cols; x += s.width)
                if (!ragged || x != 2 * s.width || y != s.height)
                    cv::rectangle(wall, cv::Rect(x + s.width / 4, y + s.height / 4, s.width / 2, s.height / 2),
                                  cv::Scalar::all(230), cv::FILLED);
        return wall;
    }

    QList<Macropixel>& ldms() { return ldmList; }
    QList<int> patterns;
    std::atomic<bool> coarse {false}; // draws the generated pattern with twice the steps
    std::atomic<bool> ragged {false}; // leaves a square out of the generated pattern's second row

private:
    bool empty_;
    std::atomic<int> pattern_ {0};
    std::atomic<int> stepX_ {0}, stepY_ {0};
};

namespace {

// Sections of rows x columns pixels; pixel (r, c) of section s is blue s,
// green r, red 10 c + 100 s.
struct Averages
{
    std::vector<cv::Mat> images;
    QList<cv::Mat*> list;
    Averages(int sections, int rows, int columns, float green = -1)
    {
        images.reserve(size_t(sections));
        for (int s = 0; s < sections; ++s) {
            images.emplace_back(rows, columns, CV_32FC3);
            for (int r = 0; r < rows; ++r)
                for (int c = 0; c < columns; ++c)
                    images.back().at<cv::Vec3f>(r, c) =
                        green < 0 ? cv::Vec3f(float(s), float(r), float(10 * c + 100 * s)) : cv::Vec3f(100, green, 100);
            list.append(&images.back());
        }
    }
};

} // namespace

class TestUniformityShell : public QObject
{
    Q_OBJECT

    QTemporaryDir pictures_;
    std::unique_ptr<testsupport::PolledContext> net_;

    // The central object on `display`; with `answerGrabs` the test answers grabs.
    std::unique_ptr<Veltranor> make(DisplayBase* display, bool dummyCamera, bool answerGrabs = true)
    {
        auto v = std::make_unique<Veltranor>(net_->io());
        v->idleTimer().stop();
        if (display)
            v->setDisplay(display);
        v->setCameraType(dummyCamera ? 1 : 0);
        if (answerGrabs)
            QObject::disconnect(v.get(), &Veltranor::grabImageData, v->background(), &Background::grabImageData);
        return v;
    }

    static bool cameraReady(Veltranor& v)
    {
        auto sdk = std::dynamic_pointer_cast<SimulatedCameraSdk>(camerasdk::CameraSdk::platform());
        return QTest::qWaitFor([&] {
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
        net_ = std::make_unique<testsupport::PolledContext>();
    }
    void init() { QSettings().clear(); }
    void cleanupTestCase() { net_.reset(); }

    // Balance: one adjuster per adjustable LDM, only the first logging.
    void balancers()
    {
        GridDisplay display;
        auto v = make(&display, true);
        display.ldms()[2].selected = false;
        display.adjustSelectedLdms(0);
        QVERIFY(v->buildBalancers());
        QCOMPARE(v->adjusters().size(), 7);
        QCOMPARE(v->observedLdms().at(2)->number, 4u);
        QCOMPARE(v->adjusters().at(2)->number(), 4u);
        QVERIFY(v->adjusters().at(0)->loggable() && !v->adjusters().at(1)->loggable());
    }

    void templaters_data()
    {
        QTest::addColumn<bool>("simulated");
        QTest::addColumn<uint>("meshHigh");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("4 x 2 cells on 2 x 2 LDMs") << false << 2u << QString();
        QTest::newRow("3 rows on 2 LDMs")
            << false << 3u << "Tile AA:00:00:00:00:00 cell size (4, 3) not divisible by LDM size (2, 2)";
        QTest::newRow("tile without an LDM grid")
            << true << 2u << "Tile 12:34:56:78:9A:BC cell size (4, 2) not divisible by LDM size (0, 0)";
        QTest::newRow("mesh without rows") << false << 0u << "Tile mesh size (4, 0) has a zero dimension";
    }

    // Template: one adjuster per mesh cell, numbered on across the tiles;
    // each cell knows its place, size and the LDM under its top-left corner.
    void templaters()
    {
        QFETCH(bool, simulated);
        QFETCH(uint, meshHigh);
        QFETCH(QString, refusal);
        GridDisplay grid;
        auto v = make(simulated ? static_cast<DisplayBase*>(nullptr) : &grid, true);
        if (simulated) {
            v->setOutputType(1);
            v->simulatedDisplay()->fetchLdms();
        }
        v->setTileMeshWidth(4);
        v->setTileMeshHeight(meshHigh);
        v->setBtMaxIterations(99);
        QCOMPARE(v->buildTemplaters(), refusal.isEmpty());
        if (!refusal.isEmpty()) {
            QCOMPARE(v->statusString(), refusal);
            return;
        }
        QCOMPARE(v->adjusters().size(), 16);
        for (int k = 0; k < 16; ++k) {
            const int t = k / 8, c = k % 8;
            const Macropixel* cell = v->observedTiles().at(t)->macropixels.at(c);
            QCOMPARE(cell, v->observedLdms().at(k));
            QCOMPARE(cell->number, uint(k + 1));
            QCOMPARE(v->adjusters().at(k)->maxIterations, 99u);
            QCOMPARE(QRectF(cell->x, cell->y, cell->width, cell->height),
                     QRectF(100 + 160 * t + 40 * (c % 4), 40 + 60 * (c / 4), 40, 60));
            QCOMPARE(cell->tile, uint(t + 1));
            QCOMPARE(cell->index, 4 * t + (c % 4) / 2 + 2 * (c / 4) + 1);
        }
    }

    // The dummy camera answers a balance observation within the request and
    // cannot serve a template one, which ends the run.
    void dummyCameraObservations()
    {
        GridDisplay display;
        auto v = make(&display, true);
        connect(&display, &DisplayBase::needFakeLdmRGBsChanged, this, [&display] {
            for (uint n = 1; n <= 8; ++n)
                display.setLdmRGBObserved(n, 100.0 + n, 170.0, 90.0);
        });
        QVERIFY(v->buildBalancers());
        v->runNothing();
        QSignalSpy answers(v.get(), &Veltranor::ldmsObserved);
        v->getLdmsObserved();
        QCOMPARE(answers.count(), 1);
        QCOMPARE(v->observedLdms().at(4)->redObserved, 105.0);
        v->setMode(Calibrator::ModeTemplate); // refused while running
        QVERIFY(v->running());
        v->getTilesObserved();
        QVERIFY(!v->running());
        v->setMode(Calibrator::ModeTemplate);
        v->runNothing();
        v->getTilesObserved();
        QVERIFY(!v->running());
    }

    // Averages land on the LDM whose centre lies in each section; LDMs off
    // or outside the averages keep their colour; a failed grab ends the run.
    void grabResultsReachLdms()
    {
        GridDisplay display;
        auto v = make(&display, false);
        display.setLdmRGBObserved(6, 1, 2, 3);
        display.ldms()[5].intensityGain = -1.0;
        QVERIFY(v->buildBalancers());
        v->runNothing();
        QSignalSpy grabs(v.get(), &Veltranor::grabImageData);
        QSignalSpy answers(v.get(), &Veltranor::ldmsObserved);
        v->getLdmsObserved();
        QCOMPARE(grabs.count(), 1);
        Averages averages(7, 1, 1); // a 4 x 2 grid, the last section missing
        v->grabImageDataDone(true, &averages.list);
        QCOMPARE(answers.count(), 1);
        for (uint n = 1; n <= 8; ++n) {
            const Macropixel ldm = display.ldm(n);
            const int section = int(ldm.x - 100) / 80 + 4 * (int(ldm.y - 40) / 60);
            const double red = n == 6 ? 1.0 : n == 8 ? 0.0 : 100.0 * section;
            QCOMPARE(display.ldmRedObserved(n), red);
            QCOMPARE(v->observedLdms().at(int(n - 1))->redObserved, red);
        }
        v->getLdmsObserved();
        v->grabImageDataDone(false, nullptr);
        QCOMPARE(answers.count(), 1);
        QVERIFY(!v->running());
    }

    // Each tile's section holds one pixel per mesh cell, row by row; sections
    // smaller than the mesh are refused rather than read past their end.
    void grabResultsReachMeshCells()
    {
        GridDisplay display;
        MessageCapture log; // outlives the camera thread, which logs
        auto v = make(&display, false);
        v->setTileMeshWidth(4);
        v->setTileMeshHeight(2);
        v->setMode(Calibrator::ModeTemplate);
        QVERIFY(v->buildTemplaters());
        v->runNothing();
        QSignalSpy answers(v.get(), &Veltranor::tilesObserved);
        v->getTilesObserved();
        Averages averages(2, 2, 4);
        v->grabImageDataDone(true, &averages.list);
        QCOMPARE(answers.count(), 1);
        for (int k = 0; k < 16; ++k) {
            const Macropixel* cell = v->observedLdms().at(k);
            QCOMPARE(cell->redObserved, double(10 * (k % 4) + 100 * (k / 8)));
            QCOMPARE(cell->greenObserved, double(k % 8 / 4));
        }
        Averages small(2, 1, 4);
        v->getTilesObserved();
        v->grabImageDataDone(true, &small.list);
        QCOMPARE(log.count(QStringLiteral("grabImageDataDone(): tile 1 has no section in the 2 x 1 grid")), 1);
        QCOMPARE(v->observedLdms().at(13)->greenObserved, 1.0);
    }

    // A balance run on the simulated wall with the dummy camera: the wall's
    // colour follows the gains sent (each LDM with its own brightness and
    // tint) and every LDM ends at the target.
    void balanceRun()
    {
        GridDisplay display;
        auto v = make(&display, true);
        connect(&display, &DisplayBase::needFakeLdmRGBsChanged, this, [&display] {
            for (uint n = 1; n <= 8; ++n)
                display.setLdmRGBObserved(n, 140.0 * (0.85 + 0.04 * n) * (1.0 + display.ldmRedGain(n)),
                                          140.0 * (1.15 - 0.03 * n) * (1.0 + display.ldmGreenGain(n)),
                                          140.0 * (0.9 + 0.02 * n) * (1.0 + display.ldmBlueGain(n)));
        });
        // Started as the operator starts it: the run builds its own adjusters.
        v->setMode(Calibrator::ModeBalance);
        v->setBalanceTargetRed(140);
        v->setBalanceTargetGreen(140);
        v->setBalanceTargetBlue(140);
        v->setReadDelay(0);
        v->setRunning(true);
        QTRY_VERIFY_WITH_TIMEOUT(!v->running(), 120000);
        for (uint n = 1; n <= 8; ++n) {
            for (const double observed : {display.ldmRedObserved(n), display.ldmGreenObserved(n),
                                          display.ldmBlueObserved(n)})
                QVERIFY2(std::abs(observed - 140.0) <= 140.0 * 0.02, qPrintable(QString::number(observed)));
        }
    }

    // A request that cannot start still runs its stored step: nothing stays running.
    void requestsThatCannotStart()
    {
        GridDisplay empty(true), display;
        auto v = make(&empty, false);
        v->runNothing();
        v->getLdmsObserved();
        QVERIFY(!v->running());
        auto dummy = make(&display, true);
        dummy->setMode(Calibrator::ModeTemplate);
        QVERIFY(!dummy->grabImage());
        QVERIFY(!dummy->running());
        QCOMPARE(dummy->statusString(), QStringLiteral("Image capture or processing failed."));
    }

    void targetRange_data()
    {
        QTest::addColumn<QList<double>>("observed");
        QTest::addColumn<QString>("status");
        QTest::newRow("lowest usable") << QList<double> {60.9, 160.5, 60.0} << "Using target LDM’s RGB 60, 160, 60";
        QTest::newRow("highest usable") << QList<double> {235.9, 190.9, 235.0} << "Using target LDM’s RGB 235, 190, 235";
        QTest::newRow("red too dark") << QList<double> {59.9, 170.0, 100.0} << "Target LDM too dark";
        QTest::newRow("green too bright") << QList<double> {100.0, 191.0, 100.0} << "Target LDM too bright";
    }

    // Only a target in the usable range becomes the balance target; the
    // measurement always ends and leaves nothing behind.
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
        QVERIFY(!v->running() && v->observedLdms().isEmpty());
        const bool usable = messages.isEmpty();
        QCOMPARE(usable, status.startsWith(QStringLiteral("Using")));
        QCOMPARE(v->balanceTargetGreen(), usable ? observed[1] : 0.0);
        if (status == QStringLiteral("Target LDM too dark"))
            QCOMPARE(messages.at(0).at(1).toString(),
                     QStringLiteral("This LDM's RGB values are 59, 170, 100. Target RGB values<br>must be between 60, "
                                    "160, 60 and 235, 190, 235.<br><br>Increase camera’s exposure or VANTOR’s "
                                    "brightness.<br>Aim for an exposure between middle gray and 75% peak white,<br>or "
                                    "a reading of +0.3 to +0.7 on the camera’s exposure meter."));
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
    // click rounding away from zero; any later photo comes back on target.
    void exposureClicks()
    {
        QFETCH(float, green);
        QFETCH(QString, line);
        GridDisplay display;
        MessageCapture log; // outlives the camera thread, which logs its exposure
        auto v = make(&display, false);
        QVERIFY(cameraReady(*v));
        std::vector<std::unique_ptr<Averages>> answers;
        connect(v.get(), &Veltranor::grabImageData, this, [&] {
            answers.push_back(std::make_unique<Averages>(8, 1, 1, answers.empty() ? green : 175.0f));
            QMetaObject::invokeMethod(
                this, [&v, list = &answers.back()->list] { v->grabImageDataDone(true, list); }, Qt::QueuedConnection);
        });
        v->chooseTargetLdm(1);
        QTRY_VERIFY_WITH_TIMEOUT(!v->running(), 30000);
        QCOMPARE(log.messages().filter(QStringLiteral("******* ")).value(0), line);
    }

    // Red and blue alternate between off and neutral from cell to cell of
    // the whole wall; every LDM gets its mesh.
    void checkerboard()
    {
        ProcessorStandin processor;
        QVERIFY2(processor.start(), qPrintable(processor.errorString()));
        processor.setState(testsupport::meshWallState(2, 160, 90, 4, 3));
        auto v = make(nullptr, true);
        v->vantor()->setAddress(QStringLiteral("127.0.0.1:%1").arg(processor.port()));
        QCOMPARE(v->vantor()->fetchLdms().code, 0);
        v->setTileMeshWidth(8); // cells of 20 x 15: 2 x 2 on each LDM of 40 x 30
        v->setTileMeshHeight(6);
        processor.clearLog();
        v->setMeshTestPattern();
        int meshes = 0;
        for (const QJsonValue& value : processor.requestLog()) {
            if (!value.toObject().value(QStringLiteral("path")).toString().endsWith(QStringLiteral("/cal")))
                continue;
            ++meshes;
            const TessCalFile::Mesh mesh = ProcessorStandin::uploadedMesh(value.toObject());
            QCOMPARE(mesh.value, 0.05f);
            QCOMPARE(mesh.planes.size(), size_t(3));
            for (size_t r = 1; r <= 2; ++r)
                for (size_t c = 1; c <= 2; ++c) {
                    const float expected = (r + c) % 2 ? 1.0f : 0.0f;
                    QCOMPARE(mesh.planes[0][r][c], expected);
                    QCOMPARE(mesh.planes[1][r][c], 1.0f);
                    QCOMPARE(mesh.planes[2][r][c], expected);
                }
        }
        QCOMPARE(meshes, 24);
    }

    void registration_data()
    {
        QTest::addColumn<bool>("dummyCamera");
        QTest::addColumn<bool>("coarse");
        QTest::addColumn<bool>("ragged");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QList<int>>("patterns");
        QTest::newRow("rendered grid") << false << false << false << "Cell locations acquired" << QList<int> {1, 2, 0};
        QTest::newRow("half the cells") << false << true << false << "Incorrect cell locations" << QList<int> {1, 2};
        QTest::newRow("a cell missing")
            << false << false << true << "Failed to identify cell locations" << QList<int> {1, 2, 0};
        QTest::newRow("dummy camera") << true << false << false << "Failed to capture image" << QList<int> {1, 0};
    }

    // White finds the wall, the generated grid its cells; a grid of the
    // wrong size is refused and stays on the wall for the operator to see; a
    // grid with a hole cannot be read.
    void registration()
    {
        QFETCH(bool, dummyCamera);
        QFETCH(bool, coarse);
        QFETCH(bool, ragged);
        QFETCH(QString, status);
        QFETCH(QList<int>, patterns);
        // On the heap: the camera's thread draws it, and ThreadSanitizer does
        // not forget what earlier tests wrote into a reused stack frame.
        auto wall = std::make_unique<GridDisplay>();
        GridDisplay& display = *wall;
        display.coarse = coarse;
        display.ragged = ragged;
        auto sdk = std::dynamic_pointer_cast<SimulatedCameraSdk>(camerasdk::CameraSdk::platform());
        wallphoto::Shot shot;
        shot.size = cv::Size(1200, 800);
        shot.corners = {cv::Point2f(130, 150), cv::Point2f(1075, 165), cv::Point2f(1060, 655), cv::Point2f(145, 640)};
        shot.ambient = cv::Vec3f(3, 3, 3);
        shot.supersample = 2;
        sdk->setWall([&display] { return display.wallImage(); }, shot);
        const auto forgetWall = qScopeGuard([&sdk] { sdk->setWall({}); });
        auto v = make(&display, dummyCamera, false);
        QVERIFY(dummyCamera || cameraReady(*v));
        v->setTileMeshWidth(4);
        v->setTileMeshHeight(4);
        v->runMeshRegistration();
        QTRY_VERIFY_WITH_TIMEOUT(!v->running(), 90000);
        QCOMPARE(v->statusString(), status);
        const bool acquired = status == QStringLiteral("Cell locations acquired");
        QCOMPARE(v->status(), acquired ? 1 : -1);
        QCOMPARE(display.patterns, patterns);
        QCOMPARE(v->tileGrader()->hasMeshLocations(), acquired);
    }
};

VELTRANO_TEST_MAIN(TestUniformityShell)
#include "tst_uniformityshell.moc"
