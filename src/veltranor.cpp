#include "veltranor.h"

#include "displaybase.h"
#include "updater.h"

#include <QDebug>

Veltranor::Veltranor(boost::asio::io_context& context, QObject* parent)
    : QObject(parent)
    , context_(context)
{
    appLog_ = GetAppLog();
    updater_ = new Updater(this);
    calibratorThread_.setObjectName(QStringLiteral("Calibrator"));
    backgroundThread_.setObjectName(QStringLiteral("Background"));

    qDebug("backgrounded, not waitlooped");
    calibratorThread_.start(QThread::InheritPriority);
    backgroundThread_.start(QThread::HighestPriority);
}

Veltranor::~Veltranor()
{
    qDebug("~Veltranor()");
    if (running_) {
        running_ = false;
        Q_EMIT runningChanged(false);
    }
    joinWorkers_();
}

void Veltranor::setRunning(bool running)
{
    if (running_ == running)
        return;
    running_ = running;
    if (running_)
        setStatus(0);
    Q_EMIT runningChanged(running_);
}

void Veltranor::runNothing()
{
    if (running_)
        return;
    running_ = true;
    setStatus(0);
    Q_EMIT runningChanged(true);
}

void Veltranor::setStatusString(const QString& statusString)
{
    if (statusString_ == statusString)
        return;
    statusString_ = statusString;
    Q_EMIT statusStringChanged();
}

void Veltranor::setStatus(int status)
{
    if (status_ == status)
        return;
    status_ = status;
    Q_EMIT statusChanged();
}

void Veltranor::setProgress(double progress)
{
    if (qFuzzyCompare(progress_, progress))
        return;
    progress_ = progress;
    Q_EMIT progressChanged();
}

void Veltranor::stop()
{
    if (display_)
        display_->cancel();
    if (running_) {
        running_ = false;
        Q_EMIT runningChanged(false);
    }
    joinWorkers_();
}

void Veltranor::joinWorkers_()
{
    calibratorThread_.quit();
    calibratorThread_.wait();
    backgroundThread_.quit();
    backgroundThread_.wait();
}
