#include "background.h"

#include "imagesource.h"
#include "threadhandover.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QThread>

namespace {

// A grab tries up to 5 times; each try waits up to 3 times 10 s for its picture.
constexpr int kTries = 5;
constexpr int kAttempts = 3;

} // namespace

Background::Background(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<QList<cv::Mat*>*>("QList<cv::Mat*>*");
}

Background::~Background() = default;

QString Background::waitingText(int tryNumber, int attempt)
{
    return QStringLiteral("Waiting for the camera's picture: try %1 of %2, attempt %3 of %4...")
        .arg(tryNumber)
        .arg(kTries)
        .arg(attempt)
        .arg(kAttempts);
}

void Background::setImageSource(ImageSource* source)
{
    if (imageSource_.exchange(source) == source)
        return;
    Q_EMIT imageSourceChanged();
}

void Background::setRunning(bool running)
{
    if (running_.exchange(running) == running)
        return;
    Q_EMIT runningChanged();
}

void Background::setArrayInfo(int ldmsWide, int ldmsHigh, float aspectRatio)
{
    tileGrader_.setSections(ldmsWide, ldmsHigh);
    tileGrader_.setAspectRatio(aspectRatio);
    Q_EMIT setArrayInfoDone();
}

void Background::setSubarrayInfo(int w, int h)
{
    tileGrader_.setSubsections(w, h);
    Q_EMIT setSubarrayInfoDone();
}

void Background::LdmArrayImageGrabbed()
{
    qDebug("SPURIOUS BACKGROUND GRAB DONE; YOU SHOULDN'T SEE THIS!");
    QList<cv::Mat*>* list = tileGrader_.sectionAverages();
    threadhandover::handOver(list);
    Q_EMIT grabImageDataDone(true, list);
}

void Background::saveExposure()
{
    if (ImageSource* source = imageSource())
        source->saveExposure();
}

void Background::useSavedExposure(bool useSaved)
{
    if (ImageSource* source = imageSource())
        source->useSavedExposure(useSaved);
}

void Background::removeReflections(bool remove)
{
    removeReflections_ = remove;
}

void Background::useLogImages(bool log)
{
    tileGrader_.useLogImages(log);
}

void Background::setReadDelay(uint msecs)
{
    readDelay_ = msecs + 250;
}

void Background::delay_(unsigned msecs)
{
    const QDeadlineTimer deadline(qint64(msecs), Qt::PreciseTimer);
    while (!deadline.hasExpired() && running()) {
        QThread::msleep(50);
        QCoreApplication::processEvents();
    }
}

bool Background::captureImage_()
{
    ImageSource* source = imageSource();
    if (!source) {
        if (verbose)
            qDebug("No image source (camera) found!");
        return false;
    }
    const bool ready = source->cameraReady(), busy = source->cameraBusy();
    if (!ready || busy) {
        qDebug("Camera unavailable; ready=%d, busy=%d", int(ready), int(busy));
        return false;
    }
    const int code = source->errorType().code;
    if (code != 0) {
        if (verbose)
            qDebug("Camera error type is %d, so can't capture.", code);
        return false;
    }
    if (!running()) {
        qDebug("CaptureImage() failed.");
        return false;
    }
    QString path;
    for (int t = 0; t < kAttempts; ++t) {
        if (verbose)
            qDebug("CaptureImage(): grabbing image...");
        source->grab();
        if (source->isDummy())
            return true;
        Q_EMIT waitingForPicture(try_ + 1, t + 1);
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && running()) {
            path = source->imagePath();
            if (!path.isEmpty())
                break;
            QThread::msleep(100);
            QCoreApplication::processEvents();
        }
        if (path.isEmpty()) {
            qDebug("CaptureImage(): no image returned after %d seconds; attempt #%d", 10, t + 1);
            delay_(1000u * unsigned(t) + 100u);
        }
        if (!path.isEmpty() || !running())
            break;
    }
    if (path.isEmpty()) {
        qDebug("CaptureImage() failed.");
        return false;
    }
    if (verbose)
        qDebug("CaptureImage(): new image %s", qUtf8Printable(path));
    return true;
}

void Background::grabImageData(bool verbose_)
{
    verbose = verbose_;
    lastGrabVerbose_ = verbose_;
    ImageSource* source = imageSource();
    if (verbose) {
        qDebug(">>>>>>>>>>>>>>>>>>>> background: image grab started");
        if (source)
            source->setVerbose(true);
    }
    QString darkPath;
    QList<cv::Mat*>* list = nullptr;
    bool success = false;
    bool failed = !running(); // a failure that reports why
    bool quiet = !running();  // stopped: no failure lines

    for (int n = 0; !failed && n < kTries; ++n) {
        try_ = n;
        const int code = source ? source->errorType().code : 0;
        if (code == 2) {
            failed = true;
            break;
        }
        if (n > 0)
            delay_(1000u * unsigned(n));

        bool darkFailed = false;
        if (removeReflections_ && running()) {
            if (verbose)
                qDebug(">>> blanking ON <<<");
            Q_EMIT blankDisplay(true);
            delay_(readDelay_);
            if (verbose)
                qDebug("Capturing dark image...");
            if (captureImage_()) {
                // Read the path first: the camera empties it when it sets the picture aside.
                darkPath = source->imagePath();
                if (verbose)
                    qDebug("...dark image captured: %s", qUtf8Printable(darkPath));
                Q_EMIT source->saveImage();
            } else {
                darkFailed = true;
                if (running())
                    qDebug("Background::grabImageData() dark capture failed");
            }
            QCoreApplication::processEvents();
            if (verbose)
                qDebug(">>> blanking OFF <<<");
            Q_EMIT blankDisplay(false);
            delay_(readDelay_);
        }

        if (!darkFailed) {
            if (!running()) {
                if (source)
                    source->deleteImageFiles();
                failed = true;
                quiet = true;
                break;
            }
            if (verbose)
                qDebug("Capturing image...");
            if (captureImage_()) {
                const QString imagePath = source->imagePath();
                if (verbose) {
                    qDebug("...image captured: %s", qUtf8Printable(imagePath));
                    if (!darkPath.isEmpty()) {
                        qDebug("TileGrader: loadOriginal(%s,", qUtf8Printable(imagePath));
                        qDebug("                         %s)", qUtf8Printable(darkPath));
                    } else {
                        qDebug("TileGrader: loadOriginal(%s)", qUtf8Printable(imagePath));
                    }
                }
                if (tileGrader_.loadOriginal(imagePath, darkPath)) {
                    if (verbose)
                        qDebug("TileGrader found screen contour");
                    list = tileGrader_.sectionAverages();
                    if (verbose)
                        qDebug("list has %lld average arrays", static_cast<long long>(list->size()));
                    source->deleteImageFiles();
                    success = true;
                    break;
                }
            }
            if (running())
                qDebug("Background::grabImageData() capture / processing failed; try #%d (errorType %d)", n + 1,
                       source ? source->errorType().code : 0);
        }
        if (!running() || n == kTries - 1) {
            failed = true;
            break;
        }
    }

    if (failed && !quiet && running()) {
        if (source && source->errorType().code == 2)
            qDebug("Background::grabImageData() failed with unrecoverable error");
        else
            qDebug("Background::grabImageData() failed after multiple retries");
        setRunning(false);
    }
    if (verbose && source)
        source->setVerbose(false);
    if (verbose)
        qDebug("<<<<<<<<<<<<<<<<<<<< background: image grab done");
    // The list and its images stay the grader's; the receiver reads them on its thread.
    threadhandover::handOver(success ? list : nullptr);
    Q_EMIT grabImageDataDone(success, success ? list : nullptr);
}
