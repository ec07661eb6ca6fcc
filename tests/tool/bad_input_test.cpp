// Bad input through every way into wassetup: each case gives the documented exit status, one
// clear line on stderr (catalog warnings: see below) and leaves the stored settings as they were.
//
// What counts as the answer:
// - a bad option, value, document, module, settings file or preference folder: exit 2 and
//   exactly one line "wassetup: ..." on stderr, nothing on stdout;
// - a bad catalog is not fatal (a missing catalog is no catalog): the command runs, and the
//   catalog gets one warning line naming its file; a catalog with many bad lines gets its first
//   five and one line counting the rest.

#include <sys/stat.h>

#include <chrono>

#include <gtest/gtest.h>

#include "tests/tool/tool_runner.h"

namespace qimtest {
namespace {

using Arguments = std::vector<std::string>;

struct BadCase {
  Arguments arguments;
  const char* reason;
  std::string input = "";
};

// `line` repeated up to `size` bytes.
std::string RepeatedLine(const std::string& line, std::size_t size) {
  std::string text;
  text.reserve(size);
  while (text.size() + line.size() <= size) {
    text += line;
  }
  return text;
}

// A sandbox with stored settings, and files of every kind a bad path may name.
class BadInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sandbox.Run({"set", "smtp=stored.example.com", "databasePassword=pw"}).status, 0);
    stored = ReadFile(sandbox.PreferenceFile());
    ASSERT_NE(stored, "");
    WriteFile(Path("plain.txt"), "just text\n");
    WriteFile(Path("empty"), "");
    WriteFile(Path("junk.so"), "not a module");
    ASSERT_EQ(mkdir(Path("folder").c_str(), 0700), 0);
  }

  std::string Path(const std::string& name) const { return sandbox.Path(name); }

  // The answer to a refused input: exit 2, one "wassetup:" line, no output, nothing stored.
  void ExpectRefused(const ToolResult& result, const std::string& reason) {
    EXPECT_EQ(result.status, 2) << reason << ": " << result.err;
    EXPECT_EQ(CountLines(result.err), 1) << reason << ": " << result.err;
    EXPECT_EQ(result.err.rfind("wassetup: ", 0), 0u) << reason << ": " << result.err;
    EXPECT_EQ(result.out, "") << reason;
    EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), stored) << reason;
  }

  void ExpectAllRefused(const std::vector<BadCase>& cases) {
    for (const BadCase& bad : cases) {
      ExpectRefused(sandbox.Run(bad.arguments, bad.input), bad.reason);
    }
  }

  ToolSandbox sandbox;
  std::string stored;
};

TEST_F(BadInputTest, HostOptionsWithMissingOrMalformedValues) {
  ExpectAllRefused({
      {{"--plugin"}, "--plugin without its value"},
      {{"--plugin", "", "info"}, "--plugin empty"},
      {{"--catalog-dir"}, "--catalog-dir without its value"},
      {{"--catalog-dir", "", "show"}, "--catalog-dir empty"},
      {{"--catalog-dir", Path("nowhere"), "show"}, "--catalog-dir that does not exist"},
      {{"--catalog-dir", Path("plain.txt"), "show"}, "--catalog-dir that is a file"},
      {{"--db-product"}, "--db-product without its value"},
      {{"--was-dir"}, "--was-dir without its value"},
      {{"--nuv-servlet"}, "--nuv-servlet without its value"},
      {{"--separator", "", "show"}, "--separator empty"},
      {{"--separator", "//", "show"}, "--separator of two characters"},
      {{"--show-secrets=yes-please", "get"}, "a flag given a value"},
      {{"--output"}, "--output without its value"},
      {{"--output", "", "get", "--json"}, "--output empty"},
      {{"--output", Path("nowhere/doc.json"), "get", "--json"}, "--output in a missing folder"},
      {{"--output", Path("folder"), "get", "--json"}, "--output naming a folder"},
      {{"--output", Path("doc.json"), "get"}, "--output without --json"},
      {{"--output", Path("doc.json"), "set", "smtp=x"}, "--output on a command with no document"},
      {{"--prefs-dir", Path("other"), "show"}, "--prefs-dir given twice"},
      {{"--no-such-option", "show"}, "unknown option"},
  });
  EXPECT_FALSE(FileExists(Path("doc.json"))) << "nothing is written for a refused command";
}

TEST_F(BadInputTest, CommandsAndTheirArguments) {
  ExpectAllRefused({
      {{}, "no command"},
      {{"frobnicate"}, "unknown command"},
      {{"show", "extra"}, "an argument show does not take"},
      {{"show", "--no-such-flag"}, "unknown flag of a command"},
      {{"set"}, "set with nothing to set"},
      {{"set", "smtp"}, "set KEY with no line on stdin"},
      {{"set", "smtp=x", "qimmq"}, "a bare KEY among assignments"},
      {{"set", "bogus=1"}, "unknown setting"},
      {{"set", "=1"}, "empty key"},
      {{"set", "smtp=a", "smtp=b"}, "a setting given twice"},
      {{"set", "databasePassword=********"}, "the mask is no password"},
      {{"set", "--from"}, "--from without its value"},
      {{"set", "--from", ""}, "--from empty"},
      {{"set", "smtp=x", "--from", Path("plain.txt")}, "assignments and --from together"},
      {{"toggle"}, "toggle without NAME"},
      {{"toggle", "NoSuchButton"}, "unknown check button"},
      {{"toggle", "BrowseQIMRT"}, "a push button is no check button"},
      {{"browse"}, "browse without BUTTON"},
      {{"browse", "BrowseQIMRT"}, "browse without DIR or --cancel"},
      {{"browse", "BrowseQIMRT", "/d", "--cancel"}, "browse with DIR and --cancel"},
      {{"browse", "NoSuchButton", "/d"}, "unknown push button"},
      {{"deploy", "--java"}, "--java without its value"},
      {{"deploy", "--java", ""}, "--java empty"},
      {{"deploy", "--java", Path("nowhere/java")}, "--java that does not exist"},
      {{"deploy", "--java", Path("plain.txt")}, "--java that is not executable"},
      {{"deploy", "--java", Path("folder")}, "--java that is a folder"},
      {{"deploy", "--java", "no-such-java-in-path"}, "--java not found in PATH"},
      {{"deploy", "--script-dir", Path("nowhere")}, "--script-dir that does not exist"},
      {{"deploy", "--script-dir", Path("plain.txt")}, "--script-dir that is a file"},
      {{"deploy", "--start-at"}, "--start-at without its value"},
      {{"deploy", "--start-at", ""}, "--start-at empty"},
      {{"deploy", "--start-at", "no_such_tag"}, "--start-at an unknown tag"},
      {{"deploy", "--log", Path("nowhere/deploy.log")}, "--log in a missing folder"},
      {{"deploy", "--log", Path("folder")}, "--log naming a folder"},
  });
}

TEST_F(BadInputTest, ModulesThatAreNoPlugIn) {
  ExpectAllRefused({
      {{"--plugin", Path("nowhere.so"), "info"}, "no such file"},
      {{"--plugin", Path("folder"), "info"}, "a folder"},
      {{"--plugin", Path("empty"), "info"}, "an empty file"},
      {{"--plugin", Path("junk.so"), "info"}, "a file that is no shared object"},
      {{"--plugin", ZAFHOST_PATH, "info"}, "a shared object without the factory"},
      {{"--plugin", "QimPlugIn.so", "info"}, "a bare name is looked for in the working folder"},
  });
}

TEST_F(BadInputTest, SettingsDocumentsThatAreNotWhatGetWrites) {
  const std::vector<std::pair<std::string, const char*>> documents = {
      {"", "empty"},
      {std::string("\x7F"
                   "ELF\x02\x01\x00\x00\xFF\xFE",
                   10),
       "binary"},
      {"{ this is not json", "not JSON"},
      {R"({"format_version": "1.0", "settings": [{"key": "smtp", "val)", "cut short"},
      {R"([1, 2, 3])", "a list, not an object"},
      {R"({"settings": []})", "no format_version"},
      {R"({"format_version": 1, "settings": []})", "format_version not a text"},
      {R"({"format_version": "2.0", "settings": []})", "a later format"},
      {R"({"format_version": "1.0"})", "no settings"},
      {R"({"format_version": "1.0", "settings": {"smtp": "x"}})", "settings not a list"},
      {R"({"format_version": "1.0", "settings": ["smtp=x"]})", "an entry not an object"},
      {R"({"format_version": "1.0", "settings": [{"key": "smtp"}]})", "an entry without value"},
      {R"({"format_version": "1.0", "settings": [{"key": "smtp", "value": 5}]})",
       "a value not a text"},
      {R"({"format_version": "1.0", "settings": [{"key": "bogus", "value": "1"}]})", "unknown key"},
      {R"({"format_version": "1.0", "settings": [{"key": "smtp", "value": "a"},
                                                 {"key": "smtp", "value": "b"}]})",
       "a key given twice"},
      {R"({"format_version": "1.0", "settings": [{"key": "smtp", "value": "a\u0000b"}]})",
       "a value holding NUL"},
      {R"({"format_version": "1.0", "settings": [{"key": "mqpass", "value": "********"}]})",
       "a masked password"},
      {"{\"format_version\": \"1.0\", \"settings\": [], \"pad\": \"" + std::string(3 << 20, 'x') +
           "\"}",
       "larger than any settings document"},
  };
  std::vector<BadCase> cases;
  int number = 0;
  for (const auto& [content, reason] : documents) {
    const std::string file = Path("document" + std::to_string(++number) + ".json");
    WriteFile(file, content);
    cases.push_back({{"set", "--from", file}, reason});
  }
  cases.push_back({{"set", "--from", Path("missing.json")}, "a missing document"});
  cases.push_back({{"set", "--from", Path("folder")}, "a folder in place of the document"});
  ExpectAllRefused(cases);
}

// ---- Files the host reads ----

// Every command, so that none of them reads past a file it cannot use.
const std::vector<Arguments> kEveryCommand = {
    {"info"},
    {"show"},
    {"show", "--json"},
    {"get"},
    {"set", "smtp=x"},
    {"toggle", "EnableCreateDatabase"},
    {"browse", "BrowseQIMRT", "--cancel"},
    {"validate"},
    {"plan", "--json"},
    {"deploy", "--java", "/bin/true"},
};

struct BadFile {
  std::string content;
  const char* reason;
};

// Settings files that read but do not parse: the host warns, the form starts from the
// installation defaults, and the next save keeps the damaged file aside.
std::vector<BadFile> UnparsableContents(const std::string& good) {
  return {
      {"", "empty"},
      {std::string("\x7F"
                   "ELF\x02\x01\x00\x00\n\xFF\xFE\x80\n",
                   13),
       "binary"},
      {good.substr(0, good.size() / 2), "cut short in the middle of a line"},
      {"zaf-preferences 7\n", "a later format version"},
      {good + "text \"Extra\" 1 \"unterminated\n", "a bad line after good ones"},
  };
}

TEST_F(BadInputTest, UnparsableSettingsGiveTheDefaultsAndAreKeptAsideOnTheNextSave) {
  for (const BadFile& bad : UnparsableContents(stored)) {
    std::remove((sandbox.PreferenceFile() + ".corrupt").c_str());
    WriteFile(sandbox.PreferenceFile(), bad.content);

    const ToolResult shown = sandbox.Run({"show"});
    EXPECT_EQ(shown.status, 0) << bad.reason << ": " << shown.err;
    EXPECT_EQ(CountLines(shown.err), 1) << bad.reason << ": " << shown.err;
    EXPECT_NE(shown.err.find(sandbox.PreferenceFile()), std::string::npos) << bad.reason;
    EXPECT_NE(shown.out.find("SMTP mail server:\n"), std::string::npos)
        << bad.reason << ": the defaults, not the stored settings";
    EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), bad.content) << bad.reason;

    const ToolResult saved = sandbox.Run({"set", "smtp=new.example.com"});
    EXPECT_EQ(saved.status, 0) << bad.reason << ": " << saved.err;
    EXPECT_EQ(ReadFile(sandbox.PreferenceFile() + ".corrupt"), bad.content) << bad.reason;
    EXPECT_NE(ReadFile(sandbox.PreferenceFile()).find("\"new.example.com\""), std::string::npos)
        << bad.reason;
  }
}

TEST_F(BadInputTest, ASettingsFileTooLargeToReadStopsEveryCommand) {
  stored += "text \"Pad\" 1 \"" + std::string(20 << 20, 'A') + "\"\n";
  WriteFile(sandbox.PreferenceFile(), stored);
  for (const Arguments& command : kEveryCommand) {
    const auto started = std::chrono::steady_clock::now();
    const ToolResult result = sandbox.Run(command);
    ExpectRefused(result, command[0]);
    EXPECT_NE(result.err.find(sandbox.PreferenceFile()), std::string::npos) << command[0];
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << command[0];
  }
}

TEST_F(BadInputTest, AFolderInPlaceOfTheSettingsFileStopsEveryCommand) {
  ASSERT_EQ(std::remove(sandbox.PreferenceFile().c_str()), 0);
  ASSERT_EQ(mkdir(sandbox.PreferenceFile().c_str(), 0700), 0);
  for (const Arguments& command : kEveryCommand) {
    const ToolResult result = sandbox.Run(command);
    EXPECT_EQ(result.status, 2) << command[0];
    EXPECT_EQ(CountLines(result.err), 1) << command[0] << ": " << result.err;
    EXPECT_NE(result.err.find("it is a folder"), std::string::npos) << result.err;
    struct stat info {};
    EXPECT_TRUE(stat(sandbox.PreferenceFile().c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        << command[0];
  }
}

TEST_F(BadInputTest, PreferenceFoldersThatAreNoFolders) {
  const std::string file = Path("plain.txt");
  for (const Arguments& command : kEveryCommand) {
    for (const auto& [folder, reason] :
         {std::pair<std::string, const char*>{file, "a file"}, {file + "/prefs", "below a file"}}) {
      Arguments arguments = {"--prefs-dir", folder};
      arguments.insert(arguments.end(), command.begin(), command.end());
      ExpectRefused(sandbox.RunWithoutPrefs(arguments), std::string(reason) + ", " + command[0]);
    }
  }
  EXPECT_EQ(ReadFile(file), "just text\n");
}

TEST_F(BadInputTest, APreferenceFolderThatCannotBeMadeRefusesTheStoreInOneLine) {
  // Not even root can make a folder below /proc.
  for (const Arguments& command : {Arguments{"set", "smtp=x"}, Arguments{"get"},
                                   Arguments{"toggle", "EnableCreateDatabase"}}) {
    Arguments arguments = {"--prefs-dir", "/proc/no-such-process/prefs"};
    arguments.insert(arguments.end(), command.begin(), command.end());
    const ToolResult result = sandbox.RunWithoutPrefs(arguments);
    EXPECT_EQ(result.status, 2) << command[0];
    EXPECT_EQ(CountLines(result.err), 1) << command[0] << ": " << result.err;
    EXPECT_NE(result.err.find("could not be stored"), std::string::npos) << result.err;
  }
}

// ---- Catalogs: warnings, and the command goes on ----

class BadCatalogTest : public BadInputTest {
 protected:
  void SetUp() override {
    BadInputTest::SetUp();
    ASSERT_EQ(mkdir(Path("catalogs").c_str(), 0700), 0);
    for (const char* name : {"QimSetupPlugIn.cat", "QimDefaults.cat"}) {
      WriteFile(Path("catalogs/") + name,
                ReadFile(std::string(QIM_SOURCE_CATALOG_DIR) + "/" + name));
    }
  }

  // Runs show and plan with `content` as the catalog `name`; each runs, warns in
  // `warningLines` lines naming the catalog, and stores nothing.
  void ExpectWarned(const std::string& name, const std::string& content, const char* reason,
                    int warningLines = 1) {
    const std::string file = Path("catalogs/") + name;
    const std::string good = ReadFile(file);
    WriteFile(file, content);
    for (const Arguments& command : {Arguments{"show"}, Arguments{"plan", "--json"}}) {
      Arguments arguments = {"--catalog-dir", Path("catalogs")};
      arguments.insert(arguments.end(), command.begin(), command.end());
      const auto started = std::chrono::steady_clock::now();
      const ToolResult result = sandbox.Run(arguments);
      const std::string why = name + " " + reason + ", " + command[0];
      EXPECT_EQ(result.status, 0) << why << ": " << result.err;
      EXPECT_EQ(CountLines(result.err), warningLines) << why << ": " << result.err;
      EXPECT_NE(result.err.find(file), std::string::npos) << why << ": " << result.err;
      EXPECT_NE(result.out, "") << why;
      EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), stored) << why;
      EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << why;
    }
    WriteFile(file, good);
  }
};

TEST_F(BadCatalogTest, EachBadCatalogGivesOneWarningAndTheCommandRuns) {
  for (const char* name : {"QimSetupPlugIn.cat", "QimDefaults.cat"}) {
    const std::string good = ReadFile(Path("catalogs/") + name);
    ExpectWarned(name, "", "empty");
    ExpectWarned(name, "# only a comment\n", "without entries");
    ExpectWarned(name,
                 std::string("\x7F"
                             "ELF\x02\x01\x00\x00\n",
                             8),
                 "binary");
    ExpectWarned(name, std::string(1000, '\xFF') + "\n", "invalid UTF-8");
    ExpectWarned(name, good + "Cut.Short.Key", "cut short before '='");
    ExpectWarned(name, RepeatedLine("no equals sign here\n", 20 << 20), "twenty megabytes");
  }
}

TEST_F(BadCatalogTest, ManyBadLinesGiveFiveWarningsAndACount) {
  ExpectWarned("QimSetupPlugIn.cat", RepeatedLine("no equals sign here\n", 500 * 20),
               "500 bad lines", 6);
}

TEST_F(BadCatalogTest, AFolderInPlaceOfACatalogGivesOneWarning) {
  const std::string file = Path("catalogs/QimDefaults.cat");
  ASSERT_EQ(std::remove(file.c_str()), 0);
  ASSERT_EQ(mkdir(file.c_str(), 0700), 0);
  const ToolResult result = sandbox.Run({"--catalog-dir", Path("catalogs"), "show"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(CountLines(result.err), 1) << result.err;
  EXPECT_NE(result.err.find("not a regular file"), std::string::npos) << result.err;
  EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), stored);
}

}  // namespace
}  // namespace qimtest
