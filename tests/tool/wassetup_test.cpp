// End-to-end tests of wassetup through the real binary and the real module.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/tool/tool_runner.h"

namespace qimtest {
namespace {

using Json = nlohmann::json;

TEST(WassetupLoadTest, ModulesThatCannotServeGiveOneLineAndStatus2) {
  ToolSandbox sandbox;
  WriteFile(sandbox.Path("junk.so"), "not a module");
  const struct {
    std::string path;
    const char* reason;
  } cases[] = {
      {"/nonexistent/QimPlugIn.so", "the file does not exist"},
      {sandbox.Path("junk.so"), "the file is no shared object"},
      {ZAFHOST_PATH, "a shared object without the factory"},
  };
  for (const auto& module : cases) {
    const ToolResult result = sandbox.Run({"--plugin", module.path, "info"});
    EXPECT_EQ(result.status, 2) << module.reason;
    EXPECT_EQ(CountLines(result.err), 1) << module.reason << ": " << result.err;
    EXPECT_NE(result.err.find(module.path), std::string::npos) << module.reason;
    EXPECT_EQ(result.out, "") << module.reason;
  }
}

TEST(WassetupLoadTest, InfoNamesThePlugInAndItsJavaVariable) {
  ToolSandbox sandbox;
  const ToolResult result = sandbox.Run({"info"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("QimSetup"), std::string::npos);
  EXPECT_NE(result.out.find("ws.ext.dirs="), std::string::npos);
}

TEST(WassetupUsageTest, BadUsageExitsWith2) {
  ToolSandbox sandbox;
  const struct {
    std::vector<std::string> arguments;
    const char* reason;
  } cases[] = {
      {{}, "no command"},
      {{"frobnicate"}, "unknown command"},
      {{"--no-such-option", "show"}, "unknown option"},
      {{"--separator", "ab", "show"}, "separator of two characters"},
      {{"set", "nosuchkey=1"}, "unknown setting"},
      {{"toggle", "NoSuchButton"}, "unknown check button"},
      {{"browse", "BrowseQIMRT"}, "browse without DIR or --cancel"},
      {{"deploy", "--start-at", "no_such_tag"}, "unknown start tag"},
  };
  for (const auto& usage : cases) {
    EXPECT_EQ(sandbox.Run(usage.arguments).status, 2) << usage.reason;
  }
}

TEST(WassetupUsageTest, HelpListsEveryCommand) {
  ToolSandbox sandbox;
  const ToolResult result = sandbox.Run({"--help"});
  EXPECT_EQ(result.status, 0);
  for (const char* command :
       {"info", "show", "get", "set", "toggle", "browse", "validate", "plan", "deploy"}) {
    EXPECT_NE(result.out.find(command), std::string::npos) << command;
  }
}

// ---- The settings ----

class WassetupSettingsTest : public ::testing::Test {
 protected:
  ToolSandbox sandbox;
};

TEST_F(WassetupSettingsTest, FreshFolderShowsTheShippedDefaults) {
  const ToolResult result = sandbox.Run({"show"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("Database name: QIMDB"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("[x] Set up QIM during this deployment"), std::string::npos);
  EXPECT_FALSE(FileExists(sandbox.PreferenceFile())) << "show must not store anything";
}

TEST_F(WassetupSettingsTest, SetThenGetRoundTripsThroughThePreferenceFolder) {
  ASSERT_EQ(sandbox.Run({"set", "databasePort=50001", "smtp= mail.example.com "}).status, 0);
  const Json document = sandbox.RunJson({"get", "--json"});
  ASSERT_EQ(document["settings"].size(), 33u);
  std::map<std::string, std::string> settings;
  for (const Json& pair : document["settings"]) {
    settings[pair["key"]] = pair["value"];
  }
  EXPECT_EQ(settings["databasePort"], "50001");
  EXPECT_EQ(settings["smtp"], "mail.example.com") << "editor values are stripped when stored";
  struct stat info {};
  ASSERT_EQ(stat(sandbox.PreferenceFile().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(WassetupSettingsTest, RejectedInputLeavesTheStoredFileUnchanged) {
  ASSERT_EQ(sandbox.Run({"set", "databasePort=50001"}).status, 0);
  const std::string before = ReadFile(sandbox.PreferenceFile());
  WriteFile(sandbox.Path("notjson.json"), "{ this is not json");
  WriteFile(sandbox.Path("wrongshape.json"), R"({"format_version": "1.0", "settings": [1, 2]})");
  WriteFile(sandbox.Path("unknownkey.json"),
            R"({"format_version": "1.0", "settings": [{"key": "bogus", "value": "1"}]})");
  const struct {
    std::vector<std::string> arguments;
    const char* reason;
  } cases[] = {
      {{"set", "databasePort=1", "bogus=2"}, "one unknown key among good ones"},
      {{"set", "--from", sandbox.Path("notjson.json")}, "not JSON"},
      {{"set", "--from", sandbox.Path("wrongshape.json")}, "wrong shape"},
      {{"set", "--from", sandbox.Path("unknownkey.json")}, "unknown key in the document"},
      {{"set", "--from", sandbox.Path("missing.json")}, "missing document"},
  };
  for (const auto& bad : cases) {
    const ToolResult result = sandbox.Run(bad.arguments);
    EXPECT_EQ(result.status, 2) << bad.reason;
    EXPECT_NE(result.err, "") << bad.reason;
    EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), before) << bad.reason;
  }
}

TEST_F(WassetupSettingsTest, UnknownKeyNamesTheKeyAndListsTheValidOnes) {
  const ToolResult result = sandbox.Run({"set", "bogus=1"});
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err.find("bogus"), std::string::npos);
  EXPECT_NE(result.err.find("databasePassword"), std::string::npos);
  EXPECT_FALSE(FileExists(sandbox.PreferenceFile()));
}

TEST_F(WassetupSettingsTest, GetJsonFeedsSetFrom) {
  ASSERT_EQ(sandbox.Run({"set", "qimmq=FIRST.QM"}).status, 0);
  const ToolResult exported = sandbox.Run({"--output", sandbox.Path("doc.json"), "get", "--json"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  ASSERT_EQ(sandbox.Run({"set", "qimmq=SECOND.QM"}).status, 0);
  ASSERT_EQ(sandbox.Run({"set", "--from", sandbox.Path("doc.json")}).status, 0);
  EXPECT_NE(sandbox.Run({"get"}).out.find("qimmq=FIRST.QM\n"), std::string::npos);
}

TEST_F(WassetupSettingsTest, PasswordsAreMaskedUnlessAskedFor) {
  ASSERT_EQ(sandbox.Run({"set", "databasePassword"}, "Canary-S3cret\n").status, 0);
  for (const std::vector<std::string>& command : {std::vector<std::string>{"show"},
                                                  {"show", "--json"},
                                                  {"get"},
                                                  {"get", "--json"},
                                                  {"plan"},
                                                  {"plan", "--json"}}) {
    const ToolResult masked = sandbox.Run(command);
    EXPECT_EQ(masked.out.find("Canary-S3cret"), std::string::npos) << command[0];
    EXPECT_EQ(masked.err.find("Canary-S3cret"), std::string::npos) << command[0];
  }
  EXPECT_NE(sandbox.Run({"get"}).out.find("databasePassword=********"), std::string::npos);
  EXPECT_NE(sandbox.Run({"--show-secrets", "get"}).out.find("databasePassword=Canary-S3cret"),
            std::string::npos);
}

TEST_F(WassetupSettingsTest, ToggleGreysTheFramesAndIsStored) {
  const ToolResult toggled = sandbox.Run({"toggle", "EnableQimPlugIn"});
  ASSERT_EQ(toggled.status, 0) << toggled.err;
  EXPECT_EQ(toggled.out, "EnableQimPlugIn: unchecked\n");
  const std::string shown = sandbox.Run({"show"}).out;
  EXPECT_NE(shown.find("Product directories (greyed out)"), std::string::npos) << shown;
  EXPECT_NE(shown.find("[ ] Set up QIM"), std::string::npos);
}

TEST_F(WassetupSettingsTest, BrowseWithOkWritesTheRowAndCancelDoesNot) {
  ASSERT_EQ(sandbox.Run({"set", "qimdirrt= /start here"}).status, 0);
  const ToolResult ok = sandbox.Run({"browse", "BrowseQIMRT", "/chosen/dir"});
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, "started in: /start here\nQIMRTEditor: /chosen/dir\n")
      << "the chooser starts in the stored (stripped) text";
  const ToolResult cancel = sandbox.Run({"browse", "BrowseQIMRT", "--cancel"});
  EXPECT_EQ(cancel.out, "started in: /chosen/dir\nQIMRTEditor: /chosen/dir\n");
}

// ---- Validation, plan and deployment ----

class WassetupDeployTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir(sandbox.Path("runtime").c_str(), 0700);
    mkdir(sandbox.Path("scripts").c_str(), 0700);
    ASSERT_EQ(sandbox
                  .Run({"set", "qimdirrt=" + sandbox.Path("runtime"), "mqpass=mq-pw",
                        "databasePassword=db-pw", "smtp=mail", "nuvserver=nuv", "qimip=10.0.0.1",
                        "nuvip=10.0.0.2", "fmcip=10.0.0.3", "enableCT=true"})
                  .status,
              0);
    // The fake launcher records each argument on a line of its own and fails when one of
    // them equals $FAIL_ON.
    WriteFile(sandbox.Path("fake-java"),
              "#!/bin/sh\n"
              "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"$PWD/java.log\"\n"
              "echo '--' >> \"$PWD/java.log\"\n"
              "[ -n \"$FAIL_ON\" ] || exit 0\n"
              "for a in \"$@\"; do\n"
              "  [ \"$a\" = \"$FAIL_ON\" ] && { echo \"broke on $a\" >&2; exit 3; }\n"
              "done\n"
              "exit 0\n");
    chmod(sandbox.Path("fake-java").c_str(), 0700);
    for (const char* script : {"QIMFilesCp.bat", "QIMDBSetup.bat"}) {
      WriteFile(sandbox.Path("scripts/") + script, "#!/bin/sh\nexit 0\n");
      chmod((sandbox.Path("scripts/") + script).c_str(), 0700);
    }
  }

  ToolResult Deploy(const std::vector<std::string>& extra, const std::string& failOn = "") {
    std::vector<std::string> arguments = {"deploy", "--java", sandbox.Path("fake-java"),
                                          "--script-dir", sandbox.Path("scripts")};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return sandbox.Run(arguments, "", {{"FAIL_ON", failOn}});
  }

  ToolSandbox sandbox;
};

TEST_F(WassetupDeployTest, ValidateAcceptsACompleteFormAndNamesABlankField) {
  EXPECT_EQ(sandbox.Run({"validate"}).status, 0);
  ASSERT_EQ(sandbox.Run({"set", "databasePort= "}).status, 0);
  const Json verdict = Json::parse(sandbox.Run({"validate", "--json"}).out);
  EXPECT_EQ(verdict["valid"], false);
  EXPECT_EQ(verdict["page"], "QIMDatabasePage");
  EXPECT_NE(verdict["text"].get<std::string>().find("Database port"), std::string::npos);
  EXPECT_EQ(sandbox.Run({"validate"}).status, 1);
}

TEST_F(WassetupDeployTest, PlanListsFourteenCommandsInOrder) {
  const Json plan = sandbox.RunJson({"plan", "--json"});
  const std::vector<std::string> expected = {
      "qim_copy",    "java_qim",       "java_app",       "java_qimdef",    "java_nuvdef",
      "java_fmcdef", "java_qimcreate", "java_nuvcreate", "java_fmccreate", "java_xml1",
      "java_xml2",   "java_db2file",   "java_zafenv",    "java_dbsetup"};
  EXPECT_EQ(plan["tags"].get<std::vector<std::string>>(), expected);
  ASSERT_EQ(plan["commands"].size(), expected.size());
  EXPECT_EQ(plan["commands"][0]["kind"], "script");
  EXPECT_EQ(plan["commands"][0]["script"], "QIMFilesCp.bat");
  EXPECT_EQ(plan["commands"][3]["class"], "com.corvanta.qimpluginutilities.UpdateQIMFiles");
  EXPECT_EQ(plan["dataSource"]["JdbcProvider"], "DB2 Universal JDBC Driver Provider (XA)");
  EXPECT_EQ(plan["dataSource"]["Password"], "********");
  EXPECT_EQ(plan["javaVariables"][0]["name"], "ws.ext.dirs");
}

TEST_F(WassetupDeployTest, FailingStepStopsTheRunAndResumeFinishesIt) {
  const ToolResult failed = Deploy({}, "nuvdef");
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.out.find("[5/14] java_nuvdef"), std::string::npos) << failed.out;
  EXPECT_EQ(failed.out.find("[6/14]"), std::string::npos) << "later steps must not run";
  EXPECT_NE(failed.err.find("Writing the NUV queue-manager definition failed"), std::string::npos)
      << failed.err;
  EXPECT_NE(failed.err.find("broke on nuvdef"), std::string::npos);
  EXPECT_NE(failed.err.find("--start-at java_nuvdef"), std::string::npos);
  EXPECT_NE(ReadFile(sandbox.Path("java.log")).find("qimdef\n"), std::string::npos)
      << "earlier steps ran";

  const ToolResult resumed = Deploy({"--start-at", "java_nuvdef"});
  EXPECT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(resumed.out.find("[4/14]"), std::string::npos);
  EXPECT_NE(resumed.out.find("[14/14] java_dbsetup"), std::string::npos);
}

TEST_F(WassetupDeployTest, OperatorTextReachesTheCommandAsOneArgumentWithoutAShell) {
  ASSERT_EQ(sandbox.Run({"set", "smtp=x; touch PWNED", "nuvserver=$(touch PWNED)"}).status, 0);
  const ToolResult result = Deploy({});
  ASSERT_EQ(result.status, 0) << result.err;
  const std::string log = ReadFile(sandbox.Path("java.log"));
  EXPECT_NE(log.find("\nx; touch PWNED\n"), std::string::npos);
  EXPECT_NE(log.find("\n$(touch PWNED)\n"), std::string::npos);
  EXPECT_FALSE(FileExists(sandbox.Path("PWNED")));
  EXPECT_NE(log.find("\ndb-pw\n"), std::string::npos) << "the command gets the real password";
  EXPECT_EQ(result.out.find("db-pw"), std::string::npos) << "but the screen does not";
}

TEST_F(WassetupDeployTest, InvalidInputRunsNothing) {
  ASSERT_EQ(sandbox.Run({"set", "fmcip="}).status, 0);
  const ToolResult result = Deploy({});
  EXPECT_EQ(result.status, 1);
  EXPECT_FALSE(FileExists(sandbox.Path("java.log")));
}

}  // namespace
}  // namespace qimtest
