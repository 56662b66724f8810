#include "display.h"

#include <gtest/gtest.h>

#include <set>

#include "fatal.h"

namespace launcher {
namespace {

TEST(DisplayTest, SocketPath) {
  EXPECT_EQ(get_server_path_for_unix_display(0), "/tmp/.X11-unix/X0");
  EXPECT_EQ(get_server_path_for_unix_display(99), "/tmp/.X11-unix/X99");
  EXPECT_EQ(get_server_path_for_unix_display(18446744073709551615u),
            "/tmp/.X11-unix/X18446744073709551615");
}

TEST(DisplayTest, ChooseDisplay) {
  std::vector<std::string> asked;
  std::set<std::string> taken;
  const auto exists = [&](const std::string& path) {
    asked.push_back(path);
    return taken.count(path) > 0;
  };
  EXPECT_EQ(choose_display(exists), 99u);
  EXPECT_EQ(asked, std::vector<std::string>{"/tmp/.X11-unix/X99"});

  // The highest free number wins even when lower ones are free too.
  taken = {"/tmp/.X11-unix/X99", "/tmp/.X11-unix/X98", "/tmp/.X11-unix/X50"};
  EXPECT_EQ(choose_display(exists), 97u);

  for (int n = 2; n <= 99; ++n) taken.insert(get_server_path_for_unix_display(n));
  asked.clear();
  EXPECT_EQ(choose_display(exists), 1u);
  EXPECT_EQ(asked.size(), 99u);

  taken.insert("/tmp/.X11-unix/X1");
  asked.clear();
  try {
    choose_display(exists);
    ADD_FAILURE() << "no failure with every display taken";
  } catch (const FatalFailure& failure) {
    EXPECT_EQ(failure.message, "no display in range (1..99) not available: ()");
  }
  EXPECT_EQ(asked.size(), 99u);  // 0 is never a candidate
  EXPECT_EQ(asked.back(), "/tmp/.X11-unix/X1");
}

TEST(DisplayTest, MakeDirectories) {
  char templ[] = "/tmp/ghostdpy_display_test.XXXXXX";
  ASSERT_NE(::mkdtemp(templ), nullptr);
  const std::string root = templ;
  EXPECT_EQ(make_directories(root + "/a/b/c"), 0);
  EXPECT_TRUE(path_exists(root + "/a/b/c"));
  EXPECT_EQ(make_directories(root + "/a/b/c"), 0);  // already there
  FILE* f = ::fopen((root + "/file").c_str(), "w");
  ASSERT_NE(f, nullptr);
  ::fclose(f);
  EXPECT_EQ(make_directories(root + "/file/sub"), ENOTDIR);
  EXPECT_FALSE(path_exists(root + "/dangling"));
  ASSERT_EQ(::symlink((root + "/nowhere").c_str(), (root + "/dangling").c_str()), 0);
  EXPECT_FALSE(path_exists(root + "/dangling"));  // stat follows the link
  for (const char* p : {"/dangling", "/file", "/a/b/c", "/a/b", "/a", ""})
    ::remove((root + p).c_str());
}

}  // namespace
}  // namespace launcher
