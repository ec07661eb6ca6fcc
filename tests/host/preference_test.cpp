// The preference file: its text, and the repository that keeps it (modes, damaged and
// unreadable files, refused saves, a saving process killed at random, two writers at once).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "host/zaf_host.h"
#include "host/zaf_preferences.h"
#include "preference_store.h"
#include "test_support.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;
using namespace std::string_literals;

// ---- The text ----

TEST(PreferenceTextTest, AwkwardTextsRoundTripExactlyAsNamesAndValues) {
  for (const auto& [text, why] : std::vector<std::pair<std::string, const char*>>{
           {"", "empty"},
           {"  blanks at both ends  ", "blanks kept"},
           {"two\nlines\r\nand\ttab", "control characters"},
           {"say \"hi\" \\\"", "quotes and backslashes"},
           {"C:\\dir\\", "a backslash at the end"},
           {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "non-ASCII"},
           {"nul\0inside\x01\x7F"s, "NUL and other control bytes"},
           {"\xFF\xFE bad \xC3", "bytes that are not UTF-8"},
           {"\\u0041 \\x80 \" \"", "text that looks like escapes or separators"},
       }) {
    const zaf::PreferenceMap preferences{{text, std::vector<std::string>{text, "", text}},
                                         {"n", std::vector<int>{INT_MIN, 0, INT_MAX}}};
    std::string error;
    EXPECT_EQ(zaf::ParsePreferences(zaf::SerializePreferences(preferences), error), preferences)
        << why << ": " << error;
  }
}

TEST(PreferenceTextTest, StrictReadingRefusesTheWholeFile) {
  const std::string header = "zaf-preferences 1\n";
  using Case = std::tuple<std::string, const char*, const char*>;
  for (const auto& [text, expectedInError, why] : std::vector<Case>{
           {"", "empty", "no header at all"},
           {"zaf-preferences 2\n", "version", "unknown version"},
           {header + "int \"a\" 1 5", "last line", "cut short: no final newline"},
           {header + "int \"a\" 2 5\n", "line 2", "fewer values than counted"},
           {header + "int \"a\" 1 05\n", "number", "leading zero"},
           {header + "int \"a\" 1 2147483648\n", "range", "above int"},
           {header + "text \"a\" 1 \"x\\\"\n", "unterminated", "escaped last quote"},
           {header + "text \"a\" 1 \"\\q\"\n", "escape", "unknown escape"},
           {header + "text \"a\" 1 \"\xC3\"\n", "UTF-8", "invalid UTF-8"},
           {header + "int \"a\" 1 5\nint \"a\" 1 6\n", "line 3", "repeated name"},
           {header + "text \"a\" 2147483647\n", "line 2", "huge count without values"},
       }) {
    std::string error;
    EXPECT_FALSE(zaf::ParsePreferences(text, error).has_value()) << why;
    EXPECT_THAT(error, HasSubstr(expectedInError)) << why;
  }
}

// ---- The repository's file ----

// Version k of the settings of writer `prefix`: "count" = "k" and texts whose number and
// lengths change with k, so that a torn or spliced file never passes for a whole version.
zaf::PreferenceMap Version(const std::string& prefix, int k) {
  std::vector<std::string> texts;
  for (int index = 0; index <= k % 7; ++index) {
    texts.push_back(std::string(20 + (k * 7 + index) % 90, static_cast<char>('a' + k % 26)) +
                    " \"q\" \\ \n caf\xC3\xA9 " + std::to_string(k));
  }
  return {{prefix + "count", std::vector<std::string>{std::to_string(k)}},
          {prefix + "Values", texts}};
}

constexpr int kAbsent = -1;  // none of the writer's settings is there
constexpr int kMixed = -2;   // they are not exactly one whole version

// The version that the settings whose names start with `prefix` are.
int VersionOf(const zaf::PreferenceMap& preferences, const std::string& prefix) {
  zaf::PreferenceMap mine;
  for (const auto& [name, value] : preferences) {
    if (name.rfind(prefix, 0) == 0) {
      mine.emplace(name, value);
    }
  }
  if (mine.empty()) {
    return kAbsent;
  }
  const auto* count = std::get_if<std::vector<std::string>>(&mine[prefix + "count"]);
  const int k = count != nullptr && count->size() == 1 ? std::atoi(count->front().c_str()) : kMixed;
  return k >= 0 && mine == Version(prefix, k) ? k : kMixed;
}

// Writes `preferences` (all texts) through the repository and saves; 0 when all of it worked.
int Save(ZAFSysPreferenceRepository* repository, const zaf::PreferenceMap& preferences) {
  for (const auto& [name, value] : preferences) {
    const auto& texts = std::get<std::vector<std::string>>(value);
    const std::vector<ZAFUnicodeString> strings(texts.begin(), texts.end());
    std::vector<const ZAFUnicodeString*> pointers;
    for (const ZAFUnicodeString& text : strings) {
      pointers.push_back(&text);
    }
    if (repository->WritePreference(name.c_str(), pointers.data(),
                                    static_cast<int>(pointers.size())) != 0) {
      return -1;
    }
  }
  return repository->SaveRepository(nullptr);
}

int ReadCount(ZAFSysPreferenceRepository* repository) {
  ZAFUnicodeString count;
  ZAFUnicodeString* pointer = &count;
  return repository->ReadPreference("count", &pointer, 1) == 0 ? std::stoi(count.str()) : kAbsent;
}

struct stat StatOf(const std::string& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  return status;
}

// Forks a child that runs `body` with the write end of a pipe whose read end goes to
// `report`. An alarm ends a child that hangs, so a stuck lock fails the test, not hangs it.
pid_t Fork(const std::function<int(int report)>& body, int& report) {
  int ends[2];
  if (::pipe(ends) != 0) {
    return -1;
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ends[0]);
    ::alarm(20);
    ::_exit(body(ends[1]));  // no destructors, no GoogleTest in the child
  }
  ::close(ends[1]);
  report = ends[0];
  return pid;
}

class PreferenceStoreTest : public ::testing::Test {
 protected:
  PreferenceStoreTest() { Use(folder_.File("prefs")); }

  void Use(const std::string& prefs) {
    prefs_ = prefs;
    file_ = prefs + "/QIMSetup.prefs";
    zaf::SetDiagnosticSink([this](const std::string& line) { lines_.push_back(line); });
  }
  // A fresh repository object, as a new run of the tool would have.
  ZAFSysPreferenceRepository* Fresh() const {
    zaf::SetPreferenceDirectory(prefs_);  // closes the repositories opened so far
    return zaf::OpenHostRepository("QIMSetup");
  }
  int SaveVersion(int k) const { return Save(Fresh(), Version("", k)); }
  std::optional<zaf::PreferenceMap> InFile() const {
    std::string error;
    return zaf::ParsePreferences(qimtest::ReadFile(file_), error);
  }
  // The files in the folder: after a save, the file and its lock.
  long Entries() const { return std::distance(std::filesystem::directory_iterator(prefs_), {}); }

  qimtest::TempDir folder_;
  qimtest::ScopedHost host_;
  std::string prefs_;
  std::string file_;
  std::vector<std::string> lines_;
};

TEST_F(PreferenceStoreTest, FileIs0600AndCreatedFoldersAre0700WhateverTheUmask) {
  Use(folder_.File("a/b/prefs"));
  const mode_t previous = ::umask(0);
  const int result = SaveVersion(1);
  ::umask(previous);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(StatOf(file_).st_mode & 07777, 0600U);
  for (const char* folder : {"a", "a/b", "a/b/prefs"}) {
    EXPECT_EQ(StatOf(folder_.File(folder)).st_mode & 07777, 0700U) << folder;
  }
}

TEST_F(PreferenceStoreTest, CorruptFileIsIgnoredThenKeptAsideAndNeverLost) {
  ASSERT_EQ(SaveVersion(1), 0);
  const std::string junk[] = {"not preferences", "zaf-preferences 1\nint \"count\" 1 \"oops\n"};
  for (const std::string& text : junk) {
    qimtest::WriteFile(file_, text);
    lines_.clear();
    ZAFSysPreferenceRepository* repository = Fresh();
    EXPECT_EQ(ReadCount(repository), kAbsent);
    EXPECT_EQ(qimtest::ReadFile(file_), text) << "reading never changes the file";
    ASSERT_EQ(Save(repository, Version("", 2)), 0);
    ASSERT_EQ(lines_.size(), 2U) << "one warning at the read, one at the save";
    EXPECT_THAT(lines_[1], AllOf(HasSubstr(file_), HasSubstr(".corrupt")));
  }
  ASSERT_EQ(SaveVersion(3), 0);
  EXPECT_EQ(qimtest::ReadFile(file_ + ".corrupt"), junk[0]);
  EXPECT_EQ(qimtest::ReadFile(file_ + ".corrupt.1"), junk[1]);
  EXPECT_EQ(InFile(), Version("", 3));
}

TEST_F(PreferenceStoreTest, FileThatIsAFolderFailsReadsAndIsNeverReplaced) {
  ASSERT_EQ(::mkdir(prefs_.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(file_.c_str(), 0700), 0);
  ZAFSysPreferenceRepository* repository = Fresh();
  EXPECT_EQ(ReadCount(repository), kAbsent);
  EXPECT_LT(Save(repository, Version("", 1)), 0);
  ASSERT_EQ(lines_.size(), 2U);
  EXPECT_THAT(lines_[1], AllOf(HasSubstr(file_), HasSubstr("cannot be read")));
  EXPECT_TRUE(S_ISDIR(StatOf(file_).st_mode));
}

TEST_F(PreferenceStoreTest, SaveUnderARegularFileFailsWithOneLineAndLeavesItIntact) {
  qimtest::WriteFile(folder_.File("plain"), "a regular file");
  Use(folder_.File("plain/prefs"));
  EXPECT_LT(SaveVersion(1), 0);
  ASSERT_EQ(lines_.size(), 1U);
  EXPECT_THAT(lines_[0], AllOf(HasSubstr(file_), HasSubstr("Not a directory")));
  EXPECT_EQ(qimtest::ReadFile(folder_.File("plain")), "a regular file");
}

TEST_F(PreferenceStoreTest, SaveRewritesOnlyChangedTextOrAGroupReadableFileWithAWarning) {
  ASSERT_EQ(SaveVersion(1), 0);
  const ino_t first = StatOf(file_).st_ino;
  ASSERT_EQ(SaveVersion(1), 0);
  EXPECT_EQ(StatOf(file_).st_ino, first) << "the same settings again: the file is left as it is";
  ASSERT_EQ(SaveVersion(2), 0);
  const ino_t second = StatOf(file_).st_ino;
  EXPECT_NE(second, first);
  EXPECT_TRUE(lines_.empty());

  ASSERT_EQ(::chmod(file_.c_str(), 0640), 0);
  ZAFSysPreferenceRepository* repository = Fresh();
  EXPECT_EQ(ReadCount(repository), 2);
  ASSERT_EQ(lines_.size(), 1U);
  EXPECT_THAT(lines_[0], AllOf(::testing::StartsWith(file_), HasSubstr("0640")));
  ASSERT_EQ(Save(repository, Version("", 2)), 0);
  EXPECT_NE(StatOf(file_).st_ino, second) << "a file others may read is rewritten all the same";
  EXPECT_EQ(StatOf(file_).st_mode & 07777, 0600U);
}

TEST_F(PreferenceStoreTest, SaveRemovesTheTemporaryFilesOfDeadSaves) {
  ASSERT_EQ(SaveVersion(1), 0);
  for (const char* leftover : {".tmp.999999", ".tmp.1"}) {
    qimtest::WriteFile(file_ + leftover, "zaf-preferences 1\nint \"count\" 1 ");
  }
  const std::string unrelated = prefs_ + "/Other.prefs.tmp.999999";
  qimtest::WriteFile(unrelated, "another repository's");
  ASSERT_EQ(SaveVersion(2), 0);
  EXPECT_EQ(Entries(), 3) << "the file, its lock and the other repository's temporary file";
  EXPECT_TRUE(qimtest::FileExists(unrelated));
  EXPECT_EQ(InFile(), Version("", 2));
}

TEST_F(PreferenceStoreTest, SaveKilledAtRandomMomentsLeavesAWholeVersionAndNeverBlocksTheNext) {
  // The kills fall among a child's first few saves: up to three times what one save takes.
  const auto calibration = Clock::now();
  for (int k = 0; k < 5; ++k) {
    ASSERT_EQ(SaveVersion(k), 0);
  }
  const auto longest = std::max<Clock::duration>(3 * (Clock::now() - calibration) / 5,
                                                 std::chrono::microseconds(300));
  ASSERT_EQ(::unlink(file_.c_str()), 0);  // the first child starts without a file
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<Clock::rep> delay(0, longest.count());

  int lastKnown = kAbsent;  // the version in the file before the round
  int roundsWithLeftovers = 0;
  auto slowestNextSave = Clock::duration::zero();
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const int base = lastKnown + 1;
    // The child sends a byte before its first save, then one each time a save returned.
    int report = -1;
    const pid_t child = Fork(
        [this, base](int out) {
          ZAFSysPreferenceRepository* repository = Fresh();
          for (int k = base; ::write(out, "s", 1) == 1; ++k) {
            if (Save(repository, Version("", k)) != 0) {
              return 3;
            }
          }
          return 4;
        },
        report);
    ASSERT_GT(child, 0);
    char started = 0;
    ASSERT_EQ(::read(report, &started, 1), 1);
    std::this_thread::sleep_for(Clock::duration(delay(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "it ended before the kill";
    int saves = 0;  // the bytes left in the pipe
    ASSERT_EQ(::ioctl(report, FIONREAD, &saves), 0);
    ::close(report);
    const int lastSaved = saves == 0 ? lastKnown : base + saves - 1;

    // The file holds the last version whose save returned, or the next one when the kill came
    // after its rename; it may be missing only before any save.
    const int inFile = qimtest::FileExists(file_) ? VersionOf(InFile().value(), "") : kAbsent;
    ASSERT_TRUE(inFile == lastSaved || inFile == lastSaved + 1)
        << "the file holds " << inFile << "; the last save that returned was " << lastSaved;
    roundsWithLeftovers += Entries() > 2 ? 1 : 0;

    // The dead child's lock is gone: the next save goes through at once.
    const int next = std::max(inFile, lastSaved) + 2;
    const auto saveStart = Clock::now();
    ASSERT_EQ(SaveVersion(next), 0);
    slowestNextSave = std::max(slowestNextSave, Clock::now() - saveStart);
    ASSERT_EQ(InFile(), Version("", next));
    ASSERT_EQ(Entries(), 2) << "the next save removes what killed saves left";
    lastKnown = next;
  }
  EXPECT_GT(roundsWithLeftovers, 0) << "no kill came while a temporary file was written";
  EXPECT_TRUE(lines_.empty());
  EXPECT_LT(slowestNextSave, std::chrono::seconds(2)) << "the save after a kill waited";
}

// Each writer saves its own settings ("A." or "B.") and the shared "LastWriter" ("A:k" or
// "B:k"). Every look at the file must parse; each writer's settings are absent or one whole
// version that never goes back; "LastWriter" names the version its writer has in that file;
// and at the end both writers' last versions are there: no save lost another's.
TEST_F(PreferenceStoreTest, TwoProcessesSavingAtOnceNeverTearOrLoseSettings) {
  constexpr int kSaves = 200;
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  pid_t pids[2] = {};
  for (int index = 0; index < 2; ++index) {
    const std::string writer = index == 0 ? "A" : "B";
    // Saves 0 .. kSaves - 1, every third through a fresh repository; exits with the number of
    // failed saves.
    int report = -1;
    pids[index] = Fork(
        [&, writer](int /*out*/) {
          char byte = 0;
          int failures = ::read(go[0], &byte, 1) == 1 ? 0 : 100;
          ZAFSysPreferenceRepository* repository = Fresh();
          for (int k = 0; k < kSaves; ++k) {
            repository = k % 3 == 2 ? Fresh() : repository;
            zaf::PreferenceMap writes = Version(writer + ".", k);
            writes["LastWriter"] = std::vector<std::string>{writer + ":" + std::to_string(k)};
            failures += Save(repository, writes) != 0 ? 1 : 0;
          }
          return std::min(failures, 100);
        },
        report);
    ASSERT_GT(pids[index], 0);
    ::close(report);
  }
  ::close(go[0]);
  ASSERT_EQ(::write(go[1], "go", 2), 2);
  ::close(go[1]);

  std::map<std::string, int> seen = {{"A", kAbsent}, {"B", kAbsent}};
  int looksWhileBothSave = 0;
  int status[2] = {};
  for (bool ended[2] = {}; !(ended[0] && ended[1]);) {
    for (int index = 0; index < 2; ++index) {
      ended[index] = ended[index] || ::waitpid(pids[index], &status[index], WNOHANG) > 0;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));  // leave the writers a core
    if (qimtest::FileExists(file_)) {
      const zaf::PreferenceMap preferences = InFile().value();  // throws when it does not parse
      for (auto& [writer, version] : seen) {
        const int now = VersionOf(preferences, writer + ".");
        ASSERT_NE(now, kMixed) << "the settings of " << writer << " are torn";
        ASSERT_GE(now, version) << writer << " went back";
        version = now;
      }
      const auto last = std::get<std::vector<std::string>>(preferences.at("LastWriter")).at(0);
      EXPECT_EQ(last, last.substr(0, 1) + ":" + std::to_string(seen.at(last.substr(0, 1))));
      looksWhileBothSave +=
          seen["A"] >= 0 && seen["B"] >= 0 && seen["A"] < kSaves - 1 && seen["B"] < kSaves - 1;
    }
  }
  for (const int code : status) {
    EXPECT_TRUE(WIFEXITED(code) && WEXITSTATUS(code) == 0) << "failed saves";
  }
  EXPECT_GT(looksWhileBothSave, 0) << "the writers never saved at the same time: no test";
  EXPECT_EQ(seen, (std::map<std::string, int>{{"A", kSaves - 1}, {"B", kSaves - 1}}));
  EXPECT_EQ(InFile()->size(), 5U) << "two settings of each writer and the shared one";
  EXPECT_EQ(Entries(), 2) << "no temporary file left";
}

}  // namespace
