// Preference files on disk. The folder is opened once per read or save and held open while its
// files are used (see zaf::platform::Folder), so that a name swapped for a symbolic link
// between two calls can never redirect a write. A save takes an exclusive lock beside the file
// (released by the system if the process dies), reads the file again under the lock so that
// preferences another process saved meanwhile are kept, writes a private temporary file, makes
// it durable and renames it over the old one. Reading takes no lock: the rename replaces the
// file whole.

#include "preference_file.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "host/platform/files.h"
#include "host_state.h"
#include "preference_store.h"

namespace zaf {

namespace {

using platform::FileContent;
using platform::Folder;
using platform::FolderFile;

// Damaged files kept aside: "<file>.corrupt" and the copies ".corrupt.1" and ".corrupt.2".
constexpr int kKeptDamagedCopies = 3;
constexpr const char* kRole = "preference folder";

std::string TooLargeReason() {
  return "it is larger than " + std::to_string(kMaxPreferenceFileBytes >> 20) + " MiB";
}

// Why the file whose reading gave `content` cannot be used; empty when it was read.
std::string UnreadableReason(const FileContent& content) {
  switch (content.status) {
    case FileContent::Status::kMissing:
    case FileContent::Status::kRead:
      return "";
    case FileContent::Status::kLink:
      return "it is a symbolic link, which is not followed";
    case FileContent::Status::kFolder:
      return "it is a folder";
    case FileContent::Status::kNotRegular:
      return "it is not a regular file";
    case FileContent::Status::kTooLarge:
      return TooLargeReason();
    case FileContent::Status::kFailed:
      break;
  }
  return content.reason;
}

bool IsUnreadable(const FileContent& content) {
  return content.status != FileContent::Status::kMissing &&
         content.status != FileContent::Status::kRead;
}

std::string SecondsText(std::chrono::milliseconds duration) {
  const long long milliseconds = duration.count();
  if (milliseconds % 1000 == 0) {
    return std::to_string(milliseconds / 1000) + " s";
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(milliseconds) / 1000.0);
  return text;
}

std::string HolderText(long holder) {
  return holder > 0 ? "process " + std::to_string(holder) : "another process";
}

// Holds the exclusive lock on the lock file `name` in `folder` for its lifetime. The holder
// writes its process id into the file, so that a save that finds the lock taken can say whose
// it is. Waiting is bounded: a process that keeps the lock (stopped, or hung on a dead network
// file system) must not hang every later save without a word.
class FileLock {
 public:
  FileLock(const Folder& folder, const std::string& name, const std::string& path)
      : path_(path), file_(folder, name) {
    if (!file_.IsOpen()) {
      problem_ = "cannot open the lock file " + path + ": " + file_.Problem();
      return;
    }
    if (TryLock() || (problem_.empty() && WaitForLock())) {
      file_.RecordHolder();
      held_ = true;
      return;
    }
    file_.Close();
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool Held() const { return held_; }
  const std::string& Problem() const { return problem_; }

 private:
  // Takes the lock if it is free; sets problem_ on an error other than its being held.
  bool TryLock() {
    std::string reason;
    const platform::LockFile::Attempt attempt = file_.TryLock(reason);
    if (attempt == platform::LockFile::Attempt::kFailed) {
      problem_ = "cannot lock " + path_ + ": " + reason;
    }
    return attempt == platform::LockFile::Attempt::kTaken;
  }

  // Polls for the lock until the configured timeout, telling once whose lock it waits for.
  bool WaitForLock() {
    using Clock = std::chrono::steady_clock;
    const std::chrono::milliseconds timeout = GetPreferenceLockTimeout();
    long holder = file_.Holder();
    if (timeout.count() > 0) {
      if (const LockWaitNotice notice = GetPreferenceLockWaitNotice()) {
        notice(holder);
      } else {
        ReportDiagnostic("waiting for the lock " + path_ + " held by " + HolderText(holder));
      }
    }
    const Clock::time_point deadline = Clock::now() + timeout;
    auto pause = std::chrono::milliseconds(1);
    while (Clock::now() < deadline) {
      std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - Clock::now()));
      if (TryLock()) {
        return true;
      }
      if (!problem_.empty()) {
        return false;
      }
      // Short pauses: a save holds the lock for a millisecond or two, and a waiter that slept
      // long would keep missing the gaps between another process's saves.
      pause = std::min(pause * 2, std::chrono::milliseconds(4));
    }
    holder = file_.Holder() > 0 ? file_.Holder() : holder;
    problem_ = "the lock " + path_ + " is still held by " + HolderText(holder) + " after " +
               SecondsText(timeout) + "; try again when it is done";
    return false;
  }

  std::string path_;
  platform::LockFile file_;
  bool held_ = false;
  std::string problem_;
};

// The number after `prefix` in `name` ("<prefix>12"), or -1 when `name` is not that.
long NumberAfter(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.size() - prefix.size() > 9 ||
      name.find_first_not_of("0123456789", prefix.size()) != std::string::npos) {
    return -1;
  }
  return std::stol(name.substr(prefix.size()));
}

// Removes the "<file>.tmp.<pid>" files of saves that died before their rename. Temporary
// files are only written under the lock, so the caller, who holds it, knows that any it finds
// is dead; without this each crashed save would leave one behind for good. Only names whose
// end is all digits go: another repository's "<name>.prefs.tmp.5.prefs" is no temporary file.
void RemoveDeadTemporaryFiles(const Folder& folder, const std::string& fileName) {
  const std::string prefix = fileName + ".tmp.";
  folder.ForEachEntry([&](const std::string& name) {
    if (NumberAfter(name, prefix) >= 0) {
      folder.Remove(name);
    }
  });
}

// "<file>.corrupt" for the newest copy (age 0), else "<file>.corrupt.<age>".
std::string DamagedCopyName(const std::string& fileName, int age) {
  return fileName + ".corrupt" + (age == 0 ? "" : "." + std::to_string(age));
}

}  // namespace

std::string PreferenceFolderProblem(const std::string& directory) {
  return Folder::Open(directory, /*create=*/false, kRole).Problem();
}

PreferenceFile::PreferenceFile(const std::string& directory, const std::string& name)
    : directory_(directory),
      name_(name),
      fileName_(name + ".prefs"),
      path_(directory + (!directory.empty() && directory.back() == '/' ? "" : "/") + fileName_) {}

std::optional<PreferenceMap> PreferenceFile::Parse(const std::string& bytes,
                                                   std::string& reason) const {
  std::optional<PreferenceMap> preferences = ParsePreferences(bytes, reason);
  if (preferences) {
    if (const PreferenceCheck check = GetPreferenceCheck(name_)) {
      reason = check(*preferences);
      if (!reason.empty()) {
        preferences.reset();
      }
    }
  }
  return preferences;
}

PreferenceMap PreferenceFile::Load() {
  const Folder folder = Folder::Open(directory_, /*create=*/false, kRole);
  if (folder.Missing()) {
    return {};
  }
  if (!folder.Problem().empty()) {
    ReportDiagnostic("cannot read the preferences in " + path_ + ": " + folder.Problem());
    return {};
  }
  const FolderFile file = folder.ReadFile(fileName_, kMaxPreferenceFileBytes);
  if (file.content.status == FileContent::Status::kMissing) {
    return {};
  }
  if (IsUnreadable(file.content)) {
    ReportDiagnostic("cannot read the preferences in " + path_ + ": " +
                     UnreadableReason(file.content) +
                     "; they are unavailable and the file will not be replaced");
    return {};
  }
  if (!file.sharedAccess.empty()) {
    ReportDiagnostic(path_ + ": " + file.sharedAccess +
                     " although it holds passwords; the next save makes it owner-only");
  }
  std::string error;
  std::optional<PreferenceMap> preferences = Parse(file.content.bytes, error);
  if (!preferences) {
    ReportDiagnostic(path_ + ": not a valid preference file (" + error +
                     "); its preferences are ignored and the next save keeps it aside");
    return {};
  }
  return std::move(*preferences);
}

namespace {

// Keeps the damaged file `fileName` (open as `file`) aside as "<file>.corrupt", the copies kept
// before moving one step older (".corrupt.1", ".corrupt.2") and older ones removed: damaged
// files hold passwords too, so they are made owner-only and do not pile up. Gives the problem,
// or empty.
std::string KeepDamagedFileAside(const Folder& folder, const std::string& fileName,
                                 platform::OpenFile& file) {
  file.MakeOwnerOnly();
  file.Close();
  const std::string oldest = fileName + ".corrupt.";
  folder.ForEachEntry([&](const std::string& name) {
    if (NumberAfter(name, oldest) >= kKeptDamagedCopies - 1) {
      folder.Remove(name);
    }
  });
  for (int age = kKeptDamagedCopies - 2; age >= 0; --age) {
    const std::string from = DamagedCopyName(fileName, age);
    const platform::FileResult moved = folder.Rename(from, DamagedCopyName(fileName, age + 1));
    if (moved.status == platform::FileResult::Status::kFailed) {
      return "cannot move the damaged copy " + from + " aside: " + moved.reason;
    }
  }
  const platform::FileResult kept = folder.Rename(fileName, DamagedCopyName(fileName, 0));
  if (!kept.Done()) {
    return "cannot keep the invalid file aside as " + DamagedCopyName(fileName, 0) + ": " +
           kept.reason;
  }
  return "";
}

}  // namespace

std::optional<PreferenceMap> PreferenceFile::Save(const Update& update) {
  const std::string failure = "cannot save the preferences to " + path_ + ": ";
  const Folder folder = Folder::Open(directory_, /*create=*/true, kRole);
  if (!folder.Problem().empty()) {
    ReportDiagnostic(failure + folder.Problem());
    return std::nullopt;
  }
  // A save that would leave the file as it is returns at once, without the lock, so that a run
  // that changes nothing never waits for another's save: most runs store the settings they
  // read. Read without the lock the file is still whole (a save replaces it in one rename); when
  // it is valid and private and `update` gives exactly its text again, saving changes nothing.
  {
    const FolderFile current = folder.ReadFile(fileName_, kMaxPreferenceFileBytes);
    std::string reason;
    std::optional<PreferenceMap> unchanged;
    if (current.content.status == FileContent::Status::kRead && current.ownerOnly) {
      unchanged = Parse(current.content.bytes, reason);
    }
    if (unchanged) {
      update(*unchanged);
      if (SerializePreferences(*unchanged) == current.content.bytes) {
        return unchanged;
      }
    }
  }
  const FileLock lock(folder, fileName_ + ".lock", path_ + ".lock");
  if (!lock.Held()) {
    ReportDiagnostic(failure + lock.Problem());
    return std::nullopt;
  }
  RemoveDeadTemporaryFiles(folder, fileName_);
  FolderFile file = folder.ReadFile(fileName_, kMaxPreferenceFileBytes);
  if (IsUnreadable(file.content)) {
    ReportDiagnostic(failure + "the file exists but cannot be read (" +
                     UnreadableReason(file.content) + "); it is left as it is");
    return std::nullopt;
  }
  // Start from the file as it is now, so that what another process saved meanwhile stays.
  PreferenceMap saved;
  std::string invalidReason;
  const bool read = file.content.status == FileContent::Status::kRead;
  if (read) {
    if (std::optional<PreferenceMap> current = Parse(file.content.bytes, invalidReason)) {
      saved = std::move(*current);
    }
  }
  update(saved);
  const std::string bytes = SerializePreferences(saved);
  if (bytes.size() > kMaxPreferenceFileBytes) {
    ReportDiagnostic(failure + "the preferences would make the file larger than " +
                     std::to_string(kMaxPreferenceFileBytes >> 20) + " MiB");
    return std::nullopt;
  }
  const std::string temporary = fileName_ + ".tmp." + std::to_string(platform::CurrentProcessId());
  std::string problem = folder.WritePrivateFile(temporary, bytes);
  if (!problem.empty()) {
    ReportDiagnostic(failure + problem);
    return std::nullopt;
  }
  // An invalid file goes aside only now that its replacement is complete.
  if (!invalidReason.empty()) {
    problem = KeepDamagedFileAside(folder, fileName_, file.file);
    if (!problem.empty()) {
      ReportDiagnostic(failure + problem);
      folder.Remove(temporary);
      return std::nullopt;
    }
    ReportDiagnostic(path_ + " was not a valid preference file (" + invalidReason +
                     "); kept it as " + path_ + ".corrupt (the " +
                     std::to_string(kKeptDamagedCopies) + " newest damaged copies are kept)");
  }
  // The file read is let go first: Windows renames nothing over a file that is still open.
  file.file.Close();
  const platform::FileResult renamed = folder.Rename(temporary, fileName_);
  if (!renamed.Done()) {
    ReportDiagnostic(failure + "cannot rename " + temporary + ": " + renamed.reason);
    folder.Remove(temporary);
    return std::nullopt;
  }
  folder.FlushEntries();
  return saved;
}

}  // namespace zaf
