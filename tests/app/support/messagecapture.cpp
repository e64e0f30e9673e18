#include "messagecapture.h"

#include <mutex>

namespace testsupport {

namespace {
// One lock for the capture in place and its messages, taken by the handler on
// any thread and by the capture's beginning and end. A standard mutex: the
// thread sanitizer follows it. Constant-initialised, so it outlives every
// capture and every thread that logs at exit.
constinit std::mutex lock;
MessageCapture* current = nullptr;
} // namespace

MessageCapture::MessageCapture()
{
    // The handler is in place before the capture is: a message in between
    // finds no capture and is dropped.
    const QtMessageHandler previous = qInstallMessageHandler(&MessageCapture::handler);
    std::lock_guard guard(lock);
    previous_ = previous;
    current = this;
}

MessageCapture::~MessageCapture()
{
    // Qt may still call this handler after it is replaced (a thread that
    // loaded it before): once `current` is cleared under the lock, no handler
    // touches this capture again. Qt is called outside the lock, so a Qt that
    // locks its handler while calling it cannot deadlock with a message
    // waiting here.
    qInstallMessageHandler(previous_);
    std::lock_guard guard(lock);
    current = nullptr;
}

void MessageCapture::handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    QtMessageHandler previous = nullptr;
    {
        std::lock_guard guard(lock);
        if (!current)
            return;
        // A copy of its own: the message's text is shared with the logging
        // thread's, whose release happens inside Qt, unseen by the thread
        // sanitizer.
        current->messages_.append(QString(message.constData(), message.size()));
        previous = current->previous_;
    }
    // Outside the lock: the previous handler may log itself or take locks of
    // its own.
    if (previous)
        previous(type, context, message);
}

QStringList MessageCapture::messages() const
{
    std::lock_guard guard(lock);
    return messages_;
}

int MessageCapture::count(const QString& text, bool prefix) const
{
    std::lock_guard guard(lock);
    int n = 0;
    for (const QString& m : messages_) {
        if (prefix ? m.startsWith(text) : m == text)
            ++n;
    }
    return n;
}

void MessageCapture::clear()
{
    std::lock_guard guard(lock);
    messages_.clear();
}

} // namespace testsupport
