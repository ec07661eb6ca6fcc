#pragma once
// What the benchmarks share: a host object that composes command lines without keeping them,
// a preference repository that stores nothing, a configured host, a temporary folder and the
// plug-in with its message lookup opened up.

#include <string>

#include "host/was_setup.h"
#include "host/zaf_preferences.h"
#include "plugin/QimSetupPlugIn.h"

namespace qimbench {

// The shipped catalogs as the build tree holds them.
inline constexpr const char* kCatalogDirectory = QIM_BENCH_CATALOG_DIR;

// Reports an IBM DB2 database and composes each command line as its pieces joined by blanks,
// as a host would, without recording anything.
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

// A fresh folder under the temporary folder, removed with its content at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Configures the host services for one benchmark: the shipped catalogs, the preferences in
// `preferenceDirectory` (in memory when empty) and, when `repository` is set, that repository
// for every name. Diagnostics are counted, not printed. Restores the defaults at the end.
class ScopedHost {
 public:
  explicit ScopedHost(const std::string& preferenceDirectory = "",
                      ZAFSysPreferenceRepository* repository = nullptr);
  ~ScopedHost();
  ScopedHost(const ScopedHost&) = delete;
  ScopedHost& operator=(const ScopedHost&) = delete;

  int Diagnostics() const { return diagnostics_; }

 private:
  int diagnostics_ = 0;
};

// The plug-in with its message lookup public.
class BenchPlugIn : public QimSetupPlugIn {
 public:
  using QimSetupPlugIn::GetMessage;
};

// Runs a whole plan as the host does: the command tags, then the command of every tag. Gives
// the total length of the command lines, so that the work cannot be optimised away.
std::size_t RunPlan(WASSetupUIPlugIn& plugin);

}  // namespace qimbench
