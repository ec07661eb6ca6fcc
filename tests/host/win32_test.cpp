// The Win32 side of the host's files: names and values outside ASCII, links refused, and
// owner-only access lists (the save lock and the replacing rename are tested on every system,
// in host_test.cpp). Windows builds only.

#include <aclapi.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sddl.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/platform/files.h"
#include "host/platform/user_folders.h"
#include "host/platform/wide_text.h"
#include "host/zaf_host.h"
#include "platform/access_list.h"
#include "preference_store_test.h"
#include "test_support.h"

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

using qimtest::PreferenceStoreTest;
using qimtest::Read;
using qimtest::Save;
using Texts = std::vector<std::string>;

// UTF-8 inside, UTF-16 at the system: a folder, a setting, an environment variable and the
// settings folder under %APPDATA% keep characters outside ASCII.
TEST_F(PreferenceStoreTest, NamesAndValuesOutsideAsciiRoundTrip) {
  const std::string name =
      "Pr\xC3\xA9"
      "f\xC3\xA9rences \xE2\x9C\x93 \xE8\xA8\xAD\xE5\xAE\x9A";
  Use(folder_.File(name));
  ASSERT_EQ(Save(Fresh(), {{"v", Texts{name}}}), 0);
  EXPECT_EQ(Read(Fresh(), "v"), name);
  EXPECT_TRUE(fs::is_regular_file(fs::u8path(file_)));
  EXPECT_TRUE(zaf::platform::CanOpenFolder(prefs_));

  // The settings folder is read from the variable through EnvironmentValue.
  const qimtest::ScopedEnv appData("APPDATA", prefs_);
  std::string problem;
  EXPECT_EQ(zaf::platform::UserSettingsFolder("wassetup", problem), prefs_ + "\\wassetup");
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
TEST_F(PreferenceStoreTest, ALinkInPlaceOfTheFolderOrTheFileIsRefused) {
  const std::string real = prefs_;
  ASSERT_EQ(Save(Fresh(), {{"v", Texts{"real"}}}), 0);
  if (!MakeLink(folder_.File("link"), real, SYMBOLIC_LINK_FLAG_DIRECTORY)) {
    GTEST_SKIP() << "this system made no symbolic link";
  }
  EXPECT_THAT(zaf::PreferenceFolderProblem(folder_.File("link")), HasSubstr("symbolic link"));
  Use(folder_.File("other"));
  fs::create_directory(fs::u8path(prefs_));
  ASSERT_TRUE(MakeLink(file_, real + "/QIMSetup.prefs", 0));
  EXPECT_EQ(Read(Fresh(), "v"), "");
  EXPECT_LT(Save(Fresh(), {{"v", Texts{"over the link"}}}), 0);
  Use(real);
  EXPECT_EQ(Read(Fresh(), "v"), "real");
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
TEST_F(PreferenceStoreTest, ListsThatLetOthersWriteAreRefusedAndOnesThatLetThemReadWarn) {
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
    Use(folder_.File(why));
    ASSERT_EQ(Save(Fresh(), {{"v", Texts{"kept"}}}), 0) << why;
    ASSERT_TRUE(SetList(prefs_ + file, "D:P(A;;FA;;;" + UserSid() + ")" + entry)) << why;
    lines_.clear();
    EXPECT_EQ(Read(Fresh(), "v"), stored) << why;
    ASSERT_EQ(lines_.size(), 1U) << why;
    EXPECT_THAT(lines_[0], HasSubstr(said)) << why;
    if (*stored == '\0') {
      EXPECT_THAT(lines_[0], HasSubstr("/remove:g *S-1-1-0)")) << why;
    }
  }
}

}  // namespace
