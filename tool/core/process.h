#pragma once
// Runs a command from its argument vector, never through a shell.

#include <functional>
#include <string>
#include <vector>

namespace wassetup {

struct ProcessResult {
  bool started = false;
  int exitStatus = -1;        // the exit status, or 128 + the signal that ended it
  std::string startError;     // why it could not start
  std::string lastErrorLine;  // the last non-blank line it wrote on stderr, filtered
};

// Rewrites one line of a command's output before it is shown (for instance to mask secrets).
using LineFilter = std::function<std::string(const std::string& line)>;

// Runs argv[0] (searched in PATH only when it holds no '/') with the rest as its arguments.
// Its stdout and stderr are passed on to ours line by line through `filter`.
ProcessResult RunProcess(const std::vector<std::string>& argv, const LineFilter& filter);

}  // namespace wassetup
