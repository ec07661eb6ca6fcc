// The Win32 side of the host's files: the save lock between two handles, the replacing rename,
// names and values outside ASCII, and links refused. Windows builds only.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "host/platform/environment.h"
#include "host/platform/files.h"
#include "host/platform/user_folders.h"
#include "host/zaf_host.h"
#include "test_support.h"

namespace {

using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

class Win32FilesTest : public ::testing::Test {
 protected:
  Win32FilesTest() {
    zaf::SetDiagnosticSink([this](const std::string& line) { lines_.push_back(line); });
  }

  // Stores `value` under "v" through a fresh repository in `folder`; 0 when it was saved.
  static int Store(const std::string& folder, const std::string& value) {
    zaf::SetPreferenceDirectory(folder);
    const ZAFUnicodeString text(value);
    const ZAFUnicodeString* pointer = &text;
    ZAFSysPreferenceRepository* repository = zaf::OpenHostRepository("QIMSetup");
    return repository->WritePreference("v", &pointer, 1) == 0 ? repository->SaveRepository(nullptr)
                                                              : -1;
  }

  // What a fresh repository in `folder` reads under "v".
  static std::string Stored(const std::string& folder) {
    zaf::SetPreferenceDirectory(folder);
    ZAFUnicodeString text;
    ZAFUnicodeString* pointer = &text;
    zaf::OpenHostRepository("QIMSetup")->ReadPreference("v", &pointer, 1);
    return text.str();
  }

  qimtest::TempDir temp_;
  qimtest::ScopedHost host_;
  std::vector<std::string> lines_;
};

// LockFileEx between two handles: the second save says once whose lock it waits for (the id
// the holder wrote) and gives up after the timeout, leaving the file as it was.
TEST_F(Win32FilesTest, ASaveWaitsForTheLockOfAnotherHandleAndGivesUpAfterTheTimeout) {
  const std::string prefs = temp_.File("prefs");
  ASSERT_EQ(Store(prefs, "first"), 0);
  std::vector<long> holders;
  zaf::SetPreferenceLockWaitNotice([&holders](long holder) { holders.push_back(holder); });
  zaf::SetPreferenceLockTimeout(std::chrono::milliseconds(300));
  const qimtest::HeldLock held(prefs + "/QIMSetup.prefs.lock");
  ASSERT_TRUE(held.Held());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_LT(Store(prefs, "second"), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  const long self = zaf::platform::CurrentProcessId();
  EXPECT_EQ(holders, std::vector<long>{self});
  ASSERT_EQ(lines_.size(), 1U);
  EXPECT_THAT(lines_[0], AllOf(HasSubstr("still held by process " + std::to_string(self)),
                               HasSubstr("0.300 s")));
  EXPECT_EQ(Stored(prefs), "first");
}

// MoveFileExW replaces the settings file; a temporary file that cannot be written (a folder
// holds its name) fails the save and leaves the old file byte for byte.
TEST_F(Win32FilesTest, ASaveReplacesTheFileAndAFailedWriteLeavesItIntact) {
  const std::string prefs = temp_.File("prefs");
  ASSERT_EQ(Store(prefs, "first"), 0);
  ASSERT_EQ(Store(prefs, "second"), 0);
  EXPECT_EQ(Stored(prefs), "second");
  const std::string before = qimtest::ReadFile(prefs + "/QIMSetup.prefs");
  const std::string temporary =
      prefs + "/QIMSetup.prefs.tmp." + std::to_string(zaf::platform::CurrentProcessId());
  ASSERT_TRUE(fs::create_directory(fs::u8path(temporary)));
  EXPECT_LT(Store(prefs, "third"), 0);
  ASSERT_EQ(lines_.size(), 1U);
  EXPECT_THAT(lines_[0], HasSubstr("cannot create QIMSetup.prefs.tmp."));
  EXPECT_EQ(qimtest::ReadFile(prefs + "/QIMSetup.prefs"), before);
}

// UTF-8 inside, UTF-16 at the system: a folder, a setting, an environment variable and the
// settings folder under %APPDATA% keep characters outside ASCII.
TEST_F(Win32FilesTest, NamesAndValuesOutsideAsciiRoundTrip) {
  const std::string name =
      "Pr\xC3\xA9"
      "f\xC3\xA9rences \xE2\x9C\x93 \xE8\xA8\xAD\xE5\xAE\x9A";
  const std::string prefs = temp_.File(name);
  ASSERT_EQ(Store(prefs, name), 0);
  EXPECT_EQ(Stored(prefs), name);
  EXPECT_TRUE(fs::is_regular_file(fs::u8path(prefs + "/QIMSetup.prefs")));
  EXPECT_TRUE(zaf::platform::CanOpenFolder(prefs));

  const qimtest::ScopedEnv appData("APPDATA", temp_.File(name));
  ASSERT_NE(zaf::platform::EnvironmentValue("APPDATA"), nullptr);
  EXPECT_EQ(zaf::platform::EnvironmentValue("APPDATA"), temp_.File(name));
  std::string problem;
  EXPECT_EQ(zaf::platform::UserSettingsFolder("wassetup", problem),
            temp_.File(name) + "\\wassetup");
  const qimtest::ScopedEnv noAppData("APPDATA", std::nullopt);
  EXPECT_THAT(zaf::platform::UserSettingsFolder("wassetup", problem), EndsWith("\\wassetup"))
      << "the roaming application data folder: " << problem;
}

// Makes `link` a symbolic link to `target`; false when there is none afterwards: Windows
// refuses without the privilege or developer mode, and Wine 8 says yes but makes nothing.
bool MakeLink(const std::string& link, const std::string& target, DWORD flags) {
  const std::wstring name = fs::u8path(link).make_preferred().wstring();
  ::CreateSymbolicLinkW(name.c_str(), fs::u8path(target).make_preferred().c_str(),
                        flags | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A preference folder or settings file that is a symbolic link is refused, not followed.
TEST_F(Win32FilesTest, ALinkInPlaceOfTheFolderOrTheFileIsRefused) {
  const std::string real = temp_.File("real");
  ASSERT_EQ(Store(real, "real"), 0);
  if (!MakeLink(temp_.File("link"), real, SYMBOLIC_LINK_FLAG_DIRECTORY)) {
    GTEST_SKIP() << "this system made no symbolic link";
  }
  EXPECT_THAT(zaf::PreferenceFolderProblem(temp_.File("link")), HasSubstr("symbolic link"));
  fs::create_directory(fs::u8path(temp_.File("other")));
  ASSERT_TRUE(MakeLink(temp_.File("other/QIMSetup.prefs"), real + "/QIMSetup.prefs", 0));
  EXPECT_EQ(Stored(temp_.File("other")), "");
  EXPECT_LT(Store(temp_.File("other"), "over the link"), 0);
  EXPECT_EQ(Stored(real), "real");
  ASSERT_FALSE(lines_.empty());
  EXPECT_THAT(lines_.back(), HasSubstr("symbolic link"));
}

}  // namespace
