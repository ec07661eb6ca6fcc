// The plan of a deployment as the plug-in gives it, shared by the command line and the dialog.

#include "core/plan.h"

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

}  // namespace

nlohmann::ordered_json DataSourceDocument(Session& session, const Secrets& secrets) {
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

nlohmann::ordered_json JavaVariablesDocument(Session& session) {
  ZAFListValZAFUnicodeString names;
  ZAFListValZAFUnicodeString values;
  session.plugin().GetJavaVariables(names, values);
  Json variables = Json::array();
  for (int position = 1; position <= names.Size() && position <= values.Size(); ++position) {
    variables.push_back(Json{{"name", names[position].str()}, {"value", values[position].str()}});
  }
  return variables;
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
  return Json{{"format_version", kFormatVersion},
              {"tags", std::move(tags)},
              {"commands", std::move(commands)},
              {"dataSource", DataSourceDocument(session, secrets)},
              {"javaVariables", JavaVariablesDocument(session)}};
}

}  // namespace wassetup
