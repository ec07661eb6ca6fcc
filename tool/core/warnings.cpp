#include "core/warnings.h"

#include <algorithm>

#include "core/safe_text.h"

namespace wassetup {

namespace {

struct OptionLikeSetting {
  FormField field;
  std::string value;
};

// The path separator that the joins do not use: of '/' and '\', the one --separator is not.
char OtherSeparator() {
  return zaf::GetPathSeparator() == '\\' ? '/' : '\\';
}

std::vector<std::string> MixedPathWarnings(const std::vector<FormField>& fields) {
  const char separator = zaf::GetPathSeparator();
  const char other = OtherSeparator();
  std::vector<std::string> warnings;
  for (const FormField& field : fields) {
    if (!field.isFolder || field.secret) {
      continue;
    }
    const std::string value = field.editor->GetText().Strip(ZAF_STRIP_BOTH, U' ').str();
    if (value.find(other) != std::string::npos) {
      warnings.push_back("the setting " + field.key + " (" + field.label + ") is '" + value +
                         "', written with '" + other + "', but the paths are joined with '" +
                         separator + "' (--separator): its commands would mix both forms");
    }
  }
  return warnings;
}

// Whether `value` begins with '-', blanks aside: the plug-in strips the blanks of what it is
// handed before the value reaches a command.
bool OptionLike(const std::string& value) {
  const std::size_t first = value.find_first_not_of(' ');
  return first != std::string::npos && value[first] == '-';
}

// Whether a browse button sits in the grid row of `editor`: it holds a folder.
bool InFolderRow(const ZAFDlgEditor& editor) {
  const auto& place = editor.GetGridConstraints();
  if (!place || editor.GetParent() == nullptr) {
    return false;
  }
  for (const ZAFDialog* sibling : editor.GetParent()->GetChildren()) {
    const auto& other = sibling->GetGridConstraints();
    if (other && other->row == place->row &&
        dynamic_cast<const ZAFDlgPushButton*>(sibling) != nullptr) {
      return true;
    }
  }
  return false;
}

// Whether an editor holds what a warning is about: a value that begins with '-', or a folder
// (not a password) written with the separator the joins do not use. Only then are the form's
// fields asked for.
// The widgets are walked as they hang in the tree: the answer does not depend on their order.
bool AnyEditorMayDrawWarning(const ZAFDialog& widget) {
  for (const ZAFDialog* child : widget.GetChildren()) {
    if (const auto* editor = dynamic_cast<const ZAFDlgEditor*>(child)) {
      const std::string& text = editor->GetText().str();
      if (OptionLike(text) || (text.find(OtherSeparator()) != std::string::npos &&
                               !editor->IsMasked() && InFolderRow(*editor))) {
        return true;
      }
    }
    if (AnyEditorMayDrawWarning(*child)) {
      return true;
    }
  }
  return false;
}

// The settings of `fields` whose value begins with '-'.
std::vector<OptionLikeSetting> OptionLikeSettings(const std::vector<FormField>& fields) {
  std::vector<OptionLikeSetting> found;
  for (const FormField& field : fields) {
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
           (source->field.secret ? "" : " ('" + source->value + "')");
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
    if (setting.field.secret) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<std::string> UnknownProductWarnings(const FormModel& model) {
  const std::optional<UnknownProduct>& unknown = model.unknownProduct();
  if (!unknown) {
    return {};
  }
  return {"--db-product '" + unknown->product + "' is not a database product the plug-in knows (" +
          JoinedNames(unknown->known) + "): " +
          (unknown->leftOut.empty()
               ? std::string("the plan leaves out no command as the form stands")
               : "the plan leaves out " + JoinedNames(unknown->leftOut)) +
          ", and the data source names no JDBC provider"};
}

std::vector<std::string> SettingWarnings(Session& session, const std::vector<Step>* preview) {
  const bool may = AnyEditorMayDrawWarning(session.form());
  const std::vector<FormField> none;
  const std::vector<FormField>& fields = may ? session.model().fields() : none;
  std::vector<std::string> warnings = MixedPathWarnings(fields);
  const std::vector<OptionLikeSetting> settings = OptionLikeSettings(fields);
  if (preview != nullptr && !AnyMasked(settings)) {
    for (const Step& step : *preview) {
      WarnOfOptionLikeArguments(step.tagText, step.shown, settings, warnings);
    }
    return warnings;
  }
  const bool anyOptionLike = std::any_of(fields.begin(), fields.end(), [](const FormField& field) {
    return OptionLike(field.editor->GetText().str());
  });
  if (!anyOptionLike) {
    return warnings;
  }
  for (const Step& step : CommandTags(session)) {
    WarnOfOptionLikeArguments(step.tagText, session.host().Compose(session.plugin(), step.tag),
                              settings, warnings);
  }
  zaf::TakeRecordedChanges();
  return warnings;
}

}  // namespace wassetup
