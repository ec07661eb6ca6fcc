#pragma once
// What `wassetup deploy` keeps of a run besides its text (core/deploy_text.h): the --log file
// and the --json document, each an observer of the one runner.

#include <string>

#include <nlohmann/json.hpp>

#include "core/deploy_runner.h"
#include "core/file_descriptor.h"

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
  FileDescriptor out_;
  bool failed_ = false;
};

// The --json document of a run, made when it ends: {"format_version", "status", "start_at",
// "steps", "failure" | "interruption" | "validation", "dataSource", "javaVariables"}.
class JsonReport : public DeployObserver {
 public:
  void Ended(const DeployRun& run) override;

  const nlohmann::ordered_json& document() const { return document_; }

 private:
  nlohmann::ordered_json document_;
};

}  // namespace wassetup
