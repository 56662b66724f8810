// What the fuzz targets share: a quiet console and a checker that stops the
// run (so that libFuzzer keeps the input) when a property of the server's
// output does not hold.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace x11::fuzzing {

/// Traces go to /dev/null: they cost time and nobody reads them. Standard
/// error is left alone so that sanitizer reports and the checker's message
/// are seen (libFuzzer's -close_fd_mask=2 silences it during long runs).
inline void silence_standard_output() {
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
  }
}

[[noreturn]] inline void violated(const char* property, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property violated: %s\n", file, line, property);
  std::abort();
}

}  // namespace x11::fuzzing

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::x11::fuzzing::violated(#condition, __FILE__, __LINE__))
