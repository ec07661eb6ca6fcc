// Owner-only files on every system: the rules of a private Windows access list, over described
// lists (they run the same on Linux and under Wine, whatever Wine reads back from its files),
// and the owner-only replacement that the tool's --output uses.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "host/platform/files.h"
#include "platform/access_list.h"
#include "test_support.h"

namespace {

using zaf::platform::AccessEntry;
using zaf::platform::AccessList;
using zaf::platform::AccessReview;
using zaf::platform::AccessSubject;
using zaf::platform::AccessUser;

const std::string kAlice = "S-1-5-21-1-2-3-1001";
const std::string kBob = "S-1-5-21-1-2-3-1002";
const std::string kEveryone = "S-1-1-0";
const std::string kAuthenticatedUsers = "S-1-5-11";
const std::string kUsers = "S-1-5-32-545";
const std::string kSystem = zaf::platform::kSystemSid;
const std::string kAdministrators = zaf::platform::kAdministratorsSid;
const std::string kCreatorOwner = zaf::platform::kCreatorOwnerSid;

// Masks as Windows writes them.
constexpr std::uint32_t kFullControl = 0x1F01FF;  // FILE_ALL_ACCESS
constexpr std::uint32_t kReadOnly = 0x120089;     // FILE_GENERIC_READ
constexpr std::uint32_t kWriteData = 0x2;
constexpr std::uint32_t kWriteAttributes = 0x100;
constexpr std::uint32_t kWriteDac = 0x40000;
constexpr std::uint32_t kGenericAll = 0x10000000;
constexpr std::uint8_t kInherited = 0x3;          // OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE
constexpr std::uint8_t kInheritOnly = 0x3 | 0x8;  // ... | INHERIT_ONLY_ACE

std::string NameOf(const std::string& sid) {
  static const std::map<std::string, std::string> names = {
      {kAlice, "HOST\\alice"},    {kBob, "HOST\\bob"},
      {kEveryone, "Everyone"},    {kAuthenticatedUsers, "NT AUTHORITY\\Authenticated Users"},
      {kUsers, "BUILTIN\\Users"}, {kAdministrators, "BUILTIN\\Administrators"},
  };
  const auto found = names.find(sid);
  return found != names.end() ? found->second : "";
}

// A protected list owned by `owner` that grants alice, SYSTEM and Administrators full control,
// then `more`.
AccessList ListOf(const std::string& owner, std::vector<AccessEntry> more = {}) {
  AccessList list{owner, true, true, {}};
  for (const std::string& sid : {kAlice, kSystem, kAdministrators})
    list.entries.push_back({true, sid, kFullControl, kInherited});
  list.entries.insert(list.entries.end(), more.begin(), more.end());
  return list;
}

TEST(AccessListTest, OnlyTheUserAndTheSystemMayWriteAndOthersWhoMayReadAreNamed) {
  struct Case {
    const char* why;
    bool folder;
    bool administrator;
    AccessList list;
    std::string unfit;  // a part of the reason; empty when it is fit
    std::string readers;
    bool ownerOnly;
  };
  AccessList unprotected = ListOf(kAlice);
  unprotected.isProtected = false;
  const AccessList noList{kAlice, false, false, {}};
  const std::vector<Case> cases = {
      {"the list the host makes", true, false, ListOf(kAlice), "", "", true},
      {"another user owns it", true, false, ListOf(kBob),
       "the folder 'C:\\prefs' belongs to HOST\\bob, not to HOST\\alice who runs this", "", false},
      {"Administrators own it, the user is none", true, false, ListOf(kAdministrators),
       "belongs to BUILTIN\\Administrators", "", false},
      {"Administrators own it, made by the user elevated", true, true, ListOf(kAdministrators), "",
       "", true},
      {"SYSTEM owns it, the user an administrator", false, true, ListOf(kSystem), "", "", true},
      {"Everyone may write: the repair removes it and keeps inheritance for the folder's files",
       true, false, ListOf(kAlice, {{true, kEveryone, kWriteData, 0}}),
       "Everyone may write to the folder 'C:\\prefs'; it is not used until only its owner may "
       "write to it (icacls \"C:\\prefs\" /inheritance:r /grant:r "
       "\"*S-1-5-21-1-2-3-1001:(OI)(CI)F\""
       " /remove:g *S-1-1-0)",
       "", false},
      {"a file's repair grants no inheritance", false, false,
       ListOf(kAlice, {{true, kUsers, kGenericAll, 0}}),
       "BUILTIN\\Users may write to it; it is not used until only its owner may write to it "
       "(icacls "
       "\"C:\\prefs\" /inheritance:r /grant:r \"*S-1-5-21-1-2-3-1001:F\" /remove:g *S-1-5-32-545)",
       "", false},
      {"Authenticated Users may read the file", false, false,
       ListOf(kAlice, {{true, kAuthenticatedUsers, kReadOnly, 0}}), "",
       "NT AUTHORITY\\Authenticated Users", false},
      {"a deny entry grants nothing", true, false,
       ListOf(kAlice, {{false, kEveryone, kFullControl, 0}}), "", "", true},
      {"CREATOR OWNER on an inherit-only entry names whoever makes a file there", true, false,
       ListOf(kAlice, {{true, kCreatorOwner, kGenericAll, kInheritOnly}}), "", "", true},
      {"an inherit-only entry of a folder grants on what is made in it", true, false,
       ListOf(kAlice, {{true, kUsers, kWriteData, kInheritOnly}}), "BUILTIN\\Users may write", "",
       false},
      {"an inherit-only entry of a file grants nothing", false, false,
       ListOf(kAlice, {{true, kUsers, kWriteData, kInheritOnly}}), "", "", true},
      {"changing the access list is writing", true, false,
       ListOf(kAlice, {{true, kBob, kWriteDac, 0}}), "HOST\\bob may write", "", false},
      {"attributes alone are no writing, but the file is shared", false, false,
       ListOf(kAlice, {{true, kBob, kWriteAttributes, 0}}), "", "", false},
      {"each writer is named once, unknown ones by SID", true, false,
       ListOf(kAlice, {{true, kEveryone, kWriteData, 0},
                       {true, "S-1-5-21-9-9-9-500", kFullControl, 0},
                       {true, kEveryone, kGenericAll, kInherited}}),
       "Everyone, S-1-5-21-9-9-9-500 may write", "", false},
      {"an entry whose SID could not be read", true, false,
       ListOf(kAlice, {{true, "", kWriteData, 0}}),
       "an account whose SID could not be read may write", "", false},
      {"no access list lets everyone write", true, false, noList, "has no access list", "", false},
      {"a list inherited from the parent is fit but not the host's own", true, false, unprotected,
       "", "", false},
  };
  for (const Case& row : cases) {
    const AccessSubject subject{row.folder, "C:\\prefs",
                                row.folder ? "the folder 'C:\\prefs'" : "it"};
    const AccessReview review =
        zaf::platform::ReviewAccess(row.list, {kAlice, row.administrator}, subject, NameOf);
    if (row.unfit.empty()) {
      EXPECT_EQ(review.unfit, "") << row.why;
    } else {
      EXPECT_THAT(review.unfit, ::testing::HasSubstr(row.unfit)) << row.why;
    }
    EXPECT_EQ(review.readers, row.readers) << row.why;
    EXPECT_EQ(review.ownerOnly, row.ownerOnly) << row.why;
  }
}

// The whole document at a new name or in place of a file; a folder in the way is refused, and
// no temporary file stays behind either way.
TEST(OwnerOnlyFileTest, AReplacementIsWholeOrLeavesNothingBehind) {
  const qimtest::TempDir folder;
  qimtest::WriteFile(folder.File("old"), "an older and longer document");
  std::filesystem::create_directory(std::filesystem::u8path(folder.File("dir")));
  for (const auto& [name, replaced, why] : std::vector<std::tuple<const char*, bool, const char*>>{
           {"new", true, "a new name is made"},
           {"old", true, "a file is replaced"},
           {"dir", false, "a folder is not replaced"},
       }) {
    const std::string problem = zaf::platform::ReplaceFileOwnerOnly(folder.File(name), "document");
    EXPECT_EQ(problem.empty(), replaced) << why << ": " << problem;
    if (replaced) {
      EXPECT_EQ(qimtest::ReadFile(folder.File(name)), "document") << why;
    }
  }
  EXPECT_EQ(std::distance(
                std::filesystem::directory_iterator(std::filesystem::u8path(folder.path())), {}),
            3);
}

}  // namespace
