#include "console.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace x11 {
namespace {

std::mutex out_lock;
std::mutex err_lock;

// A console that has gone away (closed pipe, full disk) must not take the
// server down: the message is dropped, the work goes on.
void write_whole(int fd, std::mutex& lock, std::string_view message) {
  std::lock_guard<std::mutex> guard(lock);
  const char* p = message.data();
  std::size_t left = message.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace

void console_out(std::string_view message) { write_whole(STDOUT_FILENO, out_lock, message); }
void console_err(std::string_view message) { write_whole(STDERR_FILENO, err_lock, message); }

std::string describe_errno(int err) {
  char buf[256];
  // GNU strerror_r: returns a pointer that may or may not be buf.
  const char* text = ::strerror_r(err, buf, sizeof buf);
  return std::string(text) + " (errno " + std::to_string(err) + ")";
}

void report_failure(std::string_view thread, std::string_view message) {
  std::string report;
  report.reserve(thread.size() + message.size() + 24);
  report.append("ghostdpy[").append(thread).append("]: fatal: ").append(message).append("\n");
  console_err(report);
}

}  // namespace x11
