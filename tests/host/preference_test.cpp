// The preference file's text, as the reader and writer see it and as it lies on disk, and the
// merge a repository's save offers. The file as it lies on disk is pinned by a golden file
// written by hand from the documented format: a renamed kind, header or escape would still
// round-trip through the reader and writer that share it, but no longer matches the file an
// earlier run left behind. What rests on POSIX (modes, links, locks, processes) is in
// posix_test.cpp.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "host/zaf_host.h"
#include "host/zaf_preferences.h"
#include "preference_store.h"
#include "test_support.h"

namespace {

using ::testing::HasSubstr;
using namespace std::string_literals;
using Texts = std::vector<std::string>;

TEST(PreferenceTextTest, AwkwardTextsRoundTripExactlyAsNamesAndValues) {
  for (const auto& [text, why] : std::vector<std::pair<std::string, const char*>>{
           {"", "empty"},
           {"  blanks at both ends  ", "blanks kept"},
           {"two\nlines\r\nand\ttab", "control characters"},
           {"say \"hi\" \\\"", "quotes and backslashes"},
           {"C:\\dir\\", "a backslash at the end"},
           {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "non-ASCII"},
           {"nul\0inside\x01\x7F"s, "NUL and other control bytes"},
           {"\xFF\xFE bad \xC3", "bytes that are not UTF-8"},
           {"\\u0041 \\x80 \" \"", "text that looks like escapes or separators"},
       }) {
    const zaf::PreferenceMap preferences{{text, Texts{text, "", text}},
                                         {"n", std::vector<int>{INT_MIN, 0, INT_MAX}}};
    std::string error;
    EXPECT_EQ(zaf::ParsePreferences(zaf::SerializePreferences(preferences), error), preferences)
        << why << ": " << error;
  }
}

TEST(PreferenceTextTest, StrictReadingRefusesTheWholeFile) {
  const std::string header = "zaf-preferences 1\n";
  using Case = std::tuple<std::string, const char*, const char*>;
  for (const auto& [text, expectedInError, why] : std::vector<Case>{
           {"", "empty", "no header at all"},
           {"zaf-preferences 2\n", "version", "unknown version"},
           {header + "int \"a\" 1 5", "last line", "cut short: no final newline"},
           {header + "int \"a\" 2 5\n", "line 2", "fewer values than counted"},
           {header + "int \"a\" 1 05\n", "number", "leading zero"},
           {header + "int \"a\" 1 2147483648\n", "range", "above int"},
           {header + "text \"a\" 1 \"x\\\"\n", "unterminated", "escaped last quote"},
           {header + "text \"a\" 1 \"\\q\"\n", "escape", "unknown escape"},
           {header + "text \"a\" 1 \"\xC3\"\n", "UTF-8", "invalid UTF-8"},
           {header + "int \"a\" 1 5\ntext \"b\" 1 \"\xC3\"\n", "line 3",
            "invalid UTF-8 names its line"},
           {header + "int \"a\" 1 5\nint \"a\" 1 6\n", "line 3", "repeated name"},
           {header + "text \"a\" 2147483647\n", "line 2", "huge count without values"},
       }) {
    std::string error;
    EXPECT_FALSE(zaf::ParsePreferences(text, error).has_value()) << why;
    EXPECT_THAT(error, HasSubstr(expectedInError)) << why;
  }
}

// A file edited by hand may spell the escapes' hexadecimal digits in lower case.
TEST(PreferenceTextTest, LowerCaseEscapesReadAsTheirUpperCaseSpelling) {
  std::string error;
  const auto read =
      zaf::ParsePreferences("zaf-preferences 1\ntext \"t\" 1 \"\\xfe\\u007f\\u001b\"\n", error);
  ASSERT_TRUE(read.has_value()) << error;
  EXPECT_EQ(read->at("t"), zaf::PreferenceValue(Texts{"\xFE\x7F\x1B"}));
}

class PreferenceFormatTest : public ::testing::Test {
 protected:
  ZAFSysPreferenceRepository& Repository() { return *zaf::OpenHostRepository("QIMSetup"); }

  const std::string kGolden = QIM_GOLDEN_DIR "/preferences.prefs";
  const std::string kValues[3] = {"true", "  C:\\Program Files\\QIM\\  ",
                                  "p\"w\x01\x7F\n\t\r \xC3\xA9\xFF"s};
  qimtest::TempDir folder;
  qimtest::ScopedHost host{qimtest::kSourceCatalogDirectory, folder.path()};
};

// Written through a repository, as the plug-in writes: integers, texts and an empty list.
TEST_F(PreferenceFormatTest, ASaveWritesTheGoldenFileByteForByte) {
  ASSERT_EQ(qimtest::WritePreferences(
                Repository(), {{"count", std::vector<int>{3}},
                               {"limits", std::vector<int>{INT_MIN, 0, INT_MAX}},
                               {"empty", Texts{}},
                               {"Keys", Texts{"enablePlugIn", "qimdirrt", "databasePassword"}},
                               {"Values", Texts(std::begin(kValues), std::end(kValues))}}),
            0);
  ASSERT_EQ(Repository().SaveRepository(nullptr), 0);
  EXPECT_EQ(qimtest::ReadFile(folder.File("QIMSetup.prefs")), qimtest::ReadFile(kGolden));
}

// A file an earlier run saved is read value by value through the repository, under the names
// it was saved with.
TEST_F(PreferenceFormatTest, ARepositoryReadsTheGoldenFileAnEarlierRunSaved) {
  qimtest::WriteFile(folder.File("QIMSetup.prefs"), qimtest::ReadFile(kGolden));
  std::filesystem::permissions(
      folder.File("QIMSetup.prefs"),
      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  int count = 0;
  int limits[3] = {};
  ASSERT_EQ(Repository().ReadPreference("count", &count, 1), 0);
  ASSERT_EQ(Repository().ReadPreference("limits", limits, 3), 0);
  EXPECT_EQ(
      std::to_string(count) + " " + std::to_string(limits[0]) + " " + std::to_string(limits[2]),
      "3 -2147483648 2147483647");
  ZAFUnicodeString values[3];
  ZAFUnicodeString* pointers[3] = {&values[0], &values[1], &values[2]};
  ASSERT_EQ(Repository().ReadPreference("Values", pointers, 3), 0);
  EXPECT_EQ(Texts({values[0].str(), values[1].str(), values[2].str()}),
            Texts(std::begin(kValues), std::end(kValues)));
}

// What another process saved since this repository read the file reaches the merge, with this
// repository's own writes apart; the merge alone decides what is saved, and the repository
// then holds what was saved.
TEST_F(PreferenceFormatTest, AMergedSaveSeesTheFileAsSavedMeanwhileAndTheWritesApart) {
  const zaf::PreferenceMap before = {{"count", Texts{"1"}}};
  const zaf::PreferenceMap theirs = {{"count", Texts{"7"}}, {"Values", Texts{"v"}}};
  const zaf::PreferenceMap mine = {{"mine", Texts{"m"}}};
  ASSERT_EQ(qimtest::WritePreferences(Repository(), before), 0);
  ASSERT_EQ(Repository().SaveRepository(nullptr), 0);
  ASSERT_EQ(qimtest::WritePreferences(Repository(), mine), 0);
  qimtest::WriteFile(folder.File("QIMSetup.prefs"), zaf::SerializePreferences(theirs));
  zaf::PreferenceMap seenFile;
  zaf::PreferenceMap seenWritten;
  ASSERT_EQ(
      zaf::SaveHostRepository("QIMSetup",
                              [&](zaf::PreferenceMap& file, const zaf::PreferenceMap& written) {
                                seenFile = file;
                                seenWritten = written;
                                file.erase("count");
                                file["merged"] = std::vector<int>{1};
                              }),
      0);
  EXPECT_EQ(seenFile, theirs);
  EXPECT_EQ(seenWritten, mine);
  const zaf::PreferenceMap expected = {{"Values", Texts{"v"}}, {"merged", std::vector<int>{1}}};
  std::string error;
  EXPECT_EQ(zaf::ParsePreferences(qimtest::ReadFile(folder.File("QIMSetup.prefs")), error),
            expected);
  int merged = 0;
  EXPECT_EQ(Repository().ReadPreference("merged", &merged, 1), 0);
  EXPECT_EQ(Repository().ReadPreference("count", &merged, 1), -1);
}

}  // namespace
