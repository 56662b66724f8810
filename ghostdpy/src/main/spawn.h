// Starting RUN_PROGRAM as execvp would, with the signal dispositions
// ghostdpy was started with (inherited_state.h).
//
// posix_spawn cannot give a child an ignored signal back (it can only reset
// signals to their default), so the program is started with fork and
// execve: the child, a copy of the calling thread, does only
// async-signal-safe work: it sets the recorded dispositions and signal
// mask, and tries the candidate paths in turn. Its exec failure
// comes back through a close-on-exec pipe, so the caller learns the
// system's reason before it returns.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace launcher {

/// The paths execvp tries for `file`, in order: file itself when it holds a
/// "/", else each element of path_env (glibc's "/bin:/usr/bin" when it is
/// null) followed by "/" and file, an empty element meaning the working
/// directory. Empty for an empty file.
std::vector<std::string> exec_candidates(const std::string& file, const char* path_env);

/// Starts args (args[0] searched along the server's PATH) with the
/// environment env. A candidate that the system refuses for lack of a "#!"
/// line (ENOEXEC) is run by /bin/sh, as execvp does. Returns 0 and sets
/// *pid, or returns the errno that kept the program from starting (EACCES
/// when a candidate was found but not executable, as execvp reports it).
/// REQUIRES: args not empty.
int spawn_program(const std::vector<std::string>& args, const std::vector<std::string>& env, pid_t* pid);

}  // namespace launcher
