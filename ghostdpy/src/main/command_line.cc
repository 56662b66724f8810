#include "command_line.h"

#include <limits>

#include "fatal.h"
#include "usage.h"

namespace launcher {

std::optional<std::uint64_t> parse_display_number(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (kMax - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

// RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    std::size_t extra;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 < 0x80) {
      ++i;
      continue;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      extra = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      extra = 2;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      extra = 3;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (text.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      const unsigned char min = k == 1 ? lo : 0x80, max = k == 1 ? hi : 0xBF;
      if (b < min || b > max) return false;
    }
    i += extra + 1;
  }
  return true;
}

namespace {

std::string replace_asterisks(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '*')
      out += "0.0.0.0";
    else
      out += c;
  }
  return out;
}

}  // namespace

CommandLine read_command_line(const std::vector<std::string>& args) {
  CommandLine line{AutoDisplay{}, {}};
  std::size_t first_run_arg = 1;
  // A ":" is one byte in UTF-8 and never part of another character, so an
  // argument that is not UTF-8 can still be told apart here.
  if (args.size() > 1 && args[1].find(':') != std::string::npos) {
    const std::string& a = args[1];
    if (!is_valid_utf8(a)) fail("command-line argument 1 is not valid UTF-8");
    if (a.front() == ':') {
      const std::string_view text = std::string_view(a).substr(1);
      const auto number = parse_display_number(text);
      if (!number) ussage("Invalid display number '" + std::string(text) + "'");
      line.target = FixedDisplay{*number};
    } else {
      line.target = TcpAddress{replace_asterisks(a)};
    }
    first_run_arg = 2;
  }
  for (std::size_t i = first_run_arg; i < args.size(); ++i) line.run_args.push_back(args[i]);
  return line;
}

}  // namespace launcher
