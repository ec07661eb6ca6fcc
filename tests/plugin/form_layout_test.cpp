// The pages of the form: every widget's class, parent, style, grid place and title checked
// against the documented layout, the fill from defaults or stored settings, and a build that
// survives the host's allocator failing.

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/testable_plugin.h"

namespace {

using qimtest::BuiltPlugInTest;
using qimtest::FindWidget;
using qimtest::MakeList;
using qimtest::RecordingHost;
using qimtest::ScopedHost;
using qimtest::TempDir;
using qimtest::TestablePlugIn;

constexpr int kOnTab = -1;  // pages have no grid place

struct ExpectedWidget {
  const char* name;
  const char* className;
  const char* parent;
  std::uint32_t style;
  int row;
  int column;
  int columnSpan;
  std::uint32_t justification;
};

// The documented layout, in the order a depth-first walk of the container meets the widgets:
// each parent's children in the order they were created.
// clang-format off
const ExpectedWidget kLayout[] = {
  {"QIMSetupPage", "ZAFDlgTabPage", "TabContainer", 0x1, kOnTab, 0, 0, 0},
  {"EnableQimPlugIn", "ZAFDlgCheckButton", "QIMSetupPage", 0, 0, 0, 1, 0x1E},
  {"QimSetupFrame", "ZAFDlgFrame", "QIMSetupPage", 0x1, 1, 0, 2, 0x1E},
  {"QIMRunTimeLabel", "ZAFDlgLabel", "QimSetupFrame", 0, 0, 0, 1, 0x7A},
  {"QIMRTEditor", "ZAFDlgEditor", "QimSetupFrame", 0, 0, 1, 1, 0x1E},
  {"BrowseQIMRT", "ZAFDlgPushButton", "QimSetupFrame", 0, 0, 2, 1, 0x1E},
  {"QIMInstallLabel", "ZAFDlgLabel", "QimSetupFrame", 0, 1, 0, 1, 0x7A},
  {"QIMEditor", "ZAFDlgEditor", "QimSetupFrame", 0, 1, 1, 1, 0x1E},
  {"BrowseQIM", "ZAFDlgPushButton", "QimSetupFrame", 0, 1, 2, 1, 0x1E},
  {"MQSLabel", "ZAFDlgLabel", "QimSetupFrame", 0, 2, 0, 1, 0x7A},
  {"MQSEditor", "ZAFDlgEditor", "QimSetupFrame", 0, 2, 1, 1, 0x1E},
  {"BrowseMQS", "ZAFDlgPushButton", "QimSetupFrame", 0, 2, 2, 1, 0x1E},
  {"MQWFLabel", "ZAFDlgLabel", "QimSetupFrame", 0, 3, 0, 1, 0x7A},
  {"MQWFEditor", "ZAFDlgEditor", "QimSetupFrame", 0, 3, 1, 1, 0x1E},
  {"BrowseMQWF", "ZAFDlgPushButton", "QimSetupFrame", 0, 3, 2, 1, 0x1E},
  {"NUVLabel", "ZAFDlgLabel", "QimSetupFrame", 0, 4, 0, 1, 0x7A},
  {"NUVEditor", "ZAFDlgEditor", "QimSetupFrame", 0, 4, 1, 1, 0x1E},
  {"BrowseNUV", "ZAFDlgPushButton", "QimSetupFrame", 0, 4, 2, 1, 0x1E},
  {"WASLabel", "ZAFDlgLabel", "QimSetupFrame", 0, 5, 0, 1, 0x7A},
  {"WASEditor", "ZAFDlgEditor", "QimSetupFrame", 0, 5, 1, 1, 0x1E},
  {"BrowseWAS", "ZAFDlgPushButton", "QimSetupFrame", 0, 5, 2, 1, 0x1E},
  {"JHOMELabel", "ZAFDlgLabel", "QimSetupFrame", 0, 6, 0, 1, 0x7A},
  {"JHOMEEditor", "ZAFDlgEditor", "QimSetupFrame", 0, 6, 1, 1, 0x1E},
  {"BrowseJHOME", "ZAFDlgPushButton", "QimSetupFrame", 0, 6, 2, 1, 0x1E},
  {"QIMDatabasePage", "ZAFDlgTabPage", "TabContainer", 0x1, kOnTab, 0, 0, 0},
  {"DatabaseFrame", "ZAFDlgFrame", "QIMDatabasePage", 0x1, 0, 0, 2, 0x1E},
  {"DatabaseNameLabel", "ZAFDlgLabel", "DatabaseFrame", 0, 0, 0, 1, 0x7A},
  {"DatabaseNameEditor", "ZAFDlgEditor", "DatabaseFrame", 0, 0, 1, 1, 0x1E},
  {"DatabaseHostLabel", "ZAFDlgLabel", "DatabaseFrame", 0, 1, 0, 1, 0x7A},
  {"DatabaseHostEditor", "ZAFDlgEditor", "DatabaseFrame", 0, 1, 1, 1, 0x1E},
  {"DatabasePortLabel", "ZAFDlgLabel", "DatabaseFrame", 0, 2, 0, 1, 0x7A},
  {"DatabasePortEditor", "ZAFDlgEditor", "DatabaseFrame", 0, 2, 1, 1, 0x1E},
  {"DatabaseUserLabel", "ZAFDlgLabel", "DatabaseFrame", 0, 3, 0, 1, 0x7A},
  {"DatabaseUserEditor", "ZAFDlgEditor", "DatabaseFrame", 0, 3, 1, 1, 0x1E},
  {"DatabasePasswordLabel", "ZAFDlgLabel", "DatabaseFrame", 0, 4, 0, 1, 0x1E},
  {"DatabasePasswordEditor", "ZAFDlgEditor", "DatabaseFrame", 0x40000, 4, 1, 1, 0x1E},
  {"JndiNameLabel", "ZAFDlgLabel", "DatabaseFrame", 0, 5, 0, 1, 0x1E},
  {"JndiNameEditor", "ZAFDlgEditor", "DatabaseFrame", 0, 5, 1, 1, 0x1E},
  {"EnableCreateDatabase", "ZAFDlgCheckButton", "DatabaseFrame", 0, 6, 0, 1, 0x1E},
  {"QIMMessageQueuesPage", "ZAFDlgTabPage", "TabContainer", 0x1, kOnTab, 0, 0, 0},
  {"MessageQueuesFrame", "ZAFDlgFrame", "QIMMessageQueuesPage", 0x1, 0, 0, 2, 0x1E},
  {"MsqCfgLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 1, 0, 1, 0x7A},
  {"MsqCfgEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0, 1, 1, 1, 0x1E},
  {"MsqUserLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 1, 2, 1, 0x7A},
  {"MsqUserEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0, 1, 3, 1, 0x1E},
  {"MsqPassLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 2, 0, 1, 0x7A},
  {"MsqPassEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0x40000, 2, 1, 1, 0x1E},
  {"MsqWTLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 2, 2, 1, 0x7A},
  {"MsqWTEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0, 2, 3, 1, 0x1E},
  {"SMTPLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 3, 0, 1, 0x7A},
  {"SMTPEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0, 3, 1, 1, 0x1E},
  {"NUVNavServerLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 3, 2, 1, 0x7A},
  {"NUVNavServerEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0, 3, 3, 1, 0x1E},
  {"NUVNavPortLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 4, 0, 1, 0x7A},
  {"NUVNavPortEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0, 4, 1, 1, 0x1E},
  {"NUVNavServletLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 4, 2, 1, 0x7A},
  {"NUVNavServletEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0, 4, 3, 1, 0x1E},
  {"QIMMQNameLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 5, 0, 1, 0x7A},
  {"QIMMQNameEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0, 5, 1, 1, 0x1E},
  {"QIMMQDLLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 5, 2, 1, 0x7A},
  {"QIMMQDLEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0, 5, 3, 1, 0x1E},
  {"QIMIPLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 6, 0, 1, 0x7A},
  {"QIMIPEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0, 6, 1, 1, 0x1E},
  {"QIMPortLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 6, 2, 1, 0x7A},
  {"QIMPortEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0, 6, 3, 1, 0x1E},
  {"FMCIPLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 7, 0, 1, 0x7A},
  {"FMCIPEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0, 7, 1, 1, 0x1E},
  {"FMCPortLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 7, 2, 1, 0x7A},
  {"FMCPortEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0, 7, 3, 1, 0x1E},
  {"NUVMQNameLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 8, 0, 1, 0x7A},
  {"NUVMQNameEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0, 8, 1, 1, 0x1E},
  {"NUVMQDLLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 8, 2, 1, 0x7A},
  {"NUVMQDLEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0, 8, 3, 1, 0x1E},
  {"NUVIPLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 9, 0, 1, 0x7A},
  {"NUVIPEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0, 9, 1, 1, 0x1E},
  {"NUVPortLabel", "ZAFDlgLabel", "MessageQueuesFrame", 0, 9, 2, 1, 0x7A},
  {"NUVPortEditor", "ZAFDlgEditor", "MessageQueuesFrame", 0, 9, 3, 1, 0x1E},
};
// clang-format on

struct Stretch {
  std::vector<int> rows;
  std::vector<int> columns;
};

// The grids that take the extra space when the dialog grows; every other grid takes none.
const std::map<std::string, Stretch> kStretches = {
    {"QIMSetupPage", {{}, {1}}},          {"QimSetupFrame", {{}, {1}}},
    {"QIMDatabasePage", {{}, {1}}},       {"DatabaseFrame", {{}, {1}}},
    {"QIMMessageQueuesPage", {{0}, {1}}},
};

// Every widget below `root`, depth first, each parent's children in creation order.
void CollectWidgets(const ZAFDialog& root, std::vector<const ZAFDialog*>& widgets) {
  for (const ZAFDialog* child : root.GetChildren()) {
    widgets.push_back(child);
    CollectWidgets(*child, widgets);
  }
}

class BuiltFormTest : public BuiltPlugInTest {};

std::vector<const ZAFDialog*> AllWidgets(const ZAFDialog& root) {
  std::vector<const ZAFDialog*> widgets;
  CollectWidgets(root, widgets);
  return widgets;
}

// The catalog key of a widget's title, or "" for an editor, which has none.
std::string TitleKeyOf(const ExpectedWidget& expected) {
  if (std::string(expected.className) == "ZAFDlgEditor") {
    return "";
  }
  if (std::string(expected.name) == "EnableQimPlugIn") {
    return "EnableQIMPlugIn.Title";  // its key's letter case differs from the name
  }
  return std::string(expected.name) + ".Title";
}

TEST_F(BuiltFormTest, EveryWidgetMatchesTheDocumentedLayout) {
  const std::vector<const ZAFDialog*> widgets = AllWidgets(*container);
  ASSERT_EQ(widgets.size(), std::size(kLayout));
  for (std::size_t i = 0; i < widgets.size(); ++i) {
    const ZAFDialog& widget = *widgets[i];
    const ExpectedWidget& expected = kLayout[i];
    SCOPED_TRACE(expected.name);
    EXPECT_EQ(widget.GetResourceName().str(), expected.name);
    EXPECT_STREQ(widget.GetClassName(), expected.className);
    EXPECT_EQ(widget.GetParent()->GetResourceName().str(), expected.parent);
    EXPECT_EQ(widget.GetStyle(), expected.style);

    const auto& place = widget.GetGridConstraints();
    if (expected.row == kOnTab) {
      EXPECT_FALSE(place.has_value());
    } else {
      ASSERT_TRUE(place.has_value());
      EXPECT_EQ(place->row, expected.row);
      EXPECT_EQ(place->column, expected.column);
      EXPECT_EQ(place->columnSpan, expected.columnSpan);
      EXPECT_EQ(place->rowSpan, 1);
      EXPECT_EQ(place->justification, expected.justification);
    }

    const auto stretch = kStretches.find(expected.name);
    const Stretch none;
    const Stretch& expectedStretch = stretch != kStretches.end() ? stretch->second : none;
    EXPECT_EQ(widget.GetResizableRows(), expectedStretch.rows);
    EXPECT_EQ(widget.GetResizableColumns(), expectedStretch.columns);

    // With the shipped catalog every title is the catalog's text for the widget's key, never
    // the raw key; editors get no title at all.
    const std::string key = TitleKeyOf(expected);
    EXPECT_EQ(widget.HasTitle(), !key.empty());
    if (!key.empty()) {
      ZAFUnicodeString catalogText;
      plugin.GetMessage(key.c_str(), catalogText, nullptr, 0);
      EXPECT_NE(catalogText.str(), key) << "the shipped catalog lacks " << key;
      EXPECT_EQ(widget.GetTitle().str(), catalogText.str());
    }
  }
}

TEST(FormLayoutTest, WithoutACatalogEveryTitleIsItsKey) {
  TempDir emptyCatalogs;
  ScopedHost scopedHost(emptyCatalogs.path());
  ZAFDlgTabContainer container;
  TestablePlugIn plugin;
  plugin.BuildUserInterface(&container);

  const std::vector<const ZAFDialog*> widgets = AllWidgets(container);
  ASSERT_EQ(widgets.size(), std::size(kLayout));
  for (std::size_t i = 0; i < widgets.size(); ++i) {
    const std::string key = TitleKeyOf(kLayout[i]);
    if (!key.empty()) {
      EXPECT_EQ(widgets[i]->GetTitle().str(), key);
    }
  }
}

TEST(FormLayoutTest, NullContainerBuildsAndFillsNothing) {
  ScopedHost scopedHost;
  RecordingHost host;
  TestablePlugIn plugin;
  plugin.SetHost(&host);
  plugin.BuildUserInterface(nullptr);

  EXPECT_EQ(host.serverSettingsCalls, 0) << "the defaults must not even be read";
  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;
  plugin.GetUserInterfaceFields(keys, values);
  ASSERT_EQ(keys.Size(), 33);
  EXPECT_EQ(values[1], "false") << "no check button exists to be checked";
}

// Nothing is stored on a first run, so the defaults are read, the store is asked, and the
// defaults are read once more.
TEST_F(BuiltFormTest, FirstRunShowsTheInstallationDefaults) {
  EXPECT_EQ(host.serverSettingsCalls, 2);
  EXPECT_TRUE(CheckButton("EnableQimPlugIn")->IsChecked());
  EXPECT_FALSE(CheckButton("EnableCreateDatabase")->IsChecked());
  EXPECT_EQ(Editor("DatabaseNameEditor")->GetText(), "QIMDB");
  EXPECT_EQ(Editor("DatabasePasswordEditor")->GetText(), " ") << "an empty default is a blank";
  EXPECT_EQ(Editor("QIMRTEditor")->GetText(), "") << "the run-time directory has no default";
  EXPECT_TRUE(FindWidget<ZAFDialog>(*container, "QimSetupFrame")->IsUsable());
}

TEST_F(BuiltFormTest, StoredSettingsReplaceTheDefaultsWholly) {
  plugin.WritePrefToRepository(MakeList({"databaseName", "qimdirrt"}),
                               MakeList({"STOREDDB", "/stored/rt"}));
  RecordingHost secondHost;
  ZAFDlgTabContainer secondContainer;
  TestablePlugIn second;
  second.SetHost(&secondHost);
  second.BuildUserInterface(&secondContainer);

  EXPECT_EQ(secondHost.serverSettingsCalls, 1) << "the defaults are read only once";
  auto editor = [&](const char* name) { return FindWidget<ZAFDlgEditor>(secondContainer, name); };
  EXPECT_EQ(editor("DatabaseNameEditor")->GetText(), "STOREDDB");
  EXPECT_EQ(editor("QIMRTEditor")->GetText(), "/stored/rt");
  EXPECT_EQ(editor("DatabaseHostEditor")->GetText(), "") << "no default is merged in";
  EXPECT_FALSE(FindWidget<ZAFDlgCheckButton>(secondContainer, "EnableQimPlugIn")->IsChecked());
  EXPECT_FALSE(FindWidget<ZAFDialog>(secondContainer, "QimSetupFrame")->IsUsable());
}

TEST_F(BuiltFormTest, SettingsReadFromOneFormFillTheNextOne) {
  Editor("SMTPEditor")->Type("  mail.example.com ");
  CheckButton("EnableCreateDatabase")->Toggle();
  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;
  plugin.GetUserInterfaceFields(keys, values);

  ZAFDlgTabContainer secondContainer;
  TestablePlugIn second;
  second.BuildUserInterface(&secondContainer);
  EXPECT_EQ(FindWidget<ZAFDlgEditor>(secondContainer, "SMTPEditor")->GetText(), "mail.example.com");
  EXPECT_TRUE(FindWidget<ZAFDlgCheckButton>(secondContainer, "EnableCreateDatabase")->IsChecked());
  EXPECT_EQ(FindWidget<ZAFDlgEditor>(secondContainer, "DatabaseNameEditor")->GetText(), "QIMDB");
}

// The host's allocator fails exactly once, for the allocation the parameter numbers (from 0
// at the start of the build). The widget it was for, and everything that would have been
// inside it, is missing; every operation of the form must carry on without it.
class FailingAllocationTest : public ::testing::TestWithParam<int> {
 protected:
  static void* FailOnce(std::size_t size) { return remaining-- == 0 ? nullptr : std::malloc(size); }
  void SetUp() override {
    remaining = GetParam();
    previous = ZAFObject::SetAllocator(&FailOnce);
  }
  void TearDown() override { ZAFObject::SetAllocator(previous); }

  static inline int remaining = 0;
  ZAFObject::Allocator previous = nullptr;
  ScopedHost scopedHost;
  ZAFDlgTabContainer container;
  TestablePlugIn plugin;
};

TEST_P(FailingAllocationTest, TheFormWorksWithoutTheMissingWidget) {
  plugin.BuildUserInterface(&container);
  EXPECT_LT(AllWidgets(container).size(), std::size(kLayout));

  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;
  plugin.GetUserInterfaceFields(keys, values);
  EXPECT_EQ(keys.Size(), 33);
  plugin.SetUserInterfaceFields(keys, values);
  ZAFDlgTabPage* page = nullptr;
  ZAFUnicodeString title;
  ZAFUnicodeString text;
  plugin.ValidateUserInputData(page, title, text);
  plugin.OnEnable(nullptr, nullptr, nullptr);
  for (const char* browse : {"BrowseQIMRT", "BrowseQIM", "BrowseMQS", "BrowseMQWF", "BrowseNUV",
                             "BrowseWAS", "BrowseJHOME"}) {
    if (auto* button = dynamic_cast<ZAFDlgPushButton*>(container.FindByName(browse))) {
      button->Press();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EachWidget, FailingAllocationTest, ::testing::Range(0, 77));

}  // namespace
