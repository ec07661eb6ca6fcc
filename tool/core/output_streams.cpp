#include "core/output_streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <streambuf>
#include <thread>

#include "core/file_checks.h"
#include "core/tool_error.h"
#include "host/file_descriptor.h"

namespace wassetup {

bool WriteAll(int descriptor, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t count = ::write(descriptor, data, size);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      return false;
    }
    data += count;
    size -= static_cast<std::size_t>(count);
  }
  return true;
}

namespace {

// std::cout's buffer: writes to descriptor 1; the first write that fails is told on stderr at
// once (a long deployment goes on, its progress no longer seen), after which the buffer takes
// nothing more and the stream goes bad. On a terminal each line is written as it ends, as
// stdio would.
class StandardOutputBuffer : public std::streambuf {
 public:
  StandardOutputBuffer() { setp(buffer_, buffer_ + sizeof buffer_); }

  void SetLineBuffered(bool lineBuffered) { lineBuffered_ = lineBuffered; }
  void Fail(const std::string& reason) {
    if (failure_.empty()) {
      failure_ = reason;
      std::cerr << "wassetup: cannot write to standard output: " << reason
                << "; the rest of the output is lost\n";
    }
  }
  const std::string& failure() const { return failure_; }

 protected:
  int_type overflow(int_type c) override {
    if (!Drain()) {
      return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
      if (lineBuffered_ && c == '\n' && !Drain()) {
        return traits_type::eof();
      }
    }
    return traits_type::not_eof(c);
  }

  std::streamsize xsputn(const char* data, std::streamsize count) override {
    const std::streamsize written = std::streambuf::xsputn(data, count);
    if (lineBuffered_ && written > 0 &&
        std::char_traits<char>::find(data, static_cast<std::size_t>(written), '\n') != nullptr &&
        !Drain()) {
      return 0;
    }
    return written;
  }

  int sync() override { return Drain() ? 0 : -1; }

 private:
  bool Drain() {
    if (!failure_.empty()) {
      setp(buffer_, buffer_ + sizeof buffer_);
      return false;
    }
    const std::size_t pending = static_cast<std::size_t>(pptr() - pbase());
    if (pending > 0 && !WriteAll(STDOUT_FILENO, pbase(), pending)) {
      Fail(std::strerror(errno));
    }
    setp(buffer_, buffer_ + sizeof buffer_);
    return failure_.empty();
  }

  char buffer_[8192];
  bool lineBuffered_ = false;
  std::string failure_;
};

// Never destroyed: the streams are flushed at exit, after the static objects are gone.
StandardOutputBuffer& standardOutput = *new StandardOutputBuffer;

bool IsOpen(int descriptor) {
  return ::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF;
}

// Puts /dev/null at the closed descriptor `descriptor`: open() takes the lowest free number.
void HoldWithNull(int descriptor) {
  zaf::FileDescriptor opened(::open("/dev/null", O_RDWR));
  if (opened.get() == descriptor) {
    opened.Release();
  } else if (opened) {
    ::dup2(opened.get(), descriptor);
  }
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// The type bits of what `path` names, not following a link; 0 when there is nothing.
mode_t TypeAt(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & S_IFMT : 0;
}

// Opens `path` for writing, `flags` added, as the kernel finds it at this moment: never through
// a symbolic link in its last part (O_NOFOLLOW fails with ELOOP), and never waiting forever on
// a FIFO that no process reads. The shell's `>` would block there until a reader comes; here
// O_NONBLOCK makes the open fail with ENXIO at once, and it is tried again until
// kFifoReaderWait has passed. The descriptor returned blocks again, so that a long document
// waits for a slow reader instead of failing. None (errno set) when it cannot be opened.
zaf::FileDescriptor OpenWithoutFollowing(const std::string& path, int flags) {
  const auto deadline = std::chrono::steady_clock::now() + kFifoReaderWait;
  for (;;) {
    zaf::FileDescriptor opened(::open(
        path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | flags, 0600));
    if (opened) {
      const int status = ::fcntl(opened.get(), F_GETFL);
      if (status == -1 || ::fcntl(opened.get(), F_SETFL, status & ~O_NONBLOCK) != 0) {
        return zaf::FileDescriptor();
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

// Ends a write to `path` that could not open it (OpenWithoutFollowing's `error`), saying why.
[[noreturn]] void RefuseToOpen(const std::string& path, const std::string& what, int error) {
  RefuseSymbolicLink(path, what);
  std::string reason = std::strerror(error);
  if (error == ENXIO && TypeAt(path) == S_IFIFO) {
    reason = "no process opened the FIFO for reading within " +
             std::to_string(kFifoReaderWait.count()) + " seconds";
  } else if (error == ENXIO && TypeAt(path) == S_IFSOCK) {
    reason = "it is a socket, which cannot be opened as a file";
  }
  throw ToolError(what + ": cannot write '" + path + "': " + reason);
}

// A regular file may be replaced although it cannot be opened for writing (a read-only file in
// a folder the user may write), as a new name may be made.
bool MayReplace(const std::string& path, int error) {
  return error == ENOENT || TypeAt(path) == S_IFREG;
}

// Puts `bytes` at `path` through a private temporary file in the same folder, flushed to the
// disk and renamed over `path`.
void ReplaceFileOwnerOnly(const std::string& path, const std::string& bytes,
                          const std::string& refusal) {
  std::string temporary = FolderOf(path) + "/.wassetup-XXXXXX";
  // mkstemp makes the file with mode 0600 whatever the umask.
  const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (descriptor < 0) {
    throw ToolError(refusal + std::strerror(errno));
  }
  const bool written = WriteAll(descriptor, bytes.data(), bytes.size()) &&
                       ::fchmod(descriptor, 0600) == 0 && ::fsync(descriptor) == 0;
  const int writeError = errno;
  const bool closed = ::close(descriptor) == 0;
  if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = !written ? writeError : errno;
    ::unlink(temporary.c_str());
    throw ToolError(refusal + std::strerror(error) + "; the file was left as it was");
  }
}

}  // namespace

void PrepareStandardStreams() {
  std::signal(SIGPIPE, SIG_IGN);
  for (int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (!IsOpen(descriptor)) {
      HoldWithNull(descriptor);
      if (descriptor == STDOUT_FILENO) {
        standardOutput.Fail("it is closed");
      }
    }
  }
  standardOutput.SetLineBuffered(isatty(STDOUT_FILENO) != 0);
  std::cout.rdbuf(&standardOutput);
}

bool FinishStandardOutput() {
  std::cout.flush();
  if (std::fflush(stdout) != 0) {
    standardOutput.Fail(std::strerror(errno));
  }
  if (standardOutput.failure().empty() && ::close(STDOUT_FILENO) != 0 && errno != EINTR) {
    standardOutput.Fail(std::strerror(errno));
  }
  return standardOutput.failure().empty();
}

// What lies at `path` is decided by opening it without following a link, not by an earlier
// look. The rename that replaces a regular file (or fills a new name) can still meet whatever
// was put there since, but only someone who may write the folder can put anything there, and
// that one could as well replace the path directly.
void WriteOutputFile(const std::string& path, const std::string& bytes, const std::string& what) {
  const std::string refusal = what + ": cannot write '" + path + "': ";
  zaf::FileDescriptor target = OpenWithoutFollowing(path, 0);
  if (!target) {
    const int error = errno;
    if (!MayReplace(path, error)) {
      RefuseToOpen(path, what, error);
    }
  } else {
    struct stat status {};
    if (::fstat(target.get(), &status) != 0) {
      throw ToolError(refusal + std::strerror(errno));
    }
    if (!S_ISREG(status.st_mode)) {
      // A device or a FIFO: written in place, never replaced. Nothing to flush to a disk.
      if (!WriteAll(target.get(), bytes.data(), bytes.size()) ||
          (::close(target.Release()) != 0 && errno != EINTR)) {
        throw ToolError(refusal + std::strerror(errno));
      }
      return;
    }
    target.Reset();
  }
  ReplaceFileOwnerOnly(path, bytes, refusal);
}

zaf::FileDescriptor OpenForAppending(const std::string& path, const std::string& what) {
  zaf::FileDescriptor opened = OpenWithoutFollowing(path, O_CREAT | O_APPEND);
  if (!opened) {
    RefuseToOpen(path, what, errno);
  }
  return opened;
}

}  // namespace wassetup
