// The form in test-harness mode: the build runs a self-test that stores the fields, and
// validation runs even when the plug-in is disabled but never reports the run-time directory.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/testable_plugin.h"

namespace {

using qimtest::BuiltPlugInTest;
using qimtest::FindWidget;
using qimtest::ToVector;

class HarnessBuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(plugin.HarnessFlag, "true") << "harness_tests must run with YTQ_RT_OUT defined";
  }

  // Builds `target` on `tabs` and returns what the build wrote to standard output.
  static std::string BuildCapturingTrace(qimtest::TestablePlugIn& target,
                                         ZAFDlgTabContainer& tabs) {
    testing::internal::CaptureStdout();
    target.BuildUserInterface(&tabs);
    return testing::internal::GetCapturedStdout();
  }

  qimtest::ScopedHost scopedHost;
  ZAFDlgTabContainer container;
  qimtest::TestablePlugIn plugin;
};

TEST_F(HarnessBuildTest, TheSelfTestStoresTheFieldsItHasJustFilled) {
  EXPECT_EQ(BuildCapturingTrace(plugin, container),
            "Inside ReadPrefFromRepository\n"  // nothing stored yet: the defaults are used
            "Inside WritePrefToRepository\n"   // the self-test reads the form, which stores it
            "Returning RC \n"
            "Validate User Input\n");

  ZAFListValZAFUnicodeString storedKeys;
  ZAFListValZAFUnicodeString storedValues;
  ASSERT_EQ(plugin.ReadPrefFromRepository(storedKeys, storedValues), QIM_S_OK);
  ZAFListValZAFUnicodeString shownKeys;
  ZAFListValZAFUnicodeString shownValues;
  plugin.GetUserInterfaceFields(shownKeys, shownValues);
  EXPECT_EQ(ToVector(storedKeys), ToVector(shownKeys));
  EXPECT_EQ(ToVector(storedValues), ToVector(shownValues));
  EXPECT_EQ(ToVector(storedValues)[2], "QIMDB") << "a default, stored by the build itself";
}

TEST_F(HarnessBuildTest, ASecondBuildStartsFromWhatTheFirstStored) {
  BuildCapturingTrace(plugin, container);
  ZAFDlgTabContainer secondContainer;
  qimtest::TestablePlugIn second;
  EXPECT_EQ(BuildCapturingTrace(second, secondContainer),
            "Inside ReadPrefFromRepository\n"
            "Returning S_OK\n"
            "Inside WritePrefToRepository\n"
            "Returning RC \n"
            "Validate User Input\n");
  EXPECT_EQ(FindWidget<ZAFDlgEditor>(secondContainer, "DatabaseNameEditor")->GetText(), "QIMDB");
}

// The fields are filled and the run-time directory does not exist: outside test-harness mode
// that would be reported.
class HarnessValidationTest : public BuiltPlugInTest {
 protected:
  void SetUp() override {
    BuiltPlugInTest::SetUp();
    for (ZAFDialog* widget : Descendants()) {
      if (auto* editor = dynamic_cast<ZAFDlgEditor*>(widget)) {
        editor->Type("filled");
      }
    }
    Editor("QIMRTEditor")->Type("/no/such/run-time/directory");
  }
  std::vector<ZAFDialog*> Descendants() {
    std::vector<ZAFDialog*> all;
    std::vector<ZAFDialog*> pending{container.get()};
    while (!pending.empty()) {
      ZAFDialog* next = pending.back();
      pending.pop_back();
      all.push_back(next);
      pending.insert(pending.end(), next->GetChildren().begin(), next->GetChildren().end());
    }
    return all;
  }

  ZAFDlgTabPage* Validate() {
    ZAFDlgTabPage* page = nullptr;
    ZAFUnicodeString title;
    ZAFUnicodeString text;
    plugin.ValidateUserInputData(page, title, text);
    return page;
  }
};

TEST_F(HarnessValidationTest, AMissingRunTimeDirectoryIsNotReported) {
  EXPECT_EQ(Validate(), nullptr);
}

TEST_F(HarnessValidationTest, ValidationRunsWhileThePlugInIsDisabled) {
  CheckButton("EnableQimPlugIn")->SetState(ZAF_UNCHECKED, 1);
  Editor("FMCPortEditor")->Type(" ");
  ZAFDlgTabPage* page = Validate();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->GetResourceName().str(), "QIMMessageQueuesPage");
}

TEST_F(HarnessValidationTest, ABlankRunTimeEditorIsReportedAsABlankField) {
  Editor("QIMRTEditor")->Type("");
  ZAFDlgTabPage* page = nullptr;
  ZAFUnicodeString title;
  ZAFUnicodeString text;
  plugin.ValidateUserInputData(page, title, text);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->GetResourceName().str(), "QIMSetupPage");
  ZAFUnicodeString blankTitle;
  plugin.GetMessage("BlankField.Title", blankTitle, nullptr, 0);
  EXPECT_EQ(title, blankTitle);
}

}  // namespace
