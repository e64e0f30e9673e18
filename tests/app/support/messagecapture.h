#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <mutex>

namespace testsupport {

// Records every Qt message (any thread) while it lives, and passes each on to
// the handler that was installed before it, so QTest::ignoreMessage still
// works. Use it to assert that a message did NOT appear, or how often one did.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    QStringList messages() const;
    // How many messages equal `text`, or start with it when `prefix` is set.
    int count(const QString& text, bool prefix = false) const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    mutable std::mutex mutex_; // a standard mutex: the thread sanitizer follows it
    QStringList messages_;
    QtMessageHandler previous_ = nullptr;
};

} // namespace testsupport
