#pragma once
// Dry runs: the host records the file changes the plug-in asks for instead of making them, so
// that looking at the form or the plan changes no file and the plan can say what a deployment
// will change.

#include <string>
#include <vector>

#include "host/zaf_host.h"

namespace wassetup {

// While it lives the host records file changes instead of making them (zaf::SetRecording).
// Scopes nest: the host goes back to what it did before when the scope ends.
class DryRun {
 public:
  DryRun();
  ~DryRun();
  DryRun(const DryRun&) = delete;
  DryRun& operator=(const DryRun&) = delete;

  // The changes recorded since the last call (or since the host's record was last emptied).
  std::vector<zaf::FileChange> Take();

 private:
  bool wasRecording_;
};

// What a change does, in the operator's words: "stores the settings in FILE", "restores FILE
// from NAME" (a copy onto FILE from FILE plus an ending), "backs up FILE to NAME" (a copy of
// FILE to FILE plus an ending), else "copies FROM to TO".
std::string DescribeChange(const zaf::FileChange& change);

// "store-settings", "restore", "back-up" or "copy", as DescribeChange tells them apart.
const char* ChangeAction(const zaf::FileChange& change);

}  // namespace wassetup
