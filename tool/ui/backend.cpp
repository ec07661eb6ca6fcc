#include "ui/backend.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "core/deploy_text.h"
#include "core/documents.h"
#include "core/widget_view.h"
#include "host/platform/signals.h"
#include "host/platform/user_folders.h"
#include "host/utf8.h"
#include "host/zaf_host.h"

namespace wassetup {

namespace fs = std::filesystem;

namespace {

using Json = nlohmann::ordered_json;

// At most this many folders are listed; a larger folder is cut and marked "truncated".
constexpr std::size_t kMaxFolders = 5000;
// The deployment keeps the last lines its commands printed, for the page.
constexpr std::size_t kMaxOutputLines = 400;
// The longest a Save in the dialog waits for another process's settings lock.
constexpr std::chrono::milliseconds kDialogLockTimeout{3000};

UiReply Refuse(int status, const std::string& why) {
  return UiReply{status, Json{{"error", why}}};
}

UiReply Done() {
  return UiReply{200, Json{{"done", true}}};
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) {
    return "";
  }
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// An absolute path without "." and ".." parts and without a trailing separator but a root's.
// Paths travel as UTF-8 (u8path, u8string), which Windows' own encoding need not be.
fs::path NormalFolder(const fs::path& path) {
  fs::path normal = path.lexically_normal();
  return normal.has_filename() || normal == normal.root_path() ? normal : normal.parent_path();
}

std::string Utf8(const fs::path& path) {
  return path.u8string();
}

bool IsFolder(const fs::path& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

ZAFDlgFile* OpenChooser(ZAFDlgTabContainer& form) {
  ZAFDlgFile* newest = nullptr;
  form.ForEachDescendantOfType<ZAFDlgFile>([&newest](ZAFDlgFile& chooser) { newest = &chooser; });
  return newest;
}

// The request's "id": a widget's creation index, a whole number from 0.
bool WidgetId(const nlohmann::json& request, std::uint64_t& id) {
  if (!request.is_object() || !request.contains("id") || !request["id"].is_number_integer() ||
      (!request["id"].is_number_unsigned() && request["id"].get<std::int64_t>() < 0)) {
    return false;
  }
  id = request["id"].get<std::uint64_t>();
  return true;
}

std::string TitleOrName(const ZAFDialog& widget) {
  return widget.HasTitle() ? widget.GetTitle().str() : widget.GetResourceName().str();
}

// {"id", "name", "title"}: the page the plug-in names, for the page to switch to.
Json PageDocument(const ZAFDlgTabPage& page) {
  return Json{{"id", page.GetCreationIndex()},
              {"name", page.GetResourceName().str()},
              {"title", TitleOrName(page)}};
}

}  // namespace

std::string ChooserStart(const std::string& directory) {
  const std::string trimmed = Trimmed(directory);
  if (!trimmed.empty()) {
    std::error_code error;
    const fs::path absolute = fs::absolute(fs::u8path(trimmed), error);
    if (!error && IsFolder(absolute)) {
      return Utf8(NormalFolder(absolute));
    }
  }
  const fs::path home = fs::u8path(zaf::platform::UserHomeFolder());
  if (home.is_absolute() && IsFolder(home)) {
    return Utf8(NormalFolder(home));
  }
  return zaf::platform::FileSystemRoots().front();
}

UiBackend::UiBackend(Session& session, ProcessLauncher* launcher)
    : session_(session), launcher_(launcher != nullptr ? launcher : &systemLauncher_) {
  ZAFUnicodeString name;
  session_.plugin().GetSymbolicName(name);
  pluginName_ = name.str();
  // The page waits for Save's answer and every other request waits for the session, so a save
  // in the dialog gives up on another process's settings lock within seconds and answers with
  // the error instead of freezing the page.
  const auto configured = std::chrono::milliseconds(
      std::llround(std::max(0.0, session_.options().lockTimeoutSeconds) * 1000.0));
  zaf::SetPreferenceLockTimeout(std::min(configured, kDialogLockTimeout));
}

UiBackend::~UiBackend() {
  StopDeploy();
}

std::string UiBackend::Busy() {
  {
    std::lock_guard<std::mutex> lock(deployMutex_);
    if (deploy_.Running()) {
      return "a deployment is running: the form takes no input until it ends";
    }
  }
  if (OpenChooser(session_.form()) != nullptr) {
    return "a folder chooser is open: close it first";
  }
  return "";
}

ZAFDialog* UiBackend::FindWidget(const nlohmann::json& request, std::string& error) {
  std::uint64_t id = 0;
  if (!WidgetId(request, id)) {
    error = "the request needs the widget's \"id\"";
    return nullptr;
  }
  for (ZAFDialog* widget : session_.form().GetDescendants()) {
    if (widget->GetCreationIndex() == id) {
      return widget;
    }
  }
  error = "no widget " + std::to_string(id);
  return nullptr;
}

namespace {

// The widget of the request when it is a `Widget` that takes input now; else a refusal.
template <typename Widget>
Widget* Target(const FormModel& model, ZAFDialog* widget, const std::string& findError,
               const char* what, UiReply& refusal) {
  if (widget == nullptr) {
    refusal = Refuse(findError.rfind("no widget", 0) == 0 ? 404 : 400, findError);
    return nullptr;
  }
  auto* typed = dynamic_cast<Widget*>(widget);
  if (typed == nullptr) {
    refusal = Refuse(400, widget->GetResourceName().str() + " is no " + what);
    return nullptr;
  }
  if (const std::string greyed = model.GreyedOutReason(*typed); !greyed.empty()) {
    refusal = Refuse(409, greyed);
    return nullptr;
  }
  return typed;
}

}  // namespace

UiReply UiBackend::Form() {
  std::lock_guard<std::mutex> lock(sessionMutex_);
  ZAFDlgTabContainer& form = session_.form();
  // The page never gets a password, whatever --show-secrets says.
  Json document = FormDocument(form, /*reveal=*/false, /*forDialog=*/true);
  Json chooser = nullptr;
  if (const ZAFDlgFile* open = OpenChooser(form)) {
    chooser = Json{{"id", open->GetCreationIndex()},
                   {"name", open->GetResourceName().str()},
                   {"title", open->HasTitle() ? Json(open->GetTitle().str()) : Json(nullptr)},
                   {"start", ChooserStart(open->GetDirectory().str())}};
  }
  document["plugin"] = pluginName_;
  document["chooser"] = std::move(chooser);
  {
    std::lock_guard<std::mutex> deployLock(deployMutex_);
    document["deploying"] = deploy_.Running();
  }
  return UiReply{200, std::move(document)};
}

template <typename Widget, typename Action>
UiReply UiBackend::ActOn(const nlohmann::json& request, const char* what, Action action) {
  std::lock_guard<std::mutex> lock(sessionMutex_);
  if (const std::string busy = Busy(); !busy.empty()) {
    return Refuse(409, busy);
  }
  std::string error;
  UiReply refusal;
  auto* widget = Target<Widget>(session_.model(), FindWidget(request, error), error, what, refusal);
  if (widget == nullptr) {
    return refusal;
  }
  action(*widget);
  return Done();
}

UiReply UiBackend::Type(const nlohmann::json& request) {
  if (!request.is_object() || !request.contains("text") || !request["text"].is_string()) {
    return Refuse(400, "the request needs the \"text\" typed");
  }
  const std::string text = request["text"].get<std::string>();
  return ActOn<ZAFDlgEditor>(request, "editor",
                             [&text](ZAFDlgEditor& editor) { editor.Type(text); });
}

UiReply UiBackend::Toggle(const nlohmann::json& request) {
  return ActOn<ZAFDlgCheckButton>(request, "check button",
                                  [](ZAFDlgCheckButton& button) { button.Toggle(); });
}

UiReply UiBackend::Press(const nlohmann::json& request) {
  return ActOn<ZAFDlgPushButton>(request, "push button",
                                 [](ZAFDlgPushButton& button) { button.Press(); });
}

UiReply UiBackend::CloseChooser(const nlohmann::json& request, bool ok) {
  std::lock_guard<std::mutex> lock(sessionMutex_);
  ZAFDlgFile* chooser = OpenChooser(session_.form());
  if (chooser == nullptr) {
    return Refuse(409, "no folder chooser is open");
  }
  std::uint64_t id = 0;
  if (request.is_object() && request.contains("id") &&
      (!WidgetId(request, id) || id != chooser->GetCreationIndex())) {
    return Refuse(409, "that folder chooser is closed already");
  }
  if (!ok) {
    chooser->CloseCancel();
    return Done();
  }
  if (!request.is_object() || !request.contains("path") || !request["path"].is_string()) {
    return Refuse(400, "the request needs the chosen \"path\"");
  }
  // The chooser may be destroyed by the time CloseOK returns.
  chooser->CloseOK(request["path"].get<std::string>());
  return Done();
}

UiReply UiBackend::Folders(const std::string& path, bool hidden) {
  std::string start = path;
  if (start.empty()) {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    const ZAFDlgFile* chooser = OpenChooser(session_.form());
    start = ChooserStart(chooser != nullptr ? chooser->GetDirectory().str() : "");
  }
  const fs::path requested = fs::u8path(start);
  if (!requested.is_absolute()) {
    return Refuse(400, "'" + start + "' is not an absolute path");
  }
  const fs::path folder = NormalFolder(requested);
  if (!IsFolder(folder)) {
    return Refuse(404, "'" + Utf8(folder) + "' is not a folder");
  }
  std::error_code error;
  fs::directory_iterator entries(folder, fs::directory_options::skip_permission_denied, error);
  if (error) {
    return Refuse(403, "cannot list '" + Utf8(folder) + "': " + error.message());
  }
  std::vector<std::string> names;
  bool truncated = false;
  for (const fs::directory_entry& entry : entries) {
    const std::string name = Utf8(entry.path().filename());
    // A name that is not UTF-8 cannot travel to the page and back unchanged.
    if ((!hidden && name.front() == '.') || !zaf::IsValidUtf8(name)) {
      continue;
    }
    std::error_code typeError;
    if (!entry.is_directory(typeError)) {
      continue;
    }
    if (names.size() == kMaxFolders) {
      truncated = true;
      break;
    }
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const auto lower = [](unsigned char c) { return std::tolower(c); };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&lower](char x, char y) { return lower(x) < lower(y); });
  });
  // A root has no parent; the page offers the other roots (Windows' drives) there instead.
  const bool root = folder == folder.root_path();
  return UiReply{
      200, Json{{"path", Utf8(folder)},
                {"parent", root ? Json(nullptr) : Json(Utf8(folder.parent_path()))},
                {"separator", std::string(1, static_cast<char>(fs::path::preferred_separator))},
                {"roots", root ? zaf::platform::FileSystemRoots() : std::vector<std::string>{}},
                {"folders", names},
                {"truncated", truncated}}};
}

UiReply UiBackend::Validate() {
  std::lock_guard<std::mutex> lock(sessionMutex_);
  return UiReply{
      200, ValidationDocument(wassetup::Validate(session_), /*withValid=*/true, PageDocument)};
}

UiReply UiBackend::Save() {
  std::lock_guard<std::mutex> lock(sessionMutex_);
  try {
    session_.StoreSettings();
  } catch (const ToolError& error) {
    return Refuse(500, error.what());
  }
  return UiReply{200, Json{{"file", session_.preferenceFile()}}};
}

UiReply UiBackend::Plan() {
  std::lock_guard<std::mutex> lock(sessionMutex_);
  return UiReply{200, PlanDocument(ComposePlan(session_, /*revealSecrets=*/false))};
}

// The page follows the run through DeployState: the run as of the runner's last event, and what
// the commands printed (the last lines).
class UiBackend::Progress : public DeployObserver {
 public:
  explicit Progress(UiBackend& backend) : backend_(backend) {}

  void StepChanged(const DeployRun& run, std::size_t /*index*/) override { Keep(run); }
  void Ended(const DeployRun& run) override { Keep(run); }

  void CommandOutput(const std::string& line) override {
    std::lock_guard<std::mutex> lock(backend_.deployMutex_);
    std::vector<std::string>& output = backend_.deploy_.output;
    output.push_back(line);
    if (output.size() > kMaxOutputLines) {
      output.erase(output.begin());
    }
  }

 private:
  void Keep(const DeployRun& run) {
    std::lock_guard<std::mutex> lock(backend_.deployMutex_);
    backend_.deploy_.run = run;
  }

  UiBackend& backend_;
};

UiReply UiBackend::StartDeploy(const nlohmann::json& request) {
  std::string startAt;
  if (request.is_object() && request.contains("startAt")) {
    if (!request["startAt"].is_string()) {
      return Refuse(400, "\"startAt\" is the tag of a command");
    }
    startAt = request["startAt"].get<std::string>();
  }
  {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    if (const std::string busy = Busy(); !busy.empty()) {
      return Refuse(409, busy);
    }
    // A thread that ran an earlier deployment has finished: its state is no longer running.
    if (deployThread_.joinable()) {
      deployThread_.join();
    }
    std::unique_ptr<DeployRunner> runner;
    try {
      runner = std::make_unique<DeployRunner>(session_, *launcher_,
                                              DeployRequest{startAt, /*revealSecrets=*/false, {}});
    } catch (const ToolError& error) {
      return Refuse(400, error.what());
    }
    const bool valid = runner->run().validation.page == nullptr;
    {
      std::lock_guard<std::mutex> deployLock(deployMutex_);
      deploy_ = DeployState{runner->run(), {}, ""};
      runner_ = std::move(runner);
    }
    if (valid) {
      deployThread_ = std::thread(&UiBackend::RunDeployment, this);
    } else {
      // Invalid settings run nothing and need no thread: the answer tells at once.
      Progress progress(*this);
      runner_->Run(progress);
    }
  }
  return DeployProgress();
}

bool UiBackend::DeployState::Running() const {
  return run && run->status == DeployStatus::kRunning && stoppedBy.empty();
}

UiReply UiBackend::DeployProgress() {
  std::lock_guard<std::mutex> lock(deployMutex_);
  const std::optional<DeployRun>& run = deploy_.run;
  Json steps = Json::array();
  for (std::size_t index = 0; run && index < run->steps.size(); ++index) {
    const Step& step = run->steps[index];
    steps.push_back(Json{{"tag", step.tagText},
                         {"status", index < run->first ? "not-run" : StepStateName(step.state)},
                         {"line", step.shown.line}});
  }
  const DeployStatus status = run ? run->status : DeployStatus::kRunning;
  Json validation = nullptr;
  Json failure = nullptr;
  std::string state = run ? DeployStatusName(status) : "idle";
  std::string message;
  if (status == DeployStatus::kInvalid) {
    validation = ValidationDocument(run->validation, /*withValid=*/false, PageDocument);
    message = "The settings are not valid: nothing was run.";
  } else if (status == DeployStatus::kFailed) {
    failure = Json{{"tag", run->ResumeTag()},
                   {"title", run->failure->title},
                   {"text", run->failure->text},
                   {"detail", run->failure->detail}};
    message = "The command " + run->ResumeTag() +
              " failed. After fixing the cause, resume the deployment from it.";
  } else if (status == DeployStatus::kInterrupted) {
    state = "stopped";
    message = CutOffDuringStep(*run)
                  ? "Stopped: " + run->ResumeTag() + " was interrupted."
                  : "Stopped before " + run->ResumeTag() + ": the tool is shutting down.";
  } else if (status == DeployStatus::kFinished) {
    message = FinishedLine(*run);
  }
  if (!deploy_.stoppedBy.empty()) {
    state = "failed";
    message = "The deployment stopped: " + deploy_.stoppedBy;
  }
  return UiReply{200, Json{{"state", state},
                           {"steps", std::move(steps)},
                           {"output", deploy_.output},
                           {"validation", std::move(validation)},
                           {"failure", std::move(failure)},
                           {"message", message}}};
}

void UiBackend::StopDeploy() {
  {
    std::lock_guard<std::mutex> lock(deployMutex_);
    if (runner_) {
      runner_->RequestStop();
    }
  }
  if (deployThread_.joinable()) {
    deployThread_.join();
  }
}

// The run goes as `wassetup deploy` does, and is printed as it does on the tool's own output;
// the page follows it through Progress.
void UiBackend::RunDeployment() {
  // Commands started from this thread inherit its signal mask: the server's threads block
  // SIGPIPE (a closed connection must not end the tool), the commands must not.
  zaf::platform::SetBrokenPipeSignalBlocked(false);
  Progress progress(*this);
  TextProgress text(std::cout, std::cerr);
  DeployObservers observers({&text, &progress});
  try {
    runner_->Run(observers, &sessionMutex_);
  } catch (const std::exception& error) {
    std::lock_guard<std::mutex> lock(deployMutex_);
    deploy_.stoppedBy = error.what();
  }
}

}  // namespace wassetup
