#pragma once
// Where the tool's output goes: standard output, checked for write errors up to its closing,
// and the files the operator names for the tool's output (--output, --log), written without
// following a link or replacing what is not a regular file.

#include <chrono>
#include <cstddef>
#include <string>

#include "host/file_descriptor.h"

namespace wassetup {

// How long a FIFO the tool is to write waits for a process to open it for reading: enough for
// a reader started beside the tool (`wassetup --output FIFO ... & cat FIFO`), never forever.
constexpr std::chrono::seconds kFifoReaderWait{10};

// Run first: a write to a pipe whose reader is gone fails with EPIPE instead of killing the
// tool silently, and a standard descriptor that was closed (`wassetup plan >&-`) is held by
// /dev/null, so that no file the tool opens takes its number and receives its output. A closed
// standard output counts as a failed write.
void PrepareStandardStreams();

// Run last: flushes and closes standard output. Returns false, having said why on stderr, when
// some write to it failed or its closing did.
bool FinishStandardOutput();

// Writes `bytes` to the --output file `path`. A regular file, or a name that does not exist
// yet, is replaced whole: the bytes go into a temporary file in the same folder, readable by
// the owner only (0600 whatever the umask), which is flushed to the disk and renamed over
// `path`, so a failure leaves the old file as it was. Whatever else is there is never
// replaced: a device or a FIFO is written in place, as the shell's `>` would, and a symbolic
// link is refused, neither followed nor replaced. A FIFO is given kFifoReaderWait to get a
// reader. Throws ToolError naming `what` (for instance "--output").
void WriteOutputFile(const std::string& path, const std::string& bytes, const std::string& what);

// Opens `path` to append to it: a new file is made readable by the owner only, a regular file,
// a device or a FIFO is opened in place (a FIFO within kFifoReaderWait), and a symbolic link
// is refused. Throws ToolError naming `what` (for instance "--log").
zaf::FileDescriptor OpenForAppending(const std::string& path, const std::string& what);

// Writes all `size` bytes of `data`, again after an interrupted or partial write. False (errno
// set) when a write fails.
bool WriteAll(int descriptor, const char* data, std::size_t size);

}  // namespace wassetup
