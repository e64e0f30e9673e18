#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Our own thin layer between the camera and the camera maker's remote-control
// SDK: one operation per SDK call the camera makes, with the values and
// outcomes it relies on. The build uses the simulated camera
// (SimulatedCameraSdk) where the SDK is absent.
namespace camerasdk {

using DeviceHandle = std::int64_t;

// Result codes (0 is success).
enum : std::int32_t {
    Ok = 0,
    ErrorAdaptorCreate = 0x8703, // the SDK's adaptor libraries failed to load
    ErrorConnectAgain = 0x8210,  // the connection wants one more attempt
};

// Warnings given to DeviceCallback::OnWarning.
enum : std::int32_t {
    WarningReconnected = 0x20001,
    WarningReconnecting = 0x20002, // connection lost, the SDK reconnects by itself
};

// Device property codes.
enum PropertyCode : std::uint32_t {
    FNumber = 0x100,           // f-number x 100; list of 16-bit entries
    ShutterSpeed = 0x103,      // numerator << 16 | denominator
    IsoSensitivity = 0x104,    // ISO in the low 28 bits, 0xFFFFFF is AUTO; list of 32-bit entries
    ExposureProgramMode = 0x105,
    FileType = 0x106,
    JpegQuality = 0x107,
    WhiteBalance = 0x108,
    FocusMode = 0x109,
    MeteringMode = 0x10A,
    DriveMode = 0x10E,
    DroHdrMode = 0x10F,
    ImageSize = 0x110,
    PictureEffect = 0x112,
    ColorTemperature = 0x115,  // kelvin; list: minimum, maximum, step (16 bits each)
    StillImageStoreDestination = 0x119,
    PriorityKeySettings = 0x11A,
};

enum ValueType : std::uint32_t {
    UInt16 = 0x0002,
    UInt32 = 0x0003,
    UInt16Array = 0x2002,
    UInt32Array = 0x2003,
    UInt16Range = 0x4002,
};

// Shutter commands.
enum Command : std::uint32_t { Release = 0 };
enum CommandParam : std::uint32_t { Up = 0, Down = 1 };
// Device settings.
enum DeviceSetting : std::uint32_t { LiveViewEnable = 0 };

constexpr std::uint64_t IsoAuto = 0xFFFFFF;

// One device property with its current value and its list of values.
class DeviceProperty
{
public:
    DeviceProperty() = default;
    DeviceProperty(std::uint32_t code, std::uint64_t current, std::uint32_t valueType,
                   std::vector<std::uint8_t> values = {}, std::int32_t enableFlag = 1, bool setEnable = true)
        : code_(code), current_(current), valueType_(valueType), values_(std::move(values)),
          enableFlag_(enableFlag), setEnable_(setEnable)
    {
    }

    std::uint32_t GetCode() const { return code_; }
    std::uint64_t GetCurrentValue() const { return current_; }
    void SetCurrentValue(std::uint64_t value) { current_ = value; }
    std::uint32_t GetValueType() const { return valueType_; }
    const std::uint8_t* GetValues() const { return values_.data(); }
    std::uint32_t GetValueSize() const { return std::uint32_t(values_.size()); }
    // Above 0: the value can be changed.
    std::int32_t GetPropertyEnableFlag() const { return enableFlag_; }
    bool IsSetEnableCurrentValue() const { return setEnable_; }

    // Entry `i` of a list of 16- or 32-bit little-endian values.
    std::uint64_t entry(std::size_t i, std::size_t width) const;
    // Lists built from entries.
    static std::vector<std::uint8_t> list16(const std::vector<std::uint16_t>& entries);
    static std::vector<std::uint8_t> list32(const std::vector<std::uint32_t>& entries);

private:
    std::uint32_t code_ = 0;
    std::uint64_t current_ = 0;
    std::uint32_t valueType_ = 0;
    std::vector<std::uint8_t> values_;
    std::int32_t enableFlag_ = 0;
    bool setEnable_ = false;
};

// One camera found by an enumeration.
struct CameraObjectInfo
{
    std::string model;
    std::uint16_t usbPid = 0;
    std::string connectionType;
    std::string adaptor;
    std::string id;
};

struct ImageInfo
{
    std::uint32_t bufferSize = 0;
    std::uint32_t GetBufferSize() const { return bufferSize; }
};

// A live-view frame transfer over a caller-owned buffer.
class ImageDataBlock
{
public:
    void SetSize(std::uint32_t size) { capacity_ = size; }
    void SetData(std::uint8_t* data) { data_ = data; }
    std::uint32_t GetSize() const { return capacity_; }
    std::uint32_t GetImageSize() const { return imageSize_; }
    std::uint8_t* GetImageData() const { return data_; }
    void setImageSize(std::uint32_t size) { imageSize_ = size; }

private:
    std::uint8_t* data_ = nullptr;
    std::uint32_t capacity_ = 0;
    std::uint32_t imageSize_ = 0;
};

// The SDK calls these on threads of its own.
class DeviceCallback
{
public:
    virtual ~DeviceCallback() = default;
    virtual void OnConnected(std::uint32_t version) = 0;
    virtual void OnDisconnected(std::uint32_t error) = 0;
    virtual void OnPropertyChanged() = 0;
    virtual void OnPropertyChangedCodes(std::uint32_t num, std::uint32_t* codes) = 0;
    virtual void OnLvPropertyChanged() = 0;
    virtual void OnLvPropertyChangedCodes(std::uint32_t num, std::uint32_t* codes) = 0;
    virtual void OnCompleteDownload(const char* filename, std::uint32_t type) = 0;
    virtual void OnNotifyContentsTransfer(std::uint32_t notify, DeviceHandle handle, const char* filename) = 0;
    virtual void OnWarning(std::int32_t warning) = 0;
    virtual void OnError(std::int32_t error) = 0;
};

class CameraSdk
{
public:
    virtual ~CameraSdk() = default;

    // Top three bytes: major, minor, patch.
    virtual std::uint32_t getSdkVersion() = 0;
    // True when usable; on false release() follows and nothing else.
    virtual bool init(std::uint32_t logType) = 0;
    virtual bool release() = 0;
    // 0 and the cameras found (none: no list); error codes otherwise.
    virtual std::int32_t enumCameraObjects(std::optional<std::vector<CameraObjectInfo>>& cameras,
                                           std::uint8_t timeoutSeconds) = 0;
    // A description of a camera, kept for connect() and reconnection.
    virtual std::unique_ptr<CameraObjectInfo> createCameraObjectInfo(const CameraObjectInfo& camera) = 0;
    // The outcome arrives as OnConnected or OnError on `callback`.
    virtual std::int32_t connect(const CameraObjectInfo& camera, DeviceCallback* callback, DeviceHandle* handle,
                                 std::uint32_t mode, std::uint32_t reconnect) = 0;
    virtual std::int32_t disconnect(DeviceHandle handle) = 0;
    virtual std::int32_t releaseDevice(DeviceHandle handle) = 0;
    // Pictures go into `folder` (UTF-8).
    virtual std::int32_t setSaveInfo(DeviceHandle handle, const std::string& folder, const std::string& prefix,
                                     std::int32_t number) = 0;
    virtual std::int32_t setDeviceSetting(DeviceHandle handle, std::uint32_t setting, std::uint32_t value) = 0;
    // Copies of every device property (the SDK's array is released inside).
    virtual std::int32_t getDeviceProperties(DeviceHandle handle, std::vector<DeviceProperty>& properties) = 0;
    virtual std::int32_t setDeviceProperty(DeviceHandle handle, const DeviceProperty& property) = 0;
    virtual std::int32_t sendCommand(DeviceHandle handle, std::uint32_t command, std::uint32_t param) = 0;
    virtual std::int32_t getLiveViewImageInfo(DeviceHandle handle, ImageInfo& info) = 0;
    virtual std::int32_t getLiveViewImage(DeviceHandle handle, ImageDataBlock& block) = 0;

    // The SDK of this build: the maker's where it is present, else one
    // simulated camera shared by the whole program.
    static std::shared_ptr<CameraSdk> platform();
};

} // namespace camerasdk
