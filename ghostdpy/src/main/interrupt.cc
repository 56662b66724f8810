#include "interrupt.h"

#include <pthread.h>
#include <semaphore.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>

#include "console.h"
#include "fatal.h"
#include "display_claim.h"
#include "threads.h"

namespace launcher {
namespace {

sem_t interrupt_semaphore;

void on_sigint(int) {
  const int saved = errno;  // sem_post is async-signal-safe but may touch errno
  ::sem_post(&interrupt_semaphore);
  errno = saved;
}

void interrupt_thread(DisplayClaim& claim) {
  // Only a label for ps and debuggers; the thread works the same without it.
  (void)::pthread_setname_np(::pthread_self(), "ctrl-c");
  while (::sem_wait(&interrupt_semaphore) != 0) {
  }
  release_display_claim(claim);
  std::exit(0);
}

}  // namespace

void install_interrupt_handling(std::shared_ptr<DisplayClaim> claim) {
  if (::sem_init(&interrupt_semaphore, 0, 0) != 0)
    fail("failed to initialise the interrupt semaphore: " + x11::describe_errno(errno));
  struct sigaction action{};
  action.sa_handler = on_sigint;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  if (::sigaction(SIGINT, &action, nullptr) != 0)
    fail("failed to install the SIGINT handler: " + x11::describe_errno(errno));
  const int err = spawn_thread(
      [claim = std::move(claim)] {
        run_guarded("ctrl-c", [&] { interrupt_thread(*claim); });
      },
      nullptr);
  if (err != 0) fail("failed to spawn thread: " + x11::describe_errno(err));
}

}  // namespace launcher
