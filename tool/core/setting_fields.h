#pragma once
// What the tool learns about the form by asking the plug-in rather than by reading texts: which
// editor carries which setting, which settings are secret or hold a folder, which known
// database products change the plan, and what enables a greyed-out widget.

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/session.h"

namespace wassetup {

// One editor and the setting key under which the plug-in transfers its text.
struct SettingField {
  std::string key;
  ZAFDlgEditor* editor = nullptr;
  std::string label;      // the title of the label in the editor's row, or the editor's name
  bool isFolder = false;  // a browse button sits in its row
};

// Chooses editors by what they hold.
using EditorFilter = std::function<bool(const ZAFDlgEditor&)>;

// Every editor that carries a setting (only those that `selected` chooses, when given), in the
// plug-in's key order. Learnt with a marker of its own in each chosen editor while the plug-in
// lists the settings; nothing is stored, and the plug-in is not asked when none is chosen.
std::vector<SettingField> SettingFields(Session& session, const EditorFilter& selected = {});

// The keys of the settings that come from masked editors.
std::set<std::string> SecretKeys(Session& session);

// The path separator that the joins do not use: of '/' and '\', the one --separator is not.
char OtherSeparator();

// The editor holds what one of the warnings below may be about: a value that begins with '-'
// or that holds the other separator. Choosing only those keeps the common case cheap.
bool MayDrawWarning(const ZAFDlgEditor& editor);

// One line per folder setting of `fields` written with the separator that the joins do not use
// (a Windows folder with --separator /, a Unix one with the default \): its commands would mix
// both forms.
std::vector<std::string> MixedPathWarnings(const std::vector<SettingField>& fields);

// The database products the plug-in knows.
extern const char* const kKnownDatabaseProducts[2];

// Empty for a known product; else one line that names the known products and the commands
// the plug-in leaves out of the plan with this product.
std::string UnknownProductWarning(Session& session);

// Empty when `widget` takes input; else why not: it is greyed out, and which check button
// enables it (learnt by toggling each check button and back, as the operator would).
std::string GreyedOutReason(ZAFDialog& form, ZAFDialog& widget);

}  // namespace wassetup
