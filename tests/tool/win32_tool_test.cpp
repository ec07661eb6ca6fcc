// wassetup.exe on Windows, run under Wine: arguments and files outside ASCII, the default
// settings folder, --output, `ui`; and `deploy` with a fake Java launcher and fake batch
// scripts (process_probe.exe, built beside this program, recording): a value that no script
// can take is refused, naming its setting, before anything runs, and a deployment is
// interrupted. How each argument reaches a program or a script through cmd.exe is tried in
// the host's process tests, which run under Wine too; a whole deployment through cmd.exe, in
// the dialog's browser test (scripts/browser-test.sh --windows).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/subcommands.h"
#include "core/session.h"
#include "host/platform/process.h"
#include "host/platform/program.h"
#include "host/platform/signals.h"
#include "test_support.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Args = std::vector<std::string>;
using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

std::string BesideThisProgram(const std::string& name) {
  return zaf::platform::ProgramFolder() + "\\" + name;
}

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Settings the plug-in finds valid, in a scratch folder whose name holds a blank and letters
// outside ASCII, which is the current folder while it lasts; the fake Java launcher java.exe
// and the scripts are there too, and the probe finds them through its environment.
class WindowsSite {
 public:
  WindowsSite() : root_(temp_.File("site \xC3\xA9\xE2\x9C\x93")), previous_(fs::current_path()) {
    for (const char* folder : {"", "\\prefs", "\\scripts", "\\runtime", "\\QIM"}) {
      fs::create_directories(fs::u8path(root_ + folder));
    }
    fs::current_path(fs::u8path(root_));
    fs::copy_file(fs::u8path(BesideThisProgram("process_probe.exe")), fs::u8path(Path("java.exe")));
    // Each script hands %~1 to %~9 to the probe through variables: `set "NAME=%~1"` takes the
    // value whole, whatever cmd's syntax it holds, once cmd has given it to the script.
    std::string recorder = "@echo off\r\n";
    for (int index = 1; index <= 9; ++index) {
      const std::string number = std::to_string(index);
      recorder += "set \"QIM_A" + number + "=%~" + number + "\"\r\n";
    }
    recorder += "\"%QIM_PROBE%\" script %~nx0\r\nexit /b %ERRORLEVEL%\r\n";
    for (const char* script : {"QIMFilesCp.bat", "QIMDBSetup.bat"}) {
      qimtest::WriteFile(Path("scripts\\") + script, recorder);
    }
  }

  ~WindowsSite() { fs::current_path(previous_); }
  WindowsSite(const WindowsSite&) = delete;
  WindowsSite& operator=(const WindowsSite&) = delete;

  std::string Path(const std::string& name) const { return root_ + "\\" + name; }

  // The settings document that `set --from` reads: valid settings, the database created (so
  // that java_dbsetup runs QIMDBSetup.bat), each of `changes` in place of the one for its key.
  std::string SettingsDocument(const std::map<std::string, std::string>& changes) {
    std::map<std::string, std::string> settings = {
        {"enableCT", "true"},      {"qimdirrt", Path("runtime")}, {"qimdir", Path("QIM")},
        {"mqwfdir", Path("MQWF")}, {"databaseName", "QIMDB"},     {"databaseUser", "db2admin"},
        {"mqpass", "mq-pw"},       {"databasePassword", "db-pw"}, {"smtp", "mail.example.com"},
        {"nuvserver", "nuv"},      {"qimip", "10.0.0.1"},         {"nuvip", "10.0.0.2"},
        {"fmcip", "10.0.0.3"}};
    for (const auto& [key, value] : changes) {
      settings[key] = value;
    }
    Json pairs = Json::array();
    for (const auto& [key, value] : settings) {
      pairs.push_back(Json{{"key", key}, {"value", value}});
    }
    const std::string file = Path("settings.json");
    qimtest::WriteFile(file, Json{{"format_version", "1.0"}, {"settings", pairs}}.dump());
    return file;
  }

  // wassetup.exe --prefs-dir <prefs> ARGS..., through the host's RunCommand (stdin from the
  // null device).
  ToolRun Run(Args arguments, bool withPrefs = true) const {
    if (withPrefs) {
      arguments.insert(arguments.begin(), {"--prefs-dir", Path("prefs")});
    }
    arguments.insert(arguments.begin(), BesideThisProgram("wassetup.exe"));
    ToolRun run;
    const zaf::platform::CommandResult result = zaf::platform::RunCommand(
        arguments, [&run](zaf::platform::OutputStream stream, std::string_view bytes, bool) {
          (stream == zaf::platform::OutputStream::kOut ? run.out : run.err).append(bytes);
        });
    if (result.ending == zaf::platform::CommandResult::Ending::kExited) {
      run.status = result.status;
    }
    return run;
  }

  // What the probe recorded, one vector of fields a run; the record is then cleared.
  std::vector<Args> TakeRecords() const {
    const std::string bytes = qimtest::FileExists(Path("record.bin"))
                                  ? qimtest::ReadFile(Path("record.bin"))
                                  : std::string();
    fs::remove(fs::u8path(Path("record.bin")));
    std::vector<Args> records;
    std::istringstream all(bytes);
    for (std::string record; std::getline(all, record, '\x1e');) {
      std::istringstream fields(record);
      records.emplace_back();
      for (std::string field; std::getline(fields, field, '\0');) {
        records.back().push_back(field);
      }
    }
    return records;
  }

  // The names in the site's folder and in scripts\ that no test put there: a command that
  // cmd ran from a value would leave one.
  std::vector<std::string> Strays() const {
    std::vector<std::string> strays;
    for (const char* folder : {"", "\\scripts"}) {
      for (const fs::directory_entry& entry : fs::directory_iterator(fs::u8path(root_ + folder))) {
        const std::string name = entry.path().filename().u8string();
        if (name.find("pwned") != std::string::npos) {
          strays.push_back(name);
        }
      }
    }
    return strays;
  }

 private:
  qimtest::TempDir temp_;
  std::string root_;
  fs::path previous_;
  // The environment the probe reads while the site lasts.
  qimtest::ScopedEnv probe_{"QIM_PROBE", Path("java.exe")};
  qimtest::ScopedEnv record_{"QIM_RECORD", Path("record.bin")};
  qimtest::ScopedEnv started_{"QIM_STARTED", Path("started.txt")};
  qimtest::ScopedEnv secret_{"QIM_SECRET", std::string("expanded")};
};

// A value that cmd.exe cannot give a script unchanged is refused before the first step runs,
// naming its setting and never its value: exit status 1, nothing recorded, no stray file.
TEST(WindowsToolTest, AValueNoScriptCanTakeIsRefusedBeforeAnythingRuns) {
  struct Row {
    const char* key;
    std::string value;
    const char* reason;
  };
  const Row rows[] = {
      {"databasePassword", "%QIM_SECRET%&echo pwned>pwned.txt", "an expansion and a command"},
      {"databaseUser", "ctrl\x01z", "a control character"},
      {"qimdir", "C:\\QIM%QIM_SECRET%", "a folder joined into a longer argument"},
  };
  WindowsSite site;
  for (const Row& row : rows) {
    ASSERT_EQ(site.Run({"set", "--from", site.SettingsDocument({{row.key, row.value}})}).status, 0)
        << row.reason;
    const ToolRun run =
        site.Run({"deploy", "--java", site.Path("java.exe"), "--script-dir", site.Path("scripts")});
    EXPECT_EQ(run.status, 1) << row.reason << "\n" << run.err;
    EXPECT_THAT(run.err, HasSubstr("The value of " + std::string(row.key) + " (")) << row.reason;
    EXPECT_THAT(run.err, HasSubstr("wassetup: nothing was run.")) << row.reason;
    EXPECT_THAT(run.out + run.err, Not(HasSubstr("pwned"))) << "the value is never shown";
    EXPECT_THAT(site.TakeRecords(), ::testing::IsEmpty()) << row.reason;
  }
  EXPECT_THAT(site.Strays(), ::testing::IsEmpty());
}

// Texts outside ASCII reach the tool through its command line and come back from the settings
// file, written in binary; a document goes to a regular file in place of the old one (that the
// replacement leaves no temporary file is tried in the host's owner-only file test) or to the
// device NUL; the default settings folder is %APPDATA%\wassetup; `ui` hands over to the
// dialog's server.
TEST(WindowsToolTest, TheCommandLineFilesAndFoldersWorkAsOnLinux) {
  WindowsSite site;
  const std::string text = "m\xC3\xA4il.\xE4\xBE\x8B\xE3\x81\x88 \xE2\x9C\x93";
  ASSERT_EQ(site.Run({"set", "smtp=" + text}).status, 0);
  const std::string prefs = qimtest::ReadFile(site.Path("prefs\\QIMSetup.prefs"));
  EXPECT_THAT(prefs, HasSubstr("\"" + text + "\"")) << "stored as UTF-8";
  EXPECT_EQ(prefs.find('\r'), std::string::npos) << "no line end translated";

  const std::string output = site.Path("get \xC3\xA9.json");
  qimtest::WriteFile(output, "old");
  const ToolRun got = site.Run({"--output", output, "get", "--json"});
  ASSERT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.out, "");
  EXPECT_THAT(Json::parse(qimtest::ReadFile(output)).at("settings"),
              ::testing::Contains(Json{{"key", "smtp"}, {"value", text}}));
  const ToolRun toDevice = site.Run({"--output", "NUL", "get", "--json"});
  EXPECT_EQ(toDevice.status, 0) << toDevice.err;
  EXPECT_FALSE(qimtest::FileExists(site.Path("NUL"))) << "the device is written, not a file";

  const qimtest::ScopedEnv appData("APPDATA", site.Path("app data"));
  EXPECT_EQ(site.Run({"set", "smtp=default"}, /*withPrefs=*/false).status, 0);
  EXPECT_THAT(qimtest::ReadFile(site.Path("app data\\wassetup\\QIMSetup.prefs")),
              HasSubstr("\"default\""));

  // `ui` reaches wassetup-ui.exe, which refuses a settings folder that is a file (a failed
  // hand-over would say "cannot run"); the dialog itself is served under Wine by
  // scripts/browser-test.sh --windows.
  const ToolRun ui = site.Run({"--prefs-dir", output, "ui", "--no-open"}, /*withPrefs=*/false);
  EXPECT_EQ(ui.status, 2);
  EXPECT_THAT(ui.err, HasSubstr("is not a folder"));
}

// The console's Ctrl+C and Ctrl+Break cannot be sent under Wine without a console
// (GenerateConsoleCtrlEvent fails there), so the stop request is delivered as the system
// delivers it, to the handler the deployment installed, on a thread of its own. It ends the
// running command's job; the tool reports where to resume, in cmd's quoting, and ends with
// 128 plus the signal, as on Linux.
TEST(WindowsToolTest, AStopRequestEndsTheRunningCommandAndTellsHowToResume) {
  const struct {
    int signal;
    int status;
  } requests[] = {{SIGINT, 130}, {SIGBREAK, 128 + SIGBREAK}};
  for (const auto& request : requests) {
    WindowsSite site;
    const qimtest::ScopedEnv hang("QIM_HANG", std::string("CreateQIMEnv"));
    ASSERT_EQ(site.Run({"set", "--from", site.SettingsDocument({})}).status, 0);
    wassetup::GlobalOptions options;
    options.pluginPath = QIM_MODULE_PATH;
    options.catalogDir = qimtest::kSourceCatalogDirectory;
    options.prefsDir = site.Path("prefs");
    options.host.javaLauncher = site.Path("java.exe");
    options.host.scriptDirectory = site.Path("scripts");
    wassetup::Session session(options, wassetup::Access::kChange);
    wassetup::DeployOptions deploy;
    deploy.runArguments = {"--prefs-dir", options.prefsDir, "deploy"};

    // The request comes once java_qim's command runs; a run that ends before gets none.
    std::atomic<bool> ended{false};
    std::thread stopper([&site, &request, &ended] {
      while (!ended.load()) {
        if (qimtest::FileExists(site.Path("started.txt"))) {
          zaf::platform::RaiseStopSignal(request.signal);
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    std::ostringstream out;
    std::ostringstream err;
    std::streambuf* const savedOut = std::cout.rdbuf(out.rdbuf());
    std::streambuf* const savedErr = std::cerr.rdbuf(err.rdbuf());
    const wassetup::Outcome outcome = wassetup::RunDeploy(session, deploy);
    std::cout.rdbuf(savedOut);
    std::cerr.rdbuf(savedErr);
    ended.store(true);
    stopper.join();

    EXPECT_EQ(outcome.exitStatus(), request.status);
    EXPECT_THAT(err.str(), HasSubstr("wassetup: interrupted at java_qim, whose command was "
                                     "stopped; resume with: wassetup --prefs-dir \"" +
                                     options.prefsDir + "\" deploy --start-at java_qim\n"));
    const DWORD java = std::stoul(qimtest::ReadFile(site.Path("started.txt")));
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, java);
    if (process != nullptr) {
      EXPECT_EQ(::WaitForSingleObject(process, 10000), WAIT_OBJECT_0) << "the command ended";
      ::CloseHandle(process);
    }
    EXPECT_EQ(site.TakeRecords().size(), 2U) << "qim_copy ran, java_qim started, nothing after";
  }
}

}  // namespace
