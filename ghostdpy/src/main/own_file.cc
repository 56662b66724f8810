#include "own_file.h"

#include <unistd.h>

#include <cerrno>

namespace launcher {

int remove_if_same_file(const std::string& path, const FileIdentity& file) {
  // Between this test and the unlink only the file's owner or the owner of
  // its sticky directory could swap it: nobody but us, or root.
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !is_same_file(st, file)) return ENOENT;
  return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

}  // namespace launcher
