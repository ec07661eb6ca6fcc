// The commands that show and change the form: info, show, get, set, toggle and browse.

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/subcommands.h"
#include "core/documents.h"
#include "core/file_checks.h"
#include "core/output_streams.h"
#include "core/plan.h"
#include "core/safe_text.h"
#include "core/secrets.h"
#include "core/widget_view.h"
#include "host/platform/console.h"
#include "host/platform/environment.h"
#include "host/platform/program.h"

namespace wassetup {

namespace {

using Json = nlohmann::ordered_json;

// A document written by `get --json` is a few kilobytes.
constexpr std::size_t kMaxDocumentBytes = std::size_t{1} << 20;

// The widget of that type and name, or a usage error listing the names there are.
template <typename Widget>
Widget& FindNamed(ZAFDialog& root, const std::string& name, const char* what) {
  if (auto* widget = root.FindDescendantOfType<Widget>(name.c_str())) {
    return *widget;
  }
  std::vector<std::string> names;
  root.ForEachDescendantOfType<Widget>(
      [&names](const Widget& widget) { names.push_back(widget.GetResourceName().str()); });
  throw ToolError("no " + std::string(what) + " '" + name + "'; there are: " + JoinedNames(names));
}

// The value of a setting as the operator may see it: a secret one (from a masked editor) is
// masked unless the operator asked to see secrets.
std::string ShownSetting(const Session& session, const std::string& key, const std::string& value) {
  return Shown(value, session.model().IsSecret(key), session.options().showSecrets);
}

void PrintSettings(std::ostream& out, const Session& session, const SettingPairs& settings) {
  for (const auto& [key, value] : settings) {
    out << Printable(key) << '=' << Printable(ShownSetting(session, key, value)) << '\n';
  }
}

Json SettingsDocument(const Session& session, const SettingPairs& settings) {
  Json pairs = Json::array();
  for (const auto& [key, value] : settings) {
    pairs.push_back(Json{{"key", key}, {"value", ShownSetting(session, key, value)}});
  }
  return Json{{"format_version", kFormatVersion}, {"settings", std::move(pairs)}};
}

// One line of standard input; on a terminal it is asked for and not echoed.
std::string ReadValueFromStdin(const std::string& key) {
  std::optional<std::string> value =
      zaf::platform::ReadLineHidden("Value of " + Printable(key) + ": ");
  if (!value) {
    throw ToolError("no value for '" + key + "' on standard input");
  }
  return std::move(*value);
}

SettingPairs PairsFromArguments(const std::vector<std::string>& assignments) {
  SettingPairs pairs;
  if (assignments.size() == 1 && assignments[0].find('=') == std::string::npos) {
    pairs.emplace_back(assignments[0], ReadValueFromStdin(assignments[0]));
    return pairs;
  }
  for (const std::string& assignment : assignments) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
      throw ToolError("'" + assignment +
                      "' is not KEY=VALUE (a single KEY alone reads its value from stdin)");
    }
    pairs.emplace_back(assignment.substr(0, equals), assignment.substr(equals + 1));
  }
  return pairs;
}

// The whole of standard input, refused beyond `limit` bytes.
std::string ReadStandardInput(std::size_t limit) {
  std::string text;
  char buffer[4096];
  while (std::cin.read(buffer, sizeof buffer) || std::cin.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(std::cin.gcount()));
    if (text.size() > limit) {
      throw ToolError("the settings document on standard input is larger than " +
                      std::to_string(limit) + " bytes");
    }
  }
  return text;
}

// `--from -` reads the document from standard input, so that a program can hand over
// passwords without putting them on a command line or in a file.
SettingPairs PairsFromDocument(const std::string& file) {
  const bool fromStdin = file == "-";
  const std::string text =
      fromStdin ? ReadStandardInput(kMaxDocumentBytes)
                : ReadRegularFile(file, kMaxDocumentBytes, "the settings document (--from)");
  const std::string source = fromStdin ? std::string("standard input") : "'" + file + "'";
  const Json document = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded()) {
    throw ToolError(source + " is not a JSON document");
  }
  const auto refuse = [&source](const std::string& why) {
    return ToolError(source + " is not a settings document written by 'get --json': " + why);
  };
  if (!document.is_object() || !document.contains("format_version") ||
      !document["format_version"].is_string()) {
    throw refuse("no \"format_version\"");
  }
  const std::string version = document["format_version"].get<std::string>();
  if (version.rfind("1.", 0) != 0) {
    throw refuse("format version " + version + " is not 1.x");
  }
  if (!document.contains("settings") || !document["settings"].is_array()) {
    throw refuse("no \"settings\" list");
  }
  SettingPairs pairs;
  for (const Json& entry : document["settings"]) {
    if (!entry.is_object() || !entry.contains("key") || !entry["key"].is_string() ||
        !entry.contains("value") || !entry["value"].is_string()) {
      throw refuse("every setting must be {\"key\": text, \"value\": text}");
    }
    pairs.emplace_back(entry["key"].get<std::string>(), entry["value"].get<std::string>());
  }
  return pairs;
}

// A setting given twice is a mistake whichever value was meant; a NUL cannot be stored or
// passed to a command.
void CheckPairs(const SettingPairs& pairs) {
  std::set<std::string> seen;
  for (const auto& pair : pairs) {
    if (!seen.insert(pair.first).second) {
      throw ToolError("the setting '" + pair.first + "' is given twice");
    }
    if (pair.second.find('\0') != std::string::npos) {
      throw ToolError("the value of '" + pair.first + "' holds a NUL character");
    }
  }
}

void CheckKeys(const SettingPairs& pairs, const SettingPairs& current) {
  std::vector<std::string> valid;
  for (const auto& setting : current) {
    valid.push_back(setting.first);
  }
  for (const auto& pair : pairs) {
    if (std::find(valid.begin(), valid.end(), pair.first) == valid.end()) {
      throw ToolError("unknown setting '" + pair.first +
                      "'; the settings are: " + JoinedNames(valid));
    }
  }
}

// A secret setting whose value is the mask came from a document written without
// --show-secrets: it is no password, so the current one is kept (and the operator told). The
// mask in any other setting is that setting's value.
SettingPairs WithoutMaskedSecrets(const SettingPairs& pairs, const FormModel& model) {
  SettingPairs kept;
  for (const auto& pair : pairs) {
    if (pair.second == kMaskedText && model.IsSecret(pair.first)) {
      std::cerr << "wassetup: " << pair.first << " is the mask " << kMaskedText
                << ", not a password: the current password is kept (give a new one with 'set "
                << pair.first << "')\n";
    } else {
      kept.push_back(pair);
    }
  }
  return kept;
}

// Why an action on `widget` is refused, as the dialog refuses it: it is greyed out. Empty when
// it takes input.
std::string GreyedOutRefusal(const Session& session, const ZAFDialog& widget) {
  const std::string reason = session.model().GreyedOutReason(widget);
  return reason.empty() ? reason : reason + "; nothing was changed";
}

// Why a Java variable is empty. The plug-in sets "ws.ext.dirs" when it composes a command
// (RunInfo composes the first one), and composes none while the plug-in is switched off.
std::string EmptyVariableReason(Session& session, bool planEmpty) {
  if (!planEmpty) {
    return "the plug-in gave no value";
  }
  const auto* enable = session.form().FindDescendantOfType<ZAFDlgCheckButton>("EnableQimPlugIn");
  if (enable != nullptr && !enable->IsChecked()) {
    return "the plug-in sets it when it composes a command, and it composes none while "
           "EnableQimPlugIn is unchecked";
  }
  return "the plug-in sets it when it composes a command, and its plan has none";
}

// Compares the form's values, not the texts given: the plug-in may trim or normalise what it
// is handed, and only what it would store counts as a change. A setting that comes from a
// password field is secret, so a password that is set, changed or cleared is always named and
// never shown.
std::vector<SettingChange> Changes(const SettingPairs& before, const SettingPairs& after,
                                   const FormModel& model) {
  std::vector<SettingChange> changes;
  for (const auto& [key, newValue] : after) {
    std::string oldValue;
    for (const auto& earlier : before) {
      if (earlier.first == key) {
        oldValue = earlier.second;
      }
    }
    if (oldValue != newValue) {
      changes.push_back(SettingChange{key, oldValue, newValue, model.IsSecret(key)});
    }
  }
  return changes;
}

void PrintChanges(std::ostream& out, const std::vector<SettingChange>& changes, bool reveal) {
  for (const SettingChange& change : changes) {
    out << Printable(change.key) << ": " << Printable(Shown(change.before, change.secret, reveal))
        << " -> " << Printable(Shown(change.after, change.secret, reveal)) << '\n';
  }
}

// Hands the settings to the form as the operator would type them, once they are checked: no
// setting given twice or unknown, no NUL; a masked password is left out (and said so). Stores
// nothing. The settings handed over.
SettingPairs ApplyToForm(Session& session, const SettingPairs& pairs) {
  CheckPairs(pairs);
  CheckKeys(pairs, session.settings());
  SettingPairs given = WithoutMaskedSecrets(pairs, session.model());
  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;
  for (const auto& [key, value] : given) {
    keys.Append(key);
    values.Append(value);
  }
  session.plugin().SetUserInterfaceFields(keys, values);
  return given;
}

SettingPairs StoreForm(Session& session) {
  SettingPairs stored = session.StoreSettings();
  std::cerr << "wassetup: settings stored in " << Printable(session.preferenceFile()) << '\n';
  return stored;
}

}  // namespace

bool UseColor() {
  const char* noColor = zaf::platform::EnvironmentValue("NO_COLOR");
  return zaf::platform::OutputShowsColor() && (noColor == nullptr || *noColor == '\0');
}

void WriteDocument(const Session& session, const std::string& document) {
  const std::string& file = session.options().outputFile;
  if (file.empty()) {
    std::cout << document << '\n';
  } else {
    WriteOutputFile(file, document + '\n', "--output");
  }
}

Outcome RunInfo(Session& session, bool json) {
  ZAFUnicodeString name;
  session.plugin().GetSymbolicName(name);
  std::vector<Step> steps = CommandTags(session);
  if (!steps.empty()) {
    session.host().Compose(session.plugin(), steps.front().tag);
  }
  std::vector<JavaVariable> variables = ReadJavaVariables(session);
  for (JavaVariable& variable : variables) {
    if (variable.value.empty()) {
      variable.emptyReason = EmptyVariableReason(session, steps.empty());
    }
  }
  if (json) {
    WriteDocument(session, JsonText(InfoDocument(name.str(), variables)));
    return Outcome::Success();
  }
  std::cout << "Plug-in: " << Printable(name.str()) << '\n' << "Java variables:\n";
  for (const JavaVariable& variable : variables) {
    const std::string value =
        variable.emptyReason.empty() ? variable.value : "(empty: " + variable.emptyReason + ")";
    std::cout << "  " << Printable(variable.name) << '=' << Printable(value) << '\n';
  }
  return Outcome::Success();
}

Outcome RunShow(Session& session, bool json) {
  const bool reveal = session.options().showSecrets;
  if (json) {
    WriteDocument(session, JsonText(FormDocument(session.form(), reveal)));
  } else {
    PrintForm(std::cout, session.form(), reveal, UseColor());
  }
  return Outcome::Success();
}

Outcome RunGet(Session& session, bool json) {
  if (json) {
    WriteDocument(session, JsonText(SettingsDocument(session, session.settings())));
  } else {
    PrintSettings(std::cout, session, session.settings());
  }
  return Outcome::Success();
}

// A set that only looks (--dry-run) reads the settings the form would hold; one that changes
// stores them.
Outcome RunSet(Session& session, const SetOptions& options, bool json) {
  if (options.assignments.empty() == options.fromFile.empty()) {
    throw ToolError("set takes KEY=VALUE pairs, one KEY, or --from FILE");
  }
  const SettingPairs given =
      ApplyToForm(session, options.fromFile.empty() ? PairsFromArguments(options.assignments)
                                                    : PairsFromDocument(options.fromFile));
  const SettingPairs& current = session.settings();
  const bool stores = session.access() == Access::kChange;
  const SettingPairs result = stores ? StoreForm(session) : session.ReadSettings();
  const std::vector<SettingChange> changes = Changes(current, result, session.model());
  const bool reveal = session.options().showSecrets;
  if (json) {
    WriteDocument(session, JsonText(ChangesDocument(changes, stores, session.preferenceFile(),
                                                    Validate(session), reveal)));
  } else if (!stores) {
    PrintChanges(std::cout, changes, reveal);
    std::cerr << "wassetup: dry run: " << changes.size()
              << (changes.size() == 1 ? " setting" : " settings")
              << " would change; nothing stored\n";
  } else {
    PrintSettings(std::cout, session, given);
  }
  return Outcome::Success();
}

void ApplySettingsDocument(Session& session, const std::string& file) {
  ApplyToForm(session, PairsFromDocument(file));
}

Outcome RunToggle(Session& session, const std::string& name) {
  auto& button = FindNamed<ZAFDlgCheckButton>(session.form(), name, "check button");
  if (std::string refusal = GreyedOutRefusal(session, button); !refusal.empty()) {
    return Outcome::Refused(std::move(refusal));
  }
  button.Toggle();
  StoreForm(session);
  std::cout << Printable(name) << ": " << (button.IsChecked() ? "checked" : "unchecked") << '\n';
  return Outcome::Success();
}

Outcome RunBrowse(Session& session, const BrowseOptions& options) {
  auto& button = FindNamed<ZAFDlgPushButton>(session.form(), options.button, "push button");
  if (std::string refusal = GreyedOutRefusal(session, button); !refusal.empty()) {
    return Outcome::Refused(std::move(refusal));
  }
  std::vector<const ZAFDlgFile*> before;
  session.form().ForEachDescendantOfType<ZAFDlgFile>(
      [&before](const ZAFDlgFile& open) { before.push_back(&open); });
  button.Press();
  ZAFDlgFile* chooser = nullptr;
  session.form().ForEachDescendantOfType<ZAFDlgFile>([&](ZAFDlgFile& candidate) {
    if (std::find(before.begin(), before.end(), &candidate) == before.end()) {
      chooser = &candidate;
    }
  });
  if (chooser == nullptr) {
    return Outcome::Refused("pressing " + options.button + " opened no directory chooser");
  }
  std::cout << "started in: " << Printable(chooser->GetDirectory().str()) << '\n';
  if (options.cancel) {
    chooser->CloseCancel();
  } else {
    chooser->CloseOK(options.directory);
  }
  StoreForm(session);
  if (const auto* editor = button.GetRowNeighbourOfType<ZAFDlgEditor>(ZAFRowSide::Left)) {
    std::cout << Printable(editor->GetResourceName().str()) << ": "
              << Printable(ShownText(*editor, session.options().showSecrets)) << '\n';
  }
  return Outcome::Success();
}

}  // namespace wassetup
