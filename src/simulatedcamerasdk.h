#pragma once

#include "camerasdk.h"
#include "wallphoto.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include <QString>
#include <QStringList>

#include <opencv2/core.hpp>

class DisplayBase;

// A camera that exists only in software, behind the SDK layer: enumeration,
// connection outcomes, a property table whose values can be set (each code
// with its own policy), a shutter that writes a picture into the save folder
// and reports the download, live-view frames, warnings and errors on demand.
// Callbacks run on a thread of the simulator's own, as the maker's SDK runs
// them. Every call is recorded in a log that any thread may read.
class SimulatedCameraSdk : public camerasdk::CameraSdk
{
public:
    enum class ConnectOutcome {
        Connect,          // OnConnected after the connect delay
        AgainThenConnect, // OnError(0x8210) for the first attempt, then connects
        Fail,             // OnError with the configured code
        Silent,           // no answer at all
    };
    enum class SetPolicy {
        Accept, // takes the value and reports a property change
        Refuse, // answers with an error code, changes nothing
        Ignore, // answers 0 but keeps its value
    };

    SimulatedCameraSdk();
    ~SimulatedCameraSdk() override;

    // ---- configuration (any thread, before or between calls)
    void setInitResult(bool usable);
    // Cameras found by an enumeration; an error code makes it fail instead.
    void setCameraCount(int count);
    void setEnumerationError(std::int32_t code);
    void setConnectOutcome(ConnectOutcome outcome, std::int32_t errorCode = 0x8207);
    void setConnectDelay(int msecs);
    void setProperty(const camerasdk::DeviceProperty& property);
    std::optional<camerasdk::DeviceProperty> property(std::uint32_t code) const;
    void setPolicy(std::uint32_t code, SetPolicy policy, std::int32_t refuseCode = 0x8402);
    void setGetPropertiesError(std::int32_t code);
    // The picture a shutter release produces: a copy of `path`, or (empty) a
    // photo of the wall given by setWall/setDisplay.
    void setPictureFile(const QString& path);
    void setWall(std::function<cv::Mat()> wallImage, const wallphoto::Shot& shot = {});
    // Photographs `display` (which must outlive the simulator's use of it).
    void setDisplay(DisplayBase* display);
    // The display the program drives, photographed where neither a picture
    // file nor a wall is set, exposed as a camera would see it: a full white
    // of kWhiteLuminance at the camera's shutter, ISO and aperture, mid grey
    // at the reflected-light meter's exposure, through a JPEG tone curve.
    // Once this returns, the earlier display is no longer used; null: none.
    void setActiveDisplay(DisplayBase* display);
    // No active display any more if it is `display`.
    void forgetActiveDisplay(DisplayBase* display);
    // Every picture under the same file name, as some cameras do.
    void setReuseFileName(bool reuse);
    // Time from shutter down to the download report; negative: no picture at all.
    void setShutterDelay(int msecs);
    // Calls OnWarning / OnError of the connected camera on the SDK's thread.
    void injectWarning(std::int32_t code);
    void injectError(std::int32_t code);

    // ---- inspection
    QStringList calls() const;
    int callCount(const QString& prefix) const;
    void clearCalls();
    QString saveFolder() const;
    // The picture files written so far.
    QStringList pictures() const;

    // ---- the SDK
    std::uint32_t getSdkVersion() override;
    bool init(std::uint32_t logType) override;
    bool release() override;
    std::int32_t enumCameraObjects(std::optional<std::vector<camerasdk::CameraObjectInfo>>& cameras,
                                   std::uint8_t timeoutSeconds) override;
    std::unique_ptr<camerasdk::CameraObjectInfo> createCameraObjectInfo(
        const camerasdk::CameraObjectInfo& camera) override;
    std::int32_t connect(const camerasdk::CameraObjectInfo& camera, camerasdk::DeviceCallback* callback,
                         camerasdk::DeviceHandle* handle, std::uint32_t mode, std::uint32_t reconnect) override;
    std::int32_t disconnect(camerasdk::DeviceHandle handle) override;
    std::int32_t releaseDevice(camerasdk::DeviceHandle handle) override;
    std::int32_t setSaveInfo(camerasdk::DeviceHandle handle, const std::string& folder, const std::string& prefix,
                             std::int32_t number) override;
    std::int32_t setDeviceSetting(camerasdk::DeviceHandle handle, std::uint32_t setting, std::uint32_t value) override;
    std::int32_t getDeviceProperties(camerasdk::DeviceHandle handle,
                                     std::vector<camerasdk::DeviceProperty>& properties) override;
    std::int32_t setDeviceProperty(camerasdk::DeviceHandle handle, const camerasdk::DeviceProperty& property) override;
    std::int32_t sendCommand(camerasdk::DeviceHandle handle, std::uint32_t command, std::uint32_t param) override;
    std::int32_t getLiveViewImageInfo(camerasdk::DeviceHandle handle, camerasdk::ImageInfo& info) override;
    std::int32_t getLiveViewImage(camerasdk::DeviceHandle handle, camerasdk::ImageDataBlock& block) override;

    // The property table of a freshly switched-on camera.
    static std::vector<camerasdk::DeviceProperty> defaultProperties();

    static constexpr double kWhiteLuminance = 1000.0; // cd/m², walls of this kind
    // The body it reports (the first camera of an enumeration): one for which
    // the program has lens-compensation images, so that the lens choices are
    // offered as with that camera.
    static constexpr const char* kModel = "ILCE-7C";
    static constexpr std::int32_t ErrorInvalidHandle = 0x8003;
    static constexpr std::int32_t ErrorNotInitialised = 0x8001;

private:
    using Clock = std::chrono::steady_clock;
    struct Task
    {
        camerasdk::DeviceHandle handle;
        std::function<void()> work;
    };
    struct Device
    {
        camerasdk::DeviceCallback* callback = nullptr;
        bool connected = false;
    };

    void record_(const QString& call);
    // Runs `work` on the SDK thread after `msecs` (with the lock not held).
    void post_(camerasdk::DeviceHandle handle, int msecs, std::function<void()> work);
    void cancel_(camerasdk::DeviceHandle handle);
    // Queues notify(code) for every device that has a callback, to run at once.
    void notifyAll_(void (camerasdk::DeviceCallback::*notify)(std::int32_t), std::int32_t code);
    void run_();
    // The callback of a connected device, or null (lock held).
    camerasdk::DeviceCallback* callback_(camerasdk::DeviceHandle handle) const;
    // Writes the next picture; the path, or empty after a log line.
    std::string takePicture_();
    cv::Mat renderView_(cv::Size size);
    // The active display's photo of `size` (CV_32FC3 codes), or empty without one.
    cv::Mat renderActiveDisplay_(cv::Size size);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::multimap<Clock::time_point, Task> tasks_;
    camerasdk::DeviceHandle runningHandle_ = 0;
    bool stopping_ = false;

    bool initResult_ = true;
    bool initialised_ = false;
    int cameraCount_ = 1;
    std::int32_t enumerationError_ = 0;
    ConnectOutcome connectOutcome_ = ConnectOutcome::Connect;
    std::int32_t connectErrorCode_ = 0x8207;
    bool connectAgainGiven_ = false;
    int connectDelay_ = 20;
    std::map<std::uint32_t, camerasdk::DeviceProperty> properties_;
    std::map<std::uint32_t, std::pair<SetPolicy, std::int32_t>> policies_;
    std::int32_t getPropertiesError_ = 0;
    QString pictureFile_;
    // Held while the wall or the active display is drawn (never together
    // with mutex_); it also guards the wall and its shot.
    std::mutex displayMutex_;
    std::function<cv::Mat()> wallImage_;
    wallphoto::Shot shot_;
    DisplayBase* activeDisplay_ = nullptr;
    bool reuseFileName_ = false;
    int shutterDelay_ = 50;
    int pictureNumber_ = 0;
    QStringList pictures_;
    std::string saveFolder_;
    std::map<camerasdk::DeviceHandle, Device> devices_;
    camerasdk::DeviceHandle nextHandle_ = 0x1000;
    std::vector<std::uint8_t> liveViewFrame_;
    QStringList calls_;

    std::thread thread_;
};
