// The entry of the test programs that load the plug-in. The mode is read once per process, at
// the first construction of a plug-in, so the program settles it before any test runs, whatever
// the environment it was started from: harness_tests (built with QIM_HARNESS_MODE) run in
// test-harness mode, the others outside it.

#include <gtest/gtest.h>

#include <optional>

#include "test_support.h"

int main(int argc, char** argv) {
#ifdef QIM_HARNESS_MODE
  const qimtest::ScopedEnv mode("YTQ_RT_OUT", "harness");
#else
  const qimtest::ScopedEnv mode("YTQ_RT_OUT", std::nullopt);
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
