#pragma once

#include "camerasdk.h"
#include "imagesource.h"

#include <memory>
#include <mutex>
#include <utility>

#include <QPointer>
#include <QThread>

#include "sonycamera.h"

// The real camera as the rest of the program sees it: an image source on the
// GUI thread that owns the camera thread and the camera living there. Every
// request travels to the camera as a queued signal, and the camera's state
// comes back the same way into the image-source properties.
class CameraController : public ImageSource
{
    Q_OBJECT
    // Notified by the image source's cameraChanged.
    Q_PROPERTY(SonyCamera* camera READ camera WRITE setCamera NOTIFY cameraChanged)

public:
    explicit CameraController(QObject* parent = nullptr,
                              std::shared_ptr<camerasdk::CameraSdk> sdk = camerasdk::CameraSdk::platform());
    ~CameraController() override;

    SonyCamera* camera() const { return camera_; }
    void setCamera(SonyCamera* camera);
    QThread& cameraThread() { return cameraThread_; }

Q_SIGNALS:
    void displayRefreshRate(double frequency);
    void displayColorTemp(int cct);
    void adjustExposure(int clicks);
    void saveExp();
    void useSavedExp(bool useSaved);
    void autoControlExp(bool autoControl);
    void rawImages(bool useRaw);

public Q_SLOTS:
    void connect() override;
    void reconnect() override;
    // Callable from any thread: the old path is cleared before the request leaves.
    void grab() override;
    void displayFrequency(double refreshRate) override;
    void displayCct(int newCct) override;
    // Waits up to 1000 ms for the camera's answer; the previous answer on time-out.
    int changeExposure(int clicks) override;
    void exposureChanged(int clicks);
    void saveExposure() override;
    void useSavedExposure(bool useSaved) override;
    void autoControlExposure(bool autoControl) override;
    void useRawImages(bool useRaw) override;
    void saveLastImage() override;
    void deleteImageFiles() override;

private:
    SonyCamera* camera_ = nullptr;
    QPointer<SonyCamera> cameraAlive_; // null once the camera thread has deleted it
    // The camera's status reports, handed from the camera thread to this one
    // under a standard mutex, in the order they were sent. Invoked by name:
    // a queued call by member pointer would allocate its slot object on the
    // camera thread and free it on this one inside Qt, a hand-over
    // ThreadSanitizer cannot follow.
    Q_INVOKABLE void deliverStatus_();
    std::mutex statusMutex_;
    QList<std::pair<ErrorType, QString>> pendingStatus_;
    QThread cameraThread_;
    bool exposureReported = false;
    int exposureResult = 0;
};
