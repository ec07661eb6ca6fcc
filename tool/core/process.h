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
  bool interrupted = false;   // ended by SIGINT: the operator pressed Ctrl+C
  std::string startError;     // why it could not start
  std::string lastErrorLine;  // the last non-blank line it wrote on stderr, filtered
};

// Rewrites one line of a command's output before it is shown (for instance to mask secrets).
using LineFilter = std::function<std::string(const std::string& line)>;

// Runs argv[0] (searched in PATH only when it holds no '/') with the rest as its arguments.
// Its stdout and stderr are passed on line by line through `filter`, to `out` and `err`.
ProcessResult RunProcess(const std::vector<std::string>& argv, const LineFilter& filter,
                         std::ostream& out = std::cout, std::ostream& err = std::cerr);

// Starts the commands of a deployment and waits for each.
class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  // Runs `argv` to its end; each line it prints goes through `filter`.
  virtual ProcessResult Launch(const std::vector<std::string>& argv, const LineFilter& filter) = 0;
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
