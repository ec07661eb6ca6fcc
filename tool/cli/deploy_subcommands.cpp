// The commands of the deployment: validate, plan and deploy.

#include <atomic>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/deploy_progress.h"
#include "cli/subcommands.h"
#include "core/deploy_runner.h"
#include "core/deploy_text.h"
#include "core/documents.h"
#include "core/safe_text.h"
#include "core/warnings.h"
#include "host/platform/process.h"
#include "host/platform/program.h"
#include "host/platform/signals.h"

namespace wassetup {

namespace {

using Json = nlohmann::ordered_json;

// Each line is made whole and then written at once: a line of the listing goes through the
// stream in one piece rather than a dozen, with one temporary string in all.
void PrintPlan(const Plan& plan) {
  std::string line;
  const auto write = [&line] {
    line += '\n';
    std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
    line.clear();
  };
  line.append("Commands (").append(std::to_string(plan.steps.size())).append("):");
  write();
  std::size_t number = 0;
  for (const Step& step : plan.steps) {
    line.append("  ").append(std::to_string(++number)).append(". ");
    AppendPrintable(line, step.tagText);
    line.append(": ");
    if (step.shown.line.empty()) {
      line.append("(nothing to run)");
    } else {
      AppendPrintable(line, step.shown.line);
    }
    write();
    for (const zaf::FileChange& change : step.fileChanges) {
      line.append("     before it, deploy ");
      AppendPrintable(line, DescribeChange(change));
      write();
    }
  }
  line.append("Data source (count ").append(std::to_string(plan.dataSource.count)).append("):");
  write();
  for (const DataSourceSetting& setting : plan.dataSource.settings) {
    line.append("  ");
    AppendPrintable(line, setting.name);
    line.append(": ");
    AppendPrintable(line, setting.value.value_or(""));
    write();
  }
  line.append("Java variables:");
  write();
  for (const JavaVariable& variable : plan.javaVariables) {
    line.append("  ");
    AppendPrintable(line, variable.name);
    line += '=';
    AppendPrintable(line, variable.value);
    write();
  }
}

// The deployment the signals stop, while one runs.
std::atomic<DeployRunner*> stoppingRunner{nullptr};

// A stop request during a deployment (on POSIX SIGINT and SIGTERM, on Windows Ctrl+C,
// Ctrl+Break and the console closed) asks the runner to start no further step and is passed on
// to the running command: on POSIX to its process group (which is not the terminal's, so
// Ctrl+C reaches the tool alone), on Windows by ending its job. The tool waits for the command
// to end and reports how far the run got. On POSIX a second signal kills the command's group
// outright, and the tool still waits and reports. Writes only what is safe in a signal handler.
void StopDeployment(int signal, int count) {
  if (DeployRunner* runner = stoppingRunner.load(); count == 1 && runner != nullptr) {
    runner->RequestStop();
  }
  ForwardSignalToCommand(signal);
  const char* notice = zaf::platform::CommandStopNotice(count);
  static constexpr char kStopping[] = "\nwassetup: stopping: ";
  static constexpr char kTool[] = "\nwassetup: ";
  zaf::platform::WriteErrorFromHandler(count == 1 ? kStopping : kTool,
                                       count == 1 ? sizeof kStopping - 1 : sizeof kTool - 1);
  zaf::platform::WriteErrorFromHandler(notice, std::strlen(notice));
  zaf::platform::WriteErrorFromHandler("\n", 1);
}

// Runs the deployment with the operator's stop requests stopping it (StopDeployment).
DeployStatus RunStoppable(DeployRunner& runner, DeployObserver& observer) {
  ClearForwardedSignal();
  stoppingRunner.store(&runner);
  DeployStatus status;
  {
    const zaf::platform::StopSignals stop(StopDeployment);
    status = runner.Run(observer);
  }
  stoppingRunner.store(nullptr);
  ClearForwardedSignal();
  return status;
}

Outcome OutcomeOf(DeployStatus status, int signal) {
  if (status == DeployStatus::kInterrupted) {
    return Outcome::Interrupted(signal != 0 ? signal : SIGINT);
  }
  return status == DeployStatus::kFinished ? Outcome::Success() : Outcome::Negative();
}

void PrintWarning(const std::string& warning) {
  std::cerr << "wassetup: warning: " << Printable(warning) << '\n';
}

// What the operator should know before trusting the plan: a database product the plug-in does
// not know, and (with `checkSettings`) folder settings in the other path form and settings that
// reach a script's arguments looking like options, read off `plan` when it is composed already.
// Once per run, on stderr.
void PrintWarnings(Session& session, bool checkSettings, const Plan* plan = nullptr) {
  for (const std::string& warning : UnknownProductWarnings(session.model())) {
    PrintWarning(warning);
  }
  if (!checkSettings) {
    return;
  }
  for (const std::string& warning :
       SettingWarnings(session, plan != nullptr ? &plan->steps : nullptr)) {
    PrintWarning(warning);
  }
}

}  // namespace

// The plug-in's messages name fields, never their values: they are printed as they are.
Outcome RunValidate(Session& session, bool json) {
  PrintWarnings(session, true);
  const Validation result = Validate(session);
  if (json) {
    Json document{{"format_version", kFormatVersion}};
    document.update(ValidationDocument(result, /*withValid=*/true));
    WriteDocument(session, JsonText(document));
  } else if (result.page == nullptr) {
    std::cout << "The settings are valid.\n";
  } else {
    PrintInvalid(result, std::cerr);
  }
  return result.page == nullptr ? Outcome::Success() : Outcome::Negative();
}

Outcome RunPlan(Session& session, bool json, const std::string& fromFile) {
  if (!fromFile.empty()) {
    ApplySettingsDocument(session, fromFile);
  }
  const Plan plan = ComposePlan(session, session.options().showSecrets);
  PrintWarnings(session, true, &plan);
  if (json) {
    WriteDocument(session, JsonText(PlanDocument(plan)));
  } else {
    PrintPlan(plan);
  }
  return Outcome::Success();
}

// Validates, then runs the steps; in --json mode stdout holds only the document, and what the
// commands and the progress print goes to stderr.
Outcome RunDeploy(Session& session, const DeployOptions& options) {
  std::ostream& progress = options.json ? std::cerr : std::cout;
  SystemLauncher launcher(progress, std::cerr);
  PrintWarnings(session, false);
  DeployRunner runner(session, launcher,
                      {options.startAt, session.options().showSecrets, options.runArguments});
  LogProgress log(options.logFile);
  TextProgress text(progress, std::cerr);
  DeployObservers all({&text, &log});
  const DeployStatus status = RunStoppable(runner, all);
  if (options.json) {
    WriteDocument(session, JsonText(RunDocument(runner.run())));
  }
  return OutcomeOf(status, zaf::platform::StopSignals::First());
}

}  // namespace wassetup
