#include "tool/session.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "host/zaf_host.h"

namespace wassetup {

namespace fs = std::filesystem;

namespace {

constexpr const char* kRepositoryName = "QIMSetup";

std::string DefaultPreferenceDirectory() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && *config != '\0') {
    return std::string(config) + "/wassetup";
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') {
    throw UsageError("no preference folder: HOME is not set; give --prefs-dir DIR");
  }
  return std::string(home) + "/.config/wassetup";
}

void CheckPreferenceDirectory(const std::string& directory) {
  std::error_code error;
  const fs::file_status status = fs::status(directory, error);
  if (fs::exists(status) && !fs::is_directory(status)) {
    throw UsageError("the preference folder '" + directory + "' is not a folder");
  }
}

// A settings file the host cannot read is never replaced; the tool refuses to go on with it.
void CheckPreferenceFile(const std::string& file) {
  std::error_code error;
  const fs::file_status status = fs::status(file, error);
  if (!fs::exists(status)) {
    return;
  }
  if (fs::is_directory(status) || access(file.c_str(), R_OK) != 0) {
    throw UsageError("cannot read the settings file '" + file + "'");
  }
}

char ParseSeparator(const std::string& separator) {
  if (separator.size() != 1) {
    throw UsageError("--separator takes exactly one character, not '" + separator + "'");
  }
  return separator[0];
}

}  // namespace

std::string ProgramDirectory() {
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : program.parent_path().string();
}

int GuardedRepository::ReadPreference(const ZAFString& name, int* values, int count) {
  return inner_->ReadPreference(name, values, count);
}

int GuardedRepository::ReadPreference(const ZAFString& name, ZAFUnicodeString** values, int count) {
  return inner_->ReadPreference(name, values, count);
}

int GuardedRepository::WritePreference(const ZAFString& name, const int* values, int count) {
  return storing_ ? inner_->WritePreference(name, values, count) : 0;
}

int GuardedRepository::WritePreference(const ZAFString& name, const ZAFUnicodeString* const* values,
                                       int count) {
  return storing_ ? inner_->WritePreference(name, values, count) : 0;
}

int GuardedRepository::SaveRepository(void* reserved) {
  if (!storing_) {
    return 0;
  }
  const int result = inner_->SaveRepository(reserved);
  saveFailed_ = saveFailed_ || result < 0;
  return result;
}

Session::Session(const GlobalOptions& options) : options_(options), host_(options.host) {
  const std::string programDirectory = ProgramDirectory();
  if (options_.pluginPath.empty()) {
    options_.pluginPath = programDirectory + "/" QIM_BIN_TO_MODULE_DIR "/QimPlugIn.so";
  }
  if (options_.catalogDir.empty()) {
    options_.catalogDir = programDirectory + "/" QIM_BIN_TO_CATALOG_DIR;
  }
  if (options_.prefsDir.empty()) {
    options_.prefsDir = DefaultPreferenceDirectory();
  }
  CheckPreferenceDirectory(options_.prefsDir);
  preferenceFile_ = options_.prefsDir + "/" + kRepositoryName + ".prefs";
  CheckPreferenceFile(preferenceFile_);

  zaf::ResetHost();
  zaf::SetDiagnosticSink(
      [](const std::string& line) { std::cerr << "wassetup: " << line << '\n'; });
  zaf::SetCatalogDirectory(options_.catalogDir);
  zaf::SetPathSeparator(ParseSeparator(options_.separator));
  zaf::SetPreferenceDirectory(options_.prefsDir);
  ZAFSysPreferenceRepository* own = zaf::OpenHostRepository(kRepositoryName);
  if (own != nullptr) {
    repository_ = std::make_unique<GuardedRepository>(own);
  }
  zaf::SetPreferenceRepositoryProvider(
      [this](const std::string& name) -> ZAFSysPreferenceRepository* {
        return name == kRepositoryName ? repository_.get() : zaf::OpenHostRepository(name);
      });

  loaded_ = std::make_unique<LoadedPlugIn>(options_.pluginPath);
  plugin().SetHost(&host_);
  form_.reset(new ZAFDlgTabContainer());
  if (!form_) {
    throw UsageError("out of memory");
  }
  plugin().BuildUserInterface(form_.get());
}

// The widgets go first, then the plug-in and its module, then the host's repositories.
Session::~Session() {
  form_.reset();
  loaded_.reset();
  zaf::ResetHost();
}

void Session::ReadSettings(ZAFListValZAFUnicodeString& keys, ZAFListValZAFUnicodeString& values) {
  if (repository_) {
    repository_->SetStoring(false);
  }
  plugin().GetUserInterfaceFields(keys, values);
  if (repository_) {
    repository_->SetStoring(true);
  }
}

void Session::StoreSettings(ZAFListValZAFUnicodeString& keys, ZAFListValZAFUnicodeString& values) {
  plugin().GetUserInterfaceFields(keys, values);
  if (!repository_ || repository_->SaveFailed()) {
    throw UsageError("the settings could not be stored in '" + preferenceFile_ + "'");
  }
}

}  // namespace wassetup
