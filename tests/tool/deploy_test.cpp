// Validation and deployment through the real binary with a fake Java launcher: what deploy
// prints as text and as JSON, resuming, and operator text that reaches the commands as it is.

#include "tool_runner.h"

namespace qimtest {
namespace {

using Json = nlohmann::ordered_json;

const std::string kCanary = "Canary-7f3Q-pass";

// The values of `document` at the JSON pointers that `expected` (a JSON object) names; a missing
// one fails as "(missing)".
void ExpectAt(const Json& document, const char* expected) {
  const Json values = Json::parse(expected);
  for (const auto& [pointer, value] : values.items()) {
    const Json::json_pointer at(pointer);
    EXPECT_EQ(document.contains(at) ? document.at(at) : Json("(missing)"), value) << pointer;
  }
}

class DeployTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A launcher that logs each argument on a line of its own, echoes them, and fails on the one
    // that equals $FAIL_ON, naming it on stderr; operator text meant to fool a shell.
    ASSERT_TRUE(sandbox.PrepareDeployment(
        "printf '%s\\n' \"$@\" -- >> java.log\necho \"got: $*\"\n"
        "for a in \"$@\"; do [ -n \"$FAIL_ON\" ] && [ \"$a\" = \"$FAIL_ON\" ] &&\n"
        "  { echo \"broke on $a\" >&2; exit 3; }; done\nexit 0\n",
        {{"smtp", "x; touch PWNED"}, {"nuvserver", "$(touch PWNED)"}, {"enableCT", "true"}}));
    // The password typed on stdin, as an operator would.
    ASSERT_EQ(sandbox.Run({"set", "databasePassword"}, kCanary + "\n").status, 0);
  }

  ToolResult Deploy(const Args& options, const Args& extra, const std::string& failOn = "") {
    const ToolResult result =
        sandbox.Run(Joined(Joined(options, kDeploy), extra), "", {{"FAIL_ON", failOn}});
    EXPECT_THAT(result.out + result.err, Not(HasSubstr(kCanary)));
    return result;
  }

  ToolSandbox sandbox;
};

// deploy, text or --json, validates first: on a blank field it names it and runs nothing.
TEST_F(DeployTest, ValidateAcceptsTheFormAndNamesABlankFieldWhoseDeployRunsNothing) {
  EXPECT_EQ(Json::parse(sandbox.Run({"validate", "--json"}).out).dump(),
            R"({"format_version":"1.0","valid":true})");
  ASSERT_EQ(sandbox.Run({"set", "databasePort= "}).status, 0);
  EXPECT_EQ(Deploy({}, {}).status, 1);
  const ToolResult json = Deploy({}, {"--json"});
  EXPECT_EQ(json.status, 1);
  const Json document = Json::parse(json.out);
  ExpectAt(document, R"({"/status": "invalid", "/validation/page": "QIMDatabasePage",
      "/steps/0/state": "pending"})");
  EXPECT_THAT(document["validation"]["text"].get<std::string>(), HasSubstr("Database port"));
  EXPECT_FALSE(FileExists(sandbox.Path("java.log"))) << "nothing ran";
}

// The run that finishes names what to define on the server, in the text and in the log.
TEST_F(DeployTest, AFailingStepStopsTheRunWithThePlugInsMessageAndResumeFinishesIt) {
  const ToolResult failed = Deploy({}, {}, "nuvdef");
  EXPECT_EQ(failed.status, 1);
  EXPECT_THAT(failed.out, AllOf(HasSubstr("[5/14] java_nuvdef"), Not(HasSubstr("[6/14]"))));
  EXPECT_THAT(failed.err, AllOf(HasSubstr("Writing the NUV queue-manager definition failed"),
                                HasSubstr("--start-at java_nuvdef")));
  EXPECT_THAT(ReadFile(sandbox.Path("java.log")), HasSubstr("\nqimdef\n")) << "earlier steps ran";

  const ToolResult resumed = Deploy({}, {"--start-at", "java_nuvdef", "--log", "deploy.log"});
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_THAT(resumed.out, AllOf(Not(HasSubstr("[4/14]")), HasSubstr("[14/14] java_dbsetup")));
  const std::size_t next = resumed.out.find(
      "Deployment finished: 10 of 14 commands run from java_nuvdef.\n"
      "Next, define these on the application server:\n"
      "  The data source:\n"
      "    Host: localhost\n");
  ASSERT_NE(next, npos) << resumed.out;
  EXPECT_THAT(resumed.out.substr(next), AllOf(HasSubstr("\n    Password: ********\n"),
                                              HasSubstr("\n  The Java variable:\n    ws.ext.dirs="),
                                              HasSubstr("\\bin\\fmcojagt.jar\n")));
  EXPECT_THAT(ReadFile(sandbox.Path("deploy.log")),
              AllOf(HasSubstr(" deploy finished\n"),
                    HasSubstr(" Next, define these on the application server:\n"),
                    HasSubstr("     Password: ********\n"), Not(HasSubstr(kCanary))));

  // Operator text reaches the command as one argument each, and no shell ever sees it.
  EXPECT_THAT(ReadFile(sandbox.Path("java.log")),
              AllOf(HasSubstr("\nx; touch PWNED\n"), HasSubstr("\n$(touch PWNED)\n")));
  EXPECT_FALSE(FileExists(sandbox.Path("PWNED")));
}

TEST_F(DeployTest, DeployJsonWritesOneDocumentOnStdoutAndTheProgressOnStderr) {
  const ToolResult failed = Deploy({}, {"--json"}, "nuvdef");
  EXPECT_EQ(failed.status, 1);
  const Json document = Json::parse(failed.out);  // nothing else on stdout
  // The plan's order is pinned by the plug-in's tests; here, that every step is in the document.
  ASSERT_EQ(document["steps"].size(), 14u);
  // A step never composed has no line; the failed one has its exit status and duration.
  ExpectAt(document, R"({"/format_version": "1.0", "/status": "failed", "/start_at": null,
      "/steps/3/state": "done", "/steps/4/tag": "java_nuvdef", "/steps/4/state": "failed",
      "/steps/4/exit_status": 3, "/steps/4/argv/0": "./java", "/steps/5/state": "pending",
      "/steps/5/line": null, "/dataSource/Password": "********",
      "/javaVariables/0/name": "ws.ext.dirs"})");
  EXPECT_TRUE(document["steps"][4]["duration_ms"].is_number_integer());
  EXPECT_EQ(document["failure"],
            Json({{"tag", "java_nuvdef"},
                  {"title", "QIM setup step failed"},
                  {"text",
                   "Writing the NUV queue-manager definition failed: exit status 3: broke on "
                   "nuvdef"},
                  {"detail", "exit status 3: broke on nuvdef"},
                  {"resume_tag", "java_nuvdef"},
                  {"resume_command", "wassetup --prefs-dir " + sandbox.Path("prefs") +
                                         " deploy --java ./java --script-dir scripts "
                                         "--start-at java_nuvdef"}}));
  EXPECT_THAT(failed.err, AllOf(HasSubstr("[5/14] java_nuvdef ..."), HasSubstr("got: ")))
      << "what the commands print goes to stderr";

  const ToolResult resumed =
      Deploy({"--output", "deploy.json"}, {"--json", "--start-at", "java_nuvdef"});
  EXPECT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(resumed.out, "");
  const Json finished = Json::parse(ReadFile(sandbox.Path("deploy.json")));
  // A step skipped is never composed.
  ExpectAt(finished, R"({"/status": "finished", "/start_at": "java_nuvdef",
      "/steps/0/state": "skipped", "/steps/0/line": null, "/steps/13/state": "done"})");
  EXPECT_FALSE(finished.contains("failure"));
}

}  // namespace
}  // namespace qimtest
