#include "core/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

#include "host/file_descriptor.h"

extern char** environ;

namespace wassetup {

namespace {

// The process group of the command that runs (0: none), and the signal to pass on to it.
std::atomic<pid_t> runningGroup{0};
std::atomic<int> forwardedSignal{0};
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "read in a signal handler");

// A pipe's two ends, both close-on-exec. Returns false (errno set) when none could be made.
bool OpenPipe(zaf::FileDescriptor& readEnd, zaf::FileDescriptor& writeEnd) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    return false;
  }
  readEnd.Reset(ends[0]);
  writeEnd.Reset(ends[1]);
  return true;
}

// One output stream of the child, passed on to one of ours a line at a time.
class LineRelay {
 public:
  LineRelay(zaf::FileDescriptor descriptor, std::ostream& out, const LineFilter& filter,
            const OutputScrub& scrub)
      : descriptor_(std::move(descriptor)), out_(out), filter_(filter), scrub_(scrub) {}

  int descriptor() const { return descriptor_.get(); }
  bool IsOpen() const { return descriptor_.IsOpen(); }
  const std::string& LastLine() const { return lastLine_; }

  // Reads what the child wrote; at its end passes on the unfinished line and closes.
  void ReadSome() {
    char buffer[4096];
    const ssize_t count = ::read(descriptor_.get(), buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
      return;
    }
    const bool atEnd = count <= 0;
    if (!atEnd) {
      raw_.append(buffer, static_cast<std::size_t>(count));
    }
    pending_ += Scrub(atEnd);
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      Pass(pending_.substr(0, end), "\n");
      pending_.erase(0, end + 1);
    }
    if (atEnd) {
      if (!pending_.empty()) {
        Pass(pending_, "");
      }
      descriptor_.Reset();
    }
  }

 private:
  // What of the raw output can be shown now.
  std::string Scrub(bool atEnd) {
    if (!scrub_) {
      std::string all;
      all.swap(raw_);
      return all;
    }
    return scrub_(raw_, atEnd);
  }

  void Pass(const std::string& line, const char* ending) {
    const std::string shown = filter_ ? filter_(line) : line;
    out_ << shown << ending << std::flush;
    if (shown.find_first_not_of(" \t\r") != std::string::npos) {
      lastLine_ = shown;
    }
  }

  zaf::FileDescriptor descriptor_;
  std::ostream& out_;
  const LineFilter& filter_;
  const OutputScrub& scrub_;
  std::string raw_;      // read, not scrubbed yet
  std::string pending_;  // scrubbed, not a whole line yet
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

void WaitForExit(pid_t pid, ProcessResult& result) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.endingSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + result.endingSignal;
  result.interrupted = result.endingSignal == SIGINT || result.endingSignal == SIGTERM;
}

// The command's own process group, so that a signal reaches whatever it started too; every
// signal at its default action and none blocked, whatever the tool does with them (it ignores
// SIGPIPE, which a child would inherit).
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

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const LineFilter& filter,
                         std::ostream& out, std::ostream& err, const OutputScrub& scrub) {
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

  zaf::FileDescriptor outRead;
  zaf::FileDescriptor outWrite;
  zaf::FileDescriptor errRead;
  zaf::FileDescriptor errWrite;
  if (!OpenPipe(outRead, outWrite) || !OpenPipe(errRead, errWrite)) {
    result.startError = std::strerror(errno);
    return result;
  }
  LineRelay outRelay(std::move(outRead), out, filter, scrub);
  LineRelay errRelay(std::move(errRead), err, filter, scrub);

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
  out.flush();
  err.flush();
  std::cout.flush();
  std::cerr.flush();
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
    result.startError = std::strerror(spawnError);
    return result;
  }
  result.started = true;
  runningGroup.store(pid);
  // A signal that came while the command was being started.
  if (const int pending = forwardedSignal.load(); pending != 0) {
    ::kill(-pid, pending);
  }
  RelayUntilClosed(outRelay, errRelay);
  result.lastErrorLine = errRelay.LastLine();
  // The group is forgotten while the ended command is not reaped yet, so its number cannot
  // have gone to another process when a late signal is passed on.
  siginfo_t ended{};
  while (::waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
  }
  runningGroup.store(0);
  WaitForExit(pid, result);
  return result;
}

void ForwardSignalToCommand(int signal) {
  forwardedSignal.store(signal);
  if (const pid_t group = runningGroup.load(); group > 0) {
    ::kill(-group, signal);
  }
}

void ClearForwardedSignal() {
  forwardedSignal.store(0);
}

std::string SignalName(int signal) {
  const char* abbreviation = sigabbrev_np(signal);
  return abbreviation != nullptr ? std::string("SIG") + abbreviation
                                 : "signal " + std::to_string(signal);
}

ProcessResult SystemLauncher::Launch(const std::vector<std::string>& argv,
                                     const LineFilter& filter) {
  return RunProcess(argv, filter, out_, err_, scrub());
}

}  // namespace wassetup
