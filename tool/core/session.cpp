#include "core/session.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <utility>

#include "core/file_checks.h"
#include "core/safe_text.h"
#include "host/platform/files.h"
#include "host/platform/program.h"
#include "host/platform/user_folders.h"
#include "host/zaf_host.h"

namespace wassetup {

namespace {

constexpr const char* kRepositoryName = "QIMSetup";
// The preferences the plug-in keeps its settings in.
constexpr const char* kCountName = "count";
constexpr const char* kKeysName = "Keys";
constexpr const char* kValuesName = "Values";

std::string DefaultPreferenceDirectory() {
  std::string problem;
  std::string folder = zaf::platform::UserSettingsFolder("wassetup", problem);
  if (folder.empty()) {
    throw ToolError("no preference folder: " + problem + "; give --prefs-dir DIR");
  }
  return folder;
}

// A folder that another user owns or may write to is refused before anything runs, as the
// host would refuse to read or save in it.
void CheckPreferenceDirectory(const std::string& directory) {
  if (const std::string problem = zaf::PreferenceFolderProblem(directory); !problem.empty()) {
    throw ToolError(problem);
  }
}

// A settings file the host cannot read is never replaced: the tool refuses to go on with
// it. A symbolic link in its place is refused by name: the host neither follows nor replaces
// it. A file that reads but does not parse is the host's business: it warns, the form shows
// the installation defaults, and the next save keeps the damaged file aside.
void CheckPreferenceFile(const std::string& file) {
  const zaf::platform::PathStatus status = zaf::platform::StatusOfPath(file, false);
  if (status.kind == zaf::platform::PathStatus::Kind::kLink) {
    throw ToolError("the settings file '" + file +
                    "' is a symbolic link, which is neither followed nor replaced; put the "
                    "file itself in its place");
  }
  if (status.kind != zaf::platform::PathStatus::Kind::kNothing) {
    ReadRegularFile(file, zaf::kMaxPreferenceFileBytes, "the settings file");
  }
}

// The host's rules for the settings file: its lists must agree, and a save waits a bounded
// time for another process's lock, saying so at once on stderr (the host's other lines are
// held while settings are stored, so this one does not go through Diagnostic).
void ConfigureSettingsFile(const GlobalOptions& options) {
  zaf::SetPreferenceCheck(kRepositoryName, SettingsLayoutProblem);
  zaf::SetPreferenceLockTimeout(
      std::chrono::milliseconds(std::llround(std::max(0.0, options.lockTimeoutSeconds) * 1000.0)));
  zaf::SetPreferenceLockWaitNotice([](long holder) {
    std::cerr << "wassetup: waiting for the settings lock held by "
              << (holder > 0 ? "process " + std::to_string(holder) : std::string("another process"))
              << '\n'
              << std::flush;
  });
}

char ParseSeparator(const std::string& separator) {
  if (separator.size() != 1) {
    throw ToolError("--separator takes exactly one character, not '" + separator + "'");
  }
  return separator[0];
}

}  // namespace

int GuardedRepository::ReadPreference(const ZAFString& name, int* values, int count) {
  return inner_->ReadPreference(name, values, count);
}

int GuardedRepository::ReadPreference(const ZAFString& name, ZAFUnicodeString** values, int count) {
  return inner_->ReadPreference(name, values, count);
}

int GuardedRepository::WritePreference(const ZAFString& name, const int* values, int count) {
  if (!storing_) {
    return 0;
  }
  otherWrites_ = otherWrites_ || name.str() != kCountName;
  return inner_->WritePreference(name, values, count);
}

int GuardedRepository::WritePreference(const ZAFString& name, const ZAFUnicodeString* const* values,
                                       int count) {
  if (!storing_) {
    return 0;
  }
  const int result = inner_->WritePreference(name, values, count);
  if (result == 0 && (name.str() == kKeysName || name.str() == kValuesName)) {
    std::vector<std::string>& written = name.str() == kKeysName ? writtenKeys_ : writtenValues_;
    written.clear();
    for (int index = 0; index < count; ++index) {
      written.push_back(values[index]->str());
    }
  } else if (result == 0) {
    otherWrites_ = true;
  }
  return result;
}

int GuardedRepository::SaveRepository(void* reserved) {
  if (!storing_) {
    return 0;
  }
  const bool settingsWritten =
      !writtenKeys_.empty() && writtenKeys_.size() == writtenValues_.size();
  const int result = settingsWritten ? SaveChangedSettings() : inner_->SaveRepository(reserved);
  saveFailed_ = saveFailed_ || result < 0;
  return result;
}

GuardedRepository::WritesHeld::WritesHeld(GuardedRepository* repository) : repository_(repository) {
  if (repository_ != nullptr) {
    wasStoring_ = std::exchange(repository_->storing_, false);
  }
}

GuardedRepository::WritesHeld::~WritesHeld() {
  if (repository_ != nullptr) {
    repository_->storing_ = wasStoring_;
  }
}

void GuardedRepository::SetLoadedSettings(SettingPairs settings) {
  int count = 0;
  settingsStored_ = inner_->ReadPreference(kCountName, &count, 1) == 0 && count > 0;
  loaded_ = std::move(settings);
}

// A save that changes no setting leaves the file alone and takes no lock, so that commands
// that only look (the plug-in saves each time it hands out the settings) never wait for a
// writer.
int GuardedRepository::SaveChangedSettings() {
  if (settingsStored_ && !otherWrites_ &&
      !AnyChangedSetting(loaded_, writtenKeys_, writtenValues_)) {
    return 0;
  }
  SettingPairs saving;
  for (std::size_t index = 0; index < writtenKeys_.size(); ++index) {
    saving.emplace_back(writtenKeys_[index], writtenValues_[index]);
  }
  std::vector<std::string> overridden;
  const int result = zaf::SaveHostRepository(
      name_, [&](zaf::PreferenceMap& file, const zaf::PreferenceMap& written) {
        for (const auto& [name, value] : written) {
          if (name != kCountName && name != kKeysName && name != kValuesName) {
            file[name] = value;
          }
        }
        SettingsMerge merge = MergeSettings(StoredSettings(file), loaded_, saving);
        PutSettings(file, merge.settings);
        overridden = std::move(merge.overridden);
      });
  // A save the host only recorded stored nothing: what was loaded still stands.
  if (result < 0 || zaf::IsRecording()) {
    return result;
  }
  for (const std::string& key : overridden) {
    zaf::ReportDiagnostic("the setting '" + key +
                          "' was changed by another process since this one read it; the value "
                          "saved now replaces that change");
  }
  loaded_ = std::move(saving);
  settingsStored_ = true;
  writtenKeys_.clear();
  writtenValues_.clear();
  otherWrites_ = false;
  return result;
}

Session::Session(const GlobalOptions& options, Access access)
    : options_(options), access_(access), host_(options.host) {
  // The installation's relative paths come from the build, written with the system's folder
  // separator.
  const std::string programDirectory = zaf::platform::ProgramFolder();
  if (options_.pluginPath.empty()) {
    options_.pluginPath =
        programDirectory + QIM_SEPARATOR QIM_BIN_TO_MODULE_DIR QIM_SEPARATOR QIM_MODULE_FILE_NAME;
  } else if (!zaf::platform::HasFolderPart(options_.pluginPath)) {
    // A bare name is a file in the current folder, not a library searched for elsewhere.
    options_.pluginPath = "./" + options_.pluginPath;
  }
  if (options_.catalogDir.empty()) {
    options_.catalogDir = programDirectory + QIM_SEPARATOR QIM_BIN_TO_CATALOG_DIR;
  }
  if (options_.prefsDir.empty()) {
    options_.prefsDir = DefaultPreferenceDirectory();
  }
  CheckPreferenceDirectory(options_.prefsDir);
  preferenceFile_ = options_.prefsDir + "/" + kRepositoryName + ".prefs";
  CheckPreferenceFile(preferenceFile_);

  zaf::ResetHost();
  zaf::SetRecording(true);
  zaf::SetDiagnosticSink([this](const std::string& line) { Diagnostic(line); });
  zaf::SetCatalogDirectory(options_.catalogDir);
  zaf::SetPathSeparator(ParseSeparator(options_.separator));
  zaf::SetPreferenceDirectory(options_.prefsDir);
  ConfigureSettingsFile(options_);
  ZAFSysPreferenceRepository* own = zaf::OpenHostRepository(kRepositoryName);
  if (own != nullptr) {
    repository_ = std::make_unique<GuardedRepository>(own, kRepositoryName);
  }
  zaf::SetPreferenceRepositoryProvider(
      [this](const std::string& name) -> ZAFSysPreferenceRepository* {
        return name == kRepositoryName ? repository_.get() : zaf::OpenHostRepository(name);
      });

  try {
    LoadAndBuild();
  } catch (...) {
    // The destructor does not run for a constructor that throws, and the host must not keep
    // a sink that points at this object.
    model_.reset();
    form_.reset();
    loaded_.reset();
    zaf::ResetHost();
    throw;
  }
}

void Session::LoadAndBuild() {
  loaded_ = std::make_unique<LoadedPlugIn>(options_.pluginPath);
  plugin().SetHost(&host_);
  form_ = std::make_unique<ZAFDlgTabContainer>();
  plugin().BuildUserInterface(form_.get());
  settings_ = ReadSettings();
  if (repository_) {
    repository_->SetLoadedSettings(settings_);
  }
  model_ = std::make_unique<FormModel>(*this, settings_);
}

// The widgets go first, then the plug-in and its module, then the host's repositories.
Session::~Session() {
  model_.reset();
  form_.reset();
  loaded_.reset();
  zaf::ResetHost();
}

namespace {

SettingPairs PairsOf(const ZAFListValZAFUnicodeString& keys,
                     const ZAFListValZAFUnicodeString& values) {
  SettingPairs pairs;
  for (int position = 1; position <= keys.Size() && position <= values.Size(); ++position) {
    pairs.emplace_back(keys[position].str(), values[position].str());
  }
  return pairs;
}

}  // namespace

SettingPairs Session::ReadSettings() {
  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;
  const GuardedRepository::WritesHeld held(repository_.get());
  plugin().GetUserInterfaceFields(keys, values);
  return PairsOf(keys, values);
}

template <typename Act>
void Session::Acting(Act&& act) {
  if (access_ == Access::kLook) {
    throw std::logic_error("a command that only looks changes no file");
  }
  struct Recording {
    ~Recording() { zaf::SetRecording(true); }
  } again;
  zaf::SetRecording(false);
  act();
}

ComposedCommand Session::ComposeToRun(const void* tag) {
  ComposedCommand command;
  Acting([&] { command = host_.Compose(plugin(), tag); });
  return command;
}

// The host's diagnostics of a save are held back: when the save fails they are the reason of
// the one error line, else they are printed as they came.
SettingPairs Session::StoreSettings() {
  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;
  heldDiagnostics_.clear();
  holdingDiagnostics_ = true;
  if (repository_) {
    repository_->ForgetFailedSave();  // a save that failed before (in the dialog) may work now
  }
  Acting([&] { plugin().GetUserInterfaceFields(keys, values); });
  holdingDiagnostics_ = false;
  if (!repository_ || repository_->SaveFailed()) {
    std::string reasons;
    for (const std::string& line : heldDiagnostics_) {
      reasons += (reasons.empty() ? ": " : "; ") + line;
    }
    throw ToolError("the settings could not be stored in '" + preferenceFile_ + "'" + reasons);
  }
  for (const std::string& line : heldDiagnostics_) {
    Diagnostic(line);
  }
  heldDiagnostics_.clear();
  return PairsOf(keys, values);
}

void Session::Diagnostic(const std::string& line) {
  if (holdingDiagnostics_) {
    heldDiagnostics_.push_back(line);
  } else {
    std::cerr << "wassetup: " << Printable(line) << '\n';
  }
}

}  // namespace wassetup
