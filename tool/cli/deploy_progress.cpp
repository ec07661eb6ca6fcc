#include "cli/deploy_progress.h"

#include <fcntl.h>

#include <ctime>

#include "core/deploy_text.h"
#include "core/file_checks.h"
#include "host/file_descriptor.h"

namespace wassetup {

LogProgress::LogProgress(const std::string& file) {
  if (file.empty()) {
    return;
  }
  RequireWritableFile(file, "--log");
  // Made here, with the owner's permissions only; the stream then appends to it.
  const zaf::FileDescriptor created(
      ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
  if (created) {
    out_.open(file, std::ios::app);
  }
  if (!out_) {
    throw ToolError("--log: cannot write '" + file + "'");
  }
}

void LogProgress::Line(const std::string& text) {
  if (!out_.is_open()) {
    return;
  }
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", std::localtime(&now));
  out_ << stamp << ' ' << text << std::endl;
}

void LogProgress::Started(const DeployRun& run) {
  Line("deploy: " + std::to_string(run.steps.size()) + " commands, starting at " +
       std::to_string(run.first + 1));
}

void LogProgress::StepChanged(const DeployRun& run, std::size_t index) {
  const Step& step = run.steps[index];
  switch (step.state) {
    case StepState::kSkipped:
      Line(step.tagText + " skipped");
      return;
    case StepState::kRunning:
      Line(step.tagText + ": " + step.shown.line);
      return;
    case StepState::kDone:
      Line(step.tagText + " done");
      return;
    case StepState::kFailed:
    case StepState::kPending:
      // A failure is logged with its detail when the run ends.
      return;
  }
}

void LogProgress::Ended(const DeployRun& run) {
  switch (run.status) {
    case DeployStatus::kFailed:
      Line(run.ResumeTag() + " failed: " + run.failure->detail);
      return;
    case DeployStatus::kInterrupted:
      Line("deploy: " + InterruptionText(run));
      return;
    case DeployStatus::kFinished:
      Line("deploy finished");
      for (const std::string& line : ServerDefinitionLines(run)) {
        Line(line);
      }
      return;
    case DeployStatus::kInvalid:
    case DeployStatus::kRunning:
      return;
  }
}

}  // namespace wassetup
