#pragma once
// The tool's commands. Each runs on a session (the module loaded and the form built) and
// returns its Outcome; what stops it throws ToolError (exit status 2: bad usage or an unusable
// environment).

#include <optional>
#include <string>
#include <vector>

#include "core/session.h"

namespace wassetup {

struct SetOptions {
  std::vector<std::string> assignments;  // KEY=VALUE, or one KEY whose value comes from stdin
  std::string fromFile;                  // a document written by `get --json`; "-" is stdin
  bool dryRun = false;                   // report what would change and store nothing
};

struct BrowseOptions {
  std::string button;
  std::string directory;
  bool cancel = false;
};

struct DeployOptions {
  std::string startAt;
  std::string logFile;
  bool json = false;  // one document of the run on stdout (or --output); progress on stderr
  std::vector<std::string> runArguments;  // what the resume command repeats (DeployRequest)
};

Outcome RunInfo(Session& session, bool json);
Outcome RunShow(Session& session, bool json);
Outcome RunGet(Session& session, bool json);
Outcome RunSet(Session& session, const SetOptions& options, bool json);
Outcome RunToggle(Session& session, const std::string& name);
Outcome RunBrowse(Session& session, const BrowseOptions& options);
Outcome RunValidate(Session& session, bool json);
// `fromFile` (a document as `get --json` writes it, "-" for stdin) is applied to the form in
// memory first: the plan of settings that are not stored, with nothing stored.
Outcome RunPlan(Session& session, bool json, const std::string& fromFile);
Outcome RunDeploy(Session& session, const DeployOptions& options);

// Applies the settings document `file` ("-" for stdin) to the form without storing it. Unknown
// keys and malformed documents are refused as `set` refuses them.
void ApplySettingsDocument(Session& session, const std::string& file);

// Writes a JSON document to --output FILE, or to stdout.
void WriteDocument(const Session& session, const std::string& document);

// True when stdout is a terminal and NO_COLOR is not set.
bool UseColor();

}  // namespace wassetup
