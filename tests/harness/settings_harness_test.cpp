// In test-harness mode the preference store traces its entry and, only when it succeeds, its
// return: the missing closing line is how a harness run tells a failed store.

#include <string>

#include <gtest/gtest.h>

#include "host/zaf_host.h"
#include "tests/support/testable_plugin.h"

namespace {

using qimtest::MakeList;

struct TraceCase {
  const char* reason;
  void (*arrange)(qimtest::TestablePlugIn& plugin);  // runs before the capture starts
  void (*act)(qimtest::TestablePlugIn& plugin);
  const char* expectedOutput;
};

void NothingToArrange(qimtest::TestablePlugIn& /*plugin*/) {}

void RemoveTheRepository(qimtest::TestablePlugIn& /*plugin*/) {
  zaf::SetPreferenceRepositoryProvider([](const std::string&) { return nullptr; });
}

void WriteOneSetting(qimtest::TestablePlugIn& plugin) {
  plugin.WritePrefToRepository(MakeList({"qimdir"}), MakeList({"/opt/qim"}));
}

void WriteMismatchedLists(qimtest::TestablePlugIn& plugin) {
  plugin.WritePrefToRepository(MakeList({"qimdir", "mqsdir"}), MakeList({"/opt/qim"}));
}

void ReadSettings(qimtest::TestablePlugIn& plugin) {
  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;
  plugin.ReadPrefFromRepository(keys, values);
}

void ReadWindowsDefaults(qimtest::TestablePlugIn& plugin) {
  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;
  plugin.ReadDefaults(keys, values, "windows");
}

class SettingsTraceTest : public ::testing::TestWithParam<TraceCase> {
 protected:
  void SetUp() override {
    ASSERT_EQ(plugin.HarnessFlag, "true") << "harness_tests must run with YTQ_RT_OUT defined";
  }
  void TearDown() override { zaf::SetPreferenceRepositoryProvider({}); }

  qimtest::ScopedHost scopedHost;
  qimtest::TestablePlugIn plugin;
};

TEST_P(SettingsTraceTest, WritesExactlyTheTraceLinesOfWhatHappened) {
  GetParam().arrange(plugin);

  testing::internal::CaptureStdout();
  GetParam().act(plugin);
  const std::string output = testing::internal::GetCapturedStdout();

  EXPECT_EQ(output, GetParam().expectedOutput);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsTraceTest,
    ::testing::Values(TraceCase{"SuccessfulWrite", NothingToArrange, WriteOneSetting,
                                "Inside WritePrefToRepository\nReturning RC \n"},
                      // A failed write has no closing line, whatever made it fail.
                      TraceCase{"WriteOfMismatchedLists", NothingToArrange, WriteMismatchedLists,
                                "Inside WritePrefToRepository\n"},
                      TraceCase{"WriteWithoutRepository", RemoveTheRepository, WriteOneSetting,
                                "Inside WritePrefToRepository\n"},
                      TraceCase{"SuccessfulRead", WriteOneSetting, ReadSettings,
                                "Inside ReadPrefFromRepository\nReturning S_OK\n"},
                      TraceCase{"ReadWithNothingStored", NothingToArrange, ReadSettings,
                                "Inside ReadPrefFromRepository\n"},
                      TraceCase{"ReadWithoutRepository", RemoveTheRepository, ReadSettings,
                                "Inside ReadPrefFromRepository\n"},
                      // Gathering the defaults is silent.
                      TraceCase{"Defaults", NothingToArrange, ReadWindowsDefaults, ""}),
    [](const ::testing::TestParamInfo<TraceCase>& info) { return info.param.reason; });

}  // namespace
