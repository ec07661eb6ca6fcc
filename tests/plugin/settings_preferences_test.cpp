// The preference store: what WritePrefToRepository and ReadPrefFromRepository put into and
// take out of the repository, and how each failure leaves the repository and the lists.

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/zaf_host.h"
#include "tests/support/testable_plugin.h"

namespace {

using qimtest::MakeList;
using qimtest::ToVector;
using Texts = std::vector<std::string>;

// An in-memory repository that refuses to read or write one preference on demand. Writes go
// to a working copy that SaveRepository makes lasting, so a test can tell what a failed write
// left behind.
class FaultyRepository : public ZAFSysPreferenceRepository {
 public:
  struct Contents {
    std::map<std::string, std::vector<int>> numbers;
    std::map<std::string, Texts> texts;

    bool operator==(const Contents& other) const {
      return numbers == other.numbers && texts == other.texts;
    }
  };

  std::string refusedWrite;  // the preference whose write fails; empty for none
  std::string refusedRead;   // the preference whose read fails; empty for none
  Contents working;
  Contents saved;
  Texts writeAttempts;  // preference names, in the order their writes were asked for
  int saveCalls = 0;

  // Stores lasting content as an earlier run would have left it.
  void Store(int count, const Texts& keys, const Texts& values) {
    working.numbers["count"] = {count};
    working.texts["Keys"] = keys;
    working.texts["Values"] = values;
    saved = working;
  }

  int ReadPreference(const ZAFString& name, int* values, int count) override {
    return CopyOut(working.numbers, name, count, [&](int i, int value) { values[i] = value; });
  }

  int ReadPreference(const ZAFString& name, ZAFUnicodeString** values, int count) override {
    return CopyOut(working.texts, name, count,
                   [&](int i, const std::string& text) { *values[i] = text; });
  }

  int WritePreference(const ZAFString& name, const int* values, int count) override {
    return Write(working.numbers, name, std::vector<int>(values, values + count));
  }

  int WritePreference(const ZAFString& name, const ZAFUnicodeString* const* values,
                      int count) override {
    Texts texts;
    for (int i = 0; i < count; ++i) {
      texts.push_back(values[i]->str());
    }
    return Write(working.texts, name, texts);
  }

  int SaveRepository(void* /*reserved*/) override {
    ++saveCalls;
    saved = working;
    return 0;
  }

 private:
  template <typename Element>
  int Write(std::map<std::string, std::vector<Element>>& store, const ZAFString& name,
            std::vector<Element> elements) {
    writeAttempts.push_back(name.str());
    if (name == refusedWrite) {
      return -1;
    }
    store[name.str()] = std::move(elements);
    return 0;
  }

  // Like the host's repository: copies what it has, up to `count`, and fails when the
  // preference is refused, missing or shorter than asked for.
  template <typename Element, typename Sink>
  int CopyOut(const std::map<std::string, std::vector<Element>>& store, const ZAFString& name,
              int count, Sink sink) const {
    const auto found = store.find(name.str());
    if (name == refusedRead || found == store.end()) {
      return -1;
    }
    const int available = static_cast<int>(found->second.size());
    for (int i = 0; i < count && i < available; ++i) {
      sink(i, found->second[static_cast<std::size_t>(i)]);
    }
    return available < count ? -1 : 0;
  }
};

Texts Numbered(const std::string& prefix, int count) {
  Texts texts;
  for (int i = 1; i <= count; ++i) {
    texts.push_back(prefix + std::to_string(i));
  }
  return texts;
}

// A plug-in whose repository is `repository`, or none at all.
class PreferenceStoreTest : public ::testing::Test {
 protected:
  void UseRepository(ZAFSysPreferenceRepository* chosen) {
    zaf::SetPreferenceRepositoryProvider([this, chosen](const std::string& name) {
      requestedNames.push_back(name);
      return chosen;
    });
  }

  void SetUp() override { UseRepository(&repository); }
  void TearDown() override { zaf::SetPreferenceRepositoryProvider({}); }

  qimtest::ScopedHost scopedHost;
  FaultyRepository repository;
  Texts requestedNames;
  qimtest::TestablePlugIn plugin;
};

// ---- Round trips ----

TEST_F(PreferenceStoreTest, WriteStoresCountKeysAndValuesThenSaves) {
  const Texts keys = {"enablePlugIn", "qimdir", "databasePassword"};
  const Texts values = {"true", "C:\\Program Files\\QIM", "secret"};

  EXPECT_EQ(plugin.WritePrefToRepository(MakeList(keys), MakeList(values)), QIM_S_OK);

  EXPECT_EQ(repository.writeAttempts, (Texts{"count", "Keys", "Values"}));
  EXPECT_EQ(repository.saveCalls, 1);
  EXPECT_EQ(repository.saved.numbers["count"], std::vector<int>{3});
  EXPECT_EQ(repository.saved.texts["Keys"], keys);
  EXPECT_EQ(repository.saved.texts["Values"], values);
  EXPECT_EQ(requestedNames.front(), "QIMSetup");
}

TEST_F(PreferenceStoreTest, ReadReplacesWhateverTheListsHeld) {
  repository.Store(2, {"qimdir", "mqsdir"}, {"/opt/qim", "/opt/mqm"});
  auto keys = MakeList({"old1", "old2", "old3"});
  auto values = MakeList({"x", "y", "z"});

  EXPECT_EQ(plugin.ReadPrefFromRepository(keys, values), QIM_S_OK);

  EXPECT_EQ(ToVector(keys), (Texts{"qimdir", "mqsdir"}));
  EXPECT_EQ(ToVector(values), (Texts{"/opt/qim", "/opt/mqm"}));
}

// Texts that a careless store might trim, split, unescape or reorder.
const Texts kAwkwardValues = {
    "",                          // empty
    " ",                         // one blank, as the defaults give for a missing resource
    "  leading and trailing  ",  // blanks at both ends are data here
    "key = value # not a comment",
    "C:\\Program Files\\IBM\\MQSeries Workflow",
    "'quoted' \"twice\"",
    "Zürich ÆØÅ 日本",
    "%1 %% \\n \\s",
    "tab\there",
    std::string(2000, 'x'),
};

TEST_F(PreferenceStoreTest, AwkwardTextsSurviveAWriteAndReadThroughTheHostStore) {
  zaf::SetPreferenceRepositoryProvider({});  // the host's own in-memory repository
  const Texts keys = Numbered("key", static_cast<int>(kAwkwardValues.size()));

  ASSERT_EQ(plugin.WritePrefToRepository(MakeList(keys), MakeList(kAwkwardValues)), QIM_S_OK);
  qimtest::TestablePlugIn reader;
  ZAFListValZAFUnicodeString readKeys;
  ZAFListValZAFUnicodeString readValues;
  ASSERT_EQ(reader.ReadPrefFromRepository(readKeys, readValues), QIM_S_OK);

  EXPECT_EQ(ToVector(readKeys), keys);
  EXPECT_EQ(ToVector(readValues), kAwkwardValues);
}

// ---- Failed writes ----

struct WriteFailure {
  const char* reason;
  const char* refused;
  int keyCount;
  int valueCount;
  Texts expectedAttempts;
};

class WriteFailureTest : public PreferenceStoreTest,
                         public ::testing::WithParamInterface<WriteFailure> {};

TEST_P(WriteFailureTest, FailsWithoutSavingAndKeepsTheEarlierContent) {
  const WriteFailure& failure = GetParam();
  repository.Store(2, {"earlier1", "earlier2"}, {"e1", "e2"});
  const FaultyRepository::Contents earlier = repository.saved;
  repository.refusedWrite = failure.refused;

  const long result = plugin.WritePrefToRepository(MakeList(Numbered("k", failure.keyCount)),
                                                   MakeList(Numbered("v", failure.valueCount)));

  EXPECT_EQ(result, QIM_E_FAIL);
  EXPECT_EQ(repository.writeAttempts, failure.expectedAttempts);
  EXPECT_EQ(repository.saveCalls, 0);
  EXPECT_TRUE(repository.saved == earlier);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteFailureTest,
    ::testing::Values(
        // Nothing to store is not a setting list; nothing may be touched.
        WriteFailure{"EmptyLists", "", 0, 0, {}},
        // One value short: a store of mismatched pairs would shift every later setting.
        WriteFailure{"MoreKeysThanValues", "", 33, 32, {}},
        WriteFailure{"MoreValuesThanKeys", "", 32, 33, {}},
        // Each failed step stops the write before the next preference and before the save.
        WriteFailure{"CountRefused", "count", 33, 33, {"count"}},
        WriteFailure{"KeysRefused", "Keys", 33, 33, {"count", "Keys"}},
        WriteFailure{"ValuesRefused", "Values", 33, 33, {"count", "Keys", "Values"}}),
    [](const ::testing::TestParamInfo<WriteFailure>& info) { return info.param.reason; });

// ---- Failed reads ----

struct ReadFailure {
  const char* reason;
  const char* refused;
  bool stored;
  int storedCount;
};

class ReadFailureTest : public PreferenceStoreTest,
                        public ::testing::WithParamInterface<ReadFailure> {};

TEST_P(ReadFailureTest, FailsAndLeavesTheCallersListsAlone) {
  const ReadFailure& failure = GetParam();
  if (failure.stored) {
    repository.Store(failure.storedCount, {"stored"}, {"value"});
  }
  repository.refusedRead = failure.refused;
  auto keys = MakeList({"enablePlugIn", "qimdir"});
  auto values = MakeList({"true", "/opt/qim"});

  EXPECT_EQ(plugin.ReadPrefFromRepository(keys, values), QIM_E_FAIL);

  EXPECT_EQ(ToVector(keys), (Texts{"enablePlugIn", "qimdir"}));
  EXPECT_EQ(ToVector(values), (Texts{"true", "/opt/qim"}));
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadFailureTest,
                         ::testing::Values(
                             // First run: the form keeps the defaults it already holds.
                             ReadFailure{"NothingStored", "", false, 0},
                             ReadFailure{"CountUnreadable", "count", true, 1},
                             // A count that is not positive describes no settings at all.
                             ReadFailure{"CountZero", "", true, 0},
                             ReadFailure{"CountNegative", "", true, -4}),
                         [](const ::testing::TestParamInfo<ReadFailure>& info) {
                           return info.param.reason;
                         });

// Once "count" is read the lists are committed to n entries: what the repository cannot
// supply stays empty, and the read still succeeds.
struct PartialRead {
  const char* reason;
  const char* refused;
  Texts storedKeys;
  Texts expectedKeys;
  Texts expectedValues;
};

class PartialReadTest : public PreferenceStoreTest,
                        public ::testing::WithParamInterface<PartialRead> {};

TEST_P(PartialReadTest, SucceedsWithEmptyEntriesWhereNothingWasRead) {
  const PartialRead& read = GetParam();
  repository.Store(3, read.storedKeys, {"v1", "v2", "v3"});
  repository.refusedRead = read.refused;
  auto keys = MakeList({"old"});
  auto values = MakeList({"old"});

  EXPECT_EQ(plugin.ReadPrefFromRepository(keys, values), QIM_S_OK);

  EXPECT_EQ(ToVector(keys), read.expectedKeys);
  EXPECT_EQ(ToVector(values), read.expectedValues);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PartialReadTest,
    ::testing::Values(
        PartialRead{"KeysUnreadable", "Keys", {"k1", "k2", "k3"}, {"", "", ""}, {"v1", "v2", "v3"}},
        PartialRead{
            "ValuesUnreadable", "Values", {"k1", "k2", "k3"}, {"k1", "k2", "k3"}, {"", "", ""}},
        // The elements the repository does have are kept even though the read fails.
        PartialRead{"FewerKeysThanCount", "", {"k1", "k2"}, {"k1", "k2", ""}, {"v1", "v2", "v3"}}),
    [](const ::testing::TestParamInfo<PartialRead>& info) { return info.param.reason; });

// ---- No repository ----

TEST_F(PreferenceStoreTest, WithoutARepositoryBothOperationsFailAndTouchNothing) {
  UseRepository(nullptr);
  auto keys = MakeList({"qimdir"});
  auto values = MakeList({"/opt/qim"});

  EXPECT_EQ(plugin.WritePrefToRepository(keys, values), QIM_E_FAIL);
  EXPECT_EQ(plugin.ReadPrefFromRepository(keys, values), QIM_E_FAIL);

  EXPECT_EQ(ToVector(keys), Texts{"qimdir"});
  EXPECT_EQ(ToVector(values), Texts{"/opt/qim"});
  EXPECT_EQ(repository.writeAttempts, Texts{});
  EXPECT_EQ(requestedNames, (Texts{"QIMSetup", "QIMSetup"}));
}

}  // namespace
