#include "launcher.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <memory>

#include "accept_loop.h"
#include "command_line.h"
#include "console.h"
#include "display.h"
#include "display_claim.h"
#include "fatal.h"
#include "interrupt.h"
#include "listener.h"
#include "program_runner.h"
#include "socket_directory.h"
#include "threads.h"
#include "usage.h"

namespace launcher {
namespace {

int error_return(const std::string& description) {
  x11::console_err("Error: " + description + "\n");
  return 1;
}

// Writing to a client that has gone must fail with EPIPE, not kill the server.
void ignore_sigpipe() {
  struct sigaction action{};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  if (::sigaction(SIGPIPE, &action, nullptr) != 0)
    fail("failed to ignore SIGPIPE: " + x11::describe_errno(errno));
}

}  // namespace

int run_launcher(const std::vector<std::string>& args) {
  // Start-up phase: any failure here ends the process (status 1 or 101).
  set_program_name(args.empty() ? std::string() : args[0]);
  const CommandLine line = read_command_line(args);
  ignore_sigpipe();

  auto listener = std::make_shared<x11::UniqueFd>();
  std::string display_name;
  std::shared_ptr<DisplayClaim> claim;  // none in TCP mode
  if (const auto* tcp = std::get_if<TcpAddress>(&line.target)) {
    *listener = open_tcp_listener(tcp->bind_address);
    if (!listener->valid()) ussage("Could not bind address '" + tcp->bind_address + "'");
    display_name = tcp_listening_address(tcp->bind_address, listener->get());
    x11::console_out("Server listening on " + display_name + "\n");
  } else {
    if (const std::string refused = prepare_socket_directory(kSocketDirectory); !refused.empty())
      return error_return(refused);
    const auto* fixed = std::get_if<FixedDisplay>(&line.target);
    ClaimResult result = fixed ? claim_display(fixed->number) : choose_display(claim_display);
    if (result.outcome == ClaimResult::held) fail(result.message);
    if (result.outcome == ClaimResult::failed) return error_return(result.message);
    claim = std::move(result.claim);
    *listener = std::move(result.listener);
    // From here on every way of ending gives the display back, a fatal
    // failure too.
    install_failure_hook([claim] { release_display_claim(*claim); });
    x11::console_out("Server listening on " + claim->socket_path + "\n");
    display_name = ":" + std::to_string(claim->display);
    install_interrupt_handling(claim);
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
    if (const int join_err = ::pthread_join(accept_thread, nullptr); join_err != 0)
      fail("failed to wait for the accept thread: " + x11::describe_errno(join_err));
    if (accept_failed->load()) fail("the accept thread ended by a fatal failure");
  } else {
    status = run_program(line.run_args, display_name);
  }
  if (claim) release_display_claim(*claim);
  return status;
}

}  // namespace launcher
