#pragma once
// The fixture of the preference file's tests on every system: a repository in a folder of the
// test's own, opened afresh as a new run of the tool opens it, and the lines the host says.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "host/zaf_host.h"
#include "preference_store.h"
#include "test_support.h"

namespace qimtest {

// Version k of the settings of writer `prefix`: "count" = "k" and texts whose number and
// lengths change with k, so that a torn or spliced file never passes for a whole version.
inline zaf::PreferenceMap Version(const std::string& prefix, int k) {
  std::vector<std::string> texts;
  for (int index = 0; index <= k % 7; ++index)
    texts.push_back(std::string(20 + (k * 7 + index) % 90, static_cast<char>('a' + k % 26)) +
                    " \"q\" \\ \n caf\xC3\xA9 " + std::to_string(k));
  return {{prefix + "count", std::vector<std::string>{std::to_string(k)}},
          {prefix + "Values", texts}};
}

// Writes `preferences` through the repository and saves; 0 when all of it worked.
inline int Save(ZAFSysPreferenceRepository* repository, const zaf::PreferenceMap& preferences) {
  return WritePreferences(*repository, preferences) == 0 ? repository->SaveRepository(nullptr) : -1;
}

// The text the repository holds under `name`; empty when it holds none.
inline std::string Read(ZAFSysPreferenceRepository* repository, const char* name = "count") {
  ZAFUnicodeString text;
  ZAFUnicodeString* pointer = &text;
  return repository->ReadPreference(name, &pointer, 1) == 0 ? text.str() : "";
}

class PreferenceStoreTest : public ::testing::Test {
 protected:
  PreferenceStoreTest() { Use(folder_.File("prefs")); }

  void Use(const std::string& prefs) {
    prefs_ = prefs;
    file_ = prefs + "/QIMSetup.prefs";
    zaf::SetDiagnosticSink([this](const std::string& line) { lines_.push_back(line); });
  }
  // A fresh repository object, as a new run of the tool would have.
  ZAFSysPreferenceRepository* Fresh() const {
    zaf::SetPreferenceDirectory(prefs_);  // closes the repositories opened so far
    return zaf::OpenHostRepository("QIMSetup");
  }
  int SaveVersion(int k) const { return Save(Fresh(), Version("", k)); }
  std::optional<zaf::PreferenceMap> InFile() const {
    std::string error;
    return zaf::ParsePreferences(ReadFile(file_), error);
  }
  // The files in the folder: after a save, the file and its lock.
  long Entries() const { return CountEntries(prefs_); }

  TempDir folder_;
  ScopedHost host_;
  std::string prefs_;
  std::string file_;
  std::vector<std::string> lines_;
};

}  // namespace qimtest
