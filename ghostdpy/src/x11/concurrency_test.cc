// Many connection handlers at once, as the accept loop runs them: each on its
// own thread, sharing nothing but the two console streams. Built as a test
// binary of its own, labelled "concurrency", so that the ThreadSanitizer
// build runs it.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "setup_reply.h"
#include "test_support.h"

namespace x11 {
namespace {

using namespace testing_support;

constexpr int kClients = 16;
constexpr int kRoundsPerClient = 40;

// Data bytes of the first AllocColor of every client: more than a request
// whose trace line is gathered with others, so that line is written in
// pieces while the other clients write theirs.
constexpr std::size_t kLargeData = 20000;

// AllocColor whose red channel names the client, so that a reply that went to
// the wrong client, or was mixed with another's, is seen.
Bytes alloc_color(int client, int round, bool lsb) {
  Bytes data(round == 0 ? kLargeData : 12, 0);
  write_u16(&data[4], static_cast<std::uint16_t>(client << 8), lsb);
  write_u16(&data[6], static_cast<std::uint16_t>(round << 8), lsb);
  return request(84, data, lsb);
}

// A QueryExtension for an unknown name writes a notice that names the client.
Bytes query_unknown(int client, bool lsb) {
  const std::string name = "client" + std::to_string(client);
  Bytes data(4 + name.size() + pad4(name.size()), 0);
  write_u16(&data[0], static_cast<std::uint16_t>(name.size()), lsb);
  std::copy(name.begin(), name.end(), data.begin() + 4);
  return request(98, data, lsb);
}

// One well-behaved client: per round a pipelined batch of three requests
// with replies and one without, then the three replies read and checked.
// Returns the failures it saw, empty when all was well.
std::string run_client(int fd, int client) {
  const bool lsb = client % 2 == 0;
  std::ostringstream failures;
  if (!send_bytes(fd, setup_request(lsb, static_cast<std::uint16_t>(client), 3))) return "setup not sent";
  const Bytes setup = read_bytes(fd, kSetupReplySize);
  if (setup.size() != kSetupReplySize || !std::equal(setup.begin(), setup.end(), setup_reply(lsb).begin()))
    return "wrong setup reply";
  std::uint16_t sequence = 1;
  for (int round = 0; round < kRoundsPerClient; ++round) {
    Bytes batch = alloc_color(client, round, lsb);
    append(batch, request(60, Bytes(4, 0), lsb));  // FreeGC: no reply
    append(batch, query_unknown(client, lsb));
    append(batch, request(43, {}, lsb));
    if (!send_bytes(fd, batch)) return "batch not sent";
    const Bytes r = read_bytes(fd, 3 * 32);
    if (r.size() != 3 * 32) return "replies cut short in round " + std::to_string(round);
    const std::uint32_t pixel = read_u32(&r[16], lsb);
    if (read_u16(&r[2], lsb) != sequence || pixel != (std::uint32_t(client) << 16 | std::uint32_t(round) << 8))
      failures << "round " << round << ": AllocColor reply " << read_u16(&r[2], lsb) << "/" << pixel << "; ";
    if (read_u16(&r[34], lsb) != sequence + 2 || r[40] != 0)  // absent extension
      failures << "round " << round << ": QueryExtension reply; ";
    if (read_u16(&r[66], lsb) != sequence + 3 || read_u32(&r[72], lsb) != 1)
      failures << "round " << round << ": GetInputFocus reply; ";
    sequence = static_cast<std::uint16_t>(sequence + 4);
  }
  return failures.str();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(Concurrency, ManyClientsAtOnceGetTheirOwnRepliesAndWholeTraceLines) {
  CapturedConsole console;
  std::vector<std::unique_ptr<ServedPair>> pairs;
  for (int i = 0; i < kClients; ++i) pairs.push_back(std::make_unique<ServedPair>());
  std::vector<std::string> failures(kClients);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i)
    clients.emplace_back([&, i] { failures[i] = run_client(pairs[i]->client(), i); });
  for (auto& t : clients) t.join();
  for (auto& p : pairs) {
    p->close_client();
    EXPECT_TRUE(p->wait_closed());
  }
  for (int i = 0; i < kClients; ++i) EXPECT_EQ(failures[i], "") << "client " << i;

  // Every message came out whole: each line is one of the four kinds, and
  // their numbers add up.
  const std::regex request_line(R"(Request\d+ = Request \{ header: RequestHeader \{ opcode: (84|60|98|43), extra_spec: 0, length: \d+ \}, data: (None|Some\(\[[0-9, ]+\]\)) \})");
  const std::regex response_line(R"(Response\d+ = \[1, 0(, \d+){30}\])");
  const std::regex notice_line(R"(QueryExtension - not supported client(\d+))");
  std::map<std::string, int> counts;
  std::map<int, int> notices_per_client;
  // The large requests' lines are too long for std::regex, which recurses
  // per character: their head is matched, their data checked by hand.
  const std::regex large_head(R"(Request1 = Request \{ header: RequestHeader \{ opcode: 84, extra_spec: 0, length: \d+ \}, data: Some\(\[)");
  const auto is_large_request_line = [&](const std::string& line) {
    const std::size_t data_at = line.find("Some([") + 6;
    if (data_at < 6 || !std::regex_match(line.substr(0, data_at), large_head)) return false;
    const std::string tail = ") }";
    if (line.size() < data_at + tail.size() || line.compare(line.size() - tail.size(), tail.size(), tail) != 0)
      return false;
    const std::string data = line.substr(data_at, line.size() - data_at - tail.size() - 1);
    return line[line.size() - tail.size() - 1] == ']' &&
           data.find_first_not_of("0123456789, ") == std::string::npos &&
           static_cast<std::size_t>(std::count(data.begin(), data.end(), ',')) == kLargeData - 1;
  };
  for (const std::string& line : lines_of(console.out())) {
    std::smatch m;
    if (line.empty()) {
      ++counts["blank"];
    } else if (line.size() > kLargeData) {
      if (is_large_request_line(line)) {
        ++counts["request"];
      } else {
        ADD_FAILURE() << "broken trace line: " << line.substr(0, 200) << " ... " << line.substr(line.size() - 100);
      }
    } else if (std::regex_match(line, request_line)) {
      ++counts["request"];
    } else if (std::regex_match(line, response_line)) {
      ++counts["response"];
    } else if (std::regex_match(line, m, notice_line)) {
      ++notices_per_client[std::stoi(m[1])];
    } else {
      ADD_FAILURE() << "broken trace line: " << line.substr(0, 200);
    }
  }
  EXPECT_EQ(counts["request"], kClients * kRoundsPerClient * 4);
  EXPECT_EQ(counts["blank"], kClients * kRoundsPerClient * 4);
  EXPECT_EQ(counts["response"], kClients * kRoundsPerClient * 3);
  for (int i = 0; i < kClients; ++i) EXPECT_EQ(notices_per_client[i], kRoundsPerClient) << "client " << i;
  EXPECT_EQ(console.err(), [] {
    std::string all;
    for (int i = 0; i < kClients; ++i) all += "Client disconnected\n";
    return all;
  }());
}

TEST(Concurrency, ClientsVanishingMidRequestAndMidReplyLeaveTheOthersServed) {
  CapturedConsole console;
  constexpr int kSteady = 4, kVanishing = 12;
  std::vector<std::unique_ptr<ServedPair>> steady, vanishing;
  for (int i = 0; i < kSteady; ++i) steady.push_back(std::make_unique<ServedPair>());
  for (int i = 0; i < kVanishing; ++i) vanishing.push_back(std::make_unique<ServedPair>());

  std::vector<std::string> failures(kSteady);
  std::vector<std::thread> threads;
  for (int i = 0; i < kSteady; ++i)
    threads.emplace_back([&, i] { failures[i] = run_client(steady[i]->client(), i); });
  for (int i = 0; i < kVanishing; ++i) {
    threads.emplace_back([&, i] {
      const int fd = vanishing[i]->client();
      send_bytes(fd, setup_request(true));
      if (i % 3 == 0) {
        // Mid-request: a header that announces more data than ever comes.
        read_bytes(fd, kSetupReplySize);
        send_bytes(fd, {55, 0, 200, 0, 1, 2, 3});
      } else if (i % 3 == 1) {
        // Mid-reply: many replies asked for, none read, then gone.
        Bytes many;
        for (int k = 0; k < 4000; ++k) append(many, request(43, {}, true));
        send_bytes(fd, many);
      }  // else: gone before reading the setup reply
      linger abort_on_close{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
      vanishing[i]->close_client();
    });
  }
  for (auto& t : threads) t.join();
  for (auto& p : vanishing) EXPECT_TRUE(p->wait_closed());
  for (auto& p : steady) {
    p->close_client();
    EXPECT_TRUE(p->wait_closed());
  }
  for (int i = 0; i < kSteady; ++i) EXPECT_EQ(failures[i], "") << "client " << i;

  // One report per connection, each a whole line of a known kind.
  int disconnected = 0, fatal = 0;
  for (const std::string& line : lines_of(console.err())) {
    if (line == "Client disconnected") {
      ++disconnected;
    } else if (line.rfind("ghostdpy[connection]: fatal: ", 0) == 0) {
      ++fatal;
    } else {
      ADD_FAILURE() << "unexpected report: " << line;
    }
  }
  EXPECT_EQ(disconnected + fatal, kSteady + kVanishing);
  EXPECT_GE(disconnected, kSteady);
  EXPECT_GE(fatal, kVanishing / 3);  // at least the ones cut mid-request
}

}  // namespace
}  // namespace x11
