// The commands of the deployment: validate, plan and deploy.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <iostream>

#include <nlohmann/json.hpp>

#include "cli/deploy_progress.h"
#include "cli/subcommands.h"
#include "core/deploy_runner.h"
#include "core/deploy_text.h"
#include "core/dry_run.h"
#include "core/json_document.h"
#include "core/setting_fields.h"

namespace wassetup {

namespace {

using Json = nlohmann::ordered_json;

void PrintPlan(const Plan& plan) {
  std::cout << "Commands (" << plan.steps.size() << "):\n";
  std::size_t number = 0;
  for (const PlanStep& step : plan.steps) {
    const std::string line = PrintedLine(step.shown);
    std::cout << "  " << ++number << ". " << step.tagText << ": "
              << (line.empty() ? "(nothing to run)" : line) << '\n';
    for (const zaf::FileChange& change : step.fileChanges) {
      std::cout << "     before it, deploy " << DescribeChange(change) << '\n';
    }
  }
  std::cout << "Data source (count " << plan.dataSourceCount << "):\n";
  for (const DataSourceSetting& setting : plan.dataSource) {
    std::cout << "  " << setting.name << ": " << setting.value.value_or("") << '\n';
  }
  std::cout << "Java variables:\n";
  for (const JavaVariable& variable : plan.javaVariables) {
    std::cout << "  " << variable.name << '=' << variable.value << '\n';
  }
}

// While it lives, SIGINT and SIGTERM ask the runner to start no further step: the command
// that runs may end (Ctrl+C on a terminal reaches it too), and the run reports how far it got.
// A second signal ends the tool at once.
class StopOnSignal {
 public:
  explicit StopOnSignal(DeployRunner& runner) {
    signals_ = 0;
    runner_.store(&runner);
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &savedInterrupt_);
    sigaction(SIGTERM, &action, &savedTerminate_);
  }
  ~StopOnSignal() {
    sigaction(SIGINT, &savedInterrupt_, nullptr);
    sigaction(SIGTERM, &savedTerminate_, nullptr);
    runner_.store(nullptr);
  }
  StopOnSignal(const StopOnSignal&) = delete;
  StopOnSignal& operator=(const StopOnSignal&) = delete;

 private:
  static void OnSignal(int signal) {
    DeployRunner* runner = runner_.load();
    signals_ = signals_ + 1;
    if (runner == nullptr || signals_ > 1) {
      std::signal(signal, SIG_DFL);
      std::raise(signal);
      return;
    }
    runner->RequestStop();
    constexpr char kNotice[] =
        "\nwassetup: stopping after the running command (again to end at once)\n";
    const int savedErrno = errno;
    if (::write(STDERR_FILENO, kNotice, sizeof kNotice - 1) < 0) {
      // Nothing to do about it in a signal handler.
    }
    errno = savedErrno;
  }

  static std::atomic<DeployRunner*> runner_;
  static volatile std::sig_atomic_t signals_;
  struct sigaction savedInterrupt_ {};
  struct sigaction savedTerminate_ {};
};

std::atomic<DeployRunner*> StopOnSignal::runner_{nullptr};
volatile std::sig_atomic_t StopOnSignal::signals_ = 0;

// What the operator should know before trusting the plan: a database product the plug-in does
// not know, and (`paths`) folder settings in the other path form. Once per run, on stderr.
void PrintWarnings(Session& session, bool paths) {
  const DryRun looking;
  if (const std::string product = UnknownProductWarning(session); !product.empty()) {
    std::cerr << "wassetup: warning: " << product << '\n';
  }
  if (paths) {
    for (const std::string& warning : MixedPathWarnings(session)) {
      std::cerr << "wassetup: warning: " << warning << '\n';
    }
  }
}

}  // namespace

// The plug-in's messages name fields, never their values: they are printed as they are.
int RunValidate(Session& session, bool json) {
  const DryRun looking;
  PrintWarnings(session, true);
  const Validation result = Validate(session);
  if (json) {
    Json document{{"format_version", kFormatVersion}, {"valid", result.page == nullptr}};
    if (result.page != nullptr) {
      document["page"] = result.page->GetResourceName().str();
      document["title"] = result.title;
      document["text"] = result.text;
    }
    WriteDocument(session, document.dump(2));
  } else if (result.page == nullptr) {
    std::cout << "The settings are valid.\n";
  } else {
    PrintInvalid(result, std::cerr);
  }
  return result.page == nullptr ? kExitSuccess : kExitNegative;
}

int RunPlan(Session& session, bool json) {
  const DryRun looking;
  PrintWarnings(session, true);
  const Plan plan = ComposePlan(session, session.options().showSecrets);
  if (json) {
    WriteDocument(session, PlanDocument(plan).dump(2));
  } else {
    PrintPlan(plan);
  }
  return 0;
}

// Validates, then runs the steps; in --json mode stdout holds only the document, and what the
// commands and the progress print goes to stderr.
int RunDeploy(Session& session, const DeployOptions& options) {
  std::ostream& progress = options.json ? std::cerr : std::cout;
  SystemLauncher launcher(progress, std::cerr);
  PrintWarnings(session, false);
  DeployRunner runner(session, launcher, {options.startAt, session.options().showSecrets});
  LogProgress log(options.logFile);
  TextProgress text(progress, std::cerr);
  JsonReport report;
  std::vector<DeployObserver*> observers{&text, &log};
  if (options.json) {
    observers.push_back(&report);
  }
  DeployObservers all(std::move(observers));
  DeployStatus status;
  {
    const StopOnSignal stop(runner);
    status = runner.Run(all);
  }
  if (options.json) {
    WriteDocument(session, report.document().dump(2));
  }
  return status == DeployStatus::kFinished ? kExitSuccess : kExitNegative;
}

}  // namespace wassetup
