// The backend of `wassetup ui` driving the live plug-in as the page does (the server itself is
// tried in ui_server_test.cpp).

#include <chrono>

#include "backend_fixture.h"

namespace qimtest {
namespace {

using Json = nlohmann::ordered_json;

class UiBackendTest : public LiveSessionTest {};

TEST_F(UiBackendTest, BrowseOkFillsTheEditorOfItsRowAndCancelDoesNot) {
  const Json before = Widget("MQSEditor")["text"];
  ASSERT_EQ(backend_->Press(Request("BrowseMQS")).status, 200);
  ASSERT_EQ(backend_->CloseChooser(nlohmann::json::object(), false).status, 200);
  EXPECT_EQ(Widget("MQSEditor")["text"], before);

  ASSERT_EQ(backend_->Press(Request("BrowseMQS")).status, 200);
  const Json chooser = backend_->Form().body["chooser"];
  ASSERT_TRUE(chooser.is_object());
  const nlohmann::json ok = {{"id", chooser["id"].get<std::uint64_t>()},
                             {"path", sandbox_.Folder()}};
  ASSERT_EQ(backend_->CloseChooser(ok, true).status, 200);
  EXPECT_EQ(Widget("MQSEditor")["text"], sandbox_.Folder());
}

TEST_F(UiBackendTest, AGreyedOutWidgetTakesNoActionAndStaysAsItWas) {
  ASSERT_EQ(backend_->Toggle(Request("EnableQimPlugIn")).status, 200);
  for (const wassetup::UiReply& reply :
       {backend_->Press(Request("BrowseQIMRT")), backend_->Toggle(Request("EnableCreateDatabase")),
        backend_->Type(Request("SMTPEditor", "x"))}) {
    EXPECT_EQ(reply.status, 409);
    EXPECT_THAT(reply.body["error"].get<std::string>(),
                HasSubstr(" is greyed out; checking EnableQimPlugIn"));
  }
  EXPECT_EQ(Widget("EnableQimPlugIn")["state"], "unchecked");
  for (const char* frame : {"QimSetupFrame", "DatabaseFrame", "MessageQueuesFrame"}) {
    EXPECT_EQ(Widget(frame)["usable"], false) << frame;
  }
}

TEST_F(UiBackendTest, ValidateNamesThePageOfTheFirstBlankField) {
  MakeValid();
  EXPECT_EQ(backend_->Validate().body["valid"], true);
  ASSERT_EQ(backend_->Type(Request("DatabasePortEditor", "")).status, 200);
  const Json verdict = backend_->Validate().body;
  EXPECT_EQ(verdict["page"]["name"], "QIMDatabasePage");
  EXPECT_THAT(verdict["text"].get<std::string>(), HasSubstr("Database port"));
}

// A password is masked by the field it is in, never by what it spells: a plain field that holds
// the same text shows it, and the dialog's plan is the command line's.
TEST_F(UiBackendTest, APasswordReachesThePlugInButNeverThePageAndPlainFieldsShowWhatTheyHold) {
  ASSERT_EQ(backend_->Type(Request("DatabasePasswordEditor", "hunter2-secret")).status, 200);
  EXPECT_EQ(Widget("DatabasePasswordEditor")["text"], "********");
  for (const wassetup::UiReply& reply :
       {backend_->Form(), backend_->Plan(), backend_->Validate()}) {
    EXPECT_THAT(reply.body.dump(), Not(HasSubstr("hunter2-secret")));
  }
  EXPECT_FALSE(FileExists(session_->preferenceFile())) << "the plan stored nothing";
  ASSERT_EQ(backend_->Save().status, 200);
  EXPECT_THAT(ReadFile(session_->preferenceFile()), HasSubstr("\"hunter2-secret\""));

  ASSERT_EQ(backend_->Type(Request("DatabasePasswordEditor", "50000")).status, 200);
  ASSERT_EQ(backend_->Type(Request("SMTPEditor", "50000")).status, 200);
  EXPECT_EQ(Widget("SMTPEditor")["text"], "50000");
  EXPECT_EQ(Widget("DatabasePortEditor")["text"], "50000");
  ASSERT_EQ(backend_->Save().status, 200);
  EXPECT_EQ(backend_->Plan().body, Json::parse(sandbox_.Run({"plan", "--json"}).out));
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
  MakeValid();
  ScriptedLauncher launcher(/*failAt=*/4);
  wassetup::UiBackend backend(*session_, &launcher);
  const auto waitForEnd = [&backend] {
    Json progress;
    WaitFor([&] { return (progress = backend.DeployProgress().body)["state"] != "running"; },
            std::chrono::seconds(5));
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
  EXPECT_THAT(failed["steps"][4]["line"].get<std::string>(), HasSubstr("nuvdef"));
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
