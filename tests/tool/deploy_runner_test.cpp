// The deployment runner on the live plug-in with a launcher that only pretends to run: the
// order of the steps, what stops a run, resuming from a tag, steps with nothing to run, and
// what the observers are told.

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/deploy_runner.h"
#include "core/documents.h"
#include "test_support.h"

namespace qimtest {
namespace {

using wassetup::DeployRunner;
using wassetup::DeployStatus;
using wassetup::StepState;

constexpr auto npos = std::string::npos;
const std::string kPassword = "Canary-9x-pass";

// Stands in for the system: records each argument vector, passes the lines it is told to print
// through the runner's output scrub and filter, as a real launcher does, and answers with the
// result scripted for that launch (by number, from 0), else a command that ran and exited with 0.
class FakeLauncher : public wassetup::ProcessLauncher {
 public:
  wassetup::ProcessResult Launch(const std::vector<std::string>& argv,
                                 const wassetup::LineFilter& filter) override {
    const int number = static_cast<int>(launched.size());
    launched.push_back(argv);
    for (std::string line : printed[number]) {
      shown.push_back(filter(scrub() ? scrub()(line, true) : line));
    }
    if (during.count(number) != 0) {
      during[number]();
    }
    if (results.count(number) != 0) {
      return results[number];
    }
    wassetup::ProcessResult ran;
    ran.started = true;
    ran.exitStatus = 0;
    return ran;
  }

  std::vector<std::vector<std::string>> launched;
  std::map<int, wassetup::ProcessResult> results;
  std::map<int, std::vector<std::string>> printed;  // lines the command prints
  std::map<int, std::function<void()>> during;      // what happens while it runs
  std::vector<std::string> shown;                   // the lines as the filter gave them back
};

// Writes down every event as one line: "started", "running TAG", "done TAG", "output LINE",
// "ended STATUS".
class EventLog : public wassetup::DeployObserver {
 public:
  void Started(const wassetup::DeployRun& /*run*/) override { events.push_back("started"); }
  void StepChanged(const wassetup::DeployRun& run, std::size_t index) override {
    events.push_back(std::string(wassetup::StepStateName(run.steps[index].state)) + " " +
                     run.steps[index].tagText);
  }
  void CommandOutput(const std::string& line) override { events.push_back("output " + line); }
  void Ended(const wassetup::DeployRun& run) override {
    events.push_back(std::string("ended ") + wassetup::DeployStatusName(run.status));
  }

  std::vector<std::string> events;
};

wassetup::ProcessResult Exited(int status, const std::string& lastErrorLine = "") {
  wassetup::ProcessResult result;
  result.started = true;
  result.exitStatus = status;
  result.lastErrorLine = lastErrorLine;
  return result;
}

// A live session with settings that pass validation and ask for the database to be created:
// fourteen steps, qim_copy first and java_dbsetup last.
class DeployRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override { Open("IBM DB2"); }

  void Open(const std::string& databaseProduct) {
    session_.reset();
    options_.pluginPath = QIM_MODULE_PATH;
    options_.catalogDir = QIM_SOURCE_CATALOG_DIR;
    options_.prefsDir = dir_.File("prefs");
    options_.host.databaseProduct = databaseProduct;
    options_.host.javaLauncher = "/opt/java/bin/java";
    options_.host.scriptDirectory = "/opt/scripts";
    session_ = std::make_unique<wassetup::Session>(options_, wassetup::Access::kChange);
    session_->plugin().SetUserInterfaceFields(
        MakeList({"qimdirrt", "mqpass", "databasePassword", "smtp", "nuvserver", "qimip", "nuvip",
                  "fmcip", "enableCT"}),
        MakeList({dir_.path().c_str(), "mq-pw", kPassword.c_str(), "mail", "nuv", "10.0.0.1",
                  "10.0.0.2", "10.0.0.3", "true"}));
  }

  std::unique_ptr<DeployRunner> Runner(const std::string& startAt = "") {
    return std::make_unique<DeployRunner>(*session_, launcher_,
                                          wassetup::DeployRequest{startAt, false, {}});
  }

  std::vector<StepState> States(const DeployRunner& runner) const {
    std::vector<StepState> states;
    for (const wassetup::Step& step : runner.run().steps) {
      states.push_back(step.state);
    }
    return states;
  }

  TempDir dir_;
  wassetup::GlobalOptions options_;
  std::unique_ptr<wassetup::Session> session_;
  FakeLauncher launcher_;
  EventLog log_;
};

constexpr StepState kPending = StepState::kPending;
constexpr StepState kDone = StepState::kDone;
constexpr StepState kFailed = StepState::kFailed;
constexpr StepState kSkipped = StepState::kSkipped;

TEST_F(DeployRunnerTest, AFinishedRunRunsEveryStepInOrderAndReportsTheServerDefinitions) {
  auto runner = Runner();
  EXPECT_EQ(runner->Run(log_), DeployStatus::kFinished);
  ASSERT_EQ(launcher_.launched.size(), 14u);
  EXPECT_EQ(launcher_.launched.front().front(), "/opt/scripts/QIMFilesCp.bat");
  EXPECT_EQ(launcher_.launched[1].front(), "/opt/java/bin/java");
  EXPECT_EQ(launcher_.launched.back().front(), "/opt/scripts/QIMDBSetup.bat");
  EXPECT_EQ(States(*runner), std::vector<StepState>(14, kDone));
  EXPECT_EQ(log_.events.front(), "started");
  EXPECT_EQ(log_.events[1], "running qim_copy");
  EXPECT_EQ(log_.events[2], "done qim_copy");
  EXPECT_EQ(log_.events.back(), "ended finished");

  const nlohmann::ordered_json document = wassetup::RunDocument(runner->run());
  EXPECT_EQ(document["dataSource"]["Password"], "********");
  EXPECT_EQ(document["dataSource"]["DatabaseName"], "QIMDB");
  ASSERT_EQ(document["javaVariables"].size(), 1u);
  EXPECT_EQ(document["javaVariables"][0]["name"], "ws.ext.dirs");
}

TEST_F(DeployRunnerTest, ResumingFromATagSkipsTheStepsBeforeItWithoutComposingThem) {
  auto runner = Runner("java_fmcdef");
  EXPECT_EQ(runner->run().first, 5u);
  EXPECT_EQ(runner->Run(log_), DeployStatus::kFinished);

  ASSERT_EQ(launcher_.launched.size(), 9u);
  EXPECT_EQ(launcher_.launched.front().back(), "fmcdef") << "the first command run is fmcdef's";
  for (std::size_t index = 0; index < 5; ++index) {
    const wassetup::Step& step = runner->run().steps[index];
    EXPECT_EQ(step.state, kSkipped) << step.tagText;
    EXPECT_FALSE(step.composed) << step.tagText;
  }
  EXPECT_EQ(runner->run().steps[5].state, kDone);
}

TEST_F(DeployRunnerTest, AStartTagOutsideThePlanIsBadUsageBeforeAnythingRuns) {
  try {
    Runner("java_nosuch");
    FAIL() << "an unknown tag must be refused";
  } catch (const wassetup::ToolError& error) {
    EXPECT_EQ(error.exitStatus(), 2);
    EXPECT_NE(std::string(error.what()).find("'java_nosuch' is not a command of the plan"), npos)
        << error.what();
    EXPECT_NE(std::string(error.what()).find("qim_copy, java_qim, "), npos) << error.what();
  }
  EXPECT_TRUE(launcher_.launched.empty());
}

TEST_F(DeployRunnerTest, AStepWithNothingToRunIsSkippedAndTheRunGoesOn) {
  // With Oracle the plug-in lists java_db2file and java_dbsetup but composes nothing for them.
  Open("Oracle");
  auto runner = Runner();
  EXPECT_EQ(runner->Run(log_), DeployStatus::kFinished);

  const wassetup::DeployRun& run = runner->run();
  ASSERT_EQ(run.steps.size(), 14u);
  EXPECT_EQ(run.steps[11].tagText, "java_db2file");
  EXPECT_EQ(run.steps[11].state, kSkipped);
  EXPECT_TRUE(run.steps[11].composed);
  EXPECT_EQ(run.steps[11].shown.line, "") << "not the command composed for the step before";
  EXPECT_EQ(run.steps[12].state, kDone);
  EXPECT_EQ(run.steps[13].state, kSkipped);
  EXPECT_EQ(launcher_.launched.size(), 12u);
  EXPECT_NE(std::find(log_.events.begin(), log_.events.end(), "skipped java_db2file"),
            log_.events.end());
}

// How a run that does not finish ends: what ran, the state of each step, where to resume, and
// what the plug-in says of a failure (nothing for an interruption, which is no failure).
TEST_F(DeployRunnerTest, AFailureOrAnInterruptionStopsTheRunAtItsStep) {
  wassetup::ProcessResult notStarted;
  notStarted.startError = "No such file or directory";
  wassetup::ProcessResult cutOff = Exited(130);
  cutOff.interrupted = true;
  const struct {
    const char* reason;
    std::function<void(FakeLauncher&, DeployRunner&)> script;
    DeployStatus status;
    std::size_t stoppedAt;  // the step that failed or was cut off, or the first not started
    bool stepFailed;        // the step at `stoppedAt` failed (else it never started)
    bool exited;            // its command ran and has an exit status
    const char* detail;     // the failure's detail; null for an interruption
  } cases[] = {
      {"a failure in the middle",
       [](FakeLauncher& launcher, DeployRunner&) {
         launcher.results[4] = Exited(3, "NUVQM.def: no such file");
       },
       DeployStatus::kFailed, 4, true, true, "exit status 3: NUVQM.def: no such file"},
      {"a command that cannot start",
       [&notStarted](FakeLauncher& launcher, DeployRunner&) { launcher.results[0] = notStarted; },
       DeployStatus::kFailed, 0, true, false, "cannot start: No such file or directory"},
      {"a command ended by Ctrl+C",
       [&cutOff](FakeLauncher& launcher, DeployRunner&) { launcher.results[2] = cutOff; },
       DeployStatus::kInterrupted, 2, true, true, nullptr},
      {"a stop asked for while a step runs",
       [](FakeLauncher& launcher, DeployRunner& runner) {
         launcher.during[1] = [&runner] { runner.RequestStop(); };
       },
       DeployStatus::kInterrupted, 2, false, false, nullptr},
  };
  for (const auto& row : cases) {
    launcher_ = FakeLauncher();
    log_ = EventLog();
    auto runner = Runner();
    row.script(launcher_, *runner);
    EXPECT_EQ(runner->Run(log_), row.status) << row.reason;

    const wassetup::DeployRun& run = runner->run();
    EXPECT_EQ(launcher_.launched.size(), row.stoppedAt + (row.stepFailed ? 1 : 0)) << row.reason;
    std::vector<StepState> expected(14, kPending);
    std::fill(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(row.stoppedAt),
              kDone);
    if (row.stepFailed) {
      expected[row.stoppedAt] = kFailed;
    }
    EXPECT_EQ(States(*runner), expected) << row.reason;
    EXPECT_EQ(run.ResumeTag(), run.steps[row.stoppedAt].tagText) << row.reason;
    EXPECT_EQ(run.steps[row.stoppedAt].exitStatus.has_value(), row.exited) << row.reason;
    EXPECT_FALSE(run.steps[row.stoppedAt + 1].composed) << row.reason << ": composed ahead";
    EXPECT_EQ(run.failure.has_value(), row.detail != nullptr) << row.reason;
    if (row.detail != nullptr && run.failure) {
      EXPECT_EQ(run.failure->detail, row.detail) << row.reason;
    }
    EXPECT_EQ(log_.events.back(), std::string("ended ") + wassetup::DeployStatusName(row.status));
  }
  // The plug-in's message for the failure in the middle: its title and text.
  launcher_ = FakeLauncher();
  launcher_.results[4] = Exited(3, "NUVQM.def: no such file");
  auto runner = Runner();
  ASSERT_EQ(runner->Run(log_), DeployStatus::kFailed);
  EXPECT_EQ(runner->run().failure->title, "QIM setup step failed");
  EXPECT_EQ(runner->run().failure->text,
            "Writing the NUV queue-manager definition failed: exit status 3: NUVQM.def: no such "
            "file");
}

TEST_F(DeployRunnerTest, InvalidSettingsRunAndComposeNothing) {
  session_->plugin().SetUserInterfaceFields(MakeList({"databasePort"}), MakeList({" "}));
  auto runner = Runner();
  ASSERT_NE(runner->run().validation.page, nullptr);
  EXPECT_EQ(runner->Run(log_), DeployStatus::kInvalid);

  EXPECT_TRUE(launcher_.launched.empty());
  EXPECT_EQ(log_.events, std::vector<std::string>{"ended invalid"});
  EXPECT_EQ(States(*runner), std::vector<StepState>(14, kPending));
  EXPECT_NE(runner->run().validation.text.find("Database port"), npos);
}

TEST_F(DeployRunnerTest, ThePasswordReachesTheCommandButNotWhatIsShown) {
  launcher_.printed[11] = {"connecting as db2admin/" + kPassword};
  auto runner = Runner();
  ASSERT_EQ(runner->Run(log_), DeployStatus::kFinished);

  const wassetup::Step& step = runner->run().steps[11];
  ASSERT_EQ(step.tagText, "java_db2file");
  EXPECT_NE(std::find(launcher_.launched[11].begin(), launcher_.launched[11].end(), kPassword),
            launcher_.launched[11].end());
  EXPECT_EQ(step.shown.line.find(kPassword), npos) << step.shown.line;
  EXPECT_NE(step.shown.line.find("'********'"), npos) << step.shown.line;
  EXPECT_EQ(launcher_.shown, std::vector<std::string>{"connecting as db2admin/********"});
  EXPECT_NE(
      std::find(log_.events.begin(), log_.events.end(), "output connecting as db2admin/********"),
      log_.events.end());
}

}  // namespace
}  // namespace qimtest
