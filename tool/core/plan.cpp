// The plan of a deployment as the plug-in gives it, shared by the command line and the dialog.

#include "core/plan.h"

#include "core/json_document.h"
#include "core/secrets.h"
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

namespace {

// The name after the last separator of either form: the host joins with the one it is given.
std::string BaseName(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// `longer` is `shorter` followed by an ending such as ".bak" or ".deprecated".
bool HasEnding(const std::string& longer, const std::string& shorter) {
  return longer.size() > shorter.size() + 1 && longer.compare(0, shorter.size(), shorter) == 0 &&
         longer[shorter.size()] == '.';
}

// The command with every marker masked. Most commands hold no secret: they keep the line the
// host composed already.
ComposedCommand Masked(ComposedCommand command, const SecretMarkers& markers) {
  const std::vector<std::string> argv = command.argv;
  command.script = markers.Mask(std::move(command.script));
  command.options = markers.Mask(std::move(command.options));
  command.className = markers.Mask(std::move(command.className));
  command.arguments = markers.Mask(std::move(command.arguments));
  command.argv = markers.Mask(std::move(command.argv));
  if (command.argv != argv) {
    command.line = ShellJoin(command.argv);
  }
  return command;
}

// PreviewStep with markers that are in place already: a whole plan sets them once. The changes
// recorded before belong to something else.
void PreviewWith(Session& session, PlanStep& step, const SecretMarkers& markers) {
  zaf::TakeRecordedChanges();
  step.shown = Masked(session.host().Compose(session.plugin(), step.tag), markers);
  step.fileChanges = zaf::TakeRecordedChanges();
}

}  // namespace

void PreviewStep(Session& session, PlanStep& step, bool reveal) {
  const SecretMarkers markers(session.model().secretEditors(), reveal);
  PreviewWith(session, step, markers);
}

const char* ChangeAction(const zaf::FileChange& change) {
  if (change.kind == zaf::FileChange::Kind::kStorePreferences) {
    return "store-settings";
  }
  if (HasEnding(change.from, change.to)) {
    return "restore";
  }
  return HasEnding(change.to, change.from) ? "back-up" : "copy";
}

std::string DescribeChange(const zaf::FileChange& change) {
  const std::string action = ChangeAction(change);
  if (action == "store-settings") {
    return "stores the settings in " + change.to;
  }
  if (action == "restore") {
    return "restores " + change.to + " from " + BaseName(change.from);
  }
  if (action == "back-up") {
    return "backs up " + change.from + " to " + BaseName(change.to);
  }
  return "copies " + change.from + " to " + change.to;
}

std::string PrintedLine(const ComposedCommand& command) {
  return command.kind == ComposedCommand::Kind::kNone ? "" : command.line;
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

Json ChangesDocument(const std::vector<zaf::FileChange>& changes) {
  Json documents = Json::array();
  for (const zaf::FileChange& change : changes) {
    documents.push_back(Json{{"action", ChangeAction(change)},
                             {"from", change.from.empty() ? Json(nullptr) : Json(change.from)},
                             {"to", change.to},
                             {"text", DescribeChange(change)}});
  }
  return documents;
}

Json StepDocument(const PlanStep& step) {
  const ComposedCommand& command = step.shown;
  Json document{{"tag", step.tagText}, {"kind", KindName(command.kind)}};
  if (command.kind == ComposedCommand::Kind::kScript) {
    document["script"] = command.script;
  }
  if (command.kind == ComposedCommand::Kind::kJava) {
    document["options"] = command.options;
    document["class"] = command.className;
  }
  document["arguments"] = command.arguments;
  document["line"] = PrintedLine(command);
  document["file_changes"] = ChangesDocument(step.fileChanges);
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

// The record is read while the secret fields hold markers: its password is masked because it
// comes from the password field.
void ReadDataSource(Session& session, const SecretMarkers& markers, int& count,
                    std::vector<DataSourceSetting>& settings) {
  ZAFJdeWASDataSource* record = nullptr;
  count = 0;
  session.plugin().GetDataSourceSettings(record, count);
  for (const DataSourceField& field : kDataSourceFields) {
    settings.push_back({field.name, record != nullptr ? std::optional<std::string>(markers.Mask(
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

nlohmann::ordered_json DataSourceDocument(Session& session, bool reveal) {
  int count = 0;
  std::vector<DataSourceSetting> settings;
  const SecretMarkers markers(session.model().secretEditors(), reveal);
  ReadDataSource(session, markers, count, settings);
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
  std::string detail = result.endingSignal != 0
                           ? "killed by signal " + SignalName(result.endingSignal)
                           : "exit status " + std::to_string(result.exitStatus);
  return result.lastErrorLine.empty() ? detail : detail + ": " + result.lastErrorLine;
}

Plan ComposePlan(Session& session, bool revealSecrets) {
  const SecretMarkers markers(session.model().secretEditors(), revealSecrets);
  std::vector<PlanStep> steps = CommandTags(session);
  for (PlanStep& step : steps) {
    PreviewWith(session, step, markers);
  }
  Plan plan{std::move(steps), 0, {}, {}};
  ReadDataSource(session, markers, plan.dataSourceCount, plan.dataSource);
  plan.javaVariables = ReadJavaVariables(session);
  return plan;
}

nlohmann::ordered_json PlanDocument(const Plan& plan) {
  Json tags = Json::array();
  Json commands = Json::array();
  for (const PlanStep& step : plan.steps) {
    tags.push_back(step.tagText);
    commands.push_back(StepDocument(step));
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
