// SIGINT in Unix-socket mode: the handler only posts a semaphore; the
// detached thread "ctrl-c" waits on it, deletes the socket file and ends the
// process with status 0. Every other signal keeps its default action.
#pragma once

#include <string>

namespace launcher {

/// Fails fatally when the handler cannot be installed or the thread started.
void install_interrupt_handling(std::string socket_path);

}  // namespace launcher
