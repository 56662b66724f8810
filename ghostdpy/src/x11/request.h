// One framed X11 request and its text rendering for the trace.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace x11 {

/// The 4-byte request header, decoded.
struct RequestHeader {
  std::uint8_t opcode;      ///< byte 0: the major opcode
  std::uint8_t extra_spec;  ///< byte 1: one-byte data field or minor opcode, uninterpreted
  std::uint16_t length;     ///< bytes 2-3 in client order: 4-byte units, header included
};

/// One complete request. `data` borrows the bytes after the header (after
/// the extended length of a BIG-REQUESTS request), in wire order and never
/// byte-swapped; it is absent for a header-only request.
struct Request {
  RequestHeader header;
  std::optional<std::span<const std::uint8_t>> data;
};

/// Appends "Request { header: RequestHeader { opcode: 8, extra_spec: 0,
/// length: 2 }, data: Some([1, 0, 32, 0]) }" ("data: None" when absent).
void append_request_text(std::string& out, const Request& request);
std::string request_text(const Request& request);

/// Appends "[1, 0, 32, 0]": every byte in decimal; "[]" when empty.
void append_bytes_text(std::string& out, std::span<const std::uint8_t> bytes);

/// Receives a text in consecutive pieces of at most a few KiB each.
using TextSink = std::function<void(std::string_view)>;

/// The same texts as above, handed to `put` piece by piece, so that the text
/// of a large request (about three times its size) never exists whole.
void write_request_text(const Request& request, const TextSink& put);
void write_bytes_text(std::span<const std::uint8_t> bytes, const TextSink& put);

/// Appends n in decimal.
void append_decimal(std::string& out, std::uint64_t n);

}  // namespace x11
