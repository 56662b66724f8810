// The accept thread's loop: one detached connection thread per client.
//
// Loop phase: nothing here may end the process. A failed accept is reported
// and the loop goes on (after a short pause when the system ran out of
// descriptors or memory, so the report does not flood standard error); a
// connection thread that cannot be started costs that one client only.
#pragma once

#include "unique_fd.h"

namespace launcher {

/// EMFILE, ENFILE, ENOBUFS, ENOMEM: accepting again at once would fail again.
bool is_resource_exhaustion(int err);

/// Accepts on listener for ever; each connection is served by
/// x11::serve_connection on a thread of its own.
[[noreturn]] void run_accept_loop(x11::UniqueFd listener);

}  // namespace launcher
