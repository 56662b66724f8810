// Deleting the display's socket file, from whichever thread ends the display
// (interrupt, end of a program run, failure hook). Several may try at about
// the same time; a file that is already gone is no error.
#pragma once

#include <string>

namespace launcher {

/// unlink(); ENOENT is silent, any other failure is reported and ignored.
void remove_socket_file(const std::string& socket_path);

}  // namespace launcher
