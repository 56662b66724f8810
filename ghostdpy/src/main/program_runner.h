// Running RUN_PROGRAM under the display and reporting how it ended.
#pragma once

#include <string>
#include <vector>

namespace launcher {

/// " (SIGHUP)" .. " (SIGSYS)" for 1..31, empty otherwise.
std::string signal_name_part(int signal);

/// "exit status: <c>", "signal: <s> (<NAME>)" or "... (core dumped)", from a
/// waitpid() status that is not a clean exit 0.
std::string describe_status(int wait_status);

/// How ghostdpy ends after the program: its exit code, or 128 + signal.
int exit_status_for(int wait_status);

/// "KEY=VALUE" entries of env, every DISPLAY dropped and DISPLAY=display_name added.
std::vector<std::string> environment_with_display(char* const* env, const std::string& display_name);

/// Starts run_args (spawn.h) unless a stop signal came first, waits for it
/// (passing stop signals on meanwhile, supervisor.h), reports how it ended
/// and returns exit_status_for() it; 128 + the signal, silently, when a stop
/// came before it was started. A program that cannot be started or waited
/// for gets the system's reason on standard error, then `ussage`.
/// REQUIRES: run_args not empty.
int run_program(const std::vector<std::string>& run_args, const std::string& display_name);

}  // namespace launcher
