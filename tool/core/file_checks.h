#pragma once
// Checks of the files, folders and programs the operator names, made before anything runs, so
// that a bad path gives one clear line and exit status 2 instead of a half-done command. Each
// check throws ToolError whose message names `what` (for instance "--output") and the path.
// What is at a path comes from the platform layer (host/platform/files.h), where a symbolic
// link is on Windows any reparse point.

#include <cstddef>
#include <string>

namespace wassetup {

// The bytes of the regular file `path`. Refused when it is missing, a folder or no regular
// file, cannot be read, or holds more than `limit` bytes.
std::string ReadRegularFile(const std::string& path, std::size_t limit, const std::string& what);

// Refused unless `path` is an existing folder.
void RequireFolder(const std::string& path, const std::string& what);

// Refused unless a file can be made or replaced at `path`: the folder it goes in exists and
// `path` is neither a folder nor a symbolic link.
void RequireWritableFile(const std::string& path, const std::string& what);

// Refused when `path` is a symbolic link: where the tool writes, a link is neither followed
// (it could lead anywhere, a system file included) nor replaced.
void RefuseSymbolicLink(const std::string& path, const std::string& what);

// The refusal of the symbolic link `path` where the tool writes.
std::string SymbolicLinkRefusal(const std::string& path, const std::string& what);

// Refused unless `program` can be started (zaf::platform::CanStartProgram): a path to an
// executable file, or a name found as one in PATH.
void RequireProgram(const std::string& program, const std::string& what);

// "N MiB" or "N bytes", for messages about size limits.
std::string SizeText(std::size_t bytes);

}  // namespace wassetup
