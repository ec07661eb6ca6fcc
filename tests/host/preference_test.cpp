// The preference file: its text, and the repository that keeps it (modes, damaged and
// unreadable files, refused folders and links, a folder swapped while made, a held lock,
// refused saves, a saving process killed at random, two writers at once).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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
           {header + "int \"a\" 1 5\ntext \"b\" 1 \"\xC3\"\n", "line 3",
            "invalid UTF-8 names its line"},
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
  struct Case {
    const char* root;
    mode_t mask;
    const char* why;
  };
  for (const auto& [root, mask, why] : std::vector<Case>{
           {"open", 0000, "nothing masked: no bit is added beyond the owner's"},
           {"locked", 0277, "the owner's write masked: what is made read-only is set right"},
       }) {
    Use(folder_.File(std::string(root) + "/a/prefs"));
    const mode_t previous = ::umask(mask);
    const int result = SaveVersion(1);
    ::umask(previous);
    ASSERT_EQ(result, 0) << why;
    EXPECT_EQ(StatOf(file_).st_mode & 07777, 0600U) << why;
    for (const std::string folder : {"", "/a", "/a/prefs"}) {
      EXPECT_EQ(StatOf(folder_.File(root + folder)).st_mode & 07777, 0700U) << why << folder;
    }
  }
}

// Damaged files hold passwords too: each copy kept aside is owner-only, and only the three
// newest stay ("<file>.corrupt" the newest), so that a file damaged again and again does not
// fill the folder.
TEST_F(PreferenceStoreTest, DamagedFilesAreKeptAsideOwnerOnlyAndOnlyTheThreeNewest) {
  ASSERT_EQ(SaveVersion(1), 0);
  const std::string junk[] = {"not preferences", "zaf-preferences 1\nint \"count\" 1 \"oops\n",
                              "zaf-preferences 2\n", "", "zaf-preferences 1\nint \"a\" 2 5\n"};
  for (const std::string& text : junk) {
    qimtest::WriteFile(file_, text);
    ASSERT_EQ(::chmod(file_.c_str(), 0644), 0);
    lines_.clear();
    ZAFSysPreferenceRepository* repository = Fresh();
    EXPECT_EQ(ReadCount(repository), kAbsent);
    EXPECT_EQ(qimtest::ReadFile(file_), text) << "reading never changes the file";
    ASSERT_EQ(Save(repository, Version("", 2)), 0);
    ASSERT_EQ(lines_.size(), 3U) << "the mode and the damage at the read, the copy at the save";
    EXPECT_THAT(lines_[2], AllOf(HasSubstr(file_), HasSubstr(".corrupt")));
  }
  ASSERT_EQ(SaveVersion(3), 0);
  const struct {
    const char* name;
    std::string content;
  } kept[] = {{".corrupt", junk[4]}, {".corrupt.1", junk[3]}, {".corrupt.2", junk[2]}};
  for (const auto& copy : kept) {
    EXPECT_EQ(qimtest::ReadFile(file_ + copy.name), copy.content) << copy.name;
    EXPECT_EQ(StatOf(file_ + copy.name).st_mode & 07777, 0600U) << copy.name;
  }
  EXPECT_FALSE(qimtest::FileExists(file_ + ".corrupt.3"));
  EXPECT_EQ(Entries(), 5) << "the file, its lock and three damaged copies";
  EXPECT_EQ(InFile(), Version("", 3));
}

// The application's rule for its repository (here: no preference "forbidden") makes a file
// that parses but breaks it count as damaged: ignored with a warning, kept aside on the save.
TEST_F(PreferenceStoreTest, AFileAgainstTheRepositorysCheckIsIgnoredAndKeptAside) {
  zaf::SetPreferenceCheck("QIMSetup", [](const zaf::PreferenceMap& stored) {
    return stored.count("forbidden") != 0 ? std::string("it holds a forbidden preference")
                                          : std::string();
  });
  ASSERT_EQ(::mkdir(prefs_.c_str(), 0700), 0);
  zaf::PreferenceMap breaking = Version("", 1);
  breaking["forbidden"] = std::vector<int>{1};
  const std::string text = zaf::SerializePreferences(breaking);
  qimtest::WriteFile(file_, text);
  ASSERT_EQ(::chmod(file_.c_str(), 0600), 0);
  ZAFSysPreferenceRepository* repository = Fresh();
  EXPECT_EQ(ReadCount(repository), kAbsent);
  ASSERT_EQ(lines_.size(), 1U);
  EXPECT_THAT(lines_[0], AllOf(HasSubstr(file_), HasSubstr("it holds a forbidden preference")));
  ASSERT_EQ(Save(repository, Version("", 2)), 0);
  EXPECT_EQ(qimtest::ReadFile(file_ + ".corrupt"), text);
  EXPECT_EQ(InFile(), Version("", 2)) << "nothing of the damaged file is carried over";
}

// What another process saved since this repository read the file reaches the merge, with this
// repository's own writes apart; the merge alone decides what is saved.
TEST_F(PreferenceStoreTest, AMergedSaveSeesTheFileAsSavedMeanwhileAndTheWritesApart) {
  ASSERT_EQ(SaveVersion(1), 0);
  ZAFSysPreferenceRepository* repository = Fresh();
  ASSERT_EQ(ReadCount(repository), 1);
  const zaf::PreferenceMap mine = {{"mine", std::vector<std::string>{"m"}}};
  const zaf::PreferenceMap theirs = Version("", 7);
  for (const auto& [name, value] : mine) {
    const ZAFUnicodeString text(std::get<std::vector<std::string>>(value).at(0));
    const ZAFUnicodeString* pointer = &text;
    ASSERT_EQ(repository->WritePreference(name.c_str(), &pointer, 1), 0);
  }
  qimtest::WriteFile(file_, zaf::SerializePreferences(theirs));  // another process's save

  zaf::PreferenceMap seenFile;
  zaf::PreferenceMap seenWritten;
  ASSERT_EQ(
      zaf::SaveHostRepository("QIMSetup",
                              [&](zaf::PreferenceMap& file, const zaf::PreferenceMap& written) {
                                seenFile = file;
                                seenWritten = written;
                                file.erase("count");
                                file["merged"] = std::vector<int>{1};
                              }),
      0);
  EXPECT_EQ(seenFile, theirs);
  EXPECT_EQ(seenWritten, mine);
  zaf::PreferenceMap expected = theirs;
  expected.erase("count");
  expected["merged"] = std::vector<int>{1};
  EXPECT_EQ(InFile(), expected);
  EXPECT_EQ(ReadCount(repository), kAbsent) << "the repository now holds what was saved";
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

// A preference folder another user could fill is refused as OpenSSH refuses such a key
// folder: its settings would name the commands a deployment runs.
TEST_F(PreferenceStoreTest, AFolderOthersMayWriteOrThatIsALinkIsRefusedForReadingAndSaving) {
  const std::string real = folder_.File("real");
  struct Case {
    std::string folder;  // the preference folder given
    std::function<void()> spoil;
    std::string expected;  // in the reason
    const char* reason;
  };
  std::vector<Case> cases = {
      {real, [&] { ::chmod(real.c_str(), 0777); }, "group or others may write", "mode 0777"},
      {real, [&] { ::chmod(real.c_str(), 0730); }, "group or others may write", "group write"},
      {folder_.File("link"), [&] { ::symlink(real.c_str(), folder_.File("link").c_str()); },
       "is a symbolic link", "a link to a good folder"},
      {real + "/QIMSetup.prefs", [] {}, "is not a folder", "a regular file"},
  };
  if (::geteuid() == 0) {
    cases.push_back({real, [&] { ::chown(real.c_str(), 65534, 65534); }, "belongs to user 65534",
                     "another user's folder"});
  }
  for (const Case& one : cases) {
    SCOPED_TRACE(one.reason);
    std::filesystem::remove_all(real);
    std::filesystem::remove(folder_.File("link"));
    Use(real);
    ASSERT_EQ(SaveVersion(1), 0);
    const std::string stored = qimtest::ReadFile(file_);
    one.spoil();
    const mode_t mode = StatOf(real).st_mode;
    Use(one.folder);
    EXPECT_THAT(zaf::PreferenceFolderProblem(one.folder),
                AllOf(HasSubstr("'" + one.folder + "'"), HasSubstr(one.expected)));
    lines_.clear();
    ZAFSysPreferenceRepository* repository = Fresh();
    EXPECT_EQ(ReadCount(repository), kAbsent);
    EXPECT_LT(Save(repository, Version("", 2)), 0);
    ASSERT_EQ(lines_.size(), 2U) << "one line at the read, one at the save";
    EXPECT_THAT(lines_[1], HasSubstr(one.expected));
    EXPECT_EQ(qimtest::ReadFile(real + "/QIMSetup.prefs"), stored);
    EXPECT_EQ(StatOf(real).st_mode, mode) << "the folder's mode is left as it is";
  }
}

TEST_F(PreferenceStoreTest, ASettingsFileThatIsASymbolicLinkIsNeitherFollowedNorReplaced) {
  ASSERT_EQ(SaveVersion(1), 0);
  const std::string elsewhere = folder_.File("elsewhere.prefs");
  ASSERT_EQ(::rename(file_.c_str(), elsewhere.c_str()), 0);
  ASSERT_EQ(::symlink(elsewhere.c_str(), file_.c_str()), 0);
  const std::string stored = qimtest::ReadFile(elsewhere);
  ZAFSysPreferenceRepository* repository = Fresh();
  EXPECT_EQ(ReadCount(repository), kAbsent);
  EXPECT_LT(Save(repository, Version("", 2)), 0);
  ASSERT_EQ(lines_.size(), 2U);
  for (const std::string& line : lines_) {
    EXPECT_THAT(line, AllOf(HasSubstr(file_), HasSubstr("symbolic link")));
  }
  struct stat status {};
  ASSERT_EQ(::lstat(file_.c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_EQ(qimtest::ReadFile(elsewhere), stored);
}

// Another local user who may write the parent folder renames the preference folder a save
// just made and puts a symbolic link to a file or folder of theirs in its place, again and
// again. A chmod by name would change the mode of what the link leads to, and a file opened by
// name would be written there; through the folder's descriptor neither can happen.
TEST_F(PreferenceStoreTest, AFolderSwappedForALinkWhileSavesMakeItIsNeverFollowed) {
  const std::string victimFile = folder_.File("victim-file");
  const std::string victimFolder = folder_.File("victim-folder");
  const std::string trash = folder_.File("trash");
  qimtest::WriteFile(victimFile, "theirs");
  ASSERT_EQ(::chmod(victimFile.c_str(), 0644), 0);
  ASSERT_EQ(::mkdir(victimFolder.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(victimFolder.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(trash.c_str(), 0700), 0);
  const auto victimsTouched = [&] {
    return (StatOf(victimFile).st_mode & 07777) != 0644 ||
           (StatOf(victimFolder).st_mode & 07777) != 0755 ||
           std::distance(std::filesystem::directory_iterator(victimFolder),
                         std::filesystem::directory_iterator()) != 0;
  };

  std::atomic<bool> stop{false};
  std::thread attacker([&] {
    for (long round = 0; !stop; ++round) {
      const std::string moved = trash + "/" + std::to_string(round);
      ::rename(prefs_.c_str(), moved.c_str());
      ::symlink((round % 2 == 0 ? victimFile : victimFolder).c_str(), prefs_.c_str());
      for (int spin = 0; spin < 200 && !stop; ++spin) {
        std::atomic_signal_fence(std::memory_order_seq_cst);
      }
      ::unlink(prefs_.c_str());
    }
  });
  int saves = 0;
  int saved = 0;
  const auto end = Clock::now() + std::chrono::seconds(3);
  while (Clock::now() < end && !victimsTouched()) {
    saved += SaveVersion(saves++) == 0 ? 1 : 0;
  }
  stop = true;
  attacker.join();
  EXPECT_FALSE(victimsTouched()) << "after " << saves << " saves";
  EXPECT_EQ(qimtest::ReadFile(victimFile), "theirs");
  EXPECT_GT(saves, 50) << "too few saves to have met the attacker";
  EXPECT_GT(saved, 0) << "no save went through between the swaps";
}

TEST_F(PreferenceStoreTest, ASaveWaitsForAHeldLockSaysWhoseOnceAndGivesUpAfterTheTimeout) {
  ASSERT_EQ(SaveVersion(1), 0);
  std::vector<long> holders;
  zaf::SetPreferenceLockWaitNotice([&holders](long holder) { holders.push_back(holder); });
  zaf::SetPreferenceLockTimeout(std::chrono::milliseconds(300));
  qimtest::HeldLock held(file_ + ".lock");
  ASSERT_TRUE(held.Held());

  ZAFSysPreferenceRepository* repository = Fresh();
  const auto readStart = Clock::now();
  EXPECT_EQ(ReadCount(repository), 1);
  EXPECT_LT(Clock::now() - readStart, std::chrono::milliseconds(200)) << "reading takes no lock";

  const auto saveStart = Clock::now();
  EXPECT_LT(Save(repository, Version("", 2)), 0);
  const auto waited = Clock::now() - saveStart;
  EXPECT_GE(waited, std::chrono::milliseconds(300));
  EXPECT_LT(waited, std::chrono::seconds(3));
  EXPECT_EQ(holders, std::vector<long>{::getpid()});
  ASSERT_EQ(lines_.size(), 1U);
  EXPECT_THAT(lines_[0], AllOf(HasSubstr(file_ + ".lock"),
                               HasSubstr("still held by process " + std::to_string(::getpid())),
                               HasSubstr("0.300 s")));
  EXPECT_EQ(InFile(), Version("", 1));

  // A lock released while the save waits lets it through.
  zaf::SetPreferenceLockTimeout(std::chrono::seconds(20));
  std::thread releaser([&held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    held.Release();
  });
  EXPECT_EQ(Save(repository, Version("", 3)), 0);
  releaser.join();
  EXPECT_EQ(holders.size(), 2U);
  EXPECT_EQ(InFile(), Version("", 3));
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
            // A pause between saves, as real writers have: a writer that takes the lock again
            // at once could otherwise hold it through all its saves and the two never overlap.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
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
