// The preference file text: exact round trips and strict refusal of anything malformed.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <ostream>
#include <string>

#include "host/preference_file.h"

namespace {

using ::testing::HasSubstr;
using namespace std::string_literals;

zaf::PreferenceMap RoundTrip(const zaf::PreferenceMap& preferences) {
  const std::string text = zaf::SerializePreferences(preferences);
  std::string error;
  const std::optional<zaf::PreferenceMap> parsed = zaf::ParsePreferences(text, error);
  EXPECT_TRUE(parsed.has_value()) << error << "\n" << text;
  return parsed.value_or(zaf::PreferenceMap());
}

struct AwkwardText {
  std::string text;
  const char* why;
};

// Names the case in test output (the bytes of the struct would include padding).
void PrintTo(const AwkwardText& c, std::ostream* out) {
  *out << c.why;
}

class PreferenceRoundTripTest : public ::testing::TestWithParam<AwkwardText> {};

TEST_P(PreferenceRoundTripTest, TextSurvivesAsValueAndAsName) {
  const std::string& text = GetParam().text;
  const zaf::PreferenceMap preferences{
      {text, std::vector<std::string>{text, "", text}},
      {"other", std::vector<std::string>{text}},
  };
  EXPECT_EQ(RoundTrip(preferences), preferences) << GetParam().why;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PreferenceRoundTripTest,
    ::testing::Values(
        AwkwardText{"", "empty"}, AwkwardText{"  blanks at both ends  ", "blanks kept"},
        AwkwardText{"two\nlines\r\nand\ttab", "control characters"},
        AwkwardText{"say \"hi\"", "quotes"},
        AwkwardText{"C:\\dir\\", "backslashes, one at the end"},
        AwkwardText{"\\\"", "backslash then quote"}, AwkwardText{"key = value", "equals sign"},
        AwkwardText{"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "non-ASCII"},
        AwkwardText{"nul\0inside"s, "NUL byte"}, AwkwardText{"\x01\x1F\x7F", "other control bytes"},
        AwkwardText{"\xFF\xFE bad \xC3", "bytes that are not UTF-8"},
        AwkwardText{"\\u0041 \\x80", "text that looks like escapes"},
        AwkwardText{" \" \" ", "quotes and blanks that look like separators"}));

TEST(PreferenceFileTest, IntegersRoundTripIncludingLimitsAndEmptyArrays) {
  const zaf::PreferenceMap preferences{
      {"count", std::vector<int>{33}},
      {"limits", std::vector<int>{INT_MIN, -1, 0, INT_MAX}},
      {"no ints", std::vector<int>{}},
      {"no texts", std::vector<std::string>{}},
  };
  EXPECT_EQ(RoundTrip(preferences), preferences);
}

TEST(PreferenceFileTest, WrittenTextIsReadableUtf8WithEscapes) {
  const zaf::PreferenceMap preferences{
      {"count", std::vector<int>{2}},
      {"Keys", std::vector<std::string>{"a\"b", "caf\xC3\xA9\n\x01"}},
  };
  EXPECT_EQ(zaf::SerializePreferences(preferences),
            "zaf-preferences 1\n"
            "text \"Keys\" 2 \"a\\\"b\" \"caf\xC3\xA9\\n\\u0001\"\n"
            "int \"count\" 1 2\n");
}

struct MalformedFile {
  std::string text;
  const char* expectedInError;
  const char* why;
};

// Names the case in test output (the bytes of the struct would include padding).
void PrintTo(const MalformedFile& c, std::ostream* out) {
  *out << c.why;
}

class PreferenceRefusalTest : public ::testing::TestWithParam<MalformedFile> {};

TEST_P(PreferenceRefusalTest, RefusesTheWholeFile) {
  std::string error;
  EXPECT_FALSE(zaf::ParsePreferences(GetParam().text, error).has_value()) << GetParam().why;
  EXPECT_THAT(error, HasSubstr(GetParam().expectedInError)) << GetParam().why;
}

const std::string kHeader = "zaf-preferences 1\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, PreferenceRefusalTest,
    ::testing::Values(
        MalformedFile{"", "empty", "no header at all"},
        MalformedFile{"other-format 1\n", "line 1", "wrong format name"},
        MalformedFile{"zaf-preferences 2\n", "version", "unknown version"},
        MalformedFile{kHeader + "int \"a\" 1 5", "last line", "cut short: no final newline"},
        MalformedFile{kHeader + "\n", "line 2", "empty line"},
        MalformedFile{kHeader + "float \"a\" 1 5\n", "kind", "unknown kind"},
        MalformedFile{kHeader + "int \"a\" 2 5\n", "line 2", "fewer values than counted"},
        MalformedFile{kHeader + "int \"a\" 1 5 6\n", "after the last", "more values than counted"},
        MalformedFile{kHeader + "int \"a\" 1 5 \n", "line 2", "trailing blank"},
        MalformedFile{kHeader + "int \"a\"  1 5\n", "line 2", "two blanks"},
        MalformedFile{kHeader + "int \"a\" 1 05\n", "number", "leading zero"},
        MalformedFile{kHeader + "int \"a\" 1 +5\n", "number", "plus sign"},
        MalformedFile{kHeader + "int \"a\" 1 -0\n", "number", "negative zero"},
        MalformedFile{kHeader + "int \"a\" 1 2147483648\n", "range", "above int"},
        MalformedFile{kHeader + "int \"a\" 1 99999999999999999999\n", "range", "far above"},
        MalformedFile{kHeader + "int \"a\" -1\n", "range", "negative count"},
        MalformedFile{kHeader + "text \"a\" 1 \"x\n", "unterminated", "quote never closed"},
        MalformedFile{kHeader + "text \"a\" 1 \"x\\\"\n", "unterminated", "escaped last quote"},
        MalformedFile{kHeader + "text \"a\" 1 \"\\q\"\n", "escape", "unknown escape"},
        MalformedFile{kHeader + "text \"a\" 1 \"\\u0G41\"\n", "escape", "bad hex digit"},
        MalformedFile{kHeader + "text \"a\" 1 \"\\u0080\"\n", "escape", "\\u beyond ASCII"},
        MalformedFile{kHeader + "text \"a\" 1 \"\\x41\"\n", "escape", "\\x for ASCII"},
        MalformedFile{kHeader + "text \"a\" 1 \"\\u00\"\n", "escape", "short \\u"},
        MalformedFile{kHeader + "text \"a\" 1 \"a\tb\"\n", "control", "raw tab in quotes"},
        MalformedFile{kHeader + "text \"a\" 1 x\n", "quoted", "unquoted text"},
        MalformedFile{kHeader + "int a 1 5\n", "quoted", "unquoted name"},
        MalformedFile{kHeader + "int \"a\" 1 5\nint \"a\" 1 6\n", "line 3", "repeated name"},
        MalformedFile{kHeader + "text \"a\" 1 \"\xC3\"\n", "UTF-8", "invalid UTF-8"},
        MalformedFile{kHeader + "int \"a\" 1 5\r\n", "line 2", "CRLF line end"}));

TEST(PreferenceFileTest, HugeCountWithoutValuesIsRefusedNotAllocated) {
  std::string error;
  EXPECT_FALSE(zaf::ParsePreferences(kHeader + "text \"a\" 2147483647\n", error).has_value());
}

}  // namespace
