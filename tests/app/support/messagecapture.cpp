#include "messagecapture.h"

#include <atomic>

namespace testsupport {

namespace {
std::atomic<MessageCapture*> current {nullptr};
}

MessageCapture::MessageCapture()
{
    current = this;
    previous_ = qInstallMessageHandler(&MessageCapture::handler);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(previous_);
    current = nullptr;
}

void MessageCapture::handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    MessageCapture* self = current.load();
    if (!self)
        return;
    {
        std::lock_guard lock(self->mutex_);
        self->messages_.append(message);
    }
    if (self->previous_)
        self->previous_(type, context, message);
}

QStringList MessageCapture::messages() const
{
    std::lock_guard lock(mutex_);
    return messages_;
}

int MessageCapture::count(const QString& text, bool prefix) const
{
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const QString& m : messages_) {
        if (prefix ? m.startsWith(text) : m == text)
            ++n;
    }
    return n;
}

void MessageCapture::clear()
{
    std::lock_guard lock(mutex_);
    messages_.clear();
}

} // namespace testsupport
