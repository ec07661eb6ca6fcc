// The host's configuration: where catalogs and preferences live, the separator of joins, the
// repository provider, the checks and lock wait of preference files, the diagnostic sink and
// the record of a dry run. Kept behind one mutex because the tool may configure while services
// run; callbacks are always called outside it.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <utility>

#include "host/zaf_host.h"
#include "host_state.h"

namespace zaf {

namespace {

struct HostConfiguration {
  std::string catalogDirectory;
  std::string preferenceDirectory;
  RepositoryProvider repositoryProvider;
  DiagnosticSink diagnosticSink;
  std::map<std::string, PreferenceCheck> preferenceChecks;
  std::chrono::milliseconds lockTimeout = kDefaultPreferenceLockTimeout;
  LockWaitNotice lockWaitNotice;
  bool recording = false;
  std::vector<FileChange> recorded;
};

std::mutex configurationMutex;
HostConfiguration configuration;
// An atomic apart from the rest rather than under the lock: every path join reads it.
std::atomic<char> pathSeparator{'/'};

void WriteToStandardError(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace

void SetCatalogDirectory(const std::string& directory) {
  {
    std::lock_guard<std::mutex> lock(configurationMutex);
    configuration.catalogDirectory = directory;
  }
  ClearCatalogCache();
}

std::string GetCatalogDirectory() {
  std::lock_guard<std::mutex> lock(configurationMutex);
  return configuration.catalogDirectory;
}

void SetPathSeparator(char separator) {
  pathSeparator = separator;
}

char GetPathSeparator() {
  return pathSeparator;
}

void SetPreferenceDirectory(const std::string& directory) {
  {
    std::lock_guard<std::mutex> lock(configurationMutex);
    configuration.preferenceDirectory = directory;
  }
  CloseRepositories();
}

std::string GetPreferenceDirectory() {
  std::lock_guard<std::mutex> lock(configurationMutex);
  return configuration.preferenceDirectory;
}

void SetPreferenceRepositoryProvider(RepositoryProvider provider) {
  std::lock_guard<std::mutex> lock(configurationMutex);
  configuration.repositoryProvider = std::move(provider);
}

RepositoryProvider GetPreferenceRepositoryProvider() {
  std::lock_guard<std::mutex> lock(configurationMutex);
  return configuration.repositoryProvider;
}

void SetPreferenceCheck(const std::string& name, PreferenceCheck check) {
  std::lock_guard<std::mutex> lock(configurationMutex);
  if (check) {
    configuration.preferenceChecks[name] = std::move(check);
  } else {
    configuration.preferenceChecks.erase(name);
  }
}

PreferenceCheck GetPreferenceCheck(const std::string& name) {
  std::lock_guard<std::mutex> lock(configurationMutex);
  const auto found = configuration.preferenceChecks.find(name);
  return found != configuration.preferenceChecks.end() ? found->second : PreferenceCheck();
}

void SetPreferenceLockTimeout(std::chrono::milliseconds timeout) {
  std::lock_guard<std::mutex> lock(configurationMutex);
  configuration.lockTimeout = std::max(timeout, std::chrono::milliseconds::zero());
}

std::chrono::milliseconds GetPreferenceLockTimeout() {
  std::lock_guard<std::mutex> lock(configurationMutex);
  return configuration.lockTimeout;
}

void SetPreferenceLockWaitNotice(LockWaitNotice notice) {
  std::lock_guard<std::mutex> lock(configurationMutex);
  configuration.lockWaitNotice = std::move(notice);
}

LockWaitNotice GetPreferenceLockWaitNotice() {
  std::lock_guard<std::mutex> lock(configurationMutex);
  return configuration.lockWaitNotice;
}

void SetDiagnosticSink(DiagnosticSink sink) {
  std::lock_guard<std::mutex> lock(configurationMutex);
  configuration.diagnosticSink = std::move(sink);
}

void ReportDiagnostic(const std::string& line) {
  DiagnosticSink sink;
  {
    std::lock_guard<std::mutex> lock(configurationMutex);
    sink = configuration.diagnosticSink;
  }
  // The sink runs unlocked so that it may itself use the host.
  if (sink) {
    sink(line);
  } else {
    WriteToStandardError(line);
  }
}

void SetRecording(bool recording) {
  std::lock_guard<std::mutex> lock(configurationMutex);
  configuration.recording = recording;
}

bool IsRecording() {
  std::lock_guard<std::mutex> lock(configurationMutex);
  return configuration.recording;
}

std::vector<FileChange> TakeRecordedChanges() {
  std::lock_guard<std::mutex> lock(configurationMutex);
  std::vector<FileChange> taken;
  taken.swap(configuration.recorded);
  return taken;
}

void RecordChange(FileChange change) {
  std::lock_guard<std::mutex> lock(configurationMutex);
  configuration.recorded.push_back(std::move(change));
}

void ResetHost() {
  {
    std::lock_guard<std::mutex> lock(configurationMutex);
    configuration = HostConfiguration();
  }
  pathSeparator = '/';
  ClearCatalogCache();
  CloseRepositories();
}

}  // namespace zaf
