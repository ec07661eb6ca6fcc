#pragma once
// Helpers of the plug-in's tests, and a built, enabled plug-in.

#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "host/zaf_host.h"
#include "test_support.h"
#include "testable_plugin.h"

namespace qimtest {

// Looks a widget up by resource name and type; fails the test when it is missing.
template <typename Widget>
Widget* FindWidget(ZAFDialog& root, const char* name) {
  auto* widget = root.FindDescendantOfType<Widget>(name);
  EXPECT_NE(widget, nullptr) << "no widget " << name;
  return widget;
}

using Texts = std::vector<std::string>;

inline Texts Split(const std::string& text, char separator = ' ') {
  Texts items;
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, separator);)
    items.push_back(item);
  return items;
}

inline std::string Join(const Texts& items, const std::string& separator = "|") {
  std::string joined;
  for (std::size_t i = 0; i < items.size(); ++i)
    joined += (i == 0 ? "" : separator) + items[i];
  return joined;
}

// "key1|key2=value1|value2": the two lists side by side.
inline std::string Pairs(const ZAFListValZAFUnicodeString& keys,
                         const ZAFListValZAFUnicodeString& values) {
  return Join(ToVector(keys)) + "=" + Join(ToVector(values));
}

// The table's own pointer for a tag text; null when the text is no tag.
inline const void* Tag(const std::string& text) {
  for (const auto& row : QimSetupPlugIn::CommandTagTable)
    if (text == row)
      return row;
  return nullptr;
}

// A plug-in built on a fresh tab container with a recording host, the shipped catalogs and
// preferences in memory, enabled by the shipped defaults. Joins put one backslash: the commands
// come out exactly as on the Windows sites they are written for.
class PlugInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zaf::SetPathSeparator('\\');
    plugin.SetHost(&host);
    plugin.BuildUserInterface(container.get());
  }

  ZAFDlgEditor* Editor(const char* name) { return FindWidget<ZAFDlgEditor>(*container, name); }
  ZAFDlgCheckButton* CheckButton(const char* name) {
    return FindWidget<ZAFDlgCheckButton>(*container, name);
  }
  void Check(const char* name, bool checked) {
    CheckButton(name)->SetState(checked ? ZAF_CHECKED : ZAF_UNCHECKED, 1);
  }
  // Sets editors' texts (of the form, or of the tree below `root`), given as
  // "Editor=text|Editor=text".
  void Fill(const std::string& texts, ZAFDialog* root = nullptr) {
    for (const std::string& item : Split(texts, '|'))
      FindWidget<ZAFDlgEditor>(root != nullptr ? *root : *container,
                               item.substr(0, item.find('=')).c_str())
          ->SetText(item.substr(item.find('=') + 1), 1);
  }
  std::string CommandLine(const void* tag) {  // for any pointer, a tag or not
    ZAFUnicodeString commandLine = "not cleared";
    plugin.GetCommandString(tag, commandLine);
    return commandLine.str();
  }
  // The command lines of the tags (separated by blanks), joined by '|'.
  std::string CommandsFor(const std::string& tags) {
    Texts lines;
    for (const std::string& tag : Split(tags))
      lines.push_back(CommandLine(Tag(tag)));
    return Join(lines);
  }
  std::string FmcJarPathReported() {
    ZAFListValZAFUnicodeString names, values;
    plugin.GetJavaVariables(names, values);
    return values[1].str();
  }
  // What validating (this plug-in's form, or `other`'s) reports: the page, the title and the
  // text; markers show what stayed untouched.
  std::string Validate(QimSetupPlugIn* other = nullptr) {
    ZAFDlgTabPage* page = container->FindDescendantOfType<ZAFDlgTabPage>("QIMSetupPage");
    ZAFUnicodeString title = "untouched", text = "untouched";
    (other != nullptr ? *other : plugin).ValidateUserInputData(page, title, text);
    return (page ? page->GetResourceName().str() : "no page") + "|" + title.str() + "|" +
           text.str();
  }
  const std::string kAccepted = "no page|untouched|untouched";
  int StoredCount() {  // -1 when nothing is stored
    int count = -1;
    plugin.GetPreferenceRepository()->ReadPreference("count", &count, 1);
    return count;
  }

  ScopedHost scopedHost;
  RecordingHost host;
  std::unique_ptr<ZAFDlgTabContainer> container = std::make_unique<ZAFDlgTabContainer>();
  TestablePlugIn plugin;
};

}  // namespace qimtest
