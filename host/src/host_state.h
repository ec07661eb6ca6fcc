#pragma once
// What the host's services share behind zaf_host.h: the caches that a change of
// configuration must drop, and the configured repository provider and preference rules.

#include "host/zaf_host.h"

namespace zaf {

// Forgets every catalog read so far (defined with the catalogs).
void ClearCatalogCache();

// Destroys the host's own repositories; the next request opens them afresh (defined with
// the preferences).
void CloseRepositories();

// The provider set by SetPreferenceRepositoryProvider; empty when the host's own is used.
RepositoryProvider GetPreferenceRepositoryProvider();

// What SetPreferenceCheck, SetPreferenceLockTimeout and SetPreferenceLockWaitNotice set (an
// empty check or notice when none is set).
constexpr std::chrono::milliseconds kDefaultPreferenceLockTimeout{30000};
PreferenceCheck GetPreferenceCheck(const std::string& name);
std::chrono::milliseconds GetPreferenceLockTimeout();
LockWaitNotice GetPreferenceLockWaitNotice();

}  // namespace zaf
