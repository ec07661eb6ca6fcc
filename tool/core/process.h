#pragma once
// Runs a command from its argument vector, never through a shell; and the seam through which
// a deployment starts its commands, so tests can stand in for the system.

#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace wassetup {

struct ProcessResult {
  bool started = false;
  int exitStatus = -1;        // the exit status, or 128 + the signal that ended it
  int endingSignal = 0;       // the signal that ended it, or 0 when it exited
  bool interrupted = false;   // ended by SIGINT or SIGTERM, as the operator asked
  std::string startError;     // why it could not start
  std::string lastErrorLine;  // the last non-blank line it wrote on stderr, filtered
};

// Rewrites one line of a command's output before it is shown (or only looks at it).
using LineFilter = std::function<std::string(const std::string& line)>;

// Rewrites a command's output as it comes, before it is cut into lines (for instance to mask
// passwords, one that spans lines included): takes from `pending`, what the command wrote that
// is not shown yet, what can be shown now, rewritten, and leaves the rest for later; with
// `atEnd` it takes everything.
using OutputScrub = std::function<std::string(std::string& pending, bool atEnd)>;

// Runs argv[0] (searched in PATH only when it names no folder) with the rest as its arguments
// through zaf::platform::RunCommand: in a process group of its own (on Windows a Job object),
// with stdin from the null device and every signal at its default. Its stdout and stderr are
// passed on through `scrub`, then line by line through `filter`, to `out` and `err`.
ProcessResult RunProcess(const std::vector<std::string>& argv, const LineFilter& filter,
                         std::ostream& out = std::cout, std::ostream& err = std::cerr,
                         const OutputScrub& scrub = {});

// Passes the operator's stop request `signal` on to the command RunProcess runs now, and to the
// one it starts next, until ClearForwardedSignal (zaf::platform::RequestCommandStop): it
// reaches the command and what it started, while the tool waits for them to end; on POSIX a
// second request kills them. Safe in a signal handler.
void ForwardSignalToCommand(int signal);
void ClearForwardedSignal();

// "SIGSEGV" for 11, "signal N" for a number without a name.
std::string SignalName(int signal);

// Starts the commands of a deployment and waits for each.
class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  // Runs `argv` to its end; each line it prints goes through `filter`.
  virtual ProcessResult Launch(const std::vector<std::string>& argv, const LineFilter& filter) = 0;

  // What a launcher that runs real commands passes their output through first (see RunProcess).
  void SetOutputScrub(OutputScrub scrub) { scrub_ = std::move(scrub); }

 protected:
  const OutputScrub& scrub() const { return scrub_; }

 private:
  OutputScrub scrub_;
};

// RunProcess: the command's stdout goes to `out`, its stderr to `err`.
class SystemLauncher : public ProcessLauncher {
 public:
  explicit SystemLauncher(std::ostream& out = std::cout, std::ostream& err = std::cerr)
      : out_(out), err_(err) {}

  ProcessResult Launch(const std::vector<std::string>& argv, const LineFilter& filter) override;

 private:
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace wassetup
