#include "display.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>

#include "display_claim.h"
#include "fatal.h"
#include "lock_file.h"
#include "socket_directory.h"

namespace launcher {
namespace {

TEST(DisplayTest, Paths) {
  EXPECT_EQ(get_server_path_for_unix_display(0), "/tmp/.X11-unix/X0");
  EXPECT_EQ(get_server_path_for_unix_display(99), "/tmp/.X11-unix/X99");
  EXPECT_EQ(get_server_path_for_unix_display(18446744073709551615u),
            "/tmp/.X11-unix/X18446744073709551615");
  EXPECT_EQ(get_lock_path_for_unix_display(7), "/tmp/.X7-lock");
}

TEST(DisplayTest, ChooseDisplay) {
  std::vector<std::uint64_t> asked;
  std::set<std::uint64_t> held;
  std::uint64_t broken = 0;  // a display whose claim meets a system error
  const auto try_claim = [&](std::uint64_t n) {
    asked.push_back(n);
    ClaimResult result;
    result.outcome = n == broken ? ClaimResult::failed : held.count(n) ? ClaimResult::held : ClaimResult::claimed;
    result.message = std::to_string(n);
    return result;
  };
  EXPECT_EQ(choose_display(try_claim).message, "99");
  EXPECT_EQ(asked, std::vector<std::uint64_t>{99});

  // Held ones are passed over; the highest free number wins even when lower
  // ones are free too.
  held = {99, 98, 50};
  EXPECT_EQ(choose_display(try_claim).message, "97");

  // A system error is no display held by someone: the search ends with it.
  broken = 97;
  const ClaimResult error = choose_display(try_claim);
  EXPECT_EQ(error.outcome, ClaimResult::failed);
  EXPECT_EQ(error.message, "97");
  broken = 0;

  for (std::uint64_t n = 2; n <= 99; ++n) held.insert(n);
  asked.clear();
  EXPECT_EQ(choose_display(try_claim).message, "1");
  EXPECT_EQ(asked.size(), 99u);

  held.insert(1);
  asked.clear();
  try {
    choose_display(try_claim);
    ADD_FAILURE() << "no failure with every display held";
  } catch (const FatalFailure& failure) {
    EXPECT_EQ(failure.message, "no display in range (1..99) not available: ()");
  }
  EXPECT_EQ(asked.size(), 99u);  // 0 is never a candidate
  EXPECT_EQ(asked.back(), 1u);
}

TEST(DisplayTest, MakeDirectories) {
  char templ[] = "/tmp/ghostdpy_display_test.XXXXXX";
  ASSERT_NE(::mkdtemp(templ), nullptr);
  const std::string root = templ;
  struct stat st;
  EXPECT_EQ(make_directories(root + "/a/b/c"), 0);
  EXPECT_EQ(::stat((root + "/a/b/c").c_str(), &st), 0);
  EXPECT_EQ(make_directories(root + "/a/b/c"), 0);  // already there
  FILE* f = ::fopen((root + "/file").c_str(), "w");
  ASSERT_NE(f, nullptr);
  ::fclose(f);
  EXPECT_EQ(make_directories(root + "/file/sub"), ENOTDIR);
  for (const char* p : {"/file", "/a/b/c", "/a/b", "/a", ""}) ::remove((root + p).c_str());
}

// A process id that existed a moment ago and exists no more.
pid_t gone_process() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

TEST(DisplayTest, LockFile) {
  EXPECT_EQ(lock_file_text(42), "        42\n");
  EXPECT_EQ(lock_file_text(2147483647), "2147483647\n");
  EXPECT_EQ(parse_lock_file_text("        42\n"), 42);
  EXPECT_EQ(parse_lock_file_text("42"), 42);
  for (const char* bad : {"", "\n", "          \n", "0\n", "-1\n", "4x2\n", "99999999999\n", "  42\n\n"})
    EXPECT_EQ(parse_lock_file_text(bad), std::nullopt) << "'" << bad << "'";

  char templ[] = "/tmp/ghostdpy_lock_test.XXXXXX";
  ASSERT_NE(::mkdtemp(templ), nullptr);
  const std::string dir = templ;
  // Gone whichever assertion ends the test.
  const std::unique_ptr<const std::string, void (*)(const std::string*)> remove_dir(&dir, [](const std::string* d) {
    std::error_code ignored;
    std::filesystem::remove_all(*d, ignored);
  });
  const std::string lock = dir + "/.X5-lock";
  const auto write_lock = [&](const std::string& text) {
    std::FILE* f = std::fopen(lock.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fclose(f);
  };
  // Renamed over the lock: both exist at once, so the new one cannot get the
  // inode number of the old one.
  const auto replace_lock = [&](const std::string& text) {
    const std::string other = dir + "/other";
    std::FILE* f = std::fopen(other.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fclose(f);
    ASSERT_EQ(::rename(other.c_str(), lock.c_str()), 0);
  };

  // Made with our process id and mode 0444 whatever the umask; nothing else
  // stays in the directory.
  const mode_t old_umask = ::umask(077);
  FileIdentity made;
  ASSERT_EQ(create_lock_file(lock, &made), 0);
  ::umask(old_umask);
  struct stat st;
  ASSERT_EQ(::stat(lock.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_TRUE(is_same_file(st, made));
  std::FILE* f = std::fopen(lock.c_str(), "r");
  ASSERT_NE(f, nullptr);
  char text[64] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text - 1, f), 11u);
  std::fclose(f);
  EXPECT_EQ(std::string(text), lock_file_text(::getpid()));
  FileIdentity second;
  EXPECT_EQ(create_lock_file(lock, &second), EEXIST);
  EXPECT_EQ(st.st_nlink, 1u);

  // Whoever finds it sees a live holder: this process.
  LockHolder holder = read_lock_holder(lock);
  EXPECT_EQ(holder.kind, LockHolder::live);
  EXPECT_EQ(holder.pid, ::getpid());

  // Another lock in its place (new inode, same text) is not ours to remove;
  // ours with another process's id in it neither.
  replace_lock(lock_file_text(::getpid()));
  EXPECT_EQ(remove_own_lock_file(lock, made), ENOENT);
  ASSERT_EQ(::stat(lock.c_str(), &st), 0);
  const FileIdentity replacement = identity_of(st);
  write_lock(lock_file_text(1));  // same inode, another text
  EXPECT_EQ(remove_own_lock_file(lock, replacement), ENOENT);
  EXPECT_EQ(::access(lock.c_str(), F_OK), 0);
  write_lock(lock_file_text(::getpid()));
  EXPECT_EQ(remove_own_lock_file(lock, replacement), 0);
  EXPECT_NE(::access(lock.c_str(), F_OK), 0);

  // A lock whose process has gone is stale; one without a process id, or a
  // symbolic link, is nobody's to remove.
  const pid_t gone = gone_process();
  write_lock(lock_file_text(gone));
  holder = read_lock_holder(lock);
  EXPECT_EQ(holder.kind, LockHolder::stale);
  EXPECT_EQ(holder.pid, gone);
  write_lock("");
  holder = read_lock_holder(lock);
  EXPECT_EQ(holder.kind, LockHolder::unusable);
  EXPECT_EQ(holder.why, "holds no process id");
  ASSERT_EQ(::unlink(lock.c_str()), 0);
  ASSERT_EQ(::symlink((dir + "/elsewhere").c_str(), lock.c_str()), 0);
  holder = read_lock_holder(lock);
  EXPECT_EQ(holder.kind, LockHolder::unusable);
  EXPECT_EQ(holder.why, "is a symbolic link");
  ASSERT_EQ(::unlink(lock.c_str()), 0);
  EXPECT_EQ(read_lock_holder(lock).kind, LockHolder::gone);
  EXPECT_EQ(::rmdir(dir.c_str()), 0) << "something was left in " << dir;
}

}  // namespace
}  // namespace launcher
