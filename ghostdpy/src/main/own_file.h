// Files that ghostdpy makes in directories it shares with other servers
// (the socket file, the lock file): at the end it removes such a file only
// while the path still names the very file it made. Another server may have
// replaced it meanwhile, and that one is not ours to delete.
#pragma once

#include <sys/stat.h>

#include <string>

namespace launcher {

/// Device and inode: which file a path named when it was made.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
};

inline FileIdentity identity_of(const struct stat& st) { return {st.st_dev, st.st_ino}; }

inline bool is_same_file(const struct stat& st, const FileIdentity& file) {
  return st.st_dev == file.device && st.st_ino == file.inode;
}

/// Unlinks path only while it is still `file` (lstat, no link followed).
/// Returns 0, ENOENT when it is gone or another file took its place, or
/// the errno of the unlink.
int remove_if_same_file(const std::string& path, const FileIdentity& file);

}  // namespace launcher
