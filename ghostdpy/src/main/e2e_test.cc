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

TEST_F(CommandLineE2E, OnlyTheDisplayArgumentMustBeUtf8) {
  {
    const Result r = run({"\xc3(:1", "true"});
    EXPECT_EQ(r.exit_code(), 101);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "ghostdpy[main]: fatal: command-line argument 1 is not valid UTF-8\n");
  }
  {
    // A Latin-1 file name reaches the program byte for byte.
    const Result r = run({":5", "sh", "-c", "printf '<%s>' \"$1\"", "sh", "caf\xe9"});
    EXPECT_EQ(r.exit_code(), 0) << r.err;
    EXPECT_EQ(r.out, "Server listening on /tmp/.X11-unix/X5\n<caf\xe9>Program successfully executed.\n");
  }
  {
    const Result r = run({"\xff"}, with_searchable_path());  // no colon: the program's name, not a display
    EXPECT_EQ(r.exit_code(), 101);
    EXPECT_EQ(r.err, "ghostdpy: cannot execute \xff: No such file or directory (errno 2)\n"
                     "Failed to execute process '\xff'\n" + usage_report("ghostdpy"));
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
    // Port 0: the port the system chose is announced, and named in DISPLAY.
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
    const std::string announced = r.out.substr(0, r.out.find('\n'));
    const std::string ipv6_prefix = "Server listening on [::1]:";
    ASSERT_EQ(announced.rfind(ipv6_prefix, 0), 0u) << r.out << r.err;
    const int chosen = std::atoi(announced.c_str() + ipv6_prefix.size());
    ASSERT_GE(chosen, 6000) << announced;  // the system's ephemeral ports lie far above
    EXPECT_EQ(r.out, announced + "\n<[::1]:" + std::to_string(chosen - 6000) + ">Program successfully executed.\n");
  }
  {
    // "+" before a resolved port; DISPLAY names the port less 6000, as X clients read it.
    const int port = free_port();
    const Result r = run({"localhost:+" + std::to_string(port), "sh", "-c", kPrintDisplay});
    EXPECT_EQ(r.exit_code(), 0) << r.err;
    EXPECT_EQ(r.out, "Server listening on localhost:+" + std::to_string(port) + "\n<localhost:" +
                         std::to_string(port - 6000) + ">Program successfully executed.\n");
  }
  {
    const int port = free_port();
    const Result r = run({"*:" + std::to_string(port), "sh", "-c", kPrintDisplay},
                         with_env({"DISPLAY=:42"}));
    EXPECT_EQ(r.out, "Server listening on 0.0.0.0:" + std::to_string(port) + "\n<127.0.0.1:" +
                         std::to_string(port - 6000) + ">Program successfully executed.\n");
  }
}

TEST_F(TcpE2E, ProgramsReachTheDisplay) {
  for (const std::string host : {"127.0.0.1", "[::1]"}) {
    const std::string address = host + ":" + std::to_string(free_port());
    const Result r = run({address, kXprobe});
    EXPECT_EQ(r.exit_code(), 0) << address << ": " << r.err;
    EXPECT_NE(r.out.find("xprobe: done\n"), std::string::npos) << address;
  }
  // A port that no display name reaches: refused before anything is bound.
  const Result r = run({"127.0.0.1:5999", "true"});
  EXPECT_EQ(r.exit_code(), 101);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Cannot give a program a display on '127.0.0.1:5999': X display names reach TCP ports from "
                   "6000 up only\n" + usage_report("ghostdpy"));
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
    const char* reason;
    const char* shown;
  } cases[] = {
      {{":5", "nosuchprog", "-a", "b"}, "nosuchprog: No such file or directory (errno 2)", "nosuchprog -a b"},
      {{":5", "/tmp/not-executable"}, "/tmp/not-executable: Permission denied (errno 13)", "/tmp/not-executable"},
      {{":5", "./relative/missing", "x y"}, "./relative/missing: No such file or directory (errno 2)",
       "./relative/missing x y"},
  };
  for (const auto& c : cases) {
    const Result r = run(c.args, with_searchable_path());
    EXPECT_EQ(r.exit_code(), 101) << c.shown;
    EXPECT_EQ(r.out, "Server listening on /tmp/.X11-unix/X5\n");
    EXPECT_EQ(r.err, std::string("ghostdpy: cannot execute ") + c.reason + "\nFailed to execute process '" + c.shown +
                         "'\n" + usage_report("ghostdpy"));
    EXPECT_FALSE(exists("/tmp/.X11-unix/X5")) << c.shown;  // the failure hook removed it
    EXPECT_FALSE(exists("/tmp/.X5-lock")) << c.shown;        // and the lock
  }
  // TCP mode: same report, nothing to remove.
  const int port = free_port();
  const Result r = run({"127.0.0.1:" + std::to_string(port), "nosuchprog"}, with_searchable_path());
  EXPECT_EQ(r.exit_code(), 101);
  EXPECT_EQ(r.err, "ghostdpy: cannot execute nosuchprog: No such file or directory (errno 2)\n"
                   "Failed to execute process 'nosuchprog'\n" + usage_report("ghostdpy"));
}

TEST_F(ProgramE2E, ScriptWithoutInterpreterLineRunsInTheShell) {
  // As execvp does: by its path, and found along PATH.
  ASSERT_EQ(::mkdir("/tmp/bin", 0755), 0);
  const std::string script = "/tmp/bin/no-interpreter-line";
  {
    std::ofstream(script) << "printf '[%s]' \"$@\"; exit 4\n";
  }
  ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
  const Result by_path = run({":5", script, "a b", "c"});
  EXPECT_EQ(by_path.exit_code(), 4) << by_path.err;
  EXPECT_EQ(by_path.out, "Server listening on /tmp/.X11-unix/X5\n[a b][c]");
  const Result found = run({":5", "no-interpreter-line", "d"}, with_env({"PATH=/tmp/bin:/usr/bin:/bin"}));
  EXPECT_EQ(found.exit_code(), 4) << found.err;
  EXPECT_EQ(found.out, "Server listening on /tmp/.X11-unix/X5\n[d]");
  EXPECT_EQ(found.err, "Program failed with exit code: exit status: 4\n");
  std::filesystem::remove_all("/tmp/bin");
}

TEST_F(ProgramE2E, InheritedState) {
  // The helper exits 61 when it holds any socket, and prints the dispositions it got.
  const std::string defaults = "SIGPIPE default, SIGCHLD default, SIGINT default, SIGTERM default, SIGHUP default\n";
  const int port = free_port();
  for (const std::string& target : {std::string(":4"), "127.0.0.1:" + std::to_string(port)}) {
    const Result r = run({target, self_path, "--inheritance-helper"});
    EXPECT_EQ(r.exit_code(), 0) << target << ": " << r.err;
    EXPECT_NE(r.out.find(defaults + "Program successfully executed.\n"), std::string::npos) << r.out;
  }
  {
    // Started by a parent that ignores SIGCHLD and SIGHUP (nohup's way): the
    // program still gets them ignored, and its status is not lost.
    Options o;
    o.wrapper = {"/bin/bash", "-c", "trap '' CHLD HUP; exec \"$@\"", "bash"};  // dash leaves SIGCHLD alone
    const Result r = run({":4", self_path, "--inheritance-helper"}, o);
    EXPECT_EQ(r.exit_code(), 0) << r.err;
    EXPECT_EQ(r.out, "Server listening on /tmp/.X11-unix/X4\n"
                     "SIGPIPE default, SIGCHLD ignored, SIGINT default, SIGTERM default, SIGHUP ignored\n"
                     "Program successfully executed.\n");
  }
  {
    // Started without standard descriptors: neither the listener nor a
    // client's socket may take them, or the trace lands in a client's stream.
    Options o;
    o.closed = {0, 1, 2};
    const Result r = run({":4", kXprobe}, o);
    EXPECT_EQ(r.exit_code(), 0);
  }
  EXPECT_FALSE(exists("/tmp/.X11-unix/X4"));
}

TEST_F(ProgramE2E, OutputIsNeverLostSilently) {
  {
    // The program makes the standard output it shares non-blocking, and the
    // pipe behind it is read only after a second: the whole trace arrives.
    Options o;
    o.wrapper = {"/bin/bash", "-c", "\"$@\" | { sleep 1; cat; }; exit ${PIPESTATUS[0]}", "bash"};
    constexpr int kRequests = 3000;
    const Result r = run({":6", self_path, "--non-blocking-client", std::to_string(kRequests)}, o);
    EXPECT_EQ(r.exit_code(), 0) << r.err;
    std::istringstream lines(r.out);
    int requests = 0, responses = 0;
    for (std::string line; std::getline(lines, line);) {
      if (line == "Request" + std::to_string(requests + 1) +
                      " = Request { header: RequestHeader { opcode: 43, extra_spec: 0, length: 1 }, data: None }")
        ++requests;
      if (line.rfind("Response" + std::to_string(responses + 1) + " = [1, 0, ", 0) == 0 && line.back() == ']')
        ++responses;
    }
    EXPECT_EQ(requests, kRequests);
    EXPECT_EQ(responses, kRequests);
    EXPECT_EQ(r.err.find("trace output failed"), std::string::npos) << r.err;
  }
  {
    // A full disk: said once, and the program's status stays.
    Options o;
    o.stdout_path = "/dev/full";
    const Result r = run({":6", "sh", "-c", "exit 3"}, o);
    EXPECT_EQ(r.exit_code(), 3);
    EXPECT_EQ(r.err, "ghostdpy: trace output failed: No space left on device (errno 28)\n"
                     "Program failed with exit code: exit status: 3\n");
  }
}

// ---- signals ---------------------------------------------------------------

const struct StopSignal {
  int number;
  const char* report;
} kStopSignals[] = {{SIGINT, "signal: 2 (SIGINT)"}, {SIGTERM, "signal: 15 (SIGTERM)"}, {SIGHUP, "signal: 1 (SIGHUP)"}};

TEST_F(SignalE2E, StopsWithoutAProgram) {
  for (const StopSignal& s : kStopSignals) {
    // Unix mode: file and lock removed, nothing printed, status 0.
    Server server({":11"});
    ASSERT_TRUE(server.wait_interruptible()) << server.err();
    EXPECT_TRUE(exists("/tmp/.X11-unix/X11"));
    EXPECT_EQ(read_file("/tmp/.X11-lock"), lock_text(server.pid()));
    server.signal(s.number);
    const Result r = server.finish();
    EXPECT_EQ(r.exit_code(), 0) << s.report;
    EXPECT_EQ(r.out, "Server listening on /tmp/.X11-unix/X11\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(exists("/tmp/.X11-unix/X11")) << s.report;
    EXPECT_FALSE(exists("/tmp/.X11-lock")) << s.report;
  }
  {
    // TCP mode: the same.
    const int port = free_port();
    Server server({"127.0.0.1:" + std::to_string(port)});
    ASSERT_TRUE(server.wait_interruptible()) << server.err();
    server.signal(SIGTERM);
    const Result r = server.finish();
    EXPECT_EQ(r.exit_code(), 0);
    EXPECT_EQ(r.err, "");
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
}

TEST_F(SignalE2E, StopsEndTheProgramFirst) {
  const std::string started = "/tmp/started";
  const std::string program = "echo > " + started + "; exec sleep 60";
  for (const StopSignal& s : kStopSignals) {
    // As `docker stop` does: the signal, then SIGKILL after a grace time, within
    // which the program has ended, been reported, and the socket is gone.
    ::unlink(started.c_str());
    Server server({":12", "sh", "-c", program});
    ASSERT_TRUE(wait_for_text(started, "\n")) << server.err();
    server.signal(s.number);
    const Result r = server.finish(std::chrono::seconds(10));
    EXPECT_EQ(r.exit_code(), 128 + s.number) << s.report;
    EXPECT_EQ(r.err, std::string("Program failed with exit code: ") + s.report + "\n");
    EXPECT_FALSE(exists("/tmp/.X11-unix/X12")) << s.report;
    EXPECT_FALSE(exists("/tmp/.X12-lock")) << s.report;
  }
  {
    // A program that ends in its own way on the signal: its status is the server's.
    ::unlink(started.c_str());
    Server server({":12", "sh", "-c", "trap 'exit 7' TERM; echo > " + started + "; sleep 60 & wait"});
    ASSERT_TRUE(wait_for_text(started, "\n")) << server.err();
    server.signal(SIGTERM);
    const Result r = server.finish(std::chrono::seconds(10));
    EXPECT_EQ(r.exit_code(), 7);
    EXPECT_EQ(r.err, "Program failed with exit code: exit status: 7\n");
  }
  {
    // Under timeout(1), which signals its command and then the whole group.
    Options o;
    o.wrapper = {"/usr/bin/timeout", "--preserve-status", "-s", "TERM", "1"};
    const Result r = run({":12", "sleep", "60"}, o);
    EXPECT_EQ(r.exit_code(), 143);
    EXPECT_FALSE(exists("/tmp/.X11-unix/X12"));
  }
}

TEST_F(SignalE2E, PassedOnOnceUnlessTheProgramHasItAlready) {
  // ghostdpy in a session of its own on a terminal; the program records every
  // stop signal it gets, and ends on SIGTERM.
  const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(terminal, 0) << std::strerror(errno);
  ASSERT_EQ(::grantpt(terminal), 0);
  ASSERT_EQ(::unlockpt(terminal), 0);
  Options o;
  o.terminal = ::ptsname(terminal);
  const std::string record = "/tmp/signals";
  std::string want = "ready\n";
  {
    Server server({":13", self_path, "--signal-recorder", record}, o);
    ASSERT_TRUE(wait_for_text(record, want)) << server.err();
    // Sent to ghostdpy alone, each time again.
    for (const int s : {SIGINT, SIGHUP, SIGINT}) {
      server.signal(s);
      want += std::string(s == SIGINT ? "SIGINT" : "SIGHUP") + " from a process\n";
      ASSERT_TRUE(wait_for_text(record, want)) << read_file(record);
    }
    // Ctrl-C on the terminal reaches the whole foreground group: the program
    // has it already. Had it been passed on as well, the program would see it
    // a second time before the SIGTERM that ghostdpy passes on after it.
    ASSERT_EQ(::write(terminal, "\x03", 1), 1);
    want += "SIGINT from the terminal\n";
    ASSERT_TRUE(wait_for_text(record, want)) << read_file(record);
    server.signal(SIGTERM);
    want += "SIGTERM from a process\n";
    const Result r = server.finish();
    EXPECT_EQ(r.exit_code(), 0) << r.err;
    EXPECT_EQ(read_file(record), want);
  }
  ::close(terminal);
  EXPECT_FALSE(exists("/tmp/.X11-unix/X13"));
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

// The started program's side of InheritedState.
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
  const char* separator = "";
  for (const auto& [signal, name] : {std::pair{SIGPIPE, "SIGPIPE"}, std::pair{SIGCHLD, "SIGCHLD"},
                                     std::pair{SIGINT, "SIGINT"}, std::pair{SIGTERM, "SIGTERM"},
                                     std::pair{SIGHUP, "SIGHUP"}}) {
    struct sigaction current;
    if (::sigaction(signal, nullptr, &current) != 0) return 62;
    const char* action = current.sa_handler == SIG_IGN ? "ignored" : current.sa_handler == SIG_DFL ? "default" : "caught";
    std::printf("%s%s %s", separator, name, action);
    separator = ", ";
  }
  std::printf("\n");
  return 0;
}

// The started program of PassedOnOnceUnlessTheProgramHasItAlready: a line per
// stop signal, in a file; ends on SIGTERM.
int record_fd = -1;

void record_signal(int signal, siginfo_t* info, void*) {
  char line[64];
  const int n = std::snprintf(line, sizeof line, "%s from %s\n",
                              signal == SIGINT ? "SIGINT" : signal == SIGHUP ? "SIGHUP" : "SIGTERM",
                              info->si_code == SI_KERNEL ? "the terminal" : "a process");
  (void)!::write(record_fd, line, static_cast<size_t>(n));
  if (signal == SIGTERM) ::_exit(0);
}

int signal_recorder(const char* path) {
  record_fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (record_fd < 0) return 63;
  struct sigaction action{};
  action.sa_sigaction = record_signal;
  action.sa_flags = SA_SIGINFO;
  sigfillset(&action.sa_mask);
  for (const int s : {SIGINT, SIGHUP, SIGTERM}) ::sigaction(s, &action, nullptr);
  (void)!::write(record_fd, "ready\n", 6);
  for (;;) ::pause();
}

// The started program of OutputIsNeverLostSilently: makes the standard output
// it shares with ghostdpy non-blocking, then asks for `count` replies.
int non_blocking_client(int count) {
  if (::fcntl(STDOUT_FILENO, F_SETFL, ::fcntl(STDOUT_FILENO, F_GETFL) | O_NONBLOCK) != 0) return 63;
  const char* display = std::getenv("DISPLAY");
  const int fd = connect_unix(std::string("/tmp/.X11-unix/X") + (display ? display + 1 : ""));
  if (fd < 0 || handshake(fd) == 0) return 62;
  std::vector<unsigned char> batch;
  for (int i = 0; i < count; ++i) batch.insert(batch.end(), {43, 0, 1, 0});
  std::thread sender([&] { send_all(fd, batch.data(), batch.size()); });
  std::vector<unsigned char> replies(32 * static_cast<size_t>(count));
  const bool all = recv_all(fd, replies.data(), replies.size());
  sender.join();
  ::close(fd);
  return all ? 0 : 61;
}

}  // namespace
}  // namespace e2e

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--inheritance-helper") == 0) return e2e::inheritance_helper();
  if (argc > 2 && std::strcmp(argv[1], "--signal-recorder") == 0) return e2e::signal_recorder(argv[2]);
  if (argc > 2 && std::strcmp(argv[1], "--non-blocking-client") == 0)
    return e2e::non_blocking_client(std::atoi(argv[2]));
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  e2e::self_path = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv[0]);
  // The programs under test and this binary (the helper modes) stay reachable
  // when the build tree lies under /tmp.
  e2e::isolation_failure = private_tmp::enter({e2e::kGhostdpy, e2e::kXprobe, e2e::self_path});
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
