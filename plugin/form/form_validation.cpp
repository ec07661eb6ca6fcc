// Validation of the operator's input before a deployment: the run-time directory must exist
// and twenty-six fields must not be blank. Only the first failure is reported.

#include <iterator>

#include "QimSetupPlugIn.h"
#include "host/zaf_system.h"
#include "plugin_util.h"

// A field that must not be blank, with the page that shows it and the label that names it.
struct QimSetupPlugIn::RequiredEditor {
  ZAFDlgEditor* QimSetupPlugIn::*editor;
  ZAFDlgTabPage* QimSetupPlugIn::*page;
  ZAFDlgLabel* QimSetupPlugIn::*label;
};

namespace {
// Short for the class whose members the tables point into.
using Q = QimSetupPlugIn;

// A message of the catalog: its title key and its text key, the text taking the title of the
// offending field's label as its one parameter.
struct FailureMessage {
  const char* titleKey;
  const char* textKey;
};
constexpr FailureMessage kBlankField{"BlankField.Title", "BlankField.Text"};
constexpr FailureMessage kMissingRunTimeDirectory{"RunTimeDirField.Title", "RunTimeDirField.Text"};

// True when the editor's text, stripped of outer blanks, names a directory that opens. A blank
// text names none.
bool DirectoryOpens(const ZAFDlgEditor* editor) {
  ZAFDIR directory;
  return ZAFOpenDirectory(qim::StrippedText(editor).c_str(), &directory) >= 0;
}

ZAFUnicodeString TitleOf(const ZAFDlgLabel* label) {
  return label != nullptr ? label->GetTitle() : ZAFUnicodeString();
}
}  // namespace

// The required fields in the order they are checked; the first blank one is reported.
const QimSetupPlugIn::RequiredEditor QimSetupPlugIn::RequiredEditors[] = {
    {&Q::QIMEditor, &Q::QIMSetupPage, &Q::QIMInstallLabel},
    {&Q::QIMRTEditor, &Q::QIMSetupPage, &Q::QIMRunTimeLabel},
    {&Q::MQSEditor, &Q::QIMSetupPage, &Q::MQSLabel},
    {&Q::NUVEditor, &Q::QIMSetupPage, &Q::NUVLabel},
    {&Q::DatabaseNameEditor, &Q::QIMDatabasePage, &Q::DatabaseNameLabel},
    {&Q::DatabaseHostEditor, &Q::QIMDatabasePage, &Q::DatabaseHostLabel},
    {&Q::DatabasePortEditor, &Q::QIMDatabasePage, &Q::DatabasePortLabel},
    {&Q::DatabaseUserEditor, &Q::QIMDatabasePage, &Q::DatabaseUserLabel},
    {&Q::DatabasePasswordEditor, &Q::QIMDatabasePage, &Q::DatabasePasswordLabel},
    {&Q::JndiNameEditor, &Q::QIMDatabasePage, &Q::JndiNameLabel},
    {&Q::MsqUserEditor, &Q::QIMMessageQueuesPage, &Q::MsqUserLabel},
    {&Q::MsqCfgEditor, &Q::QIMMessageQueuesPage, &Q::MsqCfgLabel},
    {&Q::MsqPassEditor, &Q::QIMMessageQueuesPage, &Q::MsqPassLabel},
    {&Q::MsqWTEditor, &Q::QIMMessageQueuesPage, &Q::MsqWTLabel},
    {&Q::SMTPEditor, &Q::QIMMessageQueuesPage, &Q::SMTPLabel},
    {&Q::NUVNavServerEditor, &Q::QIMMessageQueuesPage, &Q::NUVNavServerLabel},
    {&Q::QIMMQNameEditor, &Q::QIMMessageQueuesPage, &Q::QIMMQNameLabel},
    {&Q::QIMMQDLEditor, &Q::QIMMessageQueuesPage, &Q::QIMMQDLLabel},
    {&Q::QIMIPEditor, &Q::QIMMessageQueuesPage, &Q::QIMIPLabel},
    {&Q::QIMPortEditor, &Q::QIMMessageQueuesPage, &Q::QIMPortLabel},
    {&Q::NUVMQNameEditor, &Q::QIMMessageQueuesPage, &Q::NUVMQNameLabel},
    {&Q::FMCIPEditor, &Q::QIMMessageQueuesPage, &Q::FMCIPLabel},
    {&Q::FMCPortEditor, &Q::QIMMessageQueuesPage, &Q::FMCPortLabel},
    {&Q::NUVMQDLEditor, &Q::QIMMessageQueuesPage, &Q::NUVMQDLLabel},
    {&Q::NUVIPEditor, &Q::QIMMessageQueuesPage, &Q::NUVIPLabel},
    {&Q::NUVPortEditor, &Q::QIMMessageQueuesPage, &Q::NUVPortLabel},
};

// When the run-time directory cannot be opened and a required field is blank as well, the two
// failures can disagree about what to report. We report the first blank field when it is some
// field other than the run-time editor (its own page and label, with the blank-field message):
// the operator has to fill it in any case. The run-time message on the setup page, naming the
// run-time label, is reported when the run-time editor is itself the first blank field or when
// no field is blank at all.
void QimSetupPlugIn::ValidateUserInputData(ZAFDlgTabPage*& page, ZAFUnicodeString& title,
                                           ZAFUnicodeString& text) {
  Trace("Validate User Input");
  page = nullptr;
  if (!IsPlugInEnabled() && !InHarnessMode()) {
    return;
  }
  // Test-harness runs have no real run-time directory, so its absence is not reported there.
  const bool runTimeDirectoryMissing = !DirectoryOpens(QIMRTEditor) && !InHarnessMode();
  const RequiredEditor* blank = FirstBlankEditor();
  if (blank != nullptr && !(runTimeDirectoryMissing && blank->editor == &Q::QIMRTEditor)) {
    ReportInvalidField(this->*blank->page, this->*blank->label, kBlankField.titleKey,
                       kBlankField.textKey, page, title, text);
  } else if (runTimeDirectoryMissing) {
    ReportInvalidField(QIMSetupPage, QIMRunTimeLabel, kMissingRunTimeDirectory.titleKey,
                       kMissingRunTimeDirectory.textKey, page, title, text);
  }
}

const QimSetupPlugIn::RequiredEditor* QimSetupPlugIn::FirstBlankEditor() {
  static_assert(std::size(RequiredEditors) == 26, "26 fields are required");
  for (const RequiredEditor& required : RequiredEditors) {
    if (CheckEmptyEditor(this->*required.editor) == 1) {
      return &required;
    }
  }
  return nullptr;
}

// A page that does not exist cannot be shown, so without one nothing is reported and title
// and text stay as they were.
void QimSetupPlugIn::ReportInvalidField(ZAFDlgTabPage* fieldPage, const ZAFDlgLabel* label,
                                        const char* titleKey, const char* textKey,
                                        ZAFDlgTabPage*& page, ZAFUnicodeString& title,
                                        ZAFUnicodeString& text) {
  if (fieldPage == nullptr) {
    return;
  }
  page = fieldPage;
  ZAFUnicodeString fieldName = TitleOf(label);
  GetMessage(titleKey, title, nullptr, 0);
  GetMessage(textKey, text, &fieldName, 1);
}

// Only the blank counts as empty space: a tab, for one, makes the text non-empty.
int QimSetupPlugIn::CheckEmptyEditor(ZAFDlgEditor* editor) {
  return qim::StrippedText(editor).GetLengthInChar() == 0 ? 1 : 0;
}
