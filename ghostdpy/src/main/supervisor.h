// The server's run as the main thread and the interrupt thread "ctrl-c" both
// see it, so that a stop signal (SIGINT, SIGTERM, SIGHUP) does the right
// thing whenever it comes:
//
//   starting  before the main thread serves or starts the program: the
//             first stop is kept; the main thread acts on it (clean-up, and
//             no program is started).
//   serving   no program: a stop ends the process (clean-up, status 0).
//   running   the program runs: a stop is passed on to it, unless it has
//             that signal already, and the main thread goes on waiting.
//   ended     the program has ended or could not start: the main thread
//             is finishing, a stop changes nothing.
//
// The program is signalled only under the state's lock and only while it
// has not been reaped, so a signal never reaches a recycled process id: the
// main thread sees the end with waitid(WNOWAIT), leaves `running` under the
// lock, and only then reaps.
#pragma once

#include <sys/types.h>

#include <functional>

namespace launcher {

/// The running program's process id, 0 when there is none. Read by the
/// signal handler (a lock-free atomic load).
pid_t program_pid_for_signal_handler() noexcept;

/// Interrupt thread: `signal` came, `pass_on` times from a sender other than
/// the terminal's group or the program itself. Returns true when the process
/// is to end now: clean-up and status 0.
bool handle_stop_signal(int signal, unsigned pass_on);

/// Main thread, no program: from now on a stop ends the process. Returns the
/// signal of a stop that came before, or 0.
int begin_serving();

struct ProgramStart {
  int stop_signal = 0;  ///< a stop came first: nothing was started
  int error = 0;        ///< spawn's errno: nothing was started
  pid_t pid = -1;
};

/// Main thread: starts the program with spawn (which returns 0 or an errno)
/// unless a stop came first. A stop that comes while it is being started
/// is passed on once it runs.
ProgramStart start_program(const std::function<int(pid_t*)>& spawn);

/// Main thread: waits until the started program has ended, then reaps it.
/// Returns 0 and its wait status, or the errno of a wait that failed.
int wait_for_program(pid_t pid, int* wait_status);

}  // namespace launcher
