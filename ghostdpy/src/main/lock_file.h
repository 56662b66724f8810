// The lock file of an X display, /tmp/.X<n>-lock, shared with every X server
// of the machine: whoever made it holds the display. It holds the maker's
// process id as ten characters, right-aligned, and a line feed; mode 0444.
// A lock whose process has gone is stale and may be taken over.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "own_file.h"

namespace launcher {

/// "%10d\n" of pid.
std::string lock_file_text(pid_t pid);

/// The process id in a lock file's text (blanks, digits, an optional line
/// feed), or nothing when the text is no such number.
std::optional<pid_t> parse_lock_file_text(std::string_view text);

/// Makes lock_path holding this process's id, complete from the moment it
/// can be seen: written under a name of its own beside it, then linked into
/// place, which fails when anything is at lock_path already. Returns 0 and
/// fills *made, EEXIST when the path is taken, or another errno.
int create_lock_file(const std::string& lock_path, FileIdentity* made);

/// What is found at a lock path that could not be made.
struct LockHolder {
  enum Kind {
    gone,      ///< nothing there any more: try again
    live,      ///< its process exists (`pid`)
    stale,     ///< its process has gone (`pid`); `file` is what was read
    unusable,  ///< not a lock file that can be read (`why`)
  } kind = gone;
  pid_t pid = 0;
  FileIdentity file;
  std::string why;
};

/// Reads the lock at lock_path without following a symbolic link.
LockHolder read_lock_holder(const std::string& lock_path);

/// Removes the lock this process made, only while lock_path still is that
/// file and still holds this process's id. Returns as remove_if_same_file.
int remove_own_lock_file(const std::string& lock_path, const FileIdentity& made);

}  // namespace launcher
