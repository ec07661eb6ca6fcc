// The paths and files an operator names, on Windows. What is at a path is read from a handle
// opened with FILE_FLAG_OPEN_REPARSE_POINT (a link, a junction or any other reparse point is
// then the reparse point itself, never what it leads to) and FILE_FLAG_BACKUP_SEMANTICS (a
// folder opens too). A file that is replaced goes through a temporary file beside it, flushed
// (FlushFileBuffers) and put in place with MoveFileExW(MOVEFILE_REPLACE_EXISTING |
// MOVEFILE_WRITE_THROUGH). A device (NUL, CON) or a named pipe is written in place.
//
// Access list: the temporary file and a new log get the access list they inherit; the
// protected, owner-only one is to be set where they are made, as for the host's own files.

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <chrono>

#include "host/platform/files.h"
#include "host/platform/wide_text.h"
#include "platform/win32/handle.h"
#include "platform/win32/owner_only.h"
#include "platform/win32/write_all.h"

namespace zaf::platform {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kLookOnly = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool HasDrive(const std::string& path) {
  return path.size() >= 2 && path[1] == ':';
}

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

WriteResult Failed(std::string reason) {
  return {WriteResult::Status::kFailed, std::move(reason)};
}

WriteResult FailedNow() {
  return Failed(SystemErrorText(::GetLastError()));
}

// A named pipe is never opened to be looked at: that would take one of its instances as a
// client.
bool IsNamedPipe(const std::string& path) {
  std::string prefix = path.substr(0, 9);
  std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                 [](char c) { return c == '/' ? '\\' : static_cast<char>(std::tolower(c)); });
  return prefix == "\\\\.\\pipe\\" || prefix == "\\\\?\\pipe\\";
}

// What the open handle `file` is.
PathStatus::Kind KindOf(HANDLE file) {
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    return PathStatus::Kind::kOther;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(file, &information)) {
    return PathStatus::Kind::kNothing;
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return PathStatus::Kind::kLink;
  }
  return (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathStatus::Kind::kFolder
                                                                        : PathStatus::Kind::kFile;
}

Handle Look(const std::wstring& path, bool followLink) {
  return Handle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                              followLink ? FILE_FLAG_BACKUP_SEMANTICS : kLookOnly, nullptr));
}

// Opens the device or named pipe `path` to write to it; a pipe whose instances are all busy
// is waited for until `readerWait` has passed.
Handle OpenInPlace(const std::wstring& path, std::chrono::seconds readerWait, WriteResult& result) {
  const auto deadline = std::chrono::steady_clock::now() + readerWait;
  for (;;) {
    Handle opened(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (opened.Valid()) {
      return opened;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (::GetLastError() != ERROR_PIPE_BUSY || left.count() <= 0) {
      result = ::GetLastError() == ERROR_PIPE_BUSY
                   ? Failed("no instance of the named pipe was free within " +
                            std::to_string(readerWait.count()) + " seconds")
                   : FailedNow();
      return opened;
    }
    ::WaitNamedPipeW(path.c_str(), static_cast<DWORD>(left.count()));
  }
}

// Replaces `path` whole through an owner-only temporary file (ReplaceFileOwnerOnly).
WriteResult Replaced(const std::string& path, const std::string& bytes) {
  const std::string problem = ReplaceFileOwnerOnly(path, bytes);
  return problem.empty() ? WriteResult() : Failed(problem + "; the file was left as it was");
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) {
    return name;
  }
  const bool separated = IsSeparator(folder.back()) || (folder.size() == 2 && HasDrive(folder));
  return separated ? folder + name : folder + "\\" + name;
}

bool HasFolderPart(const std::string& path) {
  return path.find_first_of("\\/") != std::string::npos || HasDrive(path);
}

std::string FolderOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos) {
    return HasDrive(path) ? path.substr(0, 2) : ".";
  }
  const bool root = separator == 0 || (separator == 2 && HasDrive(path));
  return path.substr(0, root ? separator + 1 : separator);
}

PathStatus StatusOfPath(const std::string& path, bool followLink) {
  PathStatus status;
  const Handle file = Look(WideFromUtf8(path), followLink);
  if (!file.Valid()) {
    status.reason = SystemErrorText(::GetLastError());
    return status;
  }
  status.kind = KindOf(file.Get());
  if (status.kind == PathStatus::Kind::kNothing) {
    status.reason = SystemErrorText(::GetLastError());
  }
  return status;
}

WriteResult WriteWholeFile(const std::string& path, const std::string& bytes,
                           std::chrono::seconds readerWait) {
  const std::wstring wide = WideFromUtf8(path);
  PathStatus::Kind kind = PathStatus::Kind::kOther;
  if (!IsNamedPipe(path)) {
    Handle look = Look(wide, false);
    const DWORD error = look.Valid() ? ERROR_SUCCESS : ::GetLastError();
    kind = look.Valid() ? KindOf(look.Get()) : PathStatus::Kind::kNothing;
    if (!look.Valid() && !IsMissing(error)) {
      return Failed(SystemErrorText(error));
    }
  }
  switch (kind) {
    case PathStatus::Kind::kLink:
      return {WriteResult::Status::kLink, ""};
    case PathStatus::Kind::kFolder:
      return Failed("it is a folder");
    case PathStatus::Kind::kNothing:
    case PathStatus::Kind::kFile:
      return Replaced(path, bytes);
    case PathStatus::Kind::kOther:
      break;
  }
  WriteResult result;
  const Handle device = OpenInPlace(wide, readerWait, result);
  if (!device.Valid()) {
    return result;
  }
  // Opened again by name: a disk file put there meanwhile is not written in place.
  if (::GetFileType(device.Get()) == FILE_TYPE_DISK) {
    return Failed("it changed while it was being opened");
  }
  return WriteAll(device.Get(), bytes.data(), bytes.size()) ? WriteResult{} : FailedNow();
}

// A disk file is opened with FILE_APPEND_DATA alone, so that every write goes to its end, also
// when another process appends meanwhile; a new one is made owner-only.
AppendedFile AppendedFile::Open(const std::string& path, std::chrono::seconds readerWait,
                                WriteResult& result) {
  const std::wstring wide = WideFromUtf8(path);
  result = {};
  if (IsNamedPipe(path) || StatusOfPath(path, false).kind == PathStatus::Kind::kOther) {
    Handle device = OpenInPlace(wide, readerWait, result);
    return device.Valid() ? AppendedFile(reinterpret_cast<std::intptr_t>(device.Release()))
                          : AppendedFile();
  }
  Handle file =
      CreateOwnerOnlyFile(wide, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | kLookOnly);
  if (!file.Valid()) {
    result = FailedNow();
    return {};
  }
  switch (KindOf(file.Get())) {
    case PathStatus::Kind::kLink:
      result = {WriteResult::Status::kLink, ""};
      return {};
    case PathStatus::Kind::kFolder:
      result = Failed("it is a folder");
      return {};
    default:
      return AppendedFile(reinterpret_cast<std::intptr_t>(file.Release()));
  }
}

bool AppendedFile::Append(std::string_view bytes, std::string& reason) const {
  if (!WriteAll(reinterpret_cast<HANDLE>(native_), bytes.data(), bytes.size())) {
    reason = SystemErrorText(::GetLastError());
    return false;
  }
  return true;
}

void AppendedFile::Close() {
  if (native_ != -1) {
    ::CloseHandle(reinterpret_cast<HANDLE>(native_));
    native_ = -1;
  }
}

}  // namespace zaf::platform
