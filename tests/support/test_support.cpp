#include "tests/support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

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

bool FileExists(const std::string& path) {
  return std::filesystem::exists(path);
}

}  // namespace qimtest
