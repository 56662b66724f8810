// The reply builder: what the server sends back for one request.
//
// Every reply starts with 1 (Reply), 0, the sequence number (client order),
// then the reply-length field; "client order" below means the 16/32-bit field
// is written in the byte order the client announced. Offsets from the start:
//
//   20  GetProperty     32 bytes, all zero after the sequence: no such property.
//   43  GetInputFocus   32 bytes; 8: focus 1 (PointerRoot), u32.
//   52  GetFontPath     44 bytes; 4: length 3, u32; 8: 1 path, u16;
//                       32: 9 "built-ins", 2 bytes of padding.
//   55  CreateGC        no reply.
//   60  FreeGC          no reply.
//   84  AllocColor      32 bytes; 8-13: red, green, blue copied from data 4-9;
//                       16: pixel 0x00RRGGBB, u32, RR/GG/BB being the high
//                       bytes of the requested 16-bit channels (a TrueColor
//                       visual with 8 bits per channel).
//   98  QueryExtension  32 bytes; 8: present, 9: major opcode, 10: first
//                       event, 11: first error, from the extension table.
//   128 Generic Event Extension, 135 XKEYBOARD (any minor opcode): version
//                       echo, 28 + k bytes for k data bytes; 4: length
//                       (k - 4) / 4, u32; 8: the data as sent; 20 zero bytes.
//   133 BIG-REQUESTS (any minor opcode): 32 bytes; 8: maximum request
//                       length 4194303, u32.
//
// Any other opcode ("RENDER" 139 included, although QueryExtension reports it)
// and any request without the data bytes its reply needs gives an error text:
// a fixed lead ("Not implemented opcode ", "Request too short for its reply: ")
// followed by the request's text rendering. The builder returns the lead
// only, so that a 16 MiB request's text (about 50 MB) is never built whole:
// the caller writes the rendering after it, in pieces.
// The builder is a pure function apart from the console line that
// QueryExtension writes for an unknown name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "request.h"

namespace x11 {

struct ResponseMessage {
  enum class Kind : std::uint8_t { reply, no_reply, error };
  Kind kind = Kind::no_reply;
  std::vector<std::uint8_t> bytes;  ///< kind == reply: sent to the client unchanged
  std::string error_lead;           ///< kind == error: the text before the request's rendering
};

/// Answers one request. The line "QueryExtension - not supported <name>\n"
/// goes to `notices` when given (so that a caller that batches its trace
/// keeps the order of lines), otherwise straight to standard output.
ResponseMessage create_response_message(std::uint16_t sequence, const Request& request, bool lsb_first,
                                        std::string* notices = nullptr);

}  // namespace x11
