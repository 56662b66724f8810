// The directory of the display sockets, /tmp/.X11-unix, shared by every X
// server and every account of the machine. Whoever can replace its entries
// can take over a display, and a symbolic link there would carry our socket
// into someone else's directory; so it is checked before anything is bound.
#pragma once

#include <string>

namespace launcher {

/// mkdir -p: every missing directory of dir, mode 0777 less the umask; a
/// directory that appears meanwhile counts as made. Returns 0 or an errno.
int make_directories(const std::string& dir);

/// Makes sure dir is fit to hold display sockets. A missing one is made
/// (its missing parents as make_directories does) with mode 1777, whatever
/// the umask, as X servers make it. An existing one is used only when it is
/// itself a directory (no symbolic link is followed), owned by root or by
/// this process's account, and not writable by others unless sticky.
/// Returns "" when fit, else the text of the "Error: " line: the path and
/// what is wrong with it.
std::string prepare_socket_directory(const std::string& dir);

}  // namespace launcher
