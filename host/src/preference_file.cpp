// Preference files on disk. The folder is opened once per read or save, through a descriptor,
// and every file in it is then reached relative to that descriptor: a name swapped for a
// symbolic link between two calls can then never redirect a chmod or a write. A save takes an
// exclusive lock beside the file (released by the kernel if the process dies), reads the file
// again under the lock so that preferences another process saved meanwhile are kept, writes a
// private temporary file, makes it durable and renames it over the old one. Reading takes no
// lock: the rename replaces the file whole.

#include "preference_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "host/file_descriptor.h"
#include "host_state.h"
#include "posix_io.h"
#include "preference_store.h"

namespace zaf {

namespace {

constexpr mode_t kPrivateFile = 0600;
constexpr mode_t kPrivateFolder = 0700;
// Damaged files kept aside: "<file>.corrupt" and the copies ".corrupt.1" and ".corrupt.2".
constexpr int kKeptDamagedCopies = 3;

std::string SystemReason(int error) {
  return std::strerror(error);
}

std::string OctalMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

// ---- The folder ----

struct OpenedFolder {
  FileDescriptor descriptor;
  bool missing = false;  // it does not exist and was not to be made
  std::string problem;   // why it cannot be used, a clause naming it
};

std::vector<std::string> PathParts(const std::string& directory) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= directory.size()) {
    const std::size_t end = std::min(directory.find('/', start), directory.size());
    const std::string part = directory.substr(start, end - start);
    if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  return parts;
}

// Why the opened preference folder `status` is not fit, or empty: it must belong to the user
// who runs this and only its owner may write to it, else another user could put preferences
// of their choosing there (which name the commands a deployment runs).
std::string UnfitFolderReason(const std::string& directory, const struct stat& status) {
  if (status.st_uid != ::geteuid()) {
    return "the preference folder " + Quoted(directory) + " belongs to user " +
           std::to_string(status.st_uid) + ", not to user " + std::to_string(::geteuid()) +
           " who runs this; it is not used";
  }
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return "group or others may write to the preference folder " + Quoted(directory) + " (mode " +
           OctalMode(status.st_mode) + "); it is not used until only its owner may write to it " +
           "(chmod go-w " + Quoted(directory) + ")";
  }
  return "";
}

// Why `part` of `parent` could not be opened as a folder (`error` from openat).
std::string OpenFolderReason(int parent, const std::string& part, const std::string& shown,
                             bool last, int error) {
  struct stat status {};
  const bool link =
      ::fstatat(parent, part.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
  if (last && (error == ELOOP || (error == ENOTDIR && link))) {
    return "the preference folder " + Quoted(shown) +
           " is a symbolic link, which is not followed; give the folder it leads to instead";
  }
  if (last && error == ENOTDIR) {
    return "the preference folder " + Quoted(shown) + " is not a folder";
  }
  return "cannot open the folder " + Quoted(shown) + ": " + SystemReason(error);
}

// Opens the preference folder `directory` one part after the other, each relative to the one
// before, making the missing parts (mode 0700) when `create`. The parents may be symbolic
// links (a home folder often is one); the folder itself may not, and must be fit (see
// UnfitFolderReason). A part this call made gets exactly 0700 whatever the umask, through
// fchmod on its descriptor: chmod on a name could reach whatever another user swapped in.
OpenedFolder OpenPreferenceFolder(const std::string& directory, bool create) {
  OpenedFolder folder;
  const bool absolute = !directory.empty() && directory.front() == '/';
  folder.descriptor =
      FileDescriptor(::open(absolute ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.descriptor.IsOpen()) {
    folder.problem =
        "cannot open the folder " + Quoted(absolute ? "/" : ".") + ": " + SystemReason(errno);
    return folder;
  }
  const std::vector<std::string> parts = PathParts(directory);
  std::string shown = absolute ? "" : ".";
  for (std::size_t index = 0; index < parts.size(); ++index) {
    const std::string& part = parts[index];
    const bool last = index + 1 == parts.size();
    if (shown == ".") {
      shown = part;
    } else {
      shown += '/';
      shown += part;
    }
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (last ? O_NOFOLLOW : 0);
    const int parent = folder.descriptor.get();
    FileDescriptor next(::openat(parent, part.c_str(), flags));
    bool made = false;
    // Without making anything, a file where a parent folder should be means no preferences
    // yet, as a missing folder does; a save then says why it cannot make the folder.
    if (!next.IsOpen() && !create && !last && errno == ENOTDIR) {
      folder.missing = true;
      folder.descriptor.Reset();
      return folder;
    }
    if (!next.IsOpen() && errno == ENOENT) {
      if (!create) {
        folder.missing = true;
        folder.descriptor.Reset();
        return folder;
      }
      made = ::mkdirat(parent, part.c_str(), kPrivateFolder) == 0;
      if (!made && errno != EEXIST) {
        folder.problem = "cannot make the folder " + Quoted(shown) + ": " + SystemReason(errno);
        folder.descriptor.Reset();
        return folder;
      }
      // What was just made is a folder: a link in its place was swapped in since.
      next = FileDescriptor(::openat(parent, part.c_str(), flags | (made ? O_NOFOLLOW : 0)));
    }
    if (!next.IsOpen()) {
      folder.problem = OpenFolderReason(parent, part, shown, last, errno);
      folder.descriptor.Reset();
      return folder;
    }
    struct stat status {};
    if (made && ::fstat(next.get(), &status) == 0 && status.st_uid == ::geteuid()) {
      ::fchmod(next.get(), kPrivateFolder);
    }
    folder.descriptor = std::move(next);
  }
  struct stat status {};
  if (::fstat(folder.descriptor.get(), &status) != 0) {
    folder.problem = "cannot open the folder " + Quoted(directory) + ": " + SystemReason(errno);
  } else {
    folder.problem = UnfitFolderReason(directory, status);
  }
  if (!folder.problem.empty()) {
    folder.descriptor.Reset();
  }
  return folder;
}

// ---- Reading ----

struct FileContent {
  enum class Status { kMissing, kRead, kUnreadable } status = Status::kMissing;
  std::string bytes;
  std::string reason;  // why it could not be read
  mode_t mode = 0;
  FileDescriptor descriptor;  // open while the file is read
};

std::string TooLargeReason() {
  return "it is larger than " + std::to_string(kMaxPreferenceFileBytes >> 20) + " MiB";
}

// Reads to the end, or fails with EFBIG past the size limit (a file that grows while read).
bool ReadAll(int descriptor, std::string& bytes) {
  char buffer[16384];
  for (;;) {
    if (bytes.size() > kMaxPreferenceFileBytes) {
      errno = EFBIG;
      return false;
    }
    const ssize_t count = ReadResuming(descriptor, buffer, sizeof buffer);
    if (count <= 0) {
      return count == 0;
    }
    bytes.append(buffer, static_cast<std::size_t>(count));
  }
}

// Reads `name` in `folder`. A symbolic link in its place is not followed: it is no file of
// ours, and replacing it on the next save would throw away what the operator set up.
FileContent ReadPreferenceFile(int folder, const std::string& name) {
  FileContent content;
  // O_NONBLOCK keeps a FIFO put in the file's place from blocking the open.
  content.descriptor = FileDescriptor(
      ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  if (!content.descriptor.IsOpen()) {
    const int error = errno;
    if (error != ENOENT) {
      content.status = FileContent::Status::kUnreadable;
      content.reason =
          error == ELOOP ? "it is a symbolic link, which is not followed" : SystemReason(error);
    }
    return content;
  }
  struct stat status {};
  content.status = FileContent::Status::kUnreadable;
  const bool known = ::fstat(content.descriptor.get(), &status) == 0;
  if (known && S_ISDIR(status.st_mode)) {
    content.reason = "it is a folder";
  } else if (known && !S_ISREG(status.st_mode)) {
    content.reason = "it is not a regular file";
  } else if (known && static_cast<std::size_t>(status.st_size) > kMaxPreferenceFileBytes) {
    content.reason = TooLargeReason();
  } else if (known && ReadAll(content.descriptor.get(), content.bytes)) {
    content.status = FileContent::Status::kRead;
    content.mode = status.st_mode;
  } else {
    content.reason = SystemReason(errno);  // fstat or read failed
  }
  return content;
}

// ---- Writing ----

// Writes `bytes` to the new private file `name` in `folder` and makes them durable; on failure
// removes it and gives the step that failed with the system's reason.
bool WritePrivateFile(int folder, const std::string& name, const std::string& bytes,
                      std::string& problem) {
  ::unlinkat(folder, name.c_str(), 0);  // a leftover of a dead process with the same id
  const int descriptor = ::openat(
      folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kPrivateFile);
  if (descriptor < 0) {
    const int error = errno;
    problem = "cannot create " + name + ": " + SystemReason(error);
    return false;
  }
  const char* step = nullptr;
  if (::fchmod(descriptor, kPrivateFile) != 0) {
    step = "cannot set the mode of ";
  } else if (!WriteAll(descriptor, bytes.data(), bytes.size())) {
    step = "cannot write ";
  } else if (::fsync(descriptor) != 0) {
    step = "cannot flush ";
  }
  int error = step != nullptr ? errno : 0;
  if (::close(descriptor) != 0 && step == nullptr) {
    step = "cannot close ";
    error = errno;
  }
  if (step != nullptr) {
    problem = step + name + ": " + SystemReason(error);
    ::unlinkat(folder, name.c_str(), 0);
    return false;
  }
  return true;
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

// Holds an exclusive flock on the lock file `name` in `folder` for its lifetime. The holder
// writes its process id into the file, so that a save that finds the lock taken can say whose
// it is. Waiting is bounded: a process that keeps the lock (stopped, or hung on a dead network
// file system) must not hang every later save without a word.
class FileLock {
 public:
  FileLock(int folder, const std::string& name, const std::string& path) : path_(path) {
    descriptor_ = FileDescriptor(
        ::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kPrivateFile));
    if (!descriptor_.IsOpen()) {
      const int error = errno;
      problem_ = "cannot open the lock file " + path + ": " + SystemReason(error);
      return;
    }
    if (TryLock() || (problem_.empty() && WaitForLock())) {
      RecordHolder();
      return;
    }
    descriptor_.Reset();
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool Held() const { return descriptor_.IsOpen(); }
  const std::string& Problem() const { return problem_; }

 private:
  // Takes the lock if it is free; sets problem_ on an error other than its being held.
  bool TryLock() {
    int result = 0;
    do {
      result = ::flock(descriptor_.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0 && errno != EWOULDBLOCK) {
      problem_ = "cannot lock " + path_ + ": " + SystemReason(errno);
    }
    return result == 0;
  }

  // Polls for the lock until the configured timeout, telling once whose lock it waits for.
  bool WaitForLock() {
    using Clock = std::chrono::steady_clock;
    const std::chrono::milliseconds timeout = GetPreferenceLockTimeout();
    long holder = Holder();
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
    holder = Holder() > 0 ? Holder() : holder;
    problem_ = "the lock " + path_ + " is still held by " + HolderText(holder) + " after " +
               SecondsText(timeout) + "; try again when it is done";
    return false;
  }

  // The process id the holder wrote, when that process lives; 0 when unknown.
  long Holder() const {
    char text[32] = {};
    const ssize_t count = ::pread(descriptor_.get(), text, sizeof text - 1, 0);
    if (count <= 0) {
      return 0;
    }
    char* end = nullptr;
    const long holder = std::strtol(text, &end, 10);
    const bool alive = holder > 0 && (::kill(static_cast<pid_t>(holder), 0) == 0 || errno == EPERM);
    return end != text && alive ? holder : 0;
  }

  void RecordHolder() const {
    const std::string text = std::to_string(::getpid()) + "\n";
    if (::ftruncate(descriptor_.get(), 0) == 0) {
      WriteAll(descriptor_.get(), text.data(), text.size());
    }
  }

  std::string path_;
  FileDescriptor descriptor_;
  std::string problem_;
};

// Calls `visit` with the name of each entry of `folder`.
template <typename Visit>
void ForEachEntry(int folder, Visit visit) {
  FileDescriptor copy(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
  DIR* entries = copy ? ::fdopendir(copy.get()) : nullptr;
  if (entries == nullptr) {
    return;
  }
  copy.Release();  // closedir closes it
  ::rewinddir(entries);
  while (const dirent* entry = ::readdir(entries)) {
    visit(std::string(entry->d_name));
  }
  ::closedir(entries);
}

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
void RemoveDeadTemporaryFiles(int folder, const std::string& fileName) {
  const std::string prefix = fileName + ".tmp.";
  ForEachEntry(folder, [&](const std::string& name) {
    if (NumberAfter(name, prefix) >= 0) {
      ::unlinkat(folder, name.c_str(), 0);
    }
  });
}

// "<file>.corrupt" for the newest copy (age 0), else "<file>.corrupt.<age>".
std::string DamagedCopyName(const std::string& fileName, int age) {
  return fileName + ".corrupt" + (age == 0 ? "" : "." + std::to_string(age));
}

}  // namespace

std::string PreferenceFolderProblem(const std::string& directory) {
  return OpenPreferenceFolder(directory, /*create=*/false).problem;
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
  const OpenedFolder folder = OpenPreferenceFolder(directory_, /*create=*/false);
  if (folder.missing) {
    return {};
  }
  if (!folder.problem.empty()) {
    ReportDiagnostic("cannot read the preferences in " + path_ + ": " + folder.problem);
    return {};
  }
  const FileContent content = ReadPreferenceFile(folder.descriptor.get(), fileName_);
  switch (content.status) {
    case FileContent::Status::kMissing:
      return {};
    case FileContent::Status::kUnreadable:
      ReportDiagnostic("cannot read the preferences in " + path_ + ": " + content.reason +
                       "; they are unavailable and the file will not be replaced");
      return {};
    case FileContent::Status::kRead:
      break;
  }
  if ((content.mode & (S_IRGRP | S_IROTH)) != 0) {
    ReportDiagnostic(path_ + ": readable by group or others (mode " + OctalMode(content.mode) +
                     ") although it holds passwords; the next save makes it owner-only (0600)");
  }
  std::string error;
  std::optional<PreferenceMap> preferences = Parse(content.bytes, error);
  if (!preferences) {
    ReportDiagnostic(path_ + ": not a valid preference file (" + error +
                     "); its preferences are ignored and the next save keeps it aside");
    return {};
  }
  return std::move(*preferences);
}

namespace {

// Keeps the damaged file `fileName` aside as "<file>.corrupt", the copies kept before moving
// one step older (".corrupt.1", ".corrupt.2") and older ones removed: damaged files hold
// passwords too, so they are made owner-only and do not pile up. Gives the problem, or empty.
std::string KeepDamagedFileAside(int folder, const std::string& fileName,
                                 const FileContent& content) {
  ::fchmod(content.descriptor.get(), kPrivateFile);
  const std::string oldest = fileName + ".corrupt.";
  ForEachEntry(folder, [&](const std::string& name) {
    if (NumberAfter(name, oldest) >= kKeptDamagedCopies - 1) {
      ::unlinkat(folder, name.c_str(), 0);
    }
  });
  for (int age = kKeptDamagedCopies - 2; age >= 0; --age) {
    const std::string from = DamagedCopyName(fileName, age);
    if (::renameat(folder, from.c_str(), folder, DamagedCopyName(fileName, age + 1).c_str()) != 0 &&
        errno != ENOENT) {
      return "cannot move the damaged copy " + from + " aside: " + SystemReason(errno);
    }
  }
  if (::renameat(folder, fileName.c_str(), folder, DamagedCopyName(fileName, 0).c_str()) != 0) {
    return "cannot keep the invalid file aside as " + DamagedCopyName(fileName, 0) + ": " +
           SystemReason(errno);
  }
  return "";
}

}  // namespace

std::optional<PreferenceMap> PreferenceFile::Save(const Update& update) {
  const std::string failure = "cannot save the preferences to " + path_ + ": ";
  const OpenedFolder folder = OpenPreferenceFolder(directory_, /*create=*/true);
  if (!folder.problem.empty()) {
    ReportDiagnostic(failure + folder.problem);
    return std::nullopt;
  }
  const int at = folder.descriptor.get();
  const FileLock lock(at, fileName_ + ".lock", path_ + ".lock");
  if (!lock.Held()) {
    ReportDiagnostic(failure + lock.Problem());
    return std::nullopt;
  }
  RemoveDeadTemporaryFiles(at, fileName_);
  const FileContent content = ReadPreferenceFile(at, fileName_);
  if (content.status == FileContent::Status::kUnreadable) {
    ReportDiagnostic(failure + "the file exists but cannot be read (" + content.reason +
                     "); it is left as it is");
    return std::nullopt;
  }
  // Start from the file as it is now, so that what another process saved meanwhile stays.
  PreferenceMap saved;
  std::string invalidReason;
  if (content.status == FileContent::Status::kRead) {
    if (std::optional<PreferenceMap> current = Parse(content.bytes, invalidReason)) {
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
  // A file that already holds exactly this text, privately, stays as it is: most runs store
  // the settings they read, and rewriting them would cost two flushes to disk for nothing.
  if (content.status == FileContent::Status::kRead && invalidReason.empty() &&
      bytes == content.bytes && (content.mode & 07777) == kPrivateFile) {
    return saved;
  }
  const std::string temporary = fileName_ + ".tmp." + std::to_string(::getpid());
  std::string problem;
  if (!WritePrivateFile(at, temporary, bytes, problem)) {
    ReportDiagnostic(failure + problem);
    return std::nullopt;
  }
  // An invalid file goes aside only now that its replacement is complete.
  if (!invalidReason.empty()) {
    problem = KeepDamagedFileAside(at, fileName_, content);
    if (!problem.empty()) {
      ReportDiagnostic(failure + problem);
      ::unlinkat(at, temporary.c_str(), 0);
      return std::nullopt;
    }
    ReportDiagnostic(path_ + " was not a valid preference file (" + invalidReason +
                     "); kept it as " + path_ + ".corrupt (the " +
                     std::to_string(kKeptDamagedCopies) + " newest damaged copies are kept)");
  }
  if (::renameat(at, temporary.c_str(), at, fileName_.c_str()) != 0) {
    const int error = errno;
    ReportDiagnostic(failure + "cannot rename " + temporary + ": " + SystemReason(error));
    ::unlinkat(at, temporary.c_str(), 0);
    return std::nullopt;
  }
  // Flushes the folder entry of the rename to disk. Some file systems refuse fsync on a
  // folder; the file itself is already durable then, so that is no reason to fail the save.
  ::fsync(at);
  return saved;
}

}  // namespace zaf
