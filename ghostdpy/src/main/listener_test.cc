#include "listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include "accept_loop.h"

namespace launcher {
namespace {

std::string render(const SocketAddress& a) {
  char text[INET6_ADDRSTRLEN] = {};
  if (a.storage.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&a.storage);
    ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    return std::string(text) + " port " + std::to_string(ntohs(in->sin_port));
  }
  const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&a.storage);
  ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
  return "[" + std::string(text) + "%" + std::to_string(in6->sin6_scope_id) + "] port " +
         std::to_string(ntohs(in6->sin6_port));
}

TEST(ListenerTest, Port) {
  EXPECT_EQ(parse_port("0", false), 0);
  EXPECT_EQ(parse_port("6000", false), 6000);
  EXPECT_EQ(parse_port("006000", false), 6000);
  EXPECT_EQ(parse_port("65535", false), 65535);
  EXPECT_EQ(parse_port("65536", false), std::nullopt);
  EXPECT_EQ(parse_port("99999999999", false), std::nullopt);
  EXPECT_EQ(parse_port("+6000", false), std::nullopt);
  EXPECT_EQ(parse_port("+6000", true), 6000);
  EXPECT_EQ(parse_port("++6000", true), std::nullopt);
  for (const char* bad : {"", "+", "-", "-1", "x", "60 00", "0x10"}) {
    EXPECT_EQ(parse_port(bad, true), std::nullopt) << "'" << bad << "'";
  }
}

TEST(ListenerTest, LiteralAddresses) {
  const struct {
    const char* text;
    const char* want;  // nullptr: not a literal socket address
  } cases[] = {
      {"127.0.0.1:6000", "127.0.0.1 port 6000"},
      {"0.0.0.0:0", "0.0.0.0 port 0"},
      {"255.255.255.255:065535", "255.255.255.255 port 65535"},
      {"[::1]:6000", "[::1%0] port 6000"},
      {"[fe80::1%2]:7", "[fe80::1%2] port 7"},
      {"[::ffff:1.2.3.4]:1", "[::ffff:1.2.3.4%0] port 1"},
      {"127.0.0.1:65536", nullptr},
      {"127.0.0.1:+6000", nullptr},
      {"127.0.0.1:", nullptr},
      {"127.0.0.01:6000", nullptr},  // leading zero
      {"256.0.0.1:6000", nullptr},
      {"1.2.3:6000", nullptr},
      {"localhost:6000", nullptr},
      {"::1:6000", nullptr},        // IPv6 needs its brackets
      {"[::1]6000", nullptr},
      {"[fe80::1%]:7", nullptr},
      {"[fe80::1%eth0]:7", nullptr},  // scope must be a number
      {"[1.2.3.4]:7", nullptr},
  };
  for (const auto& c : cases) {
    const auto got = parse_literal_address(c.text);
    if (c.want == nullptr) {
      EXPECT_FALSE(got.has_value()) << c.text << " gave " << render(*got);
    } else if (!got) {
      ADD_FAILURE() << c.text << " is not taken as a literal";
    } else {
      EXPECT_EQ(render(*got), c.want) << c.text;
    }
  }
}

TEST(ListenerTest, Candidates) {
  // Resolved: host part up to the last colon, port with an optional "+".
  {
    const auto got = tcp_candidates("localhost:+6001");
    ASSERT_FALSE(got.empty());
    for (const auto& a : got) {
      const std::string text = render(a);
      EXPECT_TRUE(text == "127.0.0.1 port 6001" || text == "[::1%0] port 6001") << text;
    }
  }
  {
    const auto got = tcp_candidates("fe80::1:6000");  // no brackets: split at the last colon
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(render(got[0]), "[fe80::1%0] port 6000");
  }
  for (const char* bad : {"localhost:x", "localhost:65536", "localhost:", "localhost:-1",
                          "no-such-host.invalid:6000", "dir/prog:x"}) {
    EXPECT_TRUE(tcp_candidates(bad).empty()) << bad;
  }
}

TEST(ListenerTest, ResourceExhaustion) {
  for (int err : {EMFILE, ENFILE, ENOBUFS, ENOMEM}) EXPECT_TRUE(is_resource_exhaustion(err)) << err;
  for (int err : {ECONNABORTED, EINTR, EPROTO, EINVAL}) EXPECT_FALSE(is_resource_exhaustion(err)) << err;
}

}  // namespace
}  // namespace launcher
