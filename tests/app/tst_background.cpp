// ctest-labels: threaded
#include "background.h"
#include "messagecapture.h"
#include "photorender.h"
#include "testsupport.h"

#include <atomic>

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

namespace {

// Events from both threads, in the order they happened.
struct Timeline
{
    QMutex mutex;
    QStringList events;
    void add(const QString& e)
    {
        QMutexLocker lock(&mutex);
        events.append(e);
    }
    QStringList all()
    {
        QMutexLocker lock(&mutex);
        return events;
    }
};

// A camera on the GUI thread that answers each grab, some milliseconds
// later, with a copy of the next prepared photo (an empty name: no picture).
// Setting a picture aside empties the path, as the real camera does.
class PhotoSource : public ImageSource
{
public:
    PhotoSource(QStringList photos, QString folder, Timeline& timeline)
        : photos(std::move(photos)), folder(std::move(folder)), timeline(timeline)
    {
        isDummy_ = false;
        QObject::connect(this, &ImageSource::saveImage, this, [this] {
            this->timeline.add("save " + imagePath());
            setImagePath(QString());
        }, Qt::DirectConnection);
    }
    void grab() override
    {
        timeline.add("grab");
        clearImagePathFromAnyThread_();
        const int n = grabs++;
        const QString photo = photos.value(std::min<int>(n, int(photos.size()) - 1));
        if (photo.isEmpty())
            return;
        const QString copy = QDir(folder).filePath(QStringLiteral("shot%1.png").arg(n));
        QMetaObject::invokeMethod(this, [this, photo, copy] {
            QTimer::singleShot(30, this, [this, photo, copy] {
                QFile::remove(copy);
                QFile::copy(photo, copy);
                setImagePath(copy);
            });
        }, Qt::QueuedConnection);
    }
    void deleteImageFiles() override { timeline.add("delete"); }

    QStringList photos;
    QString folder;
    Timeline& timeline;
    std::atomic<int> grabs{0};
};

} // namespace

class TestBackground : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString lit, dark, blank;
    QThread thread;
    Background* worker = nullptr;
    QObject gui; // receives the worker's answers on the GUI thread
    struct Answer
    {
        bool success;
        qsizetype sections;
    };
    QList<Answer> answers;

    // The running flag is set before the grab is queued: stopped afterwards,
    // the worker's thread may already have started the grab.
    void start(ImageSource* source, bool removeReflections, bool running = true)
    {
        answers.clear();
        worker->setImageSource(source);
        worker->setArrayInfo(4, 3, 1.6f);
        worker->setSubarrayInfo(1, 1);
        worker->setReadDelay(0);
        worker->removeReflections(removeReflections);
        worker->setRunning(running);
        QMetaObject::invokeMethod(worker, "grabImageData", Qt::QueuedConnection, Q_ARG(bool, true));
    }

private Q_SLOTS:
    void initTestCase()
    {
        testsupport::Shot shot;
        shot.ambient = cv::Vec3f(12, 12, 12);
        lit = dir.filePath("lit.png");
        dark = dir.filePath("dark.png");
        blank = dir.filePath("blank.png");
        testsupport::Wall off;
        off.fill = cv::Vec3f(0, 0, 0);
        QVERIFY(testsupport::savePhoto(testsupport::renderPhoto(testsupport::Wall(), shot), lit));
        QVERIFY(testsupport::savePhoto(testsupport::renderPhoto(off, shot), dark));
        QVERIFY(testsupport::savePhoto(cv::Mat(400, 600, CV_32FC3, cv::Scalar::all(0)), blank));

        worker = new Background;
        worker->moveToThread(&thread);
        connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        connect(worker, &Background::grabImageDataDone, &gui, [this](bool ok, QList<cv::Mat*>* list) {
            answers.append({ok, list ? list->size() : -1});
        });
        thread.start(QThread::HighestPriority);
        // Requests posted before the thread's event loop exists would be
        // handed over unseen by the thread checker.
        QTRY_VERIFY(thread.eventDispatcher());
    }
    void cleanupTestCase()
    {
        thread.quit();
        thread.wait();
    }

    void darkFrameFirst();
    void grab_data();
    void grab();
};

void TestBackground::darkFrameFirst()
{
    Timeline timeline;
    PhotoSource source({dark, lit}, dir.path(), timeline);
    source.setCameraReady(true);
    connect(worker, &Background::blankDisplay, &gui,
            [&](bool blank) { timeline.add(blank ? "blank" : "light"); }, Qt::DirectConnection);
    testsupport::MessageCapture log;
    start(&source, true);
    QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 1, 30000);
    disconnect(worker, &Background::blankDisplay, &gui, nullptr);

    const QString darkCopy = dir.filePath("shot0.png");
    QCOMPARE(timeline.all(),
             QStringList({"blank", "grab", "save " + darkCopy, "light", "grab", "delete"}));
    QVERIFY(answers.front().success);
    QCOMPARE(answers.front().sections, 12);
    // The analysis got the dark frame's path, read before the camera set it aside.
    QCOMPARE(log.count("                         " + darkCopy + ")"), 1);
    QVERIFY(worker->running());
}

void TestBackground::grab_data()
{
    QTest::addColumn<QStringList>("photos");
    QTest::addColumn<bool>("ready");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<bool>("startRunning");
    QTest::addColumn<bool>("success");
    QTest::addColumn<int>("grabs");
    QTest::addColumn<QString>("failureLine");

    const QString retries = "Background::grabImageData() failed after multiple retries";
    QTest::newRow("third attempt analyses")
        << QStringList({blank, blank, lit}) << true << 0 << false << true << true << 3 << QString();
    QTest::newRow("fatal camera error: no photo")
        << QStringList({lit}) << true << 2 << false << true << false << 0
        << "Background::grabImageData() failed with unrecoverable error";
    QTest::newRow("camera never ready: five attempts")
        << QStringList({lit}) << false << 0 << false << true << false << 0 << retries;
    QTest::newRow("stopped while waiting for the photo")
        << QStringList({QString()}) << true << 0 << true << true << false << 1 << QString();
    QTest::newRow("not running") << QStringList({lit}) << true << 0 << false << false << false << 0 << QString();
}

void TestBackground::grab()
{
    QFETCH(QStringList, photos);
    QFETCH(bool, ready);
    QFETCH(int, errorCode);
    QFETCH(bool, cancel);
    QFETCH(bool, startRunning);
    QFETCH(bool, success);
    QFETCH(int, grabs);
    QFETCH(QString, failureLine);

    Timeline timeline;
    PhotoSource source(photos, dir.path(), timeline);
    source.setCameraReady(ready);
    source.setErrorType(ErrorType(errorCode));
    testsupport::MessageCapture log;
    start(&source, false, startRunning);
    if (cancel) {
        QTRY_COMPARE_WITH_TIMEOUT(source.grabs.load(), 1, 10000);
        // As the run's stop reaches the worker: queued to its thread.
        QMetaObject::invokeMethod(worker, "setRunning", Qt::QueuedConnection, Q_ARG(bool, false));
    }
    QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 1, 40000);
    QCOMPARE(answers.front().success, success);
    QCOMPARE(answers.front().sections, success ? 12 : -1);
    QCOMPARE(source.grabs.load(), grabs);
    QCOMPARE(worker->running(), success);
    QCOMPARE(log.count("Background::grabImageData() failed", true), failureLine.isEmpty() ? 0 : 1);
    if (!failureLine.isEmpty())
        QCOMPARE(log.count(failureLine), 1);
    if (!ready)
        QCOMPARE(log.count("Camera unavailable; ready=0, busy=0"), 5);
    QCOMPARE(log.count("Background::grabImageData() capture / processing failed", true),
             success ? grabs - 1 : (ready || cancel ? 0 : 5));
}

VELTRANO_TEST_MAIN(TestBackground)
#include "tst_background.moc"
