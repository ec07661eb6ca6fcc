// The host's preference repositories: semantics in memory, and the file behind them with
// its modes, locking, corrupt and unreadable files and failed saves.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/zaf_host.h"
#include "host/zaf_preferences.h"
#include "tests/support/test_support.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

int WriteTexts(ZAFSysPreferenceRepository* repository, const char* name,
               const std::vector<std::string>& texts) {
  std::vector<ZAFUnicodeString> values(texts.begin(), texts.end());
  std::vector<const ZAFUnicodeString*> pointers;
  pointers.reserve(values.size());
  for (const ZAFUnicodeString& value : values) {
    pointers.push_back(&value);
  }
  return repository->WritePreference(name, pointers.data(), static_cast<int>(pointers.size()));
}

struct TextRead {
  int result;
  std::vector<std::string> texts;
};

// Reads `count` texts into elements that start as "?".
TextRead ReadTexts(ZAFSysPreferenceRepository* repository, const char* name, int count) {
  ZAFListValZAFUnicodeString list;
  for (int index = 0; index < count; ++index) {
    list.Append("?");
  }
  std::vector<ZAFUnicodeString*> pointers(static_cast<std::size_t>(count));
  list.Array(pointers.data());
  const int result = repository->ReadPreference(name, pointers.data(), count);
  return {result, qimtest::ToVector(list)};
}

int ReadCount(ZAFSysPreferenceRepository* repository) {
  int count = -99;
  return repository->ReadPreference("count", &count, 1) == 0 ? count : -99;
}

mode_t ModeOf(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 ? (status.st_mode & 07777) : 0;
}

// ---- In memory ----

class MemoryRepositoryTest : public ::testing::Test {
 protected:
  ZAFSysPreferenceRepository* Repository() {
    return ZAFSysPreferenceRepository::GetPreferenceRepository("QIMSetup");
  }
  qimtest::ScopedHost host_;
};

TEST_F(MemoryRepositoryTest, WriteThenReadGivesTheValuesBack) {
  ZAFSysPreferenceRepository* repository = Repository();
  ASSERT_NE(repository, nullptr);
  const int count = 2;
  EXPECT_EQ(repository->WritePreference("count", &count, 1), 0);
  EXPECT_EQ(WriteTexts(repository, "Keys", {"A", " b "}), 0);
  EXPECT_EQ(repository->SaveRepository(nullptr), 0);
  EXPECT_EQ(ReadCount(repository), 2);
  EXPECT_EQ(ReadTexts(repository, "Keys", 2).texts, (std::vector<std::string>{"A", " b "}));
  EXPECT_EQ(Repository(), repository) << "one object per name";
}

TEST_F(MemoryRepositoryTest, FailedReadsAndPartialFill) {
  ZAFSysPreferenceRepository* repository = Repository();
  ASSERT_EQ(WriteTexts(repository, "Keys", {"A", "B"}), 0);
  int number = 7;
  EXPECT_LT(repository->ReadPreference("missing", &number, 1), 0);
  EXPECT_LT(repository->ReadPreference("Keys", &number, 1), 0) << "texts read as integers";
  EXPECT_EQ(number, 7);

  const TextRead tooMany = ReadTexts(repository, "Keys", 3);
  EXPECT_LT(tooMany.result, 0);
  EXPECT_EQ(tooMany.texts, (std::vector<std::string>{"A", "B", "?"}));
  const TextRead fewer = ReadTexts(repository, "Keys", 1);
  EXPECT_EQ(fewer.result, 0);
  EXPECT_EQ(fewer.texts, (std::vector<std::string>{"A"}));
}

TEST_F(MemoryRepositoryTest, BadArgumentsFailWithoutCrashing) {
  ZAFSysPreferenceRepository* repository = Repository();
  const int number = 1;
  EXPECT_LT(repository->WritePreference("n", static_cast<const int*>(nullptr), 2), 0);
  EXPECT_LT(repository->WritePreference("n", &number, -1), 0);
  const ZAFUnicodeString* holes[] = {nullptr};
  EXPECT_LT(repository->WritePreference("t", holes, 1), 0);
  ASSERT_EQ(repository->WritePreference("n", &number, 1), 0);
  EXPECT_LT(repository->ReadPreference("n", static_cast<int*>(nullptr), 1), 0);
  EXPECT_LT(repository->ReadPreference("t", static_cast<ZAFUnicodeString**>(nullptr), 1), 0);
}

TEST_F(MemoryRepositoryTest, NamesThatAreNoPlainFileNameGiveNull) {
  for (const char* name : {"", "a/b", ".", "..", "/abs"}) {
    EXPECT_EQ(ZAFSysPreferenceRepository::GetPreferenceRepository(name), nullptr) << name;
  }
}

TEST_F(MemoryRepositoryTest, ProviderReplacesTheHostsOwnUntilCleared) {
  std::string asked;
  zaf::SetPreferenceRepositoryProvider([&asked](const std::string& name) {
    asked = name;
    return static_cast<ZAFSysPreferenceRepository*>(nullptr);
  });
  EXPECT_EQ(Repository(), nullptr);
  EXPECT_EQ(asked, "QIMSetup");
  EXPECT_NE(zaf::OpenHostRepository("QIMSetup"), nullptr) << "the host's own, whatever provider";
  zaf::SetPreferenceRepositoryProvider({});
  EXPECT_EQ(Repository(), zaf::OpenHostRepository("QIMSetup"));
}

// ---- In a folder ----

class FileRepositoryTest : public ::testing::Test {
 protected:
  FileRepositoryTest() : prefs_(folder_.File("prefs")) { UseFolder(prefs_); }

  void UseFolder(const std::string& directory) {
    zaf::ResetHost();
    zaf::SetPreferenceDirectory(directory);
    zaf::SetDiagnosticSink([this](const std::string& line) { lines_.push_back(line); });
  }

  // Forgets the repository objects, as a new run of the tool would.
  void Reopen() { UseFolder(zaf::GetPreferenceDirectory()); }

  ZAFSysPreferenceRepository* Repository() {
    return ZAFSysPreferenceRepository::GetPreferenceRepository("QIMSetup");
  }

  std::string File() const { return prefs_ + "/QIMSetup.prefs"; }

  // Writes "count" = n and saves.
  int SaveCount(int count) {
    ZAFSysPreferenceRepository* repository = Repository();
    EXPECT_EQ(repository->WritePreference("count", &count, 1), 0);
    return repository->SaveRepository(nullptr);
  }

  qimtest::TempDir folder_;
  qimtest::ScopedHost host_;
  std::string prefs_;
  std::vector<std::string> lines_;
};

TEST_F(FileRepositoryTest, SavedPreferencesLastAcrossRuns) {
  const std::vector<std::string> awkward = {"",      "  x  ", "a\nb",
                                            "q\"\\", "k = v", "\xC3\xA9t\xC3\xA9"};
  ZAFSysPreferenceRepository* repository = Repository();
  ASSERT_EQ(WriteTexts(repository, "Values", awkward), 0);
  ASSERT_EQ(SaveCount(6), 0);
  Reopen();
  EXPECT_EQ(ReadCount(Repository()), 6);
  EXPECT_EQ(ReadTexts(Repository(), "Values", 6).texts, awkward);
  EXPECT_TRUE(lines_.empty());
  EXPECT_FALSE(qimtest::FileExists(File() + ".tmp." + std::to_string(::getpid())));
}

TEST_F(FileRepositoryTest, MissingFileHoldsNothingAndIsNotAnError) {
  EXPECT_EQ(ReadCount(Repository()), -99);
  EXPECT_TRUE(lines_.empty());
  EXPECT_FALSE(qimtest::FileExists(prefs_)) << "reading makes no folder";
}

TEST_F(FileRepositoryTest, FileIsPrivateAndCreatedFoldersAre0700WhateverTheUmask) {
  prefs_ = folder_.File("a/b/prefs");
  UseFolder(prefs_);
  const mode_t previous = ::umask(0);
  const int result = SaveCount(1);
  ::umask(previous);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(ModeOf(File()), 0600U);
  EXPECT_EQ(ModeOf(prefs_), 0700U);
  EXPECT_EQ(ModeOf(folder_.File("a")), 0700U);
  EXPECT_EQ(ModeOf(folder_.File("a/b")), 0700U);
}

TEST_F(FileRepositoryTest, SaveKeepsWhatAnotherWriterSavedMeanwhile) {
  ASSERT_EQ(SaveCount(1), 0);
  qimtest::WriteFile(File(), "zaf-preferences 1\nint \"other\" 1 42\n");
  ASSERT_EQ(SaveCount(3), 0);
  Reopen();
  int other = 0;
  EXPECT_EQ(Repository()->ReadPreference("other", &other, 1), 0);
  EXPECT_EQ(other, 42);
  EXPECT_EQ(ReadCount(Repository()), 3);
}

TEST_F(FileRepositoryTest, CorruptFileIsIgnoredThenKeptAsideAtTheNextSave) {
  ASSERT_EQ(::mkdir(prefs_.c_str(), 0700), 0);
  const std::string junk = "zaf-preferences 1\nint \"count\" 1 \"oops\n";
  qimtest::WriteFile(File(), junk);
  ASSERT_EQ(::chmod(File().c_str(), 0600), 0);
  qimtest::WriteFile(File() + ".corrupt", "an older one");

  EXPECT_EQ(ReadCount(Repository()), -99);
  ASSERT_EQ(lines_.size(), 1U);
  EXPECT_THAT(lines_[0], AllOf(HasSubstr(File()), HasSubstr("line 2")));
  EXPECT_EQ(qimtest::ReadFile(File()), junk) << "reading never changes the file";

  ASSERT_EQ(SaveCount(4), 0);
  ASSERT_EQ(lines_.size(), 2U);
  EXPECT_THAT(lines_[1], AllOf(HasSubstr(File()), HasSubstr(File() + ".corrupt.1")));
  EXPECT_EQ(qimtest::ReadFile(File() + ".corrupt.1"), junk);
  EXPECT_EQ(qimtest::ReadFile(File() + ".corrupt"), "an older one");
  Reopen();
  EXPECT_EQ(ReadCount(Repository()), 4);
}

TEST_F(FileRepositoryTest, FileThatIsAFolderFailsReadsAndIsNeverReplaced) {
  ASSERT_EQ(::mkdir(prefs_.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(File().c_str(), 0700), 0);
  EXPECT_EQ(ReadCount(Repository()), -99);
  ASSERT_EQ(lines_.size(), 1U);
  EXPECT_THAT(lines_[0], HasSubstr(File()));
  EXPECT_LT(SaveCount(1), 0);
  ASSERT_EQ(lines_.size(), 2U);
  EXPECT_THAT(lines_[1], HasSubstr(File()));
  struct stat status {};
  ASSERT_EQ(::stat(File().c_str(), &status), 0);
  EXPECT_TRUE(S_ISDIR(status.st_mode));
}

TEST_F(FileRepositoryTest, FileWithoutReadPermissionFailsReadsAndIsNeverReplaced) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "permissions do not stop root from reading";
  }
  ASSERT_EQ(SaveCount(1), 0);
  ASSERT_EQ(::chmod(File().c_str(), 0), 0);
  Reopen();
  EXPECT_EQ(ReadCount(Repository()), -99);
  EXPECT_LT(SaveCount(2), 0);
  ASSERT_EQ(::chmod(File().c_str(), 0600), 0);
  EXPECT_THAT(qimtest::ReadFile(File()), HasSubstr("int \"count\" 1 1"));
  EXPECT_EQ(lines_.size(), 2U);
}

TEST_F(FileRepositoryTest, FolderThatCannotBeMadeFailsTheSaveWithOneLine) {
  qimtest::WriteFile(folder_.File("plain"), "a file, not a folder");
  prefs_ = folder_.File("plain/prefs");
  UseFolder(prefs_);
  EXPECT_LT(SaveCount(1), 0);
  ASSERT_EQ(lines_.size(), 1U);
  EXPECT_THAT(lines_[0], AllOf(HasSubstr(File()), HasSubstr("Not a directory")));
}

TEST_F(FileRepositoryTest, FailedWriteLeavesTheOldFileIntact) {
  ASSERT_EQ(SaveCount(1), 0);
  const std::string before = qimtest::ReadFile(File());
  // A folder where the temporary file must go makes the write fail, even for root.
  const std::string temporary = File() + ".tmp." + std::to_string(::getpid());
  ASSERT_EQ(::mkdir(temporary.c_str(), 0700), 0);
  EXPECT_LT(SaveCount(2), 0);
  ASSERT_EQ(lines_.size(), 1U);
  EXPECT_THAT(lines_[0], HasSubstr(temporary));
  EXPECT_EQ(qimtest::ReadFile(File()), before);
}

TEST_F(FileRepositoryTest, CorruptFileStaysInPlaceWhenTheSaveFails) {
  ASSERT_EQ(::mkdir(prefs_.c_str(), 0700), 0);
  qimtest::WriteFile(File(), "not preferences");
  ASSERT_EQ(::chmod(File().c_str(), 0600), 0);
  const std::string temporary = File() + ".tmp." + std::to_string(::getpid());
  ASSERT_EQ(::mkdir(temporary.c_str(), 0700), 0);
  EXPECT_LT(SaveCount(1), 0);
  EXPECT_EQ(qimtest::ReadFile(File()), "not preferences");
  EXPECT_FALSE(qimtest::FileExists(File() + ".corrupt"));
}

TEST_F(FileRepositoryTest, ReadOnlyFolderFailsTheSaveAndKeepsTheOldFile) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "permissions do not stop root from writing";
  }
  ASSERT_EQ(SaveCount(1), 0);
  const std::string before = qimtest::ReadFile(File());
  ASSERT_EQ(::chmod(prefs_.c_str(), 0500), 0);
  EXPECT_LT(SaveCount(2), 0);
  ::chmod(prefs_.c_str(), 0700);
  EXPECT_EQ(qimtest::ReadFile(File()), before);
  EXPECT_EQ(lines_.size(), 1U);
}

TEST_F(FileRepositoryTest, GroupReadableFileWarnsOnceAndTheSaveMakesItPrivate) {
  ASSERT_EQ(SaveCount(1), 0);
  ASSERT_EQ(::chmod(File().c_str(), 0640), 0);
  Reopen();
  EXPECT_EQ(ReadCount(Repository()), 1);
  EXPECT_EQ(ReadCount(Repository()), 1);
  ASSERT_EQ(lines_.size(), 1U);
  EXPECT_THAT(lines_[0], AllOf(StartsWith(File()), HasSubstr("0640")));
  ASSERT_EQ(SaveCount(1), 0);
  EXPECT_EQ(ModeOf(File()), 0600U);
}

}  // namespace
