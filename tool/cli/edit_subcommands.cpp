// The commands that show and change the form: info, show, get, set, toggle and browse.

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/subcommands.h"
#include "core/dry_run.h"
#include "core/file_checks.h"
#include "core/hidden_input.h"
#include "core/json_document.h"
#include "core/output_streams.h"
#include "core/plan.h"
#include "core/safe_text.h"
#include "core/secrets.h"
#include "core/setting_fields.h"
#include "core/widget_view.h"

namespace wassetup {

namespace {

using Json = nlohmann::ordered_json;

// A document written by `get --json` is a few kilobytes.
constexpr std::size_t kMaxDocumentBytes = std::size_t{1} << 20;

struct Settings {
  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;
};

std::string JoinNames(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) {
    joined += (joined.empty() ? "" : ", ") + name;
  }
  return joined;
}

// The widget of that type and name, or a usage error listing the names there are.
template <typename Widget>
Widget& FindNamed(ZAFDialog& root, const std::string& name, const char* what) {
  if (auto* widget = root.FindDescendantOfType<Widget>(name.c_str())) {
    return *widget;
  }
  std::vector<std::string> names;
  root.ForEachDescendantOfType<Widget>(
      [&names](const Widget& widget) { names.push_back(widget.GetResourceName().str()); });
  throw ToolError("no " + std::string(what) + " '" + name + "'; there are: " + JoinNames(names));
}

// Shows the value of a secret setting (one that comes from a masked editor) as ******** unless
// the operator asked to see secrets; an empty password stays empty.
class SettingMask {
 public:
  explicit SettingMask(Session& session)
      : reveal_(session.options().showSecrets),
        secretKeys_(reveal_ ? std::set<std::string>() : SecretKeys(session)) {}

  std::string Shown(const std::string& key, const std::string& value) const {
    return value.empty() || secretKeys_.count(key) == 0 ? value : kMaskedText;
  }

 private:
  bool reveal_;
  std::set<std::string> secretKeys_;
};

void PrintSettings(std::ostream& out, const Settings& settings, const SettingMask& mask) {
  for (int position = 1; position <= settings.keys.Size(); ++position) {
    const std::string key = settings.keys[position].str();
    out << Printable(key) << '=' << Printable(mask.Shown(key, settings.values[position].str()))
        << '\n';
  }
}

Json SettingsDocument(const Settings& settings, const SettingMask& mask) {
  Json pairs = Json::array();
  for (int position = 1; position <= settings.keys.Size(); ++position) {
    const std::string key = settings.keys[position].str();
    pairs.push_back(
        Json{{"key", key}, {"value", mask.Shown(key, settings.values[position].str())}});
  }
  return Json{{"format_version", kFormatVersion}, {"settings", std::move(pairs)}};
}

// One line of standard input; on a terminal it is asked for and not echoed.
std::string ReadValueFromStdin(const std::string& key) {
  std::optional<std::string> value = ReadLineHidden("Value of " + Printable(key) + ": ");
  if (!value) {
    throw ToolError("no value for '" + key + "' on standard input");
  }
  return std::move(*value);
}

std::vector<std::pair<std::string, std::string>> PairsFromArguments(
    const std::vector<std::string>& assignments) {
  std::vector<std::pair<std::string, std::string>> pairs;
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
std::vector<std::pair<std::string, std::string>> PairsFromDocument(const std::string& file) {
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
  std::vector<std::pair<std::string, std::string>> pairs;
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
void CheckPairs(const std::vector<std::pair<std::string, std::string>>& pairs) {
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

void CheckKeys(const std::vector<std::pair<std::string, std::string>>& pairs,
               const Settings& current) {
  std::vector<std::string> valid;
  for (int position = 1; position <= current.keys.Size(); ++position) {
    valid.push_back(current.keys[position].str());
  }
  for (const auto& pair : pairs) {
    if (std::find(valid.begin(), valid.end(), pair.first) == valid.end()) {
      throw ToolError("unknown setting '" + pair.first +
                      "'; the settings are: " + JoinNames(valid));
    }
  }
}

// A secret setting whose value is the mask came from a document written without
// --show-secrets: it is no password, so the current one is kept (and the operator told). The
// mask in any other setting is that setting's value.
std::vector<std::pair<std::string, std::string>> WithoutMaskedSecrets(
    const std::vector<std::pair<std::string, std::string>>& pairs,
    const std::set<std::string>& secretKeys) {
  std::vector<std::pair<std::string, std::string>> kept;
  for (const auto& pair : pairs) {
    if (pair.second == kMaskedText && secretKeys.count(pair.first) != 0) {
      std::cerr << "wassetup: " << pair.first << " is the mask " << kMaskedText
                << ", not a password: the current password is kept (give a new one with 'set "
                << pair.first << "')\n";
    } else {
      kept.push_back(pair);
    }
  }
  return kept;
}

// Refuses an action on a greyed-out widget, as the dialog does: nothing is stored.
bool RefuseGreyedOut(Session& session, ZAFDialog& widget) {
  const std::string reason = GreyedOutReason(session.form(), widget);
  if (reason.empty()) {
    return false;
  }
  std::cerr << "wassetup: " << Printable(reason) << "; nothing was changed\n";
  return true;
}

// Why a Java variable is empty. The plug-in sets "ws.ext.dirs" when it composes a command
// (RunInfo composes the first one in a dry run), and composes none while the plug-in is
// switched off.
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

// A setting whose value a `set` changes. `secret` when it comes from a password field.
struct Change {
  std::string key;
  std::string before;
  std::string after;
  bool secret = false;
};

// Compares the form's values, not the texts given: the plug-in may trim or normalise what it
// is handed, and only what it would store counts as a change. A setting that comes from a
// password field is secret, so a password that is set, changed or cleared is always named and
// never shown.
std::vector<Change> ChangedSettings(const Settings& before, const Settings& after,
                                    const std::set<std::string>& secretKeys) {
  std::vector<Change> changes;
  for (int position = 1; position <= after.keys.Size(); ++position) {
    const std::string key = after.keys[position].str();
    const std::string newValue = after.values[position].str();
    std::string oldValue;
    for (int earlier = 1; earlier <= before.keys.Size(); ++earlier) {
      if (before.keys[earlier].str() == key) {
        oldValue = before.values[earlier].str();
      }
    }
    if (oldValue == newValue) {
      continue;
    }
    changes.push_back(Change{key, oldValue, newValue, secretKeys.count(key) != 0});
  }
  return changes;
}

std::string ShownValue(const std::string& value, bool secret, bool reveal) {
  return secret && !reveal && !value.empty() ? std::string(kMaskedText) : value;
}

// What `set --json` reports: the changed settings with their old and new values, whether they
// were stored, and the plug-in's verdict on the form as it now is.
Json ChangesDocument(Session& session, const std::vector<Change>& changes, bool stored) {
  const bool reveal = session.options().showSecrets;
  Json listed = Json::array();
  for (const Change& change : changes) {
    listed.push_back(Json{{"key", change.key},
                          {"old", ShownValue(change.before, change.secret, reveal)},
                          {"new", ShownValue(change.after, change.secret, reveal)},
                          {"secret", change.secret}});
  }
  // The plug-in's messages name fields, never their values.
  const Validation verdict = Validate(session);
  Json validation{{"valid", verdict.page == nullptr}};
  if (verdict.page != nullptr) {
    validation["page"] = verdict.page->GetResourceName().str();
    validation["title"] = verdict.title;
    validation["text"] = verdict.text;
  }
  return Json{{"format_version", kFormatVersion},
              {"dry_run", !stored},
              {"stored", stored},
              {"settings_file", session.preferenceFile()},
              {"changes", std::move(listed)},
              {"validation", std::move(validation)}};
}

void PrintChanges(std::ostream& out, const std::vector<Change>& changes, bool reveal) {
  for (const Change& change : changes) {
    out << Printable(change.key) << ": "
        << Printable(ShownValue(change.before, change.secret, reveal)) << " -> "
        << Printable(ShownValue(change.after, change.secret, reveal)) << '\n';
  }
}

Settings StoreForm(Session& session) {
  Settings stored;
  session.StoreSettings(stored.keys, stored.values);
  std::cerr << "wassetup: settings stored in " << Printable(session.preferenceFile()) << '\n';
  return stored;
}

}  // namespace

bool UseColor() {
  const char* noColor = std::getenv("NO_COLOR");
  return isatty(STDOUT_FILENO) != 0 && (noColor == nullptr || *noColor == '\0');
}

void WriteDocument(const Session& session, const std::string& document) {
  const std::string& file = session.options().outputFile;
  if (file.empty()) {
    std::cout << document << '\n';
  } else {
    WriteOutputFile(file, document + '\n', "--output");
  }
}

int RunInfo(Session& session, bool json) {
  const DryRun looking;
  ZAFUnicodeString name;
  session.plugin().GetSymbolicName(name);
  std::vector<PlanStep> steps = CommandTags(session);
  if (!steps.empty()) {
    ComposeStep(session, steps.front());
  }
  Json variables = JavaVariablesDocument(session);
  for (Json& variable : variables) {
    if (variable["value"].get_ref<const std::string&>().empty()) {
      variable["empty_reason"] = EmptyVariableReason(session, steps.empty());
    }
  }
  if (json) {
    WriteDocument(session, JsonText(Json{{"format_version", kFormatVersion},
                                         {"symbolic_name", name.str()},
                                         {"javaVariables", std::move(variables)}}));
    return 0;
  }
  std::cout << "Plug-in: " << Printable(name.str()) << '\n' << "Java variables:\n";
  for (const Json& variable : variables) {
    const std::string value = variable.contains("empty_reason")
                                  ? "(empty: " + variable["empty_reason"].get<std::string>() + ")"
                                  : variable["value"].get<std::string>();
    std::cout << "  " << Printable(variable["name"].get<std::string>()) << '=' << Printable(value)
              << '\n';
  }
  return 0;
}

int RunShow(Session& session, bool json) {
  const DryRun looking;
  const bool reveal = session.options().showSecrets;
  if (json) {
    WriteDocument(session, JsonText(FormDocument(session.form(), reveal)));
  } else {
    PrintForm(std::cout, session.form(), reveal, UseColor());
  }
  return 0;
}

int RunGet(Session& session, bool json) {
  const DryRun looking;
  Settings settings;
  session.ReadSettings(settings.keys, settings.values);
  const SettingMask mask(session);
  if (json) {
    WriteDocument(session, JsonText(SettingsDocument(settings, mask)));
  } else {
    PrintSettings(std::cout, settings, mask);
  }
  return 0;
}

int RunSet(Session& session, const SetOptions& options, bool json) {
  if (options.assignments.empty() == options.fromFile.empty()) {
    throw ToolError("set takes KEY=VALUE pairs, one KEY, or --from FILE");
  }
  const auto pairs = options.fromFile.empty() ? PairsFromArguments(options.assignments)
                                              : PairsFromDocument(options.fromFile);
  Settings current;
  session.ReadSettings(current.keys, current.values);
  CheckPairs(pairs);
  CheckKeys(pairs, current);
  // A dry run stores nothing, and changes no other file either.
  std::optional<DryRun> looking;
  if (options.dryRun) {
    looking.emplace();
  }
  const std::set<std::string> secretKeys = SecretKeys(session);

  Settings given;
  for (const auto& pair : WithoutMaskedSecrets(pairs, secretKeys)) {
    given.keys.Append(pair.first);
    given.values.Append(pair.second);
  }
  session.plugin().SetUserInterfaceFields(given.keys, given.values);
  Settings result;
  if (options.dryRun) {
    session.ReadSettings(result.keys, result.values);
  } else {
    result = StoreForm(session);
  }
  const std::vector<Change> changes = ChangedSettings(current, result, secretKeys);
  const bool reveal = session.options().showSecrets;
  if (json) {
    WriteDocument(session, JsonText(ChangesDocument(session, changes, !options.dryRun)));
  } else if (options.dryRun) {
    PrintChanges(std::cout, changes, reveal);
    std::cerr << "wassetup: dry run: " << changes.size()
              << (changes.size() == 1 ? " setting" : " settings")
              << " would change; nothing stored\n";
  } else {
    PrintSettings(std::cout, given, SettingMask(session));
  }
  return 0;
}

void ApplySettingsDocument(Session& session, const std::string& file) {
  const auto pairs = PairsFromDocument(file);
  Settings current;
  session.ReadSettings(current.keys, current.values);
  CheckPairs(pairs);
  CheckKeys(pairs, current);
  Settings given;
  for (const auto& pair : WithoutMaskedSecrets(pairs, SecretKeys(session))) {
    given.keys.Append(pair.first);
    given.values.Append(pair.second);
  }
  session.plugin().SetUserInterfaceFields(given.keys, given.values);
}

int RunToggle(Session& session, const std::string& name) {
  auto& button = FindNamed<ZAFDlgCheckButton>(session.form(), name, "check button");
  if (RefuseGreyedOut(session, button)) {
    return 1;
  }
  button.Toggle();
  StoreForm(session);
  std::cout << Printable(name) << ": " << (button.IsChecked() ? "checked" : "unchecked") << '\n';
  return 0;
}

int RunBrowse(Session& session, const BrowseOptions& options) {
  auto& button = FindNamed<ZAFDlgPushButton>(session.form(), options.button, "push button");
  if (RefuseGreyedOut(session, button)) {
    return 1;
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
    std::cerr << "wassetup: pressing " << Printable(options.button)
              << " opened no directory chooser\n";
    return 1;
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
  return 0;
}

}  // namespace wassetup
