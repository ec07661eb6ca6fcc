#pragma once
// Where the tool's output goes: standard output and standard error, written through the
// platform layer and checked for write errors up to the closing of standard output, and the
// files the operator names for the tool's output (--output, --log), written without following
// a link or replacing what is not a regular file.

#include <chrono>
#include <string>

#include "host/platform/files.h"

namespace wassetup {

// How long a FIFO the tool is to write waits for a process to open it for reading: enough for
// a reader started beside the tool (`wassetup --output FIFO ... & cat FIFO`), never forever.
constexpr std::chrono::seconds kFifoReaderWait{10};

// Run first: prepares the standard streams (zaf::platform::PrepareStandardStreams) and puts
// std::cout and std::cerr on buffers that write through the platform layer. The first failed
// write to standard output is told on stderr at once; a closed standard output counts as a
// failed write. On a terminal standard output is written line by line.
void PrepareStandardStreams();

// Run last: flushes and closes standard output. Returns false, having said why on stderr, when
// some write to it failed or its closing did.
bool FinishStandardOutput();

// Writes `bytes` to the --output file `path` (zaf::platform::WriteWholeFile): a regular file,
// or a name that does not exist yet, is replaced whole through a private temporary file, so a
// failure leaves the old file as it was; a device or a FIFO is written in place, a FIFO given
// kFifoReaderWait to get a reader; a symbolic link is refused, neither followed nor replaced.
// Throws ToolError naming `what` (for instance "--output").
void WriteOutputFile(const std::string& path, const std::string& bytes, const std::string& what);

// Opens `path` to append to it: a new file is made readable by the owner only, a regular file,
// a device or a FIFO is opened in place (a FIFO within kFifoReaderWait), and a symbolic link
// is refused. Throws ToolError naming `what` (for instance "--log").
zaf::platform::AppendedFile OpenForAppending(const std::string& path, const std::string& what);

}  // namespace wassetup
