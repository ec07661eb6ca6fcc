// Settings files that are damaged or unusable: the tool warns or stops, and the file is never
// lost.

#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>

#include "core/settings_merge.h"
#include "tool_runner.h"

namespace qimtest {
namespace {

// A damaged file gives the form the defaults with a warning that quotes nothing of it, and
// the next save keeps it aside before it stores anything. How the host reads and keeps aside
// a file it cannot parse, owner-only, is tried in tests/host; the settings' own layout is the
// tool's. Lists whose count
// disagrees with them once gave the form blank or missing settings, which the next save then
// stored over the real ones; the largest count ended wassetup with bad_alloc. The tool runs
// with its memory bounded, so that reading a huge count unbounded fails the test instead of
// exhausting the machine (under AddressSanitizer, through its own RSS limit).
TEST(DamagedStoreTest, ADamagedFileGivesTheDefaultsWithOneWarningAndIsKeptAsideOnSave) {
  const std::string keys = "text \"Keys\" 2 \"databaseName\" \"databasePort\"\n";
  const std::string values = "text \"Values\" 2 \"FROMFILE\" \"50123\"\n";
  const struct {
    std::string content;
    const char* reason;
  } cases[] = {
      {"zaf-preferences 1\nSecret-Canary \"x\" 1 \"y\"\n",
       "unparsable, its words may be a password"},
      {"zaf-preferences 1\n" + keys + values + "int \"count\" 1 2147483647\n", "the largest count"},
      {"zaf-preferences 1\n" + keys + values + "int \"count\" 1 1\n", "a count below the lists"},
      {"zaf-preferences 1\n" + keys + "text \"Values\" 1 \"FROMFILE\"\nint \"count\" 1 2\n",
       "fewer values than keys"},
      {"zaf-preferences 1\n" + keys + values, "no count"},
      {"zaf-preferences 1\n" + keys + "int \"count\" 1 2\n", "no values"},
      {"zaf-preferences 1\ntext \"Keys\" 2 \"databaseName\" \"databaseName\"\n" + values +
           "int \"count\" 1 2\n",
       "a key listed twice"},
  };
  for (const auto& damaged : cases) {
    SCOPED_TRACE(damaged.reason);
    ToolSandbox sandbox;
    const std::string file = sandbox.PreferenceFile();
    ASSERT_EQ(mkdir(sandbox.Path("prefs").c_str(), 0700), 0);
    WriteFile(file, damaged.content);
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
    ASSERT_EQ(shown.status, 0) << shown.err;
    // The mode 0644 is told too: one line each.
    EXPECT_EQ(CountLines(shown.err), 2) << shown.err;
    EXPECT_THAT(shown.err, AllOf(HasSubstr(file + ": not a valid preference file ("),
                                 Not(HasSubstr("Canary"))));
    EXPECT_THAT(shown.out, HasSubstr("Database name: QIMDB\n"));
    EXPECT_EQ(ReadFile(file), damaged.content) << "looking changed the file";

    ASSERT_EQ(sandbox.Run({"set", "smtp=new.example.com"}).status, 0);
    EXPECT_EQ(ReadFile(file + ".corrupt"), damaged.content);
    EXPECT_THAT(sandbox.Run({"get"}).out,
                AllOf(HasSubstr("\nsmtp=new.example.com\n"), HasSubstr("\ndatabaseName=QIMDB\n")));
    EXPECT_THAT(ReadFile(file), HasSubstr("int \"count\" 1 33\n"));
  }
  // A list longer than the form's is searched for a repeated key another way.
  std::vector<std::string> many;
  for (int key = 0; key < 70; ++key)
    many.push_back("k" + std::to_string(key));
  zaf::PreferenceMap stored = {{"count", std::vector<int>{70}}, {"Keys", many}, {"Values", many}};
  EXPECT_EQ(wassetup::SettingsLayoutProblem(stored), "");
  std::get<std::vector<std::string>>(stored["Keys"]).back() = "k1";
  EXPECT_EQ(wassetup::SettingsLayoutProblem(stored), "the setting 'k1' is listed twice");
}

// A settings file too large or a preference folder others may write: every command stops with
// status 2 and one line that names it, and what is there stays. The host's other refusals (a
// folder in the file's place, links) are tried in tests/host.
TEST(DamagedStoreTest, AnUnusableSettingsFileOrFolderStopsTheToolAndStays) {
  const struct {
    const char* reason;
    void (*spoil)(const ToolSandbox& sandbox);
    const char* named;  // the path the line names, in the sandbox
    const char* says;
  } cases[] = {
      {"too large",
       [](const ToolSandbox& sandbox) {
         WriteFile(sandbox.PreferenceFile(), ReadFile(sandbox.PreferenceFile()) +
                                                 "text \"Pad\" 1 \"" + std::string(20 << 20, 'A') +
                                                 "\"\n");
       },
       "prefs/QIMSetup.prefs", ""},
      {"a folder anyone may write",
       [](const ToolSandbox& sandbox) { chmod(sandbox.Path("prefs").c_str(), 0777); }, "prefs",
       "group or others may write to the preference folder"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.reason);
    ToolSandbox sandbox;
    const std::string file = sandbox.PreferenceFile();
    ASSERT_EQ(sandbox.Run({"set", "smtp=stored.example.com"}).status, 0);
    row.spoil(sandbox);
    const int mode = ModeOf(file);
    const std::string content = ReadFile(file);
    for (const Args& command : {Args{"get"}, Args{"set", "smtp=new.example.com"}}) {
      const ToolResult result = sandbox.Run(command);
      EXPECT_EQ(result.status, 2) << command[0];
      EXPECT_EQ(CountLines(result.err), 1) << command[0] << ": " << result.err;
      EXPECT_THAT(result.err, AllOf(HasSubstr(sandbox.Path(row.named)), HasSubstr(row.says)));
    }
    EXPECT_EQ(ModeOf(file), mode);
    EXPECT_TRUE(ReadFile(file) == content) << "the file was replaced";
  }
}

}  // namespace
}  // namespace qimtest
