// The one listening socket of ghostdpy: a Unix-domain socket at the display's
// path, or a TCP socket for "INTERFACE:PORT". Both are close-on-exec, so a
// started program inherits neither.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "own_file.h"
#include "unique_fd.h"

namespace launcher {

/// Socket, bind, mode 0777 on the new socket file whatever the umask (every
/// account's clients connect), listen (SOMAXCONN-capped maximum). Returns 0
/// and fills *listener and *bound (the socket file made), or the errno of
/// the failing step: the socket is closed and a socket file it made removed.
/// REQUIRES: the socket's directory has passed prepare_socket_directory().
int open_unix_listener(const std::string& socket_path, x11::UniqueFd* listener, FileIdentity* bound);

/// Binds a Unix socket to `name` in the abstract namespace of the network
/// namespace (the address is a zero byte and the name, with no terminating
/// zero, as X servers and their clients spell it). It does not listen: a
/// client that tries the name is refused at once. Returns 0 and fills
/// *socket, or the errno (EADDRINUSE: another process holds the name).
int bind_abstract_name(const std::string& name, x11::UniqueFd* socket);

struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
};

/// Decimal 0..65535; leading zeros allowed, one leading "+" only if allow_plus.
std::optional<std::uint16_t> parse_port(std::string_view text, bool allow_plus);

/// The port part of bind_address (after its last ":") as the listener reads
/// it; nullopt when it is no port, and the listener fails anyway.
std::optional<std::uint16_t> tcp_port_of(const std::string& bind_address);

/// "a.b.c.d:port" or "[ipv6%scope]:port" taken whole, without any lookup.
std::optional<SocketAddress> parse_literal_address(std::string_view text);

/// The literal address, or else the host part (up to the last ":") resolved
/// by getaddrinfo with the port part; empty when neither works out.
std::vector<SocketAddress> tcp_candidates(const std::string& bind_address);

/// The first candidate that takes socket, SO_REUSEADDR, bind and listen(128);
/// an empty UniqueFd when none does.
x11::UniqueFd open_tcp_listener(const std::string& bind_address);

/// bind_address as announced: when its port is 0, that port replaced by the
/// one the system chose for the listener, so that scripts can read it.
std::string tcp_listening_address(const std::string& bind_address, int listener);

}  // namespace launcher
