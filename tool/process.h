#pragma once
// Runs a command from its argument vector, never through a shell.

#include <string>
#include <vector>

namespace wassetup {

struct ProcessResult {
  bool started = false;
  int exitStatus = -1;        // the exit status, or 128 + the signal that ended it
  std::string startError;     // why it could not start
  std::string lastErrorLine;  // the last non-blank line it wrote on stderr
};

// Runs argv[0] (searched in PATH only when it holds no '/') with the rest as its arguments.
// Its stdout goes to ours; its stderr is passed on to ours line by line and its last line kept.
ProcessResult RunProcess(const std::vector<std::string>& argv);

}  // namespace wassetup
