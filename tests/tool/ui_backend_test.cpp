// The backend of `wassetup ui` on a live session with the real module: the widget tree it
// sends, the operator's actions, the folder listing, the host's buttons and the deployment.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tool/ui_backend.h"

namespace qimtest {
namespace {

using wassetup::UiBackend;
using wassetup::UiReply;
using Json = nlohmann::json;

class UiBackendTest : public ::testing::Test {
 protected:
  UiBackendTest() {
    options_.pluginPath = QIM_MODULE_PATH;
    options_.catalogDir = QIM_SOURCE_CATALOG_DIR;
    options_.prefsDir = dir_.File("prefs");
    mkdir(options_.prefsDir.c_str(), 0700);
    session_ = std::make_unique<wassetup::Session>(options_);
  }

  void Use(wassetup::CommandRunner runner) {
    backend_ = std::make_unique<UiBackend>(*session_, std::move(runner));
  }

  UiBackend& backend() {
    if (!backend_) {
      Use({});
    }
    return *backend_;
  }

  Json FormDoc() {
    const UiReply reply = backend().Form();
    EXPECT_EQ(reply.status, 200);
    return Json::parse(reply.body.dump());
  }

  Json Widget(const std::string& name) {
    const Json form = FormDoc();
    for (const Json& widget : form["widgets"]) {
      if (widget["name"] == name) {
        return widget;
      }
    }
    ADD_FAILURE() << "no widget " << name;
    return Json();
  }

  Json Id(const std::string& name) { return Json{{"id", Widget(name)["id"]}}; }

  // The settings a deployment needs, as `wassetup set` gives them.
  void MakeValid() {
    mkdir(dir_.File("runtime").c_str(), 0700);
    const std::string runtime = dir_.File("runtime");
    session_->plugin().SetUserInterfaceFields(
        MakeList({"qimdirrt", "mqpass", "databasePassword", "smtp", "nuvserver", "qimip", "nuvip",
                  "fmcip", "enableCT"}),
        MakeList({runtime.c_str(), "mq-pw", "db-pw", "mail", "nuv", "10.0.0.1", "10.0.0.2",
                  "10.0.0.3", "true"}));
  }

  // Polls the deployment until it is no longer running.
  Json WaitForDeploy() {
    for (int attempt = 0; attempt < 500; ++attempt) {
      const Json progress = Json::parse(backend().DeployProgress().body.dump());
      if (progress["state"] != "running") {
        return progress;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "the deployment did not end";
    return Json();
  }

  TempDir dir_;
  wassetup::GlobalOptions options_;
  std::unique_ptr<wassetup::Session> session_;
  std::unique_ptr<UiBackend> backend_;
};

TEST_F(UiBackendTest, FormGivesEveryWidgetAnIdAndItsFatherAndNoChooserAtFirst) {
  const Json form = FormDoc();
  EXPECT_EQ(form["plugin"], "QimSetup");
  EXPECT_EQ(form["chooser"], nullptr);
  EXPECT_EQ(form["deploying"], false);
  std::set<std::uint64_t> ids;
  std::vector<std::string> pages;
  for (const Json& widget : form["widgets"]) {
    EXPECT_TRUE(ids.insert(widget["id"].get<std::uint64_t>()).second) << widget["name"];
    if (widget["parentId"].is_null()) {
      pages.push_back(widget["name"]);
    } else {
      EXPECT_EQ(ids.count(widget["parentId"].get<std::uint64_t>()), 1u)
          << widget["name"] << ": the father comes first, in creation order";
    }
  }
  EXPECT_EQ(ids.size(), 77u);
  EXPECT_EQ(pages,
            (std::vector<std::string>{"QIMSetupPage", "QIMDatabasePage", "QIMMessageQueuesPage"}));
  EXPECT_EQ(Widget("DatabasePasswordEditor")["masked"], true);
  EXPECT_EQ(Widget("DatabaseUserEditor")["masked"], false);
}

TEST_F(UiBackendTest, APasswordTypedIsHandedOverButNeverSentBack) {
  // The stored default is one blank: no password yet.
  EXPECT_EQ(Widget("DatabasePasswordEditor")["text"], "");
  Json request = Id("DatabasePasswordEditor");
  request["text"] = "hunter2-secret";
  ASSERT_EQ(backend().Type(request).status, 200);
  EXPECT_EQ(Widget("DatabasePasswordEditor")["text"], "********");
  EXPECT_EQ(backend().Form().body.dump().find("hunter2-secret"), std::string::npos);
  EXPECT_EQ(backend().Plan().body.dump().find("hunter2-secret"), std::string::npos);
  // The plug-in has it.
  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;
  session_->ReadSettings(keys, values);
  const std::vector<std::string> stored = ToVector(values);
  EXPECT_NE(std::find(stored.begin(), stored.end(), "hunter2-secret"), stored.end());
}

TEST_F(UiBackendTest, TypingChangesTheEditorAndTheSettings) {
  Json request = Id("SMTPEditor");
  request["text"] = "mail.example";
  ASSERT_EQ(backend().Type(request).status, 200);
  EXPECT_EQ(Widget("SMTPEditor")["text"], "mail.example");
}

TEST_F(UiBackendTest, UncheckingTheEnableBoxGreysTheFramesAndTheyTakeNoInput) {
  ASSERT_EQ(Widget("EnableQimPlugIn")["state"], "checked");
  ASSERT_EQ(backend().Toggle(Id("EnableQimPlugIn")).status, 200);
  EXPECT_EQ(Widget("EnableQimPlugIn")["state"], "unchecked");
  for (const char* name : {"QimSetupFrame", "DatabaseFrame", "MessageQueuesFrame", "QIMRTEditor",
                           "NUVPortEditor", "EnableCreateDatabase"}) {
    EXPECT_EQ(Widget(name)["usable"], false) << name;
  }
  Json typed = Id("SMTPEditor");
  typed["text"] = "x";
  EXPECT_EQ(backend().Type(typed).status, 409);
  EXPECT_EQ(backend().Press(Id("BrowseQIMRT")).status, 409);
  EXPECT_EQ(backend().Toggle(Id("EnableCreateDatabase")).status, 409);
  EXPECT_EQ(FormDoc()["chooser"], nullptr);

  ASSERT_EQ(backend().Toggle(Id("EnableQimPlugIn")).status, 200);
  EXPECT_EQ(Widget("QIMRTEditor")["usable"], true);
}

TEST_F(UiBackendTest, BadRequestsAreRefusedWithTheirReason) {
  EXPECT_EQ(backend().Toggle(Json::object()).status, 400) << "no id";
  EXPECT_EQ(backend().Toggle(Json{{"id", -3}}).status, 400) << "no id of a widget";
  EXPECT_EQ(backend().Toggle(Json{{"id", 999999}}).status, 404);
  EXPECT_EQ(backend().Toggle(Id("SMTPEditor")).status, 400) << "an editor is no check button";
  EXPECT_EQ(backend().Press(Id("SMTPLabel")).status, 400);
  EXPECT_EQ(backend().Type(Id("SMTPEditor")).status, 400) << "no text";
  Json typed = Id("BrowseQIMRT");
  typed["text"] = "x";
  const UiReply wrong = backend().Type(typed);
  EXPECT_EQ(wrong.status, 400);
  EXPECT_NE(wrong.body["error"].get<std::string>().find("BrowseQIMRT"), std::string::npos);
}

TEST_F(UiBackendTest, BrowseOpensAChooserThatOkFillsTheEditorOfItsRowWith) {
  const std::string chosen = dir_.File("chosen");
  mkdir(chosen.c_str(), 0700);
  ASSERT_EQ(backend().Press(Id("BrowseMQS")).status, 200);
  const Json chooser = FormDoc()["chooser"];
  ASSERT_TRUE(chooser.is_object());
  EXPECT_EQ(chooser["name"], "BrowseMqs");
  // The editor holds a Windows path that is no folder here: the chooser starts at home or /.
  EXPECT_EQ(chooser["start"], wassetup::ChooserStart(""));

  // While it is open the form takes nothing else.
  EXPECT_EQ(backend().Press(Id("BrowseQIM")).status, 409);
  EXPECT_EQ(backend().Toggle(Id("EnableQimPlugIn")).status, 409);
  EXPECT_EQ(backend()
                .CloseChooser(
                    Json{{"id", chooser["id"].get<std::uint64_t>() + 1}, {"path", chosen}}, true)
                .status,
            409)
      << "another chooser";
  EXPECT_EQ(backend().CloseChooser(Json{{"id", chooser["id"]}}, true).status, 400) << "no path";

  ASSERT_EQ(backend().CloseChooser(Json{{"id", chooser["id"]}, {"path", chosen}}, true).status,
            200);
  EXPECT_EQ(FormDoc()["chooser"], nullptr);
  EXPECT_EQ(Widget("MQSEditor")["text"], chosen);

  // The next one starts in the folder chosen; Cancel changes nothing.
  ASSERT_EQ(backend().Press(Id("BrowseMQS")).status, 200);
  EXPECT_EQ(FormDoc()["chooser"]["start"], chosen);
  ASSERT_EQ(backend().CloseChooser(Json::object(), false).status, 200);
  EXPECT_EQ(FormDoc()["chooser"], nullptr);
  EXPECT_EQ(Widget("MQSEditor")["text"], chosen);
  EXPECT_EQ(backend().CloseChooser(Json::object(), false).status, 409) << "none is open";
}

TEST_F(UiBackendTest, FoldersListsSubfoldersSortedWithoutFilesOrHiddenOnes) {
  for (const char* name : {"list", "list/beta", "list/Alpha", "list/.hidden", "list/gamma"}) {
    mkdir(dir_.File(name).c_str(), 0700);
  }
  WriteFile(dir_.File("list/file"), "x");
  ASSERT_EQ(symlink(dir_.File("list/gamma").c_str(), dir_.File("list/link-to-gamma").c_str()), 0);

  Json listing = Json::parse(backend().Folders(dir_.File("list"), false).body.dump());
  EXPECT_EQ(listing["path"], dir_.File("list"));
  EXPECT_EQ(listing["parent"], dir_.path());
  EXPECT_EQ(listing["folders"], Json({"Alpha", "beta", "gamma", "link-to-gamma"}));
  EXPECT_EQ(listing["truncated"], false);
  listing = Json::parse(backend().Folders(dir_.File("list"), true).body.dump());
  EXPECT_EQ(listing["folders"][0], ".hidden");

  // Paths are made plain; the root has no parent.
  listing = Json::parse(backend().Folders(dir_.File("list/beta/../gamma/"), false).body.dump());
  EXPECT_EQ(listing["path"], dir_.File("list/gamma"));
  listing = Json::parse(backend().Folders("/", false).body.dump());
  EXPECT_EQ(listing["path"], "/");
  EXPECT_EQ(listing["parent"], nullptr);

  EXPECT_EQ(backend().Folders("relative/path", false).status, 400);
  EXPECT_EQ(backend().Folders(dir_.File("list/file"), false).status, 404);
  EXPECT_EQ(backend().Folders(dir_.File("missing"), false).status, 404);
  EXPECT_EQ(backend().Folders("", false).body["path"], wassetup::ChooserStart(""));
}

TEST_F(UiBackendTest, ChooserStartsInItsFolderElseHomeElseTheRoot) {
  const char* savedHome = std::getenv("HOME");
  const std::string home = savedHome != nullptr ? savedHome : "";
  setenv("HOME", dir_.path().c_str(), 1);
  EXPECT_EQ(wassetup::ChooserStart(dir_.path() + "/"), dir_.path());
  EXPECT_EQ(wassetup::ChooserStart("  " + dir_.path() + " "), dir_.path()) << "blanks around";
  EXPECT_EQ(wassetup::ChooserStart(" "), dir_.path());
  EXPECT_EQ(wassetup::ChooserStart("C:\\Program Files\\QIM"), dir_.path());
  setenv("HOME", dir_.File("missing").c_str(), 1);
  EXPECT_EQ(wassetup::ChooserStart(""), "/");
  unsetenv("HOME");
  EXPECT_EQ(wassetup::ChooserStart(""), "/");
  if (savedHome != nullptr) {
    setenv("HOME", home.c_str(), 1);
  }
}

TEST_F(UiBackendTest, ValidateNamesThePageAndTheFieldInPlainWords) {
  const Json verdict = Json::parse(backend().Validate().body.dump());
  EXPECT_EQ(verdict["valid"], false);
  EXPECT_EQ(verdict["page"]["name"], "QIMSetupPage");
  EXPECT_EQ(verdict["page"]["title"], "QIM Setup");
  // The blank that stands for "no password" masks nothing in the message.
  EXPECT_NE(verdict["text"].get<std::string>().find("'QIM run-time directory'"), std::string::npos)
      << verdict["text"];

  MakeValid();
  EXPECT_EQ(Json::parse(backend().Validate().body.dump()), Json({{"valid", true}}));
  Json blank = Id("DatabasePortEditor");
  blank["text"] = "";
  ASSERT_EQ(backend().Type(blank).status, 200);
  const Json port = Json::parse(backend().Validate().body.dump());
  EXPECT_EQ(port["page"]["name"], "QIMDatabasePage");
  EXPECT_NE(port["text"].get<std::string>().find("Database port"), std::string::npos);
}

TEST_F(UiBackendTest, SaveStoresTheSettingsInThePreferenceFile) {
  Json typed = Id("SMTPEditor");
  typed["text"] = "stored.example";
  ASSERT_EQ(backend().Type(typed).status, 200);
  const UiReply saved = backend().Save();
  ASSERT_EQ(saved.status, 200) << saved.body.dump();
  EXPECT_EQ(saved.body["file"], session_->preferenceFile());
  EXPECT_NE(ReadFile(session_->preferenceFile()).find("stored.example"), std::string::npos);
}

TEST_F(UiBackendTest, DeployRunsEachStepAndStopsAtTheFirstFailureWithThePlugInsMessage) {
  MakeValid();
  std::vector<std::vector<std::string>> runs;
  Use([&runs](const std::vector<std::string>& argv, const wassetup::LineFilter& filter) {
    runs.push_back(argv);
    wassetup::ProcessResult result;
    result.started = true;
    result.exitStatus = 0;
    for (const std::string& argument : argv) {
      if (argument == "nuvdef") {
        filter("connecting with db-pw");
        result.exitStatus = 3;
        result.lastErrorLine = filter("refused for db-pw");
      }
    }
    return result;
  });
  const UiReply started = backend().StartDeploy(Json::object());
  ASSERT_EQ(started.status, 200) << started.body.dump();
  const Json failed = WaitForDeploy();
  EXPECT_EQ(failed["state"], "failed");
  ASSERT_EQ(failed["steps"].size(), 14u);
  EXPECT_EQ(failed["steps"][3]["status"], "done");
  EXPECT_EQ(failed["steps"][4]["tag"], "java_nuvdef");
  EXPECT_EQ(failed["steps"][4]["status"], "failed");
  EXPECT_EQ(failed["steps"][5]["status"], "pending");
  EXPECT_EQ(runs.size(), 5u) << "nothing runs after the failure";
  EXPECT_EQ(failed["failure"]["tag"], "java_nuvdef");
  EXPECT_NE(failed["failure"]["text"].get<std::string>().find(
                "Writing the NUV queue-manager definition failed"),
            std::string::npos)
      << failed["failure"];
  EXPECT_EQ(failed["failure"]["detail"], "exit status 3: refused for ********");
  EXPECT_EQ(failed["output"], Json({"connecting with ********", "refused for ********"}));
  EXPECT_EQ(failed.dump().find("db-pw"), std::string::npos);
  bool passwordReachedTheCommand = false;
  for (const auto& argv : runs) {
    passwordReachedTheCommand |= std::find(argv.begin(), argv.end(), "db-pw") != argv.end();
  }
  EXPECT_TRUE(passwordReachedTheCommand);

  runs.clear();
  ASSERT_EQ(backend().StartDeploy(Json{{"startAt", "java_fmcdef"}}).status, 200);
  const Json finished = WaitForDeploy();
  EXPECT_EQ(finished["state"], "finished");
  EXPECT_EQ(finished["steps"][4]["status"], "not-run");
  EXPECT_EQ(finished["steps"][13]["status"], "done");
  EXPECT_EQ(runs.size(), 9u);
  EXPECT_NE(finished["message"].get<std::string>().find("9 of 14"), std::string::npos);

  EXPECT_EQ(backend().StartDeploy(Json{{"startAt", "no_such_tag"}}).status, 400);
  EXPECT_EQ(backend().StartDeploy(Json{{"startAt", 5}}).status, 400);
}

TEST_F(UiBackendTest, InvalidSettingsRunNothing) {
  int runs = 0;
  Use([&runs](const std::vector<std::string>&, const wassetup::LineFilter&) {
    ++runs;
    return wassetup::ProcessResult{};
  });
  const Json progress = Json::parse(backend().StartDeploy(Json::object()).body.dump());
  EXPECT_EQ(progress["state"], "invalid");
  EXPECT_EQ(progress["validation"]["page"]["name"], "QIMSetupPage");
  EXPECT_EQ(runs, 0);
}

// A runner that holds each command until the test lets it go.
class Gate {
 public:
  wassetup::ProcessResult Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++entered_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
    wassetup::ProcessResult result;
    result.started = true;
    result.exitStatus = 0;
    return result;
  }
  void WaitUntilEntered(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    ASSERT_TRUE(changed_.wait_for(lock, std::chrono::seconds(10),
                                  [this, count] { return entered_ >= count; }));
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  int entered() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entered_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int entered_ = 0;
  bool open_ = false;
};

TEST_F(UiBackendTest, WhileADeploymentRunsTheFormFollowsItButTakesNoInput) {
  MakeValid();
  Gate gate;
  Use([&gate](const std::vector<std::string>&, const wassetup::LineFilter&) { return gate.Run(); });
  ASSERT_EQ(backend().StartDeploy(Json::object()).status, 200);
  gate.WaitUntilEntered(1);

  const Json form = FormDoc();  // the session is not held while a command runs
  EXPECT_EQ(form["deploying"], true);
  const Json progress = Json::parse(backend().DeployProgress().body.dump());
  EXPECT_EQ(progress["state"], "running");
  EXPECT_EQ(progress["steps"][0]["status"], "running");
  EXPECT_NE(progress["steps"][0]["line"].get<std::string>().find("QIMFilesCp.bat"),
            std::string::npos);
  Json typed = Id("SMTPEditor");
  typed["text"] = "x";
  EXPECT_EQ(backend().Type(typed).status, 409);
  EXPECT_EQ(backend().Toggle(Id("EnableQimPlugIn")).status, 409);
  EXPECT_EQ(backend().StartDeploy(Json::object()).status, 409);
  EXPECT_EQ(backend().Validate().status, 200) << "reading the form is fine";

  gate.Open();
  EXPECT_EQ(WaitForDeploy()["state"], "finished");
  EXPECT_EQ(backend().Type(typed).status, 200);
}

TEST_F(UiBackendTest, StoppingLetsTheRunningCommandEndAndStartsNoOther) {
  MakeValid();
  Gate gate;
  Use([&gate](const std::vector<std::string>&, const wassetup::LineFilter&) { return gate.Run(); });
  ASSERT_EQ(backend().StartDeploy(Json::object()).status, 200);
  gate.WaitUntilEntered(1);
  std::thread stopper([this] { backend().StopDeploy(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  gate.Open();
  stopper.join();
  const Json progress = Json::parse(backend().DeployProgress().body.dump());
  EXPECT_EQ(progress["state"], "stopped");
  EXPECT_EQ(progress["steps"][0]["status"], "done");
  EXPECT_EQ(progress["steps"][1]["status"], "pending");
  EXPECT_EQ(gate.entered(), 1);
}

}  // namespace
}  // namespace qimtest
