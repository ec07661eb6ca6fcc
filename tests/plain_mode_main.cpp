// The entry of the test programs that run the plug-in outside test-harness mode. The mode is
// read once per process, at the first construction of a plug-in, so the program settles it
// before any test runs, whatever the environment it was started from.

#include <gtest/gtest.h>

#include <optional>

#include "test_support.h"

int main(int argc, char** argv) {
  const qimtest::ScopedEnv plainMode("YTQ_RT_OUT", std::nullopt);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
