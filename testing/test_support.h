#pragma once
// Moving parts that the tests, benchmarks and fuzzers share: host doubles (one that records
// the commands, one that composes them), a repository that stores nothing, temporary folders,
// scoped host configurations and environment changes, and list, preference and file helpers.

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "host/platform/files.h"
#include "host/was_setup.h"
#include "host/zaf_host.h"
#include "host/zaf_list.h"
#include "host/zaf_preferences.h"
#include "host/zaf_string.h"

namespace qimtest {

// The shipped catalogs, as the source tree holds them.
inline constexpr const char* kSourceCatalogDirectory = QIM_SOURCE_CATALOG_DIR;

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

// Reports an IBM DB2 database and composes each command line as its pieces joined by blanks,
// as a host would, without recording anything: the double of the benchmarks.
class ComposingHost : public WASSetupUIHost {
 public:
  int GetDatabaseSettings(WASDatabaseSettings& settings) override;
  int BuildJavaCommand(const ZAFListValZAFUnicodeString& options, const ZAFUnicodeString& className,
                       const ZAFListValZAFUnicodeString& arguments,
                       ZAFUnicodeString& commandLine) override;
  int BuildScriptCommand(const ZAFUnicodeString& script,
                         const ZAFListValZAFUnicodeString& arguments,
                         ZAFUnicodeString& commandLine) override;
};

// A repository that holds nothing and saves nothing: reads fail as for a missing preference,
// writes and saves succeed. It takes the disk out of what is measured.
class NullRepository : public ZAFSysPreferenceRepository {
 public:
  int ReadPreference(const ZAFString& name, int* values, int count) override;
  int ReadPreference(const ZAFString& name, ZAFUnicodeString** values, int count) override;
  int WritePreference(const ZAFString& name, const int* values, int count) override;
  int WritePreference(const ZAFString& name, const ZAFUnicodeString* const* values,
                      int count) override;
  int SaveRepository(void* reserved) override;
};

// Runs a whole plan as the host does: the command tags, then the command of every tag. Gives
// the total length of the command lines, so that the work cannot be optimised away.
std::size_t RunPlan(WASSetupUIPlugIn& plugin);

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
  explicit ScopedHost(const std::string& catalogDirectory = kSourceCatalogDirectory,
                      const std::string& preferenceDirectory = "", char separator = '/');
  ~ScopedHost();
  ScopedHost(const ScopedHost&) = delete;
  ScopedHost& operator=(const ScopedHost&) = delete;

  // Hands out `repository` (kept by the caller) for every repository name.
  void UseRepository(ZAFSysPreferenceRepository* repository);

  // Counts the host's diagnostics instead of printing them.
  void CountDiagnostics();
  int Diagnostics() const { return diagnostics_; }

 private:
  int diagnostics_ = 0;
};

// Sets (or, with no value, removes) an environment variable for one scope and restores it.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

// Holds the save lock of a preference file as another process would: the lock on
// "<file>.lock" with the holder's process id written in it, until released.
class HeldLock {
 public:
  explicit HeldLock(const std::string& lockFile);
  ~HeldLock();
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;

  bool Held() const { return held_; }
  void Release();

 private:
  zaf::platform::LockFile file_;
  bool held_ = false;
};

ZAFListValZAFUnicodeString MakeList(std::initializer_list<const char*> items);
ZAFListValZAFUnicodeString MakeList(const std::vector<std::string>& items);
std::vector<std::string> ToVector(const ZAFListValZAFUnicodeString& list);

// Writes each of `preferences` (integers or texts) through `repository`, as the plug-in writes;
// 0 when every write worked, else the first failure's code. Does not save.
int WritePreferences(ZAFSysPreferenceRepository& repository, const zaf::PreferenceMap& preferences);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
// The number of entries in `folder` (not below it).
long CountEntries(const std::string& folder);

}  // namespace qimtest
