// What an operator must be able to trust in wassetup, through the real binary and the real
// module: secrets masked by the field they come from and nothing else, an export that restores
// every setting, looking commands that change no file, one path form, and the tool refusing
// what the dialog refuses.

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <regex>

#include <gtest/gtest.h>

#include "backend_fixture.h"
#include "core/secrets.h"
#include "tool_runner.h"

namespace qimtest {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

// Every looking command, text and JSON.
const Args kLookingCommands[] = {
    {"show"}, {"show", "--json"}, {"get"},      {"get", "--json"},
    {"plan"}, {"plan", "--json"}, {"validate"}, {"validate", "--json"},
    {"info"}, {"info", "--json"},
};

std::string Joined(const Args& command) {
  std::string joined;
  for (const std::string& word : command) {
    joined += (joined.empty() ? "" : " ") + word;
  }
  return joined;
}

// ---- Secrets by identity ----

// The outputs of every looking command with the two passwords set to `password`.
std::map<std::string, std::string> OutputsWithPasswords(const ToolSandbox& sandbox,
                                                        const std::string& password) {
  EXPECT_EQ(sandbox.Run({"set", "databasePassword=" + password, "mqpass=" + password}).status, 0);
  std::map<std::string, std::string> outputs;
  for (const Args& command : kLookingCommands) {
    const ToolResult result = sandbox.Run(command);
    outputs[Joined(command)] = result.out + "\n--- stderr ---\n" + result.err;
  }
  return outputs;
}

// A password that equals or is part of another value (the port, a folder name, the queue
// manager names, single letters of every message) changes no output: each command prints the
// same as with passwords that appear nowhere else.
TEST(SecretsByIdentityTest, NoOutputDependsOnWhatThePasswordsSpell) {
  const ToolSandbox sandbox;
  const std::map<std::string, std::string> unique = OutputsWithPasswords(sandbox, "Unique-Pw-7Qz");
  for (const auto& [command, output] : unique) {
    EXPECT_EQ(output.find("Unique-Pw-7Qz"), npos) << command << ":\n" << output;
  }
  EXPECT_EQ(Occurrences(unique.at("get"), "********"), 2) << unique.at("get");
  EXPECT_EQ(Occurrences(unique.at("show"), "********"), 2) << unique.at("show");
  // java_app carries both passwords, java_db2file and the data source the database one.
  EXPECT_EQ(Occurrences(unique.at("plan"), "********"), 4) << unique.at("plan");
  for (const char* password : {"50000", "a", "Files", "QIM"}) {
    const std::map<std::string, std::string> outputs = OutputsWithPasswords(sandbox, password);
    for (const auto& [command, output] : outputs) {
      EXPECT_EQ(output, unique.at(command)) << "password '" << password << "', " << command;
    }
  }
}

// In a command line exactly the arguments that carry a password are masked; the deployment
// still hands the real password to the command.
TEST(SecretsByIdentityTest, ThePlanMasksExactlyThePasswordArguments) {
  const ToolSandbox sandbox;
  ASSERT_EQ(sandbox.Run({"set", "databasePassword=50000", "mqpass=QIM"}).status, 0);
  const Json plan = Json::parse(sandbox.Run({"plan", "--json"}).out);
  const Json& app = plan["commands"][2];
  ASSERT_EQ(app["tag"], "java_app");
  const Json expected = {"'C:\\Program Files\\QIM\\intel_a\\docs\\java\\app.properties'",
                         "'C:\\Program Files\\QIM\\intel_a\\docs\\java\\app.properties'",
                         "//localhost:50000/QIMDB",
                         "db2admin",
                         "********",
                         "'C:\\Program Files\\QIM\\intel_a'",
                         "jdbc/QIM",
                         "",
                         "MUSR_MQADMIN",
                         "********",
                         "",
                         "",
                         "",
                         "app"};
  EXPECT_EQ(app["arguments"], expected);
  EXPECT_EQ(plan["dataSource"]["Port"], "50000");
  EXPECT_EQ(plan["dataSource"]["Password"], "********");
  const Json revealed = Json::parse(sandbox.Run({"--show-secrets", "plan", "--json"}).out);
  EXPECT_EQ(revealed["commands"][2]["arguments"][4], "50000");
  EXPECT_EQ(revealed["commands"][2]["arguments"][9], "QIM");
}

// What the commands print is searched for the passwords, one that a command writes across two
// lines or in two pieces included.
TEST(SecretsByIdentityTest, CommandOutputMasksPasswordsAcrossPiecesAndLines) {
  ToolSandbox sandbox;
  // Prints the database password in two writes with a pause between, then the other one,
  // which holds a line break, then fails.
  ASSERT_EQ(sandbox
                .PrepareDeployment("printf 'db=Split'; sleep 0.2; printf -- '-Pw;\\n'\n"
                                   "printf 'mq=two\\nlines;\\n' >&2\nexit 4\n",
                                   {"databasePassword=Split-Pw"})
                .status,
            0);
  WriteFile(sandbox.Path("doc.json"),
            R"({"format_version": "1.0", "settings": [{"key": "mqpass", "value": "two\nlines"}]})");
  ASSERT_EQ(sandbox.Run({"set", "--from", "doc.json"}).status, 0);
  const ToolResult failed =
      sandbox.Run({"--separator", "/", "deploy", "--java", "./java", "--script-dir", "scripts",
                   "--start-at", "java_qim", "--log", "deploy.log"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.out.find("db=********;\n"), npos) << failed.out;
  EXPECT_NE(failed.err.find("mq=********;\n"), npos) << failed.err;
  const std::string all = failed.out + failed.err + ReadFile(sandbox.Path("deploy.log"));
  EXPECT_EQ(all.find("Split"), npos) << all;
  EXPECT_EQ(all.find("two\nlines"), npos) << all;
}

struct ScrubCase {
  std::vector<std::string> pieces;  // what the command writes, read by read
  std::string shown;
  const char* reason;
};

TEST(PasswordScrubberTest, MasksEveryOccurrenceWhateverTheReadsCutOff) {
  ZAFDlgTabContainer form;
  auto* password = new ZAFDlgEditor(&form, "Password", ZAF_STYLE_PASSWORD);
  password->SetText("secret", 1);
  auto* plain = new ZAFDlgEditor(&form, "Plain", ZAF_STYLE_PLAIN);
  plain->SetText("sec", 1);
  const wassetup::PasswordScrubber scrubber(form, /*reveal=*/false);
  const ScrubCase cases[] = {
      {{"a secret here\n"}, "a ******** here\n", "whole in one read"},
      {{"a sec", "ret here\n"}, "a ******** here\n", "cut in the middle by two reads"},
      {{"sec", "", "re", "t"}, "********", "cut into three pieces and an empty read"},
      {{"a sec\n"}, "a sec\n", "a beginning alone is shown at the end"},
      {{"secsecret"}, "sec********", "a false start before the password"},
      {{"secretsecret"}, "****************", "twice in a row"},
  };
  for (const ScrubCase& row : cases) {
    std::string pending;
    std::string shown;
    for (const std::string& piece : row.pieces) {
      pending += piece;
      shown += scrubber.Release(pending, false);
    }
    shown += scrubber.Release(pending, true);
    EXPECT_EQ(shown, row.shown) << row.reason;
    EXPECT_TRUE(pending.empty()) << row.reason;
  }
}

// The dialog's backend, on a live session: a guess typed into a plain field is shown as typed,
// whatever the passwords are.
class TrustBackendTest : public LiveBackendTest {};

TEST_F(TrustBackendTest, AGuessEqualToAPasswordIsShownAsTypedAndThePlanMasksOnlyPasswords) {
  ASSERT_EQ(backend_->Type(Request("DatabasePasswordEditor", "50000")).status, 200);
  ASSERT_EQ(backend_->Type(Request("SMTPEditor", "50000")).status, 200);
  EXPECT_EQ(Widget("SMTPEditor")["text"], "50000");
  EXPECT_EQ(Widget("DatabasePortEditor")["text"], "50000");
  EXPECT_EQ(Widget("DatabasePasswordEditor")["text"], "********");
  const Json plan = backend_->Plan().body;
  EXPECT_EQ(plan["dataSource"]["Port"], "50000");
  EXPECT_EQ(plan["dataSource"]["Password"], "********");
  EXPECT_EQ(plan["commands"][2]["arguments"][2], "//localhost:50000/QIMDB");
  EXPECT_EQ(plan["commands"][2]["arguments"][4], "********");
  EXPECT_EQ(plan["commands"][2]["arguments"][7], "50000") << "the mail server typed";
  EXPECT_FALSE(FileExists(session_->preferenceFile())) << "the plan stored nothing";
}

TEST_F(TrustBackendTest, AGreyedOutWidgetIsRefusedNamingWhatEnablesIt) {
  ASSERT_EQ(backend_->Toggle(Request("EnableQimPlugIn")).status, 200);
  const struct {
    wassetup::UiReply reply;
    const char* widget;
  } cases[] = {
      {backend_->Press(Request("BrowseQIMRT")), "BrowseQIMRT"},
      {backend_->Toggle(Request("EnableCreateDatabase")), "EnableCreateDatabase"},
      {backend_->Type(Request("SMTPEditor", "x")), "SMTPEditor"},
  };
  for (const auto& row : cases) {
    EXPECT_EQ(row.reply.status, 409) << row.widget;
    EXPECT_EQ(row.reply.body["error"],
              std::string(row.widget) +
                  " is greyed out; checking EnableQimPlugIn ('Set up QIM during this "
                  "deployment') enables it")
        << row.widget;
  }
  EXPECT_EQ(Widget("EnableQimPlugIn")["state"], "unchecked") << "the trial left it as it was";
  for (const char* frame : {"QimSetupFrame", "DatabaseFrame", "MessageQueuesFrame"}) {
    EXPECT_EQ(Widget(frame)["usable"], false) << frame;
  }
}

// ---- The export round trip ----

TEST(ExportRoundTripTest, AMaskedExportKeepsTheStoredPasswordsAndRestoresTheRest) {
  const ToolSandbox first;
  ASSERT_EQ(
      first
          .Run({"set", "databasePassword=db-pw", "mqpass=mq-pw", "smtp=********", "qimmq=FIRST.QM"})
          .status,
      0);
  ASSERT_EQ(first.Run({"--output", "masked.json", "get", "--json"}).status, 0);
  ASSERT_EQ(first.Run({"set", "databasePassword=new-db-pw", "qimmq=SECOND.QM", "smtp=x"}).status,
            0);
  const ToolResult applied = first.Run({"set", "--from", "masked.json"});
  ASSERT_EQ(applied.status, 0) << applied.err;
  EXPECT_EQ(Occurrences(applied.err, "databasePassword is the mask ********"), 1) << applied.err;
  EXPECT_EQ(Occurrences(applied.err, "mqpass is the mask ********"), 1) << applied.err;
  EXPECT_EQ(Occurrences(applied.err, "smtp"), 0) << "smtp is no password: " << applied.err;
  const std::string after = first.Run({"--show-secrets", "get"}).out;
  EXPECT_NE(after.find("\ndatabasePassword=new-db-pw\n"), npos) << after;
  EXPECT_NE(after.find("\nmqpass=mq-pw\n"), npos) << after;
  EXPECT_NE(after.find("\nqimmq=FIRST.QM\n"), npos) << after;
  EXPECT_NE(after.find("\nsmtp=********\n"), npos) << "a plain value that reads as the mask";

  // On another machine every other setting comes across and the mask is never stored.
  const ToolSandbox second;
  ASSERT_EQ(second.Run({"set", "--from", first.Path("masked.json")}).status, 0);
  const std::string copied = second.Run({"--show-secrets", "get"}).out;
  EXPECT_NE(copied.find("\ndatabasePassword=\n"), npos) << copied;
  EXPECT_NE(copied.find("\nqimmq=FIRST.QM\n"), npos) << copied;
  EXPECT_EQ(Occurrences(ReadFile(second.PreferenceFile()), "********"), 1) << "smtp's only";
}

TEST(ExportRoundTripTest, AnExportWithShowSecretsRestoresEverySettingExactly) {
  const ToolSandbox first;
  ASSERT_EQ(first
                .Run({"set", "databasePassword= 50000 ", "mqpass=********", "enableCT=true",
                      "qimdirrt=/srv/qim"})
                .status,
            0);
  ASSERT_EQ(first.Run({"--show-secrets", "--output", "all.json", "get", "--json"}).status, 0);
  const ToolSandbox second;
  ASSERT_EQ(second.Run({"set", "--from", first.Path("all.json")}).status, 0);
  EXPECT_EQ(second.Run({"--show-secrets", "get"}).out, first.Run({"--show-secrets", "get"}).out);
}

// ---- Looking never writes ----

// Size, checksum and modification time of every file and folder below `root`, leaving out the
// sandbox's own ".run.*" files that carry the tool's input and output.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  std::error_code error;
  for (auto entry = fs::recursive_directory_iterator(root, error);
       entry != fs::recursive_directory_iterator(); entry.increment(error)) {
    if (entry->path().filename().string().rfind(".run.", 0) == 0) {
      continue;
    }
    struct stat status {};
    lstat(entry->path().c_str(), &status);
    std::string facts = std::to_string(status.st_mode) + " " +
                        std::to_string(status.st_mtim.tv_sec) + "." +
                        std::to_string(status.st_mtim.tv_nsec);
    if (S_ISREG(status.st_mode)) {
      facts += " " + std::to_string(std::hash<std::string>()(ReadFile(entry->path().string())));
    }
    files[entry->path().string()] = facts;
  }
  return files;
}

class LookingTest : public ::testing::Test {
 protected:
  // An installation whose Workflow archive is only in its backup, and whose properties file
  // has no backup yet.
  void MakeInstallation() {
    for (const char* folder : {"qim", "qim/intel_a", "qim/intel_a/docs", "qim/intel_a/docs/java",
                               "mqwf", "mqwf/bin", "runtime"}) {
      ASSERT_EQ(mkdir(sandbox.Path(folder).c_str(), 0700), 0) << folder;
    }
    WriteFile(sandbox.Path("mqwf/bin/fmcojagt.jar.deprecated"), "archive");
    WriteFile(sandbox.Path("qim/intel_a/docs/java/app.properties"), "key=value\n");
  }

  // Runs every looking command and checks that nothing below the sandbox changed.
  void ExpectEveryLookingCommandLeavesTheFilesAlone(const Args& options) {
    for (const Args& command : kLookingCommands) {
      const auto before = Snapshot(sandbox.Path(""));
      Args arguments = options;
      arguments.insert(arguments.end(), command.begin(), command.end());
      const ToolResult result = sandbox.Run(arguments);
      EXPECT_LE(result.status, 1) << Joined(command) << ": " << result.err;
      EXPECT_EQ(Snapshot(sandbox.Path("")), before) << Joined(command);
    }
  }

  ToolSandbox sandbox;
};

TEST_F(LookingTest, OnAFreshFolderNoLookingCommandMakesAFile) {
  ExpectEveryLookingCommandLeavesTheFilesAlone({});
  EXPECT_FALSE(FileExists(sandbox.Path("prefs"))) << "not even the preference folder";
}

TEST_F(LookingTest, OnAnInstallationThePlanNamesTheChangesThatOnlyDeployMakes) {
  MakeInstallation();
  const Args options = {"--separator", "/"};
  ASSERT_EQ(sandbox
                .Run({"set", "qimdir=" + sandbox.Path("qim"), "mqwfdir=" + sandbox.Path("mqwf"),
                      "qimdirrt=" + sandbox.Path("runtime"), "mqpass=m", "databasePassword=d",
                      "smtp=mail", "nuvserver=nuv", "qimip=1", "nuvip=2", "fmcip=3"})
                .status,
            0);
  ExpectEveryLookingCommandLeavesTheFilesAlone(options);

  const Json plan = Json::parse(sandbox.Run({"--separator", "/", "plan", "--json"}).out);
  std::map<std::string, std::vector<std::string>> changes;
  for (const Json& command : plan["commands"]) {
    for (const Json& change : command["file_changes"]) {
      changes[command["tag"]].push_back(change["text"]);
    }
  }
  const std::map<std::string, std::vector<std::string>> expected = {
      {"java_qim",
       {"stores the settings in " + sandbox.PreferenceFile(),
        "restores " + sandbox.Path("mqwf/bin/fmcojagt.jar") + " from fmcojagt.jar.deprecated"}},
      {"java_app",
       {"backs up " + sandbox.Path("qim/intel_a/docs/java/app.properties") +
        " to app.properties.bak"}},
  };
  EXPECT_EQ(changes, expected);
  const std::string text = sandbox.Run({"--separator", "/", "plan"}).out;
  EXPECT_NE(
      text.find("     before it, deploy backs up " +
                sandbox.Path("qim/intel_a/docs/java/app.properties") + " to app.properties.bak\n"),
      npos)
      << text;

  // deploy makes them, as before.
  ASSERT_EQ(sandbox.PrepareDeployment("exit 0\n").status, 0);
  const ToolResult deployed =
      sandbox.Run({"--separator", "/", "deploy", "--java", "./java", "--script-dir", "scripts"});
  ASSERT_EQ(deployed.status, 0) << deployed.out << deployed.err;
  EXPECT_EQ(ReadFile(sandbox.Path("mqwf/bin/fmcojagt.jar")), "archive");
  EXPECT_EQ(ReadFile(sandbox.Path("qim/intel_a/docs/java/app.properties.bak")), "key=value\n");
}

// ---- One platform form ----

TEST(PlatformFormTest, TheDefaultPlanMixesNoPathForms) {
  const ToolSandbox sandbox;
  const Json plan = Json::parse(sandbox.Run({"plan", "--json"}).out);
  std::size_t windowsPaths = 0;
  for (const Json& command : plan["commands"]) {
    for (const Json& argument : command["arguments"]) {
      const std::string text = argument;
      if (text.find('\\') != npos) {
        ++windowsPaths;
        EXPECT_EQ(text.find('/'), npos) << command["tag"] << ": " << text;
      }
    }
  }
  EXPECT_GT(windowsPaths, 10u);
  EXPECT_EQ(plan["javaVariables"][0]["value"],
            "C:\\Program Files\\IBM\\MQSeries Workflow\\bin\\fmcojagt.jar");
}

struct FormWarningCase {
  Args arguments;
  std::vector<std::string> warnedSettings;
  const char* reason;
};

TEST(PlatformFormTest, ValidateAndPlanWarnOncePerFolderSettingInTheOtherForm) {
  const ToolSandbox sandbox;
  const std::vector<std::string> windowsDefaults = {"qimdir", "nuvdir", "mqsdir", "mqwfdir"};
  const FormWarningCase cases[] = {
      {{"--separator", "/", "plan"}, windowsDefaults, "Windows defaults joined with /"},
      {{"--separator", "/", "validate"}, windowsDefaults, "validate as plan"},
      {{"plan"}, {}, "the default joins the defaults in their own form"},
  };
  for (const FormWarningCase& row : cases) {
    const ToolResult result = sandbox.Run(row.arguments);
    EXPECT_EQ(CountLines(result.err) - (row.arguments.back() == "validate" ? 2 : 0),
              static_cast<int>(row.warnedSettings.size()))
        << row.reason << ": " << result.err;
    for (const std::string& key : row.warnedSettings) {
      EXPECT_EQ(Occurrences(result.err, "warning: the setting " + key + " ("), 1)
          << row.reason << ": " << result.err;
    }
  }
  ASSERT_EQ(sandbox.Run({"set", "qimdirrt=/srv/qim/runtime"}).status, 0);
  const ToolResult unix = sandbox.Run({"plan"});
  EXPECT_NE(unix.err.find("warning: the setting qimdirrt (QIM run-time directory) is "
                          "'/srv/qim/runtime', written with '/', but the paths are joined with "
                          "'\\'"),
            npos)
      << unix.err;
}

// ---- The tool acts as the dialog does ----

TEST(ActsAsTheDialogTest, GreyedOutWidgetsAreRefusedNamingWhatEnablesThemAndNothingIsStored) {
  const ToolSandbox sandbox;
  ASSERT_EQ(sandbox.Run({"toggle", "EnableQimPlugIn"}).status, 0);
  const std::string stored = ReadFile(sandbox.PreferenceFile());
  const struct {
    Args arguments;
    const char* widget;
  } cases[] = {
      {{"browse", "BrowseQIMRT", "/tmp"}, "BrowseQIMRT"},
      {{"browse", "BrowseWAS", "--cancel"}, "BrowseWAS"},
      {{"toggle", "EnableCreateDatabase"}, "EnableCreateDatabase"},
  };
  for (const auto& row : cases) {
    const ToolResult result = sandbox.Run(row.arguments);
    EXPECT_EQ(result.status, 1) << row.widget;
    EXPECT_EQ(result.out, "") << row.widget;
    EXPECT_EQ(result.err, "wassetup: " + std::string(row.widget) +
                              " is greyed out; checking EnableQimPlugIn ('Set up QIM during this "
                              "deployment') enables it; nothing was changed\n");
    EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), stored) << row.widget;
  }
}

TEST(ActsAsTheDialogTest, AnUnknownDatabaseProductIsWarnedAboutWithTheCommandsLeftOut) {
  const ToolSandbox sandbox;
  ASSERT_EQ(sandbox.Run({"set", "enableCT=true"}).status, 0);
  const ToolResult unknown = sandbox.Run({"--db-product", "DB2", "plan"});
  EXPECT_EQ(unknown.status, 0);
  EXPECT_EQ(unknown.err,
            "wassetup: warning: --db-product 'DB2' is not a database product the plug-in knows "
            "(IBM DB2, Oracle): the plan leaves out java_db2file, java_dbsetup, and the data "
            "source names no JDBC provider\n");
  for (const char* known : {"Oracle", "IBM DB2"}) {
    EXPECT_EQ(sandbox.Run({"--db-product", known, "plan"}).err, "") << known;
  }
}

// ---- info ----

TEST(InfoTest, ShowsTheJavaVariableOrWhyItIsEmptyAsTextAndAsJson) {
  const ToolSandbox sandbox;
  EXPECT_EQ(sandbox.Run({"info"}).out,
            "Plug-in: QimSetup\nJava variables:\n"
            "  ws.ext.dirs=C:\\Program Files\\IBM\\MQSeries Workflow\\bin\\fmcojagt.jar\n");
  EXPECT_EQ(Json::parse(sandbox.Run({"info", "--json"}).out),
            Json::parse(R"({"format_version": "1.0", "symbolic_name": "QimSetup",
                "javaVariables": [{"name": "ws.ext.dirs",
                  "value": "C:\\Program Files\\IBM\\MQSeries Workflow\\bin\\fmcojagt.jar"}]})"));
  ASSERT_EQ(sandbox.Run({"toggle", "EnableQimPlugIn"}).status, 0);
  EXPECT_EQ(sandbox.Run({"info"}).out,
            "Plug-in: QimSetup\nJava variables:\n"
            "  ws.ext.dirs=(empty: the plug-in sets it when it composes a command, and it "
            "composes none while EnableQimPlugIn is unchecked)\n");
  EXPECT_EQ(Json::parse(sandbox.Run({"info", "--json"}).out),
            Json::parse(R"({"format_version": "1.0", "symbolic_name": "QimSetup",
                "javaVariables": [{"name": "ws.ext.dirs", "value": "",
                  "empty_reason": "the plug-in sets it when it composes a command, )"
                        R"(and it composes none while EnableQimPlugIn is unchecked"}]})"));
}

}  // namespace
}  // namespace qimtest
