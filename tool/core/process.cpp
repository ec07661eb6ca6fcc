#include "core/process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

extern char** environ;

namespace wassetup {

namespace {

// One output stream of the child, passed on to one of ours a line at a time.
class LineRelay {
 public:
  LineRelay(int descriptor, std::ostream& out, const LineFilter& filter)
      : descriptor_(descriptor), out_(out), filter_(filter) {}
  ~LineRelay() { Close(); }
  LineRelay(const LineRelay&) = delete;
  LineRelay& operator=(const LineRelay&) = delete;

  int descriptor() const { return descriptor_; }
  bool IsOpen() const { return descriptor_ >= 0; }
  const std::string& LastLine() const { return lastLine_; }

  // Reads what the child wrote; at its end passes on the unfinished line and closes.
  void ReadSome() {
    char buffer[4096];
    const ssize_t count = ::read(descriptor_, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
      return;
    }
    if (count <= 0) {
      if (!pending_.empty()) {
        Pass(pending_, "");
      }
      Close();
      return;
    }
    pending_.append(buffer, static_cast<std::size_t>(count));
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      Pass(pending_.substr(0, end), "\n");
      pending_.erase(0, end + 1);
    }
  }

 private:
  void Pass(const std::string& line, const char* ending) {
    const std::string shown = filter_ ? filter_(line) : line;
    out_ << shown << ending << std::flush;
    if (shown.find_first_not_of(" \t\r") != std::string::npos) {
      lastLine_ = shown;
    }
  }

  void Close() {
    if (descriptor_ >= 0) {
      ::close(descriptor_);
      descriptor_ = -1;
    }
  }

  int descriptor_;
  std::ostream& out_;
  const LineFilter& filter_;
  std::string pending_;
  std::string lastLine_;
};

// Passes both streams on until the child has closed them.
void RelayUntilClosed(LineRelay& out, LineRelay& err) {
  while (out.IsOpen() || err.IsOpen()) {
    LineRelay* relays[2] = {&out, &err};
    pollfd watched[2] = {};
    nfds_t count = 0;
    for (LineRelay* relay : relays) {
      watched[count++] = {relay->IsOpen() ? relay->descriptor() : -1, POLLIN, 0};
    }
    if (::poll(watched, count, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    for (nfds_t index = 0; index < count; ++index) {
      if (watched[index].fd >= 0 && watched[index].revents != 0) {
        relays[index]->ReadSome();
      }
    }
  }
}

struct Pipe {
  int read = -1;
  int write = -1;
  bool Open() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
      return false;
    }
    read = ends[0];
    write = ends[1];
    return true;
  }
  void CloseWriteEnd() {
    if (write >= 0) {
      ::close(write);
      write = -1;
    }
  }
};

int WaitForExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const LineFilter& filter) {
  ProcessResult result;
  if (argv.empty()) {
    result.startError = "nothing to run";
    return result;
  }
  std::vector<char*> arguments;
  for (const std::string& argument : argv) {
    arguments.push_back(const_cast<char*>(argument.c_str()));
  }
  arguments.push_back(nullptr);

  Pipe outPipe;
  Pipe errPipe;
  if (!outPipe.Open() || !errPipe.Open()) {
    result.startError = std::strerror(errno);
    for (int end : {outPipe.read, outPipe.write, errPipe.read, errPipe.write}) {
      if (end >= 0) {
        ::close(end);
      }
    }
    return result;
  }
  // The relays own the read ends from here on and close them.
  LineRelay out(outPipe.read, std::cout, filter);
  LineRelay err(errPipe.read, std::cerr, filter);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe.write, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe.write, STDERR_FILENO);
  // The command gets stdin, stdout and stderr only: a descriptor some thread opened without
  // close-on-exec (a connection of the dialog's server, a file) must not outlive us in it.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  std::cout.flush();
  std::cerr.flush();
  pid_t pid = 0;
  const int spawnError =
      posix_spawnp(&pid, arguments[0], &actions, nullptr, arguments.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  outPipe.CloseWriteEnd();
  errPipe.CloseWriteEnd();
  if (spawnError != 0) {
    result.startError = std::strerror(spawnError);
    return result;
  }
  result.started = true;
  RelayUntilClosed(out, err);
  result.lastErrorLine = err.LastLine();
  result.exitStatus = WaitForExit(pid);
  return result;
}

}  // namespace wassetup
