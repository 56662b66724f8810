// End-to-end: the built ghostdpy out of file descriptors.
//
// The server runs with RLIMIT_NOFILE lowered to kDescriptorLimit while more
// clients than that connect. Those beyond the limit wait in the listen
// backlog; the accept loop reports each failed accept and pauses before the
// next try instead of spinning. As soon as clients leave, the waiting ones are
// accepted and served, and so is a client that arrives afterwards.
//
// The test process first moves into a private /tmp (see main()), so the
// display socket is private to it. Without root that takes a user namespace;
// where the kernel refuses one, the test is skipped and says why.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "private_tmp.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* kGhostdpy = GHOSTDPY_PATH;
constexpr const char* kSocketPath = "/tmp/.X11-unix/X5";
constexpr const char* kErrPath = "/tmp/ghostdpy.err";
constexpr int kDescriptorLimit = 32;
constexpr int kClients = 3 * kDescriptorLimit;
constexpr std::size_t kSetupReplySize = 9556;

std::string isolation_failure;  // empty when main() isolated this process

std::string read_file(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::size_t count_of(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Polls (bounded: 20 s) until the predicate holds.
template <typename Predicate>
bool eventually(Predicate holds) {
  for (int i = 0; i < 2000; ++i) {
    if (holds()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return holds();
}

// ghostdpy :5 with a low descriptor limit, standard output discarded and
// standard error in kErrPath; killed and reaped whatever the test's outcome.
class Server {
 public:
  Server() {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setpgid(0, 0);
      const rlimit limit{kDescriptorLimit, kDescriptorLimit};
      const int out = ::open("/dev/null", O_WRONLY);
      const int err = ::open(kErrPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (::setrlimit(RLIMIT_NOFILE, &limit) != 0 || out < 0 || err < 0) ::_exit(120);
      ::dup2(out, STDOUT_FILENO);
      ::dup2(err, STDERR_FILENO);
      ::execl(kGhostdpy, kGhostdpy, ":5", static_cast<char*>(nullptr));
      ::_exit(121);
    }
  }
  ~Server() {
    if (pid_ > 0 && !reaped_) {
      ::kill(-pid_, SIGKILL);
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::unlink(kSocketPath);
  }
  pid_t pid() const { return pid_; }
  bool alive() const { return ::waitpid(pid_, nullptr, WNOHANG) == 0; }
  /// Interrupts the server; returns its wait status.
  int interrupt() {
    ::kill(pid_, SIGINT);
    int status = -1;
    if (eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; })) reaped_ = true;
    return status;
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

int connect_display() {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, kSocketPath, sizeof addr.sun_path - 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  timeval limit{20, 0};  // a client that is never served fails the test instead of hanging it
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return fd;
}

bool send_all(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::size_t receive(int fd, std::size_t size) {
  std::vector<std::uint8_t> buf(size);
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::recv(fd, buf.data() + got, size - got, 0);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

const std::uint8_t kSetup[12] = {'l', 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// A whole session: setup reply, then GetInputFocus answered as request 1.
bool round_trip(int fd) {
  const std::uint8_t focus[4] = {43, 0, 1, 0};
  if (!send_all(fd, kSetup, sizeof kSetup) || receive(fd, kSetupReplySize) != kSetupReplySize) return false;
  std::uint8_t reply[32] = {};
  return send_all(fd, focus, sizeof focus) && ::recv(fd, reply, sizeof reply, MSG_WAITALL) == 32 && reply[0] == 1 &&
         reply[2] == 1 && reply[3] == 0;
}

// Descriptors the server holds, from /proc.
std::size_t open_descriptors(pid_t pid) {
  std::size_t n = 0;
  std::error_code ignored;
  for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored);
       it != std::filesystem::directory_iterator(); it.increment(ignored))
    ++n;
  return n;
}

bool readable_now(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

TEST(ResourceExhaustion, AcceptFailuresAreReportedWithoutSpinningAndServiceRecovers) {
  if (!isolation_failure.empty()) GTEST_SKIP() << "needs a private /tmp: " << isolation_failure;
  Server server;
  ASSERT_TRUE(eventually([&] { return ::access(kSocketPath, F_OK) == 0 || !server.alive(); }));
  ASSERT_TRUE(server.alive()) << "ghostdpy did not start: " << read_file(kErrPath);
  const std::size_t idle_descriptors = open_descriptors(server.pid());

  // More clients than descriptors: each sends its setup request at once.
  std::vector<int> clients;
  for (int i = 0; i < kClients; ++i) {
    const int fd = connect_display();
    ASSERT_GE(fd, 0) << "client " << i << ": " << std::strerror(errno);
    ASSERT_TRUE(send_all(fd, kSetup, sizeof kSetup));
    clients.push_back(fd);
  }
  const std::string kFailure = "Failed to accept connection: Too many open files (errno 24)\n";
  ASSERT_TRUE(eventually([&] { return count_of(read_file(kErrPath), kFailure) > 0; })) << read_file(kErrPath);

  // While descriptors stay exhausted the loop keeps failing, but paced: over
  // one second a spinning loop writes hundreds of thousands of messages, a
  // pausing one a few dozen.
  const std::size_t before = count_of(read_file(kErrPath), kFailure);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const std::size_t during = count_of(read_file(kErrPath), kFailure) - before;
  EXPECT_GE(during, 1u) << "the failures stopped while no descriptor was free";
  EXPECT_LE(during, 200u) << "the accept loop spins on EMFILE";
  {
    // Every failure is that one. One reading for both counts, of whole lines
    // only: the server keeps writing them meanwhile.
    std::string messages = read_file(kErrPath);
    messages.erase(messages.rfind('\n') + 1);
    EXPECT_EQ(count_of(messages, "Failed to accept connection: "), count_of(messages, kFailure)) << messages;
  }

  // The clients that were accepted have their setup reply; the rest wait.
  // Sorted before any of them leaves: each one that leaves frees a descriptor
  // in the server, which then serves a waiting client at once.
  std::vector<int> ready, waiting;
  for (int fd : clients) (readable_now(fd) ? ready : waiting).push_back(fd);
  const std::size_t served = ready.size();
  for (int fd : ready) {
    EXPECT_EQ(receive(fd, kSetupReplySize), kSetupReplySize);
    ::close(fd);
  }
  EXPECT_GT(served, 0u);
  EXPECT_LT(served, static_cast<std::size_t>(kDescriptorLimit));
  EXPECT_GT(waiting.size(), 0u);
  std::printf("%zu accept failures in one second of exhaustion; %zu clients served at once, %zu waited\n", during,
              served, waiting.size());

  // Every waiting client is served in turn as descriptors free up.
  for (std::size_t i = 0; i < waiting.size(); ++i) {
    EXPECT_EQ(receive(waiting[i], kSetupReplySize), kSetupReplySize) << "waiting client " << i;
    ::close(waiting[i]);
  }

  // Recovered: once the connection threads have closed their sockets, a
  // newcomer is served and the failures have stopped.
  ASSERT_TRUE(eventually([&] { return open_descriptors(server.pid()) <= idle_descriptors; }));
  const int newcomer = connect_display();
  ASSERT_GE(newcomer, 0);
  EXPECT_TRUE(round_trip(newcomer));
  ::close(newcomer);
  ASSERT_TRUE(eventually([&] { return open_descriptors(server.pid()) <= idle_descriptors; }));
  const std::size_t after_recovery = count_of(read_file(kErrPath), kFailure);
  const int again = connect_display();
  ASSERT_GE(again, 0);
  EXPECT_TRUE(round_trip(again));
  ::close(again);
  EXPECT_EQ(count_of(read_file(kErrPath), kFailure), after_recovery);

  ASSERT_TRUE(server.alive());
  const int status = server.interrupt();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_NE(::access(kSocketPath, F_OK), 0);
}

}  // namespace

int main(int argc, char** argv) {
  isolation_failure = private_tmp::enter({kGhostdpy});
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
