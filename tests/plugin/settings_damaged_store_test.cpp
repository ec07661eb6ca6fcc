// A stored count the plug-in never writes: a damaged or hand-edited store must neither make
// the plug-in ask for billions of entries nor lose the settings the store does hold.

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/zaf_host.h"
#include "tests/support/testable_plugin.h"

namespace qimtest {
namespace {

using Texts = std::vector<std::string>;

// Writes count, Keys and Values into the host's repository "QIMSetup" as a session would have
// left them.
void StoreSettings(int count, const Texts& keys, const Texts& values) {
  ZAFSysPreferenceRepository* store = zaf::OpenHostRepository("QIMSetup");
  ASSERT_NE(store, nullptr);
  ASSERT_EQ(store->WritePreference("count", &count, 1), 0);
  for (const auto& [name, texts] : {std::pair{"Keys", &keys}, std::pair{"Values", &values}}) {
    std::vector<ZAFUnicodeString> strings(texts->begin(), texts->end());
    std::vector<const ZAFUnicodeString*> pointers;
    for (const ZAFUnicodeString& text : strings) {
      pointers.push_back(&text);
    }
    ASSERT_EQ(store->WritePreference(name, pointers.data(), static_cast<int>(pointers.size())), 0);
  }
}

Texts Numbered(const std::string& prefix, int count) {
  Texts texts;
  for (int i = 1; i <= count; ++i) {
    texts.push_back(prefix + std::to_string(i));
  }
  return texts;
}

struct DamagedCount {
  const char* name;
  const char* why;
  int storedCount;
  int storedPairs;
  int expectedSize;  // the length both lists are read to
};

// Names the case in test output (the bytes of the struct would include padding).
void PrintTo(const DamagedCount& c, std::ostream* out) {
  *out << c.why;
}

class DamagedCountTest : public ::testing::TestWithParam<DamagedCount> {
 protected:
  ScopedHost scopedHost;
};

TEST_P(DamagedCountTest, ReadsTheStoredPairsIntoBoundedLists) {
  const DamagedCount& store = GetParam();
  StoreSettings(store.storedCount, Numbered("k", store.storedPairs),
                Numbered("v", store.storedPairs));
  TestablePlugIn plugin;
  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;

  ASSERT_EQ(plugin.ReadPrefFromRepository(keys, values), QIM_S_OK) << store.why;

  ASSERT_EQ(keys.Size(), store.expectedSize) << store.why;
  ASSERT_EQ(values.Size(), store.expectedSize) << store.why;
  const int readPairs = std::min(store.storedPairs, store.expectedSize);
  for (int position = 1; position <= store.expectedSize; ++position) {
    const bool stored = position <= readPairs;
    EXPECT_EQ(keys[position].str(), stored ? "k" + std::to_string(position) : "") << store.why;
    EXPECT_EQ(values[position].str(), stored ? "v" + std::to_string(position) : "") << store.why;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedCountTest,
    ::testing::Values(
        // A count of 2^31 - 1 once made each list take that many entries and ended the host
        // with bad_alloc. A million shows the bound as well, and should the bound go, reading
        // it unbounded fails the test instead of exhausting the machine's memory.
        DamagedCount{"MillionCount", "a million counted, two pairs stored", 1000000, 2, 1024},
        DamagedCount{"JustPastTheBound", "a count just past the bound", 1025, 3, 1024},
        DamagedCount{"AtTheBound", "a count at the bound is read whole", 1024, 1024, 1024},
        DamagedCount{"LaterVersion", "a later version's 40 settings are read whole", 40, 40, 40},
        DamagedCount{"MorePairsThanCount", "more pairs stored than counted: the count decides", 2,
                     5, 2}),
    [](const ::testing::TestParamInfo<DamagedCount>& info) {
      return std::string(info.param.name);
    });

TEST(DamagedStoreBuildTest, TheFormShowsTheStoredSettingsDespiteAHugeCount) {
  ScopedHost scopedHost;
  StoreSettings(1000000, {"databaseName", "enablePlugIn"}, {"FROMSTORE", "false"});
  RecordingHost host;
  auto container = std::make_unique<ZAFDlgTabContainer>();
  TestablePlugIn plugin;
  plugin.SetHost(&host);

  plugin.BuildUserInterface(container.get());

  auto* name = FindWidget<ZAFDlgEditor>(*container, "DatabaseNameEditor");
  auto* enable = FindWidget<ZAFDlgCheckButton>(*container, "EnableQimPlugIn");
  ASSERT_NE(name, nullptr);
  ASSERT_NE(enable, nullptr);
  EXPECT_EQ(name->GetText(), "FROMSTORE");
  EXPECT_FALSE(enable->IsChecked());
}

}  // namespace
}  // namespace qimtest
