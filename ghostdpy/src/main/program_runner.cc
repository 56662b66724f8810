#include "program_runner.h"

#include <signal.h>
#include <sys/wait.h>

#include "console.h"
#include "spawn.h"
#include "supervisor.h"
#include "usage.h"

extern char** environ;

namespace launcher {

std::string signal_name_part(int signal) {
  static constexpr const char* kNames[] = {
      "SIGHUP",  "SIGINT",    "SIGQUIT", "SIGILL",    "SIGTRAP",   "SIGABRT", "SIGBUS",   "SIGFPE",
      "SIGKILL", "SIGUSR1",   "SIGSEGV", "SIGUSR2",   "SIGPIPE",   "SIGALRM", "SIGTERM",  "SIGSTKFLT",
      "SIGCHLD", "SIGCONT",   "SIGSTOP", "SIGTSTP",   "SIGTTIN",   "SIGTTOU", "SIGURG",   "SIGXCPU",
      "SIGXFSZ", "SIGVTALRM", "SIGPROF", "SIGWINCH",  "SIGIO",     "SIGPWR",  "SIGSYS"};
  if (signal < 1 || signal > 31) return "";
  return std::string(" (") + kNames[signal - 1] + ")";
}

std::string describe_status(int wait_status) {
  if (WIFSIGNALED(wait_status)) {
    const int s = WTERMSIG(wait_status);
    std::string text = "signal: " + std::to_string(s) + signal_name_part(s);
    if (WCOREDUMP(wait_status)) text += " (core dumped)";
    return text;
  }
  return "exit status: " + std::to_string(WEXITSTATUS(wait_status));
}

int exit_status_for(int wait_status) {
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return WEXITSTATUS(wait_status);
}

std::vector<std::string> environment_with_display(char* const* env, const std::string& display_name) {
  std::vector<std::string> out;
  for (char* const* e = env; e && *e; ++e) {
    const std::string_view entry(*e);
    if (entry.substr(0, 8) == "DISPLAY=") continue;
    out.emplace_back(entry);
  }
  out.push_back("DISPLAY=" + display_name);
  return out;
}

namespace {

std::string joined(const std::vector<std::string>& run_args) {
  std::string text;
  for (std::size_t i = 0; i < run_args.size(); ++i) {
    if (i > 0) text += ' ';
    text += run_args[i];
  }
  return text;
}

// The system's reason first, then the message and the usage text.
[[noreturn]] void cannot_run(const std::vector<std::string>& run_args, const std::string& step, int err) {
  x11::console_err("ghostdpy: cannot " + step + " " + run_args[0] + ": " + x11::describe_errno(err) + "\n");
  ussage("Failed to execute process '" + joined(run_args) + "'");
}

}  // namespace

int run_program(const std::vector<std::string>& run_args, const std::string& display_name) {
  const std::vector<std::string> env = environment_with_display(environ, display_name);
  const ProgramStart start =
      start_program([&](pid_t* pid) { return spawn_program(run_args, env, pid); });
  if (start.stop_signal != 0) return 128 + start.stop_signal;
  if (start.error != 0) cannot_run(run_args, "execute", start.error);
  int wait_status = 0;
  if (const int err = wait_for_program(start.pid, &wait_status); err != 0) cannot_run(run_args, "wait for", err);
  if (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0) {
    x11::console_out("Program successfully executed.\n");
  } else {
    x11::console_err("Program failed with exit code: " + describe_status(wait_status) + "\n");
  }
  return exit_status_for(wait_status);
}

}  // namespace launcher
