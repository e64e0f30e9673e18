#include "polledcontext.h"

namespace testsupport {

PolledContext::PolledContext()
{
    guard_.emplace(io_.get_executor());
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { io_.poll(); }, Qt::QueuedConnection);
    timer_.start(16);
}

PolledContext::~PolledContext()
{
    timer_.stop();
    guard_.reset();
}

void PolledContext::setPolling(bool on)
{
    if (on)
        timer_.start(16);
    else
        timer_.stop();
}

} // namespace testsupport
