#include "veltranor.h"

#include "displaybase.h"

#include <QDebug>

Veltranor::Veltranor(boost::asio::io_context& context, QObject* parent)
    : QObject(parent)
    , context_(context)
{
    appLog_ = GetAppLog();
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
    Q_EMIT runningChanged(running_);
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
