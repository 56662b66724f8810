// Fatal failures: the one way a thread of ghostdpy gives up.
//
// fail() throws a FatalFailure carrying the exact message. Every thread entry
// of the launcher (main, the accept thread, "ctrl-c") runs its body through
// run_guarded(), which catches it there, runs the failure hook (when one is
// installed) and writes the failure report. What happens next is the
// caller's business: main ends the process with 101, any other thread just
// ends. Nothing else is ever thrown on purpose.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace launcher {

struct FatalFailure {
  std::string message;
};

[[noreturn]] void fail(std::string message);

/// Installs the hook that runs first, in the failing thread, on every later
/// fatal failure. Installed once, on the main thread, before the threads that
/// may fail are started; it stays for the life of the process.
void install_failure_hook(std::function<void()> hook);

/// Runs the hook (if any), then writes "ghostdpy[<thread>]: fatal: <message>".
void report_fatal_failure(std::string_view thread, std::string_view message);

/// Runs body; a FatalFailure escaping it is reported under the thread's name.
/// Returns false when that happened.
bool run_guarded(std::string_view thread, const std::function<void()>& body);

}  // namespace launcher
