#include "core/deploy_text.h"

#include <ostream>

#include "core/safe_text.h"

namespace wassetup {

namespace {

std::string Counter(const DeployRun& run, std::size_t index) {
  return "[" + std::to_string(index + 1) + "/" + std::to_string(run.steps.size()) + "] " +
         run.steps[index].tagText;
}

}  // namespace

std::string FinishedLine(const DeployRun& run) {
  return "Deployment finished: " + std::to_string(run.steps.size() - run.first) + " of " +
         std::to_string(run.steps.size()) + " commands run from " +
         (run.first < run.steps.size() ? run.steps[run.first].tagText : "-") + ".";
}

// A run is cut off during a step when that step's command failed; else before the next.
bool CutOffDuringStep(const DeployRun& run) {
  return run.steps[run.resumeIndex].state == StepState::kFailed;
}

std::string InterruptionText(const DeployRun& run) {
  return "interrupted at " + run.ResumeTag() +
         (CutOffDuringStep(run) ? ", whose command was stopped" : ", before it started");
}

void PrintInvalid(const Validation& validation, std::ostream& err) {
  err << Printable(validation.title) << " (page " << Printable(validation.page->GetTitle().str())
      << ")\n"
      << Printable(validation.text) << '\n';
}

std::vector<std::string> ServerDefinitionLines(const DeployRun& run) {
  std::vector<std::string> lines{"Next, define these on the application server:"};
  if (run.dataSource.count > 0) {
    lines.push_back("  The data source:");
    for (const DataSourceSetting& setting : run.dataSource.settings) {
      lines.push_back("    " + std::string(setting.name) + ": " + setting.value.value_or(""));
    }
  }
  if (!run.javaVariables.empty()) {
    lines.push_back(run.javaVariables.size() == 1 ? "  The Java variable:"
                                                  : "  The Java variables:");
    for (const JavaVariable& variable : run.javaVariables) {
      lines.push_back("    " + variable.name + "=" + variable.value);
    }
  }
  return lines;
}

void TextProgress::StepChanged(const DeployRun& run, std::size_t index) {
  const Step& step = run.steps[index];
  if (step.state == StepState::kSkipped) {
    out_ << Printable(Counter(run, index)) << " skipped (nothing to run)" << std::endl;
  } else if (step.state == StepState::kRunning) {
    out_ << Printable(Counter(run, index)) << " ...\n  $ " << Printable(step.shown.line)
         << std::endl;
  }
}

void TextProgress::Ended(const DeployRun& run) {
  switch (run.status) {
    case DeployStatus::kInvalid:
      PrintInvalid(run.validation, err_);
      err_ << "wassetup: nothing was run.\n";
      return;
    case DeployStatus::kFailed:
      ReportFailure(run);
      return;
    case DeployStatus::kInterrupted:
      ReportInterruption(run);
      return;
    case DeployStatus::kFinished:
      ReportFinished(run);
      return;
    case DeployStatus::kRunning:
      return;
  }
}

void TextProgress::ReportFailure(const DeployRun& run) {
  const DeployFailure& failure = *run.failure;
  if (failure.title.empty() && failure.text.empty()) {
    err_ << "wassetup: the command " << Printable(run.ResumeTag())
         << " failed: " << Printable(failure.detail) << '\n';
  } else {
    err_ << Printable(failure.title) << '\n' << Printable(failure.text) << '\n';
  }
  err_ << "wassetup: after fixing the cause, resume with: " << Printable(ResumeCommand(run))
       << '\n';
}

void TextProgress::ReportInterruption(const DeployRun& run) {
  err_ << "wassetup: " << Printable(InterruptionText(run))
       << "; resume with: " << Printable(ResumeCommand(run)) << '\n';
}

void TextProgress::ReportFinished(const DeployRun& run) {
  out_ << Printable(FinishedLine(run)) << '\n';
  for (const std::string& line : ServerDefinitionLines(run)) {
    out_ << Printable(line) << '\n';
  }
  out_.flush();
}

}  // namespace wassetup
