#include "display.h"

#include <sys/stat.h>

#include <cerrno>

#include "fatal.h"

namespace launcher {

std::string get_server_path_for_unix_display(std::uint64_t display) {
  return std::string(kSocketDirectory) + "/X" + std::to_string(display);
}

bool path_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::uint64_t choose_display(const std::function<bool(const std::string&)>& exists) {
  for (std::uint64_t n = 99; n >= 1; --n) {
    if (!exists(get_server_path_for_unix_display(n))) return n;
  }
  fail("no display in range (1..99) not available: ()");
}

int make_directories(const std::string& dir) {
  // Walk the path from its root, making each missing component in turn.
  for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    const std::string prefix = dir.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

int claim_socket_path(const std::string& socket_path) {
  if (path_exists(socket_path)) fail("file already exists " + socket_path);
  const std::string dir = socket_path.substr(0, socket_path.rfind('/'));
  if (path_exists(dir)) return 0;
  return make_directories(dir);
}

}  // namespace launcher
