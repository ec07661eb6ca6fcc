#pragma once
// The one error the tool throws: a message for stderr and the exit status the tool ends with.

#include <stdexcept>
#include <string>

namespace wassetup {

// The tool's exit statuses.
constexpr int kExitSuccess = 0;
// A negative answer: the input is not valid, a command failed.
constexpr int kExitNegative = 1;
// Bad usage or an unusable environment: a bad option or value, a file that cannot be read, a
// module that cannot be loaded.
constexpr int kExitUsage = 2;

// The tool prints "wassetup: " and the message on stderr, then exits with `exitStatus()`.
class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& message, int exitStatus = kExitUsage)
      : std::runtime_error(message), exitStatus_(exitStatus) {}

  int exitStatus() const { return exitStatus_; }

 private:
  int exitStatus_;
};

}  // namespace wassetup
