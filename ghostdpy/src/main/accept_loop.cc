#include "accept_loop.h"

#include <sys/socket.h>

#include <cerrno>
#include <ctime>
#include <chrono>

#include "connection.h"
#include "console.h"
#include "connection_threads.h"

namespace launcher {

bool is_resource_exhaustion(int err) {
  return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM;
}

namespace {

// Connection threads kept for the next client (see connection_threads.h):
// enough for a program that opens a few displays at once; a parked thread
// costs its stack's touched pages and ends after a few idle seconds.
constexpr std::size_t kMaxParkedThreads = 16;
constexpr std::chrono::milliseconds kParkTime{5000};

void pause_after_exhaustion() {
  timespec pause{0, 50 * 1000 * 1000};
  while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

}  // namespace

void run_accept_loop(x11::UniqueFd listener) {
  for (;;) {
    const int fd = ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      const int err = errno;
      if (err == EINTR) continue;
      x11::console_err("Failed to accept connection: " + x11::describe_errno(err) + "\n");
      if (is_resource_exhaustion(err)) pause_after_exhaustion();
      continue;
    }
    // Never destroyed: its threads use it until the process ends.
    static auto* const threads = new ConnectionThreads(x11::serve_connection, kMaxParkedThreads, kParkTime);
    const int err = threads->serve(x11::UniqueFd(fd));  // closes the socket when no thread takes it
    if (err != 0) {
      x11::console_err("failed to spawn thread: " + x11::describe_errno(err) + "\n");
      if (is_resource_exhaustion(err) || err == EAGAIN) pause_after_exhaustion();
    }
  }
}

}  // namespace launcher
