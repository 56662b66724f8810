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
#include "fatal.h"
#include "inherited_state.h"
#include "interrupt.h"
#include "listener.h"
#include "program_runner.h"
#include "socket_file.h"
#include "supervisor.h"
#include "tcp_display_name.h"
#include "threads.h"
#include "usage.h"

namespace launcher {
namespace {

int error_return(int err) {
  x11::console_err("Error: " + x11::describe_errno(err) + "\n");
  return 1;
}

// A port that no display name reaches is refused before anything starts.
void check_display_port(const CommandLine& line) {
  const auto* tcp = std::get_if<TcpAddress>(&line.target);
  if (!tcp || line.run_args.empty()) return;
  const auto port = tcp_port_of(tcp->bind_address);
  if (port && *port < kFirstDisplayPort)
    ussage("Cannot give a program a display on '" + tcp->bind_address +
           "': X display names reach TCP ports from 6000 up only");
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
  // end of a run, a fatal failure. It removes the socket once it is bound
  // (never in TCP mode). The path is set before any thread can run the
  // clean-up, and lives as long as the threads that may.
  const auto socket_path = std::make_shared<std::string>();
  const std::function<void()> clean_up = [socket_path] {
    if (!socket_path->empty()) remove_socket_file(*socket_path);
  };
  // Stops that come before the server serves are kept until it does.
  install_interrupt_handling(clean_up);

  auto listener = std::make_shared<x11::UniqueFd>();
  std::string display_name;
  if (const auto* tcp = std::get_if<TcpAddress>(&line.target)) {
    *listener = open_tcp_listener(tcp->bind_address);
    if (!listener->valid()) ussage("Could not bind address '" + tcp->bind_address + "'");
    x11::console_out("Server listening on " + tcp->bind_address + "\n");
    if (!line.run_args.empty()) display_name = tcp_display_name(tcp->bind_address);
  } else {
    const auto* fixed = std::get_if<FixedDisplay>(&line.target);
    const std::uint64_t display = fixed ? fixed->number : choose_display(path_exists);
    const std::string path = get_server_path_for_unix_display(display);
    if (const int err = claim_socket_path(path); err != 0) return error_return(err);
    if (const int err = open_unix_listener(path, listener.get()); err != 0) return error_return(err);
    *socket_path = path;  // ours from here on, to remove
    x11::console_out("Server listening on " + path + "\n");
    display_name = ":" + std::to_string(display);
    install_failure_hook(clean_up);
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
