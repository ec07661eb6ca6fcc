#pragma once
// What the tool knows of the form, learnt once when the form is built by asking the plug-in
// rather than by reading texts: which editor carries which setting, which settings are secret or
// hold a folder, which check button greys out which widgets, and which commands a database
// product the plug-in does not know leaves out. The form's widgets and the plug-in's mapping of
// keys to them cannot change once it is built; every consumer reads this model.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/settings_merge.h"
#include "host/zaf_dialog.h"

namespace wassetup {

class Session;

// One editor and the setting key under which the plug-in transfers its text.
struct FormField {
  std::string key;
  ZAFDlgEditor* editor = nullptr;
  std::string label;      // the title of the label in the editor's row, or the editor's name
  bool isFolder = false;  // a browse button sits in its row
  bool secret = false;    // the editor is masked
};

// --db-product names a product the plug-in does not know: the commands the plan leaves out with
// it that a known product would compose.
struct UnknownProduct {
  std::string product;
  std::vector<std::string> known;
  std::vector<std::string> leftOut;
};

// The model is made once the form is built; what it learns by asking the plug-in it learns the
// first time it is asked, and keeps (a command that never asks pays nothing for it).
class FormModel {
 public:
  // The model of the form `session` has just built, whose settings are `settings`. Nothing is
  // ever stored: to learn the fields the plug-in is handed a marker for each setting
  // (SetUserInterfaceFields, which stores nothing) and the editors are read back; to learn what
  // greys out what, each check button is toggled and back; for a product the plug-in does not
  // know, the commands are composed in the session's record.
  FormModel(Session& session, SettingPairs settings);

  // Every editor that carries a setting, in the plug-in's key order.
  const std::vector<FormField>& fields() const;
  bool IsSecret(const std::string& key) const;
  // The masked editors, whose values are the passwords.
  const std::vector<ZAFDlgEditor*>& secretEditors() const { return secretEditors_; }

  // Empty when `widget` takes input; else why not: it is greyed out, and which check button
  // enables it alone when the operator checks or unchecks it now.
  std::string GreyedOutReason(const ZAFDialog& widget) const;

  const std::optional<UnknownProduct>& unknownProduct() const { return unknownProduct_; }

 private:
  // What one check button does to the widgets when it is toggled: the sensitivity each widget
  // it sets takes when the button is checked, and when it is unchecked.
  struct Enabling {
    ZAFDlgCheckButton* button;
    std::vector<const ZAFDialog*> widgets;
    std::vector<std::pair<std::optional<int>, std::optional<int>>> checkedAndUnchecked;
  };

  void LearnFields() const;
  void LearnEnabling() const;
  // Whether `widget` would take input after `enabling`'s button is toggled.
  static bool UsableAfterToggle(const ZAFDialog& widget, const Enabling& enabling);

  Session& session_;
  SettingPairs settings_;
  std::vector<ZAFDlgEditor*> secretEditors_;
  std::optional<UnknownProduct> unknownProduct_;
  // Learnt when first asked for.
  mutable std::optional<std::vector<FormField>> fields_;
  mutable std::optional<std::vector<Enabling>> enablings_;
};

}  // namespace wassetup
