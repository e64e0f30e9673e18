#pragma once

#include "camerasdk.h"
#include "errortype.h"

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <map>
#include <memory>
#include <vector>

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

// One camera driven through the camera SDK: finds and connects the first
// camera, keeps the ready and busy state, presses and lets go of the shutter,
// takes in downloaded pictures and deletes those no longer needed, fetches
// live-view frames, forces a fixed capture configuration, and sets exposure
// and white balance.
//
// Threads: the object is made on the GUI thread and then lives on the camera
// thread, where every slot, timer and property pass runs. The SDK calls the
// callbacks on threads of its own; they only post their work to the camera
// thread, so the camera's state is touched by one thread alone.
class SonyCamera : public QObject, public camerasdk::DeviceCallback
{
    Q_OBJECT
    Q_PROPERTY(QString imagePath READ imagePath WRITE setImagePath NOTIFY imagePathChanged)
    Q_PROPERTY(QString savedImagePath READ savedImagePath WRITE setSavedImagePath NOTIFY savedImagePathChanged)
    Q_PROPERTY(bool cameraReady READ cameraReady NOTIFY cameraReadyChanged)
    Q_PROPERTY(bool cameraBusy READ cameraBusy NOTIFY cameraBusyChanged)
    Q_PROPERTY(ErrorType errorType READ errorType WRITE setErrorType NOTIFY errorTypeChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY statusMessageChanged)
    Q_PROPERTY(QImage liveViewImage READ liveViewImage NOTIFY liveViewImageChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(bool verbose READ verbose WRITE setVerbose NOTIFY verboseChanged)

public:
    explicit SonyCamera(bool liveView, QObject* parent = nullptr,
                        std::shared_ptr<camerasdk::CameraSdk> sdk = camerasdk::CameraSdk::platform());
    ~SonyCamera() override;

    QString imagePath() const { return imagePath_; }
    QString savedImagePath() const { return savedImagePath_; }
    bool cameraReady() const;
    bool cameraBusy() const { return cameraBusy_; }
    ErrorType errorType() const { return errorType_; }
    QString statusMessage() const { return statusMessage_; }
    QImage liveViewImage() const { return liveViewImage_; }
    QString name() const { return name_; }
    bool verbose() const { return verbose_; }

    void setImagePath(const QString& path);
    void setSavedImagePath(const QString& path);
    void setErrorType(const ErrorType& errorType);
    void setName(const QString& name);
    void setVerbose(bool verbose);

    // Exposure state (read on the camera thread, or after it has finished).
    std::uint64_t savedShutter() const { return savedShutter_; }
    std::uint64_t savedFNumber() const { return savedFNumber_; }
    std::uint64_t savedIso() const { return savedIso_; }
    int lastCct() const { return lastCct_; }
    QString configStatus() const { return configStatus_; }
    bool isShutterDown() const { return shutterDown_; }

    // Disconnects and deletes the picture files; runs when the camera thread ends.
    void cleanup();
    // One pass over the device properties towards the fixed configuration.
    void updateProperties();

    // SDK callbacks (any thread).
    void OnConnected(std::uint32_t version) override;
    void OnDisconnected(std::uint32_t error) override;
    void OnPropertyChanged() override;
    void OnPropertyChangedCodes(std::uint32_t num, std::uint32_t* codes) override;
    void OnLvPropertyChanged() override;
    void OnLvPropertyChangedCodes(std::uint32_t num, std::uint32_t* codes) override;
    void OnCompleteDownload(const char* filename, std::uint32_t type) override;
    void OnNotifyContentsTransfer(std::uint32_t notify, camerasdk::DeviceHandle handle, const char* filename) override;
    void OnWarning(std::int32_t warning) override;
    void OnError(std::int32_t error) override;

Q_SIGNALS:
    void imageChanged();
    void imagePathChanged(QString newPath);
    void savedImagePathChanged(QString newPath);
    void cameraReadyChanged(bool isReady);
    void statusMessageChanged();
    void errorTypeChanged();
    void status(ErrorType errorType, QString statusMessage);
    void cameraBusyChanged(bool isBusy);
    void liveViewImageChanged(QImage newImage);
    void nameChanged(QString name);
    void verboseChanged();
    void propertiesChanged();
    void exposureAdjusted(int clicks);
    void pleaseFetchProperies();

public Q_SLOTS:
    void disconnectCamera();
    bool connectCamera();
    bool reconnectCamera();
    bool captureImage();
    void sendShutterUp();
    // Shutter speed from the display's refresh rate (kept in memory only).
    void displayRate(double frequency);
    // White balance from the display's colour temperature.
    bool displayColorTemp(int cct);
    int adjustExposure(int clicks);
    int adjustFNumber(int clicks, bool doIt = true);
    int adjustIso(int clicks);
    void saveExposure();
    void useSavedExposure(bool useSaved);
    void autoControlExposure(bool autoControl);
    void useRawImages(bool useRaw);
    void saveImage();
    void deleteImages();
    void fetchProperties();

private:
    void setStatus(const ErrorType& errorType, const QString& message);
    void setStatusMessage_(const QString& message);
    void deleteImage_(const QString& path);
    static void fixPath_(QString& path);
    std::int32_t setPictureSaveInfo();
    void getLiveViewImage_();
    bool updateProperty_(camerasdk::DeviceProperty& property, std::uint64_t value, const QString& description);
    camerasdk::DeviceProperty& property_(std::uint32_t code);

    // Flag changes with their signals.
    void setBusy_(bool busy);
    void setShutterDown_(bool down);
    void setConnected_(bool connected);
    void announceReady_();
    // Processes the camera thread's events in 50 ms steps, at most 200 times,
    // until `done` holds.
    void wait_(const std::function<bool()>& done);
    // Runs `work` on the camera thread: queued in the inbox under its lock,
    // and the camera thread woken to drain it.
    void post_(std::function<void()> work);
    Q_INVOKABLE void drainInbox_();
    void download_(QString path);

    std::mutex inboxMutex_;
    std::deque<std::function<void()>> inbox_;

    std::shared_ptr<camerasdk::CameraSdk> sdk;
    std::unique_ptr<camerasdk::CameraObjectInfo> cameraInfo;
    std::int32_t connectError = 0;
    bool sdkReady = false;
    bool isConnected = false;
    // Set by the SDK's disconnect callback on its own thread: a disconnection
    // waits for this, not for the posted state change, which a camera thread
    // that is shutting down never runs.
    std::atomic<bool> disconnectSeen_ {false};
    camerasdk::DeviceHandle handle = 0;
    camerasdk::ImageInfo liveViewInfo;
    camerasdk::ImageDataBlock liveViewBlock;
    std::unique_ptr<std::uint8_t[]> liveViewBuffer;
    std::uint32_t liveViewBufferSize = 0;
    std::uint32_t liveViewFrameSize = 0;
    QTimer* shutterTimer = nullptr;
    QTimer* liveViewTimer = nullptr;
    QTimer* propertiesTimer = nullptr;
    bool updatingProperties = false;
    bool passWanted_ = false; // a property pass was asked for before the connection
    bool shutterDown_ = false;
    bool cameraBusy_ = false;
    bool liveViewEnabled = false;
    bool verbose_ = false;
    bool useRaw = false;
    QString imagePath_;
    QString savedImagePath_;
    QImage liveViewImage_;
    QString statusMessage_;
    ErrorType errorType_;
    QString name_;
    // Copies of the device properties this camera uses, by code.
    std::map<std::uint32_t, camerasdk::DeviceProperty> properties;
    QString configStatus_;
    std::uint64_t currentIso = 0, currentShutter = 0, currentFNumber = 0;
    std::uint64_t savedIso_ = 0, savedShutter_ = 0, savedFNumber_ = 0;
    int lastCct_ = 6504;
    bool useSaved = false;
    bool autoControl = true;
};
