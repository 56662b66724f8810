#include "tcp_display_name.h"

#include <gtest/gtest.h>

#include "listener.h"

namespace launcher {
namespace {

TEST(TcpDisplayNameTest, NamesThatReachTheListener) {
  const struct {
    const char* bind_address;
    const char* display;
  } cases[] = {
      {"127.0.0.1:6057", "127.0.0.1:57"},
      {"127.0.0.1:6000", "127.0.0.1:0"},
      {"192.168.1.2:65535", "192.168.1.2:59535"},
      {"0.0.0.0:6001", "127.0.0.1:1"},   // all interfaces: the loopback of its family
      {"[::]:6002", "[::1]:2"},
      {"[0:0::0]:6003", "[::1]:3"},
      {"[::1]:6004", "[::1]:4"},
      {"[fe80::1%2]:6005", "[fe80::1%2]:5"},
      {"0:0:0:0:0:0:0:1:6006", "[0:0:0:0:0:0:0:1]:6"},  // resolved form: bracketed for the client
      {"localhost:+06007", "localhost:7"},
      {"build-host.example:7000", "build-host.example:1000"},
  };
  for (const auto& c : cases) EXPECT_EQ(tcp_display_name(c.bind_address), c.display) << c.bind_address;
}

TEST(TcpDisplayNameTest, PortAsTheListenerReadsIt) {
  EXPECT_EQ(tcp_port_of("127.0.0.1:5999"), 5999);
  EXPECT_EQ(tcp_port_of("localhost:+6000"), 6000);
  EXPECT_EQ(tcp_port_of("[::1]:0"), 0);
  EXPECT_EQ(tcp_port_of("localhost:x"), std::nullopt);
  EXPECT_EQ(tcp_port_of("localhost:65536"), std::nullopt);
}

}  // namespace
}  // namespace launcher
