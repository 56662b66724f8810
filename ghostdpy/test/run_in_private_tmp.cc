// Runs a command in a private /tmp and network (see private_tmp.h), for
// test scripts:
//
//   run_in_private_tmp COMMAND [ARG...]
//
// The command, every argument that is an absolute path (alone or after "=",
// as in --server=/path), and the current directory stay reachable. Exits 77,
// the skip code of the tests that use it, with the reason on standard error
// when the kernel refuses the isolation; 127 when the command cannot start.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "private_tmp.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s COMMAND [ARG...]\n", argv[0]);
    return 2;
  }
  std::vector<std::string> keep;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto equals = arg.find('=');
    if (arg[0] == '/') keep.push_back(arg);
    else if (equals != std::string::npos && arg.compare(equals + 1, 1, "/") == 0) keep.push_back(arg.substr(equals + 1));
  }
  if (const std::string failure = private_tmp::enter(keep); !failure.empty()) {
    std::fprintf(stderr, "skipped: no private /tmp and network: %s\n", failure.c_str());
    return 77;
  }
  ::execvp(argv[1], argv + 1);
  std::fprintf(stderr, "run_in_private_tmp: cannot start %s: %s\n", argv[1], std::strerror(errno));
  return 127;
}
