// The deployment runner on the live plug-in with a launcher that only pretends to run: what
// stops a run and where it resumes, steps with nothing to run, and what the observers are told.
// The command line's deploy tests (deploy_test.cpp) run the whole plan through real processes.

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "backend_fixture.h"
#include "core/deploy_runner.h"

namespace qimtest {
namespace {

using ::testing::Contains;
using wassetup::DeployRunner;
using wassetup::DeployStatus;
using wassetup::StepState;

// Stands in for the system: records each argument vector and answers with the result scripted
// for that launch (by number, from 0), else a command that ran and exited with 0.
class FakeLauncher : public wassetup::ProcessLauncher {
 public:
  wassetup::ProcessResult Launch(const std::vector<std::string>& argv,
                                 const wassetup::LineFilter& /*filter*/) override {
    const int number = static_cast<int>(launched.size());
    launched.push_back(argv);
    if (during.count(number) != 0) {
      during[number]();
    }
    return results.count(number) != 0 ? results[number] : Exited(0);
  }

  static wassetup::ProcessResult Exited(int status, const std::string& lastErrorLine = "") {
    wassetup::ProcessResult result;
    result.started = true;
    result.exitStatus = status;
    result.lastErrorLine = lastErrorLine;
    return result;
  }

  std::vector<std::vector<std::string>> launched;
  std::map<int, wassetup::ProcessResult> results;
  std::map<int, std::function<void()>> during;  // what happens while it runs
};

// Writes down every event as one line: "started", "running TAG", "done TAG", "ended STATUS".
class EventLog : public wassetup::DeployObserver {
 public:
  void Started(const wassetup::DeployRun& /*run*/) override { events.push_back("started"); }
  void StepChanged(const wassetup::DeployRun& run, std::size_t index) override {
    events.push_back(std::string(wassetup::StepStateName(run.steps[index].state)) + " " +
                     run.steps[index].tagText);
  }
  void Ended(const wassetup::DeployRun& run) override {
    events.push_back(std::string("ended ") + wassetup::DeployStatusName(run.status));
  }

  std::vector<std::string> events;
};

// Settings that pass validation and ask for the database to be created: fourteen steps,
// qim_copy first and java_dbsetup last.
class DeployRunnerTest : public LiveSessionTest {
 protected:
  void SetUp() override { OpenWith("IBM DB2"); }

  void OpenWith(const std::string& databaseProduct) {
    options_.host.databaseProduct = databaseProduct;
    options_.host.javaLauncher = "/opt/java/bin/java";
    options_.host.scriptDirectory = "/opt/scripts";
    Open();
    MakeValid({{"enableCT", "true"}});
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

  FakeLauncher launcher_;
  EventLog log_;
};

constexpr StepState kPending = StepState::kPending;
constexpr StepState kDone = StepState::kDone;
constexpr StepState kFailed = StepState::kFailed;
constexpr StepState kSkipped = StepState::kSkipped;

TEST_F(DeployRunnerTest, AStepWithNothingToRunIsSkippedAndTheRunGoesOn) {
  // With Oracle the plug-in lists java_db2file and java_dbsetup but composes nothing for them.
  OpenWith("Oracle");
  auto runner = Runner();
  EXPECT_EQ(runner->Run(log_), DeployStatus::kFinished);
  const wassetup::DeployRun& run = runner->run();
  std::vector<StepState> expected(14, kDone);
  expected[11] = expected[13] = kSkipped;
  ASSERT_EQ(States(*runner), expected);
  EXPECT_EQ(run.steps[11].tagText, "java_db2file");
  EXPECT_TRUE(run.steps[11].composed);
  EXPECT_EQ(run.steps[11].shown.line, "") << "not the command composed for the step before";
  EXPECT_EQ(launcher_.launched.size(), 12u);
  EXPECT_THAT(log_.events, Contains("skipped java_db2file"));
}

// How a run that does not finish ends: what ran, the state of each step, where to resume, and
// what failed (nothing for an interruption, which is no failure).
TEST_F(DeployRunnerTest, AFailureOrAnInterruptionStopsTheRunAtItsStep) {
  wassetup::ProcessResult notStarted;
  notStarted.startError = "No such file or directory";
  wassetup::ProcessResult cutOff = FakeLauncher::Exited(130);
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
         launcher.results[4] = FakeLauncher::Exited(3, "NUVQM.def: no such file");
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
    SCOPED_TRACE(row.reason);
    launcher_ = FakeLauncher();
    log_ = EventLog();
    auto runner = Runner();
    row.script(launcher_, *runner);
    EXPECT_EQ(runner->Run(log_), row.status);
    const wassetup::DeployRun& run = runner->run();
    EXPECT_EQ(launcher_.launched.size(), row.stoppedAt + (row.stepFailed ? 1 : 0));
    std::vector<StepState> expected(14, kPending);
    std::fill(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(row.stoppedAt),
              kDone);
    if (row.stepFailed) {
      expected[row.stoppedAt] = kFailed;
    }
    EXPECT_EQ(States(*runner), expected);
    EXPECT_EQ(run.ResumeTag(), run.steps[row.stoppedAt].tagText);
    EXPECT_EQ(run.steps[row.stoppedAt].exitStatus.has_value(), row.exited);
    EXPECT_FALSE(run.steps[row.stoppedAt + 1].composed) << "composed ahead";
    EXPECT_EQ(run.failure ? run.failure->detail : "no failure",
              row.detail != nullptr ? row.detail : "no failure");
    EXPECT_EQ(log_.events.back(), std::string("ended ") + wassetup::DeployStatusName(row.status));
  }
}

// The dialog's deployment runs on the same runner (the browser test fails one and resumes it
// from its step); a resume from a step the plan does not have is refused.
TEST_F(DeployRunnerTest, TheDialogResumesOnlyFromAStepOfThePlan) {
  wassetup::UiBackend backend(*session_, &launcher_);
  EXPECT_EQ(backend.StartDeploy({{"startAt", "no_such_tag"}}).status, 400);
}

}  // namespace
}  // namespace qimtest
