#include "usage.h"

#include <gtest/gtest.h>

#include "fatal.h"

namespace launcher {
namespace {

TEST(UsageTest, BaseName) {
  EXPECT_EQ(base_name("ghostdpy"), "ghostdpy");
  EXPECT_EQ(base_name("./bin/ghostdpy"), "ghostdpy");
  EXPECT_EQ(base_name("/usr/bin/gd"), "gd");
  EXPECT_EQ(base_name("dir/"), "");
  EXPECT_EQ(base_name(""), "");
}

TEST(UsageTest, UssageFailsWithTheUsageText) {
  set_program_name("/opt/x/ghostdpy");
  testing::internal::CaptureStderr();
  try {
    ussage("Invalid display number 'x'");
    ADD_FAILURE() << "ussage returned";
  } catch (const FatalFailure& failure) {
    EXPECT_EQ(failure.message,
              "Ussage:\n"
              "    ghostdpy [BIND_DISPLAY] [RUN_PROGRAM [ARGS...]]\n"
              "    BIND_DISPLAY - [DISPLAY | INTERFACE_PORT] :\n"
              "        DISPLAY - :DISPLAY_NUMBER (default with autodedection of available display)\n"
              "        INTERFACE_PORT - BIND_INTERFACE:PORT (* or 0.0.0.0 for all interfaces)\n"
              "    RUN_PROGRAM [ARGS...] - optional - execute specified program with args\n"
              "    ");
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Invalid display number 'x'\n");
}

}  // namespace
}  // namespace launcher
