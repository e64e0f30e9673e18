#include "sonycamera.h"

#include <cstdlib>
#include <utility>

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>

using namespace camerasdk;

namespace {

constexpr std::uint64_t low28 = 0xFFFFFFF;

QString hexCode(std::int64_t code)
{
    return QString::number(std::uint32_t(code), 16);
}

// The folder the camera saves its pictures into.
QString pictureFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation);
}

bool isPropertyUsed(std::uint32_t code)
{
    switch (code) {
    case ExposureProgramMode: case FNumber: case ShutterSpeed: case IsoSensitivity: case FileType:
    case JpegQuality: case ImageSize: case MeteringMode: case WhiteBalance: case ColorTemperature:
    case FocusMode: case DriveMode: case DroHdrMode: case PictureEffect: case StillImageStoreDestination:
    case PriorityKeySettings:
        return true;
    default:
        return false;
    }
}

} // namespace

SonyCamera::SonyCamera(bool liveView, QObject* parent, std::shared_ptr<CameraSdk> sdk_)
    : QObject(parent)
    , sdk(std::move(sdk_))
{
    qRegisterMetaType<ErrorType>();
    const std::uint32_t version = sdk->getSdkVersion();
    qDebug("Sony Remote SDK version %d.%d.%d", int(version >> 24), int((version >> 16) & 0xFF),
           int((version >> 8) & 0xFF));
    sdkReady = sdk->init(0);
    if (sdkReady) {
        qDebug("Sony Remote SDK successfully initialized.");
        setStatus(ErrorType(2), QStringLiteral("No camera detected"));
    } else {
        qDebug("Failed to initialize Sony Remote SDK.");
        sdk->release();
        setStatus(ErrorType(2), QStringLiteral("Failed to initialize Sony Remote SDK."));
    }
    liveViewEnabled = liveView;

    QSettings settings;
    savedShutter_ = settings.value(QStringLiteral("savedShutter"), 0).toULongLong();
    savedFNumber_ = settings.value(QStringLiteral("savedFNumber"), 0).toULongLong();
    savedIso_ = settings.value(QStringLiteral("savedIso"), 0).toULongLong();

    // Pictures left by the previous run; only files in the picture folder are
    // ours to delete, whatever the settings say.
    const QString folder = QDir(pictureFolder()).canonicalPath();
    for (const char* key : {"lastImage", "savedImage"}) {
        const QString path = settings.value(QLatin1String(key)).toString();
        if (path.isEmpty())
            continue;
        const QFileInfo info(path);
        if (info.isFile() && !folder.isEmpty() && info.canonicalPath() == folder)
            deleteImage_(path);
    }

    QObject::connect(this, &SonyCamera::propertiesChanged, this, &SonyCamera::updateProperties);
    QObject::connect(this, &SonyCamera::pleaseFetchProperies, this, &SonyCamera::fetchProperties);
}

SonyCamera::~SonyCamera()
{
    qDebug("~SonyCamera()");
    disconnectCamera();
    cameraInfo.reset();
    if (sdkReady)
        sdk->release();
    deleteImages();
}

// ------------------------------------------------------------------- state

bool SonyCamera::cameraReady() const
{
    return handle != 0 && isConnected && !shutterDown_ && !cameraBusy_ && errorType_.code == 0;
}

void SonyCamera::announceReady_()
{
    Q_EMIT cameraReadyChanged(cameraReady());
}

void SonyCamera::setBusy_(bool busy)
{
    if (cameraBusy_ == busy)
        return;
    cameraBusy_ = busy;
    Q_EMIT cameraBusyChanged(busy);
    announceReady_();
}

void SonyCamera::setShutterDown_(bool down)
{
    if (shutterDown_ == down)
        return;
    shutterDown_ = down;
    announceReady_();
}

void SonyCamera::setConnected_(bool connected)
{
    if (isConnected == connected)
        return;
    isConnected = connected;
    announceReady_();
}

void SonyCamera::setImagePath(const QString& path)
{
    if (imagePath_ == path)
        return;
    imagePath_ = path;
    Q_EMIT imagePathChanged(path);
    QSettings().setValue(QStringLiteral("lastImage"), path);
}

void SonyCamera::setSavedImagePath(const QString& path)
{
    if (savedImagePath_ == path)
        return;
    savedImagePath_ = path;
    Q_EMIT savedImagePathChanged(path);
    QSettings().setValue(QStringLiteral("savedImage"), path);
}

void SonyCamera::setErrorType(const ErrorType& errorType)
{
    if (errorType_ == errorType)
        return;
    errorType_ = errorType;
    Q_EMIT errorTypeChanged();
}

void SonyCamera::setName(const QString& name)
{
    if (name_ == name)
        return;
    name_ = name;
    Q_EMIT nameChanged(name);
}

void SonyCamera::setVerbose(bool verbose)
{
    if (verbose_ == verbose)
        return;
    verbose_ = verbose;
    Q_EMIT verboseChanged();
}

void SonyCamera::setStatus(const ErrorType& errorType, const QString& message)
{
    setErrorType(errorType);
    setStatusMessage_(message);
    Q_EMIT status(errorType, message);
}

void SonyCamera::setStatusMessage_(const QString& message)
{
    if (statusMessage_ != message) {
        statusMessage_ = message;
        Q_EMIT statusMessageChanged();
    }
    if (!message.isEmpty() && errorType_.code != 0) {
        if (message.startsWith(QLatin1String("~ ")))
            qDebug("%s", qUtf8Printable(message));
        else
            qDebug("*** %s ***", qUtf8Printable(message));
    }
}

void SonyCamera::wait_(const std::function<bool()>& done)
{
    for (int i = 0; i < 200; ++i) {
        if (done())
            return;
        QCoreApplication::processEvents();
        QThread::msleep(50);
    }
}

void SonyCamera::post_(std::function<void()> work)
{
    {
        std::lock_guard lock(inboxMutex_);
        inbox_.push_back(std::move(work));
    }
    QMetaObject::invokeMethod(this, "drainInbox_", Qt::QueuedConnection);
}

void SonyCamera::drainInbox_()
{
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(inboxMutex_);
            if (inbox_.empty())
                return;
            work = std::move(inbox_.front());
            inbox_.pop_front();
        }
        work();
    }
}

// -------------------------------------------------------------- connection

bool SonyCamera::connectCamera()
{
    if (!sdkReady)
        return false;
    setBusy_(true);
    if (!shutterTimer) {
        shutterTimer = new QTimer(this);
        shutterTimer->setSingleShot(true);
        QObject::connect(shutterTimer, &QTimer::timeout, this, &SonyCamera::sendShutterUp);
        liveViewTimer = new QTimer(this);
        QObject::connect(liveViewTimer, &QTimer::timeout, this, &SonyCamera::getLiveViewImage_);
        propertiesTimer = new QTimer(this);
        propertiesTimer->setSingleShot(true);
        QObject::connect(propertiesTimer, &QTimer::timeout, this, &SonyCamera::updateProperties);
    }
    disconnectCamera();

    qDebug("Looking for cameras...");
    setStatus(ErrorType(0), QStringLiteral("Looking for camera..."));
    std::optional<std::vector<CameraObjectInfo>> cameras;
    const std::int32_t found = sdk->enumCameraObjects(cameras, 5);
    if (found != Ok || !cameras) {
        qDebug("SonyCamera::connect: No cameras detected");
        setBusy_(false);
        if (found == ErrorAdaptorCreate) {
            qDebug("Could not create adaptor: CRSDK libraries probably not found. Are they installed properly?");
            setStatus(ErrorType(2), QStringLiteral("Camera discovery error 0x%1; are SDK libraries not installed?")
                                        .arg(hexCode(found)));
        } else if (found == Ok) {
            setStatus(ErrorType(2), QStringLiteral("No camera detected"));
        } else {
            setStatus(ErrorType(2), QStringLiteral("Camera discovery error 0x%1").arg(hexCode(found)));
        }
        return false;
    }

    QString model;
    if (!cameras->empty()) {
        qDebug("Connecting to first camera found...");
        cameraInfo = sdk->createCameraObjectInfo(cameras->front());
        model = QString::fromStdString(cameraInfo->model);
        qDebug("Camera model [%s], USB PID %d, connection type [%s], adaptor [%s]", cameraInfo->model.c_str(),
               int(cameraInfo->usbPid), cameraInfo->connectionType.c_str(), cameraInfo->adaptor.c_str());
        connectError = 0;
        std::int32_t result = sdk->connect(*cameraInfo, this, &handle, 0, 1);
        wait_([this] { return isConnected || connectError != 0; });
        if (connectError == ErrorConnectAgain) {
            disconnectCamera();
            connectError = 0;
            sdk->connect(*cameraInfo, this, &handle, 0, 1);
            wait_([this] { return isConnected || connectError != 0; });
        }
        if (isConnected)
            result = setPictureSaveInfo();
        if (result == Ok)
            liveViewTimer->start(42);
        if (isConnected)
            sdk->setDeviceSetting(handle, LiveViewEnable, liveViewEnabled ? 1 : 0);
    }
    setBusy_(false);

    // A connected camera whose configuration is still under way is no
    // connection error: the property passes make it ready.
    if (handle == 0 || !isConnected) {
        setStatus(ErrorType(2), connectError == 0
                                    ? QStringLiteral("Camera connection error")
                                    : QStringLiteral("Camera connection error 0x%1").arg(hexCode(connectError)));
        setName(QString());
    } else {
        setName(model);
        if (std::exchange(passWanted_, false))
            updateProperties();
        if (cameraReady())
            setStatus(ErrorType(0), QStringLiteral("Camera ready"));
    }
    return cameraReady();
}

bool SonyCamera::reconnectCamera()
{
    qDebug("SonyCamera::reconnectCamera()");
    if (!cameraInfo)
        return false;
    disconnectCamera();
    connectError = 0;
    sdk->connect(*cameraInfo, this, &handle, 0, 1);
    wait_([this] { return isConnected || connectError != 0; });
    if (isConnected)
        sdk->setDeviceSetting(handle, LiveViewEnable, liveViewEnabled ? 1 : 0);
    setBusy_(false);
    setShutterDown_(false);
    return cameraReady();
}

void SonyCamera::disconnectCamera()
{
    if (handle != 0) {
        qDebug("Disconnecting camera...");
        for (QTimer* timer : {shutterTimer, liveViewTimer, propertiesTimer})
            if (timer)
                timer->stop();
        disconnectSeen_ = false;
        sdk->disconnect(handle);
        wait_([this] { return !isConnected || disconnectSeen_; });
        if (disconnectSeen_) {
            connectError = 0;
            setConnected_(false);
        }
        qDebug("...releasing camera...");
        const std::int32_t released = sdk->releaseDevice(handle);
        if (released != Ok)
            qDebug("   ReleaseDevice() error 0x%X", unsigned(released));
        handle = 0;
        announceReady_();
        qDebug("...disconnection done.");
    }
    setName(QString());
    announceReady_();
}

void SonyCamera::cleanup()
{
    qDebug("SonyCamera::cleanup()");
    disconnectCamera();
    deleteImages();
}

std::int32_t SonyCamera::setPictureSaveInfo()
{
    const QString folder = pictureFolder();
    qDebug("SonyCamera images will be saved to %s", qUtf8Printable(folder));
    const std::int32_t result = sdk->setSaveInfo(handle, folder.toStdString(), std::string(), -1);
    if (result != Ok)
        qDebug("SonyCamera::set_save_info: could not set save path: error 0x%X", unsigned(result));
    return result;
}

// ---------------------------------------------------------------- callbacks

void SonyCamera::OnConnected(std::uint32_t version)
{
    qDebug("~ SonyCamera::OnConnected, version %u", version);
    post_([this] {
        connectError = 0;
        setConnected_(true);
        setBusy_(false);
        setShutterDown_(false);
    });
}

void SonyCamera::OnDisconnected(std::uint32_t error)
{
    qDebug("SonyCamera::OnDisconnected, error 0x%X", error);
    disconnectSeen_ = true;
    post_([this] {
        connectError = 0;
        setConnected_(false);
    });
}

void SonyCamera::OnPropertyChanged()
{
    post_([this] { Q_EMIT propertiesChanged(); });
}

void SonyCamera::OnPropertyChangedCodes(std::uint32_t, std::uint32_t*) {}
void SonyCamera::OnLvPropertyChanged() {}
void SonyCamera::OnLvPropertyChangedCodes(std::uint32_t, std::uint32_t*) {}
void SonyCamera::OnNotifyContentsTransfer(std::uint32_t, DeviceHandle, const char*) {}

void SonyCamera::OnCompleteDownload(const char* filename, std::uint32_t)
{
    const QString path = filename ? QString::fromUtf8(filename) : QString();
    post_([this, path] { download_(path); });
}

void SonyCamera::OnWarning(std::int32_t warning)
{
    if (warning == WarningReconnecting) {
        qDebug("~ SonyCamera::OnWarning: disconnected; trying to reconnect...");
        post_([this] {
            setStatus(ErrorType(1),
                      QStringLiteral("SonyCamera disconnected (turned off or unplugged?); trying to reconnect..."));
        });
    } else if (warning == WarningReconnected) {
        qDebug("~ SonyCamera::OnWarning: reconnected.");
        post_([this] {
            setConnected_(true);
            setBusy_(false);
            setShutterDown_(false);
            setStatus(ErrorType(0), QStringLiteral("Camera ready"));
        });
    }
}

void SonyCamera::OnError(std::int32_t error)
{
    qDebug("SonyCamera::OnError: error 0x%X", unsigned(error));
    post_([this, error] {
        connectError = error;
        if (error == ErrorConnectAgain)
            setBusy_(false);
        else
            setStatus(ErrorType(1), QStringLiteral("Camera error 0x%1").arg(hexCode(error)));
    });
}

// ------------------------------------------------------------------ capture

bool SonyCamera::captureImage()
{
    if (!cameraReady()) {
        qDebug("SonyCamera::captureImage(): can't capture: camera not ready or already capturing.");
        qDebug("    handle: %lld, isConnected: %d, shutterDown: %d, busy: %d", static_cast<long long>(handle),
               int(isConnected), int(shutterDown_), int(cameraBusy_));
        return false;
    }
    sdk->sendCommand(handle, Release, Up);
    setBusy_(true);
    sdk->sendCommand(handle, Release, Down);
    setShutterDown_(true);
    if (verbose_)
        qDebug("Shutter down sent");
    setStatus(ErrorType(0), QStringLiteral("Camera capturing image"));
    if (shutterTimer)
        shutterTimer->start(3000);
    else
        qDebug("shutter timer not available!");
    return true;
}

void SonyCamera::sendShutterUp()
{
    if (handle == 0 || !isConnected || !shutterDown_)
        return;
    sdk->sendCommand(handle, Release, Up);
    setBusy_(false);
    setShutterDown_(false);
    if (verbose_)
        qDebug("Shutter up sent");
    setStatus(ErrorType(0), QStringLiteral("Camera ready"));
}

void SonyCamera::download_(QString path)
{
    fixPath_(path);
    if (verbose_)
        qDebug("SonyCamera completed download: %s", qUtf8Printable(path));
    const QString previous = imagePath_;
    if (previous != path)
        setImagePath(path);
    else
        Q_EMIT imagePathChanged(path); // a new picture under the old name is still news
    sendShutterUp();
    if (previous != path)
        deleteImage_(previous);
}

void SonyCamera::fixPath_(QString& path)
{
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

void SonyCamera::deleteImage_(const QString& path)
{
    if (path.isEmpty() || !QFile::exists(path))
        return;
    if (verbose_)
        qDebug("deleting %s", qUtf8Printable(path));
    QFile::remove(path);
}

void SonyCamera::saveImage()
{
    if (imagePath_ != savedImagePath_)
        deleteImage_(savedImagePath_);
    if (verbose_)
        qDebug("SonyCamera::saveImage: [%s]", qUtf8Printable(imagePath_));
    setSavedImagePath(imagePath_);
    setImagePath(QString());
}

void SonyCamera::deleteImages()
{
    deleteImage_(imagePath_);
    deleteImage_(savedImagePath_);
}

void SonyCamera::getLiveViewImage_()
{
    if (!liveViewEnabled)
        return;
    const std::int32_t info = sdk->getLiveViewImageInfo(handle, liveViewInfo);
    if (info != Ok) {
        qDebug("glvi: GetLiveViewImageInfo retcode 0x%X", unsigned(info));
        return;
    }
    if (liveViewBufferSize < liveViewInfo.GetBufferSize()) {
        liveViewBufferSize = liveViewInfo.GetBufferSize();
        liveViewBuffer = std::make_unique<std::uint8_t[]>(liveViewBufferSize);
    }
    liveViewBlock.SetSize(liveViewBufferSize);
    liveViewBlock.SetData(liveViewBuffer.get());
    liveViewFrameSize = liveViewBlock.GetImageSize();
    if (sdk->getLiveViewImage(handle, liveViewBlock) != Ok)
        return;
    liveViewFrameSize = liveViewBlock.GetImageSize();
    if (!liveViewImage_.loadFromData(liveViewBlock.GetImageData(), int(liveViewFrameSize))) {
        qDebug("loadFromData failed!");
        return;
    }
    Q_EMIT liveViewImageChanged(liveViewImage_.copy());
}

// --------------------------------------------------------------- properties

DeviceProperty& SonyCamera::property_(std::uint32_t code)
{
    return properties[code];
}

bool SonyCamera::updateProperty_(DeviceProperty& property, std::uint64_t value, const QString& description)
{
    if (property.GetPropertyEnableFlag() <= 0 || property.GetCurrentValue() == value)
        return false;
    const std::uint64_t old = property.GetCurrentValue();
    property.SetCurrentValue(value);
    configStatus_ = description;
    switch (property.GetCode()) {
    case ShutterSpeed:
        qDebug().noquote() << QStringLiteral("%1 (current %2 (%3/%4), new %5 (%6/%7))")
                                  .arg(description).arg(old).arg((old >> 16) & 0xFFFF).arg(old & 0xFFFF)
                                  .arg(value).arg((value >> 16) & 0xFFFF).arg(value & 0xFFFF);
        break;
    case IsoSensitivity:
        qDebug().noquote() << QStringLiteral("%1 (current %2, new %3)").arg(description).arg(old & low28).arg(value & low28);
        break;
    case FNumber:
        qDebug().noquote() << QStringLiteral("%1 (current %2, new %3)")
                                  .arg(description).arg(double(old) / 100.0, 0, 'f', 1).arg(double(value) / 100.0, 0, 'f', 1);
        break;
    default:
        qDebug().noquote() << QStringLiteral("%1 (current %2, new %3)").arg(description).arg(old).arg(value);
    }
    const std::int32_t result = sdk->setDeviceProperty(handle, property);
    if (result != Ok) {
        qDebug("SonyCamera::updateProperty_ error 0x%X", unsigned(result));
        return false;
    }
    Q_EMIT pleaseFetchProperies();
    return true;
}

void SonyCamera::updateProperties()
{
    if (updatingProperties)
        return;
    // Nothing to configure on a camera that is not connected; a pass asked
    // for while connecting runs once the connection is made.
    if (handle == 0 || !isConnected) {
        passWanted_ = true;
        return;
    }
    updatingProperties = true;
    std::vector<DeviceProperty> list;
    if (sdk->getDeviceProperties(handle, list) != Ok) {
        qDebug("SonyCamera: Failed to get device properties.");
        updatingProperties = false;
        return;
    }
    configStatus_.clear();
    for (const DeviceProperty& p : list)
        if (isPropertyUsed(p.GetCode()))
            properties[p.GetCode()] = p;

    // The fixed configuration, one change per pass: the camera reports the
    // change, and the next pass goes on from the top.
    bool changed = false;
    const auto step = [&](std::uint32_t code, std::uint64_t value, const char* description) {
        if (!changed)
            changed = updateProperty_(property_(code), value, QString::fromUtf8(description));
    };
    step(PriorityKeySettings, 2, "~ Setting control priority to computer...");
    step(ExposureProgramMode, 1, "Setting program mode to M...");
    step(FileType, useRaw ? 2 : 1, useRaw ? "Setting file type to Raw..." : "Setting file type to JPEG...");
    if (!useRaw)
        step(JpegQuality, 3, "Setting fine JPEG quality...");
    step(ImageSize, 1, "Setting large image size...");
    step(MeteringMode, 6, "Setting center-weighted metering mode...");
    step(WhiteBalance, 0x100, "Setting white balance...");
    if (!changed)
        changed = displayColorTemp(lastCct_);
    step(FocusMode, 1, "Setting manual focus mode...");
    step(DriveMode, 1, "Setting single-image drive mode...");
    step(DroHdrMode, 0, "Setting DRO off...");
    step(PictureEffect, 0, "Setting picture effect off...");
    step(StillImageStoreDestination, 1, "Setting image destination to computer only...");
    if (autoControl && savedShutter_ != 0)
        step(ShutterSpeed, savedShutter_, "Setting saved shutter...");
    if (useSaved && savedShutter_ != 0 && savedIso_ != 0 && savedFNumber_ != 0) {
        step(ShutterSpeed, savedShutter_, "Setting saved shutter...");
        step(IsoSensitivity, savedIso_, "Setting saved ISO...");
        step(FNumber, savedFNumber_, "Setting saved aperture...");
    }

    // The exposure summary.
    QString shutterText = QStringLiteral("---------"), apertureText = QStringLiteral("----"),
            isoText = QStringLiteral("-----");
    const DeviceProperty& shutter = property_(ShutterSpeed);
    if (shutter.GetPropertyEnableFlag() > 0) {
        currentShutter = shutter.GetCurrentValue();
        const std::uint64_t num = (currentShutter >> 16) & 0xFFFF, den = currentShutter & 0xFFFF;
        if (num < 0xFFFE && den < 0xFFFE)
            shutterText = QStringLiteral("%1/%2 sec").arg(num).arg(den);
    }
    const DeviceProperty& aperture = property_(FNumber);
    if (aperture.GetPropertyEnableFlag() > 0) {
        currentFNumber = aperture.GetCurrentValue();
        const double f = double(currentFNumber) / 100.0;
        if (f < 655.0)
            apertureText = QStringLiteral("f/%1").arg(f, 0, 'f', currentFNumber % 100 == 0 ? 0 : 1);
    }
    const DeviceProperty& iso = property_(IsoSensitivity);
    if (iso.GetPropertyEnableFlag() > 0) {
        currentIso = iso.GetCurrentValue();
        if ((currentIso & low28) == IsoAuto) {
            isoText = QStringLiteral("ISO AUTO");
            configStatus_ = QStringLiteral("ISO cannot be AUTO: please set a fixed ISO");
        } else {
            isoText = QStringLiteral("ISO %1").arg(currentIso & low28);
        }
    }
    {
        // One remembered line for the whole program.
        static QMutex lineMutex;
        static QString lastLine;
        const QString line = QString::asprintf("%11s  %-6s  %s", qUtf8Printable(shutterText),
                                               qUtf8Printable(apertureText), qUtf8Printable(isoText)).left(99);
        QMutexLocker lock(&lineMutex);
        if (line != lastLine) {
            qDebug("%s", qUtf8Printable(line));
            lastLine = line;
        }
    }

    if (configStatus_.isEmpty())
        setStatus(ErrorType(0), QString());
    else
        setStatus(ErrorType(1, configStatus_), configStatus_);
    announceReady_();

    if (verbose_ && !shutterDown_) {
        if (property_(FNumber).IsSetEnableCurrentValue() && property_(IsoSensitivity).IsSetEnableCurrentValue())
            qDebug(" *** SonyCamera::updateProperties(): good ISO and iris! ***");
        else
            qDebug(" *** SonyCamera::updateProperties(): bad ISO or iris ***");
    }
    updatingProperties = false;
}

void SonyCamera::fetchProperties()
{
    if (propertiesTimer)
        propertiesTimer->start(1000);
}

void SonyCamera::displayRate(double frequency)
{
    const auto fits = [frequency](double d) {
        const double q = frequency / d;
        const double w = std::round(q);
        return std::abs(1.0 - q / w) < 0.002;
    };
    if (fits(5.0)) {
        savedShutter_ = 0x10005;
    } else if (fits(8.0)) {
        savedShutter_ = 0x10008;
    } else {
        qDebug("SonyCamera: didn't set a shutter speed for display refresh rate %.2f Hz", frequency);
        savedShutter_ = 0;
        return;
    }
    qDebug("SonyCamera: using shutter speed 1/%lld for display refresh rate %.2f Hz",
           static_cast<long long>(savedShutter_ & 0xFFFF), frequency);
    updateProperty_(property_(ShutterSpeed), savedShutter_, QStringLiteral("Setting saved shutter..."));
}

bool SonyCamera::displayColorTemp(int cct)
{
    DeviceProperty& temperature = property_(ColorTemperature);
    if (temperature.GetValueSize() != 6) {
        lastCct_ = cct;
        return false;
    }
    const auto minimum = static_cast<long long>(temperature.entry(0, 2));
    const auto maximum = static_cast<long long>(temperature.entry(1, 2));
    const auto step = static_cast<long long>(temperature.entry(2, 2));
    if (minimum > maximum)
        return false;
    auto chosen = static_cast<long long>(temperature.GetCurrentValue());
    if (std::llabs(cct - minimum) < 15000) {
        chosen = minimum;
        while (chosen + step <= maximum && std::llabs(chosen + step - cct) < std::llabs(chosen - cct))
            chosen += step;
    }
    if (std::uint16_t(chosen) == std::uint16_t(temperature.GetCurrentValue()))
        return false;
    lastCct_ = int(chosen);
    updateProperty_(property_(WhiteBalance), 0x100, QStringLiteral("Setting white balance..."));
    return updateProperty_(temperature, std::uint64_t(lastCct_), QStringLiteral("Setting color temp..."));
}

int SonyCamera::adjustFNumber(int clicks, bool doIt)
{
    DeviceProperty& aperture = property_(FNumber);
    if (aperture.GetValueType() != UInt16Array) {
        qDebug("SonyCamera::adjustFNumber: unexpected value type 0x%x != 0x%x", aperture.GetValueType(),
               unsigned(UInt16Array));
        return 0;
    }
    const int n = int(aperture.GetValueSize() / 2);
    if (n < 2) {
        qDebug("SonyCamera::adjustFNumber: no fNumber array; can't adjust");
        return 0;
    }
    const auto entry = [&](int k) { return aperture.entry(std::size_t(k), 2); };
    int f8 = 0;
    while (f8 < n && entry(f8) < 800)
        ++f8;
    if (f8 == n)
        f8 = 0;
    int i = 0;
    while (i < n && entry(i) < aperture.GetCurrentValue())
        ++i;
    if (i == n)
        i = n - 1;
    int t = i - clicks;
    if (t > n - 1)
        t = n - 1;
    if (t < f8)
        t = f8;
    const int done = i - t;
    qDebug("FNumber %+d (of %+d) clicks from %d to %d", done, clicks, int(entry(i)), int(entry(t)));
    if (doIt && done != 0)
        updateProperty_(aperture, entry(t), QStringLiteral("Setting new aperture..."));
    return done;
}

int SonyCamera::adjustIso(int clicks)
{
    DeviceProperty& iso = property_(IsoSensitivity);
    if (iso.GetValueType() != UInt32Array) {
        qDebug("SonyCamera::adjustIso: unexpected value type 0x%x != 0x%x", iso.GetValueType(), unsigned(UInt32Array));
        return 0;
    }
    if (iso.GetValueSize() < 4) {
        qDebug("SonyCamera::adjustIso: no ISO array; can't adjust");
        return 0;
    }
    const int n = int(iso.GetValueSize() / 4);
    const auto entry = [&](int k) { return iso.entry(std::size_t(k), 4); };
    int lo = 0, hi = n - 1;
    for (int k = 0; k < n; ++k)
        if (entry(k) == IsoAuto) {
            if (k == 0)
                lo = 1;
            else if (k == n - 1)
                hi = n - 2;
            break;
        }
    if (lo > hi)
        return 0;
    std::uint64_t current = iso.GetCurrentValue() & low28;
    if (current == IsoAuto)
        current = entry(lo) & low28;
    int i = lo;
    while (i <= hi && (entry(i) & low28) < current)
        ++i;
    if (i > hi)
        i = hi;
    int t = i + clicks;
    if (t < lo)
        t = lo;
    if (t > hi)
        t = hi;
    const int done = t - i;
    qDebug("iso %+d (of %+d) clicks from %d to %d", done, clicks, int(entry(i) & low28), int(entry(t) & low28));
    if (done == 0)
        return 0;
    updateProperty_(iso, entry(t), QStringLiteral("Setting new ISO..."));
    return done;
}

int SonyCamera::adjustExposure(int clicks)
{
    qDebug("==========================");
    int a = adjustFNumber(100, false);
    int iso = 0;
    if (clicks - a != 0) {
        qDebug("set to f/8: aperture wants %d clicks, so adjust ISO %d clicks", a, clicks - a);
        iso = adjustIso(clicks - a);
    }
    if (iso + a != clicks) {
        qDebug("iso did %d clicks, so adjust fNumber %d clicks", iso, clicks - iso);
        a = clicks - iso;
    }
    const int ap = adjustFNumber(a, true);
    const int changes = std::abs(iso) + std::abs(ap);
    qDebug("adjusted aperture %d, iso %d, for %d of %d clicks (emit %d changes)", ap, iso, ap + iso, clicks, changes);
    Q_EMIT exposureAdjusted(changes);
    return ap + iso;
}

void SonyCamera::saveExposure()
{
    savedFNumber_ = currentFNumber;
    savedIso_ = currentIso;
    savedShutter_ = currentShutter;
    QSettings settings;
    settings.setValue(QStringLiteral("savedFNumber"), qulonglong(savedFNumber_));
    settings.setValue(QStringLiteral("savedIso"), qulonglong(savedIso_));
    settings.setValue(QStringLiteral("savedShutter"), qulonglong(savedShutter_));
    qDebug("Saved Exposure parameters.");
}

void SonyCamera::useSavedExposure(bool use)
{
    if (!use) {
        useSaved = false;
        return;
    }
    if (savedShutter_ != 0 && savedFNumber_ != 0 && savedIso_ != 0) {
        useSaved = true;
        updateProperties();
        return;
    }
    qDebug("Can't use saved exposure because a value is zero: shutter %lld aperture %lld iso %lld",
           static_cast<long long>(savedShutter_), static_cast<long long>(savedFNumber_),
           static_cast<long long>(savedIso_));
    useSaved = false;
}

void SonyCamera::autoControlExposure(bool value)
{
    autoControl = value;
}

void SonyCamera::useRawImages(bool value)
{
    useRaw = value;
    updateProperties();
}
