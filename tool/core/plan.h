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
#include "core/secrets.h"
#include "core/session.h"
#include "core/setup_host.h"

namespace wassetup {

// One command of the plan: its tag and what the plug-in made of it.
struct PlanStep {
  const void* tag = nullptr;
  std::string tagText;
  ComposedCommand command;
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

// Asks the plug-in for the command of the step, now: a command reflects the form as it is
// when the host asks for it.
void ComposeStep(Session& session, PlanStep& step);

// The command as the operator sees it: quoted for a shell, secrets masked; empty for none.
std::string PrintedLine(const ComposedCommand& command, const Secrets& secrets);

// Each text of `texts` with the secrets masked.
std::vector<std::string> MaskAll(const std::vector<std::string>& texts, const Secrets& secrets);

// {"count", "Host", "Port", ...}: the data source record the plug-in gives, every field,
// secrets masked; the fields are null when it gives no record.
nlohmann::ordered_json DataSourceDocument(Session& session, const Secrets& secrets);

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

// The whole plan as the plug-in gives it now: every step composed, then the data source and
// the Java variables. Both the listing and the JSON document are made from it.
struct Plan {
  std::vector<PlanStep> steps;
  Secrets secrets;  // of the form as it was once every step was composed
  int dataSourceCount = 0;
  std::vector<DataSourceSetting> dataSource;
  std::vector<JavaVariable> javaVariables;
};

// Secrets are masked unless `revealSecrets`.
Plan ComposePlan(Session& session, bool revealSecrets);

// {"format_version", "tags", "commands", "dataSource", "javaVariables"}.
nlohmann::ordered_json PlanDocument(const Plan& plan);
// The same, every step composed now; secrets are masked unless `revealSecrets`.
nlohmann::ordered_json PlanDocument(Session& session, bool revealSecrets);

}  // namespace wassetup
