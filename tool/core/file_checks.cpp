#include "core/file_checks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/tool_error.h"
#include "host/file_descriptor.h"

namespace wassetup {

namespace {

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

// Why `status` is not a regular file, or empty when it is one.
std::string NotRegularReason(const struct stat& status) {
  if (S_ISDIR(status.st_mode)) {
    return "it is a folder";
  }
  return S_ISREG(status.st_mode) ? "" : "it is not a regular file";
}

bool IsExecutableFile(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

bool FoundInPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  for (std::size_t start = 0; start <= folders.size();) {
    const std::size_t end = std::min(folders.find(':', start), folders.size());
    const std::string folder = folders.substr(start, end - start);
    if (IsExecutableFile((folder.empty() ? "." : folder) + "/" + name)) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

// Reads all of `descriptor`, or fails once more than `limit` bytes came.
bool ReadAtMost(int descriptor, std::size_t limit, std::string& bytes, bool& tooLarge) {
  char buffer[16384];
  for (;;) {
    const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      return count == 0;
    }
    bytes.append(buffer, static_cast<std::size_t>(count));
    if (bytes.size() > limit) {
      tooLarge = true;
      return false;
    }
  }
}

}  // namespace

std::string SizeText(std::size_t bytes) {
  return bytes % (std::size_t{1} << 20) == 0 ? std::to_string(bytes >> 20) + " MiB"
                                             : std::to_string(bytes) + " bytes";
}

std::string ReadRegularFile(const std::string& path, std::size_t limit, const std::string& what) {
  const std::string refusal = "cannot read " + what + " " + Quoted(path) + ": ";
  // O_NONBLOCK keeps a FIFO in the file's place from blocking the open.
  const zaf::FileDescriptor descriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!descriptor) {
    throw ToolError(refusal + std::strerror(errno));
  }
  struct stat status {};
  std::string reason =
      ::fstat(descriptor.get(), &status) != 0 ? std::strerror(errno) : NotRegularReason(status);
  std::string bytes;
  bool tooLarge = static_cast<std::size_t>(status.st_size) > limit;
  if (reason.empty() && !tooLarge && !ReadAtMost(descriptor.get(), limit, bytes, tooLarge)) {
    reason = tooLarge ? "" : std::strerror(errno);
  }
  if (tooLarge) {
    reason = "it is larger than " + SizeText(limit);
  }
  if (!reason.empty()) {
    throw ToolError(refusal + reason);
  }
  return bytes;
}

void RequireFolder(const std::string& path, const std::string& what) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    throw ToolError(what + ": " + Quoted(path) + " is not a folder: " + std::strerror(errno));
  }
  if (!S_ISDIR(status.st_mode)) {
    throw ToolError(what + ": " + Quoted(path) + " is not a folder");
  }
}

void RequireWritableFile(const std::string& path, const std::string& what) {
  RefuseSymbolicLink(path, what);
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    throw ToolError(what + ": " + Quoted(path) + " is a folder, not a file");
  }
  const std::size_t slash = path.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    throw ToolError(what + ": cannot write " + Quoted(path) + ": the folder " + Quoted(folder) +
                    " does not exist");
  }
}

void RefuseSymbolicLink(const std::string& path, const std::string& what) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
    throw ToolError(what + ": " + Quoted(path) +
                    " is a symbolic link; it is neither followed nor replaced");
  }
}

void RequireProgram(const std::string& program, const std::string& what) {
  const bool found =
      program.find('/') != std::string::npos ? IsExecutableFile(program) : FoundInPath(program);
  if (!found) {
    throw ToolError(what + ": " + Quoted(program) + " is not an executable program");
  }
}

}  // namespace wassetup
