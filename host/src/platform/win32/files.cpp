// Files, folders and locks on Windows, through the W functions (UTF-16 paths). A Folder is a
// handle opened without FILE_SHARE_DELETE: while it is open nobody can rename or remove the
// folder, so its path keeps naming it, and the files in it are reached by that path. Links
// (symbolic links, junctions: reparse points) are opened as themselves and refused. Locks are
// LockFileEx locks, which the system releases when the handle closes or the process ends.
//
// Owner-only is a protected access list (DACL): full control for the user, SYSTEM and
// Administrators, as Windows gives a user's profile folder, and nothing inherited from the
// parent. What the facility makes private gets it at creation, through the SECURITY_ATTRIBUTES
// of CreateDirectoryW and CreateFileW, so that it never exists with the list it would inherit;
// a folder's entries are inherited by what is made in it. The folder and the settings file in
// use are checked by the rules of platform/access_list.h on what GetSecurityInfo reads.

#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <utility>
#include <vector>

#include "host/platform/files.h"
#include "host/platform/wide_text.h"
#include "platform/access_list.h"
#include "platform/win32/handle.h"
#include "platform/win32/owner_only.h"
#include "platform/win32/write_all.h"

namespace zaf::platform {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The byte a lock covers: far past the holder's id, so that others can still read the id.
constexpr DWORD kLockOffsetHigh = 1;

HANDLE AsHandle(std::intptr_t native) {
  return reinterpret_cast<HANDLE>(native);
}

std::intptr_t AsNative(HANDLE handle) {
  return reinterpret_cast<std::intptr_t>(handle);
}

std::string Reason(DWORD error) {
  return SystemErrorText(error);
}

std::string LastReason() {
  return SystemErrorText(::GetLastError());
}

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

bool IsMissingError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_INVALID_NAME || error == ERROR_DIRECTORY;
}

bool IsSeparator(wchar_t character) {
  return character == L'\\' || character == L'/';
}

Handle OpenExisting(const std::wstring& path, DWORD access, DWORD share, DWORD flags) {
  return Handle(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
}

// ---- Access lists ----

static_assert(rights::kReadData == FILE_READ_DATA && rights::kWriteData == FILE_WRITE_DATA &&
                  rights::kAppendData == FILE_APPEND_DATA &&
                  rights::kDeleteChild == FILE_DELETE_CHILD && rights::kDelete == DELETE &&
                  rights::kWriteDac == WRITE_DAC && rights::kWriteOwner == WRITE_OWNER &&
                  rights::kGenericAll == GENERIC_ALL && rights::kGenericWrite == GENERIC_WRITE &&
                  rights::kGenericRead == GENERIC_READ && rights::kInheritOnly == INHERIT_ONLY_ACE,
              "the rules of access lists use the system's values");

// The text form of `sid` ("S-1-5-18"); empty when it cannot be converted.
std::string SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text)) {
    return "";
  }
  std::string result = Utf8FromWide(text);
  ::LocalFree(text);
  return result;
}

// The account the SID `sid` names ("BUILTIN\Users"; "Everyone" has no domain), as the system
// knows it; empty when it does not.
std::string AccountName(const std::string& sid) {
  PSID binary = nullptr;
  if (!::ConvertStringSidToSidW(WideFromUtf8(sid).c_str(), &binary)) {
    return "";
  }
  DWORD nameSize = 0;
  DWORD domainSize = 0;
  SID_NAME_USE use{};
  ::LookupAccountSidW(nullptr, binary, nullptr, &nameSize, nullptr, &domainSize, &use);
  std::wstring name(nameSize, L'\0');
  std::wstring domain(domainSize, L'\0');
  const bool found = nameSize > 0 && ::LookupAccountSidW(nullptr, binary, name.data(), &nameSize,
                                                         domain.data(), &domainSize, &use);
  ::LocalFree(binary);
  if (!found) {
    return "";
  }
  name.resize(nameSize);
  domain.resize(domainSize);
  return domain.empty() ? Utf8FromWide(name) : Utf8FromWide(domain) + "\\" + Utf8FromWide(name);
}

// What GetTokenInformation gives for `kind`; empty when it cannot be read.
std::vector<unsigned char> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD size = 0;
  ::GetTokenInformation(token, kind, nullptr, 0, &size);
  std::vector<unsigned char> information(size);
  if (size == 0 || !::GetTokenInformation(token, kind, information.data(), size, &size)) {
    information.clear();
  }
  return information;
}

std::vector<unsigned char> WellKnownSid(WELL_KNOWN_SID_TYPE kind) {
  DWORD size = SECURITY_MAX_SID_SIZE;
  std::vector<unsigned char> sid(size);
  if (!::CreateWellKnownSid(kind, nullptr, sid.data(), &size)) {
    return {};
  }
  sid.resize(size);
  return sid;
}

// Who runs this, as the process's token tells: `sid` holds the user's SID, empty when the token
// could not be read (`error` tells why).
struct CurrentUser {
  std::vector<unsigned char> sid;
  AccessUser access;
  DWORD error = ERROR_SUCCESS;
};

CurrentUser ReadCurrentUser() {
  CurrentUser user;
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
    user.error = ::GetLastError();
    return user;
  }
  const Handle tokenHandle(token);
  const std::vector<unsigned char> owner = TokenInformation(token, TokenUser);
  const std::vector<unsigned char> groups = TokenInformation(token, TokenGroups);
  if (owner.empty() || groups.empty()) {
    user.error = ::GetLastError();
    return user;
  }
  auto* const sid =
      static_cast<unsigned char*>(reinterpret_cast<const TOKEN_USER*>(owner.data())->User.Sid);
  user.sid.assign(sid, sid + ::GetLengthSid(sid));
  user.access.sid = SidText(sid);
  // Administrators is in the token enabled when the process is elevated, and for deny only when
  // UAC runs an administrator's process unelevated: the same person either way.
  std::vector<unsigned char> administrators = WellKnownSid(WinBuiltinAdministratorsSid);
  const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.data());
  const SID_AND_ATTRIBUTES* group = list->Groups;
  for (DWORD index = 0; index < list->GroupCount && !administrators.empty(); ++index) {
    user.access.administrator =
        user.access.administrator || ::EqualSid(group[index].Sid, administrators.data());
  }
  if (user.access.sid.empty()) {
    user.error = ERROR_INVALID_SID;
  }
  return user;
}

const CurrentUser& User() {
  static const CurrentUser user = ReadCurrentUser();
  return user;
}

// The protected owner-only access list in a security descriptor, for CreateFileW and
// CreateDirectoryW or to set on an open file: full control for the user, SYSTEM and
// Administrators, nothing inherited from the parent; with `folder` each entry is inherited by
// what is made in the folder. Error() is the system's error when it could not be built: then
// nothing is to be made with it.
class OwnerOnlySecurity {
 public:
  explicit OwnerOnlySecurity(bool folder) {
    const CurrentUser& user = User();
    if (user.error != ERROR_SUCCESS) {
      error_ = user.error;
      return;
    }
    const std::vector<unsigned char> system = WellKnownSid(WinLocalSystemSid);
    const std::vector<unsigned char> administrators = WellKnownSid(WinBuiltinAdministratorsSid);
    std::vector<const std::vector<unsigned char>*> sids = {&user.sid};
    for (const std::vector<unsigned char>* sid : {&system, &administrators}) {
      // A service may run as SYSTEM: one entry each.
      if (*sid != user.sid) {
        sids.push_back(sid);
      }
    }
    DWORD size = sizeof(ACL);
    for (const std::vector<unsigned char>* sid : sids) {
      size += static_cast<DWORD>(sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + sid->size());
    }
    list_.resize((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    const DWORD flags = folder ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0;
    bool built =
        !system.empty() && !administrators.empty() && ::InitializeAcl(List(), size, ACL_REVISION);
    for (const std::vector<unsigned char>* sid : sids) {
      built = built && ::AddAccessAllowedAceEx(List(), ACL_REVISION, flags, FILE_ALL_ACCESS,
                                               const_cast<unsigned char*>(sid->data()));
    }
    built = built && ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
            ::SetSecurityDescriptorDacl(&descriptor_, TRUE, List(), FALSE) &&
            ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    if (!built) {
      error_ = ::GetLastError() != ERROR_SUCCESS ? ::GetLastError() : ERROR_INVALID_ACL;
    }
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
  }
  OwnerOnlySecurity(const OwnerOnlySecurity&) = delete;
  OwnerOnlySecurity& operator=(const OwnerOnlySecurity&) = delete;

  DWORD Error() const { return error_; }
  SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }
  PSECURITY_DESCRIPTOR Descriptor() { return &descriptor_; }
  PACL List() { return reinterpret_cast<PACL>(list_.data()); }

 private:
  std::vector<DWORD> list_;  // the ACL, aligned as the system wants it
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  DWORD error_ = ERROR_SUCCESS;
};

}  // namespace

Handle CreateOwnerOnlyFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                           DWORD flags) {
  OwnerOnlySecurity security(/*folder=*/false);
  if (security.Error() != ERROR_SUCCESS) {
    ::SetLastError(security.Error());
    return Handle();
  }
  return Handle(::CreateFileW(path.c_str(), access, share, security.Attributes(), disposition,
                              flags, nullptr));
}

namespace {

// CreateDirectoryW for an owner-only folder; false with GetLastError() telling why.
bool CreateOwnerOnlyFolder(const std::wstring& path) {
  OwnerOnlySecurity security(/*folder=*/true);
  if (security.Error() != ERROR_SUCCESS) {
    ::SetLastError(security.Error());
    return false;
  }
  return ::CreateDirectoryW(path.c_str(), security.Attributes()) != 0;
}

// The entry `header` of an access list as the rules read it. Every kind holds its mask right
// after the header; the allow kinds name their SID after the mask, the object kinds after
// their flags and the GUIDs these announce.
AccessEntry DescribeEntry(const ACE_HEADER* header) {
  AccessEntry entry;
  entry.flags = header->AceFlags;
  const auto* bytes = reinterpret_cast<const unsigned char*>(header);
  std::size_t offset = sizeof(ACE_HEADER);
  std::memcpy(&entry.mask, bytes + offset, sizeof entry.mask);
  offset += sizeof(ACCESS_MASK);
  switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
      break;
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE: {
      DWORD objectFlags = 0;
      std::memcpy(&objectFlags, bytes + offset, sizeof objectFlags);
      offset += sizeof objectFlags;
      offset += (objectFlags & ACE_OBJECT_TYPE_PRESENT) != 0 ? sizeof(GUID) : 0;
      offset += (objectFlags & ACE_INHERITED_OBJECT_TYPE_PRESENT) != 0 ? sizeof(GUID) : 0;
      break;
    }
    default:
      entry.allows = false;
      return entry;
  }
  if (offset < header->AceSize) {
    entry.sid = SidText(const_cast<unsigned char*>(bytes + offset));
  }
  return entry;
}

// The owner and the access list of the open `handle`, which has READ_CONTROL; ERROR_SUCCESS or
// the system's error.
DWORD DescribeAccess(HANDLE handle, AccessList& list) {
  PSID owner = nullptr;
  PACL entries = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = ::GetSecurityInfo(handle, SE_FILE_OBJECT,
                                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        &owner, nullptr, &entries, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) {
    return error;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(descriptor, &control, &revision);
  list.owner = owner != nullptr ? SidText(owner) : "";
  // No list at all, or a null one, lets everyone do anything.
  list.present = (control & SE_DACL_PRESENT) != 0 && entries != nullptr;
  list.isProtected = (control & SE_DACL_PROTECTED) != 0;
  for (DWORD index = 0; list.present && index < entries->AceCount; ++index) {
    void* entry = nullptr;
    if (::GetAce(entries, index, &entry)) {
      list.entries.push_back(DescribeEntry(static_cast<const ACE_HEADER*>(entry)));
    }
  }
  ::LocalFree(descriptor);
  return ERROR_SUCCESS;
}

// The rules' verdict on the open `handle` (with READ_CONTROL) for the user who runs this. A list
// that cannot be read is unfit, with the system's reason.
AccessReview ReviewOpenAccess(HANDLE handle, const AccessSubject& subject) {
  const CurrentUser& user = User();
  AccessList list;
  const DWORD error = user.error != ERROR_SUCCESS ? user.error : DescribeAccess(handle, list);
  if (error != ERROR_SUCCESS) {
    AccessReview review;
    review.unfit = (subject.folder ? "cannot read the access list of " + subject.shown
                                   : std::string("cannot read its access list")) +
                   ": " + Reason(error);
    return review;
  }
  return ReviewAccess(list, user.access, subject, AccountName);
}

// Reads the open file `file` whole, as FileContent tells it; `growth` is the status of a file
// that grows past `limit` while it is read.
FileContent ReadOpenFile(HANDLE file, std::size_t limit, FileContent::Status growth) {
  FileContent content;
  content.status = FileContent::Status::kFailed;
  BY_HANDLE_FILE_INFORMATION information{};
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    content.status = FileContent::Status::kNotRegular;
  } else if (!::GetFileInformationByHandle(file, &information)) {
    content.reason = LastReason();
  } else if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    content.status = FileContent::Status::kLink;
  } else if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    content.status = FileContent::Status::kFolder;
  } else if (information.nFileSizeHigh != 0 || information.nFileSizeLow > limit) {
    content.status = FileContent::Status::kTooLarge;
  } else {
    char buffer[16384];
    for (;;) {
      if (content.bytes.size() > limit) {
        content.status = growth;
        content.reason = "the file grew past the size limit while it was read";
        content.bytes.clear();
        return content;
      }
      DWORD count = 0;
      if (!::ReadFile(file, buffer, sizeof buffer, &count, nullptr)) {
        content.reason = LastReason();
        content.bytes.clear();
        return content;
      }
      if (count == 0) {
        content.status = FileContent::Status::kRead;
        return content;
      }
      content.bytes.append(buffer, count);
    }
  }
  return content;
}

// Six random letters and digits, for names that must be new.
std::wstring RandomSuffix() {
  static const wchar_t kCharacters[] =
      L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 random(std::random_device{}() ^ ::GetCurrentProcessId());
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kCharacters) - 2);
  std::wstring suffix;
  for (int index = 0; index < 6; ++index) {
    suffix += kCharacters[pick(random)];
  }
  return suffix;
}

// The folder part of `path` with its last separator ("" for a bare name, "C:" for "C:name").
std::wstring FolderPartOf(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator != std::wstring::npos) {
    return path.substr(0, separator + 1);
  }
  return path.size() >= 2 && path[1] == L':' ? path.substr(0, 2) : L"";
}

// The full form of `path` ("C:\dir\name"), as the system completes it; empty on failure.
std::wstring FullPathOf(const std::wstring& path) {
  const DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) {
    return {};
  }
  std::wstring full(length, L'\0');
  const DWORD written = ::GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
  full.resize(written < length ? written : 0);
  while (full.size() > 3 && IsSeparator(full.back())) {
    full.pop_back();
  }
  return full;
}

// How long the root of the full path `full` is: "C:\", "\\server\share\", "\\?\C:\".
std::size_t RootLength(const std::wstring& full) {
  std::size_t start = full.rfind(L"\\\\?\\", 0) == 0 ? 4 : 0;
  if (start == 0 && full.size() >= 2 && IsSeparator(full[0]) && IsSeparator(full[1])) {
    // \\server\share\: the two parts after the leading separators belong to the root.
    std::size_t position = 2;
    for (int part = 0; part < 2 && position != std::wstring::npos; ++part) {
      position = full.find_first_of(L"\\/", position);
      position = position == std::wstring::npos ? full.size() : position + 1;
    }
    return std::min(position, full.size());
  }
  return std::min<std::size_t>(start + 3, full.size());
}

// A new file beside `target` named ".<name>.XXXXXX" (`temporary` gets its path), owner-only
// or, without `ownerOnly`, with the access list it inherits. Invalid when it cannot be made
// (GetLastError() tells why).
Handle MakeTemporaryBeside(const std::wstring& target, bool ownerOnly, std::wstring& temporary) {
  const std::size_t nameStart = FolderPartOf(target).size();
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary =
        target.substr(0, nameStart) + L"." + target.substr(nameStart) + L"." + RandomSuffix();
    Handle file = ownerOnly ? CreateOwnerOnlyFile(temporary, GENERIC_WRITE, 0, CREATE_NEW,
                                                  FILE_ATTRIBUTE_NORMAL)
                            : Handle(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Valid() || ::GetLastError() != ERROR_FILE_EXISTS) {
      return file;
    }
  }
  return Handle();
}

// Flushes and closes the temporary file `file`, into which all went when `written`, and gives
// it the name `target` with MoveFileExW: with `overwrite` (MOVEFILE_REPLACE_EXISTING) it
// replaces the target in one step; without, it fails when the name is taken, however late the
// target was made. Removes the temporary file on failure. ERROR_SUCCESS or the system's error.
DWORD PlaceTemporary(Handle& file, bool written, const std::wstring& temporary,
                     const std::wstring& target, bool overwrite) {
  const auto failure = [] {
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT;
  };
  DWORD error = ERROR_SUCCESS;
  if (!written || !::FlushFileBuffers(file.Get())) {
    error = failure();
  }
  if (!::CloseHandle(file.Release()) && error == ERROR_SUCCESS) {
    error = failure();
  }
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (overwrite ? MOVEFILE_REPLACE_EXISTING : 0);
  if (error == ERROR_SUCCESS && !::MoveFileExW(temporary.c_str(), target.c_str(), flags)) {
    error = failure();
  }
  if (error != ERROR_SUCCESS) {
    ::DeleteFileW(temporary.c_str());
  }
  return error;
}

}  // namespace

// ---- Whole files ----

FileContent ReadRegularFile(const std::string& path, std::size_t limit) {
  // Backup semantics open a folder too, so that it is told apart from a missing file.
  const Handle file =
      OpenExisting(WideFromUtf8(path), GENERIC_READ, kShareAll, FILE_FLAG_BACKUP_SEMANTICS);
  if (!file.Valid()) {
    FileContent content;
    const DWORD error = ::GetLastError();
    if (!IsMissingError(error)) {
      content.status = FileContent::Status::kFailed;
    }
    content.reason = Reason(error);
    return content;
  }
  return ReadOpenFile(file.Get(), limit, FileContent::Status::kTooLarge);
}

std::FILE* OpenStream(const std::string& path, const char* mode) {
  std::string binaryMode = mode;
  if (binaryMode.find('b') == std::string::npos) {
    binaryMode += 'b';
  }
  return ::_wfopen(WideFromUtf8(path).c_str(), WideFromUtf8(binaryMode).c_str());
}

bool PathExists(const std::string& path) {
  // The attributes of a link are its own: it is not followed.
  return ::GetFileAttributesW(WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsReadableRegularFile(const std::string& path) {
  const Handle file = OpenExisting(WideFromUtf8(path), GENERIC_READ, kShareAll, 0);
  BY_HANDLE_FILE_INFORMATION information{};
  return file.Valid() && ::GetFileType(file.Get()) == FILE_TYPE_DISK &&
         ::GetFileInformationByHandle(file.Get(), &information) &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool CanOpenFolder(const std::string& path) {
  const Handle folder =
      OpenExisting(WideFromUtf8(path), FILE_LIST_DIRECTORY, kShareAll, FILE_FLAG_BACKUP_SEMANTICS);
  BY_HANDLE_FILE_INFORMATION information{};
  return folder.Valid() && ::GetFileInformationByHandle(folder.Get(), &information) &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The copy gets the access list it inherits, as a file copied by hand would. MoveFileExW
// claims the target's name, so no hard link is needed (see PlaceTemporary).
CopyOutcome CopyFileThroughTemporary(const std::string& from, const std::string& to,
                                     bool overwrite) {
  const Handle source = OpenExisting(WideFromUtf8(from), GENERIC_READ, kShareAll, 0);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!source.Valid() || ::GetFileType(source.Get()) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(source.Get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return CopyOutcome::kFailed;
  }
  const std::wstring target = WideFromUtf8(to);
  std::wstring temporary;
  Handle copy = MakeTemporaryBeside(target, /*ownerOnly=*/false, temporary);
  if (!copy.Valid()) {
    return CopyOutcome::kFailed;
  }
  bool written = true;
  char buffer[65536];
  for (DWORD count = 0; written;) {
    written = ::ReadFile(source.Get(), buffer, sizeof buffer, &count, nullptr) != 0;
    if (!written || count == 0) {
      break;
    }
    written = WriteAll(copy.Get(), buffer, count);
  }
  const DWORD error = PlaceTemporary(copy, written, temporary, target, overwrite);
  if (error == ERROR_SUCCESS) {
    return CopyOutcome::kCopied;
  }
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? CopyOutcome::kTargetExists
                                                                     : CopyOutcome::kFailed;
}

std::string ReplaceFileOwnerOnly(const std::string& path, const std::string& bytes) {
  const std::wstring target = WideFromUtf8(path);
  std::wstring temporary;
  Handle file = MakeTemporaryBeside(target, /*ownerOnly=*/true, temporary);
  if (!file.Valid()) {
    return LastReason();
  }
  const bool written = WriteAll(file.Get(), bytes.data(), bytes.size());
  const DWORD error = PlaceTemporary(file, written, temporary, target, /*overwrite=*/true);
  return error == ERROR_SUCCESS ? "" : Reason(error);
}

long CurrentProcessId() {
  return static_cast<long>(::GetCurrentProcessId());
}

std::string MakeUniqueFolder(const std::string& parent, const std::string& prefix) {
  const std::wstring base = WideFromUtf8(parent) + L"\\" + WideFromUtf8(prefix);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring path = base + RandomSuffix();
    if (CreateOwnerOnlyFolder(path)) {
      return Utf8FromWide(path);
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) {
      break;
    }
  }
  return "";
}

// ---- Open files ----

// The list is set through a handle opened from the one that read the file (ReOpenFile), so
// that it changes on that file and not on whatever took its name meanwhile.
void OpenFile::MakeOwnerOnly() const {
  OwnerOnlySecurity security(/*folder=*/false);
  const Handle file(::ReOpenFile(AsHandle(native_), READ_CONTROL | WRITE_DAC, kShareAll, 0));
  if (security.Error() == ERROR_SUCCESS && file.Valid()) {
    ::SetSecurityInfo(file.Get(), SE_FILE_OBJECT,
                      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                      nullptr, security.List(), nullptr);
  }
}

void OpenFile::Close() {
  if (native_ != -1) {
    ::CloseHandle(AsHandle(native_));
    native_ = -1;
  }
}

// ---- Folders ----

void Folder::Close() {
  if (native_ != -1) {
    ::CloseHandle(AsHandle(native_));
    native_ = -1;
  }
}

// Walks the full path from its root, making the missing parts when `create`, then opens the
// folder itself as what it is (a link is not followed) and keeps it open.
Folder Folder::Open(const std::string& path, bool create, const std::string& role) {
  Folder folder;
  const std::wstring full = FullPathOf(WideFromUtf8(path));
  if (full.empty()) {
    folder.problem_ = "cannot open the folder " + Quoted(path) + ": " + LastReason();
    return folder;
  }
  for (std::size_t end = RootLength(full); end < full.size();) {
    end = std::min(full.find_first_of(L"\\/", end + 1), full.size());
    const bool last = end == full.size();
    const std::wstring part = full.substr(0, end);
    const std::string shown = last ? path : Utf8FromWide(part);
    const DWORD attributes = ::GetFileAttributesW(part.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = ::GetLastError();
      if (!IsMissingError(error)) {
        folder.problem_ = "cannot open the folder " + Quoted(shown) + ": " + Reason(error);
        return folder;
      }
      if (!create) {
        folder.missing_ = true;
        return folder;
      }
      if (!CreateOwnerOnlyFolder(part) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        folder.problem_ = "cannot make the folder " + Quoted(shown) + ": " + LastReason();
        return folder;
      }
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && !last) {
      // Without making anything, a file where a parent folder should be means nothing there
      // yet, as a missing folder does.
      if (!create) {
        folder.missing_ = true;
        return folder;
      }
      folder.problem_ = "cannot open the folder " + Quoted(shown) + ": it is not a folder";
      return folder;
    }
  }
  // Opened without FILE_SHARE_DELETE: nobody renames or removes the folder while it is held.
  Handle handle = OpenExisting(full, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                               FILE_SHARE_READ | FILE_SHARE_WRITE,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!handle.Valid() || !::GetFileInformationByHandle(handle.Get(), &information)) {
    folder.problem_ = "cannot open the folder " + Quoted(path) + ": " + LastReason();
    return folder;
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    folder.problem_ = "the " + role + " " + Quoted(path) +
                      " is a symbolic link or a junction, which is not followed; give the " +
                      "folder it leads to instead";
    return folder;
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    folder.problem_ = "the " + role + " " + Quoted(path) + " is not a folder";
    return folder;
  }
  folder.fullPath_ = Utf8FromWide(full);
  // Anyone who may write there could choose the commands a deployment runs.
  folder.problem_ =
      ReviewOpenAccess(handle.Get(), {true, folder.fullPath_, "the " + role + " " + Quoted(path)})
          .unfit;
  if (folder.problem_.empty()) {
    folder.native_ = AsNative(handle.Release());
  }
  return folder;
}

FolderFile Folder::ReadFile(const std::string& name, std::size_t limit) const {
  FolderFile file;
  Handle handle = OpenExisting(WideFromUtf8(fullPath_ + "\\" + name), GENERIC_READ, kShareAll,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
  if (!handle.Valid()) {
    const DWORD error = ::GetLastError();
    if (!IsMissingError(error)) {
      file.content.status = FileContent::Status::kFailed;
      file.content.reason = Reason(error);
    }
    return file;
  }
  file.content = ReadOpenFile(handle.Get(), limit, FileContent::Status::kFailed);
  if (file.content.status == FileContent::Status::kRead) {
    // Windows lets anyone whom the file's own list allows open it by its path, whatever the
    // folder's list says: a file others may write is not used, as a folder they may write is not.
    const AccessReview review =
        ReviewOpenAccess(handle.Get(), {false, fullPath_ + "\\" + name, "it"});
    if (!review.unfit.empty()) {
      file.content.status = FileContent::Status::kFailed;
      file.content.reason = review.unfit;
      file.content.bytes.clear();
    }
    file.ownerOnly = review.ownerOnly;
    file.sharedAccess = review.readers.empty() ? "" : "readable by " + review.readers;
  }
  file.file = OpenFile(AsNative(handle.Release()));
  return file;
}

std::string Folder::WritePrivateFile(const std::string& name, const std::string& bytes) const {
  const std::wstring path = WideFromUtf8(fullPath_ + "\\" + name);
  ::DeleteFileW(path.c_str());  // a leftover of a dead process with the same id
  Handle file = CreateOwnerOnlyFile(path, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  if (!file.Valid()) {
    return "cannot create " + name + ": " + LastReason();
  }
  const char* step = nullptr;
  if (!WriteAll(file.Get(), bytes.data(), bytes.size())) {
    step = "cannot write ";
  } else if (!::FlushFileBuffers(file.Get())) {
    step = "cannot flush ";
  }
  DWORD error = step != nullptr ? ::GetLastError() : 0;
  if (!::CloseHandle(file.Release()) && step == nullptr) {
    step = "cannot close ";
    error = ::GetLastError();
  }
  if (step != nullptr) {
    ::DeleteFileW(path.c_str());
    return step + name + ": " + Reason(error);
  }
  return "";
}

FileResult Folder::Rename(const std::string& from, const std::string& to) const {
  if (::MoveFileExW(WideFromUtf8(fullPath_ + "\\" + from).c_str(),
                    WideFromUtf8(fullPath_ + "\\" + to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return {};
  }
  const DWORD error = ::GetLastError();
  return {IsMissingError(error) ? FileResult::Status::kMissing : FileResult::Status::kFailed,
          Reason(error)};
}

void Folder::Remove(const std::string& name) const {
  ::DeleteFileW(WideFromUtf8(fullPath_ + "\\" + name).c_str());
}

void Folder::ForEachEntry(const std::function<void(const std::string& name)>& visit) const {
  WIN32_FIND_DATAW entry{};
  const HANDLE search = ::FindFirstFileExW(WideFromUtf8(fullPath_ + "\\*").c_str(), FindExInfoBasic,
                                           &entry, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) {
    return;
  }
  // The names are gathered first: `visit` may remove entries.
  std::vector<std::string> names;
  do {
    names.push_back(Utf8FromWide(entry.cFileName));
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
  for (const std::string& name : names) {
    visit(name);
  }
}

// Windows has no flush of a folder's entries; the renames were made with
// MOVEFILE_WRITE_THROUGH, which returns once they are on disk.
void Folder::FlushEntries() const {}

// ---- Locks ----

namespace {

// Opens the lock file `path`, made if missing; with `asItself` a link is opened as itself and
// refused.
std::intptr_t OpenLockFile(const std::wstring& path, bool asItself, std::string& problem) {
  Handle file =
      CreateOwnerOnlyFile(path, GENERIC_READ | GENERIC_WRITE, kShareAll, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL | (asItself ? FILE_FLAG_OPEN_REPARSE_POINT : 0));
  BY_HANDLE_FILE_INFORMATION information{};
  if (!file.Valid() || !::GetFileInformationByHandle(file.Get(), &information)) {
    problem = LastReason();
    return -1;
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    problem = "it is a symbolic link, which is not followed";
    return -1;
  }
  return AsNative(file.Release());
}

}  // namespace

LockFile::LockFile(const Folder& folder, const std::string& name)
    : native_(OpenLockFile(WideFromUtf8(folder.fullPath_ + "\\" + name), true, problem_)) {}

LockFile::LockFile(const std::string& path)
    : native_(OpenLockFile(WideFromUtf8(path), false, problem_)) {}

LockFile::~LockFile() {
  Close();
}

void LockFile::Close() {
  if (native_ != -1) {
    ::CloseHandle(AsHandle(native_));
    native_ = -1;
  }
}

LockFile::Attempt LockFile::TryLock(std::string& reason) {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  if (::LockFileEx(AsHandle(native_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &at)) {
    return Attempt::kTaken;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
    return Attempt::kBusy;
  }
  reason = Reason(error);
  return Attempt::kFailed;
}

long LockFile::Holder() const {
  char text[32] = {};
  OVERLAPPED at{};
  DWORD count = 0;
  if (!::ReadFile(AsHandle(native_), text, sizeof text - 1, &count, &at) || count == 0) {
    return 0;
  }
  char* end = nullptr;
  const long holder = std::strtol(text, &end, 10);
  if (end == text || holder <= 0) {
    return 0;
  }
  const HANDLE process =
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(holder));
  if (process == nullptr) {
    // A process this user may not look at lives all the same.
    return ::GetLastError() == ERROR_ACCESS_DENIED ? holder : 0;
  }
  DWORD status = 0;
  const bool alive = ::GetExitCodeProcess(process, &status) && status == STILL_ACTIVE;
  ::CloseHandle(process);
  return alive ? holder : 0;
}

void LockFile::RecordHolder() const {
  const std::string text = std::to_string(::GetCurrentProcessId()) + "\n";
  const HANDLE file = AsHandle(native_);
  LARGE_INTEGER start{};
  if (::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && ::SetEndOfFile(file)) {
    WriteAll(file, text.data(), text.size());
  }
}

// ---- The owner-only access list, as text ----

std::string OwnerOnlyAccessListText(bool folder) {
  OwnerOnlySecurity security(folder);
  LPWSTR text = nullptr;
  if (security.Error() != ERROR_SUCCESS ||
      !::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          security.Descriptor(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return "";
  }
  std::string result = Utf8FromWide(text);
  ::LocalFree(text);
  return result;
}

}  // namespace zaf::platform
