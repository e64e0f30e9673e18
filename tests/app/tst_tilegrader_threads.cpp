// ctest-labels: threaded
#include "photorender.h"
#include "testsupport.h"
#include "tilegrader.h"

#include <atomic>

#include <QTemporaryDir>
#include <QThread>

// The GUI thread changes the analysis settings while the grab worker's
// thread analyses photos: every analysis must see one consistent set.
class TestTileGraderThreads : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void settingsChangeDuringAnalysis()
    {
        QTemporaryDir dir;
        const QString photo = dir.filePath("wall.png");
        testsupport::Shot shot;
        shot.size = cv::Size(240, 160);
        shot.corners = {cv::Point2f(20, 20), cv::Point2f(220, 24), cv::Point2f(216, 140), cv::Point2f(24, 136)};
        QVERIFY(testsupport::savePhoto(testsupport::renderPhoto(testsupport::Wall(), shot), photo));

        TileGrader grader;
        grader.setSections(3, 2);
        std::atomic<int> failures{0}, torn{0}, done{0};
        QThread* worker = QThread::create([&] {
            for (int i = 0; i < 40; ++i) {
                if (!grader.loadOriginal(photo, QString()))
                    ++failures;
                const qsizetype n = grader.sectionAverages()->size();
                if (n != 6 && n != 24)
                    ++torn;
                ++done;
            }
        });
        worker->start();
        const QString lenses[] = {QStringLiteral(":/src/lenscomp/ILCE-7C_FE_4^024-070_@050.jpg"),
                                  QStringLiteral(":/src/lenscomp/ILCE-7C_FE_4^024-070_@070.jpg"), QString()};
        for (int i = 0; !worker->isFinished(); ++i) {
            grader.setLensFile(lenses[i % 3]);
            i % 2 ? grader.setSections(3, 2) : grader.setSections(6, 4);
            grader.setProfiling(i % 5 == 0);
            grader.setGainTweak(1.0f + float(i % 3));
            QThread::yieldCurrentThread();
        }
        worker->wait();
        delete worker;
        QCOMPARE(done.load(), 40);
        QCOMPARE(failures.load(), 0);
        QCOMPARE(torn.load(), 0);
    }
};

VELTRANO_TEST_MAIN(TestTileGraderThreads)
#include "tst_tilegrader_threads.moc"
