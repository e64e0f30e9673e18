#pragma once

#include <coroutine>
#include <exception>
#include <utility>

// The correction engine's own coroutine task: started lazily, resumed only by
// the thread that drives it, result (bool) readable after it finished until
// the task is destroyed. An exception inside the body ends the program.
class AdjustTask
{
public:
    struct promise_type
    {
        bool value = false;

        AdjustTask get_return_object()
        {
            return AdjustTask(std::coroutine_handle<promise_type>::from_promise(*this));
        }
        std::suspend_always initial_suspend() noexcept { return {}; }
        std::suspend_always final_suspend() noexcept { return {}; }
        void return_value(bool v) noexcept { value = v; }
        void unhandled_exception() noexcept { std::terminate(); }
    };

    AdjustTask() = default;
    explicit AdjustTask(std::coroutine_handle<promise_type> handle)
        : handle_(handle)
    {
    }
    AdjustTask(AdjustTask&& other) noexcept
        : handle_(std::exchange(other.handle_, {}))
    {
    }
    AdjustTask& operator=(AdjustTask&& other) noexcept
    {
        if (this != &other) {
            destroy();
            handle_ = std::exchange(other.handle_, {});
        }
        return *this;
    }
    AdjustTask(const AdjustTask&) = delete;
    AdjustTask& operator=(const AdjustTask&) = delete;
    ~AdjustTask() { destroy(); }

    // An empty task counts as finished.
    bool done() const { return !handle_ || handle_.done(); }
    // Runs the body up to its next suspension; nothing once it has finished.
    void resume()
    {
        if (!done())
            handle_.resume();
    }
    bool result() const { return handle_ && handle_.done() && handle_.promise().value; }
    void destroy()
    {
        if (handle_)
            std::exchange(handle_, {}).destroy();
    }

    // A task that finishes with true at its first resume: what a Calibrator
    // holds while it has nothing to adjust.
    static AdjustTask idle();

private:
    std::coroutine_handle<promise_type> handle_;
};

inline AdjustTask AdjustTask::idle()
{
    co_return true;
}
