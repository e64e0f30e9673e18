#pragma once

#include <QTimer>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <optional>

namespace testsupport {

// The program's network context as main sets it up: an io_context kept alive
// by a work guard and polled on the creating thread by a 16 ms timer through a
// queued connection. Requests advance only while that thread runs its event
// loop (or waits synchronously, which polls as well).
class PolledContext
{
public:
    PolledContext();
    ~PolledContext();
    PolledContext(const PolledContext&) = delete;
    PolledContext& operator=(const PolledContext&) = delete;

    boost::asio::io_context& io() { return io_; }
    // Stops and restarts the 16 ms poll (to hold exchanges back in a test).
    void setPolling(bool on);

private:
    boost::asio::io_context io_;
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> guard_;
    QTimer timer_;
};

} // namespace testsupport
