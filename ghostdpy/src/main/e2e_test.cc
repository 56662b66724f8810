// End-to-end tests: the built ghostdpy run as a black box, exact texts,
// streams and exit statuses.
//
// Every test process first moves into a private /tmp (see main() below), so
// /tmp/.X11-unix here is private to the test and nothing leaks onto the
// machine's real display directory. Without root that takes a user
// namespace; where the kernel refuses one, the tests are skipped and say why.
#include <dirent.h>

#include <functional>

#include "e2e_harness.h"

namespace e2e {
namespace {
// ---- fixtures --------------------------------------------------------------

using CommandLineE2E = E2E;
using DisplayE2E = E2E;
using TcpE2E = E2E;
using ProgramE2E = E2E;
using SignalE2E = E2E;
using ConnectionE2E = E2E;
using RealClientE2E = E2E;
using ConcurrencyE2E = E2E;

const char* const kPrintDisplay = "printf '<%s>' \"$DISPLAY\"";

// ---- command line ----------------------------------------------------------

TEST_F(CommandLineE2E, InvalidDisplayNumbers) {
  for (const std::string text :
       {"", "-1", "abc", "1.0", " 1", "99999999999999999999", ":1", "+", "-", "++1", "0x1"}) {
    const Result r = run({":" + text, "true"});
    EXPECT_EQ(r.exit_code(), 101) << "':" << text << "'";
    EXPECT_EQ(r.out, "") << text;
    EXPECT_EQ(r.err, "Invalid display number '" + text + "'\n" + usage_report("ghostdpy")) << text;
  }
  EXPECT_FALSE(exists("/tmp/.X11-unix"));  // nothing made before the number is checked
}

TEST_F(CommandLineE2E, UsageNamesTheProgramAsStarted) {
  const struct {
    const char* argv0;
    const char* name;
  } cases[] = {{"./bin/ghostdpy", "ghostdpy"},
               {"/usr/local/bin/gd-renamed", "gd-renamed"},
               {"plain", "plain"},
               {"dir/", ""}};
  for (const auto& c : cases) {
    Options o;
    o.argv0 = c.argv0;
    const Result r = run({":x"}, o);
    EXPECT_EQ(r.exit_code(), 101) << c.argv0;
    EXPECT_EQ(r.err, "Invalid display number 'x'\n" + usage_report(c.name)) << c.argv0;
  }
}

TEST_F(CommandLineE2E, ArgumentsMustBeUtf8) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"\xff"}, {":5", "prog", "caf\xe9"}, {"\xc3(:1"}}) {
    const Result r = run(args);
    EXPECT_EQ(r.exit_code(), 101);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("ghostdpy[main]: fatal: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("not valid UTF-8"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(exists("/tmp/.X11-unix/X5"));
}

// ---- display choice --------------------------------------------------------

TEST_F(DisplayE2E, AutomaticChoice) {
  {
    // Fresh /tmp: the directory is made and 99 is taken.
    const Result r = run({"sh", "-c", kPrintDisplay});
    EXPECT_EQ(r.exit_code(), 0) << r.err;
    EXPECT_EQ(r.out, "Server listening on /tmp/.X11-unix/X99\n<:99>Program successfully executed.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(exists("/tmp/.X11-unix/X99"));
  }
  {
    touch("/tmp/.X11-unix/X99");
    touch("/tmp/.X11-unix/X98");
    // Anything at the path is someone else's, a dangling link too.
    ASSERT_EQ(::symlink("/tmp/nowhere", "/tmp/.X11-unix/X97"), 0);
    const Result r = run({"sh", "-c", kPrintDisplay});
    EXPECT_EQ(r.exit_code(), 0) << r.err;
    EXPECT_EQ(r.out, "Server listening on /tmp/.X11-unix/X96\n<:96>Program successfully executed.\n");
    EXPECT_TRUE(exists("/tmp/.X11-unix/X99"));  // other files are left alone
    EXPECT_TRUE(exists("/tmp/.X11-unix/X97"));
    EXPECT_FALSE(exists("/tmp/nowhere"));
  }
  {
    for (int n = 1; n <= 99; ++n) touch("/tmp/.X11-unix/X" + std::to_string(n));
    const Result r = run({"true"});
    EXPECT_EQ(r.exit_code(), 101);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "ghostdpy[main]: fatal: no display in range (1..99) not available: ()\n");
    EXPECT_EQ(lock_files(), std::vector<std::string>{});  // each lock taken was given back
  }
}

TEST_F(DisplayE2E, FixedDisplays) {
  const struct {
    const char* arg;
    const char* display;
  } cases[] = {{":5", "5"}, {":007", "7"}, {":+7", "7"}, {":0", "0"}, {":1000", "1000"},
               {":18446744073709551615", "18446744073709551615"}};
  for (const auto& c : cases) {
    const Result r = run({c.arg, "sh", "-c", kPrintDisplay});
    EXPECT_EQ(r.exit_code(), 0) << c.arg << ": " << r.err;
    EXPECT_EQ(r.out, std::string("Server listening on /tmp/.X11-unix/X") + c.display + "\n<:" +
                         c.display + ">Program successfully executed.\n");
    EXPECT_FALSE(exists(std::string("/tmp/.X11-unix/X") + c.display));
  }
  touch("/tmp/.X11-unix/X5");
  const Result r = run({":5", "true"});
  EXPECT_EQ(r.exit_code(), 101);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ghostdpy[main]: fatal: file already exists /tmp/.X11-unix/X5\n");
  EXPECT_TRUE(exists("/tmp/.X11-unix/X5"));  // never removed or reused
  EXPECT_EQ(lock_files(), std::vector<std::string>{});
}

// A process id that existed a moment ago and exists no more.
pid_t gone_process() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

TEST_F(DisplayE2E, LockFiles) {
  const auto write_lock = [](const std::string& text) {
    std::ofstream("/tmp/.X5-lock") << text;
  };
  {
    // A live process's lock: the display is held, and the lock stays.
    write_lock(lock_text(::getpid()));
    const Result fixed = run({":5", "true"});
    EXPECT_EQ(fixed.exit_code(), 101);
    EXPECT_EQ(fixed.err, "ghostdpy[main]: fatal: display :5 is held by process " + std::to_string(::getpid()) +
                             " (lock file /tmp/.X5-lock)\n");
    EXPECT_EQ(read_file("/tmp/.X5-lock"), lock_text(::getpid()));
    ::unlink("/tmp/.X5-lock");
    std::ofstream("/tmp/.X99-lock") << lock_text(::getpid());
    const Result automatic = run({"sh", "-c", kPrintDisplay});
    EXPECT_EQ(automatic.out, "Server listening on /tmp/.X11-unix/X98\n<:98>Program successfully executed.\n");
    ::unlink("/tmp/.X99-lock");
  }
  {
    // A lock without a process id is nobody's to take over.
    write_lock("");
    const Result r = run({":5", "true"});
    EXPECT_EQ(r.exit_code(), 101);
    EXPECT_EQ(r.err, "ghostdpy[main]: fatal: display :5 is held: lock file /tmp/.X5-lock holds no process id\n");
  }
  {
    // A stale lock is taken over: the server's own process id replaces it
    // for the run, and the lock is gone at the end.
    write_lock(lock_text(gone_process()));
    const Result r = run({":5", "sh", "-c", "cat /tmp/.X5-lock; echo \"$PPID\""});
    EXPECT_EQ(r.exit_code(), 0) << r.err;
    const auto line = r.out.find('\n') + 1;
    const std::string ppid = r.out.substr(line + 11, r.out.find('\n', line + 11) - line - 11);
    EXPECT_EQ(r.out.substr(line, 11), lock_text(std::atoi(ppid.c_str()))) << r.out;
    EXPECT_FALSE(exists("/tmp/.X5-lock"));
  }
  {
    // Beside a leftover socket file a stale lock is left alone: the display
    // is taken anyway.
    const std::string stale = lock_text(gone_process());
    write_lock(stale);
    touch("/tmp/.X11-unix/X5");  // the runs above made the directory
    const Result r = run({":5", "true"});
    EXPECT_EQ(r.exit_code(), 101);
    EXPECT_EQ(r.err, "ghostdpy[main]: fatal: file already exists /tmp/.X11-unix/X5\n");
    EXPECT_EQ(read_file("/tmp/.X5-lock"), stale);
  }
}

TEST_F(DisplayE2E, SocketDirectory) {
  for (const mode_t mask : {0022, 0077}) {
    // Missing: made with mode 1777 whatever the umask, as X servers make it;
    // the socket 0777 and the lock 0444 too.
    const mode_t old = ::umask(mask);
    const Result r = run({":3", "stat", "-c", "%a", "/tmp/.X11-unix", "/tmp/.X11-unix/X3", "/tmp/.X3-lock"});
    ::umask(old);
    EXPECT_EQ(r.exit_code(), 0) << r.err;
    EXPECT_EQ(r.out, "Server listening on /tmp/.X11-unix/X3\n1777\n777\n444\nProgram successfully executed.\n");
    struct stat st;
    ASSERT_EQ(::lstat("/tmp/.X11-unix", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 01777u);
    clear_displays();
  }
  {
    // A directory the server may not write in: the bind fails with EACCES.
    ASSERT_EQ(::mkdir("/tmp/.X11-unix", 0555), 0);
    ASSERT_EQ(::chmod("/tmp/.X11-unix", 0555), 0);
    // Root could bind there anyway: run the server without any capability.
    // (Not as another account: in a user namespace there is none to switch to.)
    Options o;
    o.wrapper = {"/usr/bin/setpriv", "--bounding-set=-all", "--inh-caps=-all"};
    const Result r = run({":3", "true"}, o);
    EXPECT_EQ(r.exit_code(), 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: Permission denied (errno 13)\n");
    EXPECT_EQ(lock_files(), std::vector<std::string>{});  // the lock it had made is gone
    ASSERT_EQ(::rmdir("/tmp/.X11-unix"), 0);
  }

  // Unsafe directories are refused before anything is made or bound, and a
  // symbolic link is never followed.
  ASSERT_EQ(::mkdir("/tmp/elsewhere", 0777), 0);
  const bool other_account = ::chown("/tmp/elsewhere", 65534, 65534) == 0;
  const struct {
    std::function<void()> make;
    const char* why;
  } cases[] = {
      {[] { ASSERT_EQ(::symlink("/tmp/elsewhere", "/tmp/.X11-unix"), 0); }, "is a symbolic link"},
      {[] { touch("/tmp/.X11-unix"); }, "is not a directory"},
      {[] {
         ASSERT_EQ(::mkdir("/tmp/.X11-unix", 0700), 0);
         ASSERT_EQ(::chmod("/tmp/.X11-unix", 0777), 0);
       },
       "is writable by others without the sticky bit (mode 0777)"},
      {[] {
         ASSERT_EQ(::mkdir("/tmp/.X11-unix", 0700), 0);
         ASSERT_EQ(::chown("/tmp/.X11-unix", 65534, 65534), 0);
         ASSERT_EQ(::chmod("/tmp/.X11-unix", 01777), 0);
       },
       "is owned by another account (uid 65534)"},
  };
  for (const auto& c : cases) {
    if (std::string(c.why).find("uid 65534") != std::string::npos && !other_account) {
      std::cout << "[   NOTE   ] no other account in this user namespace: a directory of another's is not tried\n";
      continue;
    }
    c.make();
    for (const std::vector<std::string>& args : {std::vector<std::string>{":3", "true"}, {"true"}}) {
      const Result r = run(args);
      EXPECT_EQ(r.exit_code(), 1) << c.why;
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, std::string("Error: refusing the socket directory /tmp/.X11-unix: it ") + c.why + "\n");
    }
    EXPECT_EQ(lock_files(), std::vector<std::string>{}) << c.why;
    EXPECT_TRUE(std::filesystem::is_empty("/tmp/elsewhere")) << c.why;
    std::error_code ignored;
    std::filesystem::remove("/tmp/.X11-unix", ignored);
  }
  ASSERT_EQ(::rmdir("/tmp/elsewhere"), 0);
}

// ---- TCP listeners ---------------------------------------------------------

TEST_F(TcpE2E, Listeners) {
  const struct {
    std::string arg_host;  // as given on the command line
    std::string shown;     // as announced and passed as DISPLAY
    int family;            // AF_UNSPEC: connect_to is a name, resolved as a client would
    const char* connect_to;
  } cases[] = {
      {"127.0.0.1", "127.0.0.1", AF_INET, "127.0.0.1"},
      {"[::1]", "[::1]", AF_INET6, "::1"},
      {"*", "0.0.0.0", AF_INET, "127.0.0.1"},
      {"localhost", "localhost", AF_UNSPEC, "localhost"},
  };
  for (const auto& c : cases) {
    const int port = free_port();
    const std::string shown = c.shown + ":" + std::to_string(port);
    Server server({c.arg_host + ":" + std::to_string(port)});
    ASSERT_TRUE(server.wait_listening()) << c.arg_host << ": " << server.err();
    EXPECT_EQ(server.out(), "Server listening on " + shown + "\n");
    Fd client(c.family == AF_UNSPEC ? connect_tcp_name(c.connect_to, port)
                                    : connect_tcp(c.family, c.connect_to, port));
    ASSERT_GE(client.fd, 0) << shown;
    EXPECT_EQ(handshake(client.fd), 9556u) << shown;
    EXPECT_TRUE(input_focus(client.fd, 1)) << shown;
  }
  {
    // Port 0: the port the system chose is announced, and given as DISPLAY.
    Server server({"127.0.0.1:0"});
    ASSERT_TRUE(server.wait_listening()) << server.err();
    const std::string line = server.out();
    const std::string prefix = "Server listening on 127.0.0.1:";
    ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
    const int port = std::atoi(line.c_str() + prefix.size());
    EXPECT_GT(port, 0) << line;
    EXPECT_EQ(line, prefix + std::to_string(port) + "\n");
    Fd client(connect_tcp(AF_INET, "127.0.0.1", port));
    ASSERT_GE(client.fd, 0) << line;
    EXPECT_EQ(handshake(client.fd), 9556u);
    const Result r = run({"[::1]:0", "sh", "-c", kPrintDisplay});
    const auto shown = r.out.substr(0, r.out.find('\n')).substr(std::strlen("Server listening on "));
    EXPECT_NE(shown, "[::1]:0");
    EXPECT_EQ(r.out, "Server listening on " + shown + "\n<" + shown + ">Program successfully executed.\n");
  }
  {
    // "+" before a resolved port; DISPLAY is the bind address text itself.
    const int port = free_port();
    const Result r = run({"localhost:+" + std::to_string(port), "sh", "-c", kPrintDisplay});
    EXPECT_EQ(r.exit_code(), 0) << r.err;
    EXPECT_EQ(r.out, "Server listening on localhost:+" + std::to_string(port) + "\n<localhost:+" +
                         std::to_string(port) + ">Program successfully executed.\n");
  }
  {
    const int port = free_port();
    const Result r = run({"*:" + std::to_string(port), "sh", "-c", kPrintDisplay},
                         with_env({"DISPLAY=:42"}));
    EXPECT_EQ(r.out, "Server listening on 0.0.0.0:" + std::to_string(port) + "\n<0.0.0.0:" +
                         std::to_string(port) + ">Program successfully executed.\n");
  }
}

TEST_F(TcpE2E, BindFailures) {
  // A port already taken on that address.
  const int taken = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(taken, 1), 0);
  socklen_t len = sizeof a;
  ASSERT_EQ(::getsockname(taken, reinterpret_cast<sockaddr*>(&a), &len), 0);
  const std::string in_use = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));

  for (const std::string& address :
       {in_use, std::string("localhost:x"), std::string("localhost:65536"),
        std::string("localhost:"), std::string("no-such-host.invalid:6000"), std::string("dir/prog:x"),
        std::string("127.0.0.1:65536"), std::string("[::1]:99999")}) {
    const Result r = run({address, "true"});
    EXPECT_EQ(r.exit_code(), 101) << address;
    EXPECT_EQ(r.out, "") << address;
    EXPECT_EQ(r.err, "Could not bind address '" + address + "'\n" + usage_report("ghostdpy"));
  }
  ::close(taken);
}

// ---- program runner --------------------------------------------------------

TEST_F(ProgramE2E, DisplayAndArguments) {
  {
    // An inherited DISPLAY is replaced, not passed on.
    const Result r = run({":6", "sh", "-c", kPrintDisplay}, with_env({"DISPLAY=:42"}));
    EXPECT_EQ(r.out, "Server listening on /tmp/.X11-unix/X6\n<:6>Program successfully executed.\n");
  }
  {
    // Blanks, empty and special arguments reach the program one by one, unchanged.
    const Result r = run({":6", "sh", "-c", "printf '[%s]' \"$@\"", "sh", "a b", "  c ", "", "$HOME", "*"});
    EXPECT_EQ(r.exit_code(), 0) << r.err;
    EXPECT_EQ(r.out, "Server listening on /tmp/.X11-unix/X6\n[a b][  c ][][$HOME][*]Program successfully executed.\n");
  }
  {
    // Only DISPLAY differs from the server's own environment.
    const Result r = run({":6", "sh", "-c", "echo \"$GD_MARK/$DISPLAY\""}, with_env({"GD_MARK=kept"}));
    EXPECT_EQ(r.out, "Server listening on /tmp/.X11-unix/X6\nkept/:6\nProgram successfully executed.\n");
  }
}

TEST_F(ProgramE2E, HowTheProgramEnded) {
  char dir[] = "/tmp/coreXXXXXX";  // core files land in the server's working directory
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const struct {
    const char* script;
    const char* report;  // nullptr: success
    int status;
  } cases[] = {
      {"exit 0", nullptr, 0},
      {"exit 3", "exit status: 3", 3},
      {"exit 255", "exit status: 255", 255},
      {"kill -9 $$", "signal: 9 (SIGKILL)", 137},
      {"kill -TERM $$", "signal: 15 (SIGTERM)", 143},
      // SIGPIPE is back at its default in the program, though ignored by the server.
      {"kill -PIPE $$", "signal: 13 (SIGPIPE)", 141},
      {"ulimit -c unlimited; kill -SEGV $$", "signal: 11 (SIGSEGV) (core dumped)", 139},
  };
  for (const auto& c : cases) {
    const Result r = run({":8", "sh", "-c", c.script}, in_dir(dir));
    EXPECT_EQ(r.exit_code(), c.status) << c.script;
    if (c.report == nullptr) {
      EXPECT_EQ(r.out, "Server listening on /tmp/.X11-unix/X8\nProgram successfully executed.\n");
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_EQ(r.out, "Server listening on /tmp/.X11-unix/X8\n") << c.script;
      EXPECT_EQ(r.err, std::string("Program failed with exit code: ") + c.report + "\n");
    }
    EXPECT_FALSE(exists("/tmp/.X11-unix/X8")) << c.script;
  }
  std::error_code removed;
  std::filesystem::remove_all(dir, removed);
  EXPECT_FALSE(removed) << dir << ": " << removed.message();
}

TEST_F(ProgramE2E, ProgramThatCannotStart) {
  touch("/tmp/not-executable");
  const struct {
    std::vector<std::string> args;
    const char* shown;
  } cases[] = {
      {{":5", "nosuchprog", "-a", "b"}, "nosuchprog -a b"},
      {{":5", "/tmp/not-executable"}, "/tmp/not-executable"},
      {{":5", "./relative/missing", "x y"}, "./relative/missing x y"},
  };
  for (const auto& c : cases) {
    const Result r = run(c.args);
    EXPECT_EQ(r.exit_code(), 101) << c.shown;
    EXPECT_EQ(r.out, "Server listening on /tmp/.X11-unix/X5\n");
    EXPECT_EQ(r.err, std::string("Failed to execute process '") + c.shown + "'\n" + usage_report("ghostdpy"));
    EXPECT_FALSE(exists("/tmp/.X11-unix/X5")) << c.shown;  // the failure hook removed it
    EXPECT_FALSE(exists("/tmp/.X5-lock")) << c.shown;        // and the lock
  }
  // TCP mode: same report, nothing to remove.
  const int port = free_port();
  const Result r = run({"127.0.0.1:" + std::to_string(port), "nosuchprog"});
  EXPECT_EQ(r.exit_code(), 101);
  EXPECT_EQ(r.err, "Failed to execute process 'nosuchprog'\n" + usage_report("ghostdpy"));
}

TEST_F(ProgramE2E, NoDescriptorInherited) {
  // The helper exits 61 when it holds any socket, 62 when SIGPIPE is not at its default.
  const int port = free_port();
  for (const std::string& target : {std::string(":4"), "127.0.0.1:" + std::to_string(port)}) {
    const Result r = run({target, self_path, "--inheritance-helper"});
    EXPECT_EQ(r.exit_code(), 0) << target << ": " << r.err;
    EXPECT_NE(r.out.find("Program successfully executed.\n"), std::string::npos) << r.out;
  }
}

// ---- signals ---------------------------------------------------------------

TEST_F(SignalE2E, Interrupts) {
  {
    // SIGINT in Unix mode: file and lock removed, nothing printed, status 0.
    Server server({":11"});
    ASSERT_TRUE(server.wait_interruptible()) << server.err();
    EXPECT_TRUE(exists("/tmp/.X11-unix/X11"));
    EXPECT_EQ(read_file("/tmp/.X11-lock"), lock_text(server.pid()));
    server.signal(SIGINT);
    const Result r = server.finish();
    EXPECT_EQ(r.exit_code(), 0);
    EXPECT_EQ(r.out, "Server listening on /tmp/.X11-unix/X11\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(exists("/tmp/.X11-unix/X11"));
    EXPECT_FALSE(exists("/tmp/.X11-lock"));
  }
  {
    // Twice in a row, while a program runs: still one clean end with 0.
    Server server({":11", "sleep", "60"});
    ASSERT_TRUE(server.wait_interruptible()) << server.err();
    server.signal(SIGINT);
    server.signal(SIGINT);
    const Result r = server.finish();
    EXPECT_EQ(r.exit_code(), 0);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(exists("/tmp/.X11-unix/X11"));
  }
  {
    // A socket file and a lock that someone else removed and replaced with
    // their own: still a quiet end with 0, and theirs stay.
    Server server({":11"});
    ASSERT_TRUE(server.wait_interruptible()) << server.err();
    ASSERT_EQ(::unlink("/tmp/.X11-unix/X11"), 0);
    const int theirs = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, "/tmp/.X11-unix/X11");
    ASSERT_EQ(::bind(theirs, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::rename("/tmp/.X11-lock", "/tmp/ours-lock"), 0);  // keeps its inode number taken
    touch("/tmp/.X11-lock");
    server.signal(SIGINT);
    const Result r = server.finish();
    ::close(theirs);
    EXPECT_EQ(r.exit_code(), 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(exists("/tmp/.X11-unix/X11"));
    EXPECT_TRUE(exists("/tmp/.X11-lock"));
    ::unlink("/tmp/.X11-unix/X11");
    ::unlink("/tmp/.X11-lock");
    ::unlink("/tmp/ours-lock");
  }
  {
    // The same at the end of a program run: the program removed it itself.
    const Result r = run({":11", "rm", "/tmp/.X11-unix/X11"});
    EXPECT_EQ(r.exit_code(), 0);
    EXPECT_EQ(r.out, "Server listening on /tmp/.X11-unix/X11\nProgram successfully executed.\n");
    EXPECT_EQ(r.err, "");
  }
  {
    // SIGTERM keeps its default action: the file stays behind.
    Server server({":12"});
    ASSERT_TRUE(server.wait_listening()) << server.err();
    server.signal(SIGTERM);
    const Result r = server.finish();
    EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == SIGTERM);
    EXPECT_TRUE(exists("/tmp/.X11-unix/X12"));
    ::unlink("/tmp/.X11-unix/X12");
    ::unlink("/tmp/.X12-lock");
  }
  {
    // TCP mode: SIGINT is not caught at all.
    const int port = free_port();
    Server server({"127.0.0.1:" + std::to_string(port)});
    ASSERT_TRUE(server.wait_listening()) << server.err();
    server.signal(SIGINT);
    const Result r = server.finish();
    EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == SIGINT) << r.status;
    EXPECT_EQ(r.err, "");
  }
}

// ---- connections -----------------------------------------------------------

TEST_F(ConnectionE2E, ClientErrorsLeaveTheDisplayReachable) {
  Server server({":13"});
  ASSERT_TRUE(server.wait_listening()) << server.err();
  {
    Fd bad(connect_unix("/tmp/.X11-unix/X13"));
    ASSERT_GE(bad.fd, 0);
    const unsigned char request[12] = {'b', 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(send_all(bad.fd, request, sizeof request));
    EXPECT_TRUE(closed_by_server(bad.fd));
  }
  {
    Fd torn(connect_unix("/tmp/.X11-unix/X13"));
    ASSERT_GE(torn.fd, 0);
    ASSERT_EQ(handshake(torn.fd), 9556u);
    const unsigned char half[2] = {55, 0};
    ASSERT_TRUE(send_all(torn.fd, half, sizeof half));
    ::shutdown(torn.fd, SHUT_WR);
    EXPECT_TRUE(closed_by_server(torn.fd));
  }
  {
    Fd gone(connect_unix("/tmp/.X11-unix/X13"));  // vanishes in the middle of its setup
    ASSERT_GE(gone.fd, 0);
    ASSERT_TRUE(send_all(gone.fd, "l\0", 2));
  }
  EXPECT_TRUE(exists("/tmp/.X11-unix/X13"));
  {
    Fd good(connect_unix("/tmp/.X11-unix/X13"));
    ASSERT_GE(good.fd, 0);
    EXPECT_EQ(handshake(good.fd), 9556u);
    EXPECT_TRUE(input_focus(good.fd, 1));
  }
  server.signal(SIGINT);
  const Result r = server.finish();
  EXPECT_EQ(r.exit_code(), 0);
  EXPECT_NE(r.err.find("invalid byte encoding value `98`"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("unknown message, read count=2, [55, 0, 0, 0]"), std::string::npos) << r.err;
  EXPECT_FALSE(exists("/tmp/.X11-unix/X13"));
}

// ---- a real X11 client -----------------------------------------------------

TEST_F(RealClientE2E, XprobeRunsUnderTheServer) {
  const Result r = run({kXprobe});
  EXPECT_EQ(r.exit_code(), 0) << r.err;
  EXPECT_NE(r.out.find("xprobe: screen 0 is 1280 x 1024 pixels, depth 24\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("xprobe: done\n"), std::string::npos) << r.out;
  const std::string tail = "Program successfully executed.\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
  EXPECT_FALSE(exists("/tmp/.X11-unix/X99"));
}

// ---- many clients at once --------------------------------------------------

TEST_F(ConcurrencyE2E, TenClientsOneSilent) {
  Server server({":14"});
  ASSERT_TRUE(server.wait_listening()) << server.err();
  Fd silent(connect_unix("/tmp/.X11-unix/X14"));  // connects and never says a word
  ASSERT_GE(silent.fd, 0);
  std::atomic<int> served{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 9; ++i) {
    clients.emplace_back([&] {
      Fd c(connect_unix("/tmp/.X11-unix/X14"));
      if (c.fd >= 0 && handshake(c.fd) == 9556u && input_focus(c.fd, 1) && input_focus(c.fd, 2))
        ++served;
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(served.load(), 9);
  server.signal(SIGINT);
  const Result r = server.finish();
  EXPECT_EQ(r.exit_code(), 0);
  EXPECT_FALSE(exists("/tmp/.X11-unix/X14"));
}

TEST_F(ConcurrencyE2E, InterruptDuringTraffic) {
  Server server({":15"});
  ASSERT_TRUE(server.wait_listening()) << server.err();
  std::atomic<bool> stop{false};
  std::atomic<int> rounds{0}, finished{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 4; ++i) {
    clients.emplace_back([&] {
      struct Count {
        std::atomic<int>& n;
        ~Count() { ++n; }
      } count{finished};
      for (int k = 0; k < 2000 && !stop; ++k) {
        Fd c(connect_unix("/tmp/.X11-unix/X15"));
        if (c.fd < 0 || handshake(c.fd) == 0) break;  // the server has gone
        input_focus(c.fd, 1);
        ++rounds;
      }
    });
  }
  while (rounds.load() < 20 && finished.load() < 4) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_GE(rounds.load(), 20) << "clients were not served";
  server.signal(SIGINT);
  const Result r = server.finish();
  stop = true;
  for (auto& t : clients) t.join();
  EXPECT_EQ(r.exit_code(), 0);
  EXPECT_FALSE(exists("/tmp/.X11-unix/X15"));
}

// The started program's side of NoDescriptorInherited.
int inheritance_helper() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return 63;
  int sockets = 0;
  while (const dirent* e = ::readdir(dir)) {
    struct stat st;
    const int fd = std::atoi(e->d_name);
    if (e->d_name[0] == '.' || fd == ::dirfd(dir)) continue;
    if (::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode)) {
      std::fprintf(stderr, "inherited socket on descriptor %d\n", fd);
      ++sockets;
    }
  }
  ::closedir(dir);
  if (sockets > 0) return 61;
  struct sigaction current;
  if (::sigaction(SIGPIPE, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return 62;
  return 0;
}

}  // namespace
}  // namespace e2e

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--inheritance-helper") == 0) return e2e::inheritance_helper();
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  e2e::self_path = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv[0]);
  // The programs under test and this binary (the helper modes) stay reachable
  // when the build tree lies under /tmp.
  e2e::isolation_failure = private_tmp::enter({e2e::kGhostdpy, e2e::kXprobe, e2e::self_path});
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
