#include "connection.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <netinet/in.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include "setup_reply.h"
#include "test_support.h"

namespace x11 {
namespace {

using namespace testing_support;

const std::string kFocusTraceLsb =
    "\nRequest1 = Request { header: RequestHeader { opcode: 43, extra_spec: 0, length: 1 }, data: None }\n"
    "Response1 = [1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0]\n";

Bytes handshake(int fd, const Bytes& setup) {
  EXPECT_TRUE(send_bytes(fd, setup));
  return read_bytes(fd, kSetupReplySize);
}

TEST(Connection, HandshakeSendsTheReplyOfTheClientsByteOrder) {
  struct Case {
    bool lsb;
    std::uint16_t name_length, data_length;
  } cases[] = {{true, 0, 0}, {false, 0, 0}, {true, 18, 16}, {false, 1, 3}, {true, 4, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.lsb) + " " + std::to_string(c.name_length) + "/" + std::to_string(c.data_length));
    CapturedConsole console;
    ServedPair pair;
    const Bytes reply = handshake(pair.client(), setup_request(c.lsb, c.name_length, c.data_length));
    EXPECT_TRUE(std::equal(reply.begin(), reply.end(), setup_reply(c.lsb).begin(), setup_reply(c.lsb).end()));
    // The authorisation was consumed whole: the next request is request 1.
    ASSERT_TRUE(send_bytes(pair.client(), request(43, {}, c.lsb)));
    const Bytes focus = read_bytes(pair.client(), 32);
    ASSERT_EQ(focus.size(), 32u);
    EXPECT_EQ(read_u16(&focus[2], c.lsb), 1);
    EXPECT_EQ(read_u32(&focus[8], c.lsb), 1u);
    pair.close_client();
    EXPECT_TRUE(pair.wait_closed());
    EXPECT_EQ(console.err(), "Client disconnected\n");
    if (c.lsb) {
      EXPECT_EQ(console.out(), kFocusTraceLsb);
    }
  }
}

TEST(Connection, DisconnectRightAfterTheHandshakeTracesNothing) {
  CapturedConsole console;
  ServedPair pair;
  EXPECT_EQ(handshake(pair.client(), setup_request(true)).size(), kSetupReplySize);
  ::shutdown(pair.client(), SHUT_WR);
  EXPECT_TRUE(read_to_end(pair.client()).empty());
  EXPECT_TRUE(pair.wait_closed());
  EXPECT_EQ(console.out(), "");
  EXPECT_EQ(console.err(), "Client disconnected\n");
}

// Finds the trace line of request n.
std::string trace_line(const std::string& out, int n) {
  const std::string head = "\nRequest" + std::to_string(n) + " = ";
  const auto at = out.find(head);
  if (at == std::string::npos) return {};
  return out.substr(at + 1, out.find('\n', at + 1) - at - 1);
}

TEST(Connection, FramesRequestsOfEverySize) {
  CapturedConsole console;
  ServedPair pair;
  const bool lsb = false;
  ASSERT_EQ(handshake(pair.client(), setup_request(lsb)).size(), kSetupReplySize);
  Bytes stream;
  append(stream, request(20, {9, 8, 7, 6}, lsb));      // length 2: four data bytes
  append(stream, request(60, {}, lsb));                // header alone
  append(stream, request(55, Bytes(65536, 7), lsb));   // length 16385
  append(stream, big_request(55, Bytes(79992, 5), lsb));  // extended length 20000
  append(stream, request(43, {}, lsb));
  ASSERT_EQ(stream[2], 0x00);
  ASSERT_EQ(stream[3], 0x02);
  std::thread sender([&] { send_bytes(pair.client(), stream); });
  const Bytes replies = read_bytes(pair.client(), 64);
  sender.join();
  ASSERT_EQ(replies.size(), 64u);
  EXPECT_EQ(read_u16(&replies[2], lsb), 1);   // GetProperty
  EXPECT_EQ(read_u16(&replies[34], lsb), 5);  // GetInputFocus: numbers 2 to 4 had no reply
  EXPECT_EQ(read_u32(&replies[40], lsb), 1u);
  pair.close_client();
  EXPECT_TRUE(pair.wait_closed());

  const std::string out = console.out();
  EXPECT_EQ(trace_line(out, 1),
            "Request1 = Request { header: RequestHeader { opcode: 20, extra_spec: 0, length: 2 }, data: "
            "Some([9, 8, 7, 6]) }");
  EXPECT_EQ(trace_line(out, 2), "Request2 = Request { header: RequestHeader { opcode: 60, extra_spec: 0, length: 1 }, data: None }");
  const std::string third = trace_line(out, 3);
  EXPECT_EQ(third.rfind("Request3 = Request { header: RequestHeader { opcode: 55, extra_spec: 0, length: 16385 }, data: Some([7, 7, ", 0), 0u);
  EXPECT_EQ(std::count(third.begin(), third.end(), ','), 65535 + 3);  // three in the header part
  const std::string fourth = trace_line(out, 4);
  EXPECT_EQ(fourth.rfind("Request4 = Request { header: RequestHeader { opcode: 55, extra_spec: 0, length: 0 }, data: Some([5, 5, ", 0), 0u);
  EXPECT_EQ(std::count(fourth.begin(), fourth.end(), ','), 79991 + 3);
  EXPECT_EQ(out.find("Response2"), std::string::npos);
  EXPECT_NE(out.find("\nResponse5 = [1, 0, 0, 5, "), std::string::npos);
}

TEST(Connection, SequenceNumbersWrapAt16Bits) {
  CapturedConsole console;
  ServedPair pair;
  ASSERT_EQ(handshake(pair.client(), setup_request(true)).size(), kSetupReplySize);
  Bytes stream;
  for (int i = 0; i < 65535; ++i) append(stream, request(60, {}, true));  // no replies
  append(stream, request(43, {}, true));  // request 65,536
  append(stream, request(43, {}, true));
  std::thread sender([&] { send_bytes(pair.client(), stream); });
  const Bytes replies = read_bytes(pair.client(), 64);
  sender.join();
  ASSERT_EQ(replies.size(), 64u);
  EXPECT_EQ(read_u16(&replies[2], true), 0);
  EXPECT_EQ(read_u16(&replies[34], true), 1);
  pair.close_client();
  EXPECT_TRUE(pair.wait_closed());
  const std::string out = console.out();
  EXPECT_NE(out.find("\nRequest65535 = Request { header: RequestHeader { opcode: 60,"), std::string::npos);
  EXPECT_NE(out.find("\nRequest0 = Request { header: RequestHeader { opcode: 43,"), std::string::npos);
  EXPECT_NE(out.find("\nResponse0 = [1, 0, 0, 0, "), std::string::npos);
  EXPECT_NE(out.find("\nResponse1 = [1, 0, 1, 0, "), std::string::npos);
}

TEST(Connection, HeaderSplitAcrossSegmentsIsReassembled) {
  CapturedConsole console;
  ServedPair pair;
  ASSERT_EQ(handshake(pair.client(), setup_request(true)).size(), kSetupReplySize);
  const Bytes focus = request(43, {}, true);
  ASSERT_TRUE(send_bytes(pair.client(), Bytes(focus.begin(), focus.begin() + 2)));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(send_bytes(pair.client(), Bytes(focus.begin() + 2, focus.end())));
  EXPECT_EQ(read_bytes(pair.client(), 32).size(), 32u);
  pair.close_client();
  EXPECT_TRUE(pair.wait_closed());
  EXPECT_EQ(console.out(), kFocusTraceLsb);
}

TEST(Connection, QueryExtensionNoticeStandsBetweenTheTraces) {
  CapturedConsole console;
  ServedPair pair;
  ASSERT_EQ(handshake(pair.client(), setup_request(true)).size(), kSetupReplySize);
  ASSERT_TRUE(send_bytes(pair.client(), request(98, {4, 0, 0, 0, 'N', 'O', 'P', 'E'}, true)));
  EXPECT_EQ(read_bytes(pair.client(), 32).size(), 32u);
  pair.close_client();
  EXPECT_TRUE(pair.wait_closed());
  EXPECT_EQ(console.out(),
            "\nRequest1 = Request { header: RequestHeader { opcode: 98, extra_spec: 0, length: 3 }, data: Some([4, 0, "
            "0, 0, 78, 79, 80, 69]) }\nQueryExtension - not supported NOPE\nResponse1 = [1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, "
            "0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0]\n");
}

TEST(Connection, UnimplementedRequestEndsTheConnectionAfterItsTrace) {
  CapturedConsole console;
  ServedPair pair;
  ASSERT_EQ(handshake(pair.client(), setup_request(true)).size(), kSetupReplySize);
  Bytes stream = request(43, {}, true);             // answered
  append(stream, request(8, {1, 0, 32, 0}, true));  // MapWindow: refused
  append(stream, request(43, {}, true));            // never read
  ASSERT_TRUE(send_bytes(pair.client(), stream));
  EXPECT_EQ(read_to_end(pair.client()).size(), 32u);  // the first reply, then the end
  EXPECT_TRUE(pair.wait_closed());
  EXPECT_EQ(console.out(), kFocusTraceLsb +
                               "\nRequest2 = Request { header: RequestHeader { opcode: 8, extra_spec: 0, length: 2 }, "
                               "data: Some([1, 0, 32, 0]) }\n");
  EXPECT_EQ(console.err(),
            "ERROR: Not implemented opcode Request { header: RequestHeader { opcode: 8, extra_spec: 0, length: 2 }, "
            "data: Some([1, 0, 32, 0]) }\n");
}

TEST(Connection, FatalErrorsReportTheirMessage) {
  const Bytes after_setup = setup_request(true);
  auto with_setup = [&](const Bytes& more) {
    Bytes b = after_setup;
    append(b, more);
    return b;
  };
  const Bytes with_auth = setup_request(true, 8);
  Bytes short_extended = request(55, {}, true);
  short_extended[2] = short_extended[3] = 0;
  short_extended.push_back(9);
  short_extended.push_back(0);
  Bytes bad_extended = big_request(55, {}, true);
  write_u32(&bad_extended[4], 1, true);
  Bytes huge_extended = big_request(55, {}, false);
  write_u32(&huge_extended[4], 4194304, false);

  struct Case {
    const char* name;
    Bytes sent;
    std::string message;
    std::size_t bytes_back;
  } cases[] = {
      {"bad byte order", {0x62, 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "invalid byte encoding value `98`", 0},
      {"short setup", {0x6C, 0, 11, 0, 0}, "failed to read init request: failed to fill whole buffer", 0},
      {"short authorisation", Bytes(with_auth.begin(), with_auth.begin() + 14),
       "failed to read init request: failed to fill whole buffer", 0},
      {"short header", with_setup({55, 0}), "unknown message, read count=2, [55, 0, 0, 0]", kSetupReplySize},
      {"short header of three", with_setup({1, 2, 3}), "unknown message, read count=3, [1, 2, 3, 0]",
       kSetupReplySize},
      {"short data", with_setup({55, 0, 3, 0, 1, 2}), "read error: failed to fill whole buffer",
       kSetupReplySize},
      {"short extended length", with_setup(short_extended), "read error: failed to fill whole buffer",
       kSetupReplySize},
      {"extended length too small", with_setup(bad_extended),
       "invalid extended request length 1 (allowed 2 to 4194303)", kSetupReplySize},
      {"extended length too large", [&] {
         Bytes b = setup_request(false);
         append(b, huge_extended);
         return b;
       }(), "invalid extended request length 4194304 (allowed 2 to 4194303)", kSetupReplySize},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedConsole console;
    ServedPair pair;
    ASSERT_TRUE(send_bytes(pair.client(), c.sent));
    ::shutdown(pair.client(), SHUT_WR);
    EXPECT_EQ(read_to_end(pair.client()).size(), c.bytes_back);
    EXPECT_TRUE(pair.wait_closed());
    EXPECT_EQ(console.err(), "ghostdpy[connection]: fatal: " + c.message + "\n");
  }
}

// A client that no longer reads makes the next send fail.
TEST(Connection, SendFailuresEndTheConnection) {
  {
    CapturedConsole console;
    ServedPair pair;
    ::shutdown(pair.client(), SHUT_RD);
    ASSERT_TRUE(send_bytes(pair.client(), setup_request(true)));
    EXPECT_TRUE(pair.wait_closed());
    EXPECT_EQ(console.err(), "ghostdpy[connection]: fatal: write init response: Broken pipe (errno 32)\n");
  }
  {
    CapturedConsole console;
    ServedPair pair;
    ASSERT_EQ(handshake(pair.client(), setup_request(true)).size(), kSetupReplySize);
    ::shutdown(pair.client(), SHUT_RD);
    ASSERT_TRUE(send_bytes(pair.client(), request(43, {}, true)));
    EXPECT_TRUE(pair.wait_closed());
    EXPECT_EQ(console.out(), kFocusTraceLsb);  // traced before it was sent
    EXPECT_EQ(console.err(), "ghostdpy[connection]: fatal: write response error: Broken pipe (errno 32)\n");
  }
}

// A TCP connection is served the same way; a reset shows as a failed header read.
TEST(Connection, ResetDuringHeaderReadIsAHeaderReadError) {
  CapturedConsole console;
  UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener.get(), 1), 0);
  ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
  UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  ASSERT_EQ(::connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  std::thread server([fd = ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC)] { serve_connection(UniqueFd(fd)); });
  EXPECT_EQ(handshake(client.get(), setup_request(true)).size(), kSetupReplySize);
  ASSERT_TRUE(send_bytes(client.get(), request(43, {}, true)));
  EXPECT_EQ(read_bytes(client.get(), 32).size(), 32u);
  linger abort_on_close{1, 0};
  ::setsockopt(client.get(), SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  client.reset();
  server.join();
  EXPECT_EQ(console.out(), kFocusTraceLsb);
  EXPECT_EQ(console.err(), "ghostdpy[connection]: fatal: header read error: Connection reset by peer (errno 104)\n");
}

TEST(Connection, AVanishingClientEndsOnlyItsOwnConnection) {
  CapturedConsole console;
  ServedPair steady;
  ASSERT_EQ(handshake(steady.client(), setup_request(false)).size(), kSetupReplySize);
  {
    ServedPair vanishing;
    ASSERT_EQ(handshake(vanishing.client(), setup_request(true)).size(), kSetupReplySize);
    ASSERT_TRUE(send_bytes(vanishing.client(), {55, 0, 200, 0, 1, 2, 3}));
    vanishing.close_client();
    EXPECT_TRUE(vanishing.wait_closed());
  }
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(send_bytes(steady.client(), request(43, {}, false)));
    const Bytes r = read_bytes(steady.client(), 32);
    ASSERT_EQ(r.size(), 32u);
    EXPECT_EQ(read_u16(&r[2], false), i);
  }
  steady.close_client();
  EXPECT_TRUE(steady.wait_closed());
  EXPECT_EQ(console.err(),
            "ghostdpy[connection]: fatal: read error: failed to fill whole buffer\nClient disconnected\n");
}

}  // namespace
}  // namespace x11

namespace x11 {
namespace {

using namespace testing_support;

// Resident memory of this process, in KiB.
long resident_kib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// True once the peer has read everything this end sent (bounded wait).
bool peer_has_read_everything(int fd) {
  for (int i = 0; i < 10000; ++i) {
    int unread = -1;
    if (::ioctl(fd, SIOCOUTQ, &unread) != 0) return false;
    if (unread == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// A client may announce the largest request (4194303 units, 16 MiB) and send
// a few bytes of it: the server's memory must follow the bytes that came, not
// the length that was claimed, or a handful of connections exhaust it.
TEST(Connection, AnnouncedLengthCostsMemoryOnlyAsBytesArrive) {
  CapturedConsole console;
  constexpr int kClients = 8;
  const long before = resident_kib();
  ASSERT_GT(before, 0);
  {
    std::vector<std::unique_ptr<ServedPair>> pairs;
    for (int i = 0; i < kClients; ++i) {
      pairs.push_back(std::make_unique<ServedPair>());
      const int fd = pairs.back()->client();
      ASSERT_TRUE(send_bytes(fd, setup_request(i % 2 == 0)));
      ASSERT_EQ(read_bytes(fd, kSetupReplySize).size(), kSetupReplySize);
      Bytes header = {55, 0, 0, 0, 0, 0, 0, 0};
      write_u32(&header[4], kMaxExtendedLength, i % 2 == 0);
      header.resize(header.size() + 4096, 9);
      ASSERT_TRUE(send_bytes(fd, header));
    }
    // Every handler has read its header and the data so far, so it has made
    // room for the request and waits for the rest.
    for (const auto& p : pairs) ASSERT_TRUE(peer_has_read_everything(p->client()));
    const long growth_kib = resident_kib() - before;
    EXPECT_LT(growth_kib, 32 * 1024) << "resident memory grew by " << growth_kib << " KiB for " << kClients
                                     << " clients that sent 4 KiB each";
  }
  const std::string err = console.err();
  std::size_t reports = 0;
  for (std::size_t at = 0; (at = err.find("read error: failed to fill whole buffer", at)) != std::string::npos; ++at)
    ++reports;
  EXPECT_EQ(reports, std::size_t{kClients});
}

}  // namespace
}  // namespace x11
