#include "spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "inherited_state.h"
#include "unique_fd.h"

namespace launcher {

std::vector<std::string> exec_candidates(const std::string& file, const char* path_env) {
  if (file.empty()) return {};
  if (file.find('/') != std::string::npos) return {file};
  const std::string path = path_env ? path_env : "/bin:/usr/bin";
  std::vector<std::string> candidates;
  for (std::size_t start = 0;;) {
    const std::size_t end = path.find(':', start);
    const std::string dir = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    candidates.push_back(dir.empty() ? file : dir + "/" + file);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return candidates;
}

namespace {

std::vector<char*> pointers_to(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}

// execvp's reading of an exec failure: the file may still be found further
// along the path.
bool try_next_candidate(int err) {
  return err == ENOENT || err == EACCES || err == ESTALE || err == ENOTDIR || err == ENODEV || err == ETIMEDOUT;
}

// The child: async-signal-safe calls only, nothing allocated, never returns.
[[noreturn]] void exec_child(const std::vector<char*>& candidates, char* const* argv, std::vector<char*>& sh_argv,
                             char* const* envp, int report_fd) {
  const InheritedSignals& inherited = inherited_signals();
  for (std::size_t i = 0; i < kChangedSignals.size(); ++i)
    (void)::sigaction(kChangedSignals[i], &inherited.actions[i], nullptr);
  (void)::sigprocmask(SIG_SETMASK, &inherited.mask, nullptr);
  int err = ENOENT;
  bool found_unexecutable = false;
  for (char* candidate : candidates) {
    if (!candidate) break;
    ::execve(candidate, argv, envp);
    err = errno;
    if (err == ENOEXEC) {
      sh_argv[1] = candidate;
      ::execve("/bin/sh", sh_argv.data(), envp);
      break;  // the file's own failure is the one to report
    }
    if (err == EACCES) found_unexecutable = true;
    if (!try_next_candidate(err)) break;
  }
  if (found_unexecutable && try_next_candidate(err)) err = EACCES;
  while (::write(report_fd, &err, sizeof err) < 0 && errno == EINTR) {
  }
  ::_exit(127);
}

}  // namespace

int spawn_program(const std::vector<std::string>& args, const std::vector<std::string>& env, pid_t* pid) {
  // Everything the child needs is made here, before the fork.
  std::vector<std::string> paths = exec_candidates(args[0], ::getenv("PATH"));
  std::vector<std::string> argv_texts = args, env_texts = env;
  std::vector<std::string> sh_texts = {"/bin/sh", ""};
  sh_texts.insert(sh_texts.end(), args.begin() + 1, args.end());
  const std::vector<char*> candidates = pointers_to(paths);
  const std::vector<char*> argv = pointers_to(argv_texts);
  const std::vector<char*> envp = pointers_to(env_texts);
  std::vector<char*> sh_argv = pointers_to(sh_texts);

  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return errno;
  x11::UniqueFd report_read(ends[0]), report_write(ends[1]);

  // No handler of ours may run in the child before its dispositions are set.
  sigset_t all, mask;
  sigfillset(&all);
  if (const int err = ::pthread_sigmask(SIG_SETMASK, &all, &mask); err != 0) return err;
  const pid_t child = ::fork();
  if (child == 0) exec_child(candidates, argv.data(), sh_argv, envp.data(), report_write.get());
  const int fork_err = errno;
  (void)::pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  if (child < 0) return fork_err;

  report_write.reset();
  int exec_err = 0;
  ssize_t n;
  while ((n = ::read(report_read.get(), &exec_err, sizeof exec_err)) < 0 && errno == EINTR) {
  }
  if (n != static_cast<ssize_t>(sizeof exec_err)) {
    *pid = child;  // the pipe closed at the exec: the program runs
    return 0;
  }
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  return exec_err;
}

}  // namespace launcher
