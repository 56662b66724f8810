#include "private_tmp.h"

#include <fcntl.h>
#include <limits.h>
#include <net/if.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "unique_fd.h"

namespace private_tmp {
namespace {

using x11::UniqueFd;

std::string failed(const std::string& step) { return step + ": " + std::strerror(errno); }

bool write_text(const char* path, const std::string& text) {
  const UniqueFd fd(::open(path, O_WRONLY | O_CLOEXEC));
  return fd.valid() && ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

std::string first_line(const char* path) {
  const UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
  char buf[64] = {};
  if (!fd.valid() || ::read(fd.get(), buf, sizeof buf - 1) <= 0) return "";
  std::string text = buf;
  return text.substr(0, text.find('\n'));
}

// The kernel's refusal, with the settings that decide it on this machine.
std::string user_namespace_refused(int error) {
  std::string why = std::string("no unprivileged user namespace: ") + std::strerror(error);
  for (const char* setting : {"/proc/sys/kernel/unprivileged_userns_clone", "/proc/sys/user/max_user_namespaces",
                              "/proc/sys/kernel/apparmor_restrict_unprivileged_userns"}) {
    const std::string value = first_line(setting);
    if (!value.empty()) why += std::string("; ") + (setting + std::strlen("/proc/sys/")) + " = " + value;
  }
  return why;
}

// This account becomes root of a new user namespace, with new mount and
// network namespaces owned by it.
std::string enter_user_namespace() {
  const uid_t uid = ::geteuid();
  const gid_t gid = ::getegid();
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET) != 0) return user_namespace_refused(errno);
  // Without "deny" an unprivileged process may not write its gid_map.
  if (!write_text("/proc/self/setgroups", "deny")) return failed("writing /proc/self/setgroups");
  if (!write_text("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1")) return failed("writing uid_map");
  if (!write_text("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) return failed("writing gid_map");
  return "";
}

// The top directory (or file) under /tmp of each path that resolves there.
// Resolved in the machine's /tmp, before the private one hides it.
std::set<std::string> tops_under_tmp(const std::vector<std::string>& paths) {
  std::set<std::string> tops;
  char tmp[PATH_MAX];
  if (::realpath("/tmp", tmp) == nullptr) return tops;
  const std::string prefix = std::string(tmp) + "/";
  for (const auto& path : paths) {
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real) == nullptr) continue;  // nothing there to keep
    const std::string resolved = real;
    if (resolved.compare(0, prefix.size(), prefix) != 0) continue;
    tops.insert(resolved.substr(prefix.size(), resolved.find('/', prefix.size()) - prefix.size()));
  }
  return tops;
}

// Makes /tmp/<top> in the private /tmp and binds the machine's one onto it,
// reached through the descriptor still open on the machine's /tmp.
std::string bind_back(int machine_tmp, const std::string& top) {
  const std::string source = "/proc/self/fd/" + std::to_string(machine_tmp) + "/" + top;
  const std::string target = "/tmp/" + top;
  struct stat st;
  if (::stat(source.c_str(), &st) != 0) return failed("stat /tmp/" + top);
  if (S_ISDIR(st.st_mode)) {
    if (::mkdir(target.c_str(), 0700) != 0) return failed("mkdir " + target);
  } else {
    const UniqueFd file(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!file.valid()) return failed("creating " + target);
  }
  // Recursive: a user namespace may not bind a tree without what is mounted in it.
  if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
    return failed("binding " + target + " back");
  return "";
}

// A new network namespace has only a loopback interface, and it is down.
std::string bring_up_loopback() {
  const UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return failed("socket for the loopback interface");
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", sizeof request.ifr_name - 1);
  if (::ioctl(fd.get(), SIOCGIFFLAGS, &request) != 0) return failed("reading the flags of lo");
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  if (::ioctl(fd.get(), SIOCSIFFLAGS, &request) != 0) return failed("bringing lo up");
  return "";
}

}  // namespace

std::string enter(const std::vector<std::string>& keep) {
  std::vector<std::string> paths = keep;
  char cwd[PATH_MAX];
  if (::getcwd(cwd, sizeof cwd) != nullptr) paths.emplace_back(cwd);
  const std::set<std::string> tops = tops_under_tmp(paths);

  // Root without the right to these namespaces (some containers) may still
  // be granted a user namespace.
  if (::geteuid() != 0 || ::unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) {
    if (std::string refused = enter_user_namespace(); !refused.empty()) return refused;
  }
  if (std::string failure = bring_up_loopback(); !failure.empty()) return failure;
  // Nothing mounted here may propagate back to the machine.
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return failed("making / private");
  const UniqueFd machine_tmp(::open("/tmp", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!machine_tmp.valid()) return failed("opening /tmp");
  if (::mount("tmpfs", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0)
    return failed("mounting a tmpfs on /tmp");
  for (const auto& top : tops) {
    if (std::string failure = bind_back(machine_tmp.get(), top); !failure.empty()) return failure;
  }
  return "";
}

}  // namespace private_tmp
