#include "lock_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "console.h"
#include "unique_fd.h"

namespace launcher {
namespace {

// Enough for any text a lock of an X server holds, and a little more so that
// a longer one is seen as not a lock text.
constexpr std::size_t kLockTextLimit = 32;

// The lock's text, read through a descriptor that never follows a link nor
// waits on a FIFO; nullopt (errno set) when it cannot be read.
std::optional<std::string> read_lock_text(int fd) {
  char buf[kLockTextLimit + 1];
  std::size_t got = 0;
  while (got < sizeof buf) {
    const ssize_t n = ::read(fd, buf + got, sizeof buf - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return std::string(buf, got);
}

}  // namespace

std::string lock_file_text(pid_t pid) {
  const std::string digits = std::to_string(pid);
  return std::string(digits.size() < 10 ? 10 - digits.size() : 0, ' ') + digits + "\n";
}

std::optional<pid_t> parse_lock_file_text(std::string_view text) {
  if (text.size() > kLockTextLimit) return std::nullopt;
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > 0x7fffffff) return std::nullopt;
  }
  if (value <= 0) return std::nullopt;
  return static_cast<pid_t>(value);
}

int create_lock_file(const std::string& lock_path, FileIdentity* made) {
  // A peer that finds a lock still empty may take it for a broken one and
  // remove it; so the lock appears with its text already in it.
  std::string temporary = lock_path + ".XXXXXX";
  const x11::UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd.valid()) return errno;
  struct stat st{};
  // The mode is set, not left to the umask: every account reads the lock.
  int err = ::fchmod(fd.get(), 0444) == 0 ? x11::write_all(fd.get(), lock_file_text(::getpid())) : errno;
  if (err == 0 && (::fstat(fd.get(), &st) != 0 || ::link(temporary.c_str(), lock_path.c_str()) != 0)) err = errno;
  const bool linked = err == 0;
  if (::unlink(temporary.c_str()) != 0 && linked) {
    // A second name of the lock would stay behind in /tmp: give the lock
    // up. The unlink's error is the one reported; should the lock not go
    // either, nothing more can be done about it here.
    err = errno;
    (void)remove_if_same_file(lock_path, identity_of(st));
  }
  if (err == 0) *made = identity_of(st);
  return err;
}

LockHolder read_lock_holder(const std::string& lock_path) {
  LockHolder holder;
  const x11::UniqueFd fd(::open(lock_path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno == ENOENT) return holder;
    holder.kind = LockHolder::unusable;
    holder.why = errno == ELOOP ? "is a symbolic link" : "cannot be read: " + x11::describe_errno(errno);
    return holder;
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) {
    holder.kind = LockHolder::unusable;
    holder.why = "cannot be examined: " + x11::describe_errno(errno);
    return holder;
  }
  holder.file = identity_of(st);
  holder.kind = LockHolder::unusable;
  if (!S_ISREG(st.st_mode)) {
    holder.why = "is not a regular file";
    return holder;
  }
  const auto text = read_lock_text(fd.get());
  if (!text) {
    holder.why = "cannot be read: " + x11::describe_errno(errno);
    return holder;
  }
  const auto pid = parse_lock_file_text(*text);
  if (!pid) {
    // Possibly a lock being written by a server that writes in place: it is
    // not ours to remove.
    holder.why = "holds no process id";
    return holder;
  }
  holder.pid = *pid;
  // EPERM: the process exists, under another account.
  holder.kind = ::kill(*pid, 0) == 0 || errno != ESRCH ? LockHolder::live : LockHolder::stale;
  return holder;
}

int remove_own_lock_file(const std::string& lock_path, const FileIdentity& made) {
  const x11::UniqueFd fd(::open(lock_path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !is_same_file(st, made)) return ENOENT;
  const auto text = read_lock_text(fd.get());
  if (!text || *text != lock_file_text(::getpid())) return ENOENT;
  return remove_if_same_file(lock_path, made);
}

}  // namespace launcher
