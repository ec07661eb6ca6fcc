// Commands on POSIX: posix_spawn in a process group of their own, so that a signal passed on
// reaches whatever the command started too; stdout and stderr through pipes read with poll.

#include "host/platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "host/file_descriptor.h"

namespace zaf::platform {

namespace {

// The process group of the command that runs (0: none), and the signal to pass on to it.
std::atomic<pid_t> runningGroup{0};
std::atomic<int> forwardedSignal{0};
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "read in a signal handler");

bool IsExecutableFile(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

// A pipe's two ends, both close-on-exec; false (errno set) when none could be made.
bool OpenPipe(FileDescriptor& readEnd, FileDescriptor& writeEnd) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    return false;
  }
  readEnd = FileDescriptor(ends[0]);
  writeEnd = FileDescriptor(ends[1]);
  return true;
}

// One output stream of the child, handed to the receiver as it comes.
class Relay {
 public:
  Relay(FileDescriptor descriptor, OutputStream stream, const OutputReceiver& receive)
      : descriptor_(std::move(descriptor)), stream_(stream), receive_(receive) {}

  int descriptor() const { return descriptor_.get(); }
  bool IsOpen() const { return descriptor_.IsOpen(); }

  // Reads what the child wrote; at its end (or on an error) says so and closes.
  void ReadSome() {
    char buffer[4096];
    const ssize_t count = ::read(descriptor_.get(), buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
      return;
    }
    if (count > 0) {
      receive_(stream_, std::string_view(buffer, static_cast<std::size_t>(count)), false);
      return;
    }
    descriptor_.Reset();
    receive_(stream_, {}, true);
  }

 private:
  FileDescriptor descriptor_;
  OutputStream stream_;
  const OutputReceiver& receive_;
};

// Passes both streams on until the child has closed them.
void RelayUntilClosed(Relay& out, Relay& err) {
  while (out.IsOpen() || err.IsOpen()) {
    Relay* relays[2] = {&out, &err};
    pollfd watched[2] = {};
    nfds_t count = 0;
    for (Relay* relay : relays) {
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

void WaitForExit(pid_t pid, CommandResult& result) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) {
    result.ending = CommandResult::Ending::kSignalled;
    result.signal = WTERMSIG(status);
  } else {
    result.ending = CommandResult::Ending::kExited;
    result.status = WEXITSTATUS(status);
  }
}

// The command's own process group, so that a signal reaches whatever it started too; every
// signal at its default action and none blocked, whatever this process does with them (the
// tool ignores SIGPIPE, which a child would inherit).
void PrepareSpawnAttributes(posix_spawnattr_t& attributes) {
  posix_spawnattr_init(&attributes);
  sigset_t all;
  sigfillset(&all);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

CommandResult NotStarted(std::string reason) {
  CommandResult result;
  result.reason = std::move(reason);
  return result;
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv, const OutputReceiver& receive) {
  if (argv.empty()) {
    return NotStarted("nothing to run");
  }
  std::vector<char*> arguments;
  for (const std::string& argument : argv) {
    if (argument.find('\0') != std::string::npos) {
      return NotStarted("argument " + std::to_string(arguments.size()) +
                        " holds a NUL byte, which would end it early");
    }
    arguments.push_back(const_cast<char*>(argument.c_str()));
  }
  arguments.push_back(nullptr);

  FileDescriptor outRead;
  FileDescriptor outWrite;
  FileDescriptor errRead;
  FileDescriptor errWrite;
  if (!OpenPipe(outRead, outWrite) || !OpenPipe(errRead, errWrite)) {
    return NotStarted(std::strerror(errno));
  }
  Relay outRelay(std::move(outRead), OutputStream::kOut, receive);
  Relay errRelay(std::move(errRead), OutputStream::kErr, receive);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Not in the terminal's foreground group, the command must not read the terminal: it would
  // be stopped.
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errWrite.get(), STDERR_FILENO);
  // The command gets stdin, stdout and stderr only: a descriptor some thread opened without
  // close-on-exec (a connection of the dialog's server, a file) must not outlive us in it.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  posix_spawnattr_t attributes;
  PrepareSpawnAttributes(attributes);
  pid_t pid = 0;
  const int spawnError =
      posix_spawnp(&pid, arguments[0], &actions, &attributes, arguments.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  // Only the child keeps the write ends, so the relays see the end of its output.
  outWrite.Reset();
  errWrite.Reset();
  if (spawnError != 0) {
    return NotStarted(std::strerror(spawnError));
  }
  runningGroup.store(pid);
  // A stop asked for while the command was being started.
  if (const int pending = forwardedSignal.load(); pending != 0) {
    ::kill(-pid, pending);
  }
  RelayUntilClosed(outRelay, errRelay);
  // The group is forgotten while the ended command is not reaped yet, so its number cannot
  // have gone to another process when a late stop request is passed on.
  siginfo_t ended{};
  while (::waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
  }
  runningGroup.store(0);
  CommandResult result;
  WaitForExit(pid, result);
  return result;
}

void RequestCommandStop(int signal) {
  // A request after the first kills: the command did not end on the operator's signal.
  int expected = 0;
  if (!forwardedSignal.compare_exchange_strong(expected, signal)) {
    signal = SIGKILL;
    forwardedSignal.store(signal);
  }
  if (const pid_t group = runningGroup.load(); group > 0) {
    ::kill(-group, signal);
  }
}

void ClearCommandStop() {
  forwardedSignal.store(0);
}

const char* CommandStopNotice(int count) {
  return count <= 1 ? "the running command was passed the signal; waiting for it to end (again "
                      "to kill it)"
                    : "killing the running command";
}

bool CanStartProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) {
    return IsExecutableFile(program);
  }
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  for (std::size_t start = 0; start <= folders.size();) {
    const std::size_t end = std::min(folders.find(':', start), folders.size());
    const std::string folder = folders.substr(start, end - start);
    if (IsExecutableFile((folder.empty() ? "." : folder) + "/" + program)) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

std::string SignalName(int signal) {
  const char* abbreviation = sigabbrev_np(signal);
  return abbreviation != nullptr ? std::string("SIG") + abbreviation
                                 : "signal " + std::to_string(signal);
}

std::optional<std::string> WhyNotPassableToScript(const std::string& argument) {
  if (argument.find('\0') != std::string::npos) {
    return "it holds a NUL byte, which would end it early";
  }
  return std::nullopt;
}

}  // namespace zaf::platform
