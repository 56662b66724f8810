#include "usage.h"

#include "console.h"
#include "fatal.h"

namespace launcher {
namespace {

// Set once by main before anything else runs; read by the main thread only.
std::string program_name;

}  // namespace

std::string base_name(std::string_view argument0) {
  const auto slash = argument0.rfind('/');
  return std::string(slash == std::string_view::npos ? argument0 : argument0.substr(slash + 1));
}

std::string usage_text(std::string_view name) {
  std::string text = "Ussage:\n    ";
  text.append(name);
  text.append(
      " [BIND_DISPLAY] [RUN_PROGRAM [ARGS...]]\n"
      "    BIND_DISPLAY - [DISPLAY | INTERFACE_PORT] :\n"
      "        DISPLAY - :DISPLAY_NUMBER (default with autodedection of available display)\n"
      "        INTERFACE_PORT - BIND_INTERFACE:PORT (* or 0.0.0.0 for all interfaces)\n"
      "    RUN_PROGRAM [ARGS...] - optional - execute specified program with args\n"
      "    ");
  return text;
}

void set_program_name(std::string argument0) { program_name = std::move(argument0); }

void ussage(std::string_view message) {
  std::string line(message);
  line.push_back('\n');
  x11::console_err(line);
  fail(usage_text(base_name(program_name)));
}

}  // namespace launcher
