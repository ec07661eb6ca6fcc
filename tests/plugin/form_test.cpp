// The form: its layout, the fill from defaults or stored settings, greying it out, the browse
// buttons, field transfer, validation and its messages, and a build without a container.

#include <algorithm>
#include <tuple>
#include <utility>

#include "plugin_fixture.h"

namespace qimtest {

class FormTest : public PlugInTest {
 protected:
  // The form as text, one line per grid row of a parent (the pages lie on the container's
  // tabs), widgets in creation order as name:K<column> with K the class (TabPage, Frame, Label,
  // Editor, PushButton, CheckButton). Marks follow where a widget differs from its class's
  // usual: xN a column span, yN a row span, sH a style (pages and frames have the grid style 1),
  // jH a justification (labels 7A, the rest 1E), +rN and +cN a row or column of its own grid
  // that stretches. A title follows in quotes (editors have none). Editors and check buttons
  // end in what they show.
  std::string Layout() {
    const auto mark = [](const char* name, std::uint32_t value, std::uint32_t usual) {
      std::ostringstream text;
      text << std::uppercase << std::hex << name << value;
      return value == usual ? "" : text.str();
    };
    std::string text, place;
    for (const ZAFDialog* widget : std::as_const(*container).GetDescendants()) {
      const auto& grid = widget->GetGridConstraints();
      const char kind = widget->GetClassName()[6];
      const std::string name = widget->GetResourceName().str();
      const std::string at = widget->GetParent()->GetResourceName().str() +
                             (grid ? " " + std::to_string(grid->row) : "") + ":";
      if (at != place)
        text += (text.empty() ? "" : "\n") + (place = at);
      text += " " + name + ":" + kind;
      if (grid) {
        text += std::to_string(grid->column) + mark("x", grid->columnSpan, 1) +
                mark("y", grid->rowSpan, 1) +
                mark("j", grid->justification, kind == 'L' ? 0x7A : 0x1E);
      }
      text += mark("s", widget->GetStyle(), kind == 'T' || kind == 'F');
      for (const int row : widget->GetResizableRows())
        text += "+r" + std::to_string(row);
      for (const int column : widget->GetResizableColumns())
        text += "+c" + std::to_string(column);
      if (widget->HasTitle())
        text += "'" + widget->GetTitle().str() + "'";
      if (auto* editor = dynamic_cast<const ZAFDlgEditor*>(widget))
        text += "=" + editor->GetText().str();
      if (auto* button = dynamic_cast<const ZAFDlgCheckButton*>(widget))
        text += button->IsChecked() ? "=on" : "=off";
    }
    return text;
  }
  void Set(const std::string& keys, const std::string& values) {  // each list joined by '|'
    plugin.SetUserInterfaceFields(MakeList(Split(keys, '|')), MakeList(Split(values, '|')));
  }
  Texts Shown() {
    ZAFListValZAFUnicodeString keys, values;
    plugin.GetUserInterfaceFields(keys, values);
    return ToVector(values);
  }
  bool Usable(const char* name) { return container->FindByName(name)->IsUsable(); }
  // Presses the button (if one is named) and gives the newest open chooser, if any.
  ZAFDlgFile* Browse(const std::string& button) {
    if (!button.empty())
      FindWidget<ZAFDlgPushButton>(*container, button.c_str())->Press();
    ZAFDlgFile* newest = nullptr;
    container->ForEachDescendantOfType<ZAFDlgFile>([&newest](ZAFDlgFile& open) { newest = &open; });
    return newest;
  }

  const Texts kKeys = Split(
      "enablePlugIn enableCT databaseName databaseHost databasePort databaseUser databasePassword "
      "jndiName qimdirrt qimdir nuvdir mqsdir mqwfdir wasdir javahome mqscfg mquser mqpass smtp "
      "nuvserver nuvport nuvservlet qimmq qimdlq qimip qimport waittime nuvmq nuvdlq nuvip "
      "nuvmqport fmcip fmcport");
};

// The layout names all 77 widgets. Every key is first set to its own name (the check buttons
// against their defaults), so the layout shows which key each widget transfers, beside its grid
// place, style and title.
TEST_F(FormTest, EachWidgetHasItsPlaceStyleTitleAndSettingKey) {
  Texts values = kKeys;
  values[0] = "false";
  values[1] = "true";
  Set(Join(kKeys), Join(values));
  EXPECT_EQ(
      Layout(),
      R"(TabContainer: QIMSetupPage:T+c1'QIM Setup' QIMDatabasePage:T+c1'QIM Database' QIMMessageQueuesPage:T+r0+c1'QIM Message Queues'
QIMSetupPage 0: EnableQimPlugIn:C0'Set up QIM during this deployment'=off
QIMSetupPage 1: QimSetupFrame:F0x2+c1'Product directories'
QimSetupFrame 0: QIMRunTimeLabel:L0'QIM run-time directory' QIMRTEditor:E1=qimdirrt BrowseQIMRT:P2'Browse...'
QimSetupFrame 1: QIMInstallLabel:L0'QIM installation directory' QIMEditor:E1=qimdir BrowseQIM:P2'Browse...'
QimSetupFrame 2: MQSLabel:L0'MQSeries directory' MQSEditor:E1=mqsdir BrowseMQS:P2'Browse...'
QimSetupFrame 3: MQWFLabel:L0'MQSeries Workflow directory' MQWFEditor:E1=mqwfdir BrowseMQWF:P2'Browse...'
QimSetupFrame 4: NUVLabel:L0'NUV directory' NUVEditor:E1=nuvdir BrowseNUV:P2'Browse...'
QimSetupFrame 5: WASLabel:L0'WebSphere directory' WASEditor:E1=wasdir BrowseWAS:P2'Browse...'
QimSetupFrame 6: JHOMELabel:L0'Java home directory' JHOMEEditor:E1=javahome BrowseJHOME:P2'Browse...'
QIMDatabasePage 0: DatabaseFrame:F0x2+c1'QIM database'
DatabaseFrame 0: DatabaseNameLabel:L0'Database name' DatabaseNameEditor:E1=databaseName
DatabaseFrame 1: DatabaseHostLabel:L0'Database host' DatabaseHostEditor:E1=databaseHost
DatabaseFrame 2: DatabasePortLabel:L0'Database port' DatabasePortEditor:E1=databasePort
DatabaseFrame 3: DatabaseUserLabel:L0'Database user' DatabaseUserEditor:E1=databaseUser
DatabaseFrame 4: DatabasePasswordLabel:L0j1E'Database password' DatabasePasswordEditor:E1s40000=databasePassword
DatabaseFrame 5: JndiNameLabel:L0j1E'JNDI name of the data source' JndiNameEditor:E1=jndiName
DatabaseFrame 6: EnableCreateDatabase:C0'Create the QIM database'=on
QIMMessageQueuesPage 0: MessageQueuesFrame:F0x2'Message queues'
MessageQueuesFrame 1: MsqCfgLabel:L0'MQSeries Workflow configuration' MsqCfgEditor:E1=mqscfg MsqUserLabel:L2'MQSeries user' MsqUserEditor:E3=mquser
MessageQueuesFrame 2: MsqPassLabel:L0'MQSeries password' MsqPassEditor:E1s40000=mqpass MsqWTLabel:L2'MQSeries wait time (seconds)' MsqWTEditor:E3=waittime
MessageQueuesFrame 3: SMTPLabel:L0'SMTP mail server' SMTPEditor:E1=smtp NUVNavServerLabel:L2'NUV server' NUVNavServerEditor:E3=nuvserver
MessageQueuesFrame 4: NUVNavPortLabel:L0'NUV server port' NUVNavPortEditor:E1=nuvport NUVNavServletLabel:L2'NUV servlet' NUVNavServletEditor:E3=nuvservlet
MessageQueuesFrame 5: QIMMQNameLabel:L0'QIM queue manager' QIMMQNameEditor:E1=qimmq QIMMQDLLabel:L2'QIM dead-letter queue' QIMMQDLEditor:E3=qimdlq
MessageQueuesFrame 6: QIMIPLabel:L0'QIM queue manager address' QIMIPEditor:E1=qimip QIMPortLabel:L2'QIM queue manager port' QIMPortEditor:E3=qimport
MessageQueuesFrame 7: FMCIPLabel:L0'Workflow queue manager address' FMCIPEditor:E1=fmcip FMCPortLabel:L2'Workflow queue manager port' FMCPortEditor:E3=fmcport
MessageQueuesFrame 8: NUVMQNameLabel:L0'NUV queue manager' NUVMQNameEditor:E1=nuvmq NUVMQDLLabel:L2'NUV dead-letter queue' NUVMQDLEditor:E3=nuvdlq
MessageQueuesFrame 9: NUVIPLabel:L0'NUV queue manager address' NUVIPEditor:E1=nuvip NUVPortLabel:L2'NUV queue manager port' NUVPortEditor:E3=nuvmqport)");
}

// A second plug-in built without a container makes, fills and stores nothing. Stored settings
// replace the defaults wholly: the defaults are read, the store is asked, and what the store
// holds is all the form shows.
TEST_F(FormTest, StoredSettingsReplaceTheDefaultsWhollyAndABuildWithoutContainerDoesNothing) {
  RecordingHost secondHost;
  TestablePlugIn secondPlugIn;
  secondPlugIn.SetHost(&secondHost);
  secondPlugIn.BuildUserInterface(nullptr);
  EXPECT_EQ(secondHost.serverSettingsCalls, 0) << "the defaults were read without a container";
  EXPECT_EQ(StoredCount(), -1);
  EXPECT_EQ(Validate(&secondPlugIn), kAccepted);
  plugin.WritePrefToRepository(MakeList({"databaseName", "qimdirrt"}),
                               MakeList({"STOREDDB", "/stored/rt"}));
  ZAFDlgTabContainer second;
  secondPlugIn.BuildUserInterface(&second);
  EXPECT_EQ(secondHost.serverSettingsCalls, 1) << "the defaults are read only once";
  ZAFListValZAFUnicodeString keys, values;
  secondPlugIn.GetUserInterfaceFields(keys, values);
  EXPECT_EQ(Join(ToVector(values)), "false|false|STOREDDB||||||/stored/rt" + std::string(24, '|'));
  EXPECT_FALSE(second.FindByName("QimSetupFrame")->IsUsable()) << "greyed, as the store says";
}

// The enabling check button greys the three frames (sensitivity 16, else 8) and nothing else:
// not itself, and the values stay. Its state is 0x40000 checked, else 0x80000. The database
// check button greys nothing.
TEST_F(FormTest, EnablingGreysTheThreeFramesOnlyAndKeepsTheirValues) {
  CheckButton("EnableCreateDatabase")->Toggle();
  EXPECT_TRUE(Usable("DatabaseFrame")) << "the database check button greys nothing";
  Editor("SMTPEditor")->Type("mail");
  for (const bool greyed : {true, false}) {  // unchecked, then checked again
    CheckButton("EnableQimPlugIn")->Toggle();
    EXPECT_EQ(CheckButton("EnableQimPlugIn")->GetState(), greyed ? 0x80000u : 0x40000u) << greyed;
    Texts set;
    for (const ZAFDialog* widget : std::as_const(*container).GetDescendants())
      if (const auto sensitivity = widget->GetSensitivity())
        set.push_back(widget->GetResourceName().str() + "=" + std::to_string(*sensitivity));
    const std::string value = greyed ? "16" : "8";
    EXPECT_EQ(Join(set, " "), "QimSetupFrame=" + value + " DatabaseFrame=" + value +
                                  " MessageQueuesFrame=" + value);
    EXPECT_EQ(Usable("QIMRTEditor") || Usable("BrowseJHOME") || Usable("EnableCreateDatabase"),
              !greyed);
    EXPECT_TRUE(Usable("EnableQimPlugIn")) << greyed;
    EXPECT_EQ(Editor("SMTPEditor")->GetText(), "mail") << greyed;
  }
}

// Each browse button opens its chooser in the editor's text as typed; Cancel writes nothing,
// and of two open choosers the OK given last writes its directory as it is, into its own
// editor only.
TEST_F(FormTest, BrowseButtonsWriteTheLastOkIntoTheirOwnEditorOnly) {
  for (const std::string& text : Split(  // button:chooser:editor:key
           "BrowseQIMRT:BrowseQimRT:QIMRTEditor:qimdirrt BrowseQIM:BrowseQim:QIMEditor:qimdir "
           "BrowseMQS:BrowseMqs:MQSEditor:mqsdir BrowseNUV:BrowseNuv:NUVEditor:nuvdir "
           "BrowseMQWF:BrowseMqwf:MQWFEditor:mqwfdir BrowseWAS:BrowseWas:WASEditor:wasdir "
           "BrowseJHOME:BrowseJHome:JHOMEEditor:javahome")) {
    const Texts row = Split(text, ':');
    Editor(row[2].c_str())->Type("  /typed dir ");
    Texts expected = Shown();
    ZAFDlgFile* first = Browse(row[0]);
    ASSERT_NE(first, nullptr) << row[0];
    EXPECT_EQ(first->GetResourceName().str() + "=" + first->GetDirectory().str(),
              row[1] + "=  /typed dir ");
    EXPECT_TRUE(first->GetStyle() == 0x10000200u && first->GetVisibility() == ZAF_VISIBLE);
    Browse(row[0])->CloseCancel();
    EXPECT_EQ(Shown(), expected) << row[0];
    Browse(row[0])->CloseOK("/from the second");
    first->CloseOK(" /from the first ");
    EXPECT_EQ(Editor(row[2].c_str())->GetText(), " /from the first ");
    expected[std::find(kKeys.begin(), kKeys.end(), row[3]) - kKeys.begin()] = "/from the first";
    EXPECT_EQ(Shown(), expected) << row[0];
    EXPECT_EQ(Browse(""), nullptr) << "every chooser is closed";
  }
}

// Texts go into the editors as given and come back without outer blanks (a tab is no
// blank), in the order of the setting keys, without "enableRS", and are stored as shown; a
// check button's value is "true" or "false". Keys are compared exactly ("enableRS" is a
// default that no widget shows); the last value of a repeated key wins; only the exact text
// "true" checks a button.
TEST_F(FormTest, FieldsGoInAsGivenAndComeBackStrippedInOrderAndStored) {
  Set("qimdir|smtp|nuvserver|fmcip", "  C:\\QIM  | a  b |\tx\t|   ");
  EXPECT_EQ(Editor("QIMEditor")->GetText().str() + Editor("FMCIPEditor")->GetText().str(),
            "  C:\\QIM     ");
  ZAFListValZAFUnicodeString keys = MakeList({"left", "over"}), values = MakeList({"x"});
  plugin.GetUserInterfaceFields(keys, values);
  EXPECT_EQ(ToVector(keys), kKeys);
  EXPECT_EQ(Join({values[1].str(), values[2].str(), values[10].str(), values[19].str(),
                  values[20].str(), values[32].str()}),
            "true|false|C:\\QIM|a  b|\tx\t|");
  ZAFListValZAFUnicodeString storedKeys, storedValues;
  ASSERT_EQ(plugin.ReadPrefFromRepository(storedKeys, storedValues), QIM_S_OK);
  EXPECT_EQ(Pairs(storedKeys, storedValues), Pairs(keys, values));
  const Texts before = Shown();
  Set("enableRS||QimDir|qimdir |EnableQimPlugIn", "x|true|x|x|false");
  EXPECT_EQ(Shown(), before);
  Set("qimdir|smtp|qimdir|enablePlugIn|enablePlugIn", "first|mail|second|false|true");
  EXPECT_EQ(Editor("QIMEditor")->GetText().str() + "|" + Editor("SMTPEditor")->GetText().str(),
            "second|mail");
  EXPECT_TRUE(CheckButton("EnableQimPlugIn")->IsChecked());
  for (const char* value : {"True", "TRUE", " true", "1", ""}) {
    plugin.SetUserInterfaceFields(MakeList({"enablePlugIn"}), MakeList({value}));
    EXPECT_FALSE(CheckButton("EnableQimPlugIn")->IsChecked()) << value;
  }
}

// Every field filled, an existing run-time directory, the plug-in enabled.
class ValidationTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    for (const std::string& editor : kRequired)
      Editor(editor.c_str())->Type("filled");
    Editor("QIMRTEditor")->Type(runTimeDirectory.path());
  }
  // The message `message` about `editor`: its page, naming the label left of it.
  std::string Report(const std::string& message, const std::string& editor) {
    const ZAFDialog* widget = container->FindByName(editor.c_str());
    const auto* label = widget->GetRowNeighbourOfType<ZAFDlgLabel>(ZAFRowSide::Left);
    EXPECT_NE(label, nullptr) << editor << " has a label on its left";
    ZAFUnicodeString field = label != nullptr ? label->GetTitle() : ZAFUnicodeString();
    ZAFUnicodeString title, text;
    plugin.GetMessage((message + ".Title").c_str(), title, nullptr, 0);
    plugin.GetMessage((message + ".Text").c_str(), text, &field, 1);
    return widget->GetParent()->GetParent()->GetResourceName().str() + "|" + title.str() + "|" +
           text.str();
  }

  const Texts kRequired = Split(
      "QIMEditor QIMRTEditor MQSEditor NUVEditor DatabaseNameEditor DatabaseHostEditor "
      "DatabasePortEditor DatabaseUserEditor DatabasePasswordEditor JndiNameEditor MsqUserEditor "
      "MsqCfgEditor MsqPassEditor MsqWTEditor SMTPEditor NUVNavServerEditor QIMMQNameEditor "
      "QIMMQDLEditor QIMIPEditor QIMPortEditor NUVMQNameEditor FMCIPEditor FMCPortEditor "
      "NUVMQDLEditor NUVIPEditor NUVPortEditor");
  TempDir runTimeDirectory;
};

// Blanking from the last field backwards, the one reported is always the newly blanked one. A
// blank run-time editor is also a missing run-time directory, the more telling message. While
// the plug-in is disabled nothing is checked.
TEST_F(ValidationTest, TheFirstBlankFieldInCheckingOrderIsReported) {
  Fill("MQWFEditor=|JHOMEEditor=|WASEditor=|NUVNavPortEditor=|NUVNavServletEditor=");
  EXPECT_EQ(Validate(), kAccepted) << "the other fields are optional";
  ASSERT_EQ(kRequired.size(), 26u);
  for (auto editor = kRequired.rbegin(); editor != kRequired.rend(); ++editor) {
    Editor(editor->c_str())->Type("");
    EXPECT_EQ(Validate(),
              Report(*editor == "QIMRTEditor" ? "RunTimeDirField" : "BlankField", *editor));
  }
  Check("EnableQimPlugIn", false);
  EXPECT_EQ(Validate(), kAccepted) << "disabled";
}

// One field typed as given, the others filled: only blanks make a field blank; the run-time
// directory is looked up without outer blanks, must exist, and is checked after the blanks.
TEST_F(ValidationTest, OnlyBlanksMakeAFieldBlankAndTheRunTimeDirectoryMustExist) {
  const std::string missing = runTimeDirectory.File("missing");
  for (const auto& [editor, text, message, why] :
       std::vector<std::tuple<std::string, std::string, std::string, const char*>>{
           {"DatabasePortEditor", "", "BlankField", "nothing at all"},
           {"DatabasePortEditor", "    ", "BlankField", "blanks only"},
           {"DatabasePortEditor", "\t", "", "a tab is no blank"},
           {"DatabasePortEditor", " x ", "", "text between blanks"},
           {"QIMRTEditor", "  " + runTimeDirectory.path() + " ", "", "outer blanks"},
           {"QIMRTEditor", missing, "RunTimeDirField", "a missing run-time directory"},
       }) {
    Editor(editor.c_str())->Type(text);
    EXPECT_EQ(plugin.CheckEmptyEditor(Editor(editor.c_str())), message == "BlankField") << why;
    EXPECT_EQ(Validate(), message.empty() ? kAccepted : Report(message, editor)) << why;
    Editor(editor.c_str())->Type(editor == "QIMRTEditor" ? missing : "filled");
  }
  Editor("SMTPEditor")->Type("");
  EXPECT_EQ(Validate(), Report("BlankField", "SMTPEditor")) << "before the missing directory";
  EXPECT_EQ(plugin.CheckEmptyEditor(nullptr), 1) << "a missing editor counts as blank";
}

// A message the catalogs do not hold, or that has no catalog, is its key. (The parameter's
// filling shows in the validation and error messages.)
TEST(PlugInMessageTest, AMessageWithoutCatalogTextFallsBackToTheKey) {
  for (const auto& [catalogs, key] :
       {std::pair<std::string, const char*>{QIM_SOURCE_CATALOG_DIR, "No.Such.Key"},
        {TempDir().path(), "BlankField.Text"}}) {
    ScopedHost scopedHost(catalogs);
    ZAFUnicodeString parameter = "Database port", text;
    TestablePlugIn().GetMessage(key, text, &parameter, 1);
    EXPECT_EQ(text.str(), key) << catalogs;
  }
}

}  // namespace qimtest
