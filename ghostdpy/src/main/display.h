// Choosing and checking the Unix display: /tmp/.X11-unix/X<n>.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace launcher {

inline constexpr const char* kSocketDirectory = "/tmp/.X11-unix";

/// "/tmp/.X11-unix/X<n>", n in decimal. Pure.
std::string get_server_path_for_unix_display(std::uint64_t display);

/// stat() following symbolic links succeeds: a dangling link or a path that
/// cannot be examined counts as free.
bool path_exists(const std::string& path);

/// The highest display from 99 down to 1 whose socket path does not exist;
/// fails fatally when all 99 are taken. Only `exists` is consulted.
std::uint64_t choose_display(const std::function<bool(const std::string&)>& exists);

/// Fails fatally with "file already exists <path>" when something is at
/// socket_path; then creates its missing directory (mode 0777 less the
/// umask). Returns 0, or the errno of a directory that cannot be created.
int claim_socket_path(const std::string& socket_path);

/// mkdir -p: every missing directory of dir, mode 0777 less the umask; a
/// directory that appears meanwhile counts as made. Returns 0 or an errno.
int make_directories(const std::string& dir);

}  // namespace launcher
