#include "test_support.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <variant>

#include "host/platform/environment.h"
#include "host/platform/files.h"
#include "host/zaf_host.h"

namespace qimtest {

int RecordingHost::GetDatabaseSettings(WASDatabaseSettings& settings) {
  ++databaseSettingsCalls;
  settings.DatabaseProduct = databaseProduct;
  return 0;
}

int RecordingHost::GetServerSettings(WASServerSettings& settings) {
  ++serverSettingsCalls;
  settings.InstallDirectory = wasDirectory;
  settings.NuvServlet = nuvServlet;
  return 0;
}

// The command line is the target alone: enough for a test to tell that one was written.
int RecordingHost::BuildJavaCommand(const ZAFListValZAFUnicodeString& options,
                                    const ZAFUnicodeString& className,
                                    const ZAFListValZAFUnicodeString& arguments,
                                    ZAFUnicodeString& commandLine) {
  commands.push_back({ToVector(options), className.str(), ToVector(arguments)});
  commandLine = className;
  return 0;
}

int RecordingHost::BuildScriptCommand(const ZAFUnicodeString& script,
                                      const ZAFListValZAFUnicodeString& arguments,
                                      ZAFUnicodeString& commandLine) {
  commands.push_back({{}, script.str(), ToVector(arguments)});
  commandLine = script;
  return 0;
}

namespace {

void AppendWords(std::string& line, const ZAFListValZAFUnicodeString& words) {
  for (int position = 1; position <= words.Size(); ++position) {
    line += ' ';
    line += words[position].str();
  }
}

}  // namespace

int ComposingHost::GetDatabaseSettings(WASDatabaseSettings& settings) {
  settings.DatabaseProduct = "IBM DB2";
  return 0;
}

int ComposingHost::BuildJavaCommand(const ZAFListValZAFUnicodeString& options,
                                    const ZAFUnicodeString& className,
                                    const ZAFListValZAFUnicodeString& arguments,
                                    ZAFUnicodeString& commandLine) {
  std::string line = "java";
  AppendWords(line, options);
  line += ' ';
  line += className.str();
  AppendWords(line, arguments);
  commandLine = std::move(line);
  return 0;
}

int ComposingHost::BuildScriptCommand(const ZAFUnicodeString& script,
                                      const ZAFListValZAFUnicodeString& arguments,
                                      ZAFUnicodeString& commandLine) {
  std::string line = script.str();
  AppendWords(line, arguments);
  commandLine = std::move(line);
  return 0;
}

int NullRepository::ReadPreference(const ZAFString& /*name*/, int* /*values*/, int /*count*/) {
  return -1;
}

int NullRepository::ReadPreference(const ZAFString& /*name*/, ZAFUnicodeString** /*values*/,
                                   int /*count*/) {
  return -1;
}

int NullRepository::WritePreference(const ZAFString& /*name*/, const int* /*values*/,
                                    int /*count*/) {
  return 0;
}

int NullRepository::WritePreference(const ZAFString& /*name*/,
                                    const ZAFUnicodeString* const* /*values*/, int /*count*/) {
  return 0;
}

int NullRepository::SaveRepository(void* /*reserved*/) {
  return 0;
}

std::size_t RunPlan(WASSetupUIPlugIn& plugin) {
  ZAFRawCollPV tags;
  plugin.GetCommandTags(tags);
  std::size_t length = 0;
  ZAFUnicodeString commandLine;
  for (int position = 1; position <= tags.Size(); ++position) {
    plugin.GetCommandString(tags[position], commandLine);
    length += commandLine.str().size();
  }
  return length;
}

TempDir::TempDir()
    : path_(zaf::platform::MakeUniqueFolder(std::filesystem::temp_directory_path().u8string(),
                                            "qimtest.")) {
  if (path_.empty()) {
    throw std::runtime_error("cannot make a temporary folder");
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  const std::filesystem::path path = std::filesystem::u8path(path_);
  // A test may leave read-only folders behind; make them writable so they can go.
  for (auto it = std::filesystem::recursive_directory_iterator(path, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path, ignored);
}

ScopedHost::ScopedHost(const std::string& catalogDirectory, const std::string& preferenceDirectory,
                       char separator) {
  zaf::ResetHost();
  zaf::SetCatalogDirectory(catalogDirectory);
  zaf::SetPreferenceDirectory(preferenceDirectory);
  zaf::SetPathSeparator(separator);
}

ScopedHost::~ScopedHost() {
  zaf::ResetHost();
}

void ScopedHost::UseRepository(ZAFSysPreferenceRepository* repository) {
  zaf::SetPreferenceRepositoryProvider(
      [repository](const std::string& /*name*/) { return repository; });
}

void ScopedHost::CountDiagnostics() {
  zaf::SetDiagnosticSink([this](const std::string& /*line*/) { ++diagnostics_; });
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
  if (const char* current = zaf::platform::EnvironmentValue(name_.c_str())) {
    saved_ = current;
  }
  zaf::platform::SetEnvironmentValue(name_, value);
}

ScopedEnv::~ScopedEnv() {
  zaf::platform::SetEnvironmentValue(name_, saved_);
}

ZAFListValZAFUnicodeString MakeList(std::initializer_list<const char*> items) {
  return MakeList(std::vector<std::string>(items.begin(), items.end()));
}

ZAFListValZAFUnicodeString MakeList(const std::vector<std::string>& items) {
  ZAFListValZAFUnicodeString list;
  for (const std::string& item : items) {
    list.Append(item);
  }
  return list;
}

std::vector<std::string> ToVector(const ZAFListValZAFUnicodeString& list) {
  std::vector<std::string> items;
  for (int position = 1; position <= list.Size(); ++position) {
    items.push_back(list[position].str());
  }
  return items;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
  out << content;
}

HeldLock::HeldLock(const std::string& lockFile) : file_(lockFile) {
  std::string reason;
  held_ = file_.IsOpen() && file_.TryLock(reason) == zaf::platform::LockFile::Attempt::kTaken;
  if (held_) {
    file_.RecordHolder();
  }
}

HeldLock::~HeldLock() = default;

void HeldLock::Release() {
  file_.Close();
}

bool FileExists(const std::string& path) {
  return std::filesystem::exists(std::filesystem::u8path(path));
}

long CountEntries(const std::string& folder) {
  return std::distance(std::filesystem::directory_iterator(std::filesystem::u8path(folder)), {});
}

int WritePreferences(ZAFSysPreferenceRepository& repository,
                     const zaf::PreferenceMap& preferences) {
  for (const auto& [name, value] : preferences) {
    int result = 0;
    if (const auto* numbers = std::get_if<std::vector<int>>(&value)) {
      result = repository.WritePreference(name.c_str(), numbers->data(),
                                          static_cast<int>(numbers->size()));
    } else {
      const auto& texts = std::get<std::vector<std::string>>(value);
      const std::vector<ZAFUnicodeString> strings(texts.begin(), texts.end());
      std::vector<const ZAFUnicodeString*> pointers;
      for (const ZAFUnicodeString& text : strings) {
        pointers.push_back(&text);
      }
      result = repository.WritePreference(name.c_str(), pointers.data(),
                                          static_cast<int>(pointers.size()));
    }
    if (result != 0) {
      return result;
    }
  }
  return 0;
}

}  // namespace qimtest
