#include "core/setting_fields.h"

#include <map>

#include "core/dry_run.h"
#include "core/plan.h"
#include "host/zaf_host.h"

namespace wassetup {

const char* const kKnownDatabaseProducts[2] = {"IBM DB2", "Oracle"};

namespace {

std::string TitleOrName(const ZAFDialog& widget) {
  return widget.HasTitle() ? widget.GetTitle().str() : widget.GetResourceName().str();
}

// The field of `editor`: the title of the first label in its grid row, and whether a browse
// button sits in that row. One pass over its siblings.
SettingField FieldOf(std::string key, ZAFDlgEditor& editor) {
  SettingField field{std::move(key), &editor, "", false};
  const ZAFDialog* label = nullptr;
  const auto& place = editor.GetGridConstraints();
  if (place && editor.GetParent() != nullptr) {
    for (const ZAFDialog* sibling : editor.GetParent()->GetChildren()) {
      const auto& other = sibling->GetGridConstraints();
      if (sibling == &editor || !other || other->row != place->row) {
        continue;
      }
      if (label == nullptr && dynamic_cast<const ZAFDlgLabel*>(sibling) != nullptr) {
        label = sibling;
      }
      field.isFolder = field.isFolder || dynamic_cast<const ZAFDlgPushButton*>(sibling) != nullptr;
    }
  }
  field.label = label != nullptr ? TitleOrName(*label) : editor.GetResourceName().str();
  return field;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) {
    joined += (joined.empty() ? "" : ", ") + name;
  }
  return joined;
}

// The tags whose command the plug-in composes (not empty) when the host reports `product`.
std::set<std::string> ComposedTags(Session& session, const std::string& product) {
  HostSettings settings = session.host().settings();
  settings.databaseProduct = product;
  SetupHost probe(settings);
  session.plugin().SetHost(&probe);
  std::set<std::string> composed;
  for (const PlanStep& step : CommandTags(session)) {
    ZAFUnicodeString line;
    session.plugin().GetCommandString(step.tag, line);
    if (!line.IsEmpty()) {
      composed.insert(step.tagText);
    }
  }
  session.plugin().SetHost(&session.host());
  return composed;
}

}  // namespace

std::vector<SettingField> SettingFields(Session& session, const EditorFilter& selected) {
  const DryRun dryRun;
  std::map<std::string, ZAFDlgEditor*> byMarker;
  std::vector<std::pair<ZAFDlgEditor*, ZAFUnicodeString>> texts;
  session.form().ForEachDescendantOfType<ZAFDlgEditor>([&](ZAFDlgEditor& editor) {
    if (selected && !selected(editor)) {
      return;
    }
    const std::string marker =
        "\x1e"
        "field-" +
        std::to_string(texts.size()) + "\x1e";
    texts.emplace_back(&editor, editor.GetText());
    byMarker[marker] = &editor;
    editor.SetText(marker.c_str(), 1);
  });
  std::vector<SettingField> fields;
  if (texts.empty()) {
    return fields;
  }
  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;
  session.ReadSettings(keys, values);
  for (const auto& [editor, text] : texts) {
    editor->SetText(text, 1);
  }
  for (int position = 1; position <= keys.Size() && position <= values.Size(); ++position) {
    const auto found = byMarker.find(values[position].str());
    if (found != byMarker.end()) {
      fields.push_back(FieldOf(keys[position].str(), *found->second));
    }
  }
  return fields;
}

std::set<std::string> SecretKeys(Session& session) {
  std::set<std::string> keys;
  for (const SettingField& field : SettingFields(session)) {
    if (field.editor->IsMasked()) {
      keys.insert(field.key);
    }
  }
  return keys;
}

char OtherSeparator() {
  return zaf::GetPathSeparator() == '\\' ? '/' : '\\';
}

bool MayDrawWarning(const ZAFDlgEditor& editor) {
  // GetText returns a copy: keep it named, since `value` refers into it.
  const ZAFUnicodeString text = editor.GetText();
  const std::string& value = text.str();
  return (!value.empty() && value.front() == '-') ||
         value.find(OtherSeparator()) != std::string::npos;
}

std::vector<std::string> MixedPathWarnings(const std::vector<SettingField>& fields) {
  const char separator = zaf::GetPathSeparator();
  const char other = OtherSeparator();
  std::vector<std::string> warnings;
  for (const SettingField& field : fields) {
    const std::string value = field.editor->GetText().Strip(ZAF_STRIP_BOTH, U' ').str();
    if (field.isFolder && !field.editor->IsMasked() && value.find(other) != std::string::npos) {
      warnings.push_back("the setting " + field.key + " (" + field.label + ") is '" + value +
                         "', written with '" + other + "', but the paths are joined with '" +
                         separator + "' (--separator): its commands would mix both forms");
    }
  }
  return warnings;
}

std::string UnknownProductWarning(Session& session) {
  const std::string product = session.host().settings().databaseProduct;
  std::vector<std::string> known;
  for (const char* name : kKnownDatabaseProducts) {
    if (product == name) {
      return "";
    }
    known.emplace_back(name);
  }
  const DryRun dryRun;
  const std::set<std::string> composed = ComposedTags(session, product);
  std::set<std::string> composedByKnown;
  for (const std::string& name : known) {
    const std::set<std::string> tags = ComposedTags(session, name);
    composedByKnown.insert(tags.begin(), tags.end());
  }
  std::vector<std::string> leftOut;
  for (const PlanStep& step : CommandTags(session)) {
    if (composed.count(step.tagText) == 0 && composedByKnown.count(step.tagText) != 0) {
      leftOut.push_back(step.tagText);
    }
  }
  return "--db-product '" + product + "' is not a database product the plug-in knows (" +
         Joined(known) + "): " +
         (leftOut.empty() ? std::string("the plan leaves out no command as the form stands")
                          : "the plan leaves out " + Joined(leftOut)) +
         ", and the data source names no JDBC provider";
}

std::string GreyedOutReason(ZAFDialog& form, ZAFDialog& widget) {
  if (widget.IsUsable()) {
    return "";
  }
  const std::string name = widget.GetResourceName().str();
  for (ZAFDialog* candidate : form.GetDescendants()) {
    auto* button = dynamic_cast<ZAFDlgCheckButton*>(candidate);
    if (button == nullptr || button == &widget || !button->IsUsable()) {
      continue;
    }
    const bool wasChecked = button->IsChecked();
    button->Toggle();
    const bool enables = widget.IsUsable();
    button->Toggle();
    if (enables) {
      return name + " is greyed out; " + (wasChecked ? "unchecking " : "checking ") +
             button->GetResourceName().str() + " ('" + TitleOrName(*button) + "') enables it";
    }
  }
  return name + " is greyed out, and no check button enables it alone";
}

}  // namespace wassetup
