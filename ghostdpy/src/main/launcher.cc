#include "launcher.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <memory>

#include "accept_loop.h"
#include "command_line.h"
#include "console.h"
#include "display.h"
#include "display_claim.h"
#include "fatal.h"
#include "inherited_state.h"
#include "interrupt.h"
#include "listener.h"
#include "program_runner.h"
#include "socket_directory.h"
#include "supervisor.h"
#include "tcp_display_name.h"
#include "threads.h"
#include "usage.h"

namespace launcher {
namespace {

int error_return(const std::string& description) {
  x11::console_err("Error: " + description + "\n");
  return 1;
}

[[noreturn]] void refuse_display_port(const std::string& address) {
  ussage("Cannot give a program a display on '" + address +
         "': X display names reach TCP ports from 6000 up only");
}

// A port that no display name reaches is refused before anything starts.
// Port 0 is known only once bound: the system's choice is checked then.
void check_display_port(const CommandLine& line) {
  const auto* tcp = std::get_if<TcpAddress>(&line.target);
  if (!tcp || line.run_args.empty()) return;
  const auto port = tcp_port_of(tcp->bind_address);
  if (port && *port != 0 && *port < kFirstDisplayPort) refuse_display_port(tcp->bind_address);
}

}  // namespace

int run_launcher(const std::vector<std::string>& args) {
  // Start-up phase: any failure here ends the process (status 1 or 101).
  if (const int err = open_missing_standard_descriptors(); err != 0)
    fail("failed to open /dev/null for a closed standard descriptor: " + x11::describe_errno(err));
  set_program_name(args.empty() ? std::string() : args[0]);
  take_over_signals();
  const CommandLine line = read_command_line(args);
  check_display_port(line);

  // The one clean-up of the display, on every way out: a stop signal, the
  // end of a run, a fatal failure. It gives the display back once it is
  // claimed (never in TCP mode). The claim is set before any thread can run
  // the clean-up, and lives as long as the threads that may.
  const auto claim = std::make_shared<std::shared_ptr<DisplayClaim>>();
  const std::function<void()> clean_up = [claim] {
    if (*claim) release_display_claim(**claim);
  };
  // Stops that come before the server serves are kept until it does.
  install_interrupt_handling(clean_up);

  auto listener = std::make_shared<x11::UniqueFd>();
  std::string display_name;
  if (const auto* tcp = std::get_if<TcpAddress>(&line.target)) {
    *listener = open_tcp_listener(tcp->bind_address);
    if (!listener->valid()) ussage("Could not bind address '" + tcp->bind_address + "'");
    const std::string listening = tcp_listening_address(tcp->bind_address, listener->get());
    x11::console_out("Server listening on " + listening + "\n");
    if (!line.run_args.empty()) {
      const auto port = tcp_port_of(listening);
      if (port && *port < kFirstDisplayPort) refuse_display_port(listening);
      display_name = tcp_display_name(listening);
    }
  } else {
    if (const std::string refused = prepare_socket_directory(kSocketDirectory); !refused.empty())
      return error_return(refused);
    const auto* fixed = std::get_if<FixedDisplay>(&line.target);
    ClaimResult result = fixed ? claim_display(fixed->number) : choose_display(claim_display);
    if (result.outcome == ClaimResult::held) fail(result.message);
    if (result.outcome == ClaimResult::failed) return error_return(result.message);
    *claim = std::move(result.claim);  // ours from here on, to give back
    *listener = std::move(result.listener);
    // From here on every way of ending gives the display back, a fatal
    // failure too.
    install_failure_hook(clean_up);
    x11::console_out("Server listening on " + (*claim)->socket_path + "\n");
    display_name = ":" + std::to_string((*claim)->display);
  }

  // Outlives this function: the accept thread may still be running when
  // main returns after a program run.
  auto accept_failed = std::make_shared<std::atomic<bool>>(false);
  pthread_t accept_thread;
  const int err = spawn_thread(
      [listener, accept_failed] {
        const bool ok = run_guarded("accept", [&] { run_accept_loop(std::move(*listener)); });
        accept_failed->store(!ok);
      },
      &accept_thread);
  if (err != 0) fail("failed to spawn thread: " + x11::describe_errno(err));
  listener.reset();

  int status = 0;
  if (line.run_args.empty()) {
    if (begin_serving() != 0) {
      clean_up();
      return 0;
    }
    if (const int join_err = ::pthread_join(accept_thread, nullptr); join_err != 0)
      fail("failed to wait for the accept thread: " + x11::describe_errno(join_err));
    if (accept_failed->load()) fail("the accept thread ended by a fatal failure");
  } else {
    status = run_program(line.run_args, display_name);
  }
  clean_up();
  return status;
}

}  // namespace launcher
