// What an operator must be able to trust in wassetup, through the real binary and the real
// module: secrets masked by the field they come from and nothing else, an export that restores
// every setting, looking commands that change no file, one path form, and the tool refusing
// what the dialog refuses.

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>

#include "core/secrets.h"
#include "host/platform/shell_quote.h"
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

// ---- Secrets by identity ----

// The outputs of every looking command with the two passwords set to `password`.
std::map<std::string, std::string> OutputsWithPasswords(const ToolSandbox& sandbox,
                                                        const std::string& password) {
  EXPECT_EQ(sandbox.Run({"set", "databasePassword=" + password, "mqpass=" + password}).status, 0);
  std::map<std::string, std::string> outputs;
  for (const Args& command : kLookingCommands) {
    const ToolResult result = sandbox.Run(command);
    outputs[zaf::platform::ShellJoin(command)] = result.out + "\n--- stderr ---\n" + result.err;
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
    EXPECT_THAT(output, Not(HasSubstr("Unique-Pw-7Qz"))) << command;
  }
  // In the plan java_app carries both passwords, java_db2file and the data source the database one.
  for (const auto& [command, masks] : {std::pair{"get", 2}, {"show", 2}, {"plan", 4}}) {
    EXPECT_EQ(Occurrences(unique.at(command), "********"), masks) << unique.at(command);
  }
  for (const char* password : {"50000", "a", "Files", "QIM"}) {
    const std::map<std::string, std::string> outputs = OutputsWithPasswords(sandbox, password);
    for (const auto& [command, output] : outputs) {
      EXPECT_EQ(output, unique.at(command)) << "password '" << password << "', " << command;
    }
  }
  // java_app's arguments with the two passwords, shown as the operator asks.
  const Json app =
      Json::parse(sandbox.Run({"--show-secrets", "plan", "--json"}).out)["commands"][2];
  EXPECT_EQ(app["arguments"][4], "QIM");
  EXPECT_EQ(app["arguments"][9], "QIM");
}

// What the commands print is searched for the passwords, one that a command writes across two
// lines or in two pieces included, on the terminal and in the log, unless --show-secrets asks
// to see them.
TEST(SecretsByIdentityTest, CommandOutputMasksPasswordsAcrossPiecesAndLines) {
  ToolSandbox sandbox;
  // Prints the database password in two writes with a pause between, then the other one,
  // which holds a line break, then fails.
  ASSERT_TRUE(
      sandbox.PrepareDeployment("printf 'db=Split'; sleep 0.2; printf -- '-Pw;\\n'\n"
                                "printf 'mq=two\\nlines;\\n' >&2\nexit 4\n",
                                {{"databasePassword", "Split-Pw"}}));
  WriteFile(sandbox.Path("doc.json"),
            R"({"format_version": "1.0", "settings": [{"key": "mqpass", "value": "two\nlines"}]})");
  ASSERT_EQ(sandbox.Run({"set", "--from", "doc.json"}).status, 0);
  const Args deploy = Joined(Joined({"--separator", "/"}, kDeploy),
                             {"--start-at", "java_qim", "--log", "deploy.log"});
  const ToolResult failed = sandbox.Run(deploy);
  EXPECT_EQ(failed.status, 1);
  EXPECT_THAT(failed.out, HasSubstr("db=********;\n"));
  EXPECT_THAT(failed.err, HasSubstr("mq=********;\n"));
  const std::string all = failed.out + failed.err + ReadFile(sandbox.Path("deploy.log"));
  EXPECT_THAT(all, AllOf(Not(HasSubstr("Split")), Not(HasSubstr("two\nlines"))));
  EXPECT_THAT(sandbox.Run(Joined({"--show-secrets"}, deploy)).out, HasSubstr("db=Split-Pw;\n"));
}

TEST(PasswordScrubberTest, MasksEveryOccurrenceWhateverTheReadsCutOff) {
  ZAFDlgTabContainer form;
  auto* password = new ZAFDlgEditor(&form, "Password", ZAF_STYLE_PASSWORD);
  password->SetText("secret", 1);
  auto* plain = new ZAFDlgEditor(&form, "Plain", ZAF_STYLE_PLAIN);
  plain->SetText("sec", 1);
  (new ZAFDlgEditor(&form, "Longer", ZAF_STYLE_PASSWORD))->SetText("secret2", 1);
  (new ZAFDlgEditor(&form, "Padded", ZAF_STYLE_PASSWORD))->SetText("  padded ", 1);
  const struct {
    std::vector<std::string> pieces;  // what the command writes, read by read
    std::string shown;
    const char* reason;
  } cases[] = {
      {{"a secret here\n"}, "a ******** here\n", "whole in one read"},
      {{"a sec", "ret here\n"}, "a ******** here\n", "cut in the middle by two reads"},
      {{"sec", "", "re", "t"}, "********", "cut into three pieces and an empty read"},
      {{"a sec\n"}, "a sec\n", "a beginning alone is shown at the end"},
      {{"secsecret"}, "sec********", "a false start before the password"},
      {{"secretsecret"}, "****************", "twice in a row"},
      {{"secret2 secret"}, "******** ********", "the longer of two passwords masked whole"},
      {{"[  padded ]", "[padded]"}, "[********][********]", "as typed, and without its blanks"},
  };
  EXPECT_NE(wassetup::Markers(1)[0], wassetup::Markers(1)[0])
      << "each run's markers are drawn anew, so that no text typed once can be one";
  const wassetup::PasswordScrubber scrubber(form, /*reveal=*/false);
  for (const auto& row : cases) {
    std::string pending, shown;
    for (const std::string& piece : row.pieces) {
      pending += piece;
      shown += scrubber.Release(pending, false);
    }
    shown += scrubber.Release(pending, true);
    EXPECT_EQ(shown, row.shown) << row.reason;
    EXPECT_TRUE(pending.empty()) << row.reason;
  }
}

// ---- The export round trip ----

// A masked export keeps the stored passwords and restores the rest; one with --show-secrets
// restores every setting exactly, on another machine too, where a mask is never stored.
TEST(ExportRoundTripTest, AnExportRestoresTheSettingsAndAMaskNeverOverwritesAPassword) {
  const ToolSandbox first;
  ASSERT_EQ(first
                .Run({"set", "databasePassword= 50000 ", "mqpass=mq-pw", "smtp=********",
                      "qimmq=FIRST.QM", "enableCT=true", "qimdirrt=/srv/qim"})
                .status,
            0);
  ASSERT_EQ(first.Run({"--output", "masked.json", "get", "--json"}).status, 0);
  ASSERT_EQ(first.Run({"--show-secrets", "--output", "all.json", "get", "--json"}).status, 0);
  const std::string all = first.Run({"--show-secrets", "get"}).out;
  ASSERT_EQ(first.Run({"set", "databasePassword=new-db-pw", "qimmq=SECOND.QM", "smtp=x"}).status,
            0);
  const ToolResult applied = first.Run({"set", "--from", "masked.json"});
  ASSERT_EQ(applied.status, 0) << applied.err;
  EXPECT_EQ(Occurrences(applied.err, "databasePassword is the mask ********"), 1) << applied.err;
  EXPECT_EQ(Occurrences(applied.err, "mqpass is the mask ********"), 1) << applied.err;
  EXPECT_THAT(applied.err, Not(HasSubstr("smtp"))) << "smtp is no password";
  EXPECT_THAT(first.Run({"--show-secrets", "get"}).out,
              AllOf(HasSubstr("\ndatabasePassword=new-db-pw\n"), HasSubstr("\nmqpass=mq-pw\n"),
                    HasSubstr("\nqimmq=FIRST.QM\n"), HasSubstr("\nsmtp=********\n")));

  const ToolSandbox second;
  ASSERT_EQ(second.Run({"set", "--from", first.Path("masked.json")}).status, 0);
  EXPECT_THAT(second.Run({"--show-secrets", "get"}).out,
              AllOf(HasSubstr("\ndatabasePassword=\n"), HasSubstr("\nqimmq=FIRST.QM\n")));
  EXPECT_EQ(Occurrences(ReadFile(second.PreferenceFile()), "********"), 1) << "smtp's only";
  ASSERT_EQ(second.Run({"set", "--from", first.Path("all.json")}).status, 0);
  EXPECT_EQ(second.Run({"--show-secrets", "get"}).out, all);
}

// ---- Looking never writes ----

// Mode, modification time and checksum of every file and folder below `root`, leaving out the
// sandbox's own ".run.*" files that carry the tool's input and output.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  std::error_code error;
  for (auto entry = fs::recursive_directory_iterator(root, error);
       entry != fs::recursive_directory_iterator(); entry.increment(error)) {
    if (entry->path().filename().string().rfind(".run.", 0) != 0) {
      struct stat status {};
      lstat(entry->path().c_str(), &status);
      files[entry->path().string()] =
          std::to_string(status.st_mode) + " " + std::to_string(status.st_mtim.tv_sec) + "." +
          std::to_string(status.st_mtim.tv_nsec) + " " +
          std::to_string(std::hash<std::string>()(ReadFile(entry->path().string())));
    }
  }
  return files;
}

// Runs every looking command with `options` and checks that nothing below the sandbox changed.
void ExpectNoLookingCommandChangesAFile(const ToolSandbox& sandbox, const Args& options) {
  for (const Args& command : kLookingCommands) {
    const auto before = Snapshot(sandbox.Path(""));
    EXPECT_LE(sandbox.Run(Joined(options, command)).status, 1) << zaf::platform::ShellJoin(command);
    EXPECT_EQ(Snapshot(sandbox.Path("")), before) << zaf::platform::ShellJoin(command);
  }
}

TEST(LookingTest, OnAFreshFolderNoLookingCommandNorADryRunMakesAFile) {
  const ToolSandbox sandbox;
  ExpectNoLookingCommandChangesAFile(sandbox, {});
  const std::string document =
      R"({"format_version":"1.0","settings":[{"key":"smtp","value":"a"}]})";
  EXPECT_EQ(sandbox.Run({"set", "--from", "-", "--dry-run", "--json"}, document).status, 0);
  EXPECT_FALSE(FileExists(sandbox.Path("prefs"))) << "not even the preference folder";
}

// On an installation whose Workflow archive is only in its backup, and whose properties file
// has no backup yet, the plan names the changes and only deploy makes them.
TEST(LookingTest, OnAnInstallationThePlanNamesTheChangesThatOnlyDeployMakes) {
  const ToolSandbox sandbox;
  for (const char* folder : {"qim/intel_a/docs/java", "mqwf/bin", "runtime"}) {
    ASSERT_TRUE(fs::create_directories(sandbox.Path(folder))) << folder;
  }
  WriteFile(sandbox.Path("mqwf/bin/fmcojagt.jar.deprecated"), "archive");
  const std::string properties = sandbox.Path("qim/intel_a/docs/java/app.properties");
  WriteFile(properties, "key=value\n");
  ASSERT_TRUE(sandbox.PrepareDeployment(
      "exit 0\n", {{"qimdir", sandbox.Path("qim")}, {"mqwfdir", sandbox.Path("mqwf")}}));
  ExpectNoLookingCommandChangesAFile(sandbox, {"--separator", "/"});

  const Json plan = Json::parse(sandbox.Run({"--separator", "/", "plan", "--json"}).out);
  std::map<std::string, std::vector<std::string>> changes;
  for (const Json& command : plan["commands"]) {
    for (const Json& change : command["file_changes"]) {
      changes[command["tag"]].push_back(change["text"]);
    }
  }
  EXPECT_EQ(
      changes,
      (std::map<std::string, std::vector<std::string>>{
          {"java_qim",
           {"stores the settings in " + sandbox.PreferenceFile(),
            "restores " + sandbox.Path("mqwf/bin/fmcojagt.jar") + " from fmcojagt.jar.deprecated"}},
          {"java_app", {"backs up " + properties + " to app.properties.bak"}}}));
  EXPECT_THAT(
      sandbox.Run({"--separator", "/", "plan"}).out,
      HasSubstr("     before it, deploy backs up " + properties + " to app.properties.bak\n"));

  const ToolResult deployed = sandbox.Run(Joined({"--separator", "/"}, kDeploy));
  ASSERT_EQ(deployed.status, 0) << deployed.out << deployed.err;
  EXPECT_EQ(ReadFile(sandbox.Path("mqwf/bin/fmcojagt.jar")), "archive");
  EXPECT_EQ(ReadFile(properties + ".bak"), "key=value\n");
}

// ---- One platform form ----

// Validate and plan warn alike, once each, of what the commands would be given badly: a folder
// in the other path form, a value that a script may take for an option (a password's value not
// shown), a database product the plug-in does not know.
TEST(PlatformFormTest, ValidateAndPlanWarnOnceOfWhatTheCommandsWouldBeGivenBadly) {
  const struct {
    Args settings;  // set first, in a fresh folder
    Args options;
    std::vector<std::string> warnings;  // how each warning begins, in order
    const char* reason;
  } cases[] = {
      {{}, {"--db-product", "Oracle"}, {}, "the defaults in their own form, a known product"},
      {{},
       {"--separator", "/"},
       {"the setting qimdir (", "the setting nuvdir (", "the setting mqsdir (",
        "the setting mqwfdir ("},
       "Windows defaults joined with /"},
      {{"qimdirrt=/srv/qim/runtime"},
       {},
       {"the setting qimdirrt (QIM run-time directory) is '/srv/qim/runtime', written with '/', "
        "but the paths are joined with '\\'"},
       "a folder written with / joined with \\"},
      {{"qimdirrt=--delete"},
       {},
       {"the value of qimdirrt ('--delete') begins with '-' and is passed to the script "
        "QIMFilesCp.bat (step qim_copy)"},
       "a folder that reaches a copy script's arguments, its value shown"},
      {{"qimdirrt=C:\\QIM", "databasePassword=-secret", "enableCT=true"},
       {},
       {"the value of databasePassword begins with '-' and is passed to the script "
        "QIMDBSetup.bat (step java_dbsetup)"},
       "a password, from the command with the password itself, not shown"},
      {{"enableCT=true"},
       {"--db-product", "DB2"},
       {"--db-product 'DB2' is not a database product the plug-in knows (IBM DB2, Oracle): the "
        "plan leaves out java_db2file, java_dbsetup, and the data source names no JDBC provider"},
       "an unknown database product"},
  };
  for (const auto& row : cases) {
    const ToolSandbox sandbox;
    if (!row.settings.empty()) {
      ASSERT_EQ(sandbox.Run(Joined({"set"}, row.settings)).status, 0) << row.reason;
    }
    for (const char* command : {"validate", "plan"}) {
      SCOPED_TRACE(std::string(row.reason) + ", " + command);
      const std::string err = sandbox.Run(Joined(row.options, {command})).err;
      std::vector<std::string> warnings;
      for (std::size_t at = 0; (at = err.find("wassetup: warning: ", at)) != npos; ++at) {
        warnings.push_back(err.substr(at + 19, err.find('\n', at) - at - 19));
      }
      ASSERT_EQ(warnings.size(), row.warnings.size()) << err;
      for (std::size_t index = 0; index < warnings.size(); ++index) {
        EXPECT_EQ(warnings[index].rfind(row.warnings[index], 0), 0u) << warnings[index];
      }
      EXPECT_THAT(err, Not(HasSubstr("-secret")));
    }
  }
}

// ---- The tool acts as the dialog does ----

// Unchecking the plug-in greys its frames out, and is stored; info says why the Java variable
// is empty then, as text and as JSON.
TEST(ActsAsTheDialogTest, GreyedOutWidgetsAreRefusedNamingWhatEnablesThemAndNothingIsStored) {
  const ToolSandbox sandbox;
  const std::string jar = "C:\\Program Files\\IBM\\MQSeries Workflow\\bin\\fmcojagt.jar";
  const std::string why =
      "the plug-in sets it when it composes a command, and it composes none while "
      "EnableQimPlugIn is unchecked";
  const auto expectInfo = [&sandbox, &jar, &why](bool enabled) {
    EXPECT_EQ(sandbox.Run({"info"}).out, "Plug-in: QimSetup\nJava variables:\n  ws.ext.dirs=" +
                                             (enabled ? jar : "(empty: " + why + ")") + "\n");
    Json variable = {{"name", "ws.ext.dirs"}, {"value", enabled ? jar : ""}};
    if (!enabled) {
      variable["empty_reason"] = why;
    }
    EXPECT_EQ(Json::parse(sandbox.Run({"info", "--json"}).out),
              Json({{"format_version", "1.0"},
                    {"symbolic_name", "QimSetup"},
                    {"javaVariables", Json::array({variable})}}));
  };
  // Settings already stored: the toggle changes only the first of them, and must be saved.
  ASSERT_EQ(sandbox.Run({"set", "smtp=mail.example.com"}).status, 0);
  expectInfo(true);
  EXPECT_THAT(sandbox.Run({"show"}).out, HasSubstr("[x] Set up QIM during this deployment"));
  const ToolResult toggled = sandbox.Run({"toggle", "EnableQimPlugIn"});
  ASSERT_EQ(toggled.out, "EnableQimPlugIn: unchecked\n") << toggled.err;
  expectInfo(false);
  EXPECT_THAT(sandbox.Run({"show"}).out, AllOf(HasSubstr("Product directories (greyed out)"),
                                               HasSubstr("[ ] Set up QIM during this deployment")));
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
    SCOPED_TRACE(row.widget);
    const ToolResult result = sandbox.Run(row.arguments);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "wassetup: " + std::string(row.widget) +
                              " is greyed out; checking EnableQimPlugIn ('Set up QIM during this "
                              "deployment') enables it; nothing was changed\n");
    EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), stored);
  }
}

}  // namespace
}  // namespace qimtest
