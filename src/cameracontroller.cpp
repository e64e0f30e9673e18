#include "cameracontroller.h"

#include "sonycamera.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDeadlineTimer>
#include <QTimer>

CameraController::CameraController(QObject* parent, std::shared_ptr<camerasdk::CameraSdk> sdk)
    : ImageSource(parent)
{
    isDummy_ = false;
    cameraThread_.setObjectName(QStringLiteral("Camera"));
    setCamera(new SonyCamera(false, nullptr, std::move(sdk)));
    camera_->moveToThread(&cameraThread_);
    cameraAlive_ = camera_;

    SonyCamera* cam = camera_;
    QObject::connect(&cameraThread_, &QThread::finished, cam, &SonyCamera::cleanup);
    QObject::connect(&cameraThread_, &QThread::finished, cam, &QObject::deleteLater);
    QObject::connect(this, &ImageSource::connectCamera, cam, &SonyCamera::connectCamera);
    QObject::connect(this, &ImageSource::reconnectCamera, cam, &SonyCamera::reconnectCamera);
    QObject::connect(this, &ImageSource::captureImage, cam, &SonyCamera::captureImage);
    QObject::connect(this, &ImageSource::saveImage, cam, &SonyCamera::saveImage);
    QObject::connect(this, &ImageSource::deleteImages, cam, &SonyCamera::deleteImages);
    QObject::connect(this, &ImageSource::verboseChanged, cam, &SonyCamera::setVerbose);
    QObject::connect(this, &CameraController::displayRefreshRate, cam, &SonyCamera::displayRate);
    QObject::connect(this, &CameraController::displayColorTemp, cam, &SonyCamera::displayColorTemp);
    QObject::connect(this, &CameraController::adjustExposure, cam, &SonyCamera::adjustExposure);
    QObject::connect(this, &CameraController::saveExp, cam, &SonyCamera::saveExposure);
    QObject::connect(this, &CameraController::useSavedExp, cam, &SonyCamera::useSavedExposure);
    QObject::connect(this, &CameraController::autoControlExp, cam, &SonyCamera::autoControlExposure);
    QObject::connect(this, &CameraController::rawImages, cam, &SonyCamera::useRawImages);
    QObject::connect(cam, &SonyCamera::cameraBusyChanged, this, &ImageSource::setCameraBusy);
    QObject::connect(cam, &SonyCamera::cameraReadyChanged, this, &ImageSource::setCameraReady);
    QObject::connect(cam, &SonyCamera::imagePathChanged, this, &ImageSource::setImagePath);
    // Taken on the camera thread and handed over under our own lock, so that
    // no string crosses threads as a queued argument.
    QObject::connect(cam, &SonyCamera::status, this, [this](ErrorType errorType, const QString& message) {
        {
            std::lock_guard lock(statusMutex_);
            pendingStatus_.append({errorType, message});
        }
        QMetaObject::invokeMethod(this, "deliverStatus_", Qt::QueuedConnection);
    }, Qt::DirectConnection);
    QObject::connect(cam, &SonyCamera::liveViewImageChanged, this, &ImageSource::setLiveViewImage);
    QObject::connect(cam, &SonyCamera::nameChanged, this, &ImageSource::setCameraName);
    QObject::connect(cam, &SonyCamera::exposureAdjusted, this, &CameraController::exposureChanged);

    cameraThread_.start(QThread::InheritPriority);
}

CameraController::~CameraController()
{
    cameraThread_.quit();
    cameraThread_.wait();
    // The deferred delete posted as the thread ends is not delivered while the
    // application object itself is going away; the thread has ended, so what
    // is left can be deleted here.
    delete cameraAlive_.data();
}

void CameraController::deliverStatus_()
{
    QList<std::pair<ErrorType, QString>> reports;
    {
        std::lock_guard lock(statusMutex_);
        reports.swap(pendingStatus_);
    }
    for (const auto& [errorType, message] : reports)
        setCameraStatus(errorType, message);
}

void CameraController::setCamera(SonyCamera* camera)
{
    if (camera_ == camera)
        return;
    camera_ = camera;
    Q_EMIT cameraChanged();
}

void CameraController::connect()
{
    Q_EMIT connectCamera();
}

void CameraController::reconnect()
{
    Q_EMIT reconnectCamera();
}

void CameraController::grab()
{
    clearImagePathFromAnyThread_();
    Q_EMIT captureImage();
}

void CameraController::displayFrequency(double refreshRate)
{
    Q_EMIT displayRefreshRate(refreshRate);
}

void CameraController::displayCct(int newCct)
{
    Q_EMIT displayColorTemp(newCct);
}

int CameraController::changeExposure(int clicks)
{
    exposureReported = false;
    Q_EMIT adjustExposure(clicks);
    const QDeadlineTimer deadline(1000);
    // Sleeps in the event wait rather than spinning; the timer ends the wait
    // at the deadline when no answer comes.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    while (!exposureReported) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            break;
        wake.start(int(left));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return exposureResult;
}

void CameraController::exposureChanged(int clicks)
{
    qDebug("CameraController::exposureChanged: %d clicks", clicks);
    exposureResult = clicks != 0 ? 1 : 0;
    exposureReported = true;
}

void CameraController::saveExposure()
{
    Q_EMIT saveExp();
}

void CameraController::useSavedExposure(bool useSaved)
{
    Q_EMIT useSavedExp(useSaved);
}

void CameraController::autoControlExposure(bool autoControl)
{
    Q_EMIT autoControlExp(autoControl);
}

void CameraController::useRawImages(bool useRaw)
{
    Q_EMIT rawImages(useRaw);
}

void CameraController::saveLastImage()
{
    Q_EMIT saveImage();
}

void CameraController::deleteImageFiles()
{
    Q_EMIT deleteImages();
}
