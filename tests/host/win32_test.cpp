// The Win32 side of the host's files: the save lock between two handles, the replacing rename,
// names and values outside ASCII, links refused, and owner-only access lists. Windows builds
// only.

#include <aclapi.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sddl.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "host/platform/environment.h"
#include "host/platform/files.h"
#include "host/platform/user_folders.h"
#include "host/platform/wide_text.h"
#include "host/zaf_host.h"
#include "platform/access_list.h"
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

// ---- Owner-only access lists ----

// The SID of the user who runs this, as the process's token tells.
std::string UserSid() {
  HANDLE token = nullptr;
  std::vector<unsigned char> user(256);
  DWORD size = 0;
  LPWSTR text = nullptr;
  const bool read =
      ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) &&
      ::GetTokenInformation(token, TokenUser, user.data(), 256, &size) &&
      ::ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, &text);
  ::CloseHandle(token);
  const std::string sid = read ? zaf::platform::Utf8FromWide(text) : "";
  ::LocalFree(text);
  return sid;
}

// Gives `path` the protected access list `sddl`; false when the system refuses.
bool SetList(const std::string& path, const std::string& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          zaf::platform::WideFromUtf8(sddl).c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return false;
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL list = nullptr;
  const bool set =
      ::GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted) &&
      ::SetNamedSecurityInfoW(zaf::platform::WideFromUtf8(path).data(), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, list, nullptr) == ERROR_SUCCESS;
  ::LocalFree(descriptor);
  return set;
}

// `sddl` as the system writes it back, so that its aliases ("LA" for the local Administrator's
// SID) compare alike.
std::string Canonical(const std::string& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  LPWSTR text = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          zaf::platform::WideFromUtf8(sddl).c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return "not SDDL: " + sddl;
  }
  ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &text, nullptr);
  const std::string canonical = text != nullptr ? zaf::platform::Utf8FromWide(text) : "";
  ::LocalFree(text);
  ::LocalFree(descriptor);
  return canonical;
}

// What the host asks Windows for, read before it is applied; Wine does not keep access lists
// faithfully, so what it reads back would prove nothing. Protected, full control for the user,
// SYSTEM and Administrators alone, and a folder's entries inherited by what is made in it.
TEST(Win32AccessTest, OwnerOnlyIsAProtectedListOfTheUserSystemAndAdministrators) {
  const std::string user = UserSid();
  ASSERT_FALSE(user.empty());
  for (const bool folder : {true, false}) {
    const std::string grant = std::string("(A;") + (folder ? "OICI" : "") + ";FA;;;";
    EXPECT_EQ(zaf::platform::OwnerOnlyAccessListText(folder),
              Canonical("D:P" + grant + user + ")" + grant + "SY)" + grant + "BA)"))
        << (folder ? "a folder" : "a file");
  }
}

// The checks on the lists as the system reports them: a folder or a settings file that
// Everyone may write is not used, and the repair names the SID to remove; a settings file that
// Everyone may read is used, with a warning.
TEST_F(Win32FilesTest, ListsThatLetOthersWriteAreRefusedAndOnesThatLetThemReadWarn) {
  struct Case {
    const char* file;  // what gets the list: the folder, or the settings file in it
    const char* entry;
    const char* stored;
    const char* said;
    const char* why;
  };
  for (const auto& [file, entry, stored, said, why] : std::vector<Case>{
           {"", "(A;;FW;;;WD)", "", "may write to the preference folder",
            "Everyone writes the folder"},
           {"/QIMSetup.prefs", "(A;;FW;;;WD)", "", "may write to it", "Everyone writes the file"},
           {"/QIMSetup.prefs", "(A;;FR;;;WD)", "kept", "readable by ", "Everyone reads the file"},
       }) {
    const std::string prefs = temp_.File(why);
    ASSERT_EQ(Store(prefs, "kept"), 0) << why;
    ASSERT_TRUE(SetList(prefs + file, "D:P(A;;FA;;;" + UserSid() + ")" + entry)) << why;
    lines_.clear();
    EXPECT_EQ(Stored(prefs), stored) << why;
    ASSERT_EQ(lines_.size(), 1U) << why;
    EXPECT_THAT(lines_[0], HasSubstr(said)) << why;
    if (*stored == '\0') {
      EXPECT_THAT(lines_[0], HasSubstr("/remove:g *S-1-1-0)")) << why;
    }
  }
}

}  // namespace
