// Fuzzes the plug-in through what its host and its operator can do. Each input starts a fresh
// host (shipped catalogs, preferences in memory), now and then stores an earlier session's
// settings (any count, any lists), builds the form (now and then with a widget that cannot be
// made), then runs a random sequence of operations: field transfer with random keys and
// values, typing, check buttons, browse buttons and their directory choosers, validation, the
// deployment commands and their error messages, the data source, the Java variables, reading
// the form back, building it again from what was stored, another database product, and the
// small queries. What each operation gives is pinned by the unit tests; this driver looks for
// crashes, sanitizer findings and hangs in the states no unit test reaches.
//
// Files: the commands restore "<MQWF>/bin/fmcojagt.jar" and back up
// "<QIM>/intel_a/docs/java/app.properties". Before the commands run, both directories are
// pinned to folders of a scratch folder under the temporary directory; when either editor is
// missing, the two commands that write are left out.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "QimSetupPlugIn.h"
#include "commands/command_context.h"
#include "fuzz_support.h"
#include "host/zaf_host.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using List = ZAFListValZAFUnicodeString;

std::vector<std::string> settingKeys;  // the 33 keys, in the plug-in's order
fs::path scratch;                      // holds "full" (the files the commands copy) and "empty"
int allocationsLeft = -1;              // host allocations that still succeed; negative: all

// Runs `action` with every host allocation after the first `successes` failing.
void WithAllocations(int successes, const std::function<void()>& action) {
  allocationsLeft = successes;
  ZAFObject::SetAllocator([](std::size_t size) {
    return allocationsLeft == 0 ? nullptr : (--allocationsLeft, std::malloc(size));
  });
  action();
  ZAFObject::SetAllocator(nullptr);
}

// The run: its input, the host double, the form and the plug-in.
FuzzedDataProvider* in = nullptr;
qimtest::RecordingHost host;  // reports its product and directories, records every command
std::unique_ptr<ZAFDlgTabContainer> form;
std::unique_ptr<QimSetupPlugIn> plugin;

std::string Text() {
  static const char* const kAwkward[] = {
      "",     " ",        "  padded  ", "true", "false",  "\t", "IBM DB2", "Oracle",
      "%1%%", "\xFF\xFE", "C:\\dir\\",  "..",   "a\nb\r", "/",  "\\",      "0"};
  return in->ConsumeBool() ? in->PickValueInArray(kAwkward) : in->ConsumeRandomLengthString(48);
}

std::string Key() {
  return in->ConsumeBool() ? settingKeys[in->ConsumeIntegralInRange(0, 32)] : Text();
}

// A directory inside the scratch folder, in the forms an operator might type it.
std::string ScratchDirectory() {
  const std::string full = (scratch / "full").string();
  return in->PickValueInArray({full, full + "/", "  " + full + "  ", (scratch / "empty").string()});
}

void Build(int successfulAllocations) {
  plugin.reset();
  form = std::make_unique<ZAFDlgTabContainer>();
  plugin = std::make_unique<QimSetupPlugIn>();
  plugin->SetHost(&host);
  WithAllocations(successfulAllocations, [] { plugin->BuildUserInterface(form.get()); });
}

// What a damaged or hand-edited store may hold: any count (now and then a text), any lists.
void StoreEarlierSession() {
  const int count =
      in->ConsumeBool() ? in->ConsumeIntegralInRange(-2, 40) : in->ConsumeIntegral<int>();
  zaf::PreferenceMap stored = {{"count", std::vector<int>{count}}};
  if (in->ConsumeIntegralInRange(0, 7) == 0)
    stored["count"] = std::vector<std::string>{std::to_string(count)};
  for (const char* name : {"Keys", "Values"}) {
    std::vector<std::string> texts(in->ConsumeIntegralInRange(0, 40));
    for (std::string& text : texts)
      text = name[0] == 'K' ? Key() : Text();
    stored[name] = texts;
  }
  qimtest::WritePreferences(*zaf::OpenHostRepository("QIMSetup"), stored);
}

void SetFields() {  // pairs of random keys and values; now and then one list is longer
  List keys, values;
  for (int pair = in->ConsumeIntegralInRange(0, 8); pair > 0; --pair) {
    keys.Append(Key());
    values.Append(Text());
  }
  if (in->ConsumeIntegralInRange(0, 7) == 0)
    (in->ConsumeBool() ? keys : values).Append(Text());
  plugin->SetUserInterfaceFields(keys, values);
}

// The deployment: the tag list, then every row of the table, then a text equal to a tag, which
// is no tag, on whatever the form holds.
void Commands() {
  for (const char* file : {"bin/fmcojagt.jar", "intel_a/docs/java/app.properties.bak"})
    fs::remove(scratch / "full" / file);
  int pinned = 0;  // the two directories of the commands that write files
  for (const char* name : {"QIMEditor", "MQWFEditor"}) {
    if (auto* editor = form->FindDescendantOfType<ZAFDlgEditor>(name)) {
      editor->Type(ScratchDirectory());
      ++pinned;
    }
  }
  ZAFRawCollPV tags;
  plugin->GetCommandTags(tags);
  const std::string copy = QimSetupPlugIn::CommandTagTable[qim::kQimCopy];
  std::vector<const void*> asked(std::begin(QimSetupPlugIn::CommandTagTable),
                                 std::end(QimSetupPlugIn::CommandTagTable));
  asked.push_back(copy.c_str());
  for (const void* tag : asked) {
    const int row = qim::CommandTagRowOf(tag);
    ZAFUnicodeString commandLine;
    if (pinned == 2 || (row != qim::kJavaQim && row != qim::kJavaApp))
      plugin->GetCommandString(tag, commandLine);
  }
}

// The small queries: validation, the error message of a command, the data source and the Java
// variables.
void Queries() {
  ZAFDlgTabPage* page = nullptr;
  ZAFUnicodeString title, text;
  plugin->ValidateUserInputData(page, title, text);
  const int row = in->ConsumeIntegralInRange(-1, qim::kCommandTagRows - 1);
  const void* tag = row < 0 ? "java_qim" : QimSetupPlugIn::CommandTagTable[row];
  plugin->GetCommandErrorMessage(tag, in->ConsumeIntegral<int>(), Text(), title, text);
  ZAFJdeWASDataSource* dataSource = nullptr;
  int count = 0;
  plugin->GetDataSourceSettings(dataSource, count);
  List names, values;
  plugin->GetJavaVariables(names, values);
}

// The form read and put back, as a host does between sessions.
void ReadFields() {
  List keys, values;
  plugin->GetUserInterfaceFields(keys, values);
  plugin->SetUserInterfaceFields(keys, values);
}

// The operator acts on a random widget of a random kind: types into an editor, toggles a check
// button, presses a button (now and then the chooser it opens cannot be made), closes a chooser.
void Operate() {
  const std::string kind =
      in->PickValueInArray({"ZAFDlgEditor", "ZAFDlgCheckButton", "ZAFDlgPushButton", "ZAFDlgFile"});
  std::vector<ZAFDialog*> widgets;  // those of that class, in creation order
  form->ForEachDescendant([&](ZAFDialog& widget) {
    if (widget.GetClassName() == kind)
      widgets.push_back(&widget);
  });
  if (widgets.empty())
    return;
  ZAFDialog* widget = widgets[in->ConsumeIntegralInRange<std::size_t>(0, widgets.size() - 1)];
  if (auto* editor = dynamic_cast<ZAFDlgEditor*>(widget)) {
    editor->Type(Text());
  } else if (auto* check = dynamic_cast<ZAFDlgCheckButton*>(widget)) {
    check->Toggle();
  } else if (auto* button = dynamic_cast<ZAFDlgPushButton*>(widget)) {
    WithAllocations(in->ConsumeIntegralInRange(0, 7) == 0 ? 0 : -1, [&] { button->Press(); });
  } else if (auto* chooser = dynamic_cast<ZAFDlgFile*>(widget)) {
    in->ConsumeBool() ? chooser->CloseCancel()
                      : chooser->CloseOK(in->ConsumeBool() ? ScratchDirectory() : Text());
  }
}

// A later session, maybe with another database: the form is built again from what was stored.
void Rebuild() {
  host.databaseProduct = Text();  // "IBM DB2", "Oracle", "" or any
  Build(-1);
}

void (*const kOperations[])() = {SetFields, Operate, Operate,  Operate,    Operate,
                                 Queries,   Queries, Commands, ReadFields, Rebuild};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  ::unsetenv("YTQ_RT_OUT");              // test-harness mode would trace every operation on stdout
  static const qimtest::TempDir folder;  // removed at the exit
  scratch = folder.path();
  fs::create_directories(scratch / "empty");
  for (const char* file : {"bin/fmcojagt.jar.deprecated", "intel_a/docs/java/app.properties"}) {
    fs::create_directories((scratch / "full" / file).parent_path());
    qimtest::WriteFile((scratch / "full" / file).string(), "content\n");
  }

  Build(-1);
  List keys, values;
  plugin->GetUserInterfaceFields(keys, values);
  for (int position = 1; position <= keys.Size(); ++position)
    settingKeys.push_back(keys[position].str());
  Require(settingKeys.size() == 33, "the form carries 33 settings");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  in = &input;
  host.commands.clear();
  zaf::ResetHost();
  zaf::SetCatalogDirectory(QIM_SOURCE_CATALOG_DIR);  // preferences stay in memory
  zaf::SetPathSeparator(input.ConsumeBool() ? '/' : '\\');
  host.databaseProduct = Text();  // "IBM DB2", "Oracle", "" or any
  host.wasDirectory = Text();
  host.nuvServlet = Text();
  if (input.ConsumeIntegralInRange(0, 3) == 0)
    StoreEarlierSession();
  Build(input.ConsumeBool() ? input.ConsumeIntegralInRange(0, 90) : -1);
  for (int step = 0; step < 64 && input.remaining_bytes() > 0; ++step)
    in->PickValueInArray(kOperations)();
  plugin.reset();  // the plug-in goes before its form
  form.reset();
  zaf::ResetHost();  // drops catalogs and stored settings: the next run starts afresh
  return 0;
}
