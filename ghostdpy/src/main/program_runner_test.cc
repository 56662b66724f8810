#include "program_runner.h"

#include "spawn.h"

#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

namespace launcher {
namespace {

// Wait statuses in the layout the kernel reports them in.
int exited(int code) { return code << 8; }
int killed(int signal, bool core = false) { return signal | (core ? 0x80 : 0); }

TEST(ProgramRunnerTest, StatusDescriptions) {
  const struct {
    int status;
    std::string text;
    int exit_status;
  } cases[] = {
      {exited(1), "exit status: 1", 1},
      {exited(3), "exit status: 3", 3},
      {exited(255), "exit status: 255", 255},
      {killed(SIGKILL), "signal: 9 (SIGKILL)", 137},
      {killed(SIGHUP), "signal: 1 (SIGHUP)", 129},
      {killed(SIGSEGV, true), "signal: 11 (SIGSEGV) (core dumped)", 139},
      {killed(SIGSTKFLT), "signal: 16 (SIGSTKFLT)", 144},
      {killed(SIGSYS), "signal: 31 (SIGSYS)", 159},
      {killed(SIGRTMIN), "signal: " + std::to_string(SIGRTMIN), 128 + SIGRTMIN},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(describe_status(c.status), c.text);
    EXPECT_EQ(exit_status_for(c.status), c.exit_status) << c.text;
  }
  EXPECT_EQ(exit_status_for(exited(0)), 0);
}

TEST(ProgramRunnerTest, SignalNames) {
  // Built from the system's own numbering, so a shifted name list shows up.
  const struct {
    int signal;
    const char* name;
  } cases[] = {{SIGHUP, "SIGHUP"},   {SIGINT, "SIGINT"},       {SIGQUIT, "SIGQUIT"},   {SIGILL, "SIGILL"},
               {SIGTRAP, "SIGTRAP"}, {SIGABRT, "SIGABRT"},     {SIGBUS, "SIGBUS"},     {SIGFPE, "SIGFPE"},
               {SIGKILL, "SIGKILL"}, {SIGUSR1, "SIGUSR1"},     {SIGSEGV, "SIGSEGV"},   {SIGUSR2, "SIGUSR2"},
               {SIGPIPE, "SIGPIPE"}, {SIGALRM, "SIGALRM"},     {SIGTERM, "SIGTERM"},   {SIGSTKFLT, "SIGSTKFLT"},
               {SIGCHLD, "SIGCHLD"}, {SIGCONT, "SIGCONT"},     {SIGSTOP, "SIGSTOP"},   {SIGTSTP, "SIGTSTP"},
               {SIGTTIN, "SIGTTIN"}, {SIGTTOU, "SIGTTOU"},     {SIGURG, "SIGURG"},     {SIGXCPU, "SIGXCPU"},
               {SIGXFSZ, "SIGXFSZ"}, {SIGVTALRM, "SIGVTALRM"}, {SIGPROF, "SIGPROF"},   {SIGWINCH, "SIGWINCH"},
               {SIGIO, "SIGIO"},     {SIGPWR, "SIGPWR"},       {SIGSYS, "SIGSYS"}};
  for (const auto& c : cases) EXPECT_EQ(signal_name_part(c.signal), std::string(" (") + c.name + ")");
  EXPECT_EQ(signal_name_part(0), "");
  EXPECT_EQ(signal_name_part(32), "");
  EXPECT_EQ(signal_name_part(64), "");
}

TEST(ProgramRunnerTest, Environment) {
  char a[] = "PATH=/bin", b[] = "DISPLAY=:0", c[] = "X=DISPLAY=1", d[] = "DISPLAY=again",
       e[] = "DISPLAYX=keep";
  char* env[] = {a, b, c, d, e, nullptr};
  EXPECT_EQ(environment_with_display(env, ":7"),
            (std::vector<std::string>{"PATH=/bin", "X=DISPLAY=1", "DISPLAYX=keep", "DISPLAY=:7"}));
  char* empty[] = {nullptr};
  EXPECT_EQ(environment_with_display(empty, "0.0.0.0:6000"),
            std::vector<std::string>{"DISPLAY=0.0.0.0:6000"});
}

TEST(ProgramRunnerTest, PathSearchAsExecvp) {
  using List = std::vector<std::string>;
  EXPECT_EQ(exec_candidates("prog", "/a:/b/c"), (List{"/a/prog", "/b/c/prog"}));
  EXPECT_EQ(exec_candidates("prog", ":/a::"), (List{"prog", "/a/prog", "prog", "prog"}));  // empty: working directory
  EXPECT_EQ(exec_candidates("prog", nullptr), (List{"/bin/prog", "/usr/bin/prog"}));
  EXPECT_EQ(exec_candidates("prog", ""), (List{"prog"}));
  EXPECT_EQ(exec_candidates("./prog", "/a"), (List{"./prog"}));
  EXPECT_EQ(exec_candidates("dir/prog", "/a"), (List{"dir/prog"}));
  EXPECT_EQ(exec_candidates("", "/a"), List{});
}

}  // namespace
}  // namespace launcher
