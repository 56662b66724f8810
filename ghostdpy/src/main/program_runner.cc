#include "program_runner.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "console.h"
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

// posix_spawn attributes, destroyed on every path.
struct SpawnAttr {
  posix_spawnattr_t attr;
  int err = ::posix_spawnattr_init(&attr);
  ~SpawnAttr() {
    if (err == 0) ::posix_spawnattr_destroy(&attr);
  }
};

std::vector<char*> pointers_to(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}

// Starts the program and waits for it; returns 0 and its wait status, or an errno.
int spawn_and_wait(std::vector<std::string> args, std::vector<std::string> env, int* wait_status) {
  SpawnAttr a;
  if (a.err != 0) return a.err;
  // The server ignores SIGPIPE; the program must not inherit that.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  if (int err = ::posix_spawnattr_setsigdefault(&a.attr, &defaults); err != 0) return err;
  if (int err = ::posix_spawnattr_setflags(&a.attr, POSIX_SPAWN_SETSIGDEF); err != 0) return err;
  const std::vector<char*> argv = pointers_to(args);
  const std::vector<char*> envp = pointers_to(env);
  pid_t pid;
  // posix_spawnp searches the server's own PATH, as execvp would.
  if (int err = ::posix_spawnp(&pid, argv[0], nullptr, &a.attr, argv.data(), envp.data()); err != 0)
    return err;
  for (;;) {
    if (::waitpid(pid, wait_status, 0) == pid) return 0;
    if (errno != EINTR) return errno;
  }
}

}  // namespace

int run_program(const std::vector<std::string>& run_args, const std::string& display_name) {
  int wait_status = 0;
  if (spawn_and_wait(run_args, environment_with_display(environ, display_name), &wait_status) != 0) {
    std::string joined;
    for (std::size_t i = 0; i < run_args.size(); ++i) {
      if (i > 0) joined += ' ';
      joined += run_args[i];
    }
    ussage("Failed to execute process '" + joined + "'");
  }
  if (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0) {
    x11::console_out("Program successfully executed.\n");
  } else {
    x11::console_err("Program failed with exit code: " + describe_status(wait_status) + "\n");
  }
  return exit_status_for(wait_status);
}

}  // namespace launcher
