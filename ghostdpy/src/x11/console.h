// The console is ghostdpy's interface: traces on standard output, errors and
// notices on standard error. Every message goes out whole, in one write call
// under a per-stream lock, so lines of concurrent threads never break into
// each other, and nothing is held back in a buffer: output reaches a pipe or
// a file as soon as the message is complete.
#pragma once

#include <string>
#include <string_view>

namespace x11 {

void console_out(std::string_view message);  ///< standard output
void console_err(std::string_view message);  ///< standard error

/// "<text> (errno <n>)": how the system's error number is shown everywhere.
std::string describe_errno(int err);

/// Writes the report of a fatal failure of the named thread, as one message
/// on standard error: "ghostdpy[<thread>]: fatal: <message>\n".
void report_failure(std::string_view thread, std::string_view message);

}  // namespace x11
