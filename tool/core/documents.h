#pragma once
// The tool's documents: the one JSON rendering of each of its records (the plan and its steps, a
// deployment's run, the plug-in's verdict, the form, the changes a `set` makes), which `--json`,
// `--output` and the dialog in the browser all write. Every document begins with
// "format_version" where it stands alone.

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/deploy_runner.h"
#include "core/plan.h"

namespace wassetup {

// The "format_version" of every document the tool writes (show, get, validate, plan, deploy
// and the dialog's form). It changes when a field changes meaning or goes away.
constexpr const char* kFormatVersion = "1.0";

// How a document names the page the plug-in's verdict points at.
using PageRendering = std::function<nlohmann::ordered_json(const ZAFDlgTabPage& page)>;

// {"valid"} (with `withValid`) and, when not valid, {"page", "title", "text"}; the page by its
// resource name unless `page` renders it otherwise.
nlohmann::ordered_json ValidationDocument(const Validation& validation, bool withValid,
                                          const PageRendering& page = {});

// {"format_version", "tags", "commands", "dataSource", "javaVariables"}: every step with the
// file changes a deployment makes before it ("file_changes").
nlohmann::ordered_json PlanDocument(const Plan& plan);

// {"format_version", "status", "start_at", "steps", "failure" | "interruption" | "validation",
// "dataSource", "javaVariables"}: a deployment's run as it ended.
nlohmann::ordered_json RunDocument(const DeployRun& run);

// {"format_version", "symbolic_name", "javaVariables"}: what `info` tells of the plug-in, an
// empty variable with the reason it is empty ("empty_reason").
nlohmann::ordered_json InfoDocument(const std::string& symbolicName,
                                    const std::vector<JavaVariable>& variables);

// A setting whose value a `set` changes. `secret` when it comes from a password field.
struct SettingChange {
  std::string key;
  std::string before;
  std::string after;
  bool secret = false;
};

// {"format_version", "dry_run", "stored", "settings_file", "changes", "validation"}: the changed
// settings with their old and new values (secrets masked unless `reveal`), whether they were
// stored, and the plug-in's verdict on the form as it now is.
nlohmann::ordered_json ChangesDocument(const std::vector<SettingChange>& changes, bool stored,
                                       const std::string& settingsFile,
                                       const Validation& validation, bool reveal);

// {"format_version", "widgets": [...]}: every widget below the container, a masked editor's
// text masked unless `reveal`. The dialog's form (`forDialog`) never reveals, and gives each
// widget its "id" (creation index), "parentId" (null for a page) and "masked" as well.
nlohmann::ordered_json FormDocument(const ZAFDlgTabContainer& form, bool reveal,
                                    bool forDialog = false);

}  // namespace wassetup
