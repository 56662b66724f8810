// The usage text and `ussage`, the way out for a bad command line (or a
// bind or program start that cannot be done): message, then the usage text
// as a fatal failure of the main thread.
#pragma once

#include <string>
#include <string_view>

namespace launcher {

/// argument 0 after its last "/" (all of it without one, empty when it ends in "/").
std::string base_name(std::string_view argument0);

/// The seven lines of usage text for a program called program_name.
std::string usage_text(std::string_view program_name);

/// Remembers argument 0; done once at start-up, before `ussage` can be called.
void set_program_name(std::string argument0);

/// Writes message and a line feed on standard error, then fails fatally with
/// the usage text. Called on the main thread only.
[[noreturn]] void ussage(std::string_view message);

}  // namespace launcher
