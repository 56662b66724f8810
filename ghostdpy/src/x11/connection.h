// The client connection handler: serves one connected X11 stream socket
// (Unix-domain or TCP, the same way) from its first byte to its end.
//
// Handshake: the 12-byte setup request, byte order from byte 0 ('l' = 0x6C
// LSB first, 'B' = 0x42 MSB first), authorisation name and data skipped
// whatever they hold, then the fixed setup reply of that byte order.
//
// Requests: a 4-byte header (opcode, extra_spec, length in 4-byte units)
// and 4 * length - 4 data bytes. A length of 0 announces a BIG-REQUESTS
// request: a 32-bit extended length follows (client order, counting the
// whole request including the header and itself, 2 to kMaxExtendedLength),
// then 4 * ext - 8 data bytes. Requests are numbered from 1, wrapping at
// 16 bits, traced on standard output and answered by create_response_message.
//
// Every failure is reported inside; the handler never throws and ends only
// when the connection is over, with the socket closed exactly once.
#pragma once

#include <cstdint>

#include "unique_fd.h"

namespace x11 {

/// Largest request the server accepts, in 4-byte units (the maximum request
/// length that BigReqEnable announces).
inline constexpr std::uint32_t kMaxExtendedLength = 4194303;

void serve_connection(UniqueFd socket);

}  // namespace x11
