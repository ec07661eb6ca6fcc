// The entry of the test program that runs the plug-in in test-harness mode. The mode is read
// once per process, at the first construction of a plug-in, so the program settles it before
// any test runs, whatever the environment it was started from.

#include <gtest/gtest.h>

#include "test_support.h"

int main(int argc, char** argv) {
  const qimtest::ScopedEnv harnessMode("YTQ_RT_OUT", "harness");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
