// The plan of a deployment as the plug-in gives it, shared by the command line and the dialog.

#include "core/plan.h"

#include <algorithm>

#include "core/json_document.h"
#include "core/shell_quote.h"

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
  step.command = session.host().Compose(session.plugin(), step.tag);
}

std::vector<std::string> MaskAll(const std::vector<std::string>& texts, const Secrets& secrets) {
  std::vector<std::string> masked;
  for (const std::string& text : texts) {
    masked.push_back(secrets.Mask(text));
  }
  return masked;
}

std::string PrintedLine(const ComposedCommand& command, const Secrets& secrets) {
  if (command.kind == ComposedCommand::Kind::kNone) {
    return "";
  }
  // Most commands hold no secret: their line is the one the host composed already.
  const auto isSecret = [&secrets](const std::string& text) { return secrets.IsSecret(text); };
  if (std::none_of(command.argv.begin(), command.argv.end(), isSecret)) {
    return command.line;
  }
  return ShellJoin(MaskAll(command.argv, secrets));
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

}  // namespace

namespace {

void ReadDataSource(Session& session, const Secrets& secrets, int& count,
                    std::vector<DataSourceSetting>& settings) {
  ZAFJdeWASDataSource* record = nullptr;
  count = 0;
  session.plugin().GetDataSourceSettings(record, count);
  for (const DataSourceField& field : kDataSourceFields) {
    settings.push_back({field.name, record != nullptr ? std::optional<std::string>(secrets.Mask(
                                                            (record->*field.field).str()))
                                                      : std::nullopt});
  }
}

std::vector<JavaVariable> ReadJavaVariables(Session& session) {
  ZAFListValZAFUnicodeString names;
  ZAFListValZAFUnicodeString values;
  session.plugin().GetJavaVariables(names, values);
  std::vector<JavaVariable> variables;
  for (int position = 1; position <= names.Size() && position <= values.Size(); ++position) {
    variables.push_back({names[position].str(), values[position].str()});
  }
  return variables;
}

Json DataSourceJson(int count, const std::vector<DataSourceSetting>& settings) {
  Json document{{"count", count}};
  for (const DataSourceSetting& setting : settings) {
    document[setting.name] = setting.value ? Json(*setting.value) : Json(nullptr);
  }
  return document;
}

Json JavaVariablesJson(const std::vector<JavaVariable>& variables) {
  Json document = Json::array();
  for (const JavaVariable& variable : variables) {
    document.push_back(Json{{"name", variable.name}, {"value", variable.value}});
  }
  return document;
}

}  // namespace

nlohmann::ordered_json DataSourceDocument(Session& session, const Secrets& secrets) {
  int count = 0;
  std::vector<DataSourceSetting> settings;
  ReadDataSource(session, secrets, count, settings);
  return DataSourceJson(count, settings);
}

nlohmann::ordered_json JavaVariablesDocument(Session& session) {
  return JavaVariablesJson(ReadJavaVariables(session));
}

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
  throw ToolError(
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

Plan ComposePlan(Session& session, bool revealSecrets) {
  std::vector<PlanStep> steps = CommandTags(session);
  for (PlanStep& step : steps) {
    ComposeStep(session, step);
  }
  Plan plan{std::move(steps), Secrets(session.form(), revealSecrets), 0, {}, {}};
  ReadDataSource(session, plan.secrets, plan.dataSourceCount, plan.dataSource);
  plan.javaVariables = ReadJavaVariables(session);
  return plan;
}

nlohmann::ordered_json PlanDocument(const Plan& plan) {
  Json tags = Json::array();
  Json commands = Json::array();
  for (const PlanStep& step : plan.steps) {
    tags.push_back(step.tagText);
    commands.push_back(StepDocument(step, plan.secrets));
  }
  return Json{{"format_version", kFormatVersion},
              {"tags", std::move(tags)},
              {"commands", std::move(commands)},
              {"dataSource", DataSourceJson(plan.dataSourceCount, plan.dataSource)},
              {"javaVariables", JavaVariablesJson(plan.javaVariables)}};
}

nlohmann::ordered_json PlanDocument(Session& session, bool revealSecrets) {
  return PlanDocument(ComposePlan(session, revealSecrets));
}

}  // namespace wassetup
