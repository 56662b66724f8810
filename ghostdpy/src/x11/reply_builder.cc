#include "reply_builder.h"

#include <algorithm>
#include <span>
#include <string_view>

#include "connection.h"
#include "console.h"
#include "wire.h"

namespace x11 {
namespace {

namespace opcode {
constexpr std::uint8_t kGetProperty = 20;
constexpr std::uint8_t kGetInputFocus = 43;
constexpr std::uint8_t kGetFontPath = 52;
constexpr std::uint8_t kCreateGC = 55;
constexpr std::uint8_t kFreeGC = 60;
constexpr std::uint8_t kAllocColor = 84;
constexpr std::uint8_t kQueryExtension = 98;
constexpr std::uint8_t kGenericEvent = 128;
constexpr std::uint8_t kBigRequests = 133;
constexpr std::uint8_t kXKeyboard = 135;
}  // namespace opcode

struct Extension {
  std::string_view name;
  std::uint8_t major_opcode, first_event, first_error;
};

constexpr Extension kExtensions[] = {
    {"BIG-REQUESTS", opcode::kBigRequests, 0, 0},
    {"XKEYBOARD", opcode::kXKeyboard, 85, 137},
    {"RENDER", 139, 0, 142},
    {"Generic Event Extension", opcode::kGenericEvent, 0, 0},
};

constexpr std::size_t kReplyHeaderSize = 32;

ResponseMessage reply_of_size(std::size_t size, std::uint16_t sequence, bool lsb_first) {
  ResponseMessage m;
  m.kind = ResponseMessage::Kind::reply;
  m.bytes.assign(size, 0);
  m.bytes[0] = 1;  // Reply
  write_u16(&m.bytes[2], sequence, lsb_first);
  return m;
}

ResponseMessage error_message(std::string_view lead) {
  ResponseMessage m;
  m.kind = ResponseMessage::Kind::error;
  m.error_lead.assign(lead);
  return m;
}

ResponseMessage too_short() { return error_message("Request too short for its reply: "); }

std::span<const std::uint8_t> data_of(const Request& request) {
  return request.data ? *request.data : std::span<const std::uint8_t>{};
}

ResponseMessage get_input_focus(std::uint16_t sequence, bool lsb_first) {
  ResponseMessage m = reply_of_size(kReplyHeaderSize, sequence, lsb_first);
  write_u32(&m.bytes[8], 1, lsb_first);  // PointerRoot
  return m;
}

ResponseMessage get_font_path(std::uint16_t sequence, bool lsb_first) {
  constexpr std::string_view kPath = "built-ins";
  ResponseMessage m = reply_of_size(44, sequence, lsb_first);
  write_u32(&m.bytes[4], 3, lsb_first);  // 12 bytes after the first 32
  write_u16(&m.bytes[8], 1, lsb_first);  // one path element
  m.bytes[32] = static_cast<std::uint8_t>(kPath.size());
  std::copy(kPath.begin(), kPath.end(), m.bytes.begin() + 33);
  return m;
}

ResponseMessage alloc_color(std::uint16_t sequence, const Request& request, bool lsb_first) {
  const auto data = data_of(request);
  if (data.size() < 10) return too_short();  // colormap, red, green, blue
  ResponseMessage m = reply_of_size(kReplyHeaderSize, sequence, lsb_first);
  std::copy(data.begin() + 4, data.begin() + 10, m.bytes.begin() + 8);  // the exact colour
  const std::uint32_t red = read_u16(&data[4], lsb_first) >> 8;
  const std::uint32_t green = read_u16(&data[6], lsb_first) >> 8;
  const std::uint32_t blue = read_u16(&data[8], lsb_first) >> 8;
  write_u32(&m.bytes[16], red << 16 | green << 8 | blue, lsb_first);
  return m;
}

// Extension names are ISO 8859-1: each byte is the code point of its value.
void append_latin1_as_utf8(std::string& out, std::span<const std::uint8_t> name) {
  for (std::uint8_t c : name) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

ResponseMessage query_extension(std::uint16_t sequence, const Request& request, bool lsb_first,
                                std::string* notices) {
  const auto data = data_of(request);
  if (data.size() < 4) return too_short();  // name length and 2 unused bytes
  const std::size_t announced = read_u16(&data[0], lsb_first);
  const auto name = data.subspan(4, std::min(announced, data.size() - 4));

  const Extension* found = nullptr;
  for (const Extension& e : kExtensions) {
    if (std::equal(name.begin(), name.end(), e.name.begin(), e.name.end(),
                   [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); })) {
      found = &e;
      break;
    }
  }
  if (!found) {
    std::string line = "QueryExtension - not supported ";
    append_latin1_as_utf8(line, name);
    line.push_back('\n');
    if (notices) {
      notices->append(line);
    } else {
      console_out(line);
    }
  }
  ResponseMessage m = reply_of_size(kReplyHeaderSize, sequence, lsb_first);
  if (found) {
    m.bytes[8] = 1;
    m.bytes[9] = found->major_opcode;
    m.bytes[10] = found->first_event;
    m.bytes[11] = found->first_error;
  }
  return m;
}

ResponseMessage big_requests_enable(std::uint16_t sequence, bool lsb_first) {
  ResponseMessage m = reply_of_size(kReplyHeaderSize, sequence, lsb_first);
  write_u32(&m.bytes[8], kMaxExtendedLength, lsb_first);
  return m;
}

// The client's version comes back as the server's: the data is echoed.
ResponseMessage version_echo(std::uint16_t sequence, const Request& request, bool lsb_first) {
  const auto data = data_of(request);
  if (data.size() < 4) return too_short();  // major and minor version
  ResponseMessage m = reply_of_size(28 + data.size(), sequence, lsb_first);
  write_u32(&m.bytes[4], static_cast<std::uint32_t>((data.size() - 4) / 4), lsb_first);
  std::copy(data.begin(), data.end(), m.bytes.begin() + 8);
  return m;
}

}  // namespace

ResponseMessage create_response_message(std::uint16_t sequence, const Request& request, bool lsb_first,
                                        std::string* notices) {
  switch (request.header.opcode) {
    case opcode::kGetProperty:
      return reply_of_size(kReplyHeaderSize, sequence, lsb_first);
    case opcode::kGetInputFocus:
      return get_input_focus(sequence, lsb_first);
    case opcode::kGetFontPath:
      return get_font_path(sequence, lsb_first);
    case opcode::kCreateGC:
    case opcode::kFreeGC:
      return ResponseMessage{};
    case opcode::kAllocColor:
      return alloc_color(sequence, request, lsb_first);
    case opcode::kQueryExtension:
      return query_extension(sequence, request, lsb_first, notices);
    case opcode::kGenericEvent:
    case opcode::kXKeyboard:
      return version_echo(sequence, request, lsb_first);
    case opcode::kBigRequests:
      return big_requests_enable(sequence, lsb_first);
    default:
      return error_message("Not implemented opcode ");
  }
}

}  // namespace x11
