// The rules of a private Windows access list, over its description (see access_list.h).

#include "platform/access_list.h"

#include <algorithm>

namespace zaf::platform {

namespace {

// Rights that let their holder change the file, the folder's entries or who may do either.
constexpr std::uint32_t kWriteLike =
    rights::kWriteData | rights::kAppendData | rights::kDeleteChild | rights::kDelete |
    rights::kWriteDac | rights::kWriteOwner | rights::kGenericWrite | rights::kGenericAll;
constexpr std::uint32_t kReadLike = rights::kReadData | rights::kGenericRead | rights::kGenericAll;

// The user, the system and the administrators (who may take any file anyway) may hold rights
// without making what they hold shared; OWNER RIGHTS stands for the owner, checked apart.
bool IsTrusted(const std::string& sid, const AccessUser& user) {
  return sid == user.sid || sid == kSystemSid || sid == kAdministratorsSid ||
         sid == kOwnerRightsSid;
}

// An elevated process makes files owned by Administrators, and one of the system's by SYSTEM:
// for an administrator these owners are as good as the user.
bool IsAcceptedOwner(const std::string& owner, const AccessUser& user) {
  return owner == user.sid ||
         (user.administrator && (owner == kAdministratorsSid || owner == kSystemSid));
}

// The untrusted SIDs that an allow entry of `list` grants one of `wanted`, each once, in the
// order of the entries.
std::vector<std::string> Grantees(const AccessList& list, const AccessUser& user, bool folder,
                                  std::uint32_t wanted) {
  std::vector<std::string> grantees;
  for (const AccessEntry& entry : list.entries) {
    const bool inheritOnly = (entry.flags & rights::kInheritOnly) != 0;
    if (!entry.allows || (entry.mask & wanted) == 0 || (inheritOnly && !folder) ||
        IsTrusted(entry.sid, user) || (inheritOnly && entry.sid == kCreatorOwnerSid)) {
      continue;
    }
    if (std::find(grantees.begin(), grantees.end(), entry.sid) == grantees.end()) {
      grantees.push_back(entry.sid);
    }
  }
  return grantees;
}

std::string Shown(const std::string& sid, const AccountNameOf& nameOf) {
  std::string name = nameOf && !sid.empty() ? nameOf(sid) : "";
  if (!name.empty()) {
    return name;
  }
  return sid.empty() ? "an account whose SID could not be read" : sid;
}

std::string Listed(const std::vector<std::string>& sids, const AccountNameOf& nameOf) {
  std::string text;
  for (const std::string& sid : sids) {
    text += (text.empty() ? "" : ", ") + Shown(sid, nameOf);
  }
  return text;
}

// The icacls command that drops the inherited entries and the grants to `grantees` and gives
// the user full control (inherited by what a folder holds). SIDs are given as "*SID", which
// every language of Windows reads alike; the quotes keep PowerShell off the parentheses.
std::string RepairCommand(const AccessSubject& subject, const AccessUser& user,
                          const std::vector<std::string>& grantees) {
  std::string command = "icacls \"" + subject.path + "\" /inheritance:r /grant:r \"*" + user.sid +
                        (subject.folder ? ":(OI)(CI)F\"" : ":F\"");
  std::string removed;
  for (const std::string& sid : grantees) {
    if (!sid.empty()) {
      removed += " *" + sid;
    }
  }
  return removed.empty() ? command : command + " /remove:g" + removed;
}

}  // namespace

AccessReview ReviewAccess(const AccessList& list, const AccessUser& user,
                          const AccessSubject& subject, const AccountNameOf& nameOf) {
  AccessReview review;
  if (!IsAcceptedOwner(list.owner, user)) {
    review.unfit = subject.shown + " belongs to " + Shown(list.owner, nameOf) + ", not to " +
                   Shown(user.sid, nameOf) + " who runs this; it is not used";
    return review;
  }
  const std::string until = "; it is not used until only its owner may write to it (";
  if (!list.present) {
    review.unfit = subject.shown + " has no access list, so everyone may write to it" + until +
                   RepairCommand(subject, user, {}) + ")";
    return review;
  }
  const std::vector<std::string> writers = Grantees(list, user, subject.folder, kWriteLike);
  if (!writers.empty()) {
    review.unfit = Listed(writers, nameOf) + " may write to " + subject.shown + until +
                   RepairCommand(subject, user, writers) + ")";
    return review;
  }
  review.readers = Listed(Grantees(list, user, subject.folder, kReadLike), nameOf);
  review.ownerOnly =
      list.isProtected && Grantees(list, user, subject.folder, ~std::uint32_t{0}).empty();
  return review;
}

}  // namespace zaf::platform
