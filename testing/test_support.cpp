#include "test_support.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <variant>

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

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qimtest.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a temporary folder");
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // A test may leave read-only folders behind; make them writable so they can go.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
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
  if (const char* current = std::getenv(name_.c_str())) {
    saved_ = current;
  }
  if (value) {
    setenv(name_.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (saved_) {
    setenv(name_.c_str(), saved_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
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
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

HeldLock::HeldLock(const std::string& lockFile)
    : descriptor_(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
  const std::string id = std::to_string(::getpid()) + "\n";
  held_ = descriptor_ >= 0 && ::flock(descriptor_, LOCK_EX) == 0 &&
          ::ftruncate(descriptor_, 0) == 0 &&
          ::write(descriptor_, id.data(), id.size()) == static_cast<ssize_t>(id.size());
}

HeldLock::~HeldLock() {
  Release();
}

void HeldLock::Release() {
  if (descriptor_ >= 0) {
    ::close(descriptor_);
    descriptor_ = -1;
  }
}

bool FileExists(const std::string& path) {
  return std::filesystem::exists(path);
}

long CountEntries(const std::string& folder) {
  return std::distance(std::filesystem::directory_iterator(folder), {});
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
