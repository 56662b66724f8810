#include "display.h"

namespace launcher {

std::string get_server_path_for_unix_display(std::uint64_t display) {
  return std::string(kSocketDirectory) + "/X" + std::to_string(display);
}

std::string get_lock_path_for_unix_display(std::uint64_t display) {
  return "/tmp/.X" + std::to_string(display) + "-lock";
}

}  // namespace launcher
