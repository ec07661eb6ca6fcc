// Environment, path, file and directory services. File copies go through a temporary file
// beside the target so that a target is never seen half written; while the host records a dry
// run they are recorded instead.

#include "host/zaf_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/file_descriptor.h"
#include "host/zaf_host.h"
#include "posix_io.h"

namespace {

constexpr int kBadArgument = -1;
constexpr int kSystemFailure = -2;
constexpr int kTargetExists = -3;

// ---- Joins ----

// The last results of ZAFMakePath on this thread; callers copy a result before making the
// 64th next one, so the ring lets them skip releasing it. A slot keeps its buffer, so a join
// allocates only when it is longer than what its slot held before.
constexpr std::size_t kJoinRingSize = 64;
struct JoinRing {
  std::array<std::string, kJoinRingSize> slots;
  std::size_t next = 0;
};
thread_local JoinRing joinRing;

// ---- File copy ----

bool CopyContent(int from, int to) {
  char buffer[65536];
  for (;;) {
    const ssize_t count = zaf::ReadResuming(from, buffer, sizeof buffer);
    if (count <= 0) {
      return count == 0;
    }
    if (!zaf::WriteAll(to, buffer, static_cast<std::size_t>(count))) {
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

// Copies the open regular file `from` (with permission bits `mode`) to `to`.
int CopyThroughTemporary(int from, mode_t mode, const std::string& to, bool overwrite) {
  std::string temporary = DirectoryOf(to) + "/." + BaseNameOf(to) + ".XXXXXX";
  const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (descriptor < 0) {
    return kSystemFailure;
  }
  bool written =
      ::fchmod(descriptor, mode) == 0 && CopyContent(from, descriptor) && ::fsync(descriptor) == 0;
  written = (::close(descriptor) == 0) && written;
  if (!written) {
    ::unlink(temporary.c_str());
    return kSystemFailure;
  }
  if (!PlaceCopy(temporary, to, overwrite)) {
    const int placeError = errno;
    ::unlink(temporary.c_str());
    return placeError == EEXIST ? kTargetExists : kSystemFailure;
  }
  return 0;
}

// A dry run's copy: the source must be a regular file that opens for reading, as for a real
// copy; then the copy is recorded instead of made.
int RecordCopy(const char* from, const char* to) {
  const zaf::FileDescriptor source(::open(from, O_RDONLY | O_CLOEXEC));
  if (!source) {
    return kSystemFailure;
  }
  struct stat status {};
  if (::fstat(source.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return kSystemFailure;
  }
  zaf::RecordChange({zaf::FileChange::Kind::kCopy, from, to});
  return 0;
}

// Only "r" and "rb" open a file without the right to change it.
bool IsReadMode(const char* mode) {
  return std::strcmp(mode, "r") == 0 || std::strcmp(mode, "rb") == 0;
}

}  // namespace

namespace zaf {

void FileDescriptor::Reset(int descriptor) {
  if (descriptor_ >= 0) {
    // A close interrupted by a signal has still released the descriptor on Linux: retrying
    // could close one that another thread has opened meanwhile.
    ::close(descriptor_);
  }
  descriptor_ = descriptor;
}

ssize_t ReadResuming(int descriptor, char* buffer, std::size_t size) {
  ssize_t count;
  do {
    count = ::read(descriptor, buffer, size);
  } while (count < 0 && errno == EINTR);
  return count;
}

bool WriteAll(int descriptor, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(descriptor, data, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace zaf

const char* ZAFGetEnv(const char* name) {
  return name == nullptr ? nullptr : std::getenv(name);
}

int ZAFGetEnvValue(const char* name, char** value) {
  if (value == nullptr) {
    return kBadArgument;
  }
  *value = nullptr;
  const char* found = ZAFGetEnv(name);
  if (found == nullptr) {
    return kBadArgument;
  }
  *value = ::strdup(found);
  return *value == nullptr ? kSystemFailure : 0;
}

int ZAFMakePath(const char* directory, const char* name, char** path) {
  if (path == nullptr) {
    return kBadArgument;
  }
  *path = nullptr;
  if (directory == nullptr || name == nullptr) {
    return kBadArgument;
  }
  JoinRing& ring = joinRing;
  std::string& slot = ring.slots[ring.next];
  ring.next = (ring.next + 1) % kJoinRingSize;
  const char separator = zaf::GetPathSeparator();
  const std::size_t directoryLength = std::strlen(directory);
  const std::size_t nameLength = std::strlen(name);
  const std::size_t separatorLength =
      directoryLength != 0 && directory[directoryLength - 1] != separator ? 1 : 0;
  slot.resize(directoryLength + separatorLength + nameLength);
  char* joined = slot.data();
  std::copy_n(directory, directoryLength, joined);
  if (separatorLength != 0) {
    joined[directoryLength] = separator;
  }
  std::copy_n(name, nameLength, joined + directoryLength + separatorLength);
  *path = slot.data();
  return 0;
}

int ZAFFOpen(const char* path, const char* mode, ZAFFILE* file) {
  if (file == nullptr) {
    return kBadArgument;
  }
  *file = nullptr;
  if (path == nullptr || mode == nullptr) {
    return kBadArgument;
  }
  if (zaf::IsRecording() && !IsReadMode(mode)) {
    return kBadArgument;
  }
  *file = std::fopen(path, mode);
  return *file == nullptr ? kSystemFailure : 0;
}

int ZAFFClose(ZAFFILE file) {
  if (file == nullptr) {
    return kBadArgument;
  }
  return std::fclose(file) == 0 ? 0 : kSystemFailure;
}

int ZAFFCopy(const char* from, const char* to, int overwrite) {
  if (from == nullptr || to == nullptr || *from == '\0' || *to == '\0') {
    return kBadArgument;
  }
  struct stat existing {};
  if (overwrite == 0 && ::lstat(to, &existing) == 0) {
    return kTargetExists;
  }
  if (zaf::IsRecording()) {
    return RecordCopy(from, to);
  }
  const zaf::FileDescriptor source(::open(from, O_RDONLY | O_CLOEXEC));
  if (!source) {
    return kSystemFailure;
  }
  struct stat status {};
  if (::fstat(source.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return kSystemFailure;
  }
  return CopyThroughTemporary(source.get(), status.st_mode & 07777, to, overwrite != 0);
}

int ZAFOpenDirectory(const char* path, ZAFDIR* directory) {
  if (directory != nullptr) {
    directory->isOpen = 0;
  }
  if (path == nullptr) {
    return kBadArgument;
  }
  DIR* handle = ::opendir(path);
  if (handle == nullptr) {
    return kSystemFailure;
  }
  ::closedir(handle);
  if (directory != nullptr) {
    directory->isOpen = 1;
  }
  return 0;
}
