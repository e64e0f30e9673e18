#pragma once

#include "tilegrader.h"

#include <atomic>

#include <QList>
#include <QObject>

#include "imagesource.h"

// The grab worker: turns one request for an observation of the wall into a
// list of per-section colour averages. It lives on a thread of its own, so
// the waits for the camera and the analysis never block the GUI thread: when
// asked it photographs the blanked wall as a dark frame, then the lit wall,
// analyses the photo and answers with exactly one grabImageDataDone.
class Background : public QObject
{
    Q_OBJECT
    Q_PROPERTY(ImageSource* imageSource READ imageSource WRITE setImageSource NOTIFY imageSourceChanged)
    Q_PROPERTY(bool running READ running WRITE setRunning NOTIFY runningChanged)

public:
    explicit Background(QObject* parent = nullptr);
    ~Background() override;

    ImageSource* imageSource() const { return imageSource_.load(); }
    bool running() const { return running_.load(); }

    // What a grab waiting for a picture says it waits for.
    static QString waitingText(int tryNumber, int attempt);

    // The analysis; its averages list is handed out with grabImageDataDone.
    TileGrader* tileGrader() { return &tileGrader_; }
    unsigned readDelay() const { return readDelay_.load(); }
    bool removesReflections() const { return removeReflections_.load(); }
    // Whether the latest grab request asked for its progress lines.
    bool lastGrabVerbose() const { return lastGrabVerbose_.load(); }

Q_SIGNALS:
    void imageSourceChanged();
    void runningChanged();
    void setArrayInfoDone();
    void setSubarrayInfoDone();
    // The list is null unless `success`; it belongs to the worker and stays
    // valid until its next grab.
    void grabImageDataDone(bool success, QList<cv::Mat*>* pAveragesArrayList);
    void blankDisplay(bool blank);
    // The grab waits for a picture: its try (of 5) and attempt (of 3), from 1.
    void waitingForPicture(int tryNumber, int attempt);

public Q_SLOTS:
    void setImageSource(ImageSource* source);
    // Clearing it ends every wait of the grab in progress.
    void setRunning(bool running);
    void setArrayInfo(int ldmsWide, int ldmsHigh, float aspectRatio);
    void setSubarrayInfo(int w, int h);
    void grabImageData(bool verbose);
    void LdmArrayImageGrabbed();
    void saveExposure();
    void useSavedExposure(bool useSaved);
    void removeReflections(bool remove);
    void useLogImages(bool log);
    void setReadDelay(uint msecs);

private:
    // Waits `msecs` while running, handling this thread's events.
    void delay_(unsigned msecs);
    // One photo; true when the image source produced a new file.
    bool captureImage_();

    std::atomic<ImageSource*> imageSource_{nullptr};
    std::atomic<bool> running_{false};
    bool verbose = false;
    TileGrader tileGrader_;
    std::atomic<bool> removeReflections_{false};
    std::atomic<unsigned> readDelay_{1500};
    std::atomic<bool> lastGrabVerbose_{false};
    int try_ = 0; // the grab's try in progress, from 0
};
