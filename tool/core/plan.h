#pragma once
// The records of a deployment as the plug-in gives them: its steps, the plug-in's verdict on the
// form, the data source and the Java variables, and the whole plan. Shared by `wassetup plan`,
// `wassetup deploy` and the dialog in the browser (tool/ui/); core/documents.h renders them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/process.h"
#include "core/session.h"
#include "core/setup_host.h"
#include "host/zaf_host.h"

namespace wassetup {

enum class StepState { kPending, kRunning, kDone, kFailed, kSkipped };

// "pending", "running", "done", "failed", "skipped".
const char* StepStateName(StepState state);

// One command of the plan: its tag and what the plug-in made of it, as the plan composes it or a
// deployment runs it.
struct Step {
  const void* tag = nullptr;
  std::string tagText;
  // Whether the plug-in was asked for the command; a step before a deployment's start never is.
  bool composed = false;
  // What the operator sees (PreviewStep): the command composed in the host's record, every secret
  // field's value masked, and the file changes that composing it for real makes.
  ComposedCommand shown;
  std::vector<zaf::FileChange> fileChanges;
  // What a deployment runs, secrets and all (Session::ComposeToRun), and how it went.
  ComposedCommand command;
  StepState state = StepState::kPending;
  std::optional<int> exitStatus;  // once the command ran
  std::int64_t durationMs = 0;
};

// The plug-in's verdict on the form: no page when the input is valid. Its messages name fields,
// never their values.
struct Validation {
  ZAFDlgTabPage* page = nullptr;
  std::string title;
  std::string text;
};

Validation Validate(Session& session);

// One setting of the data source, masked; no value when the plug-in gave no data source.
struct DataSourceSetting {
  const char* name;
  std::optional<std::string> value;
};

// The data source record the plug-in gives: every field, the password masked (as coming from
// the password field) unless revealed.
struct DataSource {
  int count = 0;
  std::vector<DataSourceSetting> settings;
};

struct JavaVariable {
  std::string name;
  std::string value;
  std::string emptyReason;  // why the value is empty, when `info` says so
};

// The whole plan as the plug-in gives it now: every step composed in the host's record, then
// the data source and the Java variables. The listing and the document are both made from it.
struct Plan {
  std::vector<Step> steps;
  DataSource dataSource;
  std::vector<JavaVariable> javaVariables;
};

// The plan's steps in order, not composed yet.
std::vector<Step> CommandTags(Session& session);

// Composes the step in the host's record (no file changed) to fill `shown` and `fileChanges`:
// the arguments that carry a secret field's value are masked unless `reveal`. A command reflects
// the form as it is when the host asks for it.
void PreviewStep(Session& session, Step& step, bool reveal);

// The values of secret fields are masked unless `revealSecrets`. Changes no file: the commands
// are composed in the host's record.
Plan ComposePlan(Session& session, bool revealSecrets);

// The data source and the Java variables the plug-in gives now.
DataSource ReadDataSource(Session& session, bool reveal);
std::vector<JavaVariable> ReadJavaVariables(Session& session);

// The index of the step tagged `startAt` (0 when empty). Throws ToolError for an unknown tag.
std::size_t StartIndex(const std::vector<Step>& steps, const std::string& startAt);

// Why a command failed, in one line: it could not start, or its exit status and last error line.
std::string FailureDetail(const ProcessResult& result);

// What a change does, in the operator's words: "stores the settings in FILE", "restores FILE
// from NAME" (a copy onto FILE from FILE plus an ending), "backs up FILE to NAME" (a copy of
// FILE to FILE plus an ending), else "copies FROM to TO".
std::string DescribeChange(const zaf::FileChange& change);

// "store-settings", "restore", "back-up" or "copy", as DescribeChange tells them apart.
const char* ChangeAction(const zaf::FileChange& change);

}  // namespace wassetup
