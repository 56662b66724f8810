// Blocking socket I/O with the retries every caller needs: an interrupted
// call is repeated, and sends never raise SIGPIPE (a peer that has gone away
// is an error return, not the end of the process).
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace x11 {

/// One recv() call, repeated while interrupted. Returns what recv returns
/// (0 = end of stream, -1 = failure with errno set).
ssize_t recv_some(int fd, void* buf, std::size_t len);

/// Sends all of buf. Returns 0, or the errno of the failed send.
int send_all(int fd, const void* buf, std::size_t len);

}  // namespace x11
