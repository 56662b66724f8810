// xbench: the client side of the display-server benchmark (run.py drives it).
//
// One program, one measurement per sub-command; every result is printed on
// standard output as "key value" lines, every failure on standard error with
// exit status 1. The same binary measures ghostdpy and Xvfb, so whatever it
// costs is paid equally by both.
//
//   spawn-ready  -d :N [-o FILE] [-s INT|TERM] -- SERVER ARGS...
//       starts the server, waits for the first completed connection setup,
//       stops it again (signal, then wait): "ready_us".
//   spawn-exit   -- PROGRAM ARGS...      the floor: spawn until exit, "spawn_us".
//   wait-ready   -d :N                   first completed setup (bounded wait).
//   idle         -d :N -n CLIENTS        connects CLIENTS with xcb, prints
//                                        "connected N", holds them until stdin
//                                        ends or gives a line, then closes them.
//   openclose    -d :N -n CYCLES         XOpenDisplay + XCloseDisplay: "cycles_per_s".
//   latency      -d :N -n COUNT          GetInputFocus round trips on one
//                                        connection: "median_us", "p99_us".
//   pingpong     -n COUNT                a 4-byte request and a 32-byte answer
//                                        between two processes over a Unix
//                                        socket pair, the floor of "latency".
//   pipeline     -d :N -n COUNT [-w WINDOW]  pipelined GetInputFocus on one
//                                        connection, every reply checked:
//                                        "requests_per_s".
//   burst        -d :N -n CLIENTS        CLIENTS connect at once, each completes
//                                        the setup and one GetInputFocus round
//                                        trip: "total_ms".
//
// Every loop is bounded by its count and by a deadline (-t SECONDS, default 60).
#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
  std::string display = ":81";
  std::string out_file = "/dev/null";  // spawn-ready: the server's standard output
  int stop_signal = SIGINT;       // spawn-ready: how the server is stopped
  long count = 0;                 // clients, cycles or requests
  long window = 4096;             // pipeline: requests in flight
  double timeout_s = 60;          // deadline of the whole sub-command
  std::vector<char*> program;     // after "--"
};

[[noreturn]] void die(const char* what) {
  std::fprintf(stderr, "xbench: %s\n", what);
  std::exit(1);
}

[[noreturn]] void die_errno(const char* what) {
  std::fprintf(stderr, "xbench: %s: %s\n", what, std::strerror(errno));
  std::exit(1);
}

double now_s() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Deadline {
  double end;
  explicit Deadline(double seconds) : end(now_s() + seconds) {}
  bool passed() const { return now_s() > end; }
};

void sleep_us(long us) {
  timespec ts{us / 1000000, (us % 1000000) * 1000};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// A display ":N" is the Unix socket /tmp/.X11-unix/XN.
std::string socket_path(const std::string& display) {
  if (display.size() < 2 || display[0] != ':') die("display must be :N");
  return "/tmp/.X11-unix/X" + display.substr(1);
}

void raise_fd_limit() {
  rlimit rl{};
  if (getrlimit(RLIMIT_NOFILE, &rl) != 0) die_errno("getrlimit");
  rl.rlim_cur = rl.rlim_max;
  if (setrlimit(RLIMIT_NOFILE, &rl) != 0) die_errno("setrlimit");
}

// One connect() to the display socket; -1 when nobody listens yet.
int try_connect(const std::string& path, bool nonblocking) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (nonblocking ? SOCK_NONBLOCK : 0), 0);
  if (fd < 0) die_errno("socket");
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    const int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

// True when a full connection setup succeeded on the display socket.
bool setup_completes(const std::string& path) {
  const int fd = try_connect(path, false);
  if (fd < 0) return false;
  xcb_connection_t* c = xcb_connect_to_fd(fd, nullptr);  // takes the descriptor
  const bool ok = xcb_connection_has_error(c) == 0;
  xcb_disconnect(c);
  return ok;
}

xcb_connection_t* connect_or_die(const std::string& display) {
  xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
  if (xcb_connection_has_error(c) != 0) die("xcb_connect failed");
  return c;
}

// One checked GetInputFocus round trip.
void round_trip(xcb_connection_t* c) {
  xcb_generic_error_t* error = nullptr;
  xcb_get_input_focus_reply_t* reply = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), &error);
  if (reply == nullptr || error != nullptr) die("GetInputFocus failed");
  std::free(reply);
}

// CPU time (user + system) this process has used so far.
double cpu_s() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

pid_t spawn(const Options& o) {
  if (o.program.empty()) die("no program after --");
  std::vector<char*> argv = o.program;
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) die_errno("fork");
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);  // the benchmark ignores it, the server must not inherit that
    // Standard output as asked, standard error dropped: the child's
    // messages must not mix with the results.
    const int out = open(o.out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (out < 0 || err < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0) _exit(127);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Waits for the child, at most `seconds`; kills it when it does not end.
// The wait sleeps on a process descriptor, so the end is seen at once.
int reap(pid_t pid, double seconds) {
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    while (poll(&p, 1, static_cast<int>(seconds * 1000)) < 0 && errno == EINTR) {
    }
    close(pidfd);
  }
  int status = 0;
  Deadline deadline(pidfd >= 0 ? 0.5 : seconds);
  for (;;) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return status;
    if (r < 0 && errno != EINTR) die_errno("waitpid");
    if (deadline.passed()) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      std::fprintf(stderr, "xbench: child %d did not stop, killed\n", static_cast<int>(pid));
      return status;
    }
    sleep_us(200);
  }
}

int cmd_spawn_ready(const Options& o) {
  const std::string path = socket_path(o.display);
  if (access(path.c_str(), F_OK) == 0) die("display socket already exists");
  const double start = now_s();
  const pid_t pid = spawn(o);
  Deadline deadline(o.timeout_s);
  bool ready = false;
  while (!deadline.passed()) {
    if (setup_completes(path)) {
      ready = true;
      break;
    }
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) die("server ended before it was ready");
    sleep_us(50);
  }
  const double ready_s = now_s() - start;
  kill(pid, o.stop_signal);
  reap(pid, 10);
  if (!ready) die("server not ready before the deadline");
  std::printf("ready_us %.1f\n", ready_s * 1e6);
  return 0;
}

int cmd_spawn_exit(const Options& o) {
  const double start = now_s();
  const pid_t pid = spawn(o);
  const int status = reap(pid, o.timeout_s);
  const double spawn_s = now_s() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die("program failed");
  std::printf("spawn_us %.1f\n", spawn_s * 1e6);
  return 0;
}

int cmd_wait_ready(const Options& o) {
  const std::string path = socket_path(o.display);
  Deadline deadline(o.timeout_s);
  while (!setup_completes(path)) {
    if (deadline.passed()) die("server not ready before the deadline");
    sleep_us(200);
  }
  std::printf("ready 1\n");
  return 0;
}

int cmd_idle(const Options& o) {
  raise_fd_limit();
  Deadline deadline(o.timeout_s);
  std::vector<xcb_connection_t*> clients;
  clients.reserve(static_cast<std::size_t>(o.count));
  for (long i = 0; i < o.count; ++i) {
    if (deadline.passed()) die("idle: deadline passed while connecting");
    clients.push_back(connect_or_die(o.display));
  }
  std::printf("connected %zu\n", clients.size());
  std::fflush(stdout);
  // Hold the connections until the driver says so (a line or end of input).
  char line[64];
  if (std::fgets(line, sizeof line, stdin) == nullptr && std::ferror(stdin)) die("idle: reading stdin");
  for (xcb_connection_t* c : clients) {
    if (xcb_connection_has_error(c) != 0) die("idle: a connection broke while idle");
    xcb_disconnect(c);
  }
  std::printf("closed %zu\n", clients.size());
  return 0;
}

int cmd_openclose(const Options& o) {
  Deadline deadline(o.timeout_s);
  const double start = now_s();
  const double cpu_start = cpu_s();
  long cycles = 0;
  for (; cycles < o.count && !deadline.passed(); ++cycles) {
    Display* d = XOpenDisplay(o.display.c_str());
    if (d == nullptr) die("XOpenDisplay failed");
    if (XCloseDisplay(d) != 0) die("XCloseDisplay failed");
  }
  const double elapsed = now_s() - start;
  if (cycles < o.count) die("openclose: deadline passed");
  const double cpu = cpu_s() - cpu_start;
  std::printf("cycles %ld\ncycles_per_s %.1f\nclient_cpu_us %.2f\n", cycles, static_cast<double>(cycles) / elapsed,
              cpu / static_cast<double>(cycles) * 1e6);
  return 0;
}

int cmd_latency(const Options& o) {
  xcb_connection_t* c = connect_or_die(o.display);
  Deadline deadline(o.timeout_s);
  for (int i = 0; i < 200; ++i) round_trip(c);  // warm up
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(o.count));
  const double cpu_start = cpu_s();
  for (long i = 0; i < o.count; ++i) {
    if (deadline.passed()) die("latency: deadline passed");
    const double t0 = now_s();
    round_trip(c);
    samples.push_back((now_s() - t0) * 1e6);
  }
  const double cpu = cpu_s() - cpu_start;
  xcb_disconnect(c);
  std::printf("median_us %.2f\np99_us %.2f\nclient_cpu_us %.2f\n", percentile(samples, 0.5),
              percentile(samples, 0.99), cpu / static_cast<double>(o.count) * 1e6);
  return 0;
}

bool read_full(int fd, void* buf, std::size_t n) {
  auto* p = static_cast<unsigned char*>(buf);
  while (n > 0) {
    const ssize_t r = read(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

bool write_full(int fd, const void* buf, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(buf);
  while (n > 0) {
    const ssize_t r = write(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

int cmd_pingpong(const Options& o) {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) die_errno("socketpair");
  const long total = o.count + 200;
  const pid_t pid = fork();
  if (pid < 0) die_errno("fork");
  if (pid == 0) {  // the answering side: 4 bytes in, 32 bytes out
    close(sv[0]);
    unsigned char request[4];
    unsigned char reply[32] = {1};
    for (long i = 0; i < total; ++i) {
      if (!read_full(sv[1], request, sizeof request) || !write_full(sv[1], reply, sizeof reply)) _exit(1);
    }
    _exit(0);
  }
  close(sv[1]);
  Deadline deadline(o.timeout_s);
  const unsigned char request[4] = {43, 0, 1, 0};
  unsigned char reply[32];
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(o.count));
  for (long i = 0; i < total; ++i) {
    if (deadline.passed()) die("pingpong: deadline passed");
    const double t0 = now_s();
    if (!write_full(sv[0], request, sizeof request) || !read_full(sv[0], reply, sizeof reply))
      die("pingpong: peer failed");
    if (i >= 200) samples.push_back((now_s() - t0) * 1e6);
  }
  close(sv[0]);
  const int status = reap(pid, 5);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die("pingpong: peer failed");
  std::printf("median_us %.2f\np99_us %.2f\n", percentile(samples, 0.5), percentile(samples, 0.99));
  return 0;
}

int cmd_pipeline(const Options& o) {
  xcb_connection_t* c = connect_or_die(o.display);
  round_trip(c);
  Deadline deadline(o.timeout_s);
  const auto window = static_cast<std::size_t>(std::max(1L, o.window));
  std::vector<xcb_get_input_focus_cookie_t> ring(window);
  long sent = 0;
  long received = 0;
  const double start = now_s();
  const double cpu_start = cpu_s();
  while (received < o.count) {
    if (deadline.passed()) die("pipeline: deadline passed");
    while (sent < o.count && sent - received < static_cast<long>(window)) {
      ring[static_cast<std::size_t>(sent) % window] = xcb_get_input_focus(c);
      ++sent;
    }
    xcb_generic_error_t* error = nullptr;
    xcb_get_input_focus_reply_t* reply =
        xcb_get_input_focus_reply(c, ring[static_cast<std::size_t>(received) % window], &error);
    if (reply == nullptr || error != nullptr || reply->response_type != 1) die("pipeline: bad reply");
    std::free(reply);
    ++received;
  }
  const double elapsed = now_s() - start;
  const double cpu = cpu_s() - cpu_start;
  xcb_disconnect(c);
  std::printf("requests %ld\nrequests_per_s %.1f\nclient_cpu_us %.3f\n", received,
              static_cast<double>(received) / elapsed, cpu / static_cast<double>(received) * 1e6);
  return 0;
}

// burst: raw protocol on non-blocking sockets, so that every client is in
// flight at once without a thread per client.
struct BurstClient {
  int fd = -1;
  enum class Step { connect, send_setup, read_setup_head, read_setup_rest, send_request, read_reply, done } step =
      Step::connect;
  std::vector<unsigned char> in;
  std::size_t need = 0;  // bytes wanted in `in` for the current step
  std::size_t out_done = 0;
};

constexpr unsigned char kSetupRequest[12] = {0x6C, 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr unsigned char kGetInputFocus[4] = {43, 0, 1, 0};

// Advances one client as far as its socket allows; true when it progressed.
bool burst_step(BurstClient& b) {
  for (;;) {
    switch (b.step) {
      case BurstClient::Step::connect:
      case BurstClient::Step::done:
        return false;
      case BurstClient::Step::send_setup:
      case BurstClient::Step::send_request: {
        const bool setup = b.step == BurstClient::Step::send_setup;
        const unsigned char* msg = setup ? kSetupRequest : kGetInputFocus;
        const std::size_t len = setup ? sizeof kSetupRequest : sizeof kGetInputFocus;
        const ssize_t n = send(b.fd, msg + b.out_done, len - b.out_done, MSG_NOSIGNAL);
        if (n < 0) {
          if (errno == EAGAIN || errno == EINTR) return false;
          die_errno("burst: send");
        }
        b.out_done += static_cast<std::size_t>(n);
        if (b.out_done < len) return true;
        b.out_done = 0;
        b.in.clear();
        b.need = setup ? 8 : 32;
        b.step = setup ? BurstClient::Step::read_setup_head : BurstClient::Step::read_reply;
        break;
      }
      case BurstClient::Step::read_setup_head:
      case BurstClient::Step::read_setup_rest:
      case BurstClient::Step::read_reply: {
        const std::size_t have = b.in.size();
        b.in.resize(b.need);
        const ssize_t n = recv(b.fd, b.in.data() + have, b.need - have, 0);
        if (n <= 0) {
          b.in.resize(have);
          if (n < 0 && (errno == EAGAIN || errno == EINTR)) return false;
          die(n == 0 ? "burst: server closed a connection" : "burst: recv failed");
        }
        b.in.resize(have + static_cast<std::size_t>(n));
        if (b.in.size() < b.need) return true;
        if (b.step == BurstClient::Step::read_setup_head) {
          if (b.in[0] != 1) die("burst: connection setup refused");
          const std::size_t extra = 4u * (static_cast<std::size_t>(b.in[6]) | static_cast<std::size_t>(b.in[7]) << 8);
          b.need = 8 + extra;
          b.step = BurstClient::Step::read_setup_rest;
        } else if (b.step == BurstClient::Step::read_setup_rest) {
          b.step = BurstClient::Step::send_request;
        } else {
          if (b.in[0] != 1 || b.in[2] != 1 || b.in[3] != 0) die("burst: bad GetInputFocus reply");
          b.step = BurstClient::Step::done;
          return true;
        }
        break;
      }
    }
  }
}

int cmd_burst(const Options& o) {
  raise_fd_limit();
  const std::string path = socket_path(o.display);
  const int ep = epoll_create1(EPOLL_CLOEXEC);
  if (ep < 0) die_errno("epoll_create1");
  std::vector<BurstClient> clients(static_cast<std::size_t>(o.count));
  Deadline deadline(o.timeout_s);
  const double start = now_s();
  std::size_t connected = 0;
  std::size_t done = 0;
  std::vector<epoll_event> events(256);
  while (done < clients.size()) {
    if (deadline.passed()) die("burst: deadline passed");
    // Connect everyone who is not connected yet; a full backlog is retried.
    for (std::size_t i = 0; connected < clients.size() && i < clients.size(); ++i) {
      BurstClient& b = clients[i];
      if (b.step != BurstClient::Step::connect) continue;
      const int fd = try_connect(path, true);
      if (fd < 0) {
        if (errno == EAGAIN || errno == ECONNREFUSED) break;  // backlog full: later
        die_errno("burst: connect");
      }
      b.fd = fd;
      b.step = BurstClient::Step::send_setup;
      ++connected;
      epoll_event ev{};
      ev.events = EPOLLIN | EPOLLOUT | EPOLLET;
      ev.data.u64 = i;
      if (epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev) != 0) die_errno("epoll_ctl");
    }
    const int n = epoll_wait(ep, events.data(), static_cast<int>(events.size()), connected < clients.size() ? 1 : 100);
    if (n < 0 && errno != EINTR) die_errno("epoll_wait");
    for (int k = 0; k < n; ++k) {
      BurstClient& b = clients[events[static_cast<std::size_t>(k)].data.u64];
      while (burst_step(b)) {
        if (b.step == BurstClient::Step::done) {
          ++done;
          break;
        }
      }
    }
  }
  const double elapsed = now_s() - start;
  // Everything has been answered: each close is an orderly disconnect.
  for (BurstClient& b : clients) close(b.fd);
  close(ep);
  std::printf("clients %zu\ntotal_ms %.2f\n", done, elapsed * 1e3);
  return 0;
}

long number(const char* text) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < 0) die("bad number");
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) die("usage: xbench COMMAND [-d :N] [-n COUNT] [-w WINDOW] [-o FILE] [-s INT|TERM] [-t S] [-- PROGRAM...]");
  const std::string cmd = argv[1];
  Options o;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--") {
      o.program.assign(argv + i + 1, argv + argc);
      break;
    }
    if (i + 1 >= argc) die("option without value");
    const char* v = argv[++i];
    if (a == "-d") {
      o.display = v;
    } else if (a == "-n") {
      o.count = number(v);
    } else if (a == "-w") {
      o.window = number(v);
    } else if (a == "-o") {
      o.out_file = v;
    } else if (a == "-t") {
      o.timeout_s = static_cast<double>(number(v));
    } else if (a == "-s") {
      o.stop_signal = std::string(v) == "TERM" ? SIGTERM : SIGINT;
    } else {
      die("unknown option");
    }
  }
  signal(SIGPIPE, SIG_IGN);
  if (cmd == "spawn-ready") return cmd_spawn_ready(o);
  if (cmd == "spawn-exit") return cmd_spawn_exit(o);
  if (cmd == "wait-ready") return cmd_wait_ready(o);
  if (cmd == "idle") return cmd_idle(o);
  if (cmd == "openclose") return cmd_openclose(o);
  if (cmd == "latency") return cmd_latency(o);
  if (cmd == "pingpong") return cmd_pingpong(o);
  if (cmd == "pipeline") return cmd_pipeline(o);
  if (cmd == "burst") return cmd_burst(o);
  die("unknown command");
}
