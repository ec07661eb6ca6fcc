// The preference file as it lies on disk, pinned by a golden file written by hand from the
// documented format: a renamed kind, header or escape would still round-trip through the
// reader and writer that share it, but no longer matches the file an earlier run left behind.

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "host/zaf_host.h"
#include "host/zaf_preferences.h"
#include "preference_store.h"
#include "test_support.h"

namespace {

using namespace std::string_literals;

const std::string kGolden = QIM_GOLDEN_DIR "/preferences.prefs";

// What the golden file holds, value by value; the file lists them by name, capitals first.
const zaf::PreferenceMap kGoldenPreferences{
    {"count", std::vector<int>{3}},
    {"limits", std::vector<int>{INT_MIN, 0, INT_MAX}},
    {"empty", std::vector<std::string>{}},
    {"Keys", std::vector<std::string>{"enablePlugIn", "qimdirrt", "databasePassword"}},
    {"Values", std::vector<std::string>{"true", "  C:\\Program Files\\QIM\\  ",
                                        "p\"w\x01\x7F\n\t\r \xC3\xA9\xFF"s}},
};

// Written through a repository, as the plug-in writes: integers, texts and an empty list.
TEST(PreferenceFormatTest, ASaveWritesTheGoldenFileByteForByte) {
  qimtest::TempDir folder;
  qimtest::ScopedHost host(qimtest::kSourceCatalogDirectory, folder.path());
  ZAFSysPreferenceRepository* repository = zaf::OpenHostRepository("QIMSetup");
  ASSERT_NE(repository, nullptr);
  for (const auto& [name, value] : kGoldenPreferences) {
    if (const auto* numbers = std::get_if<std::vector<int>>(&value)) {
      ASSERT_EQ(repository->WritePreference(name.c_str(), numbers->data(),
                                            static_cast<int>(numbers->size())),
                0)
          << name;
      continue;
    }
    const auto& texts = std::get<std::vector<std::string>>(value);
    const std::vector<ZAFUnicodeString> strings(texts.begin(), texts.end());
    std::vector<const ZAFUnicodeString*> pointers;
    for (const ZAFUnicodeString& text : strings)
      pointers.push_back(&text);
    ASSERT_EQ(repository->WritePreference(name.c_str(), pointers.data(),
                                          static_cast<int>(pointers.size())),
              0)
        << name;
  }
  ASSERT_EQ(repository->SaveRepository(nullptr), 0);
  EXPECT_EQ(qimtest::ReadFile(folder.File("QIMSetup.prefs")), qimtest::ReadFile(kGolden));
}

// A file an earlier run saved is read value by value through the repository, under the names
// it was saved with.
TEST(PreferenceFormatTest, ARepositoryReadsTheGoldenFileAnEarlierRunSaved) {
  qimtest::TempDir folder;
  qimtest::WriteFile(folder.File("QIMSetup.prefs"), qimtest::ReadFile(kGolden));
  std::filesystem::permissions(
      folder.File("QIMSetup.prefs"),
      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  qimtest::ScopedHost host(qimtest::kSourceCatalogDirectory, folder.path());
  ZAFSysPreferenceRepository* repository = zaf::OpenHostRepository("QIMSetup");
  ASSERT_NE(repository, nullptr);
  int count = 0;
  int limits[3] = {};
  ASSERT_EQ(repository->ReadPreference("count", &count, 1), 0);
  ASSERT_EQ(repository->ReadPreference("limits", limits, 3), 0);
  EXPECT_EQ(
      std::to_string(count) + " " + std::to_string(limits[0]) + " " + std::to_string(limits[2]),
      "3 -2147483648 2147483647");
  ZAFUnicodeString values[3];
  ZAFUnicodeString* pointers[3] = {&values[0], &values[1], &values[2]};
  ASSERT_EQ(repository->ReadPreference("Values", pointers, 3), 0);
  EXPECT_EQ(values[1].str(), "  C:\\Program Files\\QIM\\  ");
  EXPECT_EQ(values[2].str(), "p\"w\x01\x7F\n\t\r \xC3\xA9\xFF"s);
}

// A file edited by hand may spell the escapes' hexadecimal digits in lower case.
TEST(PreferenceFormatTest, LowerCaseEscapesReadAsTheirUpperCaseSpelling) {
  std::string error;
  const auto read =
      zaf::ParsePreferences("zaf-preferences 1\ntext \"t\" 1 \"\\xfe\\u007f\\u001b\"\n", error);
  ASSERT_TRUE(read.has_value()) << error;
  EXPECT_EQ(read->at("t"), zaf::PreferenceValue(std::vector<std::string>{"\xFE\x7F\x1B"}));
}

}  // namespace
