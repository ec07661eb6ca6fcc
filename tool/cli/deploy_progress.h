#pragma once
// What `wassetup deploy` keeps of a run besides its text (core/deploy_text.h) and its document
// (core/documents.h): the --log file, an observer of the one runner.

#include <string>

#include "core/deploy_runner.h"
#include "host/platform/files.h"

namespace wassetup {

// Appends dated lines to the --log file: what ran, how each step ended, how the run ended.
// Its texts are masked already: the commands as shown, and details from their masked output.
// A line that cannot be written is told once on stderr; the run goes on.
class LogProgress : public DeployObserver {
 public:
  // No file: logs nothing. Throws ToolError (2) when `file` cannot be opened: a symbolic link
  // is refused (OpenForAppending). A new log is made readable by its owner only.
  explicit LogProgress(const std::string& file);

  void Started(const DeployRun& run) override;
  void StepChanged(const DeployRun& run, std::size_t index) override;
  void Ended(const DeployRun& run) override;

 private:
  void Line(const std::string& text);

  std::string file_;
  zaf::platform::AppendedFile out_;
  bool failed_ = false;
};

}  // namespace wassetup
