// Helpers for tests that talk to the connection handler as a client would.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <string>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "connection.h"
#include "wire.h"

namespace x11::testing_support {

using Bytes = std::vector<std::uint8_t>;

/// Sends standard output and standard error into memory files while alive.
class CapturedConsole {
 public:
  CapturedConsole() : out_(capture(STDOUT_FILENO, saved_out_)), err_(capture(STDERR_FILENO, saved_err_)) {}
  // Failure messages written while the console was captured are shown
  // afterwards, with what the server wrote around them (cut to the end).
  ~CapturedConsole() {
    ::dup2(saved_out_, STDOUT_FILENO);
    ::dup2(saved_err_, STDERR_FILENO);
    if (::testing::Test::HasFailure()) {
      const std::string out = contents(out_), err = contents(err_);
      std::fprintf(stdout, "--- captured standard output (last 4 KiB):\n%s\n--- captured standard error:\n%s\n",
                   out.substr(out.size() > 4096 ? out.size() - 4096 : 0).c_str(), err.c_str());
    }
    for (int fd : {saved_out_, saved_err_, out_, err_}) ::close(fd);
  }
  std::string out() const { return contents(out_); }
  std::string err() const { return contents(err_); }

 private:
  static int capture(int target, int& saved) {
    saved = ::dup(target);
    const int mem = ::memfd_create("console", MFD_CLOEXEC);
    ::dup2(mem, target);
    return mem;
  }
  static std::string contents(int fd) {
    std::string s;
    char buf[65536];
    for (off_t at = 0;;) {
      const ssize_t n = ::pread(fd, buf, sizeof buf, at);
      if (n <= 0) break;
      s.append(buf, static_cast<std::size_t>(n));
      at += n;
    }
    return s;
  }
  int saved_out_ = -1, saved_err_ = -1;
  int out_, err_;
};

/// The connection setup request: byte order, protocol 11.0, authorisation
/// name and data of the given lengths (filled with non-zero bytes).
inline Bytes setup_request(bool lsb, std::uint16_t name_length = 0, std::uint16_t data_length = 0) {
  Bytes b(12, 0);
  b[0] = lsb ? 0x6C : 0x42;
  write_u16(&b[2], 11, lsb);
  write_u16(&b[6], name_length, lsb);
  write_u16(&b[8], data_length, lsb);
  b.insert(b.end(), name_length + pad4(name_length), 'n');
  b.insert(b.end(), data_length + pad4(data_length), 'd');
  return b;
}

/// A request whose length field is derived from its data (a multiple of 4).
inline Bytes request(std::uint8_t opcode, const Bytes& data, bool lsb, std::uint8_t extra = 0) {
  Bytes b(4, 0);
  b[0] = opcode;
  b[1] = extra;
  write_u16(&b[2], static_cast<std::uint16_t>(1 + data.size() / 4), lsb);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

/// A BIG-REQUESTS request: length 0, then the extended length.
inline Bytes big_request(std::uint8_t opcode, const Bytes& data, bool lsb) {
  Bytes b(8, 0);
  b[0] = opcode;
  write_u32(&b[4], static_cast<std::uint32_t>(2 + data.size() / 4), lsb);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

inline void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

inline bool send_bytes(int fd, const Bytes& b) {
  std::size_t done = 0;
  while (done < b.size()) {
    const ssize_t n = ::send(fd, b.data() + done, b.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

/// Reads exactly n bytes, or fewer when the stream ends first.
inline Bytes read_bytes(int fd, std::size_t n) {
  Bytes b(n);
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r = ::recv(fd, b.data() + got, n - got, 0);
    if (r <= 0) break;
    got += static_cast<std::size_t>(r);
  }
  b.resize(got);
  return b;
}

inline Bytes read_to_end(int fd) {
  Bytes all;
  for (;;) {
    Bytes chunk = read_bytes(fd, 65536);
    append(all, chunk);
    if (chunk.size() < 65536) return all;
  }
}

/// The connection handler serving one end of a socket pair on its own thread.
class ServedPair {
 public:
  ServedPair() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) throw std::runtime_error("socketpair");
    client_ = fds[0];
    server_fd_ = fds[1];
    timeval limit{20, 0};  // a hung handler fails the test instead of hanging it
    ::setsockopt(client_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    thread_ = std::thread([fd = server_fd_] { serve_connection(UniqueFd(fd)); });
  }
  ~ServedPair() {
    close_client();
    if (thread_.joinable()) thread_.join();
  }
  int client() const { return client_; }
  /// Hands the client end to a library that closes it itself.
  int release_client() { return std::exchange(client_, -1); }
  void close_client() {
    if (client_ >= 0) ::close(client_);
    client_ = -1;
  }
  /// Waits for the handler to end; true when it closed its socket.
  bool wait_closed() {
    thread_.join();
    return ::fcntl(server_fd_, F_GETFD) == -1 && errno == EBADF;
  }

 private:
  int client_ = -1;
  int server_fd_ = -1;
  std::thread thread_;
};

}  // namespace x11::testing_support
