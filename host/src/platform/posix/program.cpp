// The running program on POSIX: its arguments as the kernel gave them, its folder from
// /proc/self/exe, execv for the hand-over, and the standard descriptors written with write(2).

#include "host/platform/program.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include "host/file_descriptor.h"
#include "platform/posix/write_all.h"

namespace zaf::platform {

namespace {

bool IsOpen(int descriptor) {
  return ::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF;
}

// Puts /dev/null at the closed descriptor `descriptor`: open() takes the lowest free number.
void HoldWithNull(int descriptor) {
  FileDescriptor opened(::open("/dev/null", O_RDWR));
  if (opened.get() == descriptor) {
    opened.Release();
  } else if (opened) {
    ::dup2(opened.get(), descriptor);
  }
}

// The arguments this process was started with, from /proc/self/cmdline. Read with read(2):
// the file streams would bring their virtual tables' relocations into every start of the
// library.
std::vector<std::string> OwnArguments() {
  std::string bytes;
  const FileDescriptor file(::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC));
  char buffer[4096];
  for (ssize_t count; file && (count = ::read(file.get(), buffer, sizeof buffer)) != 0;) {
    if (count < 0 && errno != EINTR) {
      return {};
    }
    bytes.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
  }
  std::vector<std::string> arguments;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find('\0', start);
    arguments.push_back(bytes.substr(start, end - start));
    start = end == std::string::npos ? bytes.size() : end + 1;
  }
  return arguments;
}

}  // namespace

char** ProgramArguments(int& /*argc*/, char** argv) {
  return argv;
}

// readlink(2) directly: every run asks, and std::filesystem's path handling costs more than
// the rest of finding the module.
std::string ProgramFolder() {
  char program[4096];
  const ssize_t length = ::readlink("/proc/self/exe", program, sizeof program);
  if (length <= 0 || static_cast<std::size_t>(length) == sizeof program) {
    return ".";
  }
  const std::string_view path(program, static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) {
    return "";
  }
  return std::string(path.substr(0, slash == 0 ? 1 : slash));
}

std::string HandOverTo(const std::string& program) {
  std::vector<std::string> arguments = OwnArguments();
  if (arguments.empty()) {
    return "cannot read this program's arguments to hand them over";
  }
  arguments[0] = program;
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  return std::strerror(errno);
}

StandardStreams PrepareStandardStreams() {
  std::signal(SIGPIPE, SIG_IGN);
  StandardStreams streams;
  for (int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (!IsOpen(descriptor)) {
      HoldWithNull(descriptor);
      streams.outputClosed = streams.outputClosed || descriptor == STDOUT_FILENO;
    }
  }
  streams.outputIsTerminal = ::isatty(STDOUT_FILENO) != 0;
  return streams;
}

bool WriteStandardStream(StandardStream stream, std::string_view bytes, std::string& reason) {
  const int descriptor = stream == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
  if (!WriteAll(descriptor, bytes.data(), bytes.size())) {
    reason = std::strerror(errno);
    return false;
  }
  return true;
}

bool CloseStandardOutput(std::string& reason) {
  if (::close(STDOUT_FILENO) != 0 && errno != EINTR) {
    reason = std::strerror(errno);
    return false;
  }
  return true;
}

void WriteErrorFromHandler(const char* text, std::size_t size) {
  if (::write(STDERR_FILENO, text, size) < 0) {
    // Nothing to do about it in a signal handler.
  }
}

bool OutputShowsColor() {
  return ::isatty(STDOUT_FILENO) != 0;
}

}  // namespace zaf::platform
