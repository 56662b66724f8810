#include "listener.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace launcher {

namespace {

// A Unix socket address for a path (its bytes and a terminating zero) or for
// an abstract name (a zero byte, then the name without a terminating zero).
int unix_address(const std::string& name, bool abstract, sockaddr_un* addr, socklen_t* length) {
  *addr = sockaddr_un{};
  addr->sun_family = AF_UNIX;
  if (name.size() + 1 > sizeof addr->sun_path) return ENAMETOOLONG;
  std::memcpy(addr->sun_path + (abstract ? 1 : 0), name.data(), name.size());
  *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + 1);
  return 0;
}

// A Unix stream socket bound to a path or to an abstract name.
int bind_unix_socket(const std::string& name, bool abstract, x11::UniqueFd* socket) {
  sockaddr_un addr;
  socklen_t length;
  if (const int err = unix_address(name, abstract, &addr, &length); err != 0) return err;
  x11::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return errno;
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), length) != 0) return errno;
  *socket = std::move(fd);
  return 0;
}

}  // namespace

int open_unix_listener(const std::string& socket_path, x11::UniqueFd* listener, FileIdentity* bound) {
  x11::UniqueFd fd;
  if (const int err = bind_unix_socket(socket_path, false, &fd); err != 0) return err;
  struct stat st;
  if (::lstat(socket_path.c_str(), &st) != 0) return errno;
  if (!S_ISSOCK(st.st_mode)) return EEXIST;  // not what bind made: leave it alone
  const FileIdentity made = identity_of(st);
  // The socket file's mode comes from the umask; the display is for every
  // account, as an X server's is. chmod would follow a symbolic link, but in
  // a socket directory that passed its checks nobody else can put one in
  // place of our socket.
  int err = 0;
  if (::chmod(socket_path.c_str(), 0777) != 0) {
    err = errno;
  } else if (::listen(fd.get(), INT32_MAX) != 0) {  // the kernel caps it at net.core.somaxconn
    err = errno;
  }
  if (err != 0) {
    (void)remove_if_same_file(socket_path, made);  // the error reported is the one above
    return err;
  }
  *listener = std::move(fd);
  *bound = made;
  return 0;
}

int bind_abstract_name(const std::string& name, x11::UniqueFd* socket) {
  return bind_unix_socket(name, true, socket);
}

std::optional<std::uint16_t> parse_port(std::string_view text, bool allow_plus) {
  if (allow_plus && !text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > 65535) return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

std::optional<SocketAddress> parse_literal_address(std::string_view text) {
  const auto colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto port = parse_port(text.substr(colon + 1), false);
  if (!port) return std::nullopt;
  const std::string_view host = text.substr(0, colon);
  SocketAddress out;
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    std::string_view inside = host.substr(1, host.size() - 2);
    std::uint32_t scope = 0;
    if (const auto percent = inside.find('%'); percent != std::string_view::npos) {
      const std::string_view digits = inside.substr(percent + 1);
      if (digits.empty()) return std::nullopt;
      std::uint64_t value = 0;
      for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > UINT32_MAX) return std::nullopt;
      }
      scope = static_cast<std::uint32_t>(value);
      inside = inside.substr(0, percent);
    }
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&out.storage);
    if (::inet_pton(AF_INET6, std::string(inside).c_str(), &a6->sin6_addr) != 1) return std::nullopt;
    a6->sin6_family = AF_INET6;
    a6->sin6_port = htons(*port);
    a6->sin6_scope_id = scope;
    out.length = sizeof(sockaddr_in6);
    return out;
  }
  // glibc's inet_pton takes exactly four decimal parts of 0..255 without
  // leading zeros, which is the literal form we accept.
  auto* a4 = reinterpret_cast<sockaddr_in*>(&out.storage);
  if (::inet_pton(AF_INET, std::string(host).c_str(), &a4->sin_addr) != 1) return std::nullopt;
  a4->sin_family = AF_INET;
  a4->sin_port = htons(*port);
  out.length = sizeof(sockaddr_in);
  return out;
}

std::vector<SocketAddress> tcp_candidates(const std::string& bind_address) {
  if (auto literal = parse_literal_address(bind_address)) return {*literal};
  const auto colon = bind_address.rfind(':');
  if (colon == std::string::npos) return {};
  const auto port = parse_port(std::string_view(bind_address).substr(colon + 1), true);
  if (!port) return {};
  const std::string host = bind_address.substr(0, colon);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return {};
  std::vector<SocketAddress> candidates;
  for (const addrinfo* ai = found; ai; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
    if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
    SocketAddress c;
    std::memcpy(&c.storage, ai->ai_addr, ai->ai_addrlen);
    c.length = ai->ai_addrlen;
    if (ai->ai_family == AF_INET)
      reinterpret_cast<sockaddr_in*>(&c.storage)->sin_port = htons(*port);
    else
      reinterpret_cast<sockaddr_in6*>(&c.storage)->sin6_port = htons(*port);
    candidates.push_back(c);
  }
  ::freeaddrinfo(found);
  return candidates;
}

x11::UniqueFd open_tcp_listener(const std::string& bind_address) {
  for (const SocketAddress& c : tcp_candidates(bind_address)) {
    x11::UniqueFd fd(::socket(c.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) continue;
    const int one = 1;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) continue;
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&c.storage), c.length) != 0) continue;
    if (::listen(fd.get(), 128) != 0) continue;
    return fd;
  }
  return {};
}

std::optional<std::uint16_t> tcp_port_of(const std::string& bind_address) {
  const auto colon = bind_address.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  return parse_port(std::string_view(bind_address).substr(colon + 1), true);
}

std::string tcp_listening_address(const std::string& bind_address, int listener) {
  if (tcp_port_of(bind_address) != 0) return bind_address;
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  if (::getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length) != 0) return bind_address;
  const std::uint16_t chosen = bound.ss_family == AF_INET6
                                   ? ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port)
                                   : ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
  return bind_address.substr(0, bind_address.rfind(':') + 1) + std::to_string(chosen);
}

}  // namespace launcher
