// Fuzzes the plug-in through everything its host and its operator can do.
//
// Each input starts a fresh host (shipped catalogs, preferences in memory), now and then stores
// the settings of an earlier session (any count, any lists), builds the form on a fresh tab
// container, then reads the rest of the input as a sequence of operations: field transfer with
// random keys and values, typing, check buttons, browse buttons and their directory choosers,
// validation, the deployment commands and their error messages, the data source and the Java
// variables, reading the form back, and building it again from what was stored. The host
// double reports a random database product and records nothing.
//
// Files: the commands restore "<MQWF>/bin/fmcojagt.jar" and back up
// "<QIM>/intel_a/docs/java/app.properties". Before every command the two directories are
// pinned to folders of a scratch folder made under the temporary directory, so nothing is
// written anywhere else; when either editor is missing, the two commands that write are left
// out, because an empty directory would make their paths relative.
//
// The rules the plug-in promises its host are checked as the operations run; a broken rule
// aborts, so libFuzzer reports it like a crash.

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "commands/command_context.h"
#include "fuzz/fuzz_support.h"
#include "host/zaf_host.h"
#include "plugin/QimSetupPlugIn.h"

namespace {

using qimfuzz::Require;

namespace fs = std::filesystem;

// ---- Process-wide set-up ----

// The 33 setting keys, as the plug-in lists them; read once from a built plug-in.
std::vector<std::string> settingKeys;

// The scratch folder and its two installations: "full" holds the files the commands copy
// from, "empty" holds nothing.
fs::path scratch;
fs::path fullInstall;
fs::path emptyInstall;

void RemoveScratch() {
  std::error_code ignored;
  fs::remove_all(scratch, ignored);
}

void WriteFile(const fs::path& path, const char* content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << content;
}

void MakeScratch() {
  std::string pattern = (fs::temp_directory_path() / "plugin_fuzzer.XXXXXX").string();
  Require(::mkdtemp(pattern.data()) != nullptr, "the scratch folder can be made");
  scratch = pattern;
  fullInstall = scratch / "full";
  emptyInstall = scratch / "empty";
  WriteFile(fullInstall / "bin" / "fmcojagt.jar.deprecated", "jar backup\n");
  WriteFile(fullInstall / "intel_a" / "docs" / "java" / "app.properties", "key=value\n");
  fs::create_directories(emptyInstall);
  std::atexit(RemoveScratch);
}

// Puts back what the commands changed, so each run sees the same files.
void ResetScratchFiles() {
  std::error_code ignored;
  fs::remove(fullInstall / "bin" / "fmcojagt.jar", ignored);
  fs::remove(fullInstall / "intel_a" / "docs" / "java" / "app.properties.bak", ignored);
}

void ConfigureHost(char separator) {
  zaf::ResetHost();
  zaf::SetPreferenceDirectory("");
  zaf::SetCatalogDirectory(QIM_SOURCE_CATALOG_DIR);
  zaf::SetPathSeparator(separator);
}

// ---- Allocation failures ----

// Counts the host allocations still to succeed; negative means all succeed.
int allocationsLeft = -1;

void* CountedAllocate(std::size_t size) {
  if (allocationsLeft == 0) {
    return nullptr;
  }
  if (allocationsLeft > 0) {
    --allocationsLeft;
  }
  return std::malloc(size);
}

// Makes host allocations fail after `successes` more for the life of the scope (a negative
// number means none fails).
class FailingAllocations {
 public:
  explicit FailingAllocations(int successes) {
    allocationsLeft = successes;
    previous_ = ZAFObject::SetAllocator(&CountedAllocate);
  }
  ~FailingAllocations() {
    ZAFObject::SetAllocator(previous_);
    allocationsLeft = -1;
  }
  FailingAllocations(const FailingAllocations&) = delete;
  FailingAllocations& operator=(const FailingAllocations&) = delete;

 private:
  ZAFObject::Allocator previous_ = nullptr;
};

// ---- The host double ----

std::string Joined(const ZAFListValZAFUnicodeString& pieces) {
  std::string line;
  for (int position = 1; position <= pieces.Size(); ++position) {
    line += " " + pieces[position].str();
  }
  return line;
}

class FuzzHost : public WASSetupUIHost {
 public:
  std::string databaseProduct;
  std::string wasDirectory;
  std::string nuvServlet;

  int GetDatabaseSettings(WASDatabaseSettings& settings) override {
    settings.DatabaseProduct = databaseProduct;
    return 0;
  }
  int GetServerSettings(WASServerSettings& settings) override {
    settings.InstallDirectory = wasDirectory;
    settings.NuvServlet = nuvServlet;
    return 0;
  }
  // Writes every piece into the line, so each list element is read, and keeps nothing.
  int BuildJavaCommand(const ZAFListValZAFUnicodeString& options, const ZAFUnicodeString& className,
                       const ZAFListValZAFUnicodeString& arguments,
                       ZAFUnicodeString& commandLine) override {
    commandLine = "java" + Joined(options) + " " + className.str() + Joined(arguments);
    return 0;
  }
  int BuildScriptCommand(const ZAFUnicodeString& script,
                         const ZAFListValZAFUnicodeString& arguments,
                         ZAFUnicodeString& commandLine) override {
    commandLine = script.str() + Joined(arguments);
    return 0;
  }
};

// ---- Widgets of the tree ----

template <typename Widget>
void Collect(ZAFDialog& widget, std::vector<Widget*>& found) {
  if (auto* match = dynamic_cast<Widget*>(&widget)) {
    found.push_back(match);
  }
  for (ZAFDialog* child : widget.GetChildren()) {
    Collect(*child, found);
  }
}

template <typename Widget>
std::vector<Widget*> All(ZAFDialog& root) {
  std::vector<Widget*> found;
  Collect(root, found);
  return found;
}

template <typename Widget>
Widget* Pick(FuzzedDataProvider& input, const std::vector<Widget*>& widgets) {
  if (widgets.empty()) {
    return nullptr;
  }
  return widgets[input.ConsumeIntegralInRange<std::size_t>(0, widgets.size() - 1)];
}

// ---- Random values ----

std::string RandomText(FuzzedDataProvider& input) {
  static const char* const kAwkward[] = {
      "",     " ",        "  padded  ", "true", "false",  "\t", "IBM DB2", "Oracle",
      "%1%%", "\xFF\xFE", "C:\\dir\\",  "..",   "a\nb\r", "/",  "\\",      "0"};
  if (input.ConsumeBool()) {
    return kAwkward[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kAwkward) - 1)];
  }
  return input.ConsumeRandomLengthString(48);
}

std::string RandomKey(FuzzedDataProvider& input) {
  if (input.ConsumeIntegralInRange(0, 3) != 0) {
    return settingKeys[input.ConsumeIntegralInRange<std::size_t>(0, settingKeys.size() - 1)];
  }
  return RandomText(input);
}

std::string RandomProduct(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return "IBM DB2";
    case 1:
      return "Oracle";
    case 2:
      return "";
    default:
      return RandomText(input);
  }
}

// A directory for the two editors whose commands write files: always inside the scratch
// folder, in the forms an operator might type it.
std::string ScratchDirectory(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return fullInstall.string();
    case 1:
      return fullInstall.string() + "/";
    case 2:
      return "  " + fullInstall.string() + "  ";
    default:
      return emptyInstall.string();
  }
}

// ---- One run ----

class Run {
 public:
  Run(FuzzedDataProvider& input) : input_(input) {
    host_.databaseProduct = RandomProduct(input);
    host_.wasDirectory = RandomText(input);
    host_.nuvServlet = RandomText(input);
    if (input.ConsumeIntegralInRange(0, 3) == 0) {
      StoreEarlierSession();
    }
    // Now and then a widget of the build cannot be made.
    Build(input.ConsumeBool() ? input.ConsumeIntegralInRange(0, 90) : -1);
  }

  // Tears the form down, the plug-in first.
  ~Run() {
    plugin_.reset();
    container_.reset();
  }

  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  void Step() {
    switch (input_.ConsumeIntegralInRange(0, 13)) {
      case 0:
        SetFields();
        break;
      case 1:
        if (ZAFDlgEditor* editor = Pick(input_, All<ZAFDlgEditor>(*container_))) {
          editor->Type(RandomText(input_));
        }
        break;
      case 2:
        if (ZAFDlgCheckButton* button = Pick(input_, All<ZAFDlgCheckButton>(*container_))) {
          button->Toggle();
        }
        break;
      case 3:
        PressBrowseButton();
        break;
      case 4:
        CloseChooser();
        break;
      case 5:
        Validate();
        break;
      case 6:
        Commands();
        break;
      case 7:
        ErrorMessage();
        break;
      case 8:
        DataSource();
        break;
      case 9:
        JavaVariables();
        break;
      case 10:
        ReadFields();
        break;
      case 11:
        // A later session: the form is built again from what was stored.
        Build(-1);
        break;
      case 12:
        host_.databaseProduct = RandomProduct(input_);
        break;
      default:
        SmallOperations();
        break;
    }
  }

 private:
  void Build(int successfulAllocations) {
    plugin_.reset();
    container_ = std::make_unique<ZAFDlgTabContainer>();
    plugin_.reset(new QimSetupPlugIn);
    Require(container_ != nullptr && plugin_ != nullptr, "the host can make the plug-in");
    plugin_->SetHost(&host_);
    const FailingAllocations failing(successfulAllocations);
    plugin_->BuildUserInterface(container_.get());
  }

  // Settings an earlier session left in the store, as a damaged or hand-edited store may hold
  // them: any count, lists of any length, and now and then a preference of the other kind.
  void StoreEarlierSession() {
    ZAFSysPreferenceRepository* store = zaf::OpenHostRepository("QIMSetup");
    Require(store != nullptr, "the host has the plug-in's repository");
    const int count = input_.ConsumeBool() ? input_.ConsumeIntegralInRange(-2, 40)
                                           : input_.ConsumeIntegral<int>();
    if (input_.ConsumeIntegralInRange(0, 7) != 0) {
      store->WritePreference("count", &count, 1);
    } else {
      const ZAFUnicodeString text = std::to_string(count);
      const ZAFUnicodeString* pointer = &text;
      store->WritePreference("count", &pointer, 1);
    }
    for (const bool keys : {true, false}) {
      std::vector<ZAFUnicodeString> texts;
      const int size = input_.ConsumeIntegralInRange(0, 40);
      for (int index = 0; index < size; ++index) {
        texts.emplace_back(keys ? RandomKey(input_) : RandomText(input_));
      }
      std::vector<const ZAFUnicodeString*> pointers;
      for (const ZAFUnicodeString& text : texts) {
        pointers.push_back(&text);
      }
      store->WritePreference(keys ? "Keys" : "Values", pointers.data(), size);
    }
  }

  bool Enabled() {
    const auto* button =
        dynamic_cast<ZAFDlgCheckButton*>(container_->FindByName("EnableQimPlugIn"));
    return button != nullptr && button->IsChecked();
  }

  void SetFields() {
    ZAFListValZAFUnicodeString keys;
    ZAFListValZAFUnicodeString values;
    const int pairs = input_.ConsumeIntegralInRange(0, 8);
    for (int pair = 0; pair < pairs; ++pair) {
      keys.Append(RandomKey(input_));
      values.Append(RandomText(input_));
    }
    // Sometimes one list is longer than the other.
    if (input_.ConsumeIntegralInRange(0, 7) == 0) {
      (input_.ConsumeBool() ? keys : values).Append(RandomText(input_));
    }
    plugin_->SetUserInterfaceFields(keys, values);
  }

  void PressBrowseButton() {
    ZAFDlgPushButton* button = Pick(input_, All<ZAFDlgPushButton>(*container_));
    if (button == nullptr) {
      return;
    }
    // Now and then the chooser cannot be made.
    const FailingAllocations failing(input_.ConsumeIntegralInRange(0, 7) == 0 ? 0 : -1);
    button->Press();
  }

  void CloseChooser() {
    ZAFDlgFile* chooser = Pick(input_, All<ZAFDlgFile>(*container_));
    if (chooser == nullptr) {
      return;
    }
    if (input_.ConsumeBool()) {
      chooser->CloseOK(input_.ConsumeBool() ? ScratchDirectory(input_) : RandomText(input_));
    } else {
      chooser->CloseCancel();
    }
  }

  void Validate() {
    ZAFDlgTabPage* page = nullptr;
    ZAFUnicodeString title = "unchanged";
    ZAFUnicodeString text = "unchanged";
    plugin_->ValidateUserInputData(page, title, text);
    if (page == nullptr) {
      return;
    }
    const std::vector<ZAFDlgTabPage*> pages = All<ZAFDlgTabPage>(*container_);
    Require(std::find(pages.begin(), pages.end(), page) != pages.end(),
            "a reported page is a page of the form");
    Require(!title.IsEmpty() && !text.IsEmpty() && title != "unchanged" && text != "unchanged",
            "a reported failure has a title and a text");
  }

  // Pins the two directories whose commands write files; false when either editor is missing.
  bool PinWritingDirectories() {
    ResetScratchFiles();
    bool pinned = true;
    for (const char* name : {"QIMEditor", "MQWFEditor"}) {
      auto* editor = dynamic_cast<ZAFDlgEditor*>(container_->FindByName(name));
      if (editor == nullptr) {
        pinned = false;
      } else {
        editor->Type(ScratchDirectory(input_));
      }
    }
    return pinned;
  }

  // The command of one row of the tag table; the two that write files only when their
  // directories are pinned.
  void CheckCommand(int row, bool allowed, bool db2, bool writersAllowed) {
    if (!writersAllowed && (row == qim::kJavaQim || row == qim::kJavaApp)) {
      return;
    }
    ZAFUnicodeString commandLine = "stale";
    plugin_->GetCommandString(QimSetupPlugIn::CommandTagTable[row], commandLine);
    const bool db2Only = row == qim::kJavaDbSetup || row == qim::kJavaDb2File;
    const bool builds =
        allowed && row != qim::kJavaRunBat && row != qim::kJavaCp && (!db2Only || db2);
    Require(commandLine.IsEmpty() != builds, "a command is built exactly when it exists");
  }

  void Commands() {
    const bool writersAllowed = PinWritingDirectories();
    const bool allowed = Enabled();
    const bool db2 = host_.databaseProduct == qim::kDb2Product;

    ZAFRawCollPV tags;
    tags.Append("stale");
    plugin_->GetCommandTags(tags);
    if (!allowed) {
      Require(tags.Size() == 0, "a disabled plug-in lists no command");
    } else {
      const auto* create =
          dynamic_cast<ZAFDlgCheckButton*>(container_->FindByName("EnableCreateDatabase"));
      const int expected = create != nullptr && create->IsChecked() ? 14 : 13;
      Require(tags.Size() == expected,
              "an enabled plug-in lists 13 commands, 14 with the database");
    }
    std::vector<int> seen;
    for (int position = 1; position <= tags.Size(); ++position) {
      const int row = qim::CommandTagRowOf(tags[position]);
      Require(row != qim::kNoCommandTagRow, "a listed tag is a row of the tag table");
      Require(std::find(seen.begin(), seen.end(), row) == seen.end(), "no tag is listed twice");
      Require(row != qim::kJavaRunBat && row != qim::kJavaCp, "two rows are never listed");
      seen.push_back(row);
    }

    // The deployment as the host runs it: the listed tags in order; then every row of the
    // table, listed or not.
    for (const int row : seen) {
      CheckCommand(row, allowed, db2, writersAllowed);
    }
    for (int row = 0; row < qim::kCommandTagRows; ++row) {
      CheckCommand(row, allowed, db2, writersAllowed);
    }

    // A pointer to an equal text is no tag.
    const std::string copy = QimSetupPlugIn::CommandTagTable[qim::kQimCopy];
    ZAFUnicodeString commandLine = "stale";
    plugin_->GetCommandString(copy.c_str(), commandLine);
    Require(commandLine.IsEmpty(), "a text equal to a tag is no tag");
  }

  void ErrorMessage() {
    const int row = input_.ConsumeIntegralInRange(-1, qim::kCommandTagRows - 1);
    const void* tag =
        row < 0 ? static_cast<const void*>("java_qim") : QimSetupPlugIn::CommandTagTable[row];
    ZAFUnicodeString title = "stale";
    ZAFUnicodeString text = "stale";
    plugin_->GetCommandErrorMessage(tag, input_.ConsumeIntegral<int>(), RandomText(input_), title,
                                    text);
    Require(title.IsEmpty() == text.IsEmpty(), "an error message has both parts or none");
    Require(title != "stale" && text != "stale", "an error message is always written");
  }

  void DataSource() {
    ZAFJdeWASDataSource* dataSource = nullptr;
    int count = 0;
    plugin_->GetDataSourceSettings(dataSource, count);
    Require(dataSource != nullptr && count == 1, "the plug-in reports one data source");
  }

  void JavaVariables() {
    ZAFListValZAFUnicodeString names;
    ZAFListValZAFUnicodeString values;
    names.Append("stale");
    plugin_->GetJavaVariables(names, values);
    Require(names.Size() == 1 && values.Size() == 1 && names[1] == "ws.ext.dirs",
            "the plug-in reports ws.ext.dirs alone");
  }

  // Reading the form gives every setting; putting the reading back changes nothing.
  void ReadFields() {
    ZAFListValZAFUnicodeString keys;
    ZAFListValZAFUnicodeString values;
    plugin_->GetUserInterfaceFields(keys, values);
    Require(keys.Size() == static_cast<int>(settingKeys.size()) && values.Size() == keys.Size(),
            "reading the form gives every setting once");
    plugin_->SetUserInterfaceFields(keys, values);
    ZAFListValZAFUnicodeString keysAgain;
    ZAFListValZAFUnicodeString valuesAgain;
    plugin_->GetUserInterfaceFields(keysAgain, valuesAgain);
    for (int position = 1; position <= keys.Size(); ++position) {
      Require(keys[position] == settingKeys[static_cast<std::size_t>(position - 1)].c_str(),
              "the settings come in their order");
      Require(keysAgain[position] == keys[position] && valuesAgain[position] == values[position],
              "putting the form's own reading back changes nothing");
    }
  }

  void SmallOperations() {
    ZAFUnicodeString name;
    plugin_->GetSymbolicName(name);
    Require(name == "QimSetup", "the symbolic name is fixed");
    ZAFUnicodeString first = "first";
    ZAFUnicodeString second = "second";
    plugin_->GetEarCreationParameters(first, second);
    Require(first == "first" && second == "second", "EAR parameters stay as given");
    ZAFListValZAFUnicodeString names;
    ZAFListValZAFUnicodeString values;
    names.Append("kept");
    plugin_->GetEnvironmentVariables(names, values);
    Require(names.Size() == 1 && values.Size() == 0, "environment variables stay as given");
  }

  FuzzedDataProvider& input_;
  FuzzHost host_;
  std::unique_ptr<ZAFDlgTabContainer> container_;
  std::unique_ptr<QimSetupPlugIn> plugin_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // Test-harness mode would trace every operation on stdout; the fuzzer runs the plug-in as a
  // deployment does.
  ::unsetenv("YTQ_RT_OUT");
  MakeScratch();

  ConfigureHost('/');
  {
    ZAFDlgTabContainer container;
    QimSetupPlugIn plugin;
    plugin.BuildUserInterface(&container);
    ZAFListValZAFUnicodeString keys;
    ZAFListValZAFUnicodeString values;
    plugin.GetUserInterfaceFields(keys, values);
    for (int position = 1; position <= keys.Size(); ++position) {
      settingKeys.push_back(keys[position].str());
    }
  }
  Require(settingKeys.size() == 33, "the form carries 33 settings");
  zaf::ResetHost();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  ConfigureHost(input.ConsumeBool() ? '/' : '\\');
  {
    Run run(input);
    for (int step = 0; step < 64 && input.remaining_bytes() > 0; ++step) {
      run.Step();
    }
  }
  // Drops the catalogs and the stored settings, so that the next run starts afresh and
  // LeakSanitizer sees nothing left behind.
  zaf::ResetHost();
  return 0;
}
