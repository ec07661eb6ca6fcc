// Crash and concurrency safety of the preference file: a saving process killed at random
// moments, two processes saving at the same time, and folders that refuse the write.
//
// The saving processes are forked children of the test. A child never runs GoogleTest
// assertions: it reports what it did through a pipe and the parent checks it.

#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/preference_file.h"
#include "host/zaf_host.h"
#include "host/zaf_preferences.h"
#include "tests/support/test_support.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

constexpr const char* kRepositoryName = "QIMSetup";

// ---- Versions: preference sets that check themselves ----

// Version k of the settings of one writer, whose names all start with `prefix`: "count" = k,
// and "Keys" and "Values" with 1 + k % 17 entries derived from k. The values hold quotes,
// backslashes, control characters and non-ASCII text, and their lengths change with k, so a
// file cut short or spliced from two versions never passes for a whole one.
zaf::PreferenceMap VersionPreferences(const std::string& prefix, int k) {
  std::vector<std::string> keys;
  std::vector<std::string> values;
  const int entries = 1 + k % 17;
  for (int index = 0; index < entries; ++index) {
    keys.push_back("Key " + std::to_string(k) + "." + std::to_string(index));
    const std::size_t length = 20 + static_cast<std::size_t>((k * 7 + index) % 90);
    values.push_back(std::string(length, static_cast<char>('a' + (k + index) % 26)) +
                     " \"q\" \\ \n\t caf\xC3\xA9 " + std::to_string(k * 31 + index));
  }
  return {{prefix + "count", std::vector<int>{k}},
          {prefix + "Keys", std::move(keys)},
          {prefix + "Values", std::move(values)}};
}

constexpr int kAbsent = -1;  // none of the writer's settings is there
constexpr int kMixed = -2;   // some are there, but they are not all of one version

// Which version the settings of writer `prefix` in `preferences` are.
int VersionOf(const zaf::PreferenceMap& preferences, const std::string& prefix) {
  const auto count = preferences.find(prefix + "count");
  const bool anyThere = count != preferences.end() || preferences.count(prefix + "Keys") != 0 ||
                        preferences.count(prefix + "Values") != 0;
  if (!anyThere) {
    return kAbsent;
  }
  const auto* numbers =
      count != preferences.end() ? std::get_if<std::vector<int>>(&count->second) : nullptr;
  if (numbers == nullptr || numbers->size() != 1 || (*numbers)[0] < 0) {
    return kMixed;
  }
  const int k = (*numbers)[0];
  for (const auto& [name, value] : VersionPreferences(prefix, k)) {
    const auto found = preferences.find(name);
    if (found == preferences.end() || found->second != value) {
      return kMixed;
    }
  }
  return k;
}

// Writes every setting of `preferences` through the repository; 0 when all writes worked.
int WritePreferences(ZAFSysPreferenceRepository* repository,
                     const zaf::PreferenceMap& preferences) {
  for (const auto& [name, value] : preferences) {
    int result = 0;
    if (const auto* numbers = std::get_if<std::vector<int>>(&value)) {
      result = repository->WritePreference(name.c_str(), numbers->data(),
                                           static_cast<int>(numbers->size()));
    } else {
      const auto& texts = std::get<std::vector<std::string>>(value);
      std::vector<ZAFUnicodeString> strings(texts.begin(), texts.end());
      std::vector<const ZAFUnicodeString*> pointers;
      for (const ZAFUnicodeString& text : strings) {
        pointers.push_back(&text);
      }
      result = repository->WritePreference(name.c_str(), pointers.data(),
                                           static_cast<int>(pointers.size()));
    }
    if (result != 0) {
      return result;
    }
  }
  return 0;
}

// A fresh repository object for the folder, as a new run of the tool would have.
ZAFSysPreferenceRepository* OpenFreshRepository(const std::string& folder) {
  zaf::SetPreferenceDirectory(folder);  // closes the repositories opened so far
  return zaf::OpenHostRepository(kRepositoryName);
}

// The preferences in `path`: nothing when the file is missing, an error text when it does
// not parse.
struct FileState {
  bool present = false;
  std::optional<zaf::PreferenceMap> preferences;
  std::string error;
};

FileState ReadState(const std::string& path) {
  FileState state;
  state.present = qimtest::FileExists(path);
  if (state.present) {
    state.preferences = zaf::ParsePreferences(qimtest::ReadFile(path), state.error);
  }
  return state;
}

// The names in `folder` that start with `prefix`.
std::vector<std::string> NamesStartingWith(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> names;
  if (DIR* directory = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(directory)) {
      const std::string name = entry->d_name;
      if (name.compare(0, prefix.size(), prefix) == 0) {
        names.push_back(name);
      }
    }
    ::closedir(directory);
  }
  return names;
}

// ---- Child processes ----

// Writes all of `bytes` to the pipe, ignoring failures: the parent notices what is missing.
void WriteToPipe(int descriptor, const void* bytes, std::size_t size) {
  const char* data = static_cast<const char*>(bytes);
  while (size > 0) {
    const ssize_t written = ::write(descriptor, data, size);
    if (written <= 0) {
      if (written < 0 && errno == EINTR) {
        continue;
      }
      return;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

// A forked child that runs `body` with the write end of a pipe to the parent and exits with
// what `body` returns. A child that hangs is ended by an alarm after `limitSeconds`, so a
// stuck lock fails the test instead of hanging it.
class Child {
 public:
  Child(const std::function<int(int report)>& body, unsigned limitSeconds) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ends[0]);
      ::alarm(limitSeconds);
      const int result = body(ends[1]);
      ::_exit(result);  // no destructors, no GoogleTest teardown in the child
    }
    ::close(ends[1]);
    if (pid_ < 0) {
      ::close(ends[0]);
      return;
    }
    report_ = ends[0];
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      Kill();
    }
    if (report_ >= 0) {
      ::close(report_);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Started() const { return pid_ > 0 && report_ >= 0; }
  pid_t Pid() const { return pid_; }

  // Kills the child with SIGKILL and reaps it.
  void Kill() {
    ::kill(pid_, SIGKILL);
    Reap();
  }

  // Reads exactly `size` bytes the child reported; false when it ended before.
  bool ReadExactly(void* out, std::size_t size) {
    char* data = static_cast<char*>(out);
    while (size > 0) {
      const ssize_t count = ::read(report_, data, size);
      if (count < 0 && errno == EINTR) {
        continue;
      }
      if (count <= 0) {
        return false;
      }
      data += count;
      size -= static_cast<std::size_t>(count);
    }
    return true;
  }

  // Everything the child reported, read until it is gone (blocks until then).
  std::string ReadReport() {
    std::string bytes;
    char buffer[4096];
    for (;;) {
      const ssize_t count = ::read(report_, buffer, sizeof buffer);
      if (count > 0) {
        bytes.append(buffer, static_cast<std::size_t>(count));
      } else if (count == 0 || errno != EINTR) {
        return bytes;
      }
    }
  }

  // Waits for the child; its exit code, or 128 + the signal that ended it.
  int Reap() {
    if (!reaped_) {
      int status = 0;
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      reaped_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return status_;
  }

  // True once the child has ended (reaps it then).
  bool Ended() {
    if (reaped_) {
      return true;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) {
      return false;
    }
    reaped_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
  }

 private:
  pid_t pid_ = -1;
  int report_ = -1;
  bool reaped_ = false;
  int status_ = -1;
};

// What a child observed, as names and texts, sent as "name\0text\0" pairs.
using Observations = std::map<std::string, std::string>;

// Runs `body` in a child and gives back its observations; "exit" holds the child's exit
// code or 128 + the signal that ended it.
Observations ObserveInChild(const std::function<Observations()>& body) {
  Child child(
      [&body](int report) {
        for (const auto& [name, text] : body()) {
          WriteToPipe(report, name.c_str(), name.size() + 1);
          WriteToPipe(report, text.c_str(), text.size() + 1);
        }
        return 0;
      },
      30);
  Observations observations;
  if (!child.Started()) {
    observations["exit"] = "fork failed";
    return observations;
  }
  const std::string bytes = child.ReadReport();
  std::size_t offset = 0;
  while (offset < bytes.size()) {
    const std::size_t nameEnd = bytes.find('\0', offset);
    const std::size_t textEnd = bytes.find('\0', nameEnd + 1);
    if (nameEnd == std::string::npos || textEnd == std::string::npos) {
      break;
    }
    observations[bytes.substr(offset, nameEnd - offset)] =
        bytes.substr(nameEnd + 1, textEnd - nameEnd - 1);
    offset = textEnd + 1;
  }
  observations["exit"] = std::to_string(child.Reap());
  return observations;
}

// ---- A saving process killed at random moments ----

class PreferenceCrashTest : public ::testing::Test {
 protected:
  PreferenceCrashTest() : prefs_(folder_.File("prefs")) {
    zaf::SetPreferenceDirectory(prefs_);
    zaf::SetDiagnosticSink([this](const std::string& line) { lines_.push_back(line); });
  }

  std::string File() const { return prefs_ + "/" + kRepositoryName + ".prefs"; }
  std::string TemporaryPrefix() const { return std::string(kRepositoryName) + ".prefs.tmp."; }

  // Saves version k in this process through a fresh repository; the save's result.
  int SaveVersion(int k) {
    ZAFSysPreferenceRepository* repository = OpenFreshRepository(prefs_);
    const int written = WritePreferences(repository, VersionPreferences("", k));
    return written != 0 ? written : repository->SaveRepository(nullptr);
  }

  // True when the lock file can be locked at once, i.e. nobody holds the lock.
  bool LockIsFree() const {
    const int descriptor = ::open((File() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    if (descriptor < 0) {
      return errno == ENOENT;
    }
    const bool free = ::flock(descriptor, LOCK_EX | LOCK_NB) == 0;
    ::close(descriptor);  // releases it again
    return free;
  }

  qimtest::TempDir folder_;
  qimtest::ScopedHost host_;
  std::string prefs_;
  std::vector<std::string> lines_;
};

// What a saving child reports before its first save, so that the kill falls among its saves
// and not in its start (which takes long under the sanitizers).
constexpr std::int32_t kSavingStarts = -1;

// A child that saves versions base, base + 1, ... in a loop, each save through the same
// repository, and reports each version once its save has returned.
int SaveForever(const std::string& folder, int base, int report) {
  zaf::SetDiagnosticSink([](const std::string&) {});
  ZAFSysPreferenceRepository* repository = OpenFreshRepository(folder);
  WriteToPipe(report, &kSavingStarts, sizeof kSavingStarts);
  for (int k = base;; ++k) {
    if (WritePreferences(repository, VersionPreferences("", k)) != 0 ||
        repository->SaveRepository(nullptr) != 0) {
      return 3;
    }
    const std::int32_t saved = k;
    WriteToPipe(report, &saved, sizeof saved);
  }
}

TEST_F(PreferenceCrashTest, SaveKilledAtRandomMomentsLeavesAWholeVersionAndAFreeLock) {
  constexpr int kRounds = 300;
  const auto started = Clock::now();

  // The kills fall within the first few saves of each child: once it says it starts saving,
  // the delay is drawn up to three times what one save takes here.
  ASSERT_EQ(SaveVersion(0), 0);
  const auto calibration = Clock::now();
  for (int k = 1; k <= 5; ++k) {
    ASSERT_EQ(SaveVersion(k), 0);
  }
  const auto saveTime = (Clock::now() - calibration) / 5;
  const auto longestDelay = std::max<Clock::duration>(3 * saveTime, std::chrono::microseconds(300));
  ASSERT_TRUE(::unlink(File().c_str()) == 0);  // the first child starts without a file

  const unsigned seed = std::random_device()();
  std::mt19937 random(seed);
  std::uniform_int_distribution<Clock::rep> delay(0, longestDelay.count());
  SCOPED_TRACE("seed " + std::to_string(seed));

  int lastKnown = kAbsent;  // the version the file holds before the round; none at first
  int killedBeforeAnySave = 0;
  int killedAfterRenameBeforeReport = 0;
  int roundsWithLeftovers = 0;
  int leftoversAfterNextSave = 0;
  int savesReported = 0;
  Clock::duration slowestNextSave{};
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const int base = lastKnown + 1;
    Child child([this, base](int report) { return SaveForever(prefs_, base, report); }, 20);
    ASSERT_TRUE(child.Started());
    std::int32_t starts = 0;
    ASSERT_TRUE(child.ReadExactly(&starts, sizeof starts) && starts == kSavingStarts);
    std::this_thread::sleep_for(Clock::duration(delay(random)));
    child.Kill();
    ASSERT_EQ(child.Reap(), 128 + SIGKILL)
        << "the child stopped before the kill (3: a save failed)";

    const std::string report = child.ReadReport();
    const int reported = static_cast<int>(report.size() / sizeof(std::int32_t));
    savesReported += reported;
    int lastReported = lastKnown;
    if (reported > 0) {
      std::int32_t last = 0;
      std::memcpy(&last, report.data() + report.size() - sizeof last, sizeof last);
      lastReported = last;
      ASSERT_EQ(lastReported, base + reported - 1);
    } else {
      ++killedBeforeAnySave;
    }

    // The file is the last version whose save returned, or the one whose rename was done
    // when the kill came; before any save it may be missing.
    const FileState state = ReadState(File());
    int inFile = kAbsent;
    if (state.present) {
      ASSERT_TRUE(state.preferences.has_value()) << state.error;
      inFile = VersionOf(*state.preferences, "");
      ASSERT_GE(inFile, 0) << "the file holds no whole version";
      EXPECT_EQ(state.preferences->size(), 3U) << "nothing but the version's settings";
    }
    ASSERT_TRUE(inFile == lastReported || inFile == lastReported + 1)
        << "the file holds version " << inFile << "; the last save that returned was "
        << lastReported;
    if (inFile == lastReported + 1) {
      ++killedAfterRenameBeforeReport;
    }
    if (!NamesStartingWith(prefs_, TemporaryPrefix()).empty()) {
      ++roundsWithLeftovers;
    }

    // The kernel dropped the dead child's lock: the next save goes through at once.
    ASSERT_TRUE(LockIsFree()) << "the killed child's lock is still held";
    const int next = std::max(inFile, lastReported) + 2;
    const auto saveStart = Clock::now();
    ASSERT_EQ(SaveVersion(next), 0);
    slowestNextSave = std::max(slowestNextSave, Clock::now() - saveStart);
    const FileState after = ReadState(File());
    ASSERT_TRUE(after.preferences.has_value()) << after.error;
    ASSERT_EQ(*after.preferences, VersionPreferences("", next));
    if (!NamesStartingWith(prefs_, TemporaryPrefix()).empty()) {
      ++leftoversAfterNextSave;
    }
    lastKnown = next;
  }
  EXPECT_GT(roundsWithLeftovers, 0)
      << "no kill came while a temporary file was written: the test missed what it is for";
  EXPECT_EQ(leftoversAfterNextSave, 0)
      << "rounds whose next save left temporary files of killed saves behind";
  EXPECT_THAT(lines_, ::testing::IsEmpty());
  EXPECT_LT(slowestNextSave, std::chrono::seconds(2)) << "the save after a kill waited";

  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
  std::cout << "[ crash    ] " << kRounds << " kills in " << elapsed.count() << " ms; "
            << savesReported << " saves returned in the children; " << killedBeforeAnySave
            << " kills before a child's first save returned; " << killedAfterRenameBeforeReport
            << " after the rename and before the save returned; " << roundsWithLeftovers
            << " left a temporary file; one save takes about "
            << std::chrono::duration_cast<std::chrono::microseconds>(saveTime).count()
            << " us, slowest save after a kill "
            << std::chrono::duration_cast<std::chrono::microseconds>(slowestNextSave).count()
            << " us\n";
}

TEST_F(PreferenceCrashTest, SaveRemovesTheTemporaryFilesOfDeadSaves) {
  ASSERT_EQ(SaveVersion(1), 0);
  // Temporary files as saves killed in the middle leave them: written in part, named after
  // processes that are gone. Temporary files exist only under the lock, so a save that holds
  // the lock knows that any it finds is dead.
  const std::vector<std::string> leftovers = {File() + ".tmp.999999", File() + ".tmp.1"};
  for (const std::string& leftover : leftovers) {
    qimtest::WriteFile(leftover, "zaf-preferences 1\nint \"count\" 1 ");
  }
  const std::string unrelated = prefs_ + "/Other.prefs.tmp.999999";
  qimtest::WriteFile(unrelated, "another repository's");

  ASSERT_EQ(SaveVersion(2), 0);
  EXPECT_THAT(NamesStartingWith(prefs_, TemporaryPrefix()), ::testing::IsEmpty());
  EXPECT_TRUE(qimtest::FileExists(unrelated)) << "only this repository's temporary files go";
  const FileState state = ReadState(File());
  ASSERT_TRUE(state.preferences.has_value()) << state.error;
  EXPECT_EQ(VersionOf(*state.preferences, ""), 2);
  EXPECT_THAT(lines_, ::testing::IsEmpty());
}

// A save replaces the file by a rename, so the file's inode tells whether it was rewritten.
class PreferenceRewriteTest : public PreferenceCrashTest {
 protected:
  ino_t Inode() const {
    struct stat status {};
    return ::stat(File().c_str(), &status) == 0 ? status.st_ino : 0;
  }
  mode_t Mode() const {
    struct stat status {};
    return ::stat(File().c_str(), &status) == 0 ? (status.st_mode & 07777) : 0;
  }
};

TEST_F(PreferenceRewriteTest, SaveRewritesTheFileOnlyWhenItsTextOrModeChanges) {
  ASSERT_EQ(SaveVersion(1), 0);
  const ino_t first = Inode();
  ASSERT_NE(first, 0U);

  ASSERT_EQ(SaveVersion(1), 0);
  EXPECT_EQ(Inode(), first) << "the same settings again: the file is left as it is";

  ASSERT_EQ(SaveVersion(2), 0);
  const ino_t second = Inode();
  EXPECT_NE(second, first) << "other settings: the file is replaced";

  ASSERT_EQ(::chmod(File().c_str(), 0640), 0);
  ASSERT_EQ(SaveVersion(2), 0);
  EXPECT_NE(Inode(), second) << "a file others may read is rewritten even with the same text";
  EXPECT_EQ(Mode(), 0600U);

  const FileState state = ReadState(File());
  ASSERT_TRUE(state.preferences.has_value()) << state.error;
  EXPECT_EQ(*state.preferences, VersionPreferences("", 2));
  ASSERT_EQ(lines_.size(), 1U) << "only the load's warning about the mode";
  EXPECT_THAT(lines_[0], HasSubstr("0640"));
}

// ---- Two processes saving at the same time ----

// Each writer saves its own settings (names starting with "A." or "B.") and the shared
// setting "LastWriter" ("A:k" or "B:k"). A save puts this run's writes over the file as it
// is under the lock, so the file is consistent when:
// - it parses, and each writer's settings are absent or all of one version (never torn or
//   mixed);
// - "LastWriter" names a writer and the version that writer's settings have in the same
//   file: the last save wrote both, and the other writer's saves since touched neither;
// - a writer's version never goes back from one look at the file to the next;
// - at the end each writer's settings are its last version: no save lost another's.
class PreferenceConcurrencyTest : public PreferenceCrashTest {};

constexpr const char* kLastWriter = "LastWriter";

// A child that waits for the start, then saves versions 0 .. saves - 1 of its settings;
// every third save through a fresh repository, as a new run of the tool would. It reports
// the monotonic times of its first and last save, and exits with the number of failed saves.
int SaveVersions(const std::string& folder, const std::string& writer, int saves, int start,
                 int report) {
  char go = 0;
  if (::read(start, &go, 1) != 1) {
    return 100;
  }
  zaf::SetDiagnosticSink([](const std::string&) {});
  ZAFSysPreferenceRepository* repository = OpenFreshRepository(folder);
  int failures = 0;
  const auto first = Clock::now();
  for (int k = 0; k < saves; ++k) {
    if (k % 3 == 2) {
      repository = OpenFreshRepository(folder);
    }
    zaf::PreferenceMap writes = VersionPreferences(writer + ".", k);
    writes[kLastWriter] = std::vector<std::string>{writer + ":" + std::to_string(k)};
    if (WritePreferences(repository, writes) != 0 || repository->SaveRepository(nullptr) != 0) {
      ++failures;
    }
  }
  const std::int64_t times[2] = {first.time_since_epoch().count(),
                                 Clock::now().time_since_epoch().count()};
  WriteToPipe(report, times, sizeof times);
  return std::min(failures, 99);
}

TEST_F(PreferenceConcurrencyTest, TwoProcessesSavingAtOnceNeverTearOrLoseSettings) {
  constexpr int kSaves = 200;
  int start[2];
  ASSERT_EQ(::pipe2(start, O_CLOEXEC), 0);
  Child a([&](int report) { return SaveVersions(prefs_, "A", kSaves, start[0], report); }, 20);
  Child b([&](int report) { return SaveVersions(prefs_, "B", kSaves, start[0], report); }, 20);
  ::close(start[0]);
  ASSERT_TRUE(a.Started() && b.Started());
  ASSERT_EQ(::write(start[1], "go", 2), 2);
  ::close(start[1]);

  std::map<std::string, int> seen = {{"A", kAbsent}, {"B", kAbsent}};
  int looks = 0;
  int looksWithBoth = 0;
  bool aEnded = false;
  bool bEnded = false;
  while (!(aEnded && bEnded)) {
    aEnded = a.Ended();
    bEnded = b.Ended();
    const FileState state = ReadState(File());
    std::this_thread::sleep_for(std::chrono::microseconds(200));  // leave the writers a core
    if (!state.present) {
      continue;
    }
    ++looks;
    ASSERT_TRUE(state.preferences.has_value()) << "look " << looks << ": " << state.error;
    const zaf::PreferenceMap& preferences = *state.preferences;
    for (auto& [writer, version] : seen) {
      const int now = VersionOf(preferences, writer + ".");
      ASSERT_NE(now, kMixed) << "look " << looks << ": the settings of " << writer << " are torn";
      ASSERT_GE(now, version) << "look " << looks << ": " << writer << " went back";
      version = now;
    }
    looksWithBoth += seen["A"] >= 0 && seen["B"] >= 0 ? 1 : 0;
    const auto last = preferences.find(kLastWriter);
    ASSERT_NE(last, preferences.end());
    const auto* text = std::get_if<std::vector<std::string>>(&last->second);
    ASSERT_TRUE(text != nullptr && text->size() == 1U);
    const std::string& lastWriter = text->front();
    const std::string writer = lastWriter.substr(0, 1);
    ASSERT_TRUE(seen.count(writer) != 0 && lastWriter.size() > 2) << lastWriter;
    EXPECT_EQ(lastWriter, writer + ":" + std::to_string(seen[writer]))
        << "look " << looks << ": the shared setting is not from its writer's last save";
  }
  EXPECT_EQ(a.Reap(), 0) << "saves of A that failed (or 128 + the signal that ended it)";
  EXPECT_EQ(b.Reap(), 0) << "saves of B that failed (or 128 + the signal that ended it)";

  // Both were saving at the same time, or the test proved nothing.
  const std::string aTimes = a.ReadReport();
  const std::string bTimes = b.ReadReport();
  ASSERT_EQ(aTimes.size(), 2 * sizeof(std::int64_t));
  ASSERT_EQ(bTimes.size(), 2 * sizeof(std::int64_t));
  std::int64_t aSpan[2];
  std::int64_t bSpan[2];
  std::memcpy(aSpan, aTimes.data(), sizeof aSpan);
  std::memcpy(bSpan, bTimes.data(), sizeof bSpan);
  EXPECT_TRUE(aSpan[0] < bSpan[1] && bSpan[0] < aSpan[1]) << "the two writers did not overlap";

  const FileState final = ReadState(File());
  ASSERT_TRUE(final.preferences.has_value()) << final.error;
  EXPECT_EQ(VersionOf(*final.preferences, "A."), kSaves - 1);
  EXPECT_EQ(VersionOf(*final.preferences, "B."), kSaves - 1);
  const std::string finalWriter =
      std::get<std::vector<std::string>>(final.preferences->at(kLastWriter)).front();
  EXPECT_THAT(finalWriter, ::testing::AnyOf(std::string("A:") + std::to_string(kSaves - 1),
                                            std::string("B:") + std::to_string(kSaves - 1)));
  EXPECT_EQ(final.preferences->size(), 7U) << "three settings of each writer and the shared one";
  EXPECT_THAT(NamesStartingWith(prefs_, TemporaryPrefix()), ::testing::IsEmpty());
  std::cout << "[ overlap  ] " << looks << " looks at the file while two writers saved " << kSaves
            << " times each; " << looksWithBoth << " with both writers' settings\n";
}

// ---- Folders that refuse the write ----

// Folders no save can write in, even as root: where the save fails before it writes, so
// there is no old file to keep but nothing may be made either.
struct RefusingFolder {
  std::string folder;  // "@" stands for the test's temporary folder
  const char* expectedInMessage;
  const char* why;
};

void PrintTo(const RefusingFolder& c, std::ostream* out) {
  *out << c.why;
}

class RefusingFolderTest : public ::testing::TestWithParam<RefusingFolder> {};

TEST_P(RefusingFolderTest, SaveFailsWithOneClearLineAndMakesNothing) {
  const RefusingFolder& c = GetParam();
  qimtest::TempDir temporary;
  qimtest::WriteFile(temporary.File("plain"), "a regular file");
  std::string folder = c.folder;
  if (folder.compare(0, 1, "@") == 0) {
    folder.replace(0, 1, temporary.path());
  }
  const qimtest::ScopedHost host(QIM_SOURCE_CATALOG_DIR, folder);
  std::vector<std::string> lines;
  zaf::SetDiagnosticSink([&lines](const std::string& line) { lines.push_back(line); });

  ZAFSysPreferenceRepository* repository = zaf::OpenHostRepository(kRepositoryName);
  ASSERT_EQ(WritePreferences(repository, VersionPreferences("", 1)), 0);
  EXPECT_LT(repository->SaveRepository(nullptr), 0) << c.why;
  ASSERT_EQ(lines.size(), 1U) << c.why;
  EXPECT_THAT(lines[0], AllOf(HasSubstr("cannot save the preferences to " + folder + "/" +
                                        kRepositoryName + ".prefs"),
                              HasSubstr(c.expectedInMessage)))
      << c.why;
  EXPECT_EQ(qimtest::ReadFile(temporary.File("plain")), "a regular file") << c.why;
  EXPECT_FALSE(qimtest::FileExists(folder + "/" + kRepositoryName + ".prefs")) << c.why;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusingFolderTest,
    ::testing::Values(
        RefusingFolder{"@/plain/prefs", "Not a directory", "the folder would be below a file"},
        RefusingFolder{"@/plain", "Not a directory", "the folder is a regular file"},
        RefusingFolder{"/proc/self", "cannot open the lock file",
                       "a folder of the process file system, where nothing can be made"},
        RefusingFolder{"/proc/self/prefs", "cannot make the folder",
                       "below the process file system, where no folder can be made"}));

// A tiny tmpfs mounted in a mount namespace of a child's own, so that the mount is gone
// with the child and the rest of the system never sees it. Root can be refused there: the
// file system can be made read-only or full.
class TinyFileSystemTest : public ::testing::Test {
 protected:
  // Runs `body` in a child on a fresh 64 KiB tmpfs mounted at `mountPoint_`; "skip" holds a
  // reason when no tmpfs can be mounted here (no privilege for mount namespaces).
  Observations OnTinyFileSystem(const std::function<void(Observations&)>& body) {
    return ObserveInChild([this, &body] {
      Observations seen;
      if (::unshare(CLONE_NEWNS) != 0) {
        seen["skip"] = std::string("no mount namespace: ") + std::strerror(errno);
        return seen;
      }
      // Keep the mounts of this namespace from spreading to the one the test runs in.
      if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          ::mount("tmpfs", mountPoint_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0) {
        seen["skip"] = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
        return seen;
      }
      zaf::ResetHost();
      zaf::SetDiagnosticSink(
          [&seen](const std::string& line) { seen["diagnostics"] += line + "\n"; });
      body(seen);
      return seen;
    });
  }

  std::string Folder() const { return mountPoint_ + "/prefs"; }
  std::string File() const { return Folder() + "/" + kRepositoryName + ".prefs"; }

  // Saves version k through a fresh repository in the child.
  int SaveVersion(int k) const {
    ZAFSysPreferenceRepository* repository = OpenFreshRepository(Folder());
    const int written = WritePreferences(repository, VersionPreferences("", k));
    return written != 0 ? written : repository->SaveRepository(nullptr);
  }

  // Checks the observations of a refused save whose system reason is `reason`.
  void ExpectRefusedAndOldFileKept(const Observations& seen, const std::string& reason) {
    if (seen.count("skip") != 0) {
      GTEST_SKIP() << seen.at("skip");
    }
    ASSERT_EQ(seen.at("exit"), "0");
    EXPECT_EQ(seen.at("first save"), "0");
    EXPECT_LT(std::stoi(seen.at("refused save")), 0);
    EXPECT_THAT(seen.at("diagnostics"),
                AllOf(HasSubstr("cannot save the preferences to " + File()), HasSubstr(reason)));
    EXPECT_EQ(std::count(seen.at("diagnostics").begin(), seen.at("diagnostics").end(), '\n'), 1)
        << "one line for one failed save";
    EXPECT_EQ(seen.at("file kept"), "yes");
    EXPECT_EQ(seen.at("version read back"), "1");
    EXPECT_EQ(seen.at("temporary files"), "0");
  }

  // Records whether the file still holds exactly `before` and version 1 reads back.
  void RecordOldFile(Observations& seen, const std::string& before) const {
    seen["file kept"] = qimtest::ReadFile(File()) == before ? "yes" : "no";
    std::string error;
    const auto preferences = zaf::ParsePreferences(qimtest::ReadFile(File()), error);
    seen["version read back"] = std::to_string(preferences ? VersionOf(*preferences, "") : kMixed);
    seen["temporary files"] = std::to_string(
        NamesStartingWith(Folder(), std::string(kRepositoryName) + ".prefs.tmp.").size());
  }

  qimtest::TempDir folder_;
  std::string mountPoint_ = folder_.path();
};

TEST_F(TinyFileSystemTest, ReadOnlyFileSystemRefusesTheSaveAndKeepsTheOldFile) {
  const Observations seen = OnTinyFileSystem([this](Observations& seen) {
    seen["first save"] = std::to_string(SaveVersion(1));
    const std::string before = qimtest::ReadFile(File());
    if (::mount(nullptr, mountPoint_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
      seen["skip"] = std::string("cannot remount read-only: ") + std::strerror(errno);
      return;
    }
    seen["refused save"] = std::to_string(SaveVersion(2));
    RecordOldFile(seen, before);
  });
  ExpectRefusedAndOldFileKept(seen, "Read-only file system");
}

TEST_F(TinyFileSystemTest, FullFileSystemRefusesTheSaveAndKeepsTheOldFile) {
  const Observations seen = OnTinyFileSystem([this](Observations& seen) {
    seen["first save"] = std::to_string(SaveVersion(1));
    const std::string before = qimtest::ReadFile(File());
    // Fills every free block, so the next save runs out of room while writing.
    const int filler = ::open((mountPoint_ + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
    const std::string block(4096, 'x');
    while (filler >= 0 && ::write(filler, block.data(), block.size()) > 0) {
    }
    while (filler >= 0 && ::write(filler, "x", 1) > 0) {
    }
    ::close(filler);
    seen["refused save"] = std::to_string(SaveVersion(16));  // a version larger than 1
    RecordOldFile(seen, before);
  });
  ExpectRefusedAndOldFileKept(seen, "No space left on device");
}

// Folder permissions stop anybody but root, who writes wherever permissions say no.
class ReadOnlyFolderTest : public ::testing::Test {
 protected:
  // In the calling process: version 1 saved, the folder made read-only, version 2 refused.
  static Observations SaveIntoReadOnlyFolder(const std::string& folder) {
    Observations seen;
    zaf::SetDiagnosticSink(
        [&seen](const std::string& line) { seen["diagnostics"] += line + "\n"; });
    const std::string file = folder + "/" + kRepositoryName + ".prefs";
    ZAFSysPreferenceRepository* repository = OpenFreshRepository(folder);
    WritePreferences(repository, VersionPreferences("", 1));
    seen["first save"] = std::to_string(repository->SaveRepository(nullptr));
    const std::string before = qimtest::ReadFile(file);
    ::chmod(folder.c_str(), 0500);
    repository = OpenFreshRepository(folder);
    WritePreferences(repository, VersionPreferences("", 2));
    seen["refused save"] = std::to_string(repository->SaveRepository(nullptr));
    ::chmod(folder.c_str(), 0700);
    seen["file kept"] = qimtest::ReadFile(file) == before ? "yes" : "no";
    zaf::SetDiagnosticSink({});
    return seen;
  }

  static void ExpectRefused(const Observations& seen, const std::string& file) {
    EXPECT_EQ(seen.at("first save"), "0");
    EXPECT_LT(std::stoi(seen.at("refused save")), 0);
    EXPECT_THAT(seen.at("diagnostics"), AllOf(HasSubstr("cannot save the preferences to " + file),
                                              HasSubstr("Permission denied")));
    EXPECT_EQ(seen.at("file kept"), "yes");
  }

  std::string File() const { return folder_.File("prefs") + "/" + kRepositoryName + ".prefs"; }

  qimtest::TempDir folder_;
  qimtest::ScopedHost host_;
};

TEST_F(ReadOnlyFolderTest, ChmodRefusesTheSaveAndKeepsTheOldFile) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "permissions do not stop root from writing; see the unprivileged variant";
  }
  ExpectRefused(SaveIntoReadOnlyFolder(folder_.File("prefs")), File());
}

// As root, the same in a child that gives up root for the unprivileged user "nobody".
TEST_F(ReadOnlyFolderTest, ChmodRefusesTheSaveOfAnUnprivilegedChildOfRoot) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "only root can change to another user";
  }
  const passwd* nobody = ::getpwnam("nobody");
  const uid_t uid = nobody != nullptr ? nobody->pw_uid : 65534;
  const gid_t gid = nobody != nullptr ? nobody->pw_gid : 65534;
  ASSERT_EQ(::chown(folder_.path().c_str(), uid, gid), 0);
  const std::string folder = folder_.File("prefs");
  const Observations seen = ObserveInChild([&] {
    Observations refused;
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
      refused["skip"] = std::string("cannot change user: ") + std::strerror(errno);
      return refused;
    }
    return SaveIntoReadOnlyFolder(folder);
  });
  if (seen.count("skip") != 0) {
    GTEST_SKIP() << seen.at("skip");
  }
  ASSERT_EQ(seen.at("exit"), "0");
  ExpectRefused(seen, File());
}

}  // namespace
