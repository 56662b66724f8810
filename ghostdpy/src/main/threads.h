// Starting the launcher's threads with a small stack.
//
// A connection thread mostly waits in recv() and keeps its buffers on the
// heap, so 128 KiB of stack is plenty, and thousands of idle clients cost
// little memory. Sanitizer builds need much more stack per frame.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <functional>

namespace launcher {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr std::size_t kThreadStackSize = 2 * 1024 * 1024;
#else
inline constexpr std::size_t kThreadStackSize = 128 * 1024;
#endif

/// Starts body on a new thread; detached when `handle` is null, joinable
/// (handle filled in) otherwise. Returns 0 or the error number.
int spawn_thread(std::function<void()> body, pthread_t* handle);

}  // namespace launcher
