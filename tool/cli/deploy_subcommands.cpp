// The commands of the deployment: validate, plan and deploy.

#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <iostream>

#include <nlohmann/json.hpp>

#include "cli/subcommands.h"
#include "core/file_checks.h"
#include "core/plan.h"
#include "core/process.h"
#include "core/secrets.h"
#include "core/shell_quote.h"

namespace wassetup {

namespace {

using Json = nlohmann::ordered_json;

// The first field the plug-in found wrong, on stderr: its title with the page, then its text.
void PrintInvalid(const Validation& result, const Secrets& secrets) {
  std::cerr << secrets.MaskWithin(result.title) << " (page " << result.page->GetTitle() << ")\n"
            << secrets.MaskWithin(result.text) << '\n';
}

void PrintPlan(const Json& plan) {
  const Json& commands = plan["commands"];
  std::cout << "Commands (" << commands.size() << "):\n";
  std::size_t number = 0;
  for (const Json& command : commands) {
    const std::string line = command["line"];
    std::cout << "  " << ++number << ". " << command["tag"].get<std::string>() << ": "
              << (line.empty() ? "(nothing to run)" : line) << '\n';
  }
  const Json& dataSource = plan["dataSource"];
  std::cout << "Data source (count " << dataSource["count"].get<int>() << "):\n";
  for (const auto& [name, value] : dataSource.items()) {
    if (name != "count") {
      std::cout << "  " << name << ": " << (value.is_string() ? value.get<std::string>() : "")
                << '\n';
    }
  }
  std::cout << "Java variables:\n";
  for (const Json& variable : plan["javaVariables"]) {
    std::cout << "  " << variable["name"].get<std::string>() << '='
              << variable["value"].get<std::string>() << '\n';
  }
}

// Appends dated lines to the --log file, when one is given, with the secrets masked. A new
// log is made readable by its owner only.
class DeployLog {
 public:
  DeployLog(const std::string& file, const Secrets& secrets) : secrets_(secrets) {
    if (file.empty()) {
      return;
    }
    RequireWritableFile(file, "--log");
    const int descriptor = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (descriptor >= 0) {
      ::close(descriptor);
      out_.open(file, std::ios::app);
    }
    if (!out_) {
      throw UsageError("--log: cannot write '" + file + "'");
    }
  }

  void Line(const std::string& text) {
    if (!out_.is_open()) {
      return;
    }
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", std::localtime(&now));
    out_ << stamp << ' ' << secrets_.MaskWithin(text) << std::endl;
  }

 private:
  const Secrets& secrets_;
  std::ofstream out_;
};

}  // namespace

namespace {

void ReportFailure(Session& session, const PlanStep& step, const ProcessResult& result,
                   const Secrets& secrets, DeployLog& log) {
  const std::string detail = secrets.MaskWithin(FailureDetail(result));
  ZAFUnicodeString title;
  ZAFUnicodeString text;
  session.plugin().GetCommandErrorMessage(step.tag, result.exitStatus, detail, title, text);
  if (title.IsEmpty() && text.IsEmpty()) {
    std::cerr << "wassetup: the command " << step.tagText << " failed: " << detail << '\n';
  } else {
    std::cerr << secrets.MaskWithin(title.str()) << '\n' << secrets.MaskWithin(text.str()) << '\n';
  }
  std::cerr << "wassetup: after fixing the cause, resume with: wassetup deploy --start-at "
            << step.tagText << '\n';
  log.Line(step.tagText + " failed: " + detail);
}

}  // namespace

int RunValidate(Session& session, bool json) {
  const Validation result = Validate(session);
  const Secrets secrets(session.form(), session.options().showSecrets);
  if (json) {
    Json document{{"format_version", "1.0"}, {"valid", result.page == nullptr}};
    if (result.page != nullptr) {
      document["page"] = result.page->GetResourceName().str();
      document["title"] = secrets.MaskWithin(result.title);
      document["text"] = secrets.MaskWithin(result.text);
    }
    WriteDocument(session, document.dump(2));
  } else if (result.page == nullptr) {
    std::cout << "The settings are valid.\n";
  } else {
    PrintInvalid(result, secrets);
  }
  return result.page == nullptr ? 0 : 1;
}

int RunPlan(Session& session, bool json) {
  const Json plan = PlanDocument(session, session.options().showSecrets);
  if (json) {
    WriteDocument(session, plan.dump(2));
  } else {
    PrintPlan(plan);
  }
  return 0;
}

int RunDeploy(Session& session, const DeployOptions& options) {
  std::vector<PlanStep> steps = CommandTags(session);
  const std::size_t first = StartIndex(steps, options.startAt);
  const Secrets secrets(session.form(), session.options().showSecrets);
  DeployLog log(options.logFile, secrets);
  const Validation validation = Validate(session);
  if (validation.page != nullptr) {
    PrintInvalid(validation, secrets);
    std::cerr << "wassetup: nothing was run.\n";
    return 1;
  }
  const LineFilter mask = [&secrets](const std::string& line) { return secrets.MaskWithin(line); };
  const std::string total = std::to_string(steps.size());
  log.Line("deploy: " + total + " commands, starting at " + std::to_string(first + 1));
  for (std::size_t index = first; index < steps.size(); ++index) {
    PlanStep& step = steps[index];
    const std::string progress =
        "[" + std::to_string(index + 1) + "/" + total + "] " + step.tagText;
    ComposeStep(session, step);
    if (step.command.kind == ComposedCommand::Kind::kNone) {
      std::cout << progress << " skipped (nothing to run)" << std::endl;
      log.Line(step.tagText + " skipped");
      continue;
    }
    const std::string line = PrintedLine(step.command, secrets);
    std::cout << progress << " ...\n  $ " << line << std::endl;
    log.Line(step.tagText + ": " + line);
    const ProcessResult result = RunProcess(step.command.argv, mask);
    if (!result.started || result.exitStatus != 0) {
      ReportFailure(session, step, result, secrets, log);
      return 1;
    }
    log.Line(step.tagText + " done");
  }
  std::cout << "Deployment finished: " << (steps.size() - first) << " of " << total
            << " commands run from " << (first < steps.size() ? steps[first].tagText : "-")
            << ".\n";
  log.Line("deploy finished");
  return 0;
}

}  // namespace wassetup
