// Reading ghostdpy's command line: [BIND_DISPLAY] [RUN_PROGRAM [ARGS...]].
// Only argument 1 is ever interpreted, and must be UTF-8 when it is a
// BIND_DISPLAY; the program and its arguments are passed on byte for byte,
// whatever their encoding (a Latin-1 file name included).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace launcher {

struct AutoDisplay {};  ///< no BIND_DISPLAY: pick the highest free number 99..1
struct FixedDisplay {   ///< ":N"
  std::uint64_t number;
};
struct TcpAddress {  ///< "INTERFACE:PORT", every "*" already turned into "0.0.0.0"
  std::string bind_address;
};
using BindTarget = std::variant<AutoDisplay, FixedDisplay, TcpAddress>;

struct CommandLine {
  BindTarget target;
  std::vector<std::string> run_args;  ///< RUN_PROGRAM and its ARGS; may be empty
};

/// Decimal u64, one optional leading "+", leading zeros allowed, nothing else.
std::optional<std::uint64_t> parse_display_number(std::string_view text);

bool is_valid_utf8(std::string_view text);

/// args holds argument 0 too. Fails fatally on a BIND_DISPLAY that is not
/// UTF-8 and goes through `ussage` for an invalid display number.
CommandLine read_command_line(const std::vector<std::string>& args);

}  // namespace launcher
