// The backend of `wassetup ui` driving the live plug-in as the page does (the server itself is
// tried in ui_server_test.cpp).

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "backend_fixture.h"
#include "tool_runner.h"

namespace qimtest {
namespace {

using Json = nlohmann::ordered_json;

// The backend on a live session with the real module, as the page's calls reach it.
class UiBackendTest : public LiveBackendTest {};

TEST_F(UiBackendTest, BrowseOkFillsTheEditorOfItsRowAndCancelDoesNot) {
  const Json before = Widget("MQSEditor")["text"];
  ASSERT_EQ(backend_->Press(Request("BrowseMQS")).status, 200);
  ASSERT_EQ(backend_->CloseChooser(nlohmann::json::object(), false).status, 200);
  EXPECT_EQ(Widget("MQSEditor")["text"], before);

  ASSERT_EQ(backend_->Press(Request("BrowseMQS")).status, 200);
  const Json chooser = backend_->Form().body["chooser"];
  ASSERT_TRUE(chooser.is_object());
  const nlohmann::json ok = {{"id", chooser["id"].get<std::uint64_t>()}, {"path", dir_.path()}};
  ASSERT_EQ(backend_->CloseChooser(ok, true).status, 200);
  EXPECT_EQ(Widget("MQSEditor")["text"], dir_.path());
}

TEST_F(UiBackendTest, ValidateNamesThePageOfTheFirstBlankField) {
  session_->plugin().SetUserInterfaceFields(
      MakeList({"qimdirrt", "mqpass", "databasePassword", "smtp", "nuvserver", "qimip", "nuvip",
                "fmcip"}),
      MakeList({dir_.path().c_str(), "m", "d", "mail", "nuv", "1", "2", "3"}));
  EXPECT_EQ(backend_->Validate().body["valid"], true);
  ASSERT_EQ(backend_->Type(Request("DatabasePortEditor", "")).status, 200);
  const Json verdict = backend_->Validate().body;
  EXPECT_EQ(verdict["page"]["name"], "QIMDatabasePage");
  EXPECT_NE(verdict["text"].get<std::string>().find("Database port"), npos) << verdict;
}

TEST_F(UiBackendTest, APasswordTypedReachesThePlugInButIsNeverSent) {
  ASSERT_EQ(backend_->Type(Request("DatabasePasswordEditor", "hunter2-secret")).status, 200);
  EXPECT_EQ(Widget("DatabasePasswordEditor")["text"], "********");
  for (const wassetup::UiReply& reply :
       {backend_->Form(), backend_->Plan(), backend_->Validate()}) {
    EXPECT_EQ(reply.body.dump().find("hunter2-secret"), npos) << reply.body.dump();
  }
  ASSERT_EQ(backend_->Save().status, 200);
  EXPECT_NE(ReadFile(session_->preferenceFile()).find("\"hunter2-secret\""), npos);
}

// Pretends to run each command: prints one line naming its last argument, and fails (exit 3)
// on the launch numbered `failAt` (from 0).
class ScriptedLauncher : public wassetup::ProcessLauncher {
 public:
  explicit ScriptedLauncher(int failAt) : failAt_(failAt) {}

  wassetup::ProcessResult Launch(const std::vector<std::string>& argv,
                                 const wassetup::LineFilter& filter) override {
    filter("ran " + argv.back());
    wassetup::ProcessResult result;
    result.started = true;
    result.exitStatus = launches_++ == failAt_ ? 3 : 0;
    return result;
  }

 private:
  int failAt_;
  int launches_ = 0;
};

TEST_F(UiBackendTest, DeployFollowsTheRunStepByStepAndResumesFromTheFailedStep) {
  session_->plugin().SetUserInterfaceFields(
      MakeList({"qimdirrt", "mqpass", "databasePassword", "smtp", "nuvserver", "qimip", "nuvip",
                "fmcip"}),
      MakeList({dir_.path().c_str(), "mq-pw", "db-pw", "mail", "nuv", "1", "2", "3"}));
  ScriptedLauncher launcher(/*failAt=*/4);
  wassetup::UiBackend backend(*session_, &launcher);
  const auto waitForEnd = [&backend] {
    Json progress = backend.DeployProgress().body;
    for (int attempt = 0; attempt < 500 && progress["state"] == "running"; ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      progress = backend.DeployProgress().body;
    }
    return progress;
  };

  ASSERT_EQ(backend.StartDeploy(nlohmann::json::object()).status, 200);
  const Json failed = waitForEnd();
  EXPECT_EQ(failed["state"], "failed");
  EXPECT_EQ(failed["failure"]["tag"], "java_nuvdef");
  EXPECT_EQ(failed["failure"]["title"], "QIM setup step failed");
  EXPECT_EQ(failed["steps"][3]["status"], "done");
  EXPECT_EQ(failed["steps"][4]["status"], "failed");
  EXPECT_EQ(failed["steps"][5]["status"], "pending");
  EXPECT_NE(failed["steps"][4]["line"].get<std::string>().find("nuvdef"), npos);
  EXPECT_EQ(failed["output"].back(), "ran nuvdef");
  EXPECT_EQ(backend.Type(Request("SMTPEditor", "x")).status, 200) << "the form takes input again";

  ASSERT_EQ(backend.StartDeploy({{"startAt", "java_nuvdef"}}).status, 200);
  const Json resumed = waitForEnd();
  EXPECT_EQ(resumed["state"], "finished");
  EXPECT_EQ(resumed["message"], "Deployment finished: 9 of 13 commands run from java_nuvdef.");
  EXPECT_EQ(resumed["steps"][0]["status"], "not-run");
  EXPECT_EQ(resumed["steps"][4]["status"], "done");
  EXPECT_EQ(backend.StartDeploy({{"startAt", "no_such_tag"}}).status, 400);
}

}  // namespace
}  // namespace qimtest
