#pragma once
// A built plug-in for the deployment-command tests: a recording host, the shipped catalogs,
// preferences in memory and a path join with a chosen separator. With the backslash the
// commands come out exactly as on a Windows site.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/testable_plugin.h"

namespace qimtest {

// The table's own pointer for a tag text; a test failure when the text is no tag.
inline const void* Tag(const char* text) {
  for (const auto& row : QimSetupPlugIn::CommandTagTable) {
    if (std::strcmp(row, text) == 0) {
      return row;
    }
  }
  ADD_FAILURE() << "no tag " << text;
  return nullptr;
}

// The texts of a list of tags, in order.
inline std::vector<std::string> TagTexts(const ZAFRawCollPV& tags) {
  std::vector<std::string> texts;
  for (int position = 1; position <= tags.Size(); ++position) {
    texts.emplace_back(static_cast<const char*>(tags[position]));
  }
  return texts;
}

inline const std::vector<std::string> kJvmOptions = {"-DLoadJars=QimPlugInBatch.jar"};

template <char Separator>
class CommandsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin.SetHost(&host);
    plugin.BuildUserInterface(container.get());
    SetChecked("EnableQimPlugIn", true);
  }

  ZAFDlgEditor* Editor(const char* name) { return FindWidget<ZAFDlgEditor>(*container, name); }

  void SetEditor(const char* name, const std::string& text) {
    if (ZAFDlgEditor* editor = Editor(name)) {
      editor->SetText(text, 1);
    }
  }

  void SetChecked(const char* name, bool checked) {
    if (auto* button = FindWidget<ZAFDlgCheckButton>(*container, name)) {
      button->SetState(checked ? ZAF_CHECKED : ZAF_UNCHECKED, 1);
    }
  }

  // The command line the plug-in gives for the tag.
  std::string CommandFor(const char* tag) {
    ZAFUnicodeString commandLine = "not cleared";
    plugin.GetCommandString(Tag(tag), commandLine);
    return commandLine.str();
  }

  std::string FmcJarPathReported() {
    ZAFListValZAFUnicodeString names;
    ZAFListValZAFUnicodeString values;
    plugin.GetJavaVariables(names, values);
    return values.Size() == 1 ? values[1].str() : "";
  }

  // The directories of the worked examples, with blanks that must not reach the commands.
  void FillExampleDirectories() {
    SetEditor("QIMRTEditor", "D:\\QIMRT ");
    SetEditor("QIMEditor", " C:\\QIM");
    SetEditor("MQSEditor", "C:\\MQS");
    SetEditor("MQWFEditor", "C:\\MQWF");
    SetEditor("JHOMEEditor", "C:\\Java");
    SetEditor("NUVEditor", "C:\\NUV");
    SetEditor("WASEditor", "C:\\WAS");
    SetEditor("MsqCfgEditor", "FMC");
  }

  ScopedHost scopedHost{QIM_SOURCE_CATALOG_DIR, "", Separator};
  RecordingHost host;
  std::unique_ptr<ZAFDlgTabContainer> container = std::make_unique<ZAFDlgTabContainer>();
  TestablePlugIn plugin;
};

// Joins put one backslash, as on the Windows sites the commands are written for.
using BackslashCommandsTest = CommandsFixture<'\\'>;

}  // namespace qimtest
