// The commands of the deployment: validate, plan and deploy.

#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <iostream>

#include <nlohmann/json.hpp>

#include "tool/commands.h"
#include "tool/file_checks.h"
#include "tool/plan.h"
#include "tool/process.h"
#include "tool/secrets.h"
#include "tool/shell_quote.h"

namespace wassetup {

namespace {

using Json = nlohmann::ordered_json;

}  // namespace

Validation Validate(Session& session) {
  Validation result;
  ZAFUnicodeString title;
  ZAFUnicodeString text;
  session.plugin().ValidateUserInputData(result.page, title, text);
  result.title = title.str();
  result.text = text.str();
  return result;
}

namespace {

// The first field the plug-in found wrong, on stderr: its title with the page, then its text.
void PrintInvalid(const Validation& result, const Secrets& secrets) {
  std::cerr << secrets.MaskWithin(result.title) << " (page " << result.page->GetTitle() << ")\n"
            << secrets.MaskWithin(result.text) << '\n';
}

}  // namespace

std::vector<PlanStep> CommandTags(Session& session) {
  ZAFRawCollPV tags;
  session.plugin().GetCommandTags(tags);
  std::vector<PlanStep> steps;
  for (int position = 1; position <= tags.Size(); ++position) {
    PlanStep step;
    step.tag = tags[position];
    step.tagText = static_cast<const char*>(step.tag);
    steps.push_back(std::move(step));
  }
  return steps;
}

void ComposeStep(Session& session, PlanStep& step) {
  session.host().TakeLastCommand();
  ZAFUnicodeString line;
  session.plugin().GetCommandString(step.tag, line);
  step.command = line.IsEmpty() ? ComposedCommand() : session.host().TakeLastCommand();
}

namespace {

std::vector<std::string> MaskAll(const std::vector<std::string>& texts, const Secrets& secrets) {
  std::vector<std::string> masked;
  for (const std::string& text : texts) {
    masked.push_back(secrets.Mask(text));
  }
  return masked;
}

}  // namespace

std::string PrintedLine(const ComposedCommand& command, const Secrets& secrets) {
  return command.kind == ComposedCommand::Kind::kNone ? ""
                                                      : ShellJoin(MaskAll(command.argv, secrets));
}

namespace {

const char* KindName(ComposedCommand::Kind kind) {
  switch (kind) {
    case ComposedCommand::Kind::kJava:
      return "java";
    case ComposedCommand::Kind::kScript:
      return "script";
    case ComposedCommand::Kind::kNone:
      break;
  }
  return "none";
}

Json StepDocument(const PlanStep& step, const Secrets& secrets) {
  const ComposedCommand& command = step.command;
  Json document{{"tag", step.tagText}, {"kind", KindName(command.kind)}};
  if (command.kind == ComposedCommand::Kind::kScript) {
    document["script"] = command.script;
  }
  if (command.kind == ComposedCommand::Kind::kJava) {
    document["options"] = MaskAll(command.options, secrets);
    document["class"] = command.className;
  }
  document["arguments"] = MaskAll(command.arguments, secrets);
  document["line"] = PrintedLine(command, secrets);
  return document;
}

struct DataSourceField {
  const char* name;
  ZAFUnicodeString ZAFJdeWASDataSource::*field;
};

constexpr DataSourceField kDataSourceFields[] = {
    {"Host", &ZAFJdeWASDataSource::Host},
    {"Port", &ZAFJdeWASDataSource::Port},
    {"DatabaseName", &ZAFJdeWASDataSource::DatabaseName},
    {"User", &ZAFJdeWASDataSource::User},
    {"Password", &ZAFJdeWASDataSource::Password},
    {"JndiName", &ZAFJdeWASDataSource::JndiName},
    {"JdbcProvider", &ZAFJdeWASDataSource::JdbcProvider},
};

Json DataSourceDocument(Session& session, const Secrets& secrets) {
  ZAFJdeWASDataSource* record = nullptr;
  int count = 0;
  session.plugin().GetDataSourceSettings(record, count);
  Json document{{"count", count}};
  for (const DataSourceField& field : kDataSourceFields) {
    document[field.name] =
        record != nullptr ? Json(secrets.Mask((record->*field.field).str())) : Json(nullptr);
  }
  return document;
}

Json JavaVariablesDocument(Session& session) {
  ZAFListValZAFUnicodeString names;
  ZAFListValZAFUnicodeString values;
  session.plugin().GetJavaVariables(names, values);
  Json variables = Json::array();
  for (int position = 1; position <= names.Size() && position <= values.Size(); ++position) {
    variables.push_back(Json{{"name", names[position].str()}, {"value", values[position].str()}});
  }
  return variables;
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
  for (const DataSourceField& field : kDataSourceFields) {
    const Json& value = dataSource[field.name];
    std::cout << "  " << field.name << ": " << (value.is_string() ? value.get<std::string>() : "")
              << '\n';
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

std::size_t StartIndex(const std::vector<PlanStep>& steps, const std::string& startAt) {
  if (startAt.empty()) {
    return 0;
  }
  std::string tags;
  for (std::size_t index = 0; index < steps.size(); ++index) {
    if (steps[index].tagText == startAt) {
      return index;
    }
    tags += (tags.empty() ? "" : ", ") + steps[index].tagText;
  }
  throw UsageError(
      "--start-at: '" + startAt + "' is not a command of the plan" +
      (tags.empty() ? std::string(" (the plan is empty)") : "; the commands are: " + tags));
}

std::string FailureDetail(const ProcessResult& result) {
  if (!result.started) {
    return "cannot start: " + result.startError;
  }
  std::string detail = "exit status " + std::to_string(result.exitStatus);
  return result.lastErrorLine.empty() ? detail : detail + ": " + result.lastErrorLine;
}

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

nlohmann::ordered_json PlanDocument(Session& session, bool revealSecrets) {
  std::vector<PlanStep> steps = CommandTags(session);
  Json tags = Json::array();
  for (PlanStep& step : steps) {
    ComposeStep(session, step);
    tags.push_back(step.tagText);
  }
  const Secrets secrets(session.form(), revealSecrets);
  Json commands = Json::array();
  for (const PlanStep& step : steps) {
    commands.push_back(StepDocument(step, secrets));
  }
  return Json{{"format_version", "1.0"},
              {"tags", std::move(tags)},
              {"commands", std::move(commands)},
              {"dataSource", DataSourceDocument(session, secrets)},
              {"javaVariables", JavaVariablesDocument(session)}};
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
