#include "console.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace x11 {
namespace {

std::mutex out_lock;
std::mutex err_lock;
std::atomic<bool> out_failure_reported{false};

int fd_of(ConsoleStream stream) { return stream == ConsoleStream::out ? STDOUT_FILENO : STDERR_FILENO; }
std::mutex& lock_of(ConsoleStream stream) { return stream == ConsoleStream::out ? out_lock : err_lock; }

// Blocks until fd takes more output. Returns 0, or the errno of a poll that
// cannot wait.
int wait_writable(int fd) {
  pollfd p{fd, POLLOUT, 0};
  for (;;) {
    if (::poll(&p, 1, -1) >= 0) return 0;  // readiness or an error state: the next write tells
    if (errno != EINTR) return errno;
  }
}

}  // namespace

int write_all(int fd, std::string_view message) {
  const char* p = message.data();
  std::size_t left = message.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      const int err = errno;
      if (err == EINTR) continue;
      if (err == EAGAIN || err == EWOULDBLOCK) {
        if (const int poll_err = wait_writable(fd); poll_err != 0) return poll_err;
        continue;
      }
      return err;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return 0;
}

namespace {

// The failed message is dropped; the work goes on. Standard error has
// nowhere else to report its own failures.
void note_failure(ConsoleStream stream, int err) {
  if (stream != ConsoleStream::out || out_failure_reported.exchange(true)) return;
  const std::string report = "ghostdpy: trace output failed: " + describe_errno(err) + "\n";
  std::lock_guard<std::mutex> guard(err_lock);
  (void)write_all(STDERR_FILENO, report);
}

void write_message(ConsoleStream stream, std::string_view message) {
  int err;
  {
    std::lock_guard<std::mutex> guard(lock_of(stream));
    err = write_all(fd_of(stream), message);
  }
  if (err != 0) note_failure(stream, err);
}

}  // namespace

void console_out(std::string_view message) { write_message(ConsoleStream::out, message); }
void console_err(std::string_view message) { write_message(ConsoleStream::err, message); }

ConsoleMessage::ConsoleMessage(ConsoleStream stream) : stream_(stream), guard_(lock_of(stream)) {}

ConsoleMessage::~ConsoleMessage() { flush(); }

void ConsoleMessage::write(std::string_view piece) {
  if (failed_) return;
  pending_.append(piece);
  if (pending_.size() >= kPieceSize) flush();
}

// A failure drops the rest of the message, as for a whole one: a message
// with a hole in it would be a broken line. Lock order: standard output's
// lock before standard error's (note_failure), never the other way round.
void ConsoleMessage::flush() {
  if (failed_ || pending_.empty()) return;
  const int err = write_all(fd_of(stream_), pending_);
  pending_.clear();
  if (err != 0) {
    failed_ = true;
    note_failure(stream_, err);
  }
}

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
