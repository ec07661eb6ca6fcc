#pragma once
// Where the tool's output goes: standard output, checked for write errors up to its closing,
// and the --output file, written whole or not at all.

#include <string>

namespace wassetup {

// Run first: a write to a pipe whose reader is gone fails with EPIPE instead of killing the
// tool silently, and a standard descriptor that was closed (`wassetup plan >&-`) is held by
// /dev/null, so that no file the tool opens takes its number and receives its output. A closed
// standard output counts as a failed write.
void PrepareStandardStreams();

// Run last: flushes and closes standard output. Returns false, having said why on stderr, when
// some write to it failed or its closing did.
bool FinishStandardOutput();

// Replaces `path` with `bytes`, readable by the owner only (0600 whatever the umask): they go
// into a temporary file in the same folder, which is flushed to the disk and renamed over
// `path`, so a failure leaves the old file as it was. A symbolic link at `path` is replaced,
// never written through. Throws ToolError naming `what` (for instance "--output").
void ReplaceFileOwnerOnly(const std::string& path, const std::string& bytes,
                          const std::string& what);

}  // namespace wassetup
