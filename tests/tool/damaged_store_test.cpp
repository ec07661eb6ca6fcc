// wassetup on a settings file whose stored count is damaged: the file is well formed, so it
// loads, and every command must still run on the settings it holds.

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tool/tool_runner.h"

#if defined(__SANITIZE_ADDRESS__)
#define QIM_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QIM_TEST_UNDER_ASAN 1
#endif
#endif

namespace qimtest {
namespace {

// The settings file of an earlier run, whose count was edited far beyond its two settings.
void WriteDamagedStore(const ToolSandbox& sandbox, const std::string& count) {
  ASSERT_EQ(mkdir(sandbox.prefs().c_str(), 0700), 0);
  WriteFile(sandbox.PreferenceFile(),
            "zaf-preferences 1\n"
            "text \"Keys\" 2 \"databaseName\" \"databasePort\"\n"
            "text \"Values\" 2 \"FROMFILE\" \"50123\"\n"
            "int \"count\" 1 " +
                count + "\n");
  ASSERT_EQ(chmod(sandbox.PreferenceFile().c_str(), 0600), 0);
}

// Runs the tool with its memory bounded, so that should the damaged count be read unbounded
// again, the tool fails (bad_alloc, or AddressSanitizer's RSS limit) instead of exhausting the
// machine's memory. AddressSanitizer reserves terabytes of address space, so under it the
// sanitizer's own limit replaces the address-space limit.
ToolResult RunWithBoundedMemory(const ToolSandbox& sandbox,
                                const std::vector<std::string>& arguments) {
#ifdef QIM_TEST_UNDER_ASAN
  return sandbox.Run(arguments, "", {{"ASAN_OPTIONS", "hard_rss_limit_mb=1024"}});
#else
  rlimit saved{};
  getrlimit(RLIMIT_AS, &saved);
  rlimit bounded = saved;
  bounded.rlim_cur = std::min<rlim_t>(saved.rlim_cur, rlim_t{2} << 30);
  setrlimit(RLIMIT_AS, &bounded);  // inherited by the tool's process
  ToolResult result = sandbox.Run(arguments);
  setrlimit(RLIMIT_AS, &saved);
  return result;
#endif
}

TEST(DamagedStoreTest, AHugeStoredCountStillGivesTheStoredSettings) {
  // The largest count once ended wassetup with bad_alloc before it printed anything.
  for (const char* count : {"2147483647", "1025"}) {
    ToolSandbox sandbox;
    WriteDamagedStore(sandbox, count);

    const ToolResult result = RunWithBoundedMemory(sandbox, {"get"});

    ASSERT_EQ(result.status, 0) << "count " << count << ": " << result.err;
    EXPECT_NE(result.out.find("databaseName=FROMFILE\n"), std::string::npos) << count;
    EXPECT_NE(result.out.find("databasePort=50123\n"), std::string::npos) << count;
    // 'get' stores the form again, which writes the true count.
    EXPECT_NE(ReadFile(sandbox.PreferenceFile()).find("int \"count\" 1 33\n"), std::string::npos)
        << count;
  }
}

}  // namespace
}  // namespace qimtest
