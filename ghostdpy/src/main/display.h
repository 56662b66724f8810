// The names of a Unix display n, shared with every X server of the machine.
#pragma once

#include <cstdint>
#include <string>

namespace launcher {

inline constexpr const char* kSocketDirectory = "/tmp/.X11-unix";

/// "/tmp/.X11-unix/X<n>", n in decimal: the socket file, and with a leading
/// zero byte the abstract socket name. Pure.
std::string get_server_path_for_unix_display(std::uint64_t display);

/// "/tmp/.X<n>-lock": the lock file. Pure.
std::string get_lock_path_for_unix_display(std::uint64_t display);

}  // namespace launcher
