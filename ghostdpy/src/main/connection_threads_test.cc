#include "connection_threads.h"

#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace launcher {
namespace {

using namespace std::chrono_literals;

// What the test body saw: which thread served each connection, and a gate
// that holds every connection open until the test opens it.
struct Record {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<pthread_t> threads;
  bool gate_open = true;
  int running = 0;
};
Record* record = nullptr;

void recording_body(x11::UniqueFd /*socket: closed when the body returns*/) {
  std::unique_lock<std::mutex> l(record->lock);
  record->threads.push_back(pthread_self());
  ++record->running;
  record->changed.notify_all();
  record->changed.wait(l, [] { return record->gate_open; });
  --record->running;
  record->changed.notify_all();
}

// Polls cond for at most 5 s.
bool eventually(const std::function<bool()>& cond) {
  for (int i = 0; i < 500; ++i) {
    if (cond()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return cond();
}

// One end of a fresh socket pair goes to the server, the other stays here.
x11::UniqueFd connection(std::vector<x11::UniqueFd>& peers) {
  int sv[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
  peers.emplace_back(sv[1]);
  return x11::UniqueFd(sv[0]);
}

bool closed_by_server(const x11::UniqueFd& peer) {
  char byte;
  return ::read(peer.get(), &byte, 1) == 0;
}

class ConnectionThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override { record = &rec; }
  void TearDown() override {
    open_gate();
    EXPECT_TRUE(eventually([&] { return threads.live() == 0; })) << "threads still alive";
    record = nullptr;
  }
  void open_gate() {
    std::lock_guard<std::mutex> l(rec.lock);
    rec.gate_open = true;
    rec.changed.notify_all();
  }
  void close_gate() {
    std::lock_guard<std::mutex> l(rec.lock);
    rec.gate_open = false;
  }
  void wait_running(int n) {
    std::unique_lock<std::mutex> l(rec.lock);
    ASSERT_TRUE(rec.changed.wait_for(l, 5s, [&] { return rec.running == n; }));
  }

  Record rec;
  ConnectionThreads threads{recording_body, 2, 200ms};
  std::vector<x11::UniqueFd> peers;
};

TEST_F(ConnectionThreadsTest, OneConnectionAfterAnotherReusesTheParkedThread) {
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(threads.serve(connection(peers)), 0);
    ASSERT_TRUE(eventually([&] { return threads.parked() == 1; }));
    EXPECT_TRUE(closed_by_server(peers.back()));
  }
  EXPECT_EQ(threads.live(), 1u);
  std::lock_guard<std::mutex> l(rec.lock);
  ASSERT_EQ(rec.threads.size(), 3u);
  EXPECT_TRUE(pthread_equal(rec.threads[0], rec.threads[1]));
  EXPECT_TRUE(pthread_equal(rec.threads[0], rec.threads[2]));
}

TEST_F(ConnectionThreadsTest, ConcurrentConnectionsEachHaveAThread) {
  close_gate();
  for (int i = 0; i < 4; ++i) ASSERT_EQ(threads.serve(connection(peers)), 0);
  wait_running(4);
  EXPECT_EQ(threads.live(), 4u);
  {
    std::lock_guard<std::mutex> l(rec.lock);
    std::set<pthread_t> distinct(rec.threads.begin(), rec.threads.end());
    EXPECT_EQ(distinct.size(), 4u);
  }
  open_gate();
  // Two stay parked (the limit), the other two end with their connection.
  EXPECT_TRUE(eventually([&] { return threads.live() == 2 && threads.parked() == 2; }));
  for (const auto& peer : peers) EXPECT_TRUE(closed_by_server(peer));
}

TEST_F(ConnectionThreadsTest, ParkedThreadsEndWhenNoConnectionComes) {
  ASSERT_EQ(threads.serve(connection(peers)), 0);
  ASSERT_TRUE(eventually([&] { return threads.parked() == 1; }));
  EXPECT_TRUE(eventually([&] { return threads.live() == 0 && threads.parked() == 0; }));
  // The next connection gets a new thread, served as before.
  ASSERT_EQ(threads.serve(connection(peers)), 0);
  EXPECT_TRUE(eventually([&] { return threads.parked() == 1; }));
  EXPECT_TRUE(closed_by_server(peers.back()));
}

}  // namespace
}  // namespace launcher
