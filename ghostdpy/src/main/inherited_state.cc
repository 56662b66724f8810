#include "inherited_state.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>

#include "console.h"
#include "fatal.h"

namespace launcher {
namespace {

// Written once by the main thread before any other thread exists.
InheritedSignals inherited;

void set_action(int signal, void (*handler)(int)) {
  struct sigaction action{};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  if (::sigaction(signal, &action, nullptr) != 0)
    fail("failed to set the action of signal " + std::to_string(signal) + ": " + x11::describe_errno(errno));
}

}  // namespace

int open_missing_standard_descriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // open() returns the lowest free descriptor, which is fd: the lower ones
    // are open by now. Not close-on-exec: the program gets them too.
    const int opened = ::open("/dev/null", O_RDWR);
    if (opened < 0) return errno;
    if (opened != fd) {
      ::close(opened);
      return EBADF;
    }
  }
  return 0;
}

void take_over_signals() {
  if (const int err = ::pthread_sigmask(SIG_SETMASK, nullptr, &inherited.mask); err != 0)
    fail("failed to read the signal mask: " + x11::describe_errno(err));
  for (std::size_t i = 0; i < kChangedSignals.size(); ++i) {
    if (::sigaction(kChangedSignals[i], nullptr, &inherited.actions[i]) != 0)
      fail("failed to read the action of signal " + std::to_string(kChangedSignals[i]) + ": " +
           x11::describe_errno(errno));
  }
  set_action(SIGPIPE, SIG_IGN);
  set_action(SIGCHLD, SIG_DFL);
}

const InheritedSignals& inherited_signals() { return inherited; }

}  // namespace launcher
