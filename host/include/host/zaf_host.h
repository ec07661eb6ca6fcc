#pragma once
// How the host application sets up the host services: where the catalogs and the
// preferences live, the directory separator of joins, and where warnings go. The plug-in
// never calls these; the deployment tool and the tests do.

#include <cstddef>
#include <functional>
#include <string>

#include "zaf_api.h"
#include "zaf_preferences.h"

namespace zaf {

// A preference file larger than this is neither read nor written: a repository holds a few
// dozen settings, so anything bigger is not a preference file of this host.
constexpr std::size_t kMaxPreferenceFileBytes = std::size_t{1} << 20;

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

// Back to the defaults above, forgetting catalogs and repositories (for tests).
ZAF_API void ResetHost();

}  // namespace zaf
