#include "core/plan.h"

#include <iterator>

#include "core/safe_text.h"
#include "core/secrets.h"
#include "host/platform/shell_quote.h"

namespace wassetup {

const char* StepStateName(StepState state) {
  static constexpr const char* kNames[] = {"pending", "running", "done", "failed", "skipped"};
  return kNames[static_cast<int>(state)];
}

Validation Validate(Session& session) {
  Validation result;
  ZAFUnicodeString title;
  ZAFUnicodeString text;
  session.plugin().ValidateUserInputData(result.page, title, text);
  result.title = title.str();
  result.text = text.str();
  return result;
}

std::vector<Step> CommandTags(Session& session) {
  ZAFRawCollPV tags;
  session.plugin().GetCommandTags(tags);
  std::vector<Step> steps;
  steps.reserve(static_cast<std::size_t>(tags.Size()));
  for (int position = 1; position <= tags.Size(); ++position) {
    Step step;
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
// host composed already, and without markers nothing is looked at.
ComposedCommand Masked(ComposedCommand command, const SecretMarkers& markers) {
  if (!markers.Any()) {
    return command;
  }
  bool masked = false;
  for (std::string* text : {&command.script, &command.className}) {
    *text = markers.Mask(std::move(*text));
  }
  for (std::vector<std::string>* texts : {&command.options, &command.arguments, &command.argv}) {
    for (std::string& text : *texts) {
      std::string shown = markers.Mask(text);
      masked = masked || (texts == &command.argv && shown != text);
      text = std::move(shown);
    }
  }
  if (masked) {
    command.line = zaf::platform::ShellCommandLine(command.argv);
  }
  return command;
}

// PreviewStep with markers that are in place already: a whole plan sets them once. The changes
// recorded before belong to something else.
void PreviewWith(Session& session, Step& step, const SecretMarkers& markers) {
  zaf::TakeRecordedChanges();
  step.shown = Masked(session.host().Compose(session.plugin(), step.tag), markers);
  step.fileChanges = zaf::TakeRecordedChanges();
  step.composed = true;
}

}  // namespace

void PreviewStep(Session& session, Step& step, bool reveal) {
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

namespace {

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

// The record is read while the secret fields hold markers: its password is masked because it
// comes from the password field.
DataSource ReadDataSource(Session& session, const SecretMarkers& markers) {
  ZAFJdeWASDataSource* record = nullptr;
  DataSource dataSource;
  session.plugin().GetDataSourceSettings(record, dataSource.count);
  dataSource.settings.reserve(std::size(kDataSourceFields));
  for (const DataSourceField& field : kDataSourceFields) {
    dataSource.settings.push_back(
        {field.name, record != nullptr
                         ? std::optional<std::string>(markers.Mask((record->*field.field).str()))
                         : std::nullopt});
  }
  return dataSource;
}

}  // namespace

DataSource ReadDataSource(Session& session, bool reveal) {
  const SecretMarkers markers(session.model().secretEditors(), reveal);
  return ReadDataSource(session, markers);
}

std::vector<JavaVariable> ReadJavaVariables(Session& session) {
  ZAFListValZAFUnicodeString names;
  ZAFListValZAFUnicodeString values;
  session.plugin().GetJavaVariables(names, values);
  std::vector<JavaVariable> variables;
  for (int position = 1; position <= names.Size() && position <= values.Size(); ++position) {
    variables.push_back({names[position].str(), values[position].str(), ""});
  }
  return variables;
}

std::size_t StartIndex(const std::vector<Step>& steps, const std::string& startAt) {
  if (startAt.empty()) {
    return 0;
  }
  std::vector<std::string> tags;
  for (std::size_t index = 0; index < steps.size(); ++index) {
    if (steps[index].tagText == startAt) {
      return index;
    }
    tags.push_back(steps[index].tagText);
  }
  throw ToolError("--start-at: '" + startAt + "' is not a command of the plan" +
                  (tags.empty() ? std::string(" (the plan is empty)")
                                : "; the commands are: " + JoinedNames(tags)));
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
  std::vector<Step> steps = CommandTags(session);
  for (Step& step : steps) {
    PreviewWith(session, step, markers);
  }
  DataSource dataSource = ReadDataSource(session, markers);
  return Plan{std::move(steps), std::move(dataSource), ReadJavaVariables(session)};
}

}  // namespace wassetup
