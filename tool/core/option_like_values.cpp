#include "core/option_like_values.h"

#include "core/dry_run.h"
#include "core/plan.h"
#include "core/setting_fields.h"

namespace wassetup {

namespace {

struct OptionLikeSetting {
  SettingField field;
  std::string value;
};

// The settings of `fields` whose value begins with '-'.
std::vector<OptionLikeSetting> OptionLikeSettings(const std::vector<SettingField>& fields) {
  std::vector<OptionLikeSetting> found;
  for (const SettingField& field : fields) {
    const std::string value = field.editor->GetText().str();
    if (!value.empty() && value.front() == '-') {
      found.push_back({field, value});
    }
  }
  return found;
}

// The setting whose value starts `argument` (a folder setting may be joined with more), the
// longest such value when several do; none when the argument comes from elsewhere.
const OptionLikeSetting* SourceOf(const std::string& argument,
                                  const std::vector<OptionLikeSetting>& settings) {
  const OptionLikeSetting* source = nullptr;
  for (const OptionLikeSetting& setting : settings) {
    if (argument.compare(0, setting.value.size(), setting.value) == 0 &&
        (source == nullptr || setting.value.size() > source->value.size())) {
      source = &setting;
    }
  }
  return source;
}

std::string Warning(const OptionLikeSetting* source, const std::string& tagText,
                    const ComposedCommand& command) {
  std::string what = "an argument";
  if (source != nullptr) {
    what = "the value of " + source->field.key +
           (source->field.editor->IsMasked() ? "" : " ('" + source->value + "')");
  }
  return what + " begins with '-' and is passed to the script " + command.script + " (step " +
         tagText + ") as an argument, which it may take for an option";
}

void WarnOfOptionLikeArguments(const std::string& tagText, const ComposedCommand& command,
                               const std::vector<OptionLikeSetting>& settings,
                               std::vector<std::string>& warnings) {
  if (command.kind != ComposedCommand::Kind::kScript) {
    return;
  }
  for (const std::string& argument : command.arguments) {
    if (!argument.empty() && argument.front() == '-') {
      warnings.push_back(Warning(SourceOf(argument, settings), tagText, command));
    }
  }
}

// A masked value shows as ******** in a preview: its arguments must be composed again.
bool AnyMasked(const std::vector<OptionLikeSetting>& settings) {
  for (const OptionLikeSetting& setting : settings) {
    if (setting.field.editor->IsMasked()) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<std::string> OptionLikeArgumentWarnings(Session& session,
                                                    const std::vector<SettingField>& fields,
                                                    const std::vector<PlanStep>* preview) {
  const std::vector<OptionLikeSetting> settings = OptionLikeSettings(fields);
  std::vector<std::string> warnings;
  if (preview != nullptr && !AnyMasked(settings)) {
    for (const PlanStep& step : *preview) {
      WarnOfOptionLikeArguments(step.tagText, step.shown, settings, warnings);
    }
    return warnings;
  }
  const DryRun looking;
  for (PlanStep& step : CommandTags(session)) {
    ComposeStep(session, step);
    WarnOfOptionLikeArguments(step.tagText, step.command, settings, warnings);
  }
  return warnings;
}

}  // namespace wassetup
