#include "fatal.h"

#include <gtest/gtest.h>

#include "console.h"

namespace launcher {
namespace {

// The hook stays installed for the rest of this test process; no other test
// of this binary reports a fatal failure.
TEST(FatalTest, HookRunsFirstThenTheReport) {
  static int calls = 0;  // outlives the test, as the hook does
  testing::internal::CaptureStderr();
  EXPECT_TRUE(run_guarded("main", [] {}));
  EXPECT_FALSE(run_guarded("t", [] { fail("nothing hooked yet"); }));
  install_failure_hook([] {
    ++calls;
    x11::console_err("hook\n");
  });
  EXPECT_TRUE(run_guarded("main", [] {}));
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(run_guarded("accept", [] { fail("failed to spawn thread: x"); }));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ghostdpy[t]: fatal: nothing hooked yet\n"
            "hook\n"
            "ghostdpy[accept]: fatal: failed to spawn thread: x\n");
}

}  // namespace
}  // namespace launcher
