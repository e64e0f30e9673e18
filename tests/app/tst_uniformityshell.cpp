// The shell's side of uniformity runs: the adjusters and records it builds,
// its answers to the engine's observation requests, and how a grab's
// per-section averages reach the LDMs and mesh cells. The test takes the grab
// worker's place and answers grabs with averages of known colours.
#include "griddisplay.h"
#include "messagecapture.h"
#include "polledcontext.h"
#include "testsupport.h"
#include "veltranor.h"

#include <QSettings>
#include <QSignalSpy>

#include <memory>
#include <vector>

using testsupport::MessageCapture;
using testsupport::PolledContext;

namespace {

// A grab result: `sections` images of `rows` x `columns` pixels; pixel (r, c)
// of section s holds blue s, green r, red 10 c + 100 s.
struct Averages
{
    std::vector<cv::Mat> images;
    QList<cv::Mat*> list;

    Averages(int sections, int rows, int columns)
    {
        images.reserve(size_t(sections));
        for (int s = 0; s < sections; ++s) {
            cv::Mat image(rows, columns, CV_32FC3);
            for (int r = 0; r < rows; ++r)
                for (int c = 0; c < columns; ++c)
                    image.at<cv::Vec3f>(r, c) = cv::Vec3f(float(s), float(r), float(10 * c + 100 * s));
            images.push_back(image);
            list.append(&images.back());
        }
    }
};

} // namespace

class TestUniformityShell : public QObject
{
    Q_OBJECT

    std::unique_ptr<PolledContext> net_;

    // The central object driving `display`; grabs are answered by the test.
    std::unique_ptr<Veltranor> make(DisplayBase& display, bool dummyCamera)
    {
        auto v = std::make_unique<Veltranor>(net_->io());
        v->idleTimer().stop();
        v->setDisplay(&display);
        v->setCameraType(dummyCamera ? 1 : 0);
        QObject::disconnect(v.get(), &Veltranor::grabImageData, v->background(), &Background::grabImageData);
        return v;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tessaline"));
        QCoreApplication::setApplicationName(QStringLiteral("Veltrano"));
        net_ = std::make_unique<PolledContext>();
    }

    void init() { QSettings().clear(); }
    void cleanupTestCase() { net_.reset(); }

    // One balance adjuster per adjustable LDM, in display order, with a copy
    // of its record; only the first one logs. No adjustable LDM is no error.
    void balancers()
    {
        GridDisplay display;
        auto v = make(display, true);
        display.ldms()[2].selected = false;
        display.adjustSelectedLdms(0);
        QVERIFY(v->buildBalancers());
        QCOMPARE(v->adjusters().size(), 7);
        QCOMPARE(v->observedLdms().size(), 7);
        for (int i = 0; i < 7; ++i) {
            const uint number = uint(i < 2 ? i + 1 : i + 2);
            QCOMPARE(v->adjusters().at(i)->number(), number);
            QCOMPARE(v->adjusters().at(i)->mode(), Calibrator::ModeBalance);
            QCOMPARE(v->observedLdms().at(i)->number, number);
            QCOMPARE(v->adjusters().at(i)->loggable(), i == 0);
        }

        for (Macropixel& ldm : display.ldms())
            ldm.selected = false;
        display.adjustSelectedLdms(0);
        QVERIFY(v->buildBalancers());
        QVERIFY(v->adjusters().isEmpty() && v->observedLdms().isEmpty());
    }

    void templaters_data()
    {
        QTest::addColumn<bool>("simulated");
        QTest::addColumn<uint>("meshWide");
        QTest::addColumn<uint>("meshHigh");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("4 x 2 cells on 2 x 2 LDMs") << false << 4u << 2u << QString();
        QTest::newRow("3 cells across 2 LDMs")
            << false << 3u << 2u << "Tile AA:00:00:00:00:00 cell size (3, 2) not divisible by LDM size (2, 2)";
        QTest::newRow("tile without an LDM grid")
            << true << 20u << 20u << "Tile 12:34:56:78:9A:BC cell size (20, 20) not divisible by LDM size (0, 0)";
        QTest::newRow("mesh without rows") << false << 4u << 0u << "Tile mesh size (4, 0) has a zero dimension";
    }

    // One template adjuster per mesh cell, numbered on across the tiles; each
    // cell knows its place, size and the LDM under its top-left corner. A
    // mesh that does not divide into the tile's LDMs is refused.
    void templaters()
    {
        QFETCH(bool, simulated);
        QFETCH(uint, meshWide);
        QFETCH(uint, meshHigh);
        QFETCH(QString, refusal);
        GridDisplay grid;
        auto v = make(grid, true);
        if (simulated) {
            v->setOutputType(1);
            v->simulatedDisplay()->fetchLdms();
        }
        v->setTileMeshWidth(meshWide);
        v->setTileMeshHeight(meshHigh);
        v->setBtCompliantIterations(7);
        v->setBtMaxIterations(99);
        if (!refusal.isEmpty()) {
            QVERIFY(!v->buildTemplaters());
            QCOMPARE(v->statusString(), refusal);
            return;
        }
        QVERIFY(v->buildTemplaters());
        QCOMPARE(v->adjusters().size(), 16);
        QCOMPARE(v->observedTiles().size(), 2);
        for (int t = 0; t < 2; ++t) {
            const Tile* tile = v->observedTiles().at(t);
            QCOMPARE(tile->macropixels.size(), 8);
            for (int c = 0; c < 8; ++c) {
                const Macropixel* cell = tile->macropixels.at(c);
                const int k = t * 8 + c;
                QCOMPARE(cell, v->observedLdms().at(k));
                QCOMPARE(cell->number, uint(k + 1));
                QCOMPARE(v->adjusters().at(k)->number(), uint(k + 1));
                QCOMPARE(v->adjusters().at(k)->compliantIterations, 7u);
                QCOMPARE(v->adjusters().at(k)->maxIterations, 99u);
                // Tiles of 160 x 120 from (100 + 160 t, 40); cells of 40 x 60.
                QCOMPARE(cell->x, float(100 + 160 * t + 40 * (c % 4)));
                QCOMPARE(cell->y, float(40 + 60 * (c / 4)));
                QCOMPARE(cell->width, 40.0f);
                QCOMPARE(cell->height, 60.0f);
                QCOMPARE(cell->tile, tile->number);
                QCOMPARE(cell->name, tile->name);
                // LDMs of 80 x 60: two cells across each.
                QCOMPARE(cell->index, 4 * t + (c % 4) / 2 + 2 * (c / 4) + 1);
            }
        }
    }

    // With the dummy camera a balance observation comes from the display
    // model within the request; a template observation ends the run.
    void dummyCameraObservations()
    {
        GridDisplay display;
        auto v = make(display, true);
        connect(&display, &DisplayBase::needFakeLdmRGBsChanged, this, [&display] {
            for (uint n = 1; n <= display.ldmCount(); ++n)
                display.setLdmRGBObserved(n, 100.0 + n, 170.0, 90.0 - n);
        });
        QVERIFY(v->buildBalancers());
        v->runNothing();
        QSignalSpy answers(v.get(), &Veltranor::ldmsObserved);
        v->getLdmsObserved();
        QCOMPARE(answers.count(), 1);
        QVERIFY(v->running());
        for (const Macropixel* ldm : v->observedLdms())
            QCOMPARE(ldm->redObserved, 100.0 + ldm->number);

        MessageCapture log;
        v->getTilesObserved();
        QVERIFY(!v->running());
        QCOMPARE(log.count(QStringLiteral("getTilesObserved: not Template mode.")), 1);

        v->setMode(Calibrator::ModeTemplate);
        v->runNothing();
        v->getTilesObserved();
        QVERIFY(!v->running());
        QCOMPARE(log.count(QStringLiteral("getTilesObserved: not usable with dummy camera.")), 1);
    }

    // A camera grab's averages land on the LDM whose centre lies in each
    // section; LDMs switched off keep their colour, LDMs outside the
    // averages are left alone; a failed grab ends the run.
    void grabResultsReachLdms()
    {
        GridDisplay display;
        auto v = make(display, false);
        display.setLdmRGBObserved(6, 1, 2, 3);
        display.ldms()[5].intensityGain = -1.0;
        QVERIFY(v->buildBalancers());
        v->runNothing();
        QSignalSpy grabs(v.get(), &Veltranor::grabImageData);
        QSignalSpy answers(v.get(), &Veltranor::ldmsObserved);
        v->getLdmsObserved();
        QCOMPARE(grabs.count(), 1);
        QCOMPARE(grabs.at(0).at(0).toBool(), false);

        // A 4 x 2 grid of LDM sections, the last one missing.
        Averages averages(7, 1, 1);
        MessageCapture log;
        v->grabImageDataDone(true, &averages.list);
        QCOMPARE(answers.count(), 1);
        QVERIFY(v->running());
        QCOMPARE(log.count(QStringLiteral("grabImageDataDone(): LDM 8 has no section in the 4 x 2 grid")), 1);
        for (uint n = 1; n <= 8; ++n) {
            const Macropixel ldm = display.ldm(n);
            const int section = int(ldm.x - 100) / 80 + 4 * (int(ldm.y - 40) / 60);
            const double red = n == 6 ? 1.0 : n == 8 ? 0.0 : 100.0 * section;
            const double blue = n == 6 ? 3.0 : n == 8 ? 0.0 : section;
            QCOMPARE(display.ldmRedObserved(n), red);
            QCOMPARE(display.ldmBlueObserved(n), blue);
            QCOMPARE(v->observedLdms().at(int(n - 1))->redObserved, red);
        }

        v->getLdmsObserved();
        QCOMPARE(grabs.count(), 2);
        v->grabImageDataDone(false, nullptr);
        QCOMPARE(answers.count(), 1);
        QVERIFY(!v->running());
    }

    // Each tile's section holds one pixel per mesh cell, row by row.
    void grabResultsReachMeshCells()
    {
        GridDisplay display;
        auto v = make(display, false);
        v->setTileMeshWidth(4);
        v->setTileMeshHeight(2);
        v->setMode(Calibrator::ModeTemplate);
        QVERIFY(v->buildTemplaters());
        v->runNothing();
        QSignalSpy grabs(v.get(), &Veltranor::grabImageData);
        QSignalSpy answers(v.get(), &Veltranor::tilesObserved);
        v->getTilesObserved();
        QCOMPARE(grabs.count(), 1);
        QCOMPARE(grabs.at(0).at(0).toBool(), true);

        Averages averages(2, 2, 4);
        v->grabImageDataDone(true, &averages.list);
        QCOMPARE(answers.count(), 1);
        for (int t = 0; t < 2; ++t)
            for (int k = 0; k < 8; ++k) {
                const Macropixel* cell = v->observedTiles().at(t)->macropixels.at(k);
                QCOMPARE(cell->redObserved, double(10 * (k % 4) + 100 * t));
                QCOMPARE(cell->greenObserved, double(k / 4));
                QCOMPARE(cell->blueObserved, double(t));
            }

        // Sections too small for the mesh are refused, not read past their end.
        Averages small(2, 1, 4);
        v->getTilesObserved();
        MessageCapture log;
        v->grabImageDataDone(true, &small.list);
        QCOMPARE(answers.count(), 2);
        QCOMPARE(log.count(QStringLiteral("grabImageDataDone(): tile 1 has no section in the 2 x 1 grid")), 1);
        QCOMPARE(v->observedTiles().at(1)->macropixels.at(5)->greenObserved, 1.0);
    }

    void requestsThatCannotStart_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("dummyCamera");
        QTest::addColumn<bool>("emptyWall");
        QTest::addColumn<QString>("status");
        QTest::newRow("balance observation without LDMs") << 1 << false << true << QString();
        QTest::newRow("tile capture test, dummy camera") << 2 << true << false << "Image capture or processing failed.";
        QTest::newRow("LDM capture test, dummy camera") << 1 << true << false << "Image capture and processing succeeded.";
    }

    // Whatever cannot start still runs the stored step, so nothing stays
    // running and no one waits for an answer that never comes.
    void requestsThatCannotStart()
    {
        QFETCH(int, mode);
        QFETCH(bool, dummyCamera);
        QFETCH(bool, emptyWall);
        QFETCH(QString, status);
        GridDisplay::Layout layout;
        if (emptyWall)
            layout.tilesWide = 0;
        GridDisplay display(layout);
        auto v = make(display, dummyCamera);
        v->setMode(Calibrator::Mode(mode));
        if (status.isEmpty()) {
            v->runNothing();
            v->getLdmsObserved();
        } else {
            v->grabImage();
            QCOMPARE(v->statusString(), status);
        }
        QVERIFY(!v->running());
    }
};

VELTRANO_TEST_MAIN(TestUniformityShell)
#include "tst_uniformityshell.moc"
