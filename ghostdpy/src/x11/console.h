// The console is ghostdpy's interface: traces on standard output, errors and
// notices on standard error. Every message goes out whole under a per-stream
// lock, so lines of concurrent threads never break into each other, and
// nothing is held back in a buffer: output reaches a pipe or a file as soon
// as the message is complete.
//
// Nothing written is lost without a word. A descriptor that some other
// process made non-blocking (the started program shares it) is waited on
// until it takes more. Any other write failure (a full disk, a closed pipe,
// an I/O error) drops the rest of that message; the first such failure of
// standard output is reported on standard error as "ghostdpy: trace output
// failed: <reason>", and the server goes on serving.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace x11 {

void console_out(std::string_view message);  ///< standard output
void console_err(std::string_view message);  ///< standard error

enum class ConsoleStream { out, err };

/// One message too large to build whole, written in pieces: the stream's
/// lock is held from construction to destruction, so the message still goes
/// out as one unit. Pieces are gathered up to kPieceSize before each write.
class ConsoleMessage {
 public:
  static constexpr std::size_t kPieceSize = 64 * 1024;

  explicit ConsoleMessage(ConsoleStream stream);
  ConsoleMessage(const ConsoleMessage&) = delete;
  ConsoleMessage& operator=(const ConsoleMessage&) = delete;
  ~ConsoleMessage();  ///< writes what is still gathered, then unlocks

  void write(std::string_view piece);

 private:
  void flush();

  ConsoleStream stream_;
  std::lock_guard<std::mutex> guard_;
  std::string pending_;
  bool failed_ = false;
};

/// Writes all of message to a file or pipe, as every console message is:
/// a descriptor that another process made non-blocking is waited on until
/// it takes more. Returns 0 or the errno that stopped it. Takes no lock.
int write_all(int fd, std::string_view message);

/// "<text> (errno <n>)": how the system's error number is shown everywhere.
std::string describe_errno(int err);

/// Writes the report of a fatal failure of the named thread, as one message
/// on standard error: "ghostdpy[<thread>]: fatal: <message>\n".
void report_failure(std::string_view thread, std::string_view message);

}  // namespace x11
