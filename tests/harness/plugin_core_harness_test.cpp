// The trace lines of making, copying and destroying the plug-in in test-harness mode.

#include <gtest/gtest.h>

#include "tests/support/testable_plugin.h"

namespace qimtest {
namespace {

TEST(HarnessPlugInObjectTest, ConstructionAndDestructionAreTracedButCopyingIsNot) {
  ::testing::internal::CaptureStdout();
  {
    QimSetupPlugIn original;
    QimSetupPlugIn copy(original);
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Inside Constructor \nInside destructor.... \nInside destructor.... \n");
}

TEST(HarnessPlugInObjectTest, CopiesKeepTestHarnessMode) {
  TestablePlugIn original;
  TestablePlugIn copy(original);
  EXPECT_EQ(original.HarnessFlag, "true");
  EXPECT_EQ(copy.HarnessFlag, "true");
}

}  // namespace
}  // namespace qimtest
