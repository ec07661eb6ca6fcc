#include "core/deploy_runner.h"

#include <chrono>
#include <optional>

#include "host/platform/process.h"
#include "host/platform/shell_quote.h"

namespace wassetup {

namespace {

// Holds the plug-in's lock, when there is one, for one talk with the plug-in.
class PlugInTalk {
 public:
  explicit PlugInTalk(std::mutex* lock) : lock_(lock) {
    if (lock_ != nullptr) {
      lock_->lock();
    }
  }
  ~PlugInTalk() {
    if (lock_ != nullptr) {
      lock_->unlock();
    }
  }
  PlugInTalk(const PlugInTalk&) = delete;
  PlugInTalk& operator=(const PlugInTalk&) = delete;

 private:
  std::mutex* lock_;
};

// The page that holds `widget`, or null.
ZAFDlgTabPage* PageOf(ZAFDialog* widget) {
  for (; widget != nullptr; widget = widget->GetParent()) {
    if (auto* page = dynamic_cast<ZAFDlgTabPage*>(widget)) {
      return page;
    }
  }
  return nullptr;
}

// The setting whose value `argument` carries and which itself holds what a script cannot be
// given (the plug-in strips a value's blanks before it joins it into an argument): the longest
// such value when several are in the argument; null when none is.
const FormField* CarriedSetting(const std::vector<FormField>& fields, const std::string& argument) {
  const FormField* carried = nullptr;
  std::size_t longest = 0;
  for (const FormField& field : fields) {
    const std::string value = field.editor->GetText().Strip(ZAF_STRIP_BOTH, U' ').str();
    if (value.size() > longest && argument.find(value) != std::string::npos &&
        zaf::platform::WhyNotPassableToScript(value)) {
      carried = &field;
      longest = value.size();
    }
  }
  return carried;
}

// Why the script command `command` of `step` cannot run as composed, as a verdict on the
// settings (the page of the setting that carries the refused argument); no page when every
// argument can be given to the script. Throws ToolError when what is refused comes from no
// setting: the script folder, or an argument no setting holds alone.
Validation ScriptRefusal(Session& session, const Step& step, const ComposedCommand& command) {
  for (std::size_t index = 0; index < command.argv.size(); ++index) {
    const std::optional<std::string> why =
        zaf::platform::WhyNotPassableToScript(command.argv[index]);
    if (!why) {
      continue;
    }
    const std::string script = "the script " + command.script + " (step " + step.tagText + ")";
    if (index == 0) {
      throw ToolError("deploy: " + script + " cannot be started from '" + command.argv[0] +
                      "': " + *why + "; give another --script-dir");
    }
    const FormField* field = CarriedSetting(session.model().fields(), command.argv[index]);
    if (field == nullptr) {
      throw ToolError("deploy: argument " + std::to_string(index) + " of " + script +
                      " cannot be given to it: " + *why);
    }
    return {PageOf(field->editor), "Value not usable by a script",
            "The value of " + field->key + " (" + field->label + ") cannot be given to " + script +
                " unchanged: " + *why + "."};
  }
  return {};
}

// The commands from the first step to run are composed in the host's record (the real values,
// no file changed) and each script's arguments are checked there, so that a refusal comes
// before any step has run. The steps that run are composed again just before each runs.
Validation RefusedScriptArgument(Session& session, const std::vector<Step>& steps,
                                 std::size_t first) {
  Validation refusal;
  for (std::size_t index = first; index < steps.size() && refusal.page == nullptr; ++index) {
    const ComposedCommand command = session.host().Compose(session.plugin(), steps[index].tag);
    if (command.kind == ComposedCommand::Kind::kScript) {
      refusal = ScriptRefusal(session, steps[index], command);
    }
  }
  zaf::TakeRecordedChanges();
  return refusal;
}

}  // namespace

const char* DeployStatusName(DeployStatus status) {
  static constexpr const char* kNames[] = {"running", "finished", "failed", "invalid",
                                           "interrupted"};
  return kNames[static_cast<int>(status)];
}

std::string ResumeCommand(const DeployRun& run) {
  std::vector<std::string> arguments = run.runArguments;
  if (arguments.empty()) {
    arguments.push_back("deploy");
  }
  arguments.insert(arguments.end(), {"--start-at", run.ResumeTag()});
  return "wassetup " + zaf::platform::ShellJoin(arguments);
}

void DeployObservers::Started(const DeployRun& run) {
  for (DeployObserver* observer : observers_) {
    observer->Started(run);
  }
}

void DeployObservers::StepChanged(const DeployRun& run, std::size_t index) {
  for (DeployObserver* observer : observers_) {
    observer->StepChanged(run, index);
  }
}

void DeployObservers::CommandOutput(const std::string& line) {
  for (DeployObserver* observer : observers_) {
    observer->CommandOutput(line);
  }
}

void DeployObservers::Ended(const DeployRun& run) {
  for (DeployObserver* observer : observers_) {
    observer->Ended(run);
  }
}

DeployRunner::DeployRunner(Session& session, ProcessLauncher& launcher,
                           const DeployRequest& request)
    : session_(session),
      launcher_(launcher),
      reveal_(request.revealSecrets),
      scrubber_(session.form(), request.revealSecrets) {
  launcher_.SetOutputScrub(
      [this](std::string& pending, bool atEnd) { return scrubber_.Release(pending, atEnd); });
  run_.steps = CommandTags(session_);
  run_.startAt = request.startAt;
  run_.runArguments = request.runArguments;
  run_.first = StartIndex(run_.steps, request.startAt);
  for (std::size_t index = 0; index < run_.first; ++index) {
    run_.steps[index].state = StepState::kSkipped;
  }
  run_.validation = Validate(session_);
  if (run_.validation.page == nullptr) {
    run_.validation = RefusedScriptArgument(session_, run_.steps, run_.first);
  }
}

DeployStatus DeployRunner::Run(DeployObserver& observer, std::mutex* plugInLock) {
  if (run_.validation.page != nullptr) {
    run_.status = DeployStatus::kInvalid;
    observer.Ended(run_);
    return run_.status;
  }
  observer.Started(run_);
  for (std::size_t index = run_.first; index < run_.steps.size(); ++index) {
    if (stopRequested_.load()) {
      End(DeployStatus::kInterrupted, index);
      break;
    }
    Step& step = run_.steps[index];
    ComposeStep(index, plugInLock);
    if (step.command.kind == ComposedCommand::Kind::kNone) {
      step.state = StepState::kSkipped;
      observer.StepChanged(run_, index);
      continue;
    }
    step.state = StepState::kRunning;
    observer.StepChanged(run_, index);
    const ProcessResult result = Launch(step, observer);
    if (result.interrupted) {
      RequestStop();
    }
    step.state = result.started && result.exitStatus == 0 ? StepState::kDone : StepState::kFailed;
    if (step.state == StepState::kFailed && !stopRequested_.load()) {
      run_.failure = AskWhyItFailed(step, result, plugInLock);
      End(DeployStatus::kFailed, index);
    } else if (step.state == StepState::kFailed) {
      // The operator's interruption cut the command off: that is no failure of the step's own.
      End(DeployStatus::kInterrupted, index);
    }
    observer.StepChanged(run_, index);
    if (run_.status != DeployStatus::kRunning) {
      break;
    }
  }
  if (run_.status == DeployStatus::kRunning) {
    run_.status = DeployStatus::kFinished;
  }
  {
    const PlugInTalk talk(plugInLock);
    run_.dataSource = ReadDataSource(session_, reveal_);
    run_.javaVariables = ReadJavaVariables(session_);
  }
  observer.Ended(run_);
  return run_.status;
}

// A command reflects the form as it is when the host asks for it: each step is composed just
// before it runs, never ahead. It is composed twice: in the host's record with the password
// fields holding markers, for what is shown, then for real, for what runs.
void DeployRunner::ComposeStep(std::size_t index, std::mutex* plugInLock) {
  Step& step = run_.steps[index];
  const PlugInTalk talk(plugInLock);
  PreviewStep(session_, step, reveal_);
  step.command = session_.ComposeToRun(step.tag);
}

ProcessResult DeployRunner::Launch(Step& step, DeployObserver& observer) {
  const LineFilter mask = [&observer](const std::string& line) {
    observer.CommandOutput(line);
    return line;
  };
  const auto started = std::chrono::steady_clock::now();
  ProcessResult result = launcher_.Launch(step.command.argv, mask);
  step.durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - started)
                        .count();
  if (result.started) {
    step.exitStatus = result.exitStatus;
  }
  return result;
}

DeployFailure DeployRunner::AskWhyItFailed(const Step& step, const ProcessResult& result,
                                           std::mutex* plugInLock) {
  DeployFailure failure;
  failure.detail = FailureDetail(result);
  ZAFUnicodeString title;
  ZAFUnicodeString text;
  {
    const PlugInTalk talk(plugInLock);
    session_.plugin().GetCommandErrorMessage(step.tag, result.exitStatus, failure.detail, title,
                                             text);
  }
  failure.title = title.str();
  failure.text = text.str();
  return failure;
}

void DeployRunner::End(DeployStatus status, std::size_t resumeIndex) {
  run_.status = status;
  run_.resumeIndex = resumeIndex;
}

}  // namespace wassetup
