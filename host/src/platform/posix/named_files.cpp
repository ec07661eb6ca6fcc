// The paths and files an operator names, on POSIX: looked at with stat and lstat, opened
// without following a link in their last part (O_NOFOLLOW), written whole through mkostemp and
// rename, or appended to.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "host/file_descriptor.h"
#include "host/platform/files.h"
#include "platform/posix/write_all.h"

namespace zaf::platform {

namespace {

// The type bits of what `path` names, not following a link; 0 when there is nothing.
mode_t TypeAt(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & S_IFMT : 0;
}

WriteResult Failed(std::string reason) {
  return {WriteResult::Status::kFailed, std::move(reason)};
}

// Opens `path` for writing, `flags` added, as the kernel finds it at this moment: never through
// a symbolic link in its last part (O_NOFOLLOW fails with ELOOP), and never waiting forever on
// a FIFO that no process reads. The shell's `>` would block there until a reader comes; here
// O_NONBLOCK makes the open fail with ENXIO at once, and it is tried again until `readerWait`
// has passed. The descriptor returned blocks again, so that a long document waits for a slow
// reader instead of failing. None (errno set) when it cannot be opened.
FileDescriptor OpenWithoutFollowing(const std::string& path, int flags,
                                    std::chrono::seconds readerWait) {
  const auto deadline = std::chrono::steady_clock::now() + readerWait;
  for (;;) {
    FileDescriptor opened(::open(
        path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | flags, 0600));
    if (opened) {
      const int status = ::fcntl(opened.get(), F_GETFL);
      if (status == -1 || ::fcntl(opened.get(), F_SETFL, status & ~O_NONBLOCK) != 0) {
        return FileDescriptor();
      }
      return opened;
    }
    const int error = errno;
    if (error != ENXIO || TypeAt(path) != S_IFIFO || std::chrono::steady_clock::now() >= deadline) {
      errno = error;
      return opened;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// Why `path` could not be opened (OpenWithoutFollowing's `error`).
WriteResult RefusedToOpen(const std::string& path, int error, std::chrono::seconds readerWait) {
  const mode_t type = TypeAt(path);
  if (type == S_IFLNK) {
    return {WriteResult::Status::kLink, ""};
  }
  if (error == ENXIO && type == S_IFIFO) {
    return Failed("no process opened the FIFO for reading within " +
                  std::to_string(readerWait.count()) + " seconds");
  }
  if (error == ENXIO && type == S_IFSOCK) {
    return Failed("it is a socket, which cannot be opened as a file");
  }
  return Failed(std::strerror(error));
}

// A regular file may be replaced although it cannot be opened for writing (a read-only file in
// a folder the user may write), as a new name may be made.
bool MayReplace(const std::string& path, int error) {
  return error == ENOENT || TypeAt(path) == S_IFREG;
}

// Replaces `path` whole through an owner-only temporary file (ReplaceFileOwnerOnly).
WriteResult Replaced(const std::string& path, const std::string& bytes) {
  const std::string problem = ReplaceFileOwnerOnly(path, bytes);
  return problem.empty() ? WriteResult() : Failed(problem + "; the file was left as it was");
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) {
    return name;
  }
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool HasFolderPart(const std::string& path) {
  return path.find('/') != std::string::npos;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

PathStatus StatusOfPath(const std::string& path, bool followLink) {
  struct stat status {};
  PathStatus result;
  if ((followLink ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status)) != 0) {
    result.reason = std::strerror(errno);
  } else if (S_ISREG(status.st_mode)) {
    result.kind = PathStatus::Kind::kFile;
  } else if (S_ISDIR(status.st_mode)) {
    result.kind = PathStatus::Kind::kFolder;
  } else if (S_ISLNK(status.st_mode)) {
    result.kind = PathStatus::Kind::kLink;
  } else {
    result.kind = PathStatus::Kind::kOther;
  }
  return result;
}

// The rename that replaces a regular file (or fills a new name) can still meet whatever was put
// there since the open, but only someone who may write the folder can put anything there, and
// that one could as well replace the path directly.
WriteResult WriteWholeFile(const std::string& path, const std::string& bytes,
                           std::chrono::seconds readerWait) {
  FileDescriptor target = OpenWithoutFollowing(path, 0, readerWait);
  if (!target) {
    const int error = errno;
    if (!MayReplace(path, error)) {
      return RefusedToOpen(path, error, readerWait);
    }
    return Replaced(path, bytes);
  }
  struct stat status {};
  if (::fstat(target.get(), &status) != 0) {
    return Failed(std::strerror(errno));
  }
  if (S_ISREG(status.st_mode)) {
    target.Reset();
    return Replaced(path, bytes);
  }
  // A device or a FIFO: written in place, never replaced. Nothing to flush to a disk.
  if (!WriteAll(target.get(), bytes.data(), bytes.size()) ||
      (::close(target.Release()) != 0 && errno != EINTR)) {
    return Failed(std::strerror(errno));
  }
  return {};
}

AppendedFile AppendedFile::Open(const std::string& path, std::chrono::seconds readerWait,
                                WriteResult& result) {
  FileDescriptor opened = OpenWithoutFollowing(path, O_CREAT | O_APPEND, readerWait);
  if (!opened) {
    result = RefusedToOpen(path, errno, readerWait);
    return {};
  }
  result = {};
  return AppendedFile(opened.Release());
}

bool AppendedFile::Append(std::string_view bytes, std::string& reason) const {
  if (!WriteAll(static_cast<int>(native_), bytes.data(), bytes.size())) {
    reason = std::strerror(errno);
    return false;
  }
  return true;
}

void AppendedFile::Close() {
  if (native_ != -1) {
    ::close(static_cast<int>(native_));
    native_ = -1;
  }
}

}  // namespace zaf::platform
