#include "simulatedcamerasdk.h"

#include "displaybase.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

using namespace camerasdk;

namespace {

constexpr std::uint32_t simulatedVersion = 0x01020300; // 1.2.3
constexpr std::uint32_t connectedVersion = 3;
constexpr int propertyReportDelay = 20;

QString hex(std::uint64_t v)
{
    return QStringLiteral("0x%1").arg(v, 0, 16);
}

// The share of the sensor's full scale a luminance fills (unclipped): the
// reflected-light meter's exposure (N² / t = L S / K, K = 12.5) makes it mid
// grey, 18 %.
double sensorShare(double luminance, double shutter, double iso, double fNumber)
{
    if (!(luminance > 0.0 && shutter > 0.0 && iso > 0.0 && fNumber > 0.0))
        return 0.0;
    return 0.18 * luminance * shutter * iso / (12.5 * fNumber * fNumber);
}

} // namespace

// ------------------------------------------------------------ property values

std::uint64_t DeviceProperty::entry(std::size_t i, std::size_t width) const
{
    std::uint64_t v = 0;
    if ((i + 1) * width > values_.size())
        return 0;
    for (std::size_t b = 0; b < width; ++b)
        v |= std::uint64_t(values_[i * width + b]) << (8 * b);
    return v;
}

std::vector<std::uint8_t> DeviceProperty::list16(const std::vector<std::uint16_t>& entries)
{
    std::vector<std::uint8_t> out;
    for (std::uint16_t e : entries) {
        out.push_back(std::uint8_t(e));
        out.push_back(std::uint8_t(e >> 8));
    }
    return out;
}

std::vector<std::uint8_t> DeviceProperty::list32(const std::vector<std::uint32_t>& entries)
{
    std::vector<std::uint8_t> out;
    for (std::uint32_t e : entries)
        for (int b = 0; b < 4; ++b)
            out.push_back(std::uint8_t(e >> (8 * b)));
    return out;
}

std::shared_ptr<CameraSdk> CameraSdk::platform()
{
    static const std::shared_ptr<CameraSdk> sdk = std::make_shared<SimulatedCameraSdk>();
    return sdk;
}

// ------------------------------------------------------------------ simulator

std::vector<DeviceProperty> SimulatedCameraSdk::defaultProperties()
{
    return {
        DeviceProperty(PriorityKeySettings, 1, UInt16),
        DeviceProperty(ExposureProgramMode, 2, UInt16),
        DeviceProperty(FileType, 1, UInt16),
        DeviceProperty(JpegQuality, 2, UInt16),
        DeviceProperty(ImageSize, 1, UInt16),
        DeviceProperty(MeteringMode, 1, UInt16),
        DeviceProperty(WhiteBalance, 0x12, UInt16),
        DeviceProperty(ColorTemperature, 5500, UInt16Range, DeviceProperty::list16({2500, 9900, 100})),
        DeviceProperty(FocusMode, 2, UInt16),
        DeviceProperty(DriveMode, 1, UInt16),
        DeviceProperty(DroHdrMode, 1, UInt16),
        DeviceProperty(PictureEffect, 0, UInt16),
        DeviceProperty(StillImageStoreDestination, 2, UInt16),
        DeviceProperty(FNumber, 1100, UInt16Array,
                       DeviceProperty::list16({280, 350, 400, 450, 500, 560, 630, 710, 800, 900, 1000, 1100, 1300,
                                               1400, 1600, 1800, 2000, 2200})),
        DeviceProperty(ShutterSpeed, 0x10064, UInt32Array,
                       DeviceProperty::list32({0x10005, 0x10008, 0x1000A, 0x1000F, 0x1001E, 0x1003C, 0x10064})),
        DeviceProperty(IsoSensitivity, 400, UInt32Array,
                       DeviceProperty::list32({0xFFFFFF, 100, 125, 160, 200, 250, 320, 400, 500, 640, 800, 1000,
                                               1250, 1600, 3200, 6400})),
        // a property the camera reports that nothing here uses
        DeviceProperty(0x50E, 0, UInt16),
    };
}

SimulatedCameraSdk::SimulatedCameraSdk()
{
    for (const DeviceProperty& p : defaultProperties())
        properties_[p.GetCode()] = p;
    thread_ = std::thread([this] { run_(); });
}

SimulatedCameraSdk::~SimulatedCameraSdk()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        tasks_.clear();
    }
    wake_.notify_all();
    thread_.join();
}

void SimulatedCameraSdk::run_()
{
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (tasks_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const auto due = tasks_.begin()->first;
        if (Clock::now() < due) {
            wake_.wait_until(lock, due);
            continue;
        }
        Task task = std::move(tasks_.begin()->second);
        tasks_.erase(tasks_.begin());
        runningHandle_ = task.handle;
        lock.unlock();
        task.work();
        lock.lock();
        runningHandle_ = 0;
        idle_.notify_all();
    }
}

void SimulatedCameraSdk::post_(DeviceHandle handle, int msecs, std::function<void()> work)
{
    {
        std::lock_guard lock(mutex_);
        tasks_.emplace(Clock::now() + std::chrono::milliseconds(std::max(0, msecs)), Task{handle, std::move(work)});
    }
    wake_.notify_all();
}

void SimulatedCameraSdk::cancel_(DeviceHandle handle)
{
    std::unique_lock lock(mutex_);
    for (auto it = tasks_.begin(); it != tasks_.end();)
        it = it->second.handle == handle || handle == 0 ? tasks_.erase(it) : std::next(it);
    idle_.wait(lock, [&] { return runningHandle_ == 0 || (handle != 0 && runningHandle_ != handle); });
}

DeviceCallback* SimulatedCameraSdk::callback_(DeviceHandle handle) const
{
    const auto it = devices_.find(handle);
    return it == devices_.end() ? nullptr : it->second.callback;
}

void SimulatedCameraSdk::record_(const QString& call)
{
    std::lock_guard lock(mutex_);
    calls_.append(call);
}

// ---------------------------------------------------------- configuration

void SimulatedCameraSdk::setInitResult(bool usable)
{
    std::lock_guard lock(mutex_);
    initResult_ = usable;
}

void SimulatedCameraSdk::setCameraCount(int count)
{
    std::lock_guard lock(mutex_);
    cameraCount_ = count;
}

void SimulatedCameraSdk::setEnumerationError(std::int32_t code)
{
    std::lock_guard lock(mutex_);
    enumerationError_ = code;
}

void SimulatedCameraSdk::setConnectOutcome(ConnectOutcome outcome, std::int32_t errorCode)
{
    std::lock_guard lock(mutex_);
    connectOutcome_ = outcome;
    connectErrorCode_ = errorCode;
    connectAgainGiven_ = false;
}

void SimulatedCameraSdk::setConnectDelay(int msecs)
{
    std::lock_guard lock(mutex_);
    connectDelay_ = msecs;
}

void SimulatedCameraSdk::setProperty(const DeviceProperty& property)
{
    std::lock_guard lock(mutex_);
    properties_[property.GetCode()] = property;
}

std::optional<DeviceProperty> SimulatedCameraSdk::property(std::uint32_t code) const
{
    std::lock_guard lock(mutex_);
    const auto it = properties_.find(code);
    if (it == properties_.end())
        return std::nullopt;
    return it->second;
}

void SimulatedCameraSdk::setPolicy(std::uint32_t code, SetPolicy policy, std::int32_t refuseCode)
{
    std::lock_guard lock(mutex_);
    policies_[code] = {policy, refuseCode};
}

void SimulatedCameraSdk::setGetPropertiesError(std::int32_t code)
{
    std::lock_guard lock(mutex_);
    getPropertiesError_ = code;
}

void SimulatedCameraSdk::setPictureFile(const QString& path)
{
    std::lock_guard lock(mutex_);
    pictureFile_ = path;
}

void SimulatedCameraSdk::setWall(std::function<cv::Mat()> wallImage, const wallphoto::Shot& shot)
{
    // Waits for a photo of the wall being replaced: once this returns, what
    // that wall refers to may go.
    std::lock_guard draw(displayMutex_);
    wallImage_ = std::move(wallImage);
    shot_ = shot;
}

void SimulatedCameraSdk::setDisplay(DisplayBase* display)
{
    // A 3:2 photo with the wall slightly turned and a little lens fall-off.
    wallphoto::Shot shot;
    shot.size = cv::Size(1200, 800);
    shot.corners = {cv::Point2f(130, 150), cv::Point2f(1075, 165), cv::Point2f(1060, 655), cv::Point2f(145, 640)};
    shot.ambient = cv::Vec3f(3, 3, 3);
    shot.noise = 0.5f;
    shot.supersample = 2;
    if (!display) {
        setWall({}, shot);
        return;
    }
    setWall([display] { return wallphoto::renderDisplay(*display); }, shot);
}

void SimulatedCameraSdk::setActiveDisplay(DisplayBase* display)
{
    std::lock_guard lock(displayMutex_);
    activeDisplay_ = display;
}

void SimulatedCameraSdk::forgetActiveDisplay(DisplayBase* display)
{
    std::lock_guard lock(displayMutex_);
    if (activeDisplay_ == display)
        activeDisplay_ = nullptr;
}

void SimulatedCameraSdk::setReuseFileName(bool reuse)
{
    std::lock_guard lock(mutex_);
    reuseFileName_ = reuse;
}

void SimulatedCameraSdk::setShutterDelay(int msecs)
{
    std::lock_guard lock(mutex_);
    shutterDelay_ = msecs;
}

void SimulatedCameraSdk::injectWarning(std::int32_t code)
{
    notifyAll_(&DeviceCallback::OnWarning, code);
}

void SimulatedCameraSdk::injectError(std::int32_t code)
{
    notifyAll_(&DeviceCallback::OnError, code);
}

void SimulatedCameraSdk::notifyAll_(void (DeviceCallback::*notify)(std::int32_t), std::int32_t code)
{
    std::lock_guard lock(mutex_);
    for (const auto& [handle, device] : devices_)
        if (DeviceCallback* cb = device.callback)
            tasks_.emplace(Clock::now(), Task{handle, [cb, notify, code] { (cb->*notify)(code); }});
    wake_.notify_all();
}

QStringList SimulatedCameraSdk::calls() const
{
    std::lock_guard lock(mutex_);
    return calls_;
}

int SimulatedCameraSdk::callCount(const QString& prefix) const
{
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const QString& c : calls_)
        n += c.startsWith(prefix);
    return n;
}

void SimulatedCameraSdk::clearCalls()
{
    std::lock_guard lock(mutex_);
    calls_.clear();
}

QString SimulatedCameraSdk::saveFolder() const
{
    std::lock_guard lock(mutex_);
    return QString::fromStdString(saveFolder_);
}

QStringList SimulatedCameraSdk::pictures() const
{
    std::lock_guard lock(mutex_);
    return pictures_;
}

// ------------------------------------------------------------------- the SDK

std::uint32_t SimulatedCameraSdk::getSdkVersion()
{
    return simulatedVersion;
}

bool SimulatedCameraSdk::init(std::uint32_t logType)
{
    record_(QStringLiteral("Init %1").arg(logType));
    std::lock_guard lock(mutex_);
    initialised_ = initResult_;
    return initResult_;
}

bool SimulatedCameraSdk::release()
{
    record_(QStringLiteral("Release"));
    cancel_(0);
    std::lock_guard lock(mutex_);
    devices_.clear();
    initialised_ = false;
    return true;
}

std::int32_t SimulatedCameraSdk::enumCameraObjects(std::optional<std::vector<CameraObjectInfo>>& cameras,
                                                   std::uint8_t timeoutSeconds)
{
    record_(QStringLiteral("EnumCameraObjects %1").arg(timeoutSeconds));
    std::lock_guard lock(mutex_);
    cameras.reset();
    if (!initialised_)
        return ErrorNotInitialised;
    if (enumerationError_)
        return enumerationError_;
    if (cameraCount_ <= 0)
        return Ok;
    cameras.emplace();
    for (int i = 0; i < cameraCount_; ++i)
        cameras->push_back(CameraObjectInfo{i == 0 ? kModel : std::string(kModel) + " " + std::to_string(i + 1),
                                            std::uint16_t(0x0D00 + i), "USB", "usb-adaptor",
                                            "SIM" + std::to_string(i + 1)});
    return Ok;
}

std::unique_ptr<CameraObjectInfo> SimulatedCameraSdk::createCameraObjectInfo(const CameraObjectInfo& camera)
{
    record_(QStringLiteral("CreateCameraObjectInfo %1").arg(QString::fromStdString(camera.model)));
    return std::make_unique<CameraObjectInfo>(camera);
}

std::int32_t SimulatedCameraSdk::connect(const CameraObjectInfo& camera, DeviceCallback* callback,
                                         DeviceHandle* handle, std::uint32_t mode, std::uint32_t reconnect)
{
    record_(QStringLiteral("Connect %1 mode %2 reconnect %3").arg(QString::fromStdString(camera.model)).arg(mode).arg(reconnect));
    std::unique_lock lock(mutex_);
    if (!initialised_)
        return ErrorNotInitialised;
    const DeviceHandle h = nextHandle_++;
    *handle = h;
    devices_[h] = Device{callback, false};
    const int delay = connectDelay_;
    std::function<void()> answer;
    switch (connectOutcome_) {
    case ConnectOutcome::AgainThenConnect:
        if (!connectAgainGiven_) {
            connectAgainGiven_ = true;
            answer = [callback] { callback->OnError(ErrorConnectAgain); };
            break;
        }
        [[fallthrough]];
    case ConnectOutcome::Connect:
        answer = [this, callback, h] {
            {
                std::lock_guard lock(mutex_);
                const auto it = devices_.find(h);
                if (it == devices_.end())
                    return;
                it->second.connected = true;
            }
            callback->OnConnected(connectedVersion);
        };
        break;
    case ConnectOutcome::Fail: {
        const std::int32_t code = connectErrorCode_;
        answer = [callback, code] { callback->OnError(code); };
        break;
    }
    case ConnectOutcome::Silent:
        break;
    }
    lock.unlock();
    if (answer)
        post_(h, delay, std::move(answer));
    return Ok;
}

std::int32_t SimulatedCameraSdk::disconnect(DeviceHandle handle)
{
    record_(QStringLiteral("Disconnect"));
    std::lock_guard lock(mutex_);
    const auto it = devices_.find(handle);
    if (it == devices_.end())
        return ErrorInvalidHandle;
    if (it->second.connected) {
        it->second.connected = false;
        DeviceCallback* cb = it->second.callback;
        tasks_.emplace(Clock::now() + std::chrono::milliseconds(10), Task{handle, [cb] { cb->OnDisconnected(0); }});
        wake_.notify_all();
    }
    return Ok;
}

std::int32_t SimulatedCameraSdk::releaseDevice(DeviceHandle handle)
{
    record_(QStringLiteral("ReleaseDevice"));
    {
        std::lock_guard lock(mutex_);
        if (!devices_.count(handle))
            return ErrorInvalidHandle;
    }
    // Nothing more reaches the callback object once this returns.
    cancel_(handle);
    std::lock_guard lock(mutex_);
    devices_.erase(handle);
    return Ok;
}

std::int32_t SimulatedCameraSdk::setSaveInfo(DeviceHandle handle, const std::string& folder, const std::string& prefix,
                                             std::int32_t number)
{
    record_(QStringLiteral("SetSaveInfo %1 [%2] %3").arg(QString::fromStdString(folder), QString::fromStdString(prefix)).arg(number));
    std::lock_guard lock(mutex_);
    if (!devices_.count(handle))
        return ErrorInvalidHandle;
    saveFolder_ = folder;
    return Ok;
}

std::int32_t SimulatedCameraSdk::setDeviceSetting(DeviceHandle handle, std::uint32_t setting, std::uint32_t value)
{
    record_(QStringLiteral("SetDeviceSetting %1 %2").arg(setting).arg(value));
    std::lock_guard lock(mutex_);
    return devices_.count(handle) ? Ok : ErrorInvalidHandle;
}

std::int32_t SimulatedCameraSdk::getDeviceProperties(DeviceHandle handle, std::vector<DeviceProperty>& properties)
{
    record_(QStringLiteral("GetDeviceProperties"));
    std::lock_guard lock(mutex_);
    properties.clear();
    if (!devices_.count(handle))
        return ErrorInvalidHandle;
    if (getPropertiesError_)
        return getPropertiesError_;
    for (const auto& [code, p] : properties_)
        properties.push_back(p);
    return Ok;
}

std::int32_t SimulatedCameraSdk::setDeviceProperty(DeviceHandle handle, const DeviceProperty& property)
{
    record_(QStringLiteral("SetDeviceProperty %1=%2").arg(hex(property.GetCode())).arg(property.GetCurrentValue()));
    std::lock_guard lock(mutex_);
    const auto device = devices_.find(handle);
    if (device == devices_.end())
        return ErrorInvalidHandle;
    const auto it = properties_.find(property.GetCode());
    if (it == properties_.end() || it->second.GetPropertyEnableFlag() <= 0)
        return 0x8402;
    const auto policy = policies_.find(property.GetCode());
    const SetPolicy p = policy == policies_.end() ? SetPolicy::Accept : policy->second.first;
    if (p == SetPolicy::Refuse)
        return policy->second.second;
    if (p == SetPolicy::Ignore)
        return Ok;
    it->second.SetCurrentValue(property.GetCurrentValue());
    if (DeviceCallback* cb = device->second.callback) {
        tasks_.emplace(Clock::now() + std::chrono::milliseconds(propertyReportDelay),
                       Task{handle, [cb] { cb->OnPropertyChanged(); }});
        wake_.notify_all();
    }
    return Ok;
}

std::int32_t SimulatedCameraSdk::sendCommand(DeviceHandle handle, std::uint32_t command, std::uint32_t param)
{
    record_(QStringLiteral("SendCommand %1 %2").arg(command).arg(param));
    std::unique_lock lock(mutex_);
    const auto device = devices_.find(handle);
    if (device == devices_.end())
        return ErrorInvalidHandle;
    if (command != Release || param != Down || shutterDelay_ < 0)
        return Ok;
    DeviceCallback* cb = device->second.callback;
    const int delay = shutterDelay_;
    lock.unlock();
    post_(handle, delay, [this, cb] {
        const std::string path = takePicture_();
        if (!path.empty())
            cb->OnCompleteDownload(path.c_str(), 0);
    });
    return Ok;
}

cv::Mat SimulatedCameraSdk::renderView_(cv::Size size)
{
    wallphoto::Shot shot;
    cv::Mat wallImage;
    bool wall = false;
    {
        // Drawn under the lock setWall takes, so a wall that was replaced is
        // never drawn after its owner has gone.
        std::lock_guard draw(displayMutex_);
        shot = shot_;
        wall = bool(wallImage_);
        if (wall)
            wallImage = wallImage_();
    }
    if (!wall) {
        cv::Mat photo = renderActiveDisplay_(size.empty() ? shot.size : size);
        if (!photo.empty()) {
            cv::Mat photo8;
            photo.convertTo(photo8, CV_8U);
            return photo8;
        }
    }
    if (wallImage.empty())
        return cv::Mat(size.empty() ? shot.size : size, CV_8UC3, cv::Scalar::all(2));
    if (!size.empty() && size != shot.size) {
        const float sx = float(size.width) / float(shot.size.width);
        const float sy = float(size.height) / float(shot.size.height);
        for (cv::Point2f& c : shot.corners)
            c = cv::Point2f(c.x * sx, c.y * sy);
        shot.size = size;
    }
    cv::Mat photo8;
    wallphoto::renderPhoto(wallImage, shot).convertTo(photo8, CV_8U);
    return photo8;
}

cv::Mat SimulatedCameraSdk::renderActiveDisplay_(cv::Size size)
{
    // The exposure the camera is set to; AUTO ISO taken as the camera's base.
    double shutter = 0.01, iso = 400.0, fNumber = 11.0;
    {
        std::lock_guard lock(mutex_);
        const auto value = [this](std::uint32_t code) -> std::uint64_t {
            const auto it = properties_.find(code);
            return it == properties_.end() ? 0 : it->second.GetCurrentValue();
        };
        const std::uint64_t speed = value(ShutterSpeed);
        if ((speed >> 16 & 0xFFFF) != 0 && (speed & 0xFFFF) != 0 && (speed >> 16 & 0xFFFF) < 0xFFFE
            && (speed & 0xFFFF) < 0xFFFE)
            shutter = double(speed >> 16 & 0xFFFF) / double(speed & 0xFFFF);
        const std::uint64_t sensitivity = value(IsoSensitivity) & 0xFFFFFFF;
        if (sensitivity != 0 && sensitivity != IsoAuto)
            iso = double(sensitivity);
        if (const std::uint64_t f = value(FNumber); f != 0 && f < 0xFFFE)
            fNumber = double(f) / 100.0;
    }
    // The wall in linear codes: full white at its share of the sensor.
    const float level = float(255.0 * sensorShare(kWhiteLuminance, shutter, iso, fNumber));
    cv::Mat wallImage;
    {
        std::lock_guard lock(displayMutex_);
        if (!activeDisplay_)
            return {};
        wallImage = wallphoto::renderDisplay(*activeDisplay_, level);
    }
    if (wallImage.empty() || size.empty())
        return {};

    // The wall filling most of the frame at its own aspect, slightly turned.
    wallphoto::Shot shot;
    shot.size = size;
    const float aspect = float(wallImage.cols) / float(wallImage.rows);
    const float w = std::min(0.8f * float(size.width), 0.8f * float(size.height) * aspect);
    const float h = w / aspect;
    const float x0 = (float(size.width) - w) / 2.0f, y0 = (float(size.height) - h) / 2.0f;
    const float tilt = 0.012f * w;
    shot.corners = {cv::Point2f(x0, y0), cv::Point2f(x0 + w, y0 + tilt), cv::Point2f(x0 + w - tilt, y0 + h + tilt),
                    cv::Point2f(x0 - tilt, y0 + h)};
    shot.ambient = cv::Vec3f(0.3f, 0.3f, 0.3f);
    shot.noise = 0.2f;
    shot.supersample = 2;
    cv::Mat photo = wallphoto::renderPhoto(wallImage, shot);

    // The JPEG's tone curve.
    cv::Mat linear = cv::min(cv::max(photo, 0.0), 255.0) / 255.0;
    cv::pow(linear, 1.0 / 2.2, linear);
    return linear * 255.0;
}

std::string SimulatedCameraSdk::takePicture_()
{
    QString folder, source;
    int number;
    {
        std::lock_guard lock(mutex_);
        folder = QString::fromStdString(saveFolder_);
        source = pictureFile_;
        number = reuseFileName_ ? 1 : ++pictureNumber_;
    }
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const QString suffix = source.isEmpty() ? QStringLiteral("JPG") : QFileInfo(source).suffix();
    const QString path = QDir(folder).filePath(QStringLiteral("DSC%1.%2").arg(number, 5, 10, QLatin1Char('0')).arg(suffix));
    QFile::remove(path);
    bool written;
    if (!source.isEmpty()) {
        written = QFile::copy(source, path);
    } else {
        const cv::Mat photo = renderView_({});
        try {
            written = cv::imwrite(QFile::encodeName(path).toStdString(), photo, {cv::IMWRITE_JPEG_QUALITY, 97});
        } catch (const cv::Exception& e) {
            qWarning("simulated camera: %s", e.what());
            written = false;
        }
    }
    if (!written) {
        qWarning("simulated camera: could not write the picture %s", qUtf8Printable(path));
        return {};
    }
    std::lock_guard lock(mutex_);
    pictures_.append(path);
    return QFile::encodeName(path).toStdString();
}

std::int32_t SimulatedCameraSdk::getLiveViewImageInfo(DeviceHandle handle, ImageInfo& info)
{
    {
        std::lock_guard lock(mutex_);
        if (!devices_.count(handle))
            return ErrorInvalidHandle;
    }
    std::vector<uchar> frame;
    cv::imencode(".jpg", renderView_(cv::Size(300, 200)), frame);
    std::lock_guard lock(mutex_);
    liveViewFrame_.assign(frame.begin(), frame.end());
    info.bufferSize = std::uint32_t(liveViewFrame_.size());
    return Ok;
}

std::int32_t SimulatedCameraSdk::getLiveViewImage(DeviceHandle handle, ImageDataBlock& block)
{
    std::lock_guard lock(mutex_);
    if (!devices_.count(handle))
        return ErrorInvalidHandle;
    if (!block.GetImageData() || block.GetSize() < liveViewFrame_.size())
        return 0x8402;
    std::copy(liveViewFrame_.begin(), liveViewFrame_.end(), block.GetImageData());
    block.setImageSize(std::uint32_t(liveViewFrame_.size()));
    return Ok;
}
