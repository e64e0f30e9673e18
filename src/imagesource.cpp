#include "imagesource.h"

#include <QDebug>
#include <QThread>

ImageSource::ImageSource(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<ErrorType>();
    statusTimer.setSingleShot(true);
    statusTimer.setInterval(100);
    QObject::connect(&statusTimer, &QTimer::timeout, this, &ImageSource::timerDone);
}

ImageSource::~ImageSource() = default;

QString ImageSource::statusMessage() const
{
    std::lock_guard lock(mutex_);
    return statusMessage_;
}

ErrorType ImageSource::errorType() const
{
    std::lock_guard lock(mutex_);
    return errorType_;
}

bool ImageSource::cameraReady() const
{
    std::lock_guard lock(mutex_);
    return cameraReady_;
}

bool ImageSource::cameraBusy() const
{
    std::lock_guard lock(mutex_);
    return cameraBusy_;
}

QString ImageSource::imagePath() const
{
    std::lock_guard lock(mutex_);
    return imagePath_;
}

QImage ImageSource::liveViewImage() const
{
    std::lock_guard lock(mutex_);
    return liveViewImage_;
}

QString ImageSource::cameraName() const
{
    std::lock_guard lock(mutex_);
    return cameraName_;
}

bool ImageSource::verbose() const
{
    std::lock_guard lock(mutex_);
    return verbose_;
}

// Stores `value` into `field` under the lock; true when it changed.
#define VELTRANO_STORE(field, value)                                                               \
    do {                                                                                           \
        std::lock_guard lock(mutex_);                                                                \
        if (field == value)                                                                        \
            return;                                                                                \
        field = value;                                                                             \
    } while (false)

void ImageSource::setStatusMessage(const QString& message)
{
    VELTRANO_STORE(statusMessage_, message);
    Q_EMIT statusMessageChanged();
}

void ImageSource::setErrorType(const ErrorType& errorType)
{
    VELTRANO_STORE(errorType_, errorType);
    Q_EMIT errorTypeChanged();
}

void ImageSource::setCameraReady(bool ready)
{
    VELTRANO_STORE(cameraReady_, ready);
    Q_EMIT cameraReadyChanged();
}

void ImageSource::setCameraBusy(bool busy)
{
    VELTRANO_STORE(cameraBusy_, busy);
    Q_EMIT cameraBusyChanged();
}

void ImageSource::setImagePath(const QString& path)
{
    VELTRANO_STORE(imagePath_, path);
    Q_EMIT imagePathChanged();
}

void ImageSource::setLiveViewImage(const QImage& image)
{
    VELTRANO_STORE(liveViewImage_, image);
    Q_EMIT liveViewImageChanged();
}

void ImageSource::setCameraName(const QString& name)
{
    VELTRANO_STORE(cameraName_, name);
    Q_EMIT cameraNameChanged(name);
}

void ImageSource::setVerbose(bool verbose)
{
    VELTRANO_STORE(verbose_, verbose);
    Q_EMIT verboseChanged(verbose);
}

#undef VELTRANO_STORE

void ImageSource::clearImagePathFromAnyThread_()
{
    {
        std::lock_guard lock(mutex_);
        if (imagePath_.isEmpty())
            return;
        imagePath_.clear();
    }
    if (QThread::currentThread() == thread())
        Q_EMIT imagePathChanged();
    else
        QMetaObject::invokeMethod(this, "imagePathChanged", Qt::QueuedConnection);
}

// ------------------------------------------------------------- dummy camera

void ImageSource::connect()
{
    qDebug("Dummy Camera connected (readings will use Simulated Display).");
    setCameraName(QStringLiteral("Dummy Camera"));
    setCameraReady(true);
}

void ImageSource::reconnect()
{
    qDebug("Dummy Camera reconnected (readings will use Simulated Display).");
    setCameraReady(true);
}

void ImageSource::grab()
{
    qDebug("\"Captured\" an image.");
}

void ImageSource::setCameraStatus(ErrorType errorType, QString message)
{
    pendingError = errorType;
    pendingMessage = message;
    if (errorType.code == 0) {
        statusTimer.stop();
        setErrorType(errorType);
        setStatusMessage(QString());
    } else {
        statusTimer.start();
    }
}

void ImageSource::timerDone()
{
    if (pendingError.code == 0)
        return;
    setErrorType(pendingError);
    setStatusMessage(pendingMessage);
}

void ImageSource::displayFrequency(double refreshRate)
{
    refreshRate_ = refreshRate;
}

void ImageSource::displayCct(int newCct)
{
    cct_ = newCct;
}

int ImageSource::changeExposure(int clicks)
{
    return clicks;
}

void ImageSource::saveExposure() {}
void ImageSource::useSavedExposure(bool) {}
void ImageSource::autoControlExposure(bool) {}
void ImageSource::useRawImages(bool) {}
void ImageSource::saveLastImage() {}
void ImageSource::deleteImageFiles() {}
