#include "interrupt.h"

#include <pthread.h>
#include <semaphore.h>
#include <signal.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "console.h"
#include "fatal.h"
#include "supervisor.h"
#include "threads.h"

namespace launcher {
namespace {

constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};

// Arrivals of one signal since the thread last looked, split by whether the
// program has that signal already.
struct Arrivals {
  std::atomic<unsigned> pass_on{0};
  std::atomic<unsigned> shared{0};
};
static_assert(std::atomic<unsigned>::is_always_lock_free, "counted in a signal handler");

std::array<Arrivals, kStopSignals.size()> arrivals;
sem_t interrupt_semaphore;

bool program_has_it_already(const siginfo_t* info) {
  if (info->si_code == SI_KERNEL) return true;  // the terminal, to the whole foreground group
  const pid_t program = program_pid_for_signal_handler();
  return info->si_code <= 0 && program > 0 && info->si_pid == program;  // sent by the program itself
}

void on_stop_signal(int signal, siginfo_t* info, void*) {
  const int saved = errno;  // sem_post is async-signal-safe but may touch errno
  for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
    if (kStopSignals[i] != signal) continue;
    (program_has_it_already(info) ? arrivals[i].shared : arrivals[i].pass_on).fetch_add(1);
  }
  ::sem_post(&interrupt_semaphore);
  errno = saved;
}

sigset_t stop_signal_set() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kStopSignals) sigaddset(&set, signal);
  return set;
}

void interrupt_thread(const std::function<void()>& clean_up) {
  // Only a label for ps and debuggers; the thread works the same without it.
  (void)::pthread_setname_np(::pthread_self(), "ctrl-c");
  // The one thread that takes the stop signals (see install_interrupt_handling).
  const sigset_t stops = stop_signal_set();
  if (const int err = ::pthread_sigmask(SIG_UNBLOCK, &stops, nullptr); err != 0)
    fail("failed to unblock the stop signals: " + x11::describe_errno(err));
  for (;;) {
    while (::sem_wait(&interrupt_semaphore) != 0) {
    }
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
      const unsigned pass_on = arrivals[i].pass_on.exchange(0);
      const unsigned shared = arrivals[i].shared.exchange(0);
      if (pass_on + shared == 0) continue;
      if (handle_stop_signal(kStopSignals[i], pass_on)) {
        clean_up();
        std::exit(0);
      }
    }
  }
}

}  // namespace

void install_interrupt_handling(std::function<void()> clean_up) {
  if (::sem_init(&interrupt_semaphore, 0, 0) != 0)
    fail("failed to initialise the interrupt semaphore: " + x11::describe_errno(errno));
  // Blocked here, and so in every thread started from now on, but "ctrl-c":
  // the handler runs there, in its wait, and never interrupts a system call
  // of another thread. Until it unblocks them they stay pending.
  const sigset_t stops = stop_signal_set();
  if (const int err = ::pthread_sigmask(SIG_BLOCK, &stops, nullptr); err != 0)
    fail("failed to block the stop signals: " + x11::describe_errno(err));
  struct sigaction action{};
  action.sa_sigaction = on_stop_signal;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int signal : kStopSignals) {
    if (::sigaction(signal, &action, nullptr) != 0)
      fail("failed to install the handler of signal " + std::to_string(signal) + ": " + x11::describe_errno(errno));
  }
  const int err = spawn_thread(
      [clean_up = std::move(clean_up)] { run_guarded("ctrl-c", [&] { interrupt_thread(clean_up); }); }, nullptr);
  if (err != 0) fail("failed to spawn thread: " + x11::describe_errno(err));
}

}  // namespace launcher
