// The DISPLAY a started program gets for a TCP listener. An X client reads
// "HOST:N" as TCP port 6000 + N on HOST, so the listener's "HOST:PORT" is
// not passed on as it is: it becomes HOST:(PORT - 6000), and a port below
// 6000 cannot be named at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace launcher {

inline constexpr std::uint16_t kFirstDisplayPort = 6000;

/// The display name that reaches a listener on bind_address: the host part
/// and the port less 6000 ("127.0.0.1:6057" gives "127.0.0.1:57"). The
/// all-interfaces address becomes its family's loopback (0.0.0.0 gives
/// 127.0.0.1, [::] gives [::1]); an IPv6 address is written in brackets, as
/// X clients (libxcb) read it; a host name stays as it is.
/// REQUIRES: tcp_port_of(bind_address) >= kFirstDisplayPort.
std::string tcp_display_name(const std::string& bind_address);

}  // namespace launcher
