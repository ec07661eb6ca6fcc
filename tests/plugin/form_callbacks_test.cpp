// The form's callbacks as the operator sets them off: greying the form out with its check
// button, and choosing directories with the browse buttons.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/testable_plugin.h"

namespace {

using qimtest::BuiltPlugInTest;

const char* const kFrames[] = {"QimSetupFrame", "DatabaseFrame", "MessageQueuesFrame"};

class EnablingTest : public BuiltPlugInTest {
 protected:
  void SetUp() override {
    BuiltPlugInTest::SetUp();
    ASSERT_TRUE(CheckButton("EnableQimPlugIn")->IsChecked()) << "the default enables the form";
  }
  bool Usable(const char* name) { return container->FindByName(name)->IsUsable(); }
};

TEST_F(EnablingTest, UncheckingGreysOutTheFramesButNotTheCheckButton) {
  Editor("SMTPEditor")->Type("mail");
  CheckButton("EnableQimPlugIn")->Toggle();
  for (const char* frame : kFrames) {
    EXPECT_EQ(container->FindByName(frame)->GetSensitivity(), ZAF_INSENSITIVE) << frame;
  }
  for (const char* inside : {"QIMRTEditor", "BrowseJHOME", "EnableCreateDatabase", "SMTPEditor"}) {
    EXPECT_FALSE(Usable(inside)) << inside;
  }
  EXPECT_TRUE(Usable("EnableQimPlugIn"));
  EXPECT_EQ(Editor("SMTPEditor")->GetText(), "mail") << "greying keeps the values";

  CheckButton("EnableQimPlugIn")->Toggle();
  for (const char* frame : kFrames) {
    EXPECT_EQ(container->FindByName(frame)->GetSensitivity(), ZAF_SENSITIVE) << frame;
  }
  EXPECT_TRUE(Usable("EnableCreateDatabase"));
}

TEST_F(EnablingTest, TheDatabaseCheckButtonChangesNoSensitivity) {
  CheckButton("EnableCreateDatabase")->Toggle();
  EXPECT_TRUE(CheckButton("EnableCreateDatabase")->IsChecked());
  for (const char* frame : kFrames) {
    EXPECT_TRUE(Usable(frame)) << frame;
  }
}

struct BrowseCase {
  const char* button;
  const char* chooser;
  const char* editor;
};

// The documented browse family, one row a button.
const BrowseCase kBrowseRows[] = {
    {"BrowseQIMRT", "BrowseQimRT", "QIMRTEditor"}, {"BrowseQIM", "BrowseQim", "QIMEditor"},
    {"BrowseMQS", "BrowseMqs", "MQSEditor"},       {"BrowseNUV", "BrowseNuv", "NUVEditor"},
    {"BrowseMQWF", "BrowseMqwf", "MQWFEditor"},    {"BrowseWAS", "BrowseWas", "WASEditor"},
    {"BrowseJHOME", "BrowseJHome", "JHOMEEditor"},
};

class BrowseTest : public BuiltPlugInTest, public ::testing::WithParamInterface<BrowseCase> {
 protected:
  void SetUp() override {
    BuiltPlugInTest::SetUp();
    for (const BrowseCase& row : kBrowseRows) {
      Editor(row.editor)->Type(std::string("typed for ") + row.editor);
    }
  }

  // Presses the row's button and returns the chooser it opened: the newest child of the
  // setup frame.
  ZAFDlgFile* Browse(const BrowseCase& row) {
    qimtest::FindWidget<ZAFDlgPushButton>(*container, row.button)->Press();
    const auto& children = container->FindByName("QimSetupFrame")->GetChildren();
    return dynamic_cast<ZAFDlgFile*>(children.back());
  }

  // What every editor of the browse family shows.
  std::vector<std::string> Texts() {
    std::vector<std::string> texts;
    for (const BrowseCase& row : kBrowseRows) {
      texts.push_back(Editor(row.editor)->GetText().str());
    }
    return texts;
  }

  std::size_t Choosers() {
    std::size_t count = 0;
    for (const ZAFDialog* child : container->FindByName("QimSetupFrame")->GetChildren()) {
      count += dynamic_cast<const ZAFDlgFile*>(child) != nullptr ? 1 : 0;
    }
    return count;
  }
};

TEST_P(BrowseTest, TheChooserStartsInTheTypedTextUnstripped) {
  const BrowseCase& row = GetParam();
  Editor(row.editor)->Type("  /typed dir ");
  ZAFDlgFile* chooser = Browse(row);
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(chooser->GetResourceName().str(), row.chooser);
  EXPECT_EQ(chooser->GetStyle(), 0x10000200u);
  EXPECT_EQ(chooser->GetVisibility(), ZAF_VISIBLE);
  EXPECT_EQ(chooser->GetDirectory(), "  /typed dir ");
}

TEST_P(BrowseTest, OkWritesOnlyItsOwnEditorAndClosesTheChooser) {
  const BrowseCase& row = GetParam();
  std::vector<std::string> expected = Texts();
  for (std::size_t i = 0; i < std::size(kBrowseRows); ++i) {
    if (std::string(kBrowseRows[i].editor) == row.editor) {
      expected[i] = " /chosen dir ";
    }
  }
  Browse(row)->CloseOK(" /chosen dir ");
  EXPECT_EQ(Texts(), expected);
  EXPECT_EQ(Choosers(), 0u);
}

TEST_P(BrowseTest, CancelWritesNothingAndClosesTheChooser) {
  const std::vector<std::string> before = Texts();
  Browse(GetParam())->CloseCancel();
  EXPECT_EQ(Texts(), before);
  EXPECT_EQ(Choosers(), 0u);
}

TEST_P(BrowseTest, OfTwoOpenChoosersTheLastOkWins) {
  const BrowseCase& row = GetParam();
  ZAFDlgFile* first = Browse(row);
  ZAFDlgFile* second = Browse(row);
  ASSERT_EQ(Choosers(), 2u);
  second->CloseOK("/from the second");
  first->CloseOK("/from the first");
  EXPECT_EQ(Editor(row.editor)->GetText(), "/from the first");
  EXPECT_EQ(Choosers(), 0u);
}

INSTANTIATE_TEST_SUITE_P(EachBrowseButton, BrowseTest, ::testing::ValuesIn(kBrowseRows),
                         [](const auto& info) { return std::string(info.param.button); });

}  // namespace
