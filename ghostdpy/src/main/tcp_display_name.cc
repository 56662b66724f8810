#include "tcp_display_name.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "listener.h"

namespace launcher {
namespace {

// The host part as a client should name it.
std::string client_host(const std::string& host) {
  in_addr v4;
  if (::inet_pton(AF_INET, host.c_str(), &v4) == 1)
    return v4.s_addr == htonl(INADDR_ANY) ? "127.0.0.1" : host;
  const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
  const std::string inside = bracketed ? host.substr(1, host.size() - 2) : host;
  in6_addr v6;
  if (::inet_pton(AF_INET6, inside.substr(0, inside.find('%')).c_str(), &v6) != 1) return host;
  if (IN6_IS_ADDR_UNSPECIFIED(&v6)) return "[::1]";
  return "[" + inside + "]";
}

}  // namespace

std::string tcp_display_name(const std::string& bind_address) {
  const auto colon = bind_address.rfind(':');
  const std::uint16_t port = tcp_port_of(bind_address).value_or(kFirstDisplayPort);
  return client_host(bind_address.substr(0, colon)) + ":" + std::to_string(port - kFirstDisplayPort);
}

}  // namespace launcher
