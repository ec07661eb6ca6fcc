// Settings files that are damaged or unusable: the tool warns or stops, and the file is never
// lost.

#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "tool_runner.h"

namespace qimtest {
namespace {

TEST(DamagedStoreTest, UnparsableSettingsGiveTheDefaultsWithOneWarningAndAreKeptAsideOnSave) {
  ToolSandbox sandbox;
  const std::string file = sandbox.PreferenceFile();
  ASSERT_EQ(sandbox.Run({"set", "smtp=stored.example.com"}).status, 0);
  const std::string good = ReadFile(file);
  const struct {
    std::string content;
    const char* reason;
  } cases[] = {
      {"", "empty"},
      {std::string("\177ELF\2\1\0\0\n\377\376\200\n", 13), "binary"},
      {good.substr(0, good.size() / 2), "cut short in the middle of a line"},
  };
  for (const auto& bad : cases) {
    std::remove((file + ".corrupt").c_str());
    WriteFile(file, bad.content);
    const ToolResult shown = sandbox.Run({"show"});
    EXPECT_EQ(shown.status, 0) << bad.reason << ": " << shown.err;
    EXPECT_EQ(CountLines(shown.err), 1) << bad.reason << ": " << shown.err;
    EXPECT_NE(shown.err.find(file), npos) << bad.reason << ": " << shown.err;
    EXPECT_NE(shown.out.find("SMTP mail server:\n"), npos) << bad.reason << ": not the defaults";
    ASSERT_EQ(sandbox.Run({"set", "smtp=new.example.com"}).status, 0) << bad.reason;
    EXPECT_EQ(ReadFile(file + ".corrupt"), bad.content) << bad.reason;
    EXPECT_NE(ReadFile(file).find("\"new.example.com\""), npos) << bad.reason;
  }
}

TEST(DamagedStoreTest, ASettingsFileTooLargeOrAFolderInItsPlaceStopsTheToolAndStays) {
  for (const bool folder : {false, true}) {
    const char* reason = folder ? "a folder" : "too large";
    ToolSandbox sandbox;
    const std::string file = sandbox.PreferenceFile();
    ASSERT_EQ(sandbox.Run({"set", "smtp=stored.example.com"}).status, 0);
    const std::string content =
        ReadFile(file) + "text \"Pad\" 1 \"" + std::string(20 << 20, 'A') + "\"\n";
    if (folder) {
      ASSERT_EQ(std::remove(file.c_str()), 0);
      ASSERT_EQ(mkdir(file.c_str(), 0700), 0);
    } else {
      WriteFile(file, content);
    }
    for (const Args& command : {Args{"get"}, Args{"set", "smtp=new.example.com"}}) {
      const ToolResult result = sandbox.Run(command);
      EXPECT_EQ(result.status, 2) << reason << ", " << command[0];
      EXPECT_EQ(CountLines(result.err), 1) << reason << ", " << command[0] << ": " << result.err;
      EXPECT_NE(result.err.find(file), npos) << reason << ", " << command[0] << ": " << result.err;
    }
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0) << reason;
    EXPECT_EQ(S_ISDIR(info.st_mode), folder) << reason;
    EXPECT_TRUE(folder || ReadFile(file) == content) << reason << ": the file was replaced";
  }
}

// Lists whose count disagrees with them once gave the form blank or missing settings, which
// the next save then stored over the real ones; the largest count ended wassetup with
// bad_alloc. Such a file is damaged: the form shows the defaults with one warning, and the
// next save keeps the file aside (owner-only) before it stores anything. The tool runs with its
// memory bounded, so that reading a huge count unbounded fails the test instead of exhausting
// the machine (under AddressSanitizer, through its own RSS limit).
TEST(DamagedStoreTest, ListsWhoseCountDisagreesAreADamagedFileNeverBlankSettings) {
  const std::string keys = "text \"Keys\" 2 \"databaseName\" \"databasePort\"\n";
  const std::string values = "text \"Values\" 2 \"FROMFILE\" \"50123\"\n";
  const struct {
    std::string lines;  // after the header, in the order of the names
    const char* reason;
  } cases[] = {
      {keys + values + "int \"count\" 1 2147483647\n", "the largest count"},
      {keys + values + "int \"count\" 1 1\n", "a count below the lists"},
      {keys + "text \"Values\" 1 \"FROMFILE\"\n" + "int \"count\" 1 2\n", "fewer values than keys"},
      {keys + values, "no count"},
      {keys + "int \"count\" 1 2\n", "no values"},
  };
  for (const auto& damaged : cases) {
    ToolSandbox sandbox;
    const std::string file = sandbox.PreferenceFile();
    ASSERT_EQ(mkdir(sandbox.Path("prefs").c_str(), 0700), 0);
    const std::string content = "zaf-preferences 1\n" + damaged.lines;
    WriteFile(file, content);
    ASSERT_EQ(chmod(file.c_str(), 0644), 0);
    rlimit saved{};
    getrlimit(RLIMIT_AS, &saved);
    const rlimit bounded{std::min<rlim_t>(saved.rlim_cur, rlim_t{2} << 30), saved.rlim_max};
    if (dlsym(RTLD_DEFAULT, "__asan_init") == nullptr) {
      setrlimit(RLIMIT_AS, &bounded);  // inherited by the tool's process
    }
    const ToolResult shown =
        sandbox.Run({"show"}, "", {{"ASAN_OPTIONS", "hard_rss_limit_mb=1024"}});
    setrlimit(RLIMIT_AS, &saved);
    ASSERT_EQ(shown.status, 0) << damaged.reason << ": " << shown.err;
    EXPECT_NE(shown.err.find(file + ": not a valid preference file (the settings"), npos)
        << damaged.reason << ": " << shown.err;
    EXPECT_NE(shown.out.find("Database name: QIMDB\n"), npos)
        << damaged.reason << ": " << shown.out;
    EXPECT_EQ(ReadFile(file), content) << damaged.reason << ": looking changed the file";

    ASSERT_EQ(sandbox.Run({"set", "smtp=new.example.com"}).status, 0) << damaged.reason;
    EXPECT_EQ(ReadFile(file + ".corrupt"), content) << damaged.reason;
    struct stat info {};
    ASSERT_EQ(stat((file + ".corrupt").c_str(), &info), 0) << damaged.reason;
    EXPECT_EQ(info.st_mode & 07777, 0600U) << damaged.reason;
    const std::string got = sandbox.Run({"get"}).out;
    EXPECT_NE(got.find("\nsmtp=new.example.com\n"), npos) << damaged.reason << ": " << got;
    EXPECT_NE(got.find("\ndatabaseName=QIMDB\n"), npos) << damaged.reason << ": " << got;
    EXPECT_NE(ReadFile(file).find("int \"count\" 1 33\n"), npos) << damaged.reason;
  }
}

}  // namespace
}  // namespace qimtest
