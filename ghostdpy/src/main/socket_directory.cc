#include "socket_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "console.h"
#include "unique_fd.h"

namespace launcher {
namespace {

// Why st is no directory for display sockets; "" when it is one.
std::string unfit_because(const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return "is a symbolic link";
  if (!S_ISDIR(st.st_mode)) return "is not a directory";
  // Its owner may replace any socket in it, sticky or not.
  if (st.st_uid != 0 && st.st_uid != ::geteuid())
    return "is owned by another account (uid " + std::to_string(st.st_uid) + ")";
  if ((st.st_mode & S_IWOTH) != 0 && (st.st_mode & S_ISVTX) == 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return std::string("is writable by others without the sticky bit (mode ") + mode + ")";
  }
  return "";
}

// A new directory of ours with mode 1777: the mode is set on the directory
// itself, as mkdir's would be cut by the umask.
int make_shared_directory(const std::string& dir) {
  if (::mkdir(dir.c_str(), 0700) != 0) return errno;
  const x11::UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return errno;
  if (::fchmod(fd.get(), 01777) != 0) return errno;
  return 0;
}

}  // namespace

int make_directories(const std::string& dir) {
  // Walk the path from its root, making each missing component in turn.
  for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    const std::string prefix = dir.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

std::string prepare_socket_directory(const std::string& dir) {
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT) return "cannot examine the socket directory " + dir + ": " + x11::describe_errno(errno);
    const std::string parent = dir.substr(0, dir.rfind('/'));
    int err = parent.empty() ? 0 : make_directories(parent);
    if (err == 0) err = make_shared_directory(dir);
    // EEXIST: another process made it meanwhile; it is checked like any other.
    if (err != 0 && err != EEXIST)
      return "cannot create the socket directory " + dir + ": " + x11::describe_errno(err);
    if (::lstat(dir.c_str(), &st) != 0)
      return "cannot examine the socket directory " + dir + ": " + x11::describe_errno(errno);
  }
  if (const std::string why = unfit_because(st); !why.empty())
    return "refusing the socket directory " + dir + ": it " + why;
  return "";
}

}  // namespace launcher
