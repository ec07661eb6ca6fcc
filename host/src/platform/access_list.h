#pragma once
// Whether a Windows access list keeps a file or a folder private to the user who runs the host.
// The rules work on a plain description of the owner and the entries (SIDs as text, masks,
// flags), so that they read and are tested the same on every system; the Win32 files facility
// describes a real security descriptor and acts on the verdict.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/zaf_export.h"

namespace zaf::platform {

// The well-known SIDs the rules name.
inline constexpr char kSystemSid[] = "S-1-5-18";
inline constexpr char kAdministratorsSid[] = "S-1-5-32-544";
inline constexpr char kCreatorOwnerSid[] = "S-1-3-0";
inline constexpr char kOwnerRightsSid[] = "S-1-3-4";

// Rights of an access mask and a flag of an entry, with the values Windows gives them.
namespace rights {
inline constexpr std::uint32_t kReadData = 0x1;      // FILE_READ_DATA, FILE_LIST_DIRECTORY
inline constexpr std::uint32_t kWriteData = 0x2;     // FILE_WRITE_DATA, FILE_ADD_FILE
inline constexpr std::uint32_t kAppendData = 0x4;    // FILE_APPEND_DATA, FILE_ADD_SUBDIRECTORY
inline constexpr std::uint32_t kDeleteChild = 0x40;  // FILE_DELETE_CHILD
inline constexpr std::uint32_t kDelete = 0x10000;
inline constexpr std::uint32_t kWriteDac = 0x40000;
inline constexpr std::uint32_t kWriteOwner = 0x80000;
inline constexpr std::uint32_t kGenericAll = 0x10000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kGenericRead = 0x80000000;
inline constexpr std::uint8_t kInheritOnly = 0x08;  // INHERIT_ONLY_ACE
}  // namespace rights

// One entry of an access list.
struct AccessEntry {
  bool allows = true;  // an access-allowed entry; false for the others (deny, audit, label)
  std::string sid;     // whom it names ("S-1-1-0"); empty when it could not be read
  std::uint32_t mask = 0;
  std::uint8_t flags = 0;  // the entry's inheritance flags
};

// The owner and the access list (DACL) of a file or folder.
struct AccessList {
  std::string owner;         // the owner's SID
  bool present = true;       // false: no access list at all, which lets everyone do anything
  bool isProtected = false;  // nothing is inherited from the parent folder
  std::vector<AccessEntry> entries;
};

// Who runs this: the token's user and whether the token holds the Administrators group,
// enabled (an elevated process) or for deny only (an administrator's process not elevated).
struct AccessUser {
  std::string sid;
  bool administrator = false;
};

// What is reviewed and how messages name it: `shown` begins the clauses ("the preference
// folder 'C:\x'", or "it" for a file the caller names), `path` goes into the repair command.
struct AccessSubject {
  bool folder = false;
  std::string path;
  std::string shown;
};

// What the access list means for private use.
struct AccessReview {
  // Why it is not used, with a repair: its owner is not the user (nor, for an administrator,
  // Administrators or SYSTEM), or someone else may write to it. Empty when it is fit.
  std::string unfit;
  // Who else may read it ("Everyone, BUILTIN\Users"); empty when nobody.
  std::string readers;
  // It is fit, protected, and grants nothing to anyone but the user, SYSTEM and Administrators:
  // what the files facility makes.
  bool ownerOnly = false;
};

// The account name of a SID for messages ("BUILTIN\Users"); empty when unknown.
using AccountNameOf = std::function<std::string(const std::string& sid)>;

// Reviews `list` for `user`. Write-like rights (writing or appending data, adding or deleting
// entries of a folder, deleting, changing the access list or the owner, generic write or all)
// may be granted only to the user, SYSTEM, Administrators and OWNER RIGHTS (which stands for the
// owner, checked apart), and on a folder's inherit-only entries to CREATOR OWNER, which names
// whoever makes a file there. Deny entries take rights away and are not needed to pass. On a
// file, inherit-only entries grant nothing; on a folder they grant on what is made in it.
ZAF_API AccessReview ReviewAccess(const AccessList& list, const AccessUser& user,
                                  const AccessSubject& subject, const AccountNameOf& nameOf);

// The protected owner-only access list the Win32 files facility gives what it makes (with
// `folder`, a folder whose entries what is made in it inherits), in the system's text form
// (SDDL), as built before it is applied. Windows builds only.
ZAF_API std::string OwnerOnlyAccessListText(bool folder);

}  // namespace zaf::platform
