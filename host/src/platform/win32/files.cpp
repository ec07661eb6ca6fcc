// Files, folders and locks on Windows, through the W functions (UTF-16 paths). A Folder is a
// handle opened without FILE_SHARE_DELETE: while it is open nobody can rename or remove the
// folder, so its path keeps naming it, and the files in it are reached by that path. Links
// (symbolic links, junctions: reparse points) are opened as themselves and refused. Locks are
// LockFileEx locks, which the system releases when the handle closes or the process ends.
//
// Owner-only access is not enforced yet: files and folders get the access list they inherit,
// and the checks of a folder's and a file's access report them fit. The places where the
// protected access list is set and checked are marked "access list".

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <random>
#include <utility>
#include <vector>

#include "host/platform/files.h"
#include "host/platform/wide_text.h"
#include "platform/win32/handle.h"

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

bool WriteAll(HANDLE file, const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1U << 20));
    DWORD written = 0;
    if (!::WriteFile(file, data, chunk, &written, nullptr)) {
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
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

// The temporary file takes the name with MoveFileExW: with MOVEFILE_REPLACE_EXISTING it
// replaces the target in one step; without, it fails when the name is taken, however late the
// target was made, so no hard link is needed to claim the name.
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
  const std::size_t nameStart = FolderPartOf(target).size();
  std::wstring temporary;
  Handle copy;
  for (int attempt = 0; attempt < 100 && !copy.Valid(); ++attempt) {
    temporary =
        target.substr(0, nameStart) + L"." + target.substr(nameStart) + L"." + RandomSuffix();
    copy = Handle(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!copy.Valid() && ::GetLastError() != ERROR_FILE_EXISTS) {
      return CopyOutcome::kFailed;
    }
  }
  bool written = copy.Valid();
  char buffer[65536];
  for (DWORD count = 0; written;) {
    written = ::ReadFile(source.Get(), buffer, sizeof buffer, &count, nullptr) != 0;
    if (!written || count == 0) {
      break;
    }
    written = WriteAll(copy.Get(), buffer, count);
  }
  written = written && ::FlushFileBuffers(copy.Get());
  written = ::CloseHandle(copy.Release()) && written;
  if (!written) {
    ::DeleteFileW(temporary.c_str());
    return CopyOutcome::kFailed;
  }
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (overwrite ? MOVEFILE_REPLACE_EXISTING : 0);
  if (!::MoveFileExW(temporary.c_str(), target.c_str(), flags)) {
    const DWORD error = ::GetLastError();
    ::DeleteFileW(temporary.c_str());
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? CopyOutcome::kTargetExists
                                                                       : CopyOutcome::kFailed;
  }
  return CopyOutcome::kCopied;
}

long CurrentProcessId() {
  return static_cast<long>(::GetCurrentProcessId());
}

// The folder inherits the access list of `parent` (access list: owner-only is to be set here).
std::string MakeUniqueFolder(const std::string& parent, const std::string& prefix) {
  const std::wstring base = WideFromUtf8(parent) + L"\\" + WideFromUtf8(prefix);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring path = base + RandomSuffix();
    if (::CreateDirectoryW(path.c_str(), nullptr)) {
      return Utf8FromWide(path);
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) {
      break;
    }
  }
  return "";
}

// ---- Open files ----

// Access list: the protected, owner-only access list is to be set here on the open handle.
void OpenFile::MakeOwnerOnly() const {}

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
      // Access list: a folder made here is to get the protected, owner-only access list.
      if (!::CreateDirectoryW(part.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
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
  Handle handle = OpenExisting(full, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
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
  // Access list: the folder's owner and access list are to be checked here (only its owner
  // may write to it); until then every folder counts as fit.
  folder.native_ = AsNative(handle.Release());
  folder.fullPath_ = Utf8FromWide(full);
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
  // Access list: whether others may read the file is to be told here; until then every file
  // counts as owner-only.
  file.ownerOnly = true;
  file.file = OpenFile(AsNative(handle.Release()));
  return file;
}

// Access list: the file is to be made with the protected, owner-only access list.
std::string Folder::WritePrivateFile(const std::string& name, const std::string& bytes) const {
  const std::wstring path = WideFromUtf8(fullPath_ + "\\" + name);
  ::DeleteFileW(path.c_str());  // a leftover of a dead process with the same id
  Handle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
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
  Handle file(::CreateFileW(
      path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_NORMAL | (asItself ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr));
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

}  // namespace zaf::platform
