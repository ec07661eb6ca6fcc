// Files, folders and locks on POSIX. A Folder is a descriptor, and every file in it is reached
// relative to that descriptor: a name swapped for a symbolic link between two calls can then
// never redirect a chmod or a write. Locks are flock(2) locks, which the kernel releases when
// the process dies.

#include "host/platform/files.h"

#include "host/file_descriptor.h"
#include "platform/posix/write_all.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace zaf::platform {

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

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

// read(2), resumed after interruptions: the bytes read, 0 at the end, or -1 on error.
ssize_t ReadResuming(int descriptor, char* buffer, std::size_t size) {
  ssize_t count;
  do {
    count = ::read(descriptor, buffer, size);
  } while (count < 0 && errno == EINTR);
  return count;
}

// ---- Folders ----

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

// Why the opened folder `status` is not fit for private files, or empty: it must belong to the
// user who runs this and only its owner may write to it, else another user could put files of
// their choosing there (preferences, which name the commands a deployment runs).
std::string UnfitFolderReason(const std::string& directory, const std::string& role,
                              const struct stat& status) {
  if (status.st_uid != ::geteuid()) {
    return "the " + role + " " + Quoted(directory) + " belongs to user " +
           std::to_string(status.st_uid) + ", not to user " + std::to_string(::geteuid()) +
           " who runs this; it is not used";
  }
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return "group or others may write to the " + role + " " + Quoted(directory) + " (mode " +
           OctalMode(status.st_mode) + "); it is not used until only its owner may write to it " +
           "(chmod go-w " + Quoted(directory) + ")";
  }
  return "";
}

// Why `part` of `parent` could not be opened as a folder (`error` from openat).
std::string OpenFolderReason(int parent, const std::string& part, const std::string& shown,
                             const std::string& role, bool last, int error) {
  struct stat status {};
  const bool link =
      ::fstatat(parent, part.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
  if (last && (error == ELOOP || (error == ENOTDIR && link))) {
    return "the " + role + " " + Quoted(shown) +
           " is a symbolic link, which is not followed; give the folder it leads to instead";
  }
  if (last && error == ENOTDIR) {
    return "the " + role + " " + Quoted(shown) + " is not a folder";
  }
  return "cannot open the folder " + Quoted(shown) + ": " + SystemReason(error);
}

// The bytes of the open file `descriptor` (status `status`), as FileContent tells them.
// Growth while reading past `limit` is an EFBIG failure.
FileContent ReadOpenFile(int descriptor, const struct stat& status, std::size_t limit) {
  FileContent content;
  content.status = FileContent::Status::kFailed;
  if (S_ISDIR(status.st_mode)) {
    content.status = FileContent::Status::kFolder;
  } else if (!S_ISREG(status.st_mode)) {
    content.status = FileContent::Status::kNotRegular;
  } else if (static_cast<std::size_t>(status.st_size) > limit) {
    content.status = FileContent::Status::kTooLarge;
  } else {
    char buffer[16384];
    for (;;) {
      if (content.bytes.size() > limit) {
        content.reason = SystemReason(EFBIG);
        return content;
      }
      const ssize_t count = ReadResuming(descriptor, buffer, sizeof buffer);
      if (count < 0) {
        content.reason = SystemReason(errno);
        return content;
      }
      if (count == 0) {
        content.status = FileContent::Status::kRead;
        return content;
      }
      content.bytes.append(buffer, static_cast<std::size_t>(count));
    }
  }
  return content;
}

// Copies the rest of `from` to `to`.
bool CopyContent(int from, int to) {
  char buffer[65536];
  for (;;) {
    const ssize_t count = ReadResuming(from, buffer, sizeof buffer);
    if (count <= 0) {
      return count == 0;
    }
    if (!WriteAll(to, buffer, static_cast<std::size_t>(count))) {
      return false;
    }
  }
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Puts the finished temporary file at `to`. Without overwrite a hard link claims the name
// only if it is still free, so a target made meanwhile is not replaced either.
bool PlaceCopy(const std::string& temporary, const std::string& to, bool overwrite) {
  if (overwrite) {
    return ::rename(temporary.c_str(), to.c_str()) == 0;
  }
  if (::link(temporary.c_str(), to.c_str()) == 0) {
    ::unlink(temporary.c_str());
    return true;
  }
  if (errno == EEXIST) {
    return false;
  }
  // Some file systems have no hard links; fall back to a check then a rename.
  struct stat existing {};
  if (::lstat(to.c_str(), &existing) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(temporary.c_str(), to.c_str()) == 0;
}

// Writes a new file beside `to` with exactly the permission bits `mode` through `fill`, flushes
// it and puts it at `to` (see PlaceCopy); removes it on failure. 0 when done, else the errno of
// the step that failed (EEXIST: without `overwrite`, the name was taken).
int WriteThroughTemporary(const std::string& to, mode_t mode,
                          const std::function<bool(int descriptor)>& fill, bool overwrite) {
  std::string temporary = DirectoryOf(to) + "/." + BaseNameOf(to) + ".XXXXXX";
  const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (descriptor < 0) {
    return errno;
  }
  const bool written =
      ::fchmod(descriptor, mode) == 0 && fill(descriptor) && ::fsync(descriptor) == 0;
  int error = written ? 0 : (errno != 0 ? errno : EIO);
  if (::close(descriptor) != 0 && error == 0) {
    error = errno;
  }
  if (error == 0 && !PlaceCopy(temporary, to, overwrite)) {
    error = errno;
  }
  if (error != 0) {
    ::unlink(temporary.c_str());
  }
  return error;
}

}  // namespace

// ---- Whole files ----

FileContent ReadRegularFile(const std::string& path, std::size_t limit) {
  FileContent content;
  // O_NONBLOCK keeps a FIFO put in the file's place from blocking the open.
  const FileDescriptor descriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!descriptor.IsOpen()) {
    if (errno != ENOENT && errno != ENOTDIR) {
      content.status = FileContent::Status::kFailed;
    }
    content.reason = SystemReason(errno);
    return content;
  }
  struct stat status {};
  if (::fstat(descriptor.get(), &status) == 0 && !S_ISREG(status.st_mode)) {
    content.status =
        S_ISDIR(status.st_mode) ? FileContent::Status::kFolder : FileContent::Status::kNotRegular;
    return content;
  }
  char buffer[8192];
  for (std::size_t size = static_cast<std::size_t>(status.st_size);; size = content.bytes.size()) {
    // Checked again as the bytes come, so a file that grows while it is read is caught too.
    if (size > limit) {
      content.status = FileContent::Status::kTooLarge;
      content.bytes.clear();
      return content;
    }
    const ssize_t count = ::read(descriptor.get(), buffer, sizeof buffer);
    if (count == 0) {
      break;
    }
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      content.status = FileContent::Status::kFailed;
      content.reason = SystemReason(errno);
      content.bytes.clear();
      return content;
    }
    content.bytes.append(buffer, static_cast<std::size_t>(count));
  }
  content.status = FileContent::Status::kRead;
  return content;
}

std::FILE* OpenStream(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

bool PathExists(const std::string& path) {
  struct stat existing {};
  return ::lstat(path.c_str(), &existing) == 0;
}

bool IsReadableRegularFile(const std::string& path) {
  const FileDescriptor source(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  return source.IsOpen() && ::fstat(source.get(), &status) == 0 && S_ISREG(status.st_mode);
}

bool CanOpenFolder(const std::string& path) {
  DIR* handle = ::opendir(path.c_str());
  if (handle == nullptr) {
    return false;
  }
  ::closedir(handle);
  return true;
}

CopyOutcome CopyFileThroughTemporary(const std::string& from, const std::string& to,
                                     bool overwrite) {
  const FileDescriptor source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!source.IsOpen()) {
    return CopyOutcome::kFailed;
  }
  struct stat status {};
  if (::fstat(source.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return CopyOutcome::kFailed;
  }
  const int error = WriteThroughTemporary(
      to, status.st_mode & 07777,
      [&source](int descriptor) { return CopyContent(source.get(), descriptor); }, overwrite);
  if (error == 0) {
    return CopyOutcome::kCopied;
  }
  return error == EEXIST ? CopyOutcome::kTargetExists : CopyOutcome::kFailed;
}

std::string ReplaceFileOwnerOnly(const std::string& path, const std::string& bytes) {
  const int error = WriteThroughTemporary(
      path, kPrivateFile,
      [&bytes](int descriptor) { return WriteAll(descriptor, bytes.data(), bytes.size()); },
      /*overwrite=*/true);
  return error == 0 ? "" : SystemReason(error);
}

long CurrentProcessId() {
  return static_cast<long>(::getpid());
}

std::string MakeUniqueFolder(const std::string& parent, const std::string& prefix) {
  const bool separated = !parent.empty() && parent.back() == '/';
  std::string pattern = parent + (separated ? "" : "/") + prefix + "XXXXXX";
  return ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

// ---- Open files ----

void OpenFile::MakeOwnerOnly() const {
  ::fchmod(static_cast<int>(native_), kPrivateFile);
}

void OpenFile::Close() {
  if (native_ != -1) {
    ::close(static_cast<int>(native_));
    native_ = -1;
  }
}

// ---- Folders ----

void Folder::Close() {
  if (native_ != -1) {
    ::close(static_cast<int>(native_));
    native_ = -1;
  }
}

// Opens the folder one part after the other, each relative to the one before. A part this
// call made gets exactly 0700 whatever the umask, through fchmod on its descriptor: chmod on a
// name could reach whatever another user swapped in.
Folder Folder::Open(const std::string& directory, bool create, const std::string& role) {
  Folder folder;
  folder.fullPath_ = directory;
  const bool absolute = !directory.empty() && directory.front() == '/';
  FileDescriptor current(::open(absolute ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!current.IsOpen()) {
    folder.problem_ =
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
    const int parent = current.get();
    FileDescriptor next(::openat(parent, part.c_str(), flags));
    bool made = false;
    // Without making anything, a file where a parent folder should be means nothing there
    // yet, as a missing folder does; making the folder then says why it cannot.
    if (!next.IsOpen() && !create && !last && errno == ENOTDIR) {
      folder.missing_ = true;
      return folder;
    }
    if (!next.IsOpen() && errno == ENOENT) {
      if (!create) {
        folder.missing_ = true;
        return folder;
      }
      made = ::mkdirat(parent, part.c_str(), kPrivateFolder) == 0;
      if (!made && errno != EEXIST) {
        folder.problem_ = "cannot make the folder " + Quoted(shown) + ": " + SystemReason(errno);
        return folder;
      }
      // What was just made is a folder: a link in its place was swapped in since.
      next = FileDescriptor(::openat(parent, part.c_str(), flags | (made ? O_NOFOLLOW : 0)));
    }
    if (!next.IsOpen()) {
      folder.problem_ = OpenFolderReason(parent, part, shown, role, last, errno);
      return folder;
    }
    struct stat status {};
    if (made && ::fstat(next.get(), &status) == 0 && status.st_uid == ::geteuid()) {
      ::fchmod(next.get(), kPrivateFolder);
    }
    current = std::move(next);
  }
  struct stat status {};
  if (::fstat(current.get(), &status) != 0) {
    folder.problem_ = "cannot open the folder " + Quoted(directory) + ": " + SystemReason(errno);
  } else {
    folder.problem_ = UnfitFolderReason(directory, role, status);
  }
  if (folder.problem_.empty()) {
    folder.native_ = current.Release();
  }
  return folder;
}

FolderFile Folder::ReadFile(const std::string& name, std::size_t limit) const {
  FolderFile file;
  // O_NONBLOCK keeps a FIFO put in the file's place from blocking the open.
  FileDescriptor descriptor(::openat(static_cast<int>(native_), name.c_str(),
                                     O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  if (!descriptor.IsOpen()) {
    const int error = errno;
    if (error == ELOOP) {
      file.content.status = FileContent::Status::kLink;
    } else if (error != ENOENT) {
      file.content.status = FileContent::Status::kFailed;
      file.content.reason = SystemReason(error);
    }
    return file;
  }
  struct stat status {};
  if (::fstat(descriptor.get(), &status) != 0) {
    file.content.status = FileContent::Status::kFailed;
    file.content.reason = SystemReason(errno);
  } else {
    file.content = ReadOpenFile(descriptor.get(), status, limit);
    file.ownerOnly = (status.st_mode & 07777) == kPrivateFile;
    if ((status.st_mode & (S_IRGRP | S_IROTH)) != 0) {
      file.sharedAccess = "readable by group or others (mode " + OctalMode(status.st_mode) + ")";
    }
  }
  file.file = OpenFile(descriptor.Release());
  return file;
}

std::string Folder::WritePrivateFile(const std::string& name, const std::string& bytes) const {
  const int folder = static_cast<int>(native_);
  ::unlinkat(folder, name.c_str(), 0);  // a leftover of a dead process with the same id
  const int descriptor = ::openat(
      folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kPrivateFile);
  if (descriptor < 0) {
    const int error = errno;
    return "cannot create " + name + ": " + SystemReason(error);
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
    ::unlinkat(folder, name.c_str(), 0);
    return step + name + ": " + SystemReason(error);
  }
  return "";
}

FileResult Folder::Rename(const std::string& from, const std::string& to) const {
  const int folder = static_cast<int>(native_);
  if (::renameat(folder, from.c_str(), folder, to.c_str()) == 0) {
    return {};
  }
  const int error = errno;
  return {error == ENOENT ? FileResult::Status::kMissing : FileResult::Status::kFailed,
          SystemReason(error)};
}

void Folder::Remove(const std::string& name) const {
  ::unlinkat(static_cast<int>(native_), name.c_str(), 0);
}

void Folder::ForEachEntry(const std::function<void(const std::string& name)>& visit) const {
  const int copy = ::fcntl(static_cast<int>(native_), F_DUPFD_CLOEXEC, 0);
  DIR* entries = copy >= 0 ? ::fdopendir(copy) : nullptr;
  if (entries == nullptr) {
    if (copy >= 0) {
      ::close(copy);
    }
    return;
  }
  ::rewinddir(entries);
  while (const dirent* entry = ::readdir(entries)) {
    visit(std::string(entry->d_name));
  }
  ::closedir(entries);
}

void Folder::FlushEntries() const {
  ::fsync(static_cast<int>(native_));
}

// ---- Locks ----

LockFile::LockFile(const Folder& folder, const std::string& name) {
  native_ = ::openat(static_cast<int>(folder.native_), name.c_str(),
                     O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kPrivateFile);
  if (native_ < 0) {
    problem_ = SystemReason(errno);
    native_ = -1;
  }
}

LockFile::LockFile(const std::string& path) {
  native_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kPrivateFile);
  if (native_ < 0) {
    problem_ = SystemReason(errno);
    native_ = -1;
  }
}

LockFile::~LockFile() {
  Close();
}

void LockFile::Close() {
  if (native_ != -1) {
    ::close(static_cast<int>(native_));
    native_ = -1;
  }
}

LockFile::Attempt LockFile::TryLock(std::string& reason) {
  int result = 0;
  do {
    result = ::flock(static_cast<int>(native_), LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) {
    return Attempt::kTaken;
  }
  if (errno == EWOULDBLOCK) {
    return Attempt::kBusy;
  }
  reason = SystemReason(errno);
  return Attempt::kFailed;
}

long LockFile::Holder() const {
  char text[32] = {};
  const ssize_t count = ::pread(static_cast<int>(native_), text, sizeof text - 1, 0);
  if (count <= 0) {
    return 0;
  }
  char* end = nullptr;
  const long holder = std::strtol(text, &end, 10);
  const bool alive = holder > 0 && (::kill(static_cast<pid_t>(holder), 0) == 0 || errno == EPERM);
  return end != text && alive ? holder : 0;
}

void LockFile::RecordHolder() const {
  const std::string text = std::to_string(::getpid()) + "\n";
  if (::ftruncate(static_cast<int>(native_), 0) == 0) {
    WriteAll(static_cast<int>(native_), text.data(), text.size());
  }
}

}  // namespace zaf::platform

namespace zaf {

void FileDescriptor::Reset(int descriptor) {
  if (descriptor_ >= 0) {
    // A close interrupted by a signal has still released the descriptor on Linux: retrying
    // could close one that another thread has opened meanwhile.
    ::close(descriptor_);
  }
  descriptor_ = descriptor;
}

}  // namespace zaf
