// Validation of the operator's input: which field is reported, on which page, with which
// message, and when nothing is checked at all.

#include <string>

#include <gtest/gtest.h>

#include "tests/support/testable_plugin.h"

namespace {

using qimtest::BuiltPlugInTest;
using qimtest::TempDir;

struct RequiredField {
  const char* editor;
  const char* page;
  const char* label;
};

// The documented required fields in the order they are checked.
const RequiredField kRequired[] = {
    {"QIMEditor", "QIMSetupPage", "QIMInstallLabel"},
    {"QIMRTEditor", "QIMSetupPage", "QIMRunTimeLabel"},
    {"MQSEditor", "QIMSetupPage", "MQSLabel"},
    {"NUVEditor", "QIMSetupPage", "NUVLabel"},
    {"DatabaseNameEditor", "QIMDatabasePage", "DatabaseNameLabel"},
    {"DatabaseHostEditor", "QIMDatabasePage", "DatabaseHostLabel"},
    {"DatabasePortEditor", "QIMDatabasePage", "DatabasePortLabel"},
    {"DatabaseUserEditor", "QIMDatabasePage", "DatabaseUserLabel"},
    {"DatabasePasswordEditor", "QIMDatabasePage", "DatabasePasswordLabel"},
    {"JndiNameEditor", "QIMDatabasePage", "JndiNameLabel"},
    {"MsqUserEditor", "QIMMessageQueuesPage", "MsqUserLabel"},
    {"MsqCfgEditor", "QIMMessageQueuesPage", "MsqCfgLabel"},
    {"MsqPassEditor", "QIMMessageQueuesPage", "MsqPassLabel"},
    {"MsqWTEditor", "QIMMessageQueuesPage", "MsqWTLabel"},
    {"SMTPEditor", "QIMMessageQueuesPage", "SMTPLabel"},
    {"NUVNavServerEditor", "QIMMessageQueuesPage", "NUVNavServerLabel"},
    {"QIMMQNameEditor", "QIMMessageQueuesPage", "QIMMQNameLabel"},
    {"QIMMQDLEditor", "QIMMessageQueuesPage", "QIMMQDLLabel"},
    {"QIMIPEditor", "QIMMessageQueuesPage", "QIMIPLabel"},
    {"QIMPortEditor", "QIMMessageQueuesPage", "QIMPortLabel"},
    {"NUVMQNameEditor", "QIMMessageQueuesPage", "NUVMQNameLabel"},
    {"FMCIPEditor", "QIMMessageQueuesPage", "FMCIPLabel"},
    {"FMCPortEditor", "QIMMessageQueuesPage", "FMCPortLabel"},
    {"NUVMQDLEditor", "QIMMessageQueuesPage", "NUVMQDLLabel"},
    {"NUVIPEditor", "QIMMessageQueuesPage", "NUVIPLabel"},
    {"NUVPortEditor", "QIMMessageQueuesPage", "NUVPortLabel"},
};

const char* const kOptional[] = {"MQWFEditor", "JHOMEEditor", "WASEditor", "NUVNavPortEditor",
                                 "NUVNavServletEditor"};

// A form with every field filled and an existing run-time directory, the plug-in enabled.
class ValidationTest : public BuiltPlugInTest {
 protected:
  void SetUp() override {
    BuiltPlugInTest::SetUp();
    for (const RequiredField& field : kRequired) {
      Editor(field.editor)->Type("filled");
    }
    Editor("QIMRTEditor")->Type(runTimeDirectory.path());
    CheckButton("EnableQimPlugIn")->SetState(ZAF_CHECKED, 1);
  }

  // Validates; page, title and text start out as markers so that untouched ones show.
  void Validate() {
    page = dynamic_cast<ZAFDlgTabPage*>(container->FindByName("QIMMessageQueuesPage"));
    title = "untouched";
    text = "untouched";
    plugin.ValidateUserInputData(page, title, text);
  }

  // Expects `pageName` reported with the message `messageName` about `labelName`'s field.
  void ExpectReported(const char* pageName, const char* messageName, const char* labelName) {
    ASSERT_NE(page, nullptr) << "nothing reported";
    EXPECT_EQ(page->GetResourceName().str(), pageName);
    ZAFUnicodeString fieldName = container->FindByName(labelName)->GetTitle();
    ZAFUnicodeString expectedTitle;
    ZAFUnicodeString expectedText;
    plugin.GetMessage((std::string(messageName) + ".Title").c_str(), expectedTitle, nullptr, 0);
    plugin.GetMessage((std::string(messageName) + ".Text").c_str(), expectedText, &fieldName, 1);
    EXPECT_EQ(title, expectedTitle);
    EXPECT_EQ(text, expectedText);
    EXPECT_NE(text.str().find(fieldName.str()), std::string::npos) << "the text names the field";
  }

  void ExpectAccepted() {
    EXPECT_EQ(page, nullptr);
    EXPECT_EQ(title, "untouched");
    EXPECT_EQ(text, "untouched");
  }

  TempDir runTimeDirectory;
  ZAFDlgTabPage* page = nullptr;
  ZAFUnicodeString title;
  ZAFUnicodeString text;
};

TEST_F(ValidationTest, CompleteInputIsAccepted) {
  for (const char* optional : kOptional) {
    Editor(optional)->Type("");
  }
  Validate();
  ExpectAccepted();
}

// Blanking the fields from the last one backwards, the one reported is always the newly
// blanked one: each comes before all the others that are blank.
TEST_F(ValidationTest, TheFirstBlankFieldInCheckingOrderIsReported) {
  for (int i = static_cast<int>(std::size(kRequired)) - 1; i >= 0; --i) {
    const RequiredField& field = kRequired[i];
    SCOPED_TRACE(field.editor);
    Editor(field.editor)->Type("");
    Validate();
    // A blank run-time editor is a missing run-time directory as well, and that message is
    // the more telling one; a blank field checked before it is reported first.
    if (std::string(field.editor) == "QIMRTEditor") {
      ExpectReported("QIMSetupPage", "RunTimeDirField", "QIMRunTimeLabel");
    } else {
      ExpectReported(field.page, "BlankField", field.label);
    }
  }
}

TEST_F(ValidationTest, OnlyBlanksMakeAFieldBlank) {
  struct Case {
    const char* value;
    bool blank;
    const char* reason;
  } const cases[] = {
      {"", true, "empty"},
      {"    ", true, "blanks only"},
      {"\t", false, "a tab is text"},
      {" x ", false, "text between blanks"},
  };
  ZAFDlgEditor* editor = Editor("DatabasePortEditor");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    editor->Type(c.value);
    EXPECT_EQ(plugin.CheckEmptyEditor(editor), c.blank ? 1 : 0);
    Validate();
    if (c.blank) {
      ExpectReported("QIMDatabasePage", "BlankField", "DatabasePortLabel");
    } else {
      ExpectAccepted();
    }
  }
  EXPECT_EQ(plugin.CheckEmptyEditor(nullptr), 1) << "a missing editor counts as blank";
}

TEST_F(ValidationTest, AMissingRunTimeDirectoryIsReported) {
  Editor("QIMRTEditor")->Type(runTimeDirectory.File("missing"));
  Validate();
  ExpectReported("QIMSetupPage", "RunTimeDirField", "QIMRunTimeLabel");
}

TEST_F(ValidationTest, TheRunTimeDirectoryIsLookedUpWithoutOuterBlanks) {
  Editor("QIMRTEditor")->Type("  " + runTimeDirectory.path() + " ");
  Validate();
  ExpectAccepted();
}

// Our choice when both fail: the blank field, which has to be filled in anyway.
TEST_F(ValidationTest, ABlankFieldComesBeforeAMissingRunTimeDirectory) {
  Editor("QIMRTEditor")->Type(runTimeDirectory.File("missing"));
  Editor("SMTPEditor")->Type("");
  Validate();
  ExpectReported("QIMMessageQueuesPage", "BlankField", "SMTPLabel");
}

TEST_F(ValidationTest, NothingIsCheckedWhileThePlugInIsDisabled) {
  CheckButton("EnableQimPlugIn")->SetState(ZAF_UNCHECKED, 1);
  for (const RequiredField& field : kRequired) {
    Editor(field.editor)->Type("");
  }
  Validate();
  ExpectAccepted();
}

}  // namespace
