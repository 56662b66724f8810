#include "supervisor.h"

#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <mutex>

namespace launcher {
namespace {

enum class Phase { starting, serving, running, ended };

struct RunState {
  std::mutex lock;
  Phase phase = Phase::starting;
  int stop_signal = 0;
  pid_t pid = 0;
};

RunState state;
std::atomic<pid_t> program_pid{0};
static_assert(std::atomic<pid_t>::is_always_lock_free, "read in a signal handler");

}  // namespace

pid_t program_pid_for_signal_handler() noexcept { return program_pid.load(std::memory_order_relaxed); }

bool handle_stop_signal(int signal, unsigned pass_on) {
  std::lock_guard<std::mutex> guard(state.lock);
  switch (state.phase) {
    case Phase::starting:
      if (state.stop_signal == 0) state.stop_signal = signal;
      return false;
    case Phase::serving:
      return true;
    case Phase::running:
      // The program is not reaped yet (see wait_for_program), so the id is
      // still its own; an error could only mean it is gone already.
      for (unsigned i = 0; i < pass_on; ++i) (void)::kill(state.pid, signal);
      return false;
    case Phase::ended:
      return false;
  }
  return false;
}

int begin_serving() {
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.stop_signal != 0) {
    state.phase = Phase::ended;
    return state.stop_signal;
  }
  state.phase = Phase::serving;
  return 0;
}

ProgramStart start_program(const std::function<int(pid_t*)>& spawn) {
  // Held while the program is started: a stop that comes meanwhile waits
  // here and then finds the program running.
  std::lock_guard<std::mutex> guard(state.lock);
  ProgramStart start;
  if (state.stop_signal != 0) {
    state.phase = Phase::ended;
    start.stop_signal = state.stop_signal;
    return start;
  }
  start.error = spawn(&start.pid);
  if (start.error != 0) {
    state.phase = Phase::ended;
    return start;
  }
  state.phase = Phase::running;
  state.pid = start.pid;
  program_pid.store(start.pid, std::memory_order_relaxed);
  return start;
}

namespace {

void end_running() {
  std::lock_guard<std::mutex> guard(state.lock);
  state.phase = Phase::ended;
  program_pid.store(0, std::memory_order_relaxed);
}

}  // namespace

int wait_for_program(pid_t pid, int* wait_status) {
  siginfo_t info;
  while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
    if (errno == EINTR) continue;
    const int err = errno;
    end_running();
    return err;
  }
  end_running();
  for (;;) {
    if (::waitpid(pid, wait_status, 0) == pid) return 0;
    if (errno != EINTR) return errno;
  }
}

}  // namespace launcher
