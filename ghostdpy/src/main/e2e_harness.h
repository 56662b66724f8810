// The harness of the end-to-end tests: starts the built ghostdpy in a
// process group of its own, with standard output and standard error in
// files, kills and reaps it (group and all) whatever the test's outcome, and
// plays the X11 client side over Unix and TCP sockets. The test process runs
// in a private /tmp and network (private_tmp.h), entered by main().
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "private_tmp.h"

extern char** environ;

namespace e2e {

inline std::string isolation_failure;  // empty when main() isolated this process

inline const char* const kGhostdpy = GHOSTDPY_PATH;
inline const char* const kXprobe = XPROBE_PATH;
inline std::string self_path;  // this test binary, for the helper modes

inline std::string usage_report(const std::string& name) {
  return "ghostdpy[main]: fatal: Ussage:\n"
         "    " + name + " [BIND_DISPLAY] [RUN_PROGRAM [ARGS...]]\n"
         "    BIND_DISPLAY - [DISPLAY | INTERFACE_PORT] :\n"
         "        DISPLAY - :DISPLAY_NUMBER (default with autodedection of available display)\n"
         "        INTERFACE_PORT - BIND_INTERFACE:PORT (* or 0.0.0.0 for all interfaces)\n"
         "    RUN_PROGRAM [ARGS...] - optional - execute specified program with args\n"
         "    \n";
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

inline void touch(const std::string& path) {
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
  ::close(fd);
}

struct Result {
  int status = -1;  // raw waitpid status
  std::string out, err;
  int exit_code() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
};

struct Options {
  std::string program = kGhostdpy;  // another server (Xvfb) runs under the same harness
  std::string argv0 = kGhostdpy;
  std::vector<std::string> env;  // extra "K=V" entries, replacing inherited ones
  std::string cwd;
  std::vector<std::string> wrapper;  // e.g. setpriv and its options, run in front of ghostdpy
  std::string stdout_path;           // instead of a file of the harness (then out() is empty)
  std::vector<int> closed;           // descriptors ghostdpy starts without
  std::string terminal;              // a terminal as standard input and controlling terminal,
                                     // in a session of its own
};

// One running ghostdpy, in its own process group, with standard output and
// standard error in files. Killed (group and all) and reaped on destruction.
class Server {
 public:
  explicit Server(const std::vector<std::string>& args, const Options& options = {}) {
    static std::atomic<int> counter{0};
    const std::string base = "/tmp/run" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
    out_path_ = base + ".out";
    err_path_ = base + ".err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string stdout_path = options.stdout_path.empty() ? out_path_ : options.stdout_path;
    posix_spawn_file_actions_addopen(&actions, 1, stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // After setsid (below), the first terminal opened becomes the controlling one.
    if (!options.terminal.empty()) posix_spawn_file_actions_addopen(&actions, 0, options.terminal.c_str(), O_RDWR, 0);
    for (const int fd : options.closed) posix_spawn_file_actions_addclose(&actions, fd);
    if (!options.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    // A new session is a process group of its own too.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK |
                                        (options.terminal.empty() ? POSIX_SPAWN_SETPGROUP : POSIX_SPAWN_SETSID));

    std::vector<std::string> argv = options.wrapper;
    argv.push_back(options.wrapper.empty() ? options.argv0 : options.program);
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      bool replaced = false;
      for (const auto& extra : options.env)
        replaced |= entry.substr(0, entry.find('=') + 1) == extra.substr(0, extra.find('=') + 1);
      if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), options.env.begin(), options.env.end());
    std::vector<char*> argp, envp;
    for (auto& a : argv) argp.push_back(a.data());
    argp.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string program = options.wrapper.empty() ? options.program : options.wrapper[0];
    const int err = ::posix_spawn(&pid_, program.c_str(), &actions, &attr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (err != 0) {
      pid_ = -1;
      ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(err);
    }
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  ~Server() {
    if (pid_ > 0) {
      ::kill(-pid_, SIGKILL);
      if (!reaped_) ::waitpid(pid_, nullptr, 0);
    }
    ::unlink(out_path_.c_str());
    ::unlink(err_path_.c_str());
  }

  std::string out() const { return read_file(out_path_); }
  std::string err() const { return read_file(err_path_); }

  pid_t pid() const { return pid_; }

  // Waits until ready() holds (true) or the process has ended (false).
  template <typename Ready>
  bool wait_for(Ready ready) {
    for (int i = 0; i < 6000; ++i) {
      if (ready()) return true;
      if (poll_exit()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  // Waits until the announcement line is out (true) or the server has ended.
  bool wait_listening() {
    return wait_for([this] {
      const std::string text = out();
      const auto at = text.find("Server listening on ");
      return at != std::string::npos && text.find('\n', at) != std::string::npos;
    });
  }

  // Waits until the "ctrl-c" thread exists: the SIGINT handler is installed
  // just before it starts, and only after the announcement line.
  bool wait_interruptible() {
    if (!wait_listening()) return false;
    return wait_for([this] {
      std::error_code ec;
      for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/task", ec)) {
        if (read_file(task.path().string() + "/comm") == "ctrl-c\n") return true;
      }
      return false;
    });
  }

  void signal(int s) { ASSERT_EQ(::kill(pid_, s), 0); }

  // Waits for the end of the server (killing it after a grace time, by
  // default a generous one, which counts as a failure) and collects what it
  // wrote.
  Result finish(std::chrono::milliseconds grace = std::chrono::seconds(60)) {
    Result r;
    if (pid_ < 0) return r;
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (!poll_exit() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!reaped_) {
      ADD_FAILURE() << "ghostdpy did not end within " << grace.count() << " ms; killed";
      ::kill(-pid_, SIGKILL);
      ::waitpid(pid_, &status_, 0);
      reaped_ = true;
    }
    // Whatever it started in its group goes too.
    ::kill(-pid_, SIGKILL);
    r.status = status_;
    r.out = out();
    r.err = err();
    return r;
  }

 private:
  bool poll_exit() {
    if (reaped_) return true;
    if (::waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
    return reaped_;
  }

  pid_t pid_ = -1;
  int status_ = 0;
  bool reaped_ = false;
  std::string out_path_, err_path_;
};

inline Options with_env(std::vector<std::string> env) {
  Options o;
  o.env = std::move(env);
  return o;
}

// Waits (bounded) until the file at path holds `text`; false if it never does.
inline bool wait_for_text(const std::string& path, const std::string& text) {
  for (int i = 0; i < 6000; ++i) {
    if (read_file(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// A search path every account can read: along one with a directory the
// account may not search (root's home, say), a name found nowhere ends in
// EACCES, as it does for execvp.
inline Options with_searchable_path() { return with_env({"PATH=/usr/bin:/bin"}); }

inline Options in_dir(std::string cwd) {
  Options o;
  o.cwd = std::move(cwd);
  return o;
}

inline Result run(const std::vector<std::string>& args, const Options& options = {}) {
  Server server(args, options);
  return server.finish();
}

// The names of the lock files in /tmp (".X5-lock", ...), sorted.
inline std::vector<std::string> lock_files() {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/tmp", ignored)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".X", 0) == 0 && name.find("-lock") != std::string::npos) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Every test starts from a missing /tmp/.X11-unix and no lock files. The
// private /tmp lives as long as the test process; when several tests share
// it (a run without ctest), each also leaves them that way.
class E2E : public testing::Test {
 protected:
  void SetUp() override {
    if (!isolation_failure.empty()) GTEST_SKIP() << "needs a private /tmp and network: " << isolation_failure;
    clear_displays();
  }
  void TearDown() override {
    if (isolation_failure.empty()) clear_displays();
  }
  static void clear_displays() {
    std::error_code ignored;
    std::filesystem::remove_all("/tmp/.X11-unix", ignored);
    for (const std::string& name : lock_files()) std::filesystem::remove("/tmp/" + name, ignored);
  }
};

// "%10d\n": a lock file's text, as X servers write it.
inline std::string lock_text(pid_t pid) {
  char text[32];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

// ---- X11 client side -------------------------------------------------------

inline int connect_unix(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Connects to an abstract socket name (a zero byte, then the name), as X
// libraries try first.
inline int connect_abstract(const std::string& name) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, name.data(), std::min(name.size(), sizeof addr.sun_path - 1));
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

inline int connect_tcp(int family, const char* host, int port) {
  const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_storage ss{};
  socklen_t len;
  if (family == AF_INET) {
    auto* a = reinterpret_cast<sockaddr_in*>(&ss);
    a->sin_family = AF_INET;
    a->sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, host, &a->sin_addr);
    len = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET6, host, &a->sin6_addr);
    len = sizeof *a;
  }
  if (::connect(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Connects to a host name the way an X client does: the resolver's addresses
// in its order, the first that accepts. "localhost" is 127.0.0.1 on some
// machines and ::1 first on others (a stock Debian /etc/hosts names both).
inline int connect_tcp_name(const char* host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host, std::to_string(port).c_str(), &hints, &found) != 0) return -1;
  int fd = -1;
  for (const addrinfo* ai = found; ai && fd < 0; ai = ai->ai_next) {
    fd = ::socket(ai->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  return fd;
}

// Closes a client socket at the end of a scope.
struct Fd {
  int fd;
  explicit Fd(int f) : fd(f) {
    if (fd >= 0) {
      timeval limit{20, 0};  // a hung server must not hang the test
      ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
  }
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

inline bool send_all(int fd, const void* data, size_t n) {
  return ::send(fd, data, n, MSG_NOSIGNAL) == static_cast<ssize_t>(n);
}

// Reads exactly n bytes; false on end of stream or error.
inline bool recv_all(int fd, unsigned char* buf, size_t n) {
  while (n > 0) {
    const ssize_t got = ::recv(fd, buf, n, 0);
    if (got <= 0) return false;
    buf += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

// LSB-first connection setup; returns the size of the setup reply, 0 on failure.
inline size_t handshake(int fd) {
  const unsigned char request[12] = {'l', 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  if (!send_all(fd, request, sizeof request)) return 0;
  unsigned char head[8];
  if (!recv_all(fd, head, sizeof head) || head[0] != 1) return 0;
  const size_t extra = 4u * (head[6] | head[7] << 8);
  std::vector<unsigned char> rest(extra);
  if (!recv_all(fd, rest.data(), extra)) return 0;
  return 8 + extra;
}

// GetInputFocus under the given sequence number; true when its reply came.
inline bool input_focus(int fd, int sequence) {
  const unsigned char request[4] = {43, 0, 1, 0};
  if (!send_all(fd, request, sizeof request)) return false;
  unsigned char reply[32];
  return recv_all(fd, reply, sizeof reply) && reply[0] == 1 && reply[2] == (sequence & 0xff);
}

// True when the server has closed the connection (nothing more to read).
inline bool closed_by_server(int fd) {
  unsigned char b;
  return ::recv(fd, &b, 1, 0) <= 0;
}

inline int free_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

}  // namespace e2e
