#include "socket_file.h"

#include <unistd.h>

#include <cerrno>

#include "console.h"

namespace launcher {

void remove_socket_file(const std::string& socket_path) {
  if (::unlink(socket_path.c_str()) == 0 || errno == ENOENT) return;
  x11::console_err("Failed to remove " + socket_path + ": " + x11::describe_errno(errno) + "\n");
}

}  // namespace launcher
