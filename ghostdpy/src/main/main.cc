// ghostdpy: a stub X11 display server. See launcher.h for the whole run.
#include <string>
#include <vector>

#include "fatal.h"
#include "launcher.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  int status = 101;  // what a fatal failure of the main thread ends with
  launcher::run_guarded("main", [&] { status = launcher::run_launcher(args); });
  return status;
}
