// Validation, plan and deployment through the real binary with a fake Java launcher, and the
// passwords kept off the screen on every path while the commands still receive them.

#include <cstdio>

#include <gtest/gtest.h>

#include "host/platform/shell_quote.h"
#include "tool_runner.h"

namespace qimtest {
namespace {

const std::string kCanary = "Canary-7f3Q-pass";

class DeployTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A launcher that logs each argument on a line of its own, echoes them, and fails on the one
    // that equals $FAIL_ON, naming it on stderr; operator text meant to fool a shell.
    ASSERT_EQ(sandbox
                  .PrepareDeployment(
                      "printf '%s\\n' \"$@\" -- >> java.log\necho \"got: $*\"\n"
                      "for a in \"$@\"; do [ -n \"$FAIL_ON\" ] && [ \"$a\" = \"$FAIL_ON\" ] &&\n"
                      "  { echo \"broke on $a\" >&2; exit 3; }; done\nexit 0\n",
                      {"smtp=x; touch PWNED", "nuvserver=$(touch PWNED)", "enableCT=true"})
                  .status,
              0);
    // The password typed on stdin, as an operator would.
    ASSERT_EQ(sandbox.Run({"set", "databasePassword"}, kCanary + "\n").status, 0);
  }

  ToolResult Deploy(const Args& options, const Args& extra, const std::string& failOn = "") {
    Args arguments = options;
    arguments.insert(arguments.end(), {"deploy", "--java", "./java", "--script-dir", "scripts"});
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return sandbox.Run(arguments, "", {{"FAIL_ON", failOn}});
  }

  std::string JavaLog() const { return ReadFile(sandbox.Path("java.log")); }

  ToolSandbox sandbox;
};

// deploy, text or --json, validates first: on a blank field it names it and runs nothing.
TEST_F(DeployTest, ValidateAcceptsTheFormAndNamesABlankFieldWhoseDeployRunsNothing) {
  EXPECT_EQ(nlohmann::ordered_json::parse(sandbox.Run({"validate", "--json"}).out).dump(),
            R"({"format_version":"1.0","valid":true})");
  ASSERT_EQ(sandbox.Run({"set", "databasePort= "}).status, 0);
  const ToolResult validated = sandbox.Run({"validate", "--json"});
  EXPECT_EQ(validated.status, 1);
  const nlohmann::json verdict = nlohmann::json::parse(validated.out);
  EXPECT_EQ(verdict["page"], "QIMDatabasePage");
  EXPECT_NE(verdict["text"].get<std::string>().find("Database port"), npos) << verdict;

  const ToolResult deployed = Deploy({}, {});
  EXPECT_EQ(deployed.status, 1);
  const ToolResult json = Deploy({}, {"--json"});
  EXPECT_EQ(json.status, 1);
  const auto document = nlohmann::ordered_json::parse(json.out);
  EXPECT_EQ(document["status"], "invalid");
  EXPECT_EQ(document["validation"]["page"], "QIMDatabasePage");
  EXPECT_NE(document["validation"]["text"].get<std::string>().find("Database port"), npos);
  EXPECT_EQ(document["steps"][0]["state"], "pending");
  EXPECT_FALSE(FileExists(sandbox.Path("java.log"))) << "nothing ran";
  EXPECT_EQ((validated.out + deployed.out + deployed.err + json.out).find(kCanary), npos);
}

TEST_F(DeployTest, PlanListsFourteenCommandsInOrder) {
  const auto plan = nlohmann::json::parse(sandbox.Run({"plan", "--json"}).out);
  EXPECT_EQ(plan["tags"].get<std::vector<std::string>>(),
            (std::vector<std::string>{"qim_copy", "java_qim", "java_app", "java_qimdef",
                                      "java_nuvdef", "java_fmcdef", "java_qimcreate",
                                      "java_nuvcreate", "java_fmccreate", "java_xml1", "java_xml2",
                                      "java_db2file", "java_zafenv", "java_dbsetup"}));
}

TEST_F(DeployTest, AFailingStepStopsTheRunWithThePlugInsMessageAndResumeFinishesIt) {
  const ToolResult failed = Deploy({}, {}, "nuvdef");
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.out.find("[5/14] java_nuvdef"), npos) << failed.out;
  EXPECT_EQ(failed.out.find("[6/14]"), npos) << "later steps must not run";
  EXPECT_NE(failed.err.find("Writing the NUV queue-manager definition failed"), npos) << failed.err;
  EXPECT_NE(failed.err.find("--start-at java_nuvdef"), npos) << failed.err;
  EXPECT_NE(JavaLog().find("\nqimdef\n"), npos) << "earlier steps ran";

  const ToolResult resumed = Deploy({}, {"--start-at", "java_nuvdef"});
  EXPECT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(resumed.out.find("[4/14]"), npos) << resumed.out;
  EXPECT_NE(resumed.out.find("[14/14] java_dbsetup"), npos) << resumed.out;

  // Operator text reaches the command as one argument each, and no shell ever sees it.
  EXPECT_NE(JavaLog().find("\nx; touch PWNED\n"), npos);
  EXPECT_NE(JavaLog().find("\n$(touch PWNED)\n"), npos);
  EXPECT_FALSE(FileExists(sandbox.Path("PWNED")));
}

TEST_F(DeployTest, PasswordsAreMaskedOnEveryPathUnlessAskedForAndReachTheCommands) {
  for (const Args& command : {Args{"show"}, Args{"show", "--json"}, Args{"get"},
                              Args{"get", "--json"}, Args{"plan"}, Args{"plan", "--json"}}) {
    const ToolResult result = sandbox.Run(command);
    EXPECT_EQ(result.status, 0) << command[0] << ": " << result.err;
    EXPECT_EQ((result.out + result.err).find(kCanary), npos) << command[0] << " " << result.out;
    EXPECT_NE(result.out.find("********"), npos) << command[0];
  }
  EXPECT_NE(sandbox.Run({"--show-secrets", "get"}).out.find("\ndatabasePassword=" + kCanary), npos);

  // The launcher fails on the password and names it on stderr.
  const ToolResult failed = Deploy({}, {"--log", "deploy.log"}, kCanary);
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("broke on ********"), npos) << failed.err;
  const std::string log = ReadFile(sandbox.Path("deploy.log"));
  EXPECT_NE(log.find("broke on ********"), npos) << log;
  EXPECT_EQ((failed.out + failed.err + log).find(kCanary), npos) << failed.out << failed.err;
  EXPECT_NE(JavaLog().find("\n" + kCanary + "\n"), npos) << "the command gets the password";
  EXPECT_NE(Deploy({"--show-secrets"}, {}, kCanary).err.find("broke on " + kCanary), npos);

  // A damaged settings file is reported without quoting the password in it.
  WriteFile(sandbox.PreferenceFile(), "zaf-preferences 1\n" + kCanary + " \"x\" 1 \"y\"\n");
  const ToolResult damaged = sandbox.Run({"show"});
  EXPECT_NE(damaged.err.find(sandbox.PreferenceFile()), npos) << damaged.err;
  EXPECT_EQ(damaged.err.find(kCanary), npos) << damaged.err;
}

TEST_F(DeployTest, AFinishedDeploymentNamesWhatToDefineOnTheServerInTheTextAndTheLog) {
  const ToolResult deployed = Deploy({}, {"--log", "deploy.log"});
  ASSERT_EQ(deployed.status, 0) << deployed.err;
  const std::size_t next = deployed.out.find(
      "Deployment finished: 14 of 14 commands run from qim_copy.\n"
      "Next, define these on the application server:\n"
      "  The data source:\n"
      "    Host: localhost\n");
  ASSERT_NE(next, npos) << deployed.out;
  const std::string tail = deployed.out.substr(next);
  EXPECT_NE(tail.find("\n    Password: ********\n"), npos) << tail;
  EXPECT_NE(tail.find("\n  The Java variable:\n    ws.ext.dirs="), npos) << tail;
  EXPECT_NE(tail.find("\\bin\\fmcojagt.jar\n"), npos) << tail;
  const std::string log = ReadFile(sandbox.Path("deploy.log"));
  EXPECT_NE(log.find(" deploy finished\n"), npos) << log;
  EXPECT_NE(log.find(" Next, define these on the application server:\n"), npos) << log;
  EXPECT_NE(log.find("     Password: ********\n"), npos) << log;
  EXPECT_EQ((deployed.out + log).find(kCanary), npos);
}

TEST_F(DeployTest, DeployJsonWritesOneDocumentOnStdoutAndTheProgressOnStderr) {
  const ToolResult failed = Deploy({}, {"--json"}, "nuvdef");
  EXPECT_EQ(failed.status, 1);
  const auto document = nlohmann::ordered_json::parse(failed.out);  // nothing else on stdout
  EXPECT_EQ(document["format_version"], "1.0");
  EXPECT_EQ(document["status"], "failed");
  EXPECT_TRUE(document["start_at"].is_null());
  ASSERT_EQ(document["steps"].size(), 14u);
  const nlohmann::ordered_json& failedStep = document["steps"][4];
  EXPECT_EQ(failedStep["tag"], "java_nuvdef");
  EXPECT_EQ(failedStep["state"], "failed");
  EXPECT_EQ(failedStep["exit_status"], 3);
  EXPECT_EQ(failedStep["argv"][0], "./java");
  EXPECT_TRUE(failedStep["duration_ms"].is_number_integer());
  EXPECT_EQ(document["steps"][3]["state"], "done");
  EXPECT_EQ(document["steps"][5]["state"], "pending");
  EXPECT_TRUE(document["steps"][5]["line"].is_null()) << "a step never composed has no line";
  const nlohmann::ordered_json& failure = document["failure"];
  EXPECT_EQ(failure["tag"], "java_nuvdef");
  EXPECT_EQ(failure["title"], "QIM setup step failed");
  EXPECT_EQ(failure["detail"], "exit status 3: broke on nuvdef");
  EXPECT_EQ(failure["resume_tag"], "java_nuvdef");
  EXPECT_EQ(failure["resume_command"], "wassetup --prefs-dir " + sandbox.Path("prefs") +
                                           " deploy --java ./java --script-dir scripts "
                                           "--start-at java_nuvdef");
  EXPECT_EQ(document["dataSource"]["Password"], "********");
  EXPECT_EQ(document["javaVariables"][0]["name"], "ws.ext.dirs");
  EXPECT_NE(failed.err.find("[5/14] java_nuvdef ..."), npos) << failed.err;
  EXPECT_NE(failed.err.find("got: "), npos) << "what the commands print goes to stderr";

  const ToolResult resumed =
      Deploy({"--output", "deploy.json"}, {"--json", "--start-at", "java_nuvdef"});
  EXPECT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(resumed.out, "");
  const auto finished = nlohmann::ordered_json::parse(ReadFile(sandbox.Path("deploy.json")));
  EXPECT_EQ(finished["status"], "finished");
  EXPECT_EQ(finished["start_at"], "java_nuvdef");
  EXPECT_EQ(finished["steps"][0]["state"], "skipped");
  EXPECT_EQ(finished["steps"][13]["state"], "done");
  EXPECT_FALSE(finished.contains("failure"));
  EXPECT_EQ((failed.out + failed.err + resumed.err).find(kCanary), npos);
}

// The exact words the printed lines are made of: safe runs bare, the rest between apostrophes,
// apostrophes themselves outside.
TEST(ShellQuoteTest, QuotesOnlyWhatTheShellWouldReadOtherwise) {
  struct Case {
    const char* argument;
    const char* quoted;
    const char* reason;
  };
  const Case cases[] = {
      {"", "''", "an empty argument still takes its place"},
      {"-DLoadJars=a.jar", "-DLoadJars=a.jar", "only safe characters"},
      {"C:\\Program Files", "'C:\\Program Files'", "a blank and a backslash"},
      {"it's", "it\\'s", "an apostrophe between safe runs"},
      {"'a b'", "\\''a b'\\'", "apostrophes around an unsafe run"},
      {"''", "\\'\\'", "nothing but apostrophes"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zaf::platform::ShellQuote(c.argument), c.quoted) << c.reason;
  }
  EXPECT_EQ(zaf::platform::ShellJoin({"java", "", "a b"}), "java '' 'a b'") << "joined by blanks";
  EXPECT_EQ(zaf::platform::ShellJoin({}), "") << "no argument, no line";
}

// Printed command lines must paste into a POSIX shell and give back the same arguments.
TEST(ShellQuoteTest, TheShellGivesBackEveryArgumentUnchanged) {
  // One argument a line.
  const std::string expected =
      "plain\n\ntwo words\n'quoted path'\nx; touch PWNED\n$(touch PWNED)\n`id`\nback\\slash\n"
      "''\n'\\'\ntab\there\n100%\na\"b\nünïcode\nit's\n";
  Args arguments;
  for (std::size_t start = 0, end; (end = expected.find('\n', start)) != npos; start = end + 1) {
    arguments.push_back(expected.substr(start, end - start));
  }
  FILE* shell = popen(("printf '%s\\n' " + zaf::platform::ShellJoin(arguments)).c_str(), "r");
  ASSERT_NE(shell, nullptr);
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, shell) != nullptr) {
    output += buffer;
  }
  pclose(shell);
  EXPECT_EQ(output, expected);
}

}  // namespace
}  // namespace qimtest
