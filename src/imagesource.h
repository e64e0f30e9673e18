#pragma once

#include "errortype.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

#include <mutex>

// The camera interface: its properties carry one camera's state to QML and
// to the grab worker, its virtual slots are the only way to drive a camera.
// The base class is the dummy camera: ready once connected, and a grab that
// returns at once without a file (observations then come from the display
// model).
//
// Threads: the object lives on the GUI thread, where its setters run; the
// grab worker reads the ready, busy, error and image-path state from its own
// thread, so those fields are kept under a lock.
class ImageSource : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString statusMessage READ statusMessage WRITE setStatusMessage NOTIFY statusMessageChanged)
    Q_PROPERTY(ErrorType errorType READ errorType WRITE setErrorType NOTIFY errorTypeChanged)
    Q_PROPERTY(bool cameraReady READ cameraReady WRITE setCameraReady NOTIFY cameraReadyChanged)
    Q_PROPERTY(bool cameraBusy READ cameraBusy WRITE setCameraBusy NOTIFY cameraBusyChanged)
    Q_PROPERTY(QString imagePath READ imagePath WRITE setImagePath NOTIFY imagePathChanged)
    Q_PROPERTY(QImage liveViewImage READ liveViewImage WRITE setLiveViewImage NOTIFY liveViewImageChanged)
    Q_PROPERTY(QString cameraName READ cameraName WRITE setCameraName NOTIFY cameraNameChanged)
    Q_PROPERTY(bool isDummy READ isDummy NOTIFY isDummyChanged)
    Q_PROPERTY(bool verbose READ verbose WRITE setVerbose NOTIFY verboseChanged)

public:
    explicit ImageSource(QObject* parent = nullptr);
    ~ImageSource() override;

    QString statusMessage() const;
    ErrorType errorType() const;
    bool cameraReady() const;
    bool cameraBusy() const;
    QString imagePath() const;
    QImage liveViewImage() const;
    QString cameraName() const;
    bool isDummy() const { return isDummy_; }
    bool verbose() const;
    double refreshRate() const { return refreshRate_; }
    int cct() const { return cct_; }

    void setStatusMessage(const QString& message);
    void setErrorType(const ErrorType& errorType);
    void setCameraReady(bool ready);
    void setCameraBusy(bool busy);
    void setImagePath(const QString& path);
    void setLiveViewImage(const QImage& image);
    void setCameraName(const QString& name);
    void setVerbose(bool verbose);

Q_SIGNALS:
    void statusMessageChanged();
    void cameraChanged();
    void connectCamera();
    void reconnectCamera();
    void captureImage();
    void saveImage();
    void deleteImages();
    void cameraReadyChanged();
    void cameraBusyChanged();
    void imagePathChanged();
    void errorTypeChanged();
    void liveViewImageChanged();
    void cameraNameChanged(QString newName);
    void isDummyChanged();
    void verboseChanged(bool newVerbose);

public Q_SLOTS:
    virtual void connect();
    virtual void reconnect();
    virtual void grab();
    // An OK status shows at once; an error shows 100 ms after the last one
    // given, unless an OK status follows within that time.
    virtual void setCameraStatus(ErrorType errorType, QString message);
    virtual void displayFrequency(double refreshRate);
    virtual void displayCct(int newCct);
    // Asks for an exposure change of `clicks` steps (positive: more light);
    // non-zero when the camera changed something.
    virtual int changeExposure(int clicks);
    virtual void saveExposure();
    virtual void useSavedExposure(bool useSaved);
    virtual void autoControlExposure(bool autoControl);
    virtual void useRawImages(bool useRaw);
    virtual void saveLastImage();
    virtual void deleteImageFiles();

    void timerDone();

protected:
    // Clears the image path from any thread: the change is stored under the
    // lock at once and announced on this object's own thread.
    void clearImagePathFromAnyThread_();

    bool isDummy_ = true;

private:
    // A field read under mutex_.
    template <typename T>
    T underLock_(const T& field) const
    {
        std::lock_guard lock(mutex_);
        return field;
    }
    // Stores a field under mutex_ unless it already holds the value; true
    // when it was stored.
    template <typename T>
    bool storeUnderLock_(T& field, const T& value)
    {
        std::lock_guard lock(mutex_);
        if (field == value)
            return false;
        field = value;
        return true;
    }

    // A standard mutex, so that the thread checker follows it.
    mutable std::mutex mutex_;
    QString statusMessage_;
    bool cameraReady_ = false;
    bool cameraBusy_ = false;
    bool verbose_ = false;
    QString imagePath_;
    ErrorType errorType_;
    QImage liveViewImage_;
    QString cameraName_;
    QTimer statusTimer;
    ErrorType pendingError;
    QString pendingMessage;
    double refreshRate_ = 0.0;
    int cct_ = 6500;
};
