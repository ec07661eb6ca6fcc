#pragma once
// The plan of a deployment as the plug-in gives it: its steps, the check of the form before it
// runs, and the whole plan as a JSON document. Shared by `wassetup plan`/`deploy` and the
// dialog in the browser (tool/ui/).

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/process.h"
#include "core/session.h"
#include "core/setup_host.h"
#include "host/zaf_host.h"

namespace wassetup {

// One command of the plan: its tag and what the plug-in made of it.
struct PlanStep {
  const void* tag = nullptr;
  std::string tagText;
  ComposedCommand command;  // what runs (Session::ComposeToRun)
  // What the operator sees (PreviewStep): the command composed in a dry run, every secret
  // field's value masked, and the file changes that composing it for real makes.
  ComposedCommand shown;
  std::vector<zaf::FileChange> fileChanges;
};

// The plug-in's verdict on the form: no page when the input is valid.
struct Validation {
  ZAFDlgTabPage* page = nullptr;
  std::string title;
  std::string text;
};

Validation Validate(Session& session);

// The plan's steps in order, not composed yet.
std::vector<PlanStep> CommandTags(Session& session);

// Composes the step in the host's record (no file changed) to fill `shown` and `fileChanges`:
// the arguments that carry a secret field's value are masked unless `reveal`. A command reflects
// the form as it is when the host asks for it.
void PreviewStep(Session& session, PlanStep& step, bool reveal);

// What a change does, in the operator's words: "stores the settings in FILE", "restores FILE
// from NAME" (a copy onto FILE from FILE plus an ending), "backs up FILE to NAME" (a copy of
// FILE to FILE plus an ending), else "copies FROM to TO".
std::string DescribeChange(const zaf::FileChange& change);

// "store-settings", "restore", "back-up" or "copy", as DescribeChange tells them apart.
const char* ChangeAction(const zaf::FileChange& change);

// The command quoted for a shell; empty for none. Print `step.shown`, never `step.command`.
std::string PrintedLine(const ComposedCommand& command);

// {"count", "Host", "Port", ...}: the data source record the plug-in gives, every field, the
// password masked (as coming from the password field) unless `reveal`; the fields are null
// when it gives no record.
nlohmann::ordered_json DataSourceDocument(Session& session, bool reveal);

// [{"name", "value"}]: the Java variables the plug-in gives.
nlohmann::ordered_json JavaVariablesDocument(Session& session);

// The index of the step tagged `startAt` (0 when empty). Throws ToolError for an unknown tag.
std::size_t StartIndex(const std::vector<PlanStep>& steps, const std::string& startAt);

// Why a command failed, in one line: it could not start, or its exit status and last error line.
std::string FailureDetail(const ProcessResult& result);

// One setting of the data source, masked; no value when the plug-in gave no data source.
struct DataSourceSetting {
  const char* name;
  std::optional<std::string> value;
};

struct JavaVariable {
  std::string name;
  std::string value;
};

// The whole plan as the plug-in gives it now: every step composed in a dry run, then the data
// source and the Java variables. Both the listing and the JSON document are made from it.
struct Plan {
  std::vector<PlanStep> steps;
  int dataSourceCount = 0;
  std::vector<DataSourceSetting> dataSource;
  std::vector<JavaVariable> javaVariables;
};

// The values of secret fields are masked unless `revealSecrets`. Changes no file: the commands
// are composed in the host's record.
Plan ComposePlan(Session& session, bool revealSecrets);

// {"format_version", "tags", "commands", "dataSource", "javaVariables"}, with the file changes
// a deployment makes before each command ("file_changes").
nlohmann::ordered_json PlanDocument(const Plan& plan);
// The same, every step composed now; secrets are masked unless `revealSecrets`.
nlohmann::ordered_json PlanDocument(Session& session, bool revealSecrets);

}  // namespace wassetup
