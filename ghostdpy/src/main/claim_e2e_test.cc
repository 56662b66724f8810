// End-to-end tests of the display claim: ghostdpy beside other ghostdpy
// processes started at the same moment, beside Xvfb (started by hand and by
// xvfb-run, in the same /tmp and in another one), and used by another
// account. Each test process runs in a private /tmp and network (main() in
// e2e_test.cc), so the X servers here see only each other.
#include <sys/stat.h>

#include <map>
#include <set>

#include "e2e_harness.h"

namespace e2e {
namespace {

using ClaimE2E = E2E;

// ---- helpers ---------------------------------------------------------------

// The display number in "Server listening on /tmp/.X11-unix/X<n>", or -1.
int announced_display(const std::string& out) {
  const std::string prefix = "Server listening on /tmp/.X11-unix/X";
  if (out.rfind(prefix, 0) != 0) return -1;
  return std::atoi(out.c_str() + prefix.size());
}

// Device and inode of a path, to tell whether a file was replaced.
std::pair<dev_t, ino_t> identity(const std::string& path) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0) return {0, 0};
  return {st.st_dev, st.st_ino};
}

std::string find_program(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// Whether the user namespace maps the account nobody (65534): it does for
// root on the machine, not in the namespace an unprivileged run gets.
bool nobody_exists() {
  std::ifstream map("/proc/self/uid_map");
  for (unsigned long inside, outside, count; map >> inside >> outside >> count;)
    if (inside <= 65534 && 65534 - inside < count) return true;
  return false;
}

bool connectable(const std::string& path) {
  Fd c(connect_unix(path));
  return c.fd >= 0;
}

bool abstract_connectable(const std::string& name) {
  Fd c(connect_abstract(name));
  return c.fd >= 0;
}

// ---- many at once ------------------------------------------------------------

// Eight ghostdpy released at the same instant from a gate, twenty times:
// every one gets a display of its own (the eight highest, as none may pass a
// free number by), announces it, holds its lock and gives both back on SIGINT.
TEST_F(ClaimE2E, EightAtOnce) {
  constexpr int kServers = 8;
  const std::string gate = "/tmp/gate";
  // Each server's shell opens the gate and waits in read(); closing our end,
  // the only writer, ends every read at once.
  Options gated;
  gated.wrapper = {"/bin/sh", "-c", "read _ <\"$0\"; exec \"$@\"", gate};
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
    Fd writer(::open(gate.c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_GE(writer.fd, 0);
    std::vector<std::unique_ptr<Server>> servers;
    for (int i = 0; i < kServers; ++i) servers.push_back(std::make_unique<Server>(std::vector<std::string>{}, gated));
    for (auto& s : servers) {
      const std::string stdin_of = "/proc/" + std::to_string(s->pid()) + "/fd/0";
      ASSERT_TRUE(s->wait_for([&] {
        std::error_code ec;
        return std::filesystem::read_symlink(stdin_of, ec) == gate;
      })) << s->err();
    }
    ::close(writer.fd);
    writer.fd = -1;
    ASSERT_EQ(::unlink(gate.c_str()), 0);

    std::map<int, pid_t> holders;
    for (auto& s : servers) {
      ASSERT_TRUE(s->wait_interruptible()) << s->err();
      const int display = announced_display(s->out());
      EXPECT_TRUE(holders.emplace(display, s->pid()).second) << "display :" << display << " twice";
      EXPECT_EQ(s->err(), "");
    }
    for (const auto& [display, pid] : holders)
      EXPECT_EQ(read_file("/tmp/.X" + std::to_string(display) + "-lock"), lock_text(pid)) << display;
    ASSERT_EQ(holders.size(), static_cast<size_t>(kServers));
    EXPECT_EQ(holders.begin()->first, 99 - kServers + 1);
    EXPECT_EQ(holders.rbegin()->first, 99);

    for (auto& s : servers) s->signal(SIGINT);
    for (auto& s : servers) EXPECT_EQ(s->finish().exit_code(), 0);
    EXPECT_EQ(lock_files(), std::vector<std::string>{});
    EXPECT_TRUE(std::filesystem::is_empty("/tmp/.X11-unix"));
  }
}

// ---- every account ---------------------------------------------------------

// Under the umask that root and most services run with, and a stricter one,
// a client of another account completes its setup (the socket and the
// directory are open to all, as an X server's are).
TEST_F(ClaimE2E, ClientOfAnotherAccount) {
  if (!nobody_exists()) GTEST_SKIP() << "no other account in this user namespace (run as root to try one)";
  // Somewhere the account nobody can reach: the build tree may not be.
  const std::string client = "/tmp/xprobe";
  std::filesystem::copy_file(kXprobe, client, std::filesystem::copy_options::overwrite_existing);
  ASSERT_EQ(::chmod(client.c_str(), 0755), 0);
  for (const mode_t mask : {0022, 0077}) {
    const mode_t old = ::umask(mask);
    const Result r = run({":7", "/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", client});
    ::umask(old);
    EXPECT_EQ(r.exit_code(), 0) << "umask " << mask << ": " << r.err;
    EXPECT_NE(r.out.find("xprobe: done\n"), std::string::npos) << "umask " << mask << ": " << r.out;
    clear_displays();
  }
  ::unlink(client.c_str());
}

// ---- beside Xvfb -----------------------------------------------------------

class XvfbE2E : public E2E {
 protected:
  void SetUp() override {
    E2E::SetUp();
    if (IsSkipped()) return;
    xvfb_ = find_program("Xvfb");
    if (xvfb_.empty()) GTEST_SKIP() << "no Xvfb (Debian package xvfb)";
  }

  // Xvfb :n under the harness; in another /tmp, a fresh tmpfs of its own,
  // when other_tmp (the network namespace, and so the abstract name, stays
  // this test's).
  std::unique_ptr<Server> start_xvfb(int n, bool other_tmp) {
    Options o;
    o.program = xvfb_;
    o.argv0 = "Xvfb";
    if (other_tmp)
      o.wrapper = {"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
                   "mount -t tmpfs tmpfs /tmp && exec \"$@\"", "sh"};
    auto xvfb = std::make_unique<Server>(std::vector<std::string>{":" + std::to_string(n), "-nolisten", "tcp"}, o);
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
    const bool ready = xvfb->wait_for([&] { return other_tmp ? abstract_connectable(path) : connectable(path); });
    EXPECT_TRUE(ready) << "Xvfb :" << n << " did not start: " << xvfb->err();
    return xvfb;
  }

  std::string xvfb_;
};

// In one /tmp, either one first: each gets a display of its own, the later
// one never takes or removes the files of the earlier one, and ghostdpy says
// who holds a display it is asked for.
TEST_F(XvfbE2E, SameTmpEitherOrder) {
  {
    // Xvfb first, started by hand on :99.
    const auto xvfb = start_xvfb(99, false);
    ASSERT_FALSE(HasFailure());
    const auto socket = identity("/tmp/.X11-unix/X99");
    const auto lock = identity("/tmp/.X99-lock");
    EXPECT_EQ(read_file("/tmp/.X99-lock"), lock_text(xvfb->pid()));

    const Result automatic = run({"sh", "-c", "printf '<%s>' \"$DISPLAY\""});
    EXPECT_EQ(automatic.out, "Server listening on /tmp/.X11-unix/X98\n<:98>Program successfully executed.\n");
    const Result fixed = run({":99", "true"});
    EXPECT_EQ(fixed.exit_code(), 101);
    EXPECT_EQ(fixed.err, "ghostdpy[main]: fatal: display :99 is held by process " + std::to_string(xvfb->pid()) +
                             " (lock file /tmp/.X99-lock)\n");

    EXPECT_EQ(identity("/tmp/.X11-unix/X99"), socket);
    EXPECT_EQ(identity("/tmp/.X99-lock"), lock);
    Fd client(connect_unix("/tmp/.X11-unix/X99"));
    EXPECT_GT(handshake(client.fd), 0u) << "Xvfb no longer serves";
    xvfb->signal(SIGTERM);
    xvfb->finish();
  }
  {
    // ghostdpy first, then Xvfb by hand on the same display, then xvfb-run -a.
    Server ghostdpy({":99"});
    ASSERT_TRUE(ghostdpy.wait_interruptible()) << ghostdpy.err();
    const auto socket = identity("/tmp/.X11-unix/X99");
    const auto lock = identity("/tmp/.X99-lock");

    Options o;
    o.program = xvfb_;
    o.argv0 = "Xvfb";
    const Result refused = run({":99", "-nolisten", "tcp"}, o);
    EXPECT_NE(refused.exit_code(), 0) << "Xvfb started on ghostdpy's display: " << refused.err;

    const std::string xvfb_run = find_program("xvfb-run");
    if (xvfb_run.empty() || find_program("xauth").empty()) {
      std::cout << "[   NOTE   ] no xvfb-run or no xauth: xvfb-run -a is not tried\n";
    } else {
      o.program = xvfb_run;
      o.argv0 = "xvfb-run";
      const Result beside =
          run({"-a", "-s", "-nolisten tcp", "sh", "-c", std::string("printf '<%s>' \"$DISPLAY\"; exec ") + kXprobe}, o);
      EXPECT_EQ(beside.exit_code(), 0) << beside.err;
      EXPECT_EQ(beside.out.find("<:99>"), std::string::npos) << beside.out;
      EXPECT_NE(beside.out.find("xprobe: done\n"), std::string::npos) << beside.out;
    }

    EXPECT_EQ(identity("/tmp/.X11-unix/X99"), socket);
    EXPECT_EQ(identity("/tmp/.X99-lock"), lock);
    EXPECT_EQ(read_file("/tmp/.X99-lock"), lock_text(ghostdpy.pid()));
    EXPECT_EQ(ghostdpy.out().find("Request"), std::string::npos) << "a client of Xvfb came to ghostdpy";
    Fd client(connect_unix("/tmp/.X11-unix/X99"));
    EXPECT_EQ(handshake(client.fd), 9556u);  // still ghostdpy's own setup reply
    ghostdpy.signal(SIGINT);
    EXPECT_EQ(ghostdpy.finish().exit_code(), 0);
    EXPECT_FALSE(exists("/tmp/.X11-unix/X99"));
    EXPECT_FALSE(exists("/tmp/.X99-lock"));
  }
}

// Xvfb with a /tmp of its own but this network namespace (a sandbox, a
// service with a private /tmp, a container with the host's network) holds
// only the abstract name of :99, the name X libraries try first. ghostdpy
// must not claim :99 then, or Xvfb would serve ghostdpy's program.
TEST_F(XvfbE2E, AbstractNameOnly) {
  const auto xvfb = start_xvfb(99, true);
  ASSERT_FALSE(HasFailure());
  ASSERT_FALSE(exists("/tmp/.X99-lock"));

  const Result fixed = run({":99", "true"});
  EXPECT_EQ(fixed.exit_code(), 101);
  EXPECT_EQ(fixed.err,
            "ghostdpy[main]: fatal: display :99 is held by another server: abstract socket @/tmp/.X11-unix/X99 "
            "is in use\n");
  EXPECT_EQ(lock_files(), std::vector<std::string>{});
  EXPECT_FALSE(exists("/tmp/.X11-unix/X99"));

  // Automatic choice passes :99 by, and every request of the program is in
  // ghostdpy's trace: numbered 1, 2, ... without a gap, up to FreeGC, the
  // last before the program's closing round trip.
  const Result r = run({kXprobe});
  EXPECT_EQ(r.exit_code(), 0) << r.err;
  EXPECT_EQ(announced_display(r.out), 98);
  EXPECT_NE(r.out.find("xprobe: done\n"), std::string::npos) << r.out;
  std::set<int> sequence;
  for (std::size_t at = r.out.find("\nRequest"); at != std::string::npos; at = r.out.find("\nRequest", at + 1))
    sequence.insert(std::atoi(r.out.c_str() + at + 8));
  ASSERT_FALSE(sequence.empty()) << "no request in ghostdpy's trace:\n" << r.out;
  EXPECT_EQ(*sequence.begin(), 1);
  EXPECT_EQ(static_cast<std::size_t>(*sequence.rbegin()), sequence.size());
  EXPECT_NE(r.out.find("opcode: 60,"), std::string::npos) << r.out;
  xvfb->signal(SIGTERM);
  xvfb->finish();
}

}  // namespace
}  // namespace e2e
