// The command tags: which commands the host runs, in which order, and what it shows when one
// of them fails.

#include <iterator>

#include "commands/command_context.h"
#include "plugin_util.h"

const char QimSetupPlugIn::CommandTagTable[16][16] = {
    "qim_copy",       "java_qim",    "java_app",       "java_qimdef",
    "java_nuvdef",    "java_fmcdef", "java_qimcreate", "java_nuvcreate",
    "java_fmccreate", "java_zafenv", "java_dbsetup",   "java_db2file",
    "java_runbat",    "java_xml1",   "java_xml2",      "java_cp"};

static_assert(std::size(QimSetupPlugIn::CommandTagTable) == qim::kCommandTagRows,
              "every row of the tag table has a CommandTagRow");

namespace qim {
namespace {

// The commands every deployment runs, in the order the host runs them. It is not the table's
// order: the two XML commands come before the database file, the environment files last.
// "java_dbsetup" follows them when the operator asked for the database to be created;
// "java_runbat" and "java_cp" are never handed out.
constexpr CommandTagRow kListedCommands[] = {
    kQimCopy,    kJavaQim,       kJavaApp,       kJavaQimDef,    kJavaNuvDef,
    kJavaFmcDef, kJavaQimCreate, kJavaNuvCreate, kJavaFmcCreate, kJavaXml1,
    kJavaXml2,   kJavaDb2File,   kJavaZafEnv};

// The catalog text shown when a command fails; commands without one get no message.
struct ErrorTextKey {
  CommandTagRow row;
  const char* key;
};
constexpr ErrorTextKey kErrorTextKeys[] = {
    {kJavaQim, "ErrorCreate.Text"},          {kJavaApp, "ErrorApp.Text"},
    {kJavaQimDef, "ErrorQIMDef.Text"},       {kJavaNuvDef, "ErrorNUVDef.Text"},
    {kJavaFmcDef, "ErrorFMCDef.Text"},       {kJavaQimCreate, "ErrorQIMCreate.Text"},
    {kJavaNuvCreate, "ErrorNUVCreate.Text"}, {kJavaFmcCreate, "ErrorFMCCreate.Text"},
    {kJavaRunBat, "ErrorBatch.Text"},        {kJavaXml1, "ErrorNUVXML.Text"},
    {kJavaXml2, "ErrorBRAXXML.Text"}};

// Every failing command that has a text shares this title.
constexpr const char* kErrorTitleKey = "ErrorJava.Title";

const char* ErrorTextKeyOf(int row) {
  for (const ErrorTextKey& entry : kErrorTextKeys) {
    if (entry.row == row) {
      return entry.key;
    }
  }
  return nullptr;
}

}  // namespace

int CommandTagRowOf(const void* tag) {
  for (int row = 0; row < kCommandTagRows; ++row) {
    if (tag == QimSetupPlugIn::CommandTagTable[row]) {
      return row;
    }
  }
  return kNoCommandTagRow;
}

}  // namespace qim

void QimSetupPlugIn::GetCommandTags(ZAFRawCollPV& tags) {
  Trace("GetCommandTags .... ");
  tags.RemoveAll();
  if (!CommandsAllowed()) {
    return;
  }
  for (qim::CommandTagRow row : qim::kListedCommands) {
    tags.Append(CommandTagTable[row]);
  }
  if (qim::IsChecked(EnableCreateDatabase)) {
    tags.Append(CommandTagTable[qim::kJavaDbSetup]);
  }
}

// The status argument tells nothing the detail text does not: every failure of a command gets
// the same message.
void QimSetupPlugIn::GetCommandErrorMessage(const void* tag, int /*status*/,
                                            const ZAFUnicodeString& detail, ZAFUnicodeString& title,
                                            ZAFUnicodeString& text) {
  title = "";
  text = "";
  ZAFUnicodeString parameter = detail;
  const char* textKey = qim::ErrorTextKeyOf(qim::CommandTagRowOf(tag));
  if (textKey == nullptr) {
    return;
  }
  GetMessage(qim::kErrorTitleKey, title, nullptr, 0);
  GetMessage(textKey, text, &parameter, 1);
}
