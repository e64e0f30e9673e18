#pragma once

#include <coroutine>
#include <exception>
#include <utility>

// The correction engine's own coroutine task: started lazily, resumed only by
// the thread that drives it, result (bool) readable after it finished until
// the task is destroyed. An exception inside the body ends the program.
//
// A body hands gains to its driver and suspends; the driver sends them, takes
// an observation and resumes the body. A parent awaits a child by polling,
// never through the continuation: it holds the child in a local, steps it and
// suspends itself while the child is not done, so that one resume of the
// outermost task runs down to the one leaf that suspends:
//
//     AdjustTask child = coChangeColor_(c, delta);
//     while (!child.step())
//         co_await std::suspend_always {};
//
// Destroying a parent parked there destroys the child with the parent's
// locals. A task held in a slot of the Calibrator is no child of the task
// that awaits it and stays in its slot.
class AdjustTask
{
public:
    struct promise_type
    {
        bool value = false;
        // Resumed when the body finishes: the no-op coroutine, so finishing
        // returns to whoever resumed the task.
        std::coroutine_handle<> continuation = std::noop_coroutine();

        struct FinalAwaiter
        {
            bool await_ready() const noexcept { return false; }
            std::coroutine_handle<> await_suspend(std::coroutine_handle<promise_type> h) noexcept
            {
                return h.promise().continuation;
            }
            void await_resume() const noexcept {}
        };

        AdjustTask get_return_object()
        {
            return AdjustTask(std::coroutine_handle<promise_type>::from_promise(*this));
        }
        std::suspend_always initial_suspend() noexcept { return {}; }
        FinalAwaiter final_suspend() noexcept { return {}; }
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
    // One poll of an awaited task: resume it unless finished, then tell
    // whether it has finished.
    bool step()
    {
        resume();
        return done();
    }
    bool result() const { return handle_ && handle_.done() && handle_.promise().value; }
    // No task held (destroyed and not yet replaced).
    bool isNull() const { return !handle_; }
    void destroy()
    {
        if (handle_)
            std::exchange(handle_, {}).destroy();
    }

    // A task with an empty body: its first resume finishes it with result
    // false. What a Calibrator holds while it has nothing to adjust.
    static AdjustTask idle();

private:
    std::coroutine_handle<promise_type> handle_;
};

inline AdjustTask AdjustTask::idle()
{
    co_return false;
}
