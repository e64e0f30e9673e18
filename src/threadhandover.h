#pragma once

// Data handed to another thread by pointer through a queued signal. Qt's
// event queue orders the hand-over under a futex-based lock that
// ThreadSanitizer does not see (Debian's Qt is not instrumented), so the
// reader's first look at data the sender wrote would be reported as a race.
// The sender marks the hand-over, each receiver marks taking it; in builds
// without ThreadSanitizer both are empty.

#if defined(__SANITIZE_THREAD__)
#define VELTRANO_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELTRANO_THREAD_SANITIZER 1
#endif
#endif

#ifdef VELTRANO_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>
#endif

namespace threadhandover {

// On the sending thread, after the last write and before the emit.
inline void handOver([[maybe_unused]] const void* data)
{
#ifdef VELTRANO_THREAD_SANITIZER
    if (data)
        __tsan_release(const_cast<void*>(data));
#endif
}

// On the receiving thread, before the first read.
inline void takeOver([[maybe_unused]] const void* data)
{
#ifdef VELTRANO_THREAD_SANITIZER
    if (data)
        __tsan_acquire(const_cast<void*>(data));
#endif
}

} // namespace threadhandover
