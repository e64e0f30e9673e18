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

QString ImageSource::statusMessage() const { return underLock_(statusMessage_); }
ErrorType ImageSource::errorType() const { return underLock_(errorType_); }
bool ImageSource::cameraReady() const { return underLock_(cameraReady_); }
bool ImageSource::cameraBusy() const { return underLock_(cameraBusy_); }
QString ImageSource::imagePath() const { return underLock_(imagePath_); }
QImage ImageSource::liveViewImage() const { return underLock_(liveViewImage_); }
QString ImageSource::cameraName() const { return underLock_(cameraName_); }
bool ImageSource::verbose() const { return underLock_(verbose_); }

void ImageSource::setStatusMessage(const QString& message)
{
    if (storeUnderLock_(statusMessage_, message))
        Q_EMIT statusMessageChanged();
}

void ImageSource::setErrorType(const ErrorType& errorType)
{
    if (storeUnderLock_(errorType_, errorType))
        Q_EMIT errorTypeChanged();
}

void ImageSource::setCameraReady(bool ready)
{
    if (storeUnderLock_(cameraReady_, ready))
        Q_EMIT cameraReadyChanged();
}

void ImageSource::setCameraBusy(bool busy)
{
    if (storeUnderLock_(cameraBusy_, busy))
        Q_EMIT cameraBusyChanged();
}

void ImageSource::setImagePath(const QString& path)
{
    if (storeUnderLock_(imagePath_, path))
        Q_EMIT imagePathChanged();
}

void ImageSource::setLiveViewImage(const QImage& image)
{
    if (storeUnderLock_(liveViewImage_, image))
        Q_EMIT liveViewImageChanged();
}

void ImageSource::setCameraName(const QString& name)
{
    if (storeUnderLock_(cameraName_, name))
        Q_EMIT cameraNameChanged(name);
}

void ImageSource::setVerbose(bool verbose)
{
    if (storeUnderLock_(verbose_, verbose))
        Q_EMIT verboseChanged(verbose);
}

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
