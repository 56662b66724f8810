#include "request.h"

#include <charconv>

namespace x11 {

void append_decimal(std::string& out, std::uint64_t n) {
  char digits[20];
  const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  out.append(digits, end);
}

void append_bytes_text(std::string& out, std::span<const std::uint8_t> bytes) {
  // Up to "255, " per byte; one reservation keeps a large request to one
  // allocation.
  out.reserve(out.size() + 2 + 5 * bytes.size());
  out.push_back('[');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out.append(", ");
    const std::uint8_t b = bytes[i];
    if (b >= 100) out.push_back(static_cast<char>('0' + b / 100));
    if (b >= 10) out.push_back(static_cast<char>('0' + b / 10 % 10));
    out.push_back(static_cast<char>('0' + b % 10));
  }
  out.push_back(']');
}

void append_request_text(std::string& out, const Request& request) {
  out.append("Request { header: RequestHeader { opcode: ");
  append_decimal(out, request.header.opcode);
  out.append(", extra_spec: ");
  append_decimal(out, request.header.extra_spec);
  out.append(", length: ");
  append_decimal(out, request.header.length);
  out.append(" }, data: ");
  if (request.data) {
    out.append("Some(");
    append_bytes_text(out, *request.data);
    out.append(")");
  } else {
    out.append("None");
  }
  out.append(" }");
}

std::string request_text(const Request& request) {
  std::string out;
  append_request_text(out, request);
  return out;
}

}  // namespace x11
