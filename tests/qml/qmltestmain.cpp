// Runner of the QML component tests: Fusion style, an isolated settings
// store, a stand-in for the central object (just `running`) and a record of
// the messages the scene logs.

#include "platformhelper.h"

#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QStandardPaths>
#include <QStringList>
#include <QtQuickTest>

namespace {

QMutex messagesLock;
QStringList messages;
QtMessageHandler previousHandler = nullptr;

void recordMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    {
        QMutexLocker lock(&messagesLock);
        messages.append(text);
    }
    if (previousHandler)
        previousHandler(type, context, text);
}

} // namespace

class StubVeltranor : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool running READ running WRITE setRunning NOTIFY runningChanged)
public:
    bool running() const { return running_; }
    void setRunning(bool running)
    {
        if (running_ == running)
            return;
        running_ = running;
        Q_EMIT runningChanged(running_);
    }
Q_SIGNALS:
    void runningChanged(bool running);

private:
    bool running_ = false;
};

class MessageLog : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE QStringList all() const
    {
        QMutexLocker lock(&messagesLock);
        return messages;
    }
    // Starts a new record. Test logging installs its own handler when a test
    // starts, so the recorder is put (back) in front of it here.
    Q_INVOKABLE void clear()
    {
        const QtMessageHandler previous = qInstallMessageHandler(recordMessage);
        if (previous != recordMessage)
            previousHandler = previous;
        QMutexLocker lock(&messagesLock);
        messages.clear();
    }
};

class Setup : public QObject
{
    Q_OBJECT
public Q_SLOTS:
    void applicationAvailable()
    {
        QStandardPaths::setTestModeEnabled(true);
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
        PlatformHelper::registerQmlType();
    }
    void qmlEngineAvailable(QQmlEngine* engine)
    {
        engine->rootContext()->setContextProperty(QStringLiteral("veltranor"), &veltranor_);
        engine->rootContext()->setContextProperty(QStringLiteral("messageLog"), &messageLog_);
    }

private:
    StubVeltranor veltranor_;
    MessageLog messageLog_;
};

QUICK_TEST_MAIN_WITH_SETUP(controls, Setup)

#include "qmltestmain.moc"
