#pragma once
// Moving parts the tests share: a recording host double, temporary folders, a scoped host
// configuration and list helpers.

#include <initializer_list>
#include <string>
#include <vector>

#include "host/was_setup.h"
#include "host/zaf_list.h"
#include "host/zaf_string.h"

namespace qimtest {

// One command the plug-in handed to the host; a script has no options.
struct RecordedCommand {
  std::vector<std::string> options;  // Java commands
  std::string target;                // the Java class or the script name
  std::vector<std::string> arguments;
};

// A WASSetupUIHost that reports the database product and server settings it is given and
// keeps every command it is asked to compose.
class RecordingHost : public WASSetupUIHost {
 public:
  std::string databaseProduct = "IBM DB2";
  std::string wasDirectory;
  std::string nuvServlet;
  std::vector<RecordedCommand> commands;
  int databaseSettingsCalls = 0;
  int serverSettingsCalls = 0;

  int GetDatabaseSettings(WASDatabaseSettings& settings) override;
  int GetServerSettings(WASServerSettings& settings) override;
  int BuildJavaCommand(const ZAFListValZAFUnicodeString& options, const ZAFUnicodeString& className,
                       const ZAFListValZAFUnicodeString& arguments,
                       ZAFUnicodeString& commandLine) override;
  int BuildScriptCommand(const ZAFUnicodeString& script,
                         const ZAFListValZAFUnicodeString& arguments,
                         ZAFUnicodeString& commandLine) override;
};

// A fresh folder, removed with everything in it at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Configures the host services for one test and restores the defaults afterwards: the
// shipped catalogs (or `catalogDirectory`), preferences in memory (or in a folder), and the
// directory separator.
class ScopedHost {
 public:
  explicit ScopedHost(const std::string& catalogDirectory = QIM_SOURCE_CATALOG_DIR,
                      const std::string& preferenceDirectory = "", char separator = '/');
  ~ScopedHost();
  ScopedHost(const ScopedHost&) = delete;
  ScopedHost& operator=(const ScopedHost&) = delete;
};

ZAFListValZAFUnicodeString MakeList(std::initializer_list<const char*> items);
ZAFListValZAFUnicodeString MakeList(const std::vector<std::string>& items);
std::vector<std::string> ToVector(const ZAFListValZAFUnicodeString& list);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

}  // namespace qimtest
