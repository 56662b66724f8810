#include "accept_loop.h"

#include <sys/socket.h>

#include <cerrno>
#include <ctime>
#include <memory>

#include "connection.h"
#include "console.h"
#include "threads.h"

namespace launcher {

bool is_resource_exhaustion(int err) {
  return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM;
}

namespace {

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
    // Shared so that the socket is closed here when no thread takes it.
    auto socket = std::make_shared<x11::UniqueFd>(fd);
    const int err = spawn_thread([socket] { x11::serve_connection(std::move(*socket)); }, nullptr);
    if (err != 0) {
      x11::console_err("failed to spawn thread: " + x11::describe_errno(err) + "\n");
      if (is_resource_exhaustion(err) || err == EAGAIN) pause_after_exhaustion();
    }
  }
}

}  // namespace launcher
