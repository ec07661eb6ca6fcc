// Several processes storing settings at once, a lock another process keeps, and preference
// folders or settings files that are not the tool's to use: no setting is lost, no command
// waits without a word or without end, and nothing is written through a link.

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tool_runner.h"
#include "ui/backend.h"

namespace qimtest {
namespace {

using Clock = std::chrono::steady_clock;

// Settings that take any text.
const char* const kTextKeys[] = {
    "databaseName", "databaseHost", "databasePort", "databaseUser", "jndiName",
    "qimdirrt",     "qimdir",       "nuvdir",       "mqsdir",       "mqwfdir",
    "wasdir",       "javahome",     "mqscfg",       "mquser",       "smtp",
    "nuvserver",    "nuvport",      "nuvservlet",   "qimmq",        "qimdlq",
    "qimip",        "qimport",      "waittime",     "nuvmq",        "nuvdlq",
};

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  return at == npos ? text : text.replace(at, from.size(), to);
}

// Waits up to ten seconds for `part` to appear in the file `path`.
bool AppearsIn(const std::string& path, const std::string& part) {
  const auto end = Clock::now() + std::chrono::seconds(10);
  while (ReadFile(path).find(part) == npos) {
    if (Clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

const std::string kWaiting = "waiting for the settings lock held by process ";
// A run that waits this long for a lock is taken to wait without end.
constexpr std::chrono::seconds kLimit{10};

TEST(SettingsStoreTest, FiftyConcurrentSetsOverTwentyFiveKeysKeepAValueWrittenToEveryKey) {
  ToolSandbox sandbox;
  constexpr int kWriters = 50;
  constexpr int kKeys = static_cast<int>(std::size(kTextKeys));
  std::vector<pid_t> writers;
  for (int writer = 0; writer < kWriters; ++writer) {
    const std::string name = "w" + std::to_string(writer);
    writers.push_back(sandbox.Start({"set", kTextKeys[writer % kKeys] + ("=" + name)}, name));
  }
  for (int writer = 0; writer < kWriters; ++writer) {
    const std::string name = "w" + std::to_string(writer);
    const ToolResult result = sandbox.Finish(writers[writer], name);
    EXPECT_EQ(result.status, 0) << name << ": " << result.err;
  }
  const std::string got = sandbox.Run({"get"}).out;
  for (int key = 0; key < kKeys; ++key) {
    const std::string prefix = std::string("\n") + kTextKeys[key] + "=w";
    EXPECT_TRUE(got.find(prefix + std::to_string(key) + "\n") != npos ||
                got.find(prefix + std::to_string(key + kKeys) + "\n") != npos)
        << kTextKeys[key] << " lost both values written to it:\n"
        << got;
  }
}

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
  ASSERT_TRUE(AppearsIn(sandbox.Path("writer.err"), kWaiting + std::to_string(getpid()) + "\n"))
      << ReadFile(sandbox.Path("writer.err"));
  WriteFile(file,
            Replaced(Replaced(ReadFile(file), "\"old.example.com\"", "\"theirs.example.com\""),
                     "\"OLDDB\"", "\"THEIRDB\""));
  held.reset();
  const ToolResult result = sandbox.Finish(writer, "writer");
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(Occurrences(result.err, "waiting for"), 1) << result.err;
  EXPECT_NE(result.err.find("'smtp' was changed by another process"), npos) << result.err;
  EXPECT_EQ(Occurrences(result.err, "changed by another process"), 1) << result.err;
  const std::string got = sandbox.Run({"get"}).out;
  EXPECT_NE(got.find("\nsmtp=mine.example.com\n"), npos) << got;
  EXPECT_NE(got.find("\ndatabaseName=THEIRDB\n"), npos) << got;
}

TEST(SettingsStoreTest, ALockHeldPastTheTimeoutEndsASaveWithStatus2WhileLookingGoesOn) {
  ToolSandbox sandbox;
  ASSERT_EQ(sandbox.Run({"set", "smtp=stored.example.com"}).status, 0);
  const std::string stored = ReadFile(sandbox.PreferenceFile());
  HeldLock held(sandbox.PreferenceFile() + ".lock");
  ASSERT_TRUE(held.Held());
  const std::string holder = std::to_string(getpid());

  const auto start = Clock::now();
  const ToolResult refused = sandbox.Finish(
      sandbox.Start({"--lock-timeout", "0.5", "set", "smtp=new.example.com"}, "refused"), "refused",
      kLimit);
  const auto waited = Clock::now() - start;
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(CountLines(refused.err), 2) << refused.err;
  EXPECT_EQ(Occurrences(refused.err, kWaiting + holder + "\n"), 1) << refused.err;
  EXPECT_NE(refused.err.find("still held by process " + holder + " after 0.500 s"), npos)
      << refused.err;
  EXPECT_GE(waited, std::chrono::milliseconds(500));
  EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), stored);

  for (const Args& looking : {Args{"show"}, Args{"get"}, Args{"plan"}, Args{"validate"}}) {
    const ToolResult result = sandbox.Finish(sandbox.Start(looking, "look"), "look", kLimit);
    EXPECT_TRUE(result.status == 0 || result.status == 1) << looking[0] << ": " << result.err;
    EXPECT_EQ(result.err.find("waiting"), npos) << looking[0] << ": " << result.err;
  }
}

TEST(SettingsStoreTest, AFolderOthersMayWriteOrALinkedSettingsFileStopsTheToolAndStays) {
  const struct {
    const char* reason;
    void (*spoil)(const ToolSandbox& sandbox);
    const char* expected;
  } cases[] = {
      {"a folder anyone may write",
       [](const ToolSandbox& sandbox) { chmod(sandbox.Path("prefs").c_str(), 0777); },
       "group or others may write to the preference folder"},
      {"a settings file that is a symbolic link",
       [](const ToolSandbox& sandbox) {
         std::rename(sandbox.PreferenceFile().c_str(), sandbox.Path("elsewhere").c_str());
         symlink(sandbox.Path("elsewhere").c_str(), sandbox.PreferenceFile().c_str());
       },
       "is a symbolic link"},
  };
  for (const auto& bad : cases) {
    ToolSandbox sandbox;
    ASSERT_EQ(sandbox.Run({"set", "smtp=stored.example.com"}).status, 0) << bad.reason;
    const std::string stored = ReadFile(sandbox.PreferenceFile());
    bad.spoil(sandbox);
    for (const Args& command : {Args{"show"}, Args{"set", "smtp=new.example.com"}}) {
      const ToolResult result = sandbox.Run(command);
      EXPECT_EQ(result.status, 2) << bad.reason << ", " << command[0];
      EXPECT_EQ(CountLines(result.err), 1)
          << bad.reason << ", " << command[0] << ": " << result.err;
      EXPECT_NE(result.err.find(bad.expected), npos) << bad.reason << ": " << result.err;
      EXPECT_NE(result.err.find(sandbox.Path("prefs")), npos) << bad.reason << ": " << result.err;
    }
    EXPECT_EQ(ReadFile(sandbox.PreferenceFile()), stored) << bad.reason;
  }
}

// The dialog on a live session, as `wassetup ui` serves it, beside command-line runs on the
// same preference folder.
class DialogStoreTest : public ::testing::Test {
 protected:
  DialogStoreTest() {
    EXPECT_EQ(sandbox_.Run({"set", "smtp=before.example.com"}).status, 0);
    options_.pluginPath = QIM_MODULE_PATH;
    options_.catalogDir = QIM_SOURCE_CATALOG_DIR;
    options_.prefsDir = sandbox_.Path("prefs");
    session_ = std::make_unique<wassetup::Session>(options_, wassetup::Access::kChange);
    backend_ = std::make_unique<wassetup::UiBackend>(*session_);
  }

  // Types `text` into the editor `name` as the page does.
  int Type(const std::string& name, const std::string& text) {
    const nlohmann::ordered_json form = backend_->Form().body;
    for (const auto& widget : form["widgets"]) {
      if (widget["name"] == name) {
        return backend_->Type({{"id", widget["id"].get<std::uint64_t>()}, {"text", text}}).status;
      }
    }
    return 0;
  }

  ToolSandbox sandbox_;
  wassetup::GlobalOptions options_;
  std::unique_ptr<wassetup::Session> session_;
  std::unique_ptr<wassetup::UiBackend> backend_;
};

// The plan between typing and saving composes the command that stores the settings, in the
// host's record only: that store must not count as the save.
TEST_F(DialogStoreTest, SaveAfterAPlanKeepsACommandLineChangeToAnotherSetting) {
  ASSERT_EQ(sandbox_.Run({"set", "databaseName=FROMCLI"}).status, 0);
  ASSERT_EQ(Type("SMTPEditor", "dialog.example.com"), 200);
  ASSERT_EQ(backend_->Plan().status, 200);
  ASSERT_EQ(backend_->Save().status, 200);
  const std::string got = sandbox_.Run({"get"}).out;
  EXPECT_NE(got.find("\ndatabaseName=FROMCLI\n"), npos) << got;
  EXPECT_NE(got.find("\nsmtp=dialog.example.com\n"), npos) << got;
}

// The lock is released when the test asks, or after kLimit: a Save that waits without end
// then ends late instead of hanging the test.
TEST_F(DialogStoreTest, SaveAnswersWithAnErrorWithinSecondsWhileAnotherProcessHoldsTheLock) {
  ASSERT_EQ(Type("SMTPEditor", "dialog.example.com"), 200);
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
  EXPECT_NE(refused.body.dump().find("still held by process " + std::to_string(getpid())), npos)
      << refused.body.dump();
  EXPECT_EQ(backend_->Save().status, 200);
  EXPECT_NE(sandbox_.Run({"get"}).out.find("\nsmtp=dialog.example.com\n"), npos);
}

}  // namespace
}  // namespace qimtest
