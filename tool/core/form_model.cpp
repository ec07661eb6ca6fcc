#include "core/form_model.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>

#include "core/plan.h"
#include "core/safe_text.h"
#include "core/secrets.h"
#include "core/session.h"

namespace wassetup {

namespace {

// The database products the plug-in knows.
constexpr const char* kKnownDatabaseProducts[] = {"IBM DB2", "Oracle"};

std::string TitleOrName(const ZAFDialog& widget) {
  return widget.HasTitle() ? widget.GetTitle().str() : widget.GetResourceName().str();
}

// What a grid row of a container holds besides its editor: the first label, and whether a
// browse button sits in it.
struct RowParts {
  const ZAFDialog* label = nullptr;
  bool browse = false;
};

// The parts of each row of `parent`, in one pass over its children.
std::map<std::uint16_t, RowParts> RowsOf(const ZAFDialog& parent) {
  std::map<std::uint16_t, RowParts> rows;
  for (const ZAFDialog* child : parent.GetChildren()) {
    const auto& place = child->GetGridConstraints();
    if (!place) {
      continue;
    }
    RowParts& row = rows[place->row];
    if (row.label == nullptr && dynamic_cast<const ZAFDlgLabel*>(child) != nullptr) {
      row.label = child;
    } else if (!row.browse && dynamic_cast<const ZAFDlgPushButton*>(child) != nullptr) {
      row.browse = true;
    }
  }
  return rows;
}

// The field of `editor`: the title of the first label in its grid row (else the editor's name),
// and whether a browse button sits in that row.
FormField FieldOf(std::string key, ZAFDlgEditor& editor,
                  std::map<const ZAFDialog*, std::map<std::uint16_t, RowParts>>& rowsByParent) {
  FormField field{std::move(key), &editor, editor.GetResourceName().str(), false,
                  editor.IsMasked()};
  const auto& place = editor.GetGridConstraints();
  const ZAFDialog* parent = editor.GetParent();
  if (!place || parent == nullptr) {
    return field;
  }
  auto known = rowsByParent.find(parent);
  if (known == rowsByParent.end()) {
    known = rowsByParent.emplace(parent, RowsOf(*parent)).first;
  }
  const RowParts& row = known->second[place->row];
  field.isFolder = row.browse;
  if (row.label != nullptr) {
    field.label = TitleOrName(*row.label);
  }
  return field;
}

// The tags whose command the plug-in composes (not empty) when the host reports `product`.
std::set<std::string> ComposedTags(Session& session, const std::string& product) {
  HostSettings settings = session.host().settings();
  settings.databaseProduct = product;
  SetupHost probe(settings);
  session.plugin().SetHost(&probe);
  std::set<std::string> composed;
  for (const Step& step : CommandTags(session)) {
    ZAFUnicodeString line;
    session.plugin().GetCommandString(step.tag, line);
    if (!line.IsEmpty()) {
      composed.insert(step.tagText);
    }
  }
  session.plugin().SetHost(&session.host());
  return composed;
}

// The commands the plan leaves out with an unknown product that a known one composes; nothing
// when the product is known. The commands are composed in the session's record, changing no file.
std::optional<UnknownProduct> LearnUnknownProduct(Session& session) {
  UnknownProduct unknown{session.host().settings().databaseProduct, {}, {}};
  for (const char* name : kKnownDatabaseProducts) {
    if (unknown.product == name) {
      return std::nullopt;
    }
    unknown.known.emplace_back(name);
  }
  const std::set<std::string> composed = ComposedTags(session, unknown.product);
  std::set<std::string> composedByKnown;
  for (const std::string& name : unknown.known) {
    const std::set<std::string> tags = ComposedTags(session, name);
    composedByKnown.insert(tags.begin(), tags.end());
  }
  for (const Step& step : CommandTags(session)) {
    if (composed.count(step.tagText) == 0 && composedByKnown.count(step.tagText) != 0) {
      unknown.leftOut.push_back(step.tagText);
    }
  }
  zaf::TakeRecordedChanges();
  return unknown;
}

}  // namespace

FormModel::FormModel(Session& session, SettingPairs settings)
    : session_(session),
      settings_(std::move(settings)),
      secretEditors_(MaskedEditors(session.form())),
      unknownProduct_(LearnUnknownProduct(session)) {}

const std::vector<FormField>& FormModel::fields() const {
  if (!fields_) {
    LearnFields();
  }
  return *fields_;
}

// The plug-in is handed a marker of its own for every setting and puts each where that setting
// goes; the editor holding a marker carries that setting. The editors' texts and the check
// buttons' states are put back as they were, without a notification.
void FormModel::LearnFields() const {
  Session& session = session_;
  const SettingPairs& settings = settings_;
  std::vector<std::pair<ZAFDlgEditor*, ZAFUnicodeString>> texts;
  std::vector<std::pair<ZAFDlgCheckButton*, std::uint32_t>> states;
  session.form().ForEachDescendant([&](ZAFDialog& widget) {
    if (auto* editor = dynamic_cast<ZAFDlgEditor*>(&widget)) {
      texts.emplace_back(editor, editor->GetText());
    } else if (auto* button = dynamic_cast<ZAFDlgCheckButton*>(&widget)) {
      states.emplace_back(button, button->GetState());
    }
  });
  const Markers markers(settings.size());
  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;
  for (std::size_t index = 0; index < settings.size(); ++index) {
    keys.Append(settings[index].first);
    values.Append(markers[index]);
  }
  session.plugin().SetUserInterfaceFields(keys, values);
  std::vector<ZAFDlgEditor*> editorOfKey(settings.size(), nullptr);
  for (const auto& [editor, text] : texts) {
    const std::size_t index = markers.IndexOf(editor->GetText().str());
    if (index != std::string::npos) {
      editorOfKey[index] = editor;
    }
    editor->SetText(text, 1);
  }
  for (const auto& [button, state] : states) {
    button->SetState(state, 1);
  }
  fields_.emplace();
  std::map<const ZAFDialog*, std::map<std::uint16_t, RowParts>> rowsByParent;
  for (std::size_t index = 0; index < settings.size(); ++index) {
    if (editorOfKey[index] != nullptr) {
      fields_->push_back(FieldOf(settings[index].first, *editorOfKey[index], rowsByParent));
    }
  }
}

// Each check button is toggled and toggled back, as the operator would; the widgets whose own
// sensitivity the toggle changes are the ones it sets, with the value for either state.
void FormModel::LearnEnabling() const {
  const std::vector<ZAFDialog*> widgets = session_.form().GetDescendants();
  enablings_.emplace();
  const auto sensitivities = [&widgets] {
    std::vector<std::optional<int>> values;
    values.reserve(widgets.size());
    for (const ZAFDialog* widget : widgets) {
      values.push_back(widget->GetSensitivity());
    }
    return values;
  };
  for (ZAFDialog* widget : widgets) {
    auto* button = dynamic_cast<ZAFDlgCheckButton*>(widget);
    if (button == nullptr) {
      continue;
    }
    const bool wasChecked = button->IsChecked();
    const std::vector<std::optional<int>> before = sensitivities();
    button->Toggle();
    const std::vector<std::optional<int>> after = sensitivities();
    button->Toggle();
    Enabling enabling{button, {}, {}};
    for (std::size_t index = 0; index < widgets.size(); ++index) {
      if (before[index] != after[index]) {
        enabling.widgets.push_back(widgets[index]);
        enabling.checkedAndUnchecked.emplace_back(wasChecked ? before[index] : after[index],
                                                  wasChecked ? after[index] : before[index]);
      }
    }
    enablings_->push_back(std::move(enabling));
  }
}

bool FormModel::IsSecret(const std::string& key) const {
  return std::any_of(fields().begin(), fields().end(),
                     [&key](const FormField& field) { return field.secret && field.key == key; });
}

bool FormModel::UsableAfterToggle(const ZAFDialog& widget, const Enabling& enabling) {
  const bool checkedAfter = !enabling.button->IsChecked();
  for (const ZAFDialog* part = &widget; part != nullptr; part = part->GetParent()) {
    std::optional<int> sensitivity = part->GetSensitivity();
    const auto set = std::find(enabling.widgets.begin(), enabling.widgets.end(), part);
    if (set != enabling.widgets.end()) {
      const auto& values =
          enabling.checkedAndUnchecked[static_cast<std::size_t>(set - enabling.widgets.begin())];
      sensitivity = checkedAfter ? values.first : values.second;
    }
    if (sensitivity == ZAF_INSENSITIVE) {
      return false;
    }
  }
  return true;
}

std::string FormModel::GreyedOutReason(const ZAFDialog& widget) const {
  if (widget.IsUsable()) {
    return "";
  }
  if (!enablings_) {
    LearnEnabling();
  }
  const std::string name = widget.GetResourceName().str();
  for (const Enabling& enabling : *enablings_) {
    const ZAFDlgCheckButton& button = *enabling.button;
    if (&button == &widget || !button.IsUsable() || !UsableAfterToggle(widget, enabling)) {
      continue;
    }
    return name + " is greyed out; " + (button.IsChecked() ? "unchecking " : "checking ") +
           button.GetResourceName().str() + " ('" + TitleOrName(button) + "') enables it";
  }
  return name + " is greyed out, and no check button enables it alone";
}

}  // namespace wassetup
