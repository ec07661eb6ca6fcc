#include "core/session.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string_view>
#include <system_error>
#include <utility>

#include "core/file_checks.h"
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
    throw ToolError("no preference folder: HOME is not set; give --prefs-dir DIR");
  }
  return std::string(home) + "/.config/wassetup";
}

void CheckPreferenceDirectory(const std::string& directory) {
  std::error_code error;
  const fs::file_status status = fs::status(directory, error);
  if (error && error != std::errc::no_such_file_or_directory) {
    throw ToolError("cannot use the preference folder '" + directory + "': " + error.message());
  }
  if (fs::exists(status) && !fs::is_directory(status)) {
    throw ToolError("the preference folder '" + directory + "' is not a folder");
  }
}

// A settings file the host cannot read is never replaced: the tool refuses to go on with
// it. A file that reads but does not parse is the host's business: it warns, the form shows
// the installation defaults, and the next save keeps the damaged file aside.
void CheckPreferenceFile(const std::string& file) {
  std::error_code error;
  if (fs::exists(fs::symlink_status(file, error))) {
    ReadRegularFile(file, zaf::kMaxPreferenceFileBytes, "the settings file");
  }
}

char ParseSeparator(const std::string& separator) {
  if (separator.size() != 1) {
    throw ToolError("--separator takes exactly one character, not '" + separator + "'");
  }
  return separator[0];
}

}  // namespace

// readlink(2) directly: every run asks, and std::filesystem's path handling costs more than
// the rest of finding the module.
std::string ProgramDirectory() {
  char program[4096];
  const ssize_t length = ::readlink("/proc/self/exe", program, sizeof program);
  if (length <= 0 || static_cast<std::size_t>(length) == sizeof program) {
    return ".";
  }
  const std::string_view path(program, static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) {
    return "";
  }
  return std::string(path.substr(0, slash == 0 ? 1 : slash));
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

Session::Session(const GlobalOptions& options) : options_(options), host_(options.host) {
  const std::string programDirectory = ProgramDirectory();
  if (options_.pluginPath.empty()) {
    options_.pluginPath = programDirectory + "/" QIM_BIN_TO_MODULE_DIR "/QimPlugIn.so";
  } else if (options_.pluginPath.find('/') == std::string::npos) {
    // A bare name is a file in the current folder, not a library searched for elsewhere.
    options_.pluginPath = "./" + options_.pluginPath;
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
  zaf::SetDiagnosticSink([this](const std::string& line) { Diagnostic(line); });
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

  try {
    LoadAndBuild();
  } catch (...) {
    // The destructor does not run for a constructor that throws, and the host must not keep
    // a sink that points at this object.
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
}

// The widgets go first, then the plug-in and its module, then the host's repositories.
Session::~Session() {
  form_.reset();
  loaded_.reset();
  zaf::ResetHost();
}

void Session::ReadSettings(ZAFListValZAFUnicodeString& keys, ZAFListValZAFUnicodeString& values) {
  const GuardedRepository::WritesHeld held(repository_.get());
  plugin().GetUserInterfaceFields(keys, values);
}

// The host's diagnostics of a save are held back: when the save fails they are the reason of
// the one error line, else they are printed as they came.
void Session::StoreSettings(ZAFListValZAFUnicodeString& keys, ZAFListValZAFUnicodeString& values) {
  heldDiagnostics_.clear();
  holdingDiagnostics_ = true;
  plugin().GetUserInterfaceFields(keys, values);
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
}

void Session::Diagnostic(const std::string& line) {
  if (holdingDiagnostics_) {
    heldDiagnostics_.push_back(line);
  } else {
    std::cerr << "wassetup: " << line << '\n';
  }
}

}  // namespace wassetup
