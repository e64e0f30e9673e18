#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace testsupport {

// Records every Qt message (any thread) while it lives, and passes each on to
// the handler that was installed before it, so QTest::ignoreMessage still
// works. Use it to assert that a message did NOT appear, or how often one did.
//
// Qt calls the handler it loaded, also after the handler was replaced, so a
// message from another thread can arrive while the capture ends: the handler
// and the destructor share one lock, and a message that finds no capture any
// more is dropped, never recorded into a freed one. One capture at a time.
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

    QStringList messages_;
    QtMessageHandler previous_ = nullptr;
};

} // namespace testsupport
