// Preference files on disk. A save takes an exclusive lock beside the file (released by the
// kernel if the process dies), reads the file again under the lock so that preferences
// another process saved meanwhile are kept, writes a private temporary file, makes it durable
// and renames it over the old one.

#include "preference_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/zaf_host.h"
#include "posix_io.h"

namespace zaf {

namespace {

constexpr mode_t kPrivateFile = 0600;
constexpr mode_t kPrivateFolder = 0700;

std::string SystemReason(int error) {
  return std::strerror(error);
}

std::string OctalMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// ---- Reading ----

struct FileContent {
  enum class Status { kMissing, kRead, kUnreadable } status = Status::kMissing;
  std::string bytes;
  std::string reason;  // why it could not be read
  mode_t mode = 0;
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

FileContent ReadPreferenceFile(const std::string& path) {
  FileContent content;
  // O_NONBLOCK keeps a FIFO put in the file's place from blocking the open.
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) {
    if (errno != ENOENT && errno != ENOTDIR) {
      const int error = errno;
      content.status = FileContent::Status::kUnreadable;
      content.reason = SystemReason(error);
    }
    return content;
  }
  struct stat status {};
  content.status = FileContent::Status::kUnreadable;
  const bool known = ::fstat(descriptor, &status) == 0;
  if (known && S_ISDIR(status.st_mode)) {
    content.reason = "it is a folder";
  } else if (known && !S_ISREG(status.st_mode)) {
    content.reason = "it is not a regular file";
  } else if (known && static_cast<std::size_t>(status.st_size) > kMaxPreferenceFileBytes) {
    content.reason = TooLargeReason();
  } else if (known && ReadAll(descriptor, content.bytes)) {
    content.status = FileContent::Status::kRead;
    content.mode = status.st_mode;
  } else {
    content.reason = SystemReason(errno);  // fstat or read failed
  }
  ::close(descriptor);
  return content;
}

// ---- Folders ----

// Makes `directory` and any missing parents, each new one with mode 0700. Gives 0, or the
// system's error when one cannot be made or a part of the path is not a folder.
int MakeFolders(const std::string& directory) {
  std::size_t end = 0;
  while (end != std::string::npos) {
    end = directory.find('/', end + 1);
    const std::string part = directory.substr(0, end);
    struct stat status {};
    if (::stat(part.c_str(), &status) == 0) {
      if (!S_ISDIR(status.st_mode)) {
        return ENOTDIR;
      }
      continue;
    }
    if (errno != ENOENT) {
      return errno;
    }
    if (::mkdir(part.c_str(), kPrivateFolder) != 0 && errno != EEXIST) {
      return errno;
    }
    // The umask may have taken owner bits away; what the host makes is exactly 0700.
    ::chmod(part.c_str(), kPrivateFolder);
  }
  return 0;
}

// Flushes the folder entry of a rename to disk. Some file systems refuse fsync on a folder;
// the file itself is already durable then, so the result is not a reason to fail the save.
void SyncFolder(const std::string& directory) {
  const int descriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor >= 0) {
    ::fsync(descriptor);
    ::close(descriptor);
  }
}

// ---- Writing ----

// Writes `bytes` to the new private file `path` and makes them durable; on failure removes
// it and gives the step that failed with the system's reason.
bool WritePrivateFile(const std::string& path, const std::string& bytes, std::string& problem) {
  ::unlink(path.c_str());  // a leftover of a dead process with the same id
  const int descriptor =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kPrivateFile);
  if (descriptor < 0) {
    const int error = errno;
    problem = "cannot create " + path + ": " + SystemReason(error);
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
    problem = step + path + ": " + SystemReason(error);
    ::unlink(path.c_str());
    return false;
  }
  return true;
}

// Holds an exclusive flock on a lock file for its lifetime.
class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    descriptor_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kPrivateFile);
    if (descriptor_ < 0) {
      const int error = errno;
      problem_ = "cannot open the lock file " + path + ": " + SystemReason(error);
      return;
    }
    int result = 0;
    do {
      result = ::flock(descriptor_, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
      const int error = errno;
      problem_ = "cannot lock " + path + ": " + SystemReason(error);
      ::close(descriptor_);
      descriptor_ = -1;
    }
  }
  ~FileLock() {
    if (descriptor_ >= 0) {
      ::close(descriptor_);  // closing releases the lock
    }
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool Held() const { return descriptor_ >= 0; }
  const std::string& Problem() const { return problem_; }

 private:
  int descriptor_ = -1;
  std::string problem_;
};

// Removes the "<path>.tmp.<pid>" files of saves that died before their rename. Temporary
// files are only written under the lock, so the caller, who holds it, knows that any it finds
// is dead; without this each crashed save would leave one behind for good. Only names whose
// end is all digits go: another repository's "<name>.prefs.tmp.5.prefs" is no temporary file.
void RemoveDeadTemporaryFiles(const std::string& directory, const std::string& path) {
  const std::string prefix = path.substr(path.rfind('/') + 1) + ".tmp.";
  DIR* folder = ::opendir(directory.c_str());
  if (folder == nullptr) {
    return;
  }
  while (const dirent* entry = ::readdir(folder)) {
    const std::string name = entry->d_name;
    if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
        name.find_first_not_of("0123456789", prefix.size()) == std::string::npos) {
      ::unlinkat(::dirfd(folder), entry->d_name, 0);
    }
  }
  ::closedir(folder);
}

// The first of "<path>.corrupt", "<path>.corrupt.1", ... that is free.
std::string FreeAsideName(const std::string& path) {
  std::string candidate = path + ".corrupt";
  struct stat status {};
  for (int number = 1; ::lstat(candidate.c_str(), &status) == 0; ++number) {
    candidate = path + ".corrupt." + std::to_string(number);
  }
  return candidate;
}

}  // namespace

PreferenceFile::PreferenceFile(const std::string& directory, const std::string& name)
    : directory_(directory),
      path_(directory + (!directory.empty() && directory.back() == '/' ? "" : "/") + name +
            ".prefs"),
      lockPath_(path_ + ".lock") {}

PreferenceMap PreferenceFile::Load() {
  const FileContent content = ReadPreferenceFile(path_);
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
  std::optional<PreferenceMap> preferences = ParsePreferences(content.bytes, error);
  if (!preferences) {
    ReportDiagnostic(path_ + ": not a valid preference file (" + error +
                     "); its preferences are ignored and the next save keeps it aside");
    return {};
  }
  return std::move(*preferences);
}

std::optional<PreferenceMap> PreferenceFile::Save(const PreferenceMap& changes) {
  const std::string failure = "cannot save the preferences to " + path_ + ": ";
  if (const int error = MakeFolders(directory_); error != 0) {
    ReportDiagnostic(failure + "cannot make the folder " + directory_ + ": " + SystemReason(error));
    return std::nullopt;
  }
  const FileLock lock(lockPath_);
  if (!lock.Held()) {
    ReportDiagnostic(failure + lock.Problem());
    return std::nullopt;
  }
  RemoveDeadTemporaryFiles(directory_, path_);
  const FileContent content = ReadPreferenceFile(path_);
  if (content.status == FileContent::Status::kUnreadable) {
    ReportDiagnostic(failure + "the file exists but cannot be read (" + content.reason +
                     "); it is left as it is");
    return std::nullopt;
  }
  // Start from the file as it is now, so that what another process saved meanwhile stays.
  PreferenceMap saved;
  std::string invalidReason;
  if (content.status == FileContent::Status::kRead) {
    std::optional<PreferenceMap> current = ParsePreferences(content.bytes, invalidReason);
    if (current) {
      saved = std::move(*current);
    }
  }
  for (const auto& [name, value] : changes) {
    saved[name] = value;
  }
  const std::string bytes = SerializePreferences(saved);
  if (bytes.size() > kMaxPreferenceFileBytes) {
    ReportDiagnostic(failure + "the preferences would make the file larger than " +
                     std::to_string(kMaxPreferenceFileBytes >> 20) + " MiB");
    return std::nullopt;
  }
  // A file that already holds exactly this text, privately, stays as it is: most runs store
  // the settings they read, and rewriting them would cost two flushes to disk for nothing.
  if (content.status == FileContent::Status::kRead && bytes == content.bytes &&
      (content.mode & 07777) == kPrivateFile) {
    return saved;
  }
  const std::string temporary = path_ + ".tmp." + std::to_string(::getpid());
  std::string problem;
  if (!WritePrivateFile(temporary, bytes, problem)) {
    ReportDiagnostic(failure + problem);
    return std::nullopt;
  }
  // An invalid file goes aside only now that its replacement is complete.
  if (!invalidReason.empty() && !KeepAside(invalidReason, failure)) {
    ::unlink(temporary.c_str());
    return std::nullopt;
  }
  if (::rename(temporary.c_str(), path_.c_str()) != 0) {
    const int error = errno;
    ReportDiagnostic(failure + "cannot rename " + temporary + ": " + SystemReason(error));
    ::unlink(temporary.c_str());
    return std::nullopt;
  }
  SyncFolder(directory_);
  return saved;
}

bool PreferenceFile::KeepAside(const std::string& invalidReason, const std::string& failure) {
  const std::string aside = FreeAsideName(path_);
  if (::rename(path_.c_str(), aside.c_str()) != 0) {
    const int error = errno;
    ReportDiagnostic(failure + "cannot keep the invalid file aside as " + aside + ": " +
                     SystemReason(error));
    return false;
  }
  ReportDiagnostic(path_ + " was not a valid preference file (" + invalidReason + "); kept it as " +
                   aside);
  return true;
}

}  // namespace zaf
