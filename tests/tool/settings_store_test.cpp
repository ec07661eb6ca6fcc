// A lock another process keeps, on the command line and in the dialog: a writer says whom it
// waits for and merges its change into what was saved meanwhile, so no setting is lost, and no
// command waits without a word or without end. Two writers at once are tried in tests/host.

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "backend_fixture.h"

namespace qimtest {
namespace {

using Clock = std::chrono::steady_clock;

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  return at == npos ? text : text.replace(at, from.size(), to);
}

const std::string kWaiting = "waiting for the settings lock held by process ";
// A run that waits this long for a lock is taken to wait without end.
constexpr std::chrono::seconds kLimit{10};

// The writer reads the settings, finds the lock held, says by whom and waits; meanwhile
// another process saves two settings. The writer's own change wins over the other's change to
// the same setting, and says so; the other setting keeps the other's value.
TEST(SettingsStoreTest, AWriterWaitsForAHeldLockThenMergesItsChangeIntoWhatWasSavedMeanwhile) {
  ToolSandbox sandbox;
  ASSERT_EQ(sandbox.Run({"set", "smtp=old.example.com", "databaseName=OLDDB"}).status, 0);
  const std::string file = sandbox.PreferenceFile();
  std::optional<HeldLock> held(std::in_place, file + ".lock");
  ASSERT_TRUE(held->Held());
  const pid_t writer = sandbox.Start({"set", "smtp=mine.example.com"}, "writer");
  const std::string err = sandbox.Path("writer.err"), waiting = kWaiting + std::to_string(getpid());
  ASSERT_TRUE(WaitFor([&] { return ReadFile(err).find(waiting) != npos; }, kLimit))
      << ReadFile(err);
  WriteFile(file,
            Replaced(Replaced(ReadFile(file), "\"old.example.com\"", "\"theirs.example.com\""),
                     "\"OLDDB\"", "\"THEIRDB\""));
  held.reset();
  const ToolResult result = sandbox.Finish(writer, "writer");
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(Occurrences(result.err, "waiting for"), 1) << result.err;
  EXPECT_EQ(Occurrences(result.err, "'smtp' was changed by another process"), 1) << result.err;
  EXPECT_EQ(Occurrences(result.err, "changed by another process"), 1) << result.err;
  EXPECT_THAT(sandbox.Run({"get"}).out,
              AllOf(HasSubstr("\nsmtp=mine.example.com\n"), HasSubstr("\ndatabaseName=THEIRDB\n")));
}

TEST(SettingsStoreTest, ALockHeldPastTheTimeoutEndsASaveWithStatus2WhileLookingGoesOn) {
  ToolSandbox sandbox;
  ASSERT_EQ(sandbox.Run({"set", "smtp=stored.example.com"}).status, 0);
  const std::string stored = ReadFile(sandbox.PreferenceFile());
  HeldLock held(sandbox.PreferenceFile() + ".lock");
  ASSERT_TRUE(held.Held());
  const std::string holder = std::to_string(getpid());

  const ToolResult refused = sandbox.Finish(
      sandbox.Start({"--lock-timeout", "1", "set", "smtp=new.example.com"}, "refused"), "refused",
      kLimit);
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(CountLines(refused.err), 2) << refused.err;
  EXPECT_EQ(Occurrences(refused.err, kWaiting + holder + "\n"), 1) << refused.err;
  EXPECT_THAT(refused.err, HasSubstr("still held by process " + holder + " after 1 s"));
  EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), stored);

  // Nor does a set that changes nothing wait.
  for (const Args& looking : {Args{"show"}, Args{"get"}, Args{"plan"}, Args{"validate"},
                              Args{"set", "smtp=stored.example.com"}}) {
    const ToolResult result = sandbox.Finish(sandbox.Start(looking, "look"), "look", kLimit);
    EXPECT_LE(result.status, 1) << looking[0] << ": " << result.err;
    EXPECT_THAT(result.err, Not(HasSubstr("waiting"))) << looking[0];
  }
}

// The dialog on a live session, as `wassetup ui` serves it, beside command-line runs on the
// same preference folder, which holds stored settings when the session opens.
class DialogStoreTest : public LiveSessionTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(sandbox_.Run({"set", "smtp=before.example.com"}).status, 0);
    Open();
  }
};

// The plan between typing and saving composes the command that stores the settings, in the
// host's record only: that store must not count as the save.
TEST_F(DialogStoreTest, SaveAfterAPlanKeepsACommandLineChangeToAnotherSetting) {
  ASSERT_EQ(sandbox_.Run({"set", "databaseName=FROMCLI"}).status, 0);
  ASSERT_EQ(backend_->Type(Request("SMTPEditor", "dialog.example.com")).status, 200);
  ASSERT_EQ(backend_->Plan().status, 200);
  ASSERT_EQ(backend_->Save().status, 200);
  EXPECT_THAT(sandbox_.Run({"get"}).out, AllOf(HasSubstr("\ndatabaseName=FROMCLI\n"),
                                               HasSubstr("\nsmtp=dialog.example.com\n")));
}

// The lock is released when the test asks, or after kLimit: a Save that waits without end
// then ends late instead of hanging the test.
TEST_F(DialogStoreTest, SaveAnswersWithAnErrorWithinSecondsWhileAnotherProcessHoldsTheLock) {
  ASSERT_EQ(backend_->Type(Request("SMTPEditor", "dialog.example.com")).status, 200);
  HeldLock held(sandbox_.PreferenceFile() + ".lock");
  ASSERT_TRUE(held.Held());
  std::atomic<bool> release{false};
  std::thread keeper([&] {
    for (const auto end = Clock::now() + kLimit; !release && Clock::now() < end;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    held.Release();
  });
  const auto start = Clock::now();
  const wassetup::UiReply refused = backend_->Save();
  EXPECT_LT(Clock::now() - start, kLimit);
  release = true;
  keeper.join();
  EXPECT_EQ(refused.status, 500);
  EXPECT_THAT(refused.body.dump(), HasSubstr("still held by process " + std::to_string(getpid())));
  EXPECT_EQ(backend_->Save().status, 200);
  EXPECT_THAT(sandbox_.Run({"get"}).out, HasSubstr("\nsmtp=dialog.example.com\n"));
}

}  // namespace
}  // namespace qimtest
