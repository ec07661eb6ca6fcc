#pragma once
// A deployment as text: the progress lines both faces of the tool print, why a run stopped and
// how to resume it, and what is left to define on the application server.

#include <iosfwd>
#include <string>
#include <vector>

#include "core/deploy_runner.h"

namespace wassetup {

// The first field the plug-in found wrong: its title with the page, then its text.
void PrintInvalid(const Validation& masked, std::ostream& err);

// "Deployment finished: 9 of 13 commands run from java_nuvdef."
std::string FinishedLine(const DeployRun& run);

// After a run that finished: the data source record (every field, secrets masked) and the
// Java variables, which the operator defines next on the application server.
std::vector<std::string> ServerDefinitionLines(const DeployRun& run);

// "[3/14] java_app ..." and the command line as each step starts on `out`; why the run stopped
// and how to resume on `err`; at the end of a finished run, what is left to define.
class TextProgress : public DeployObserver {
 public:
  TextProgress(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  void StepChanged(const DeployRun& run, std::size_t index) override;
  void Ended(const DeployRun& run) override;

 private:
  void ReportFailure(const DeployRun& run);
  void ReportInterruption(const DeployRun& run);
  void ReportFinished(const DeployRun& run);

  std::ostream& out_;
  std::ostream& err_;
};

// "interrupted at TAG, whose command was stopped" or "interrupted at TAG, before it started".
std::string InterruptionText(const DeployRun& run);

// Whether the interruption cut the command of the step to resume at off, or came between steps.
bool CutOffDuringStep(const DeployRun& run);

}  // namespace wassetup
