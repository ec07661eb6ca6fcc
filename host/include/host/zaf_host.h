#pragma once
// How the host application sets up the host services: where the catalogs and the
// preferences live, the directory separator of joins, and where warnings go. The plug-in
// never calls these; the deployment tool and the tests do.

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "zaf_api.h"
#include "zaf_preferences.h"

namespace zaf {

// A preference file larger than this is neither read nor written: a repository holds a few
// dozen settings, so anything bigger is not a preference file of this host.
constexpr std::size_t kMaxPreferenceFileBytes = std::size_t{1} << 20;

// A stored preference holds integers or texts; a repository is its preferences by name.
using PreferenceValue = std::variant<std::vector<int>, std::vector<std::string>>;
using PreferenceMap = std::map<std::string, PreferenceValue>;

// The folder of the catalog files "<name>.cat". Setting it forgets the catalogs read so far.
ZAF_API void SetCatalogDirectory(const std::string& directory);
ZAF_API std::string GetCatalogDirectory();

// The separator ZAFMakePath puts between a directory and a name ('/' by default).
ZAF_API void SetPathSeparator(char separator);
ZAF_API char GetPathSeparator();

// The folder of the preference files "<name>.prefs". Empty (the default) keeps the
// preferences in memory for the life of the process. Setting it closes the repositories
// opened so far.
ZAF_API void SetPreferenceDirectory(const std::string& directory);
ZAF_API std::string GetPreferenceDirectory();

// Why the preference folder `directory` is not fit to hold preferences, or empty when it is
// fit or does not exist yet (the first save makes it, mode 0700). Unfit, as for a private key
// folder: a symbolic link, no folder, a folder another user owns or that group or others may
// write to (they could put preferences of their choosing in it). On Windows, until access
// lists are checked, only a link (any reparse point) and what is no folder are unfit.
ZAF_API std::string PreferenceFolderProblem(const std::string& directory);

// An application's rule for what the file of its repository `name` holds beyond the file
// format: gives why `stored` breaks it, or empty. A file that breaks the rule counts as
// damaged, as one that does not parse: its preferences are ignored with a warning and the
// next save keeps it aside. An empty check removes the rule.
using PreferenceCheck = std::function<std::string(const PreferenceMap& stored)>;
ZAF_API void SetPreferenceCheck(const std::string& name, PreferenceCheck check);

// How long a save waits for the lock that another process holds on the same preference file
// before it fails: 30 s by default, zero not at all.
ZAF_API void SetPreferenceLockTimeout(std::chrono::milliseconds timeout);

// Told once when a save finds the lock held by another process, with that process's id (0 when
// unknown), before it waits; without a notice the host reports a diagnostic line.
using LockWaitNotice = std::function<void(long holder)>;
ZAF_API void SetPreferenceLockWaitNotice(LockWaitNotice notice);

// Saves the host's own repository `name` as SaveRepository does, but lets `merge` decide what
// is saved: under the save lock it gets the preferences the file holds at that moment (after
// another process's saves) and the preferences written through the repository since its last
// save, and changes `file` into what is then saved. Gives 0, or a negative code when the save
// failed (reported); null `merge` puts the writes over the file, as SaveRepository. `merge` is
// first called on the file read without the lock: when it leaves a valid, private file exactly
// as it is, the save is done without waiting for the lock.
using PreferenceMerge = std::function<void(PreferenceMap& file, const PreferenceMap& written)>;
ZAF_API int SaveHostRepository(const std::string& name, const PreferenceMerge& merge);

// Replaces how repositories are found (tests use doubles); the provider keeps ownership of
// what it returns. An empty provider restores the host's own.
using RepositoryProvider = std::function<ZAFSysPreferenceRepository*(const std::string& name)>;
ZAF_API void SetPreferenceRepositoryProvider(RepositoryProvider provider);

// The host's own repository `name` (in memory or in the preference folder), whatever
// provider is set; null when the name is not a plain file name. Owned by the host.
ZAF_API ZAFSysPreferenceRepository* OpenHostRepository(const std::string& name);

// Where the host's one-line warnings and errors go; stderr by default. An empty sink restores
// stderr.
using DiagnosticSink = std::function<void(const std::string& line)>;
ZAF_API void SetDiagnosticSink(DiagnosticSink sink);
// Sends one line to the sink.
ZAF_API void ReportDiagnostic(const std::string& line);

// A change to a file that the host's services recorded instead of making it (see SetRecording).
struct FileChange {
  enum class Kind {
    kCopy,              // ZAFFCopy: `to` written as a copy of `from`
    kStorePreferences,  // SaveRepository: the preference file `to` written
  };
  Kind kind = Kind::kCopy;
  std::string from;
  std::string to;
};

// While recording, the host changes no file, so that a dry run can learn what a real run would
// change. ZAFFCopy checks its arguments and its source as a copy does, then records the copy
// and succeeds; ZAFFOpen refuses every mode but reading; SaveRepository of a repository kept in
// the preference folder records the save and succeeds; writes to a repository are dropped, so
// it keeps holding what was stored. Reads and probes work as always. Off by default.
ZAF_API void SetRecording(bool recording);
ZAF_API bool IsRecording();
// The changes recorded so far, in the order they were asked for; the record is emptied.
ZAF_API std::vector<FileChange> TakeRecordedChanges();
// Adds one change to the record (the host's services call it while recording).
ZAF_API void RecordChange(FileChange change);

// Back to the defaults above, forgetting catalogs, repositories and the record (for tests).
ZAF_API void ResetHost();

}  // namespace zaf
