#include "request.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

namespace x11 {

void append_decimal(std::string& out, std::uint64_t n) {
  char digits[20];
  const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  out.append(digits, end);
}

namespace {

// ", " and the decimal text of every byte value: rendering a byte is one
// table look-up and one 8-byte copy instead of a division per digit.
struct ByteText {
  char text[8];  // ", 255" and padding
  std::uint8_t size;
};

constexpr std::array<ByteText, 256> make_byte_texts() {
  std::array<ByteText, 256> t{};
  for (unsigned b = 0; b < 256; ++b) {
    ByteText& e = t[b];
    e.text[e.size++] = ',';
    e.text[e.size++] = ' ';
    if (b >= 100) e.text[e.size++] = static_cast<char>('0' + b / 100);
    if (b >= 10) e.text[e.size++] = static_cast<char>('0' + b / 10 % 10);
    e.text[e.size++] = static_cast<char>('0' + b % 10);
  }
  return t;
}

constexpr std::array<ByteText, 256> kByteTexts = make_byte_texts();
constexpr std::size_t kSeparator = 2;  // the ", " before every byte but the first

// Copies a literal without its terminating zero; returns the end.
template <std::size_t N>
char* put_literal(char* p, const char (&literal)[N]) {
  std::memcpy(p, literal, N - 1);
  return p + N - 1;
}

char* put_decimal(char* p, unsigned n) { return std::to_chars(p, p + 10, n).ptr; }

// Renders into a stack buffer up to 256 bytes at a time and hands each piece
// to put: one capacity check per piece instead of one per character, and no
// text larger than a piece ever exists here.
template <typename Put>
void put_bytes_text(std::span<const std::uint8_t> bytes, Put&& put) {
  constexpr std::size_t kPiece = 256;
  char buffer[kPiece * sizeof(ByteText::text) + 2];
  char* p = buffer;
  *p++ = '[';
  for (std::size_t done = 0; done < bytes.size();) {
    const std::size_t end = std::min(bytes.size(), done + kPiece);
    if (done == 0) {
      const ByteText& t = kByteTexts[bytes[0]];
      std::memcpy(p, t.text + kSeparator, sizeof t.text - kSeparator);
      p += t.size - kSeparator;
      ++done;
    }
    for (; done < end; ++done) {
      const ByteText& t = kByteTexts[bytes[done]];
      std::memcpy(p, t.text, sizeof t.text);
      p += t.size;
    }
    if (done < bytes.size()) {
      put(std::string_view(buffer, static_cast<std::size_t>(p - buffer)));
      p = buffer;
    }
  }
  *p++ = ']';
  put(std::string_view(buffer, static_cast<std::size_t>(p - buffer)));
}

template <typename Put>
void put_request_text(const Request& request, Put&& put) {
  // The header part has a bounded length: rendered on the stack, put once.
  char head[128];
  char* p = put_literal(head, "Request { header: RequestHeader { opcode: ");
  p = put_decimal(p, request.header.opcode);
  p = put_literal(p, ", extra_spec: ");
  p = put_decimal(p, request.header.extra_spec);
  p = put_literal(p, ", length: ");
  p = put_decimal(p, request.header.length);
  p = put_literal(p, " }, data: ");
  if (!request.data) {
    p = put_literal(p, "None }");
    put(std::string_view(head, static_cast<std::size_t>(p - head)));
    return;
  }
  p = put_literal(p, "Some(");
  put(std::string_view(head, static_cast<std::size_t>(p - head)));
  put_bytes_text(*request.data, put);
  put(std::string_view(") }"));
}

}  // namespace

void append_bytes_text(std::string& out, std::span<const std::uint8_t> bytes) {
  put_bytes_text(bytes, [&out](std::string_view piece) { out.append(piece); });
}

void append_request_text(std::string& out, const Request& request) {
  put_request_text(request, [&out](std::string_view piece) { out.append(piece); });
}

void write_bytes_text(std::span<const std::uint8_t> bytes, const TextSink& put) { put_bytes_text(bytes, put); }

void write_request_text(const Request& request, const TextSink& put) { put_request_text(request, put); }

std::string request_text(const Request& request) {
  std::string out;
  append_request_text(out, request);
  return out;
}

}  // namespace x11
