// ghostdpy from its command line to its exit status.
#pragma once

#include <string>
#include <vector>

namespace launcher {

/// Runs the whole server on the main thread and returns the exit status:
/// 1 for an error return at start-up ("Error: ..."), otherwise the started
/// program's status, or 0 when the server stops serving. Fatal failures
/// escape as FatalFailure (status 101 in main).
int run_launcher(const std::vector<std::string>& args);

}  // namespace launcher
