#pragma once
// The plug-in with its protected members opened up for the tests, and a fixture that owns a
// recording host, a tab container and a built plug-in.

#include <memory>

#include <gtest/gtest.h>

#include "plugin/QimSetupPlugIn.h"
#include "tests/support/test_support.h"

namespace qimtest {

class TestablePlugIn : public QimSetupPlugIn {
 public:
  using QimSetupPlugIn::CheckEmptyEditor;
  using QimSetupPlugIn::DataSource;
  using QimSetupPlugIn::GetMessage;
  using QimSetupPlugIn::HarnessFlag;
  using QimSetupPlugIn::Repository;
};

// Looks a widget up by resource name and type; fails the test when it is missing.
template <typename Widget>
Widget* FindWidget(ZAFDialog& root, const char* name) {
  auto* widget = dynamic_cast<Widget*>(root.FindByName(name));
  EXPECT_NE(widget, nullptr) << "no widget " << name;
  return widget;
}

// A plug-in built on a fresh tab container with a recording host, the shipped catalogs and
// preferences in memory.
class BuiltPlugInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin.SetHost(&host);
    plugin.BuildUserInterface(container.get());
  }

  ZAFDlgEditor* Editor(const char* name) { return FindWidget<ZAFDlgEditor>(*container, name); }
  ZAFDlgCheckButton* CheckButton(const char* name) {
    return FindWidget<ZAFDlgCheckButton>(*container, name);
  }

  ScopedHost scopedHost;
  RecordingHost host;
  std::unique_ptr<ZAFDlgTabContainer> container = std::make_unique<ZAFDlgTabContainer>();
  TestablePlugIn plugin;
};

}  // namespace qimtest
