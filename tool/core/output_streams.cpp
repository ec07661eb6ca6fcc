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

#include "core/tool_error.h"
#include "host/file_descriptor.h"

namespace wassetup {

namespace {

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

void ReplaceFileOwnerOnly(const std::string& path, const std::string& bytes,
                          const std::string& what) {
  const std::string refusal = what + ": cannot write '" + path + "': ";
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

}  // namespace wassetup
