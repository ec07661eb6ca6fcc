#pragma once
// The running program: the arguments it was started with, its own folder, the hand-over to
// another program, and its standard streams, prepared at the start and written to. Texts are
// UTF-8; on Windows they are UTF-16 at every system call, and a console is written as text.

#include <cstddef>
#include <string>
#include <string_view>

#include "host/zaf_export.h"

namespace zaf::platform {

// The program's arguments in UTF-8, its name first, as main() was given them in `argc` and
// `argv`: on POSIX `argv` itself; on Windows the command line the program was given
// (GetCommandLineW), split as the C runtime splits it (CommandLineToArgvW), so that an argument
// outside the ANSI code page arrives intact, in texts that live as long as the program (`argc`
// then counts them). Called once, at the start.
ZAF_API char** ProgramArguments(int& argc, char** argv);

// The folder of the program's own file (on POSIX from /proc/self/exe, on Windows from
// GetModuleFileNameW); "." when it cannot be known.
ZAF_API std::string ProgramFolder();

// Hands this run over to `program`, given the arguments this process was started with, its
// own name replaced by `program`. On POSIX the process becomes `program` (execv); Windows cannot
// replace a process, so there `program` runs with this process's standard handles, this one
// waits, ignoring Ctrl+C and Ctrl+Break (which reach both), and ends with its exit status.
// Returns only when `program` cannot be run, with the reason.
ZAF_API std::string HandOverTo(const std::string& program);

// What PrepareStandardStreams found.
struct StandardStreams {
  bool outputClosed = false;      // stdout was closed: every write to it counts as failed
  bool outputIsTerminal = false;  // stdout is a terminal (a console on Windows)
};

// Run first. On POSIX a write to a pipe whose reader is gone fails with EPIPE instead of
// killing the program (SIGPIPE is ignored), and a standard descriptor that was closed is held
// by /dev/null, so that no file the program opens takes its number. On Windows the C runtime's
// standard streams are put in binary mode, so that no byte read or written is translated.
ZAF_API StandardStreams PrepareStandardStreams();

enum class StandardStream { kOutput, kError };

// Writes all of `bytes` to stdout or stderr; false with the system's reason when a write
// fails. On a Windows console the bytes are UTF-8 text written as UTF-16 (WriteConsoleW), a
// character split between two calls included; anywhere else they are written as they are.
ZAF_API bool WriteStandardStream(StandardStream stream, std::string_view bytes,
                                 std::string& reason);

// Closes stdout, so that an error only its closing reports (a full disk over NFS) is seen;
// false with the reason. On Windows there is no such error to see, and the handle stays open.
ZAF_API bool CloseStandardOutput(std::string& reason);

// Writes `size` bytes of ASCII `text` on stderr, from a signal handler or a console control
// handler: nothing else is safe there.
ZAF_API void WriteErrorFromHandler(const char* text, std::size_t size);

// True when stdout shows colour escape sequences: a terminal on POSIX; on Windows a console
// that processes virtual terminal sequences.
ZAF_API bool OutputShowsColor();

}  // namespace zaf::platform
