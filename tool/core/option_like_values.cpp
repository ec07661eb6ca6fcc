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

// The settings whose value begins with '-'.
std::vector<OptionLikeSetting> OptionLikeSettings(Session& session) {
  std::vector<OptionLikeSetting> found;
  for (const SettingField& field : SettingFields(session)) {
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

std::string Warning(const OptionLikeSetting* source, const PlanStep& step) {
  std::string what = "an argument";
  if (source != nullptr) {
    what = "the value of " + source->field.key +
           (source->field.editor->IsMasked() ? "" : " ('" + source->value + "')");
  }
  return what + " begins with '-' and is passed to the script " + step.command.script + " (step " +
         step.tagText + ") as an argument, which it may take for an option";
}

}  // namespace

std::vector<std::string> OptionLikeArgumentWarnings(Session& session) {
  const std::vector<OptionLikeSetting> settings = OptionLikeSettings(session);
  const DryRun looking;
  std::vector<std::string> warnings;
  for (PlanStep& step : CommandTags(session)) {
    ComposeStep(session, step);
    if (step.command.kind != ComposedCommand::Kind::kScript) {
      continue;
    }
    for (const std::string& argument : step.command.arguments) {
      if (!argument.empty() && argument.front() == '-') {
        warnings.push_back(Warning(SourceOf(argument, settings), step));
      }
    }
  }
  return warnings;
}

}  // namespace wassetup
