#pragma once

#include "logmodel.h"

class DisplayBase;
class Updater;

#include <QObject>
#include <QThread>

#include <boost/asio/io_context.hpp>

// The program's central object: the QML scene reaches every device and every
// run through it. It owns the device objects and the two worker threads.
class Veltranor : public QObject
{
    Q_OBJECT
    Q_PROPERTY(LogModel* appLog READ appLog CONSTANT)
    Q_PROPERTY(LogModel* linearityLog READ linearityLog CONSTANT)
    Q_PROPERTY(bool running READ running WRITE setRunning NOTIFY runningChanged)
    Q_PROPERTY(QString statusString READ statusString WRITE setStatusString NOTIFY statusStringChanged)
    Q_PROPERTY(int status READ status WRITE setStatus NOTIFY statusChanged)
    Q_PROPERTY(double progress READ progress WRITE setProgress NOTIFY progressChanged)
    Q_PROPERTY(Updater* updater READ updater NOTIFY updaterChanged)
    Q_PROPERTY(int mode READ mode NOTIFY modeChanged)
    Q_PROPERTY(DisplayBase* display READ display NOTIFY displayChanged)

public:
    Veltranor(boost::asio::io_context& context, QObject* parent = nullptr);
    ~Veltranor() override;

    LogModel* appLog() const { return appLog_; }
    LogModel* linearityLog() { return &linearityLog_; }

    bool running() const { return running_; }
    void setRunning(bool running);

    QString statusString() const { return statusString_; }
    void setStatusString(const QString& statusString);
    int status() const { return status_; }
    void setStatus(int status);
    double progress() const { return progress_; }
    void setProgress(double progress);

    Updater* updater() const { return updater_; }

    int mode() const { return mode_; }
    DisplayBase* display() const { return display_; }

    boost::asio::io_context& networkContext() { return context_; }
    QThread& calibratorThread() { return calibratorThread_; }
    QThread& backgroundThread() { return backgroundThread_; }

public Q_SLOTS:
    // Called at aboutToQuit: cancels the active display's requests, ends a run
    // and joins the worker threads, so nothing touches the network context
    // after main has destroyed it.
    void stop();

    // A busy phase without a task: running, so the scene shows the stop
    // button, until whoever called it clears running again.
    void runNothing();

Q_SIGNALS:
    void runningChanged(bool running);
    void statusStringChanged();
    void progressChanged();
    void updaterChanged();
    void statusChanged();
    void modeChanged();
    void displayChanged();

private:
    void joinWorkers_();

    boost::asio::io_context& context_;
    LogModel* appLog_ = nullptr;
    LogModel linearityLog_;
    QThread calibratorThread_;
    QThread backgroundThread_;
    Updater* updater_ = nullptr;
    bool running_ = false;
    QString statusString_;
    int status_ = 0;
    double progress_ = -1.0;
    int mode_ = 0;
    DisplayBase* display_ = nullptr;
};
