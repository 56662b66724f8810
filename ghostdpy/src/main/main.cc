// ghostdpy: a stub X11 display server. See launcher.h for the whole run.
#include <malloc.h>

#include <string>
#include <vector>

#include "fatal.h"
#include "launcher.h"

int main(int argc, char** argv) {
  // A request's data (up to 16 MiB) and its echoed reply are each one
  // allocation, made and released per request on many threads at once. With
  // a fixed threshold they are always mapped from the system and returned to
  // it when released; glibc's moving threshold would instead carve them out
  // of per-thread arenas after the first one, which keep that memory. Only
  // memory use depends on it, so a refusal (under a sanitizer) is let be.
  (void)::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  const std::vector<std::string> args(argv, argv + argc);
  int status = 101;  // what a fatal failure of the main thread ends with
  launcher::run_guarded("main", [&] { status = launcher::run_launcher(args); });
  return status;
}
