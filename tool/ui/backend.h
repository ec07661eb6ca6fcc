#pragma once
// What the setup dialog in the browser does to the live plug-in: the widget tree as JSON, the
// operator's actions as toolkit events, the folder listing of the directory chooser, and the
// host's buttons (validate, save, plan, deploy). The HTTP server calls it from several threads:
// every call that reaches the session holds the session's lock. A deployment runs in a thread
// of its own and holds the lock only while it talks to the plug-in, so the page can follow it.

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/deploy_runner.h"
#include "core/process.h"
#include "core/session.h"

namespace wassetup {

// An answer to the page: an HTTP status and a JSON body. A refusal has the body {"error": why}.
struct UiReply {
  int status = 200;
  nlohmann::ordered_json body;
};

class UiBackend {
 public:
  // The deployment starts its commands through `launcher` (null: the system's).
  explicit UiBackend(Session& session, ProcessLauncher* launcher = nullptr);
  // Lets a running deployment end its command and waits for it.
  ~UiBackend();
  UiBackend(const UiBackend&) = delete;
  UiBackend& operator=(const UiBackend&) = delete;

  // {"format_version", "widgets": [...], "plugin", "chooser", "deploying"}: the dialog's
  // FormDocument; "chooser" is the open directory chooser ({"id", "name", "title", "start"}) or
  // null. Passwords are never sent: a masked editor's text is "********" or empty.
  UiReply Form();

  // The operator's actions, by widget id. A greyed-out widget takes none (409, naming what
  // enables it); while a chooser is open or a deployment runs, the form takes none either (409).
  UiReply Type(const nlohmann::json& request);    // {"id", "text"}: ZAFDlgEditor::Type
  UiReply Toggle(const nlohmann::json& request);  // {"id"}: ZAFDlgCheckButton::Toggle
  UiReply Press(const nlohmann::json& request);   // {"id"}: ZAFDlgPushButton::Press
  // {"id", "path"}: closes the open chooser with OK on path, or with Cancel.
  UiReply CloseChooser(const nlohmann::json& request, bool ok);

  // {"path", "parent", "folders": [names], "truncated"}: the subfolders of the absolute `path`;
  // an empty path is where the open chooser starts (see ChooserStart). Names starting with a
  // dot are left out unless `hidden`.
  UiReply Folders(const std::string& path, bool hidden);

  // {"valid"} and, when not, {"page": {"id", "name", "title"}, "title", "text"}.
  UiReply Validate();
  // {"file"}: the settings stored through the plug-in.
  UiReply Save();
  // The plan of `wassetup plan --json`, secrets masked.
  UiReply Plan();
  // {"startAt"} (optional): validates, then runs the plan from that step in a thread of its
  // own; answers with the progress (see DeployProgress).
  UiReply StartDeploy(const nlohmann::json& request);
  // {"state": "idle"|"invalid"|"running"|"finished"|"failed"|"stopped", "steps": [{"tag",
  // "status", "line"}], "output": [lines], "validation", "failure", "message"}.
  UiReply DeployProgress();
  // Starts no further command of a running deployment and waits for the current one.
  void StopDeploy();

 private:
  // The deployment the page follows: its run as of the runner's last event (none before the
  // first), the last lines its commands printed, and the error that ended its thread, if any.
  struct DeployState {
    std::optional<DeployRun> run;
    std::vector<std::string> output;
    std::string stoppedBy;

    bool Running() const;
  };

  // Why the form takes no action now, or empty. Needs the session lock.
  std::string Busy();
  ZAFDialog* FindWidget(const nlohmann::json& request, std::string& error);
  // Runs `action` on the request's widget when it is a usable `Widget` and the form takes
  // input; else the refusal.
  template <typename Widget, typename Action>
  UiReply ActOn(const nlohmann::json& request, const char* what, Action action);
  // Keeps DeployState up to date as the runner goes.
  class Progress;

  // Runs the deployment that StartDeploy prepared, in the deployment's thread.
  void RunDeployment();

  Session& session_;
  SystemLauncher systemLauncher_;
  ProcessLauncher* launcher_;
  std::string pluginName_;
  std::mutex sessionMutex_;

  mutable std::mutex deployMutex_;
  DeployState deploy_;
  // The deployment that runs or ran last; replaced only once its thread has ended.
  std::unique_ptr<DeployRunner> runner_;
  std::thread deployThread_;
};

// Where a directory chooser starts: its directory when that is an existing folder, else the
// home folder, else /.
std::string ChooserStart(const std::string& directory);

}  // namespace wassetup
