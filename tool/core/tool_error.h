#pragma once
// How a command ends: the outcome every subcommand returns, with the exit status the tool ends
// with, and the one error the tool throws when a command cannot go on.

#include <stdexcept>
#include <string>
#include <utility>

namespace wassetup {

// The tool's exit statuses.
constexpr int kExitSuccess = 0;
// A negative answer: the input is not valid, a command failed.
constexpr int kExitNegative = 1;
// Bad usage or an unusable environment: a bad option or value, a file that cannot be read, a
// module that cannot be loaded.
constexpr int kExitUsage = 2;

// What a subcommand that ran to its end answers: success, a negative answer, or a run the
// operator interrupted. A negative answer may carry the one line that says why, which the tool
// prints as "wassetup: " and the line on stderr.
class Outcome {
 public:
  static Outcome Success() { return Outcome(kExitSuccess, ""); }
  static Outcome Negative() { return Outcome(kExitNegative, ""); }
  static Outcome Refused(std::string why) { return Outcome(kExitNegative, std::move(why)); }
  // Interrupted by `signal`: the tool ends as the signal would have ended it (130 for SIGINT,
  // 143 for SIGTERM), as shells and scripts expect.
  static Outcome Interrupted(int signal) { return Outcome(128 + signal, ""); }

  int exitStatus() const { return exitStatus_; }
  const std::string& refusal() const { return refusal_; }

 private:
  Outcome(int exitStatus, std::string refusal)
      : exitStatus_(exitStatus), refusal_(std::move(refusal)) {}

  int exitStatus_;
  std::string refusal_;
};

// What stops a command: the tool prints "wassetup: " and the message on stderr, then exits with
// `exitStatus()`.
class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& message, int exitStatus = kExitUsage)
      : std::runtime_error(message), exitStatus_(exitStatus) {}

  int exitStatus() const { return exitStatus_; }

 private:
  int exitStatus_;
};

}  // namespace wassetup
