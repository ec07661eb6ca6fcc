#pragma once
// The deployment: the plan's steps run one by one, each composed by the plug-in just before
// it runs. `wassetup deploy` and the dialog's Deploy both run it; what they show of it comes
// through a DeployObserver, and the commands start through a ProcessLauncher.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/plan.h"
#include "core/process.h"
#include "core/secrets.h"
#include "core/session.h"

namespace wassetup {

enum class DeployStatus { kRunning, kFinished, kFailed, kInvalid, kInterrupted };

// "running", "finished", "failed", "invalid", "interrupted".
const char* DeployStatusName(DeployStatus status);

// A step that failed, with what the plug-in says of it; the detail comes from the command's
// output, passwords masked.
struct DeployFailure {
  std::string title;
  std::string text;
  std::string detail;  // why the command failed: it could not start, or its status and last line
};

// Everything known of a run; observers see it as it goes.
struct DeployRun {
  std::vector<Step> steps;
  std::size_t first = 0;  // the index of the first step to run; those before are skipped
  std::string startAt;    // the tag asked for, or empty
  std::vector<std::string> runArguments;  // as the request gave them
  DeployStatus status = DeployStatus::kRunning;
  Validation validation;  // no page when valid
  std::optional<DeployFailure> failure;
  // Failed or interrupted: the step to resume at (the one that failed or was cut off, else
  // the next one).
  std::size_t resumeIndex = 0;
  // What the plug-in says the application server needs, as the plan gives them; read when the
  // run ends, unless the settings were not valid.
  DataSource dataSource;
  std::vector<JavaVariable> javaVariables;

  const std::string& ResumeTag() const { return steps[resumeIndex].tagText; }
};

// What a face of the tool shows of a run. Every call comes from the thread that runs it.
class DeployObserver {
 public:
  virtual ~DeployObserver() = default;

  // The settings are valid and the steps from `run.first` on are about to run.
  virtual void Started(const DeployRun& /*run*/) {}
  // Step `index` is now running (composed, its line known), done, failed or skipped.
  virtual void StepChanged(const DeployRun& /*run*/, std::size_t /*index*/) {}
  // A line the running command printed, secrets masked.
  virtual void CommandOutput(const std::string& /*line*/) {}
  // The run is over; `run.status` tells how. Invalid settings come here without Started.
  virtual void Ended(const DeployRun& /*run*/) {}
};

// Passes every event on to each observer, in order.
class DeployObservers : public DeployObserver {
 public:
  explicit DeployObservers(std::vector<DeployObserver*> observers)
      : observers_(std::move(observers)) {}

  void Started(const DeployRun& run) override;
  void StepChanged(const DeployRun& run, std::size_t index) override;
  void CommandOutput(const std::string& line) override;
  void Ended(const DeployRun& run) override;

 private:
  std::vector<DeployObserver*> observers_;
};

struct DeployRequest {
  std::string startAt;  // the tag to start at; empty: the first
  bool revealSecrets = false;
  // The command line's arguments that shape the run, "deploy" among them, as the resume
  // command repeats them: {"--prefs-dir", DIR, "deploy", "--java", JAVA}. Empty: "deploy".
  std::vector<std::string> runArguments;
};

class DeployRunner {
 public:
  // Lists the plan's steps, finds where to start and checks the settings before any command
  // runs: the plug-in's verdict, then whether every argument of the script commands to run
  // can be given to a script unchanged (zaf::platform::WhyNotPassableToScript: on Windows
  // cmd.exe reads a script's line, and no quoting brings a double quote, a percent sign or a
  // line break through it). A value refused there makes the settings invalid, on the page of
  // the setting that holds it, named without its value. Talks to the plug-in: the caller holds
  // the plug-in's lock if it has one. Throws ToolError (exit status 2) when `request.startAt`
  // is not a tag of the plan, or when a refused argument comes from no setting (the script
  // folder, or an argument that no setting holds alone).
  DeployRunner(Session& session, ProcessLauncher& launcher, const DeployRequest& request);

  const DeployRun& run() const { return run_; }

  // Runs the steps in order, telling `observer`; the first failure or an interruption ends the
  // run. With invalid settings it runs nothing. `plugInLock`, when given, is held while the
  // runner talks to the plug-in and released while a command runs. Runs once.
  DeployStatus Run(DeployObserver& observer, std::mutex* plugInLock = nullptr);

  // Asks the run to start no further step. Safe from another thread and from a signal handler.
  void RequestStop() { stopRequested_.store(true); }

 private:
  void ComposeStep(std::size_t index, std::mutex* plugInLock);
  // Runs the step's command, passing what it prints to `observer`, and times it.
  ProcessResult Launch(Step& step, DeployObserver& observer);
  DeployFailure AskWhyItFailed(const Step& step, const ProcessResult& result,
                               std::mutex* plugInLock);
  void End(DeployStatus status, std::size_t resumeIndex);

  Session& session_;
  ProcessLauncher& launcher_;
  bool reveal_;
  // Masks the passwords in what the commands print; the lines shown are masked by field.
  PasswordScrubber scrubber_;
  DeployRun run_;
  std::atomic<bool> stopRequested_{false};
};

// "wassetup --prefs-dir DIR deploy --java JAVA --start-at TAG": how the operator resumes the run
// at its resume step with the same settings, options and launcher; each argument quoted for
// the operator's shell (zaf::platform::ShellJoin: a POSIX shell, or cmd.exe on Windows).
std::string ResumeCommand(const DeployRun& run);

}  // namespace wassetup
