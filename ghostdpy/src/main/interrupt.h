// SIGINT in Unix-socket mode: the handler only posts a semaphore; the
// detached thread "ctrl-c" waits on it, gives the display back (socket file
// and lock) and ends the process with status 0. Every other signal keeps its
// default action.
#pragma once

#include <memory>

#include "display_claim.h"

namespace launcher {

/// Fails fatally when the handler cannot be installed or the thread started.
void install_interrupt_handling(std::shared_ptr<DisplayClaim> claim);

}  // namespace launcher
