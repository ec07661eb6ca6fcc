#include "core/dry_run.h"

namespace wassetup {

namespace {

// The name after the last separator of either form: the host joins with the one it is given.
std::string BaseName(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// `longer` is `shorter` followed by an ending such as ".bak" or ".deprecated".
bool HasEnding(const std::string& longer, const std::string& shorter) {
  return longer.size() > shorter.size() + 1 && longer.compare(0, shorter.size(), shorter) == 0 &&
         longer[shorter.size()] == '.';
}

}  // namespace

DryRun::DryRun() : wasRecording_(zaf::IsRecording()) {
  zaf::SetRecording(true);
}

DryRun::~DryRun() {
  zaf::SetRecording(wasRecording_);
}

std::vector<zaf::FileChange> DryRun::Take() {
  return zaf::TakeRecordedChanges();
}

const char* ChangeAction(const zaf::FileChange& change) {
  if (change.kind == zaf::FileChange::Kind::kStorePreferences) {
    return "store-settings";
  }
  if (HasEnding(change.from, change.to)) {
    return "restore";
  }
  return HasEnding(change.to, change.from) ? "back-up" : "copy";
}

std::string DescribeChange(const zaf::FileChange& change) {
  const std::string action = ChangeAction(change);
  if (action == "store-settings") {
    return "stores the settings in " + change.to;
  }
  if (action == "restore") {
    return "restores " + change.to + " from " + BaseName(change.from);
  }
  if (action == "back-up") {
    return "backs up " + change.from + " to " + BaseName(change.to);
  }
  return "copies " + change.from + " to " + change.to;
}

}  // namespace wassetup
