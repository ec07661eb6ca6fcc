#include "core/output_streams.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <streambuf>

#include "core/file_checks.h"
#include "core/tool_error.h"
#include "host/platform/program.h"

namespace wassetup {

namespace {

using zaf::platform::StandardStream;

// The buffer of std::cout or std::cerr: writes to standard output or standard error through
// the platform layer. On standard output the first write that fails is told on stderr at once
// (a long deployment goes on, its progress no longer seen), after which the buffer takes
// nothing more and the stream goes bad; on a terminal each line is written as it ends, as
// stdio would. Standard error is flushed after every output (std::cerr is unit-buffered), and
// a failed write there has nowhere to be told.
class StandardStreamBuffer : public std::streambuf {
 public:
  explicit StandardStreamBuffer(StandardStream stream) : stream_(stream) {
    setp(buffer_, buffer_ + sizeof buffer_);
  }

  void SetLineBuffered(bool lineBuffered) { lineBuffered_ = lineBuffered; }
  void Fail(const std::string& reason) {
    if (failure_.empty() && stream_ == StandardStream::kOutput) {
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
    std::string reason;
    if (pending > 0 &&
        !zaf::platform::WriteStandardStream(stream_, std::string_view(pbase(), pending), reason)) {
      Fail(reason);
    }
    setp(buffer_, buffer_ + sizeof buffer_);
    return failure_.empty();
  }

  StandardStream stream_;
  char buffer_[8192];
  bool lineBuffered_ = false;
  std::string failure_;
};

// Never destroyed: the streams are flushed at exit, after the static objects are gone.
StandardStreamBuffer& standardOutput = *new StandardStreamBuffer(StandardStream::kOutput);
StandardStreamBuffer& standardError = *new StandardStreamBuffer(StandardStream::kError);

void ThrowUnlessWritten(const zaf::platform::WriteResult& result, const std::string& path,
                        const std::string& what) {
  if (result.status == zaf::platform::WriteResult::Status::kLink) {
    throw ToolError(SymbolicLinkRefusal(path, what));
  }
  if (!result.Written()) {
    throw ToolError(what + ": cannot write '" + path + "': " + result.reason);
  }
}

}  // namespace

void PrepareStandardStreams() {
  const zaf::platform::StandardStreams streams = zaf::platform::PrepareStandardStreams();
  std::cerr.rdbuf(&standardError);
  if (streams.outputClosed) {
    standardOutput.Fail("it is closed");
  }
  standardOutput.SetLineBuffered(streams.outputIsTerminal);
  std::cout.rdbuf(&standardOutput);
}

bool FinishStandardOutput() {
  std::cout.flush();
  if (std::fflush(stdout) != 0) {
    standardOutput.Fail(std::strerror(errno));
  }
  std::string reason;
  if (standardOutput.failure().empty() && !zaf::platform::CloseStandardOutput(reason)) {
    standardOutput.Fail(reason);
  }
  return standardOutput.failure().empty();
}

void WriteOutputFile(const std::string& path, const std::string& bytes, const std::string& what) {
  const zaf::platform::WriteResult result =
      zaf::platform::WriteWholeFile(path, bytes, kFifoReaderWait);
  ThrowUnlessWritten(result, path, what);
}

zaf::platform::AppendedFile OpenForAppending(const std::string& path, const std::string& what) {
  zaf::platform::WriteResult result;
  zaf::platform::AppendedFile opened =
      zaf::platform::AppendedFile::Open(path, kFifoReaderWait, result);
  ThrowUnlessWritten(result, path, what);
  return opened;
}

}  // namespace wassetup
