#include "core/file_checks.h"

#include "core/tool_error.h"
#include "host/platform/files.h"
#include "host/platform/process.h"

namespace wassetup {

namespace {

using zaf::platform::FileContent;
using Kind = zaf::platform::PathStatus::Kind;

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

// Why the file could not be read, or empty when it was.
std::string ReadFailure(const FileContent& content, std::size_t limit) {
  switch (content.status) {
    case FileContent::Status::kRead:
      return "";
    case FileContent::Status::kFolder:
      return "it is a folder";
    case FileContent::Status::kLink:
    case FileContent::Status::kNotRegular:
      return "it is not a regular file";
    case FileContent::Status::kTooLarge:
      return "it is larger than " + SizeText(limit);
    case FileContent::Status::kMissing:
    case FileContent::Status::kFailed:
      break;
  }
  return content.reason;
}

}  // namespace

std::string SizeText(std::size_t bytes) {
  return bytes % (std::size_t{1} << 20) == 0 ? std::to_string(bytes >> 20) + " MiB"
                                             : std::to_string(bytes) + " bytes";
}

// A FIFO in the file's place does not block the read.
std::string ReadRegularFile(const std::string& path, std::size_t limit, const std::string& what) {
  FileContent content = zaf::platform::ReadRegularFile(path, limit);
  if (const std::string reason = ReadFailure(content, limit); !reason.empty()) {
    throw ToolError("cannot read " + what + " " + Quoted(path) + ": " + reason);
  }
  return std::move(content.bytes);
}

void RequireFolder(const std::string& path, const std::string& what) {
  const zaf::platform::PathStatus status = zaf::platform::StatusOfPath(path, true);
  if (status.kind == Kind::kNothing) {
    throw ToolError(what + ": " + Quoted(path) + " is not a folder: " + status.reason);
  }
  if (status.kind != Kind::kFolder) {
    throw ToolError(what + ": " + Quoted(path) + " is not a folder");
  }
}

void RequireWritableFile(const std::string& path, const std::string& what) {
  RefuseSymbolicLink(path, what);
  if (zaf::platform::StatusOfPath(path, true).kind == Kind::kFolder) {
    throw ToolError(what + ": " + Quoted(path) + " is a folder, not a file");
  }
  const std::string folder = zaf::platform::FolderOf(path);
  if (zaf::platform::StatusOfPath(folder, true).kind != Kind::kFolder) {
    throw ToolError(what + ": cannot write " + Quoted(path) + ": the folder " + Quoted(folder) +
                    " does not exist");
  }
}

std::string SymbolicLinkRefusal(const std::string& path, const std::string& what) {
  return what + ": " + Quoted(path) + " is a symbolic link; it is neither followed nor replaced";
}

void RefuseSymbolicLink(const std::string& path, const std::string& what) {
  if (zaf::platform::StatusOfPath(path, false).kind == Kind::kLink) {
    throw ToolError(SymbolicLinkRefusal(path, what));
  }
}

void RequireProgram(const std::string& program, const std::string& what) {
  if (!zaf::platform::CanStartProgram(program)) {
    throw ToolError(what + ": " + Quoted(program) + " is not an executable program");
  }
}

}  // namespace wassetup
