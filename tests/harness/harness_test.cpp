// Test-harness mode ("YTQ_RT_OUT" defined): the trace lines, the self-test of the build, the
// lifted gate and a validation that does not look for the run-time directory.

#include <functional>

#include "../plugin/plugin_fixture.h"

namespace qimtest {

// What `act` wrote to standard output.
std::string Trace(const std::function<void()>& act) {
  ::testing::internal::CaptureStdout();
  act();
  return ::testing::internal::GetCapturedStdout();
}

// The build reads the store (nothing there yet: the defaults are used), then the self-test
// reads the form, which stores it, and validates. A preference operation traces its entry, and
// its closing line only when the store succeeded: that is how a harness run tells. Copying is
// not traced, but the copy's destructor is: a copy keeps test-harness mode.
TEST(HarnessTraceTest, TheSelfTestStoresTheFieldsAndOnlySuccessfulStoreOperationsTraceReturns) {
  ScopedHost scopedHost;
  ZAFDlgTabContainer container;
  EXPECT_EQ(Trace([] { TestablePlugIn original, copy(original); }),
            "Inside Constructor \nInside destructor.... \nInside destructor.... \n");
  TestablePlugIn plugin;
  EXPECT_EQ(Trace([&] { plugin.BuildUserInterface(&container); }),
            "Inside ReadPrefFromRepository\nInside WritePrefToRepository\nReturning RC \n"
            "Validate User Input\n");
  ZAFListValZAFUnicodeString keys, values, two = MakeList({"a", "b"}), one = MakeList({"1"});
  EXPECT_EQ(Trace([&] { plugin.ReadPrefFromRepository(keys, values); }),
            "Inside ReadPrefFromRepository\nReturning S_OK\n");
  EXPECT_EQ(std::to_string(keys.Size()) + " " + values[3].str(), "33 QIMDB") << "the defaults";
  EXPECT_EQ(Trace([&] { plugin.WritePrefToRepository(two, one); }),
            "Inside WritePrefToRepository\n");
  EXPECT_EQ(Trace([&] { plugin.WritePrefToRepository(one, one); }),
            "Inside WritePrefToRepository\nReturning RC \n");
  EXPECT_EQ(Trace([&] { plugin.ReadDefaults(keys, values, "windows"); }), "");
}

// Disabled, the plug-in still lists and builds the commands and validates. The defaults fill
// the other required fields; the run-time directory is missing and never reported.
TEST_F(PlugInTest, DisabledPlugInStillListsBuildsAndValidatesButNotTheRunTimeDirectory) {
  Check("EnableQimPlugIn", false);
  Check("EnableCreateDatabase", true);
  ZAFRawCollPV tags;
  EXPECT_EQ(Trace([&] { plugin.GetCommandTags(tags); }), "GetCommandTags .... \n");
  EXPECT_EQ(tags.Size(), 14);
  EXPECT_EQ(CommandsFor("qim_copy java_fmccreate java_dbsetup"),
            "QIMFilesCp.bat|com.corvanta.qimpluginutilities.UpdateQIMFiles|QIMDBSetup.bat");
  Fill(
      "QIMRTEditor=/no/such/dir|DatabasePasswordEditor=p|MsqPassEditor=p|SMTPEditor=m"
      "|NUVNavServerEditor=n|QIMIPEditor=i|FMCIPEditor=i|NUVIPEditor=i");
  std::string reported;
  EXPECT_EQ(Trace([&] { reported = Validate(); }), "Validate User Input\n");
  EXPECT_EQ(reported, kAccepted);
  Fill("FMCPortEditor= ");
  Trace([&] { reported = Validate(); });
  EXPECT_EQ(reported,
            "QIMMessageQueuesPage|Missing setting|The field 'Workflow queue manager "
            "port' must not be empty.");
}

}  // namespace qimtest
