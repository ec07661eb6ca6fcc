#pragma once
// The file behind a preference repository: reading it, and saving it so that the old file
// stays whole until the new one is complete and a crash never leaves a half-written file.

#include <string>

#include "preference_store.h"

namespace zaf {

class PreferenceFile {
 public:
  // The file "<directory>/<name>.prefs".
  PreferenceFile(const std::string& directory, const std::string& name);

  const std::string& Path() const { return path_; }

  // The preferences the file holds; none when it is missing, unreadable or not a valid
  // preference file. Reports once (through ReportDiagnostic) a file that cannot be read or
  // parsed, and one that others than its owner may read.
  PreferenceMap Load();

  // Saves the preferences of the file as it is now, with `changes` put over them, and gives
  // back what was saved; nothing when the save failed (reported). A file that is no valid
  // preference file is first kept aside as "<file>.corrupt" (or ".corrupt.N"); a file that
  // exists but cannot be read is left alone and the save refused.
  std::optional<PreferenceMap> Save(const PreferenceMap& changes);

 private:
  // Renames the invalid file to the first free "<file>.corrupt[.N]" and says so; `failure`
  // starts the line when that fails.
  bool KeepAside(const std::string& invalidReason, const std::string& failure);

  std::string directory_;
  std::string path_;
  std::string lockPath_;
};

}  // namespace zaf
