#pragma once
// The file behind a preference repository: reading it, and saving it so that the old file
// stays whole until the new one is complete and a crash never leaves a half-written file.

#include <functional>
#include <optional>
#include <string>

#include "host/zaf_host.h"

namespace zaf {

class PreferenceFile {
 public:
  // Changes the preferences a file holds into those to save.
  using Update = std::function<void(PreferenceMap& preferences)>;

  // The file "<directory>/<name>.prefs" of the repository `name`.
  PreferenceFile(const std::string& directory, const std::string& name);

  const std::string& Path() const { return path_; }

  // The preferences the file holds; none when it is missing, unreadable, not a valid
  // preference file or against the repository's check (SetPreferenceCheck). Reports once
  // (through ReportDiagnostic) a file that cannot be read or is not valid, one that others
  // than its owner may read, and a folder that is not fit (PreferenceFolderProblem). Takes no
  // lock: a save replaces the file in one rename.
  PreferenceMap Load();

  // Saves what `update` makes of the preferences the file holds at that moment (read again
  // under the lock, so that what another process saved meanwhile is seen), and gives back what
  // was saved; nothing when the save failed (reported). A save that would leave a valid,
  // private file exactly as it is neither takes the lock nor writes: `update` is first called
  // on the file read without the lock, and again under the lock when that changes the file. A
  // file that is no valid preference file is first kept aside as "<file>.corrupt" (the newest
  // few such copies are kept); a file that exists but cannot be read, a symbolic link
  // included, is left alone and the save refused.
  std::optional<PreferenceMap> Save(const Update& update);

 private:
  // The preferences of `bytes`, or nothing with `reason` set when they do not parse or break
  // the repository's check.
  std::optional<PreferenceMap> Parse(const std::string& bytes, std::string& reason) const;

  std::string directory_;
  std::string name_;
  std::string fileName_;  // "<name>.prefs", opened relative to the folder
  std::string path_;      // the whole path, for messages
};

}  // namespace zaf
