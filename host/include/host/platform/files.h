#pragma once
// Files, folders and locks: the operating system's side of the host's file services. Paths and
// names are UTF-8 everywhere; the build picks the POSIX or the Win32 implementation, which
// each say where they differ (owner-only modes, links, flushing).
//
// Owner-only means on POSIX mode 0600 for a file and 0700 for a folder, whatever the umask; on
// Windows a protected access list (nothing inherited from the parent) that grants full control
// to the user, SYSTEM and Administrators alone, given at creation, and for a folder inherited
// by what is made in it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "host/zaf_export.h"

namespace zaf::platform {

// What reading a whole file gave.
struct FileContent {
  enum class Status {
    kMissing,     // no such file, or a part of its path is no folder
    kRead,        // `bytes` hold it whole
    kLink,        // a symbolic link (on Windows any reparse point) where none is followed
    kFolder,      // a folder
    kNotRegular,  // a device, a pipe or a socket
    kTooLarge,    // more than the limit
    kFailed,      // `reason` says why
  };
  Status status = Status::kMissing;
  std::string bytes;
  std::string reason;  // kFailed, and kMissing from ReadRegularFile: the system's reason
};

// Reads the regular file at `path` (a link is followed) whole, if it holds at most `limit`
// bytes. A pipe in the file's place does not block the read.
ZAF_API FileContent ReadRegularFile(const std::string& path, std::size_t limit);

// Opens `path` for the C standard streams with fopen's `mode`; null when it cannot. On Windows
// the file is opened in binary mode whatever `mode` says: the host's files are bytes.
ZAF_API std::FILE* OpenStream(const std::string& path, const char* mode);

// True when something is at `path`; a link counts itself, whatever it leads to.
ZAF_API bool PathExists(const std::string& path);

// True when `path` is a regular file that opens for reading.
ZAF_API bool IsReadableRegularFile(const std::string& path);

// True when `path` is a folder that opens for listing.
ZAF_API bool CanOpenFolder(const std::string& path);

enum class CopyOutcome { kCopied, kTargetExists, kFailed };

// Copies the regular file `from` to `to` through a temporary file beside `to`, flushed before
// it takes the name, so that `to` is never seen half written. Without `overwrite` the copy
// claims the name only while it is free, also against a file made there while it copied.
ZAF_API CopyOutcome CopyFileThroughTemporary(const std::string& from, const std::string& to,
                                             bool overwrite);

// Puts `bytes` at `path` through a new owner-only file beside it, flushed to disk and then
// renamed over `path` in one step, so that `path` is never seen half written and a failed
// write leaves it as it was. What is at `path` is replaced, not followed (a link too): the
// caller decides first what may be replaced. Empty when done, else the system's reason. For the
// tool's `--output` files.
ZAF_API std::string ReplaceFileOwnerOnly(const std::string& path, const std::string& bytes);

// The id of this process.
ZAF_API long CurrentProcessId();

// A fresh owner-only folder "<parent>/<prefix>XXXXXX"; empty when it cannot be made.
ZAF_API std::string MakeUniqueFolder(const std::string& parent, const std::string& prefix);

// A file kept open after it was read, so that its access is changed on what was read and not
// on whatever takes its name meanwhile.
class ZAF_API OpenFile {
 public:
  OpenFile() = default;
  explicit OpenFile(std::intptr_t native) : native_(native) {}
  ~OpenFile() { Close(); }
  OpenFile(OpenFile&& other) noexcept : native_(std::exchange(other.native_, -1)) {}
  OpenFile& operator=(OpenFile&& other) noexcept {
    if (this != &other) {
      Close();
      native_ = std::exchange(other.native_, -1);
    }
    return *this;
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  // Makes the file owner-only (on POSIX mode 0600); failure is not reported.
  void MakeOwnerOnly() const;
  void Close();

 private:
  std::intptr_t native_ = -1;
};

// A file of a Folder, read whole, with what its access says.
struct FolderFile {
  FileContent content;
  // Status kRead: whether the file is private to its owner (on POSIX exactly mode 0600, on
  // Windows a protected list that grants nobody else), and when others may read it, a clause
  // saying so ("readable by group or others (mode 0644)", "readable by BUILTIN\Users"). On
  // Windows a file that another user owns or may write is not read: status kFailed, with why.
  bool ownerOnly = false;
  std::string sharedAccess;
  OpenFile file;  // open while the file is in use
};

// The result of an operation on a name in a Folder.
struct FileResult {
  enum class Status { kDone, kMissing, kFailed };
  Status status = Status::kDone;
  std::string reason;  // kFailed: the system's reason
  bool Done() const { return status == Status::kDone; }
};

// A folder held open while the files in it are used, so that its name cannot lead elsewhere
// meanwhile: on POSIX every file is reached relative to the folder's descriptor; on Windows
// the folder's handle denies renaming or removing it until it is closed.
class ZAF_API Folder {
 public:
  // Opens the folder `path`, making the missing parts (owner-only) when `create`. The parents
  // may be links (a home folder often is one); the folder itself may not, and must be fit for
  // private files: it belongs to the user who runs this (on Windows, for an administrator,
  // Administrators or SYSTEM will do too) and only its owner may write to it (on Windows: no
  // one but the user, SYSTEM and Administrators). Not open afterwards when it is missing (and
  // not to be made) or cannot be used: Problem() says why, in a clause that calls it the
  // `role` ("the preference folder '...' is not a folder").
  static Folder Open(const std::string& path, bool create, const std::string& role);

  Folder() = default;
  ~Folder() { Close(); }
  Folder(Folder&& other) noexcept
      : native_(std::exchange(other.native_, -1)),
        fullPath_(std::move(other.fullPath_)),
        missing_(other.missing_),
        problem_(std::move(other.problem_)) {}
  Folder& operator=(Folder&& other) noexcept {
    if (this != &other) {
      Close();
      native_ = std::exchange(other.native_, -1);
      fullPath_ = std::move(other.fullPath_);
      missing_ = other.missing_;
      problem_ = std::move(other.problem_);
    }
    return *this;
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  bool IsOpen() const { return native_ != -1; }
  bool Missing() const { return missing_; }
  const std::string& Problem() const { return problem_; }

  // Reads the file `name` whole, up to `limit` bytes; a link in its place is not followed,
  // and a pipe does not block the read.
  FolderFile ReadFile(const std::string& name, std::size_t limit) const;

  // Writes `bytes` to the new owner-only file `name` (one left by a dead process is replaced)
  // and flushes it to disk; on failure removes it and gives the step that failed with the
  // system's reason ("cannot write NAME: ..."), else empty.
  std::string WritePrivateFile(const std::string& name, const std::string& bytes) const;

  // Gives `from` the name `to`, replacing what had it, in one step.
  FileResult Rename(const std::string& from, const std::string& to) const;

  void Remove(const std::string& name) const;

  // Calls `visit` with the name of each entry of the folder.
  void ForEachEntry(const std::function<void(const std::string& name)>& visit) const;

  // Makes the renames and removals done in the folder durable. Failure is not reported: some
  // file systems refuse it, and the files themselves are already flushed.
  void FlushEntries() const;

  // The folder's full path, as the system completed it (on POSIX the path given).
  const std::string& FullPath() const { return fullPath_; }

 private:
  friend class LockFile;
  void Close();

  std::intptr_t native_ = -1;  // a descriptor on POSIX, a handle on Windows
  std::string fullPath_;
  bool missing_ = false;
  std::string problem_;
};

// An exclusive lock on a lock file, released when the object goes or its process dies. The
// holder writes its process id into the file, so that one who waits can say whose lock it is.
// On Windows the lock covers a byte far past the id, which others may thus still read.
class ZAF_API LockFile {
 public:
  enum class Attempt { kTaken, kBusy, kFailed };

  // Opens (making it, owner-only) the lock file `name` in `folder`; a link in its place is not
  // followed. Problem() gives the system's reason when it could not be opened.
  LockFile(const Folder& folder, const std::string& name);
  // Opens (making it, owner-only) the lock file at `path`, following links.
  explicit LockFile(const std::string& path);
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  bool IsOpen() const { return native_ != -1; }
  const std::string& Problem() const { return problem_; }

  // Takes the lock when it is free; on kFailed `reason` is the system's reason.
  Attempt TryLock(std::string& reason);
  // The process id the holder wrote, when that process lives; 0 when unknown.
  long Holder() const;
  // Writes this process's id into the file (the lock must be held).
  void RecordHolder() const;
  // Releases the lock and closes the file.
  void Close();

 private:
  std::intptr_t native_ = -1;
  std::string problem_;
};

// ---- Paths and files the operator names ----

// `folder` and `name` joined by the system's folder separator ('/' on POSIX, '\' on Windows),
// none added when `folder` ends with a separator; `name` alone when `folder` is empty.
ZAF_API std::string JoinPath(const std::string& folder, const std::string& name);

// True when `path` names a folder besides its last part: on POSIX it holds a '/'; on Windows
// a '\', a '/' or a drive ("C:name").
ZAF_API bool HasFolderPart(const std::string& path);

// The folder that the last part of `path` is in: "." for a bare name, the root for a name in
// it ("/"; on Windows "C:\" or "\"), on Windows "C:" for "C:name".
ZAF_API std::string FolderOf(const std::string& path);

// What is at a path.
struct PathStatus {
  enum class Kind {
    kNothing,  // no such file, or the system could not look (`reason` says why)
    kFile,     // a regular file
    kFolder,   // a folder
    kLink,     // a symbolic link (on Windows any reparse point), when links are not followed
    kOther,    // a device, a FIFO, a socket (on Windows a character device such as NUL, a pipe)
  };
  Kind kind = Kind::kNothing;
  std::string reason;  // kNothing: the system's reason
};

// What is at `path`; a link is followed when `followLink`, else it is kLink.
ZAF_API PathStatus StatusOfPath(const std::string& path, bool followLink);

// How writing a file that the operator names went.
struct WriteResult {
  enum class Status {
    kWritten,
    kLink,    // a link (on Windows any reparse point) is there: neither followed nor replaced
    kFailed,  // `reason` says why
  };
  Status status = Status::kWritten;
  std::string reason;
  bool Written() const { return status == Status::kWritten; }
};

// Writes `bytes` to `path`. A regular file, or a name that does not exist yet, is replaced
// whole (ReplaceFileOwnerOnly: an owner-only temporary file in the same folder, flushed and put
// in the place of `path` in one step, on Windows with MoveFileExW and
// MOVEFILE_WRITE_THROUGH), so that a failure leaves the old file as it was (the reason then
// says so). Anything else there is never replaced: a device (/dev/null, NUL) or a FIFO (a
// named pipe) is written in place, a FIFO given `readerWait` to get a reader; a link is
// refused. What is at `path` is decided by opening it, not by an earlier look.
ZAF_API WriteResult WriteWholeFile(const std::string& path, const std::string& bytes,
                                   std::chrono::seconds readerWait);

// A file that the operator names, appended to while it is open.
class ZAF_API AppendedFile {
 public:
  // Opens `path` to append to it: a new file is made owner-only, a regular file, a device or a
  // FIFO is opened in place (a FIFO within `readerWait`), and a link is refused.
  // `result` says how it went; the file is open when it is kWritten.
  static AppendedFile Open(const std::string& path, std::chrono::seconds readerWait,
                           WriteResult& result);

  AppendedFile() = default;
  ~AppendedFile() { Close(); }
  AppendedFile(AppendedFile&& other) noexcept : native_(std::exchange(other.native_, -1)) {}
  AppendedFile& operator=(AppendedFile&& other) noexcept {
    if (this != &other) {
      Close();
      native_ = std::exchange(other.native_, -1);
    }
    return *this;
  }
  AppendedFile(const AppendedFile&) = delete;
  AppendedFile& operator=(const AppendedFile&) = delete;

  bool IsOpen() const { return native_ != -1; }
  // Appends all of `bytes`; false with the system's reason when a write fails.
  bool Append(std::string_view bytes, std::string& reason) const;
  void Close();

 private:
  explicit AppendedFile(std::intptr_t native) : native_(native) {}

  std::intptr_t native_ = -1;  // a descriptor on POSIX, a handle on Windows
};

}  // namespace zaf::platform
