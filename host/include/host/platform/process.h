#pragma once
// Running a command from its argument vector, never through a shell, with stdin from the null
// device and its output handed to the caller as it comes; and stopping it with everything it
// started. On POSIX the command runs in a process group of its own; on Windows in a Job
// object, and a batch script (.bat, .cmd), which Windows runs only through cmd.exe, through
// the system's cmd.exe with its arguments quoted so that cmd reads none of them as syntax.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/zaf_export.h"

namespace zaf::platform {

enum class OutputStream { kOut, kErr };

// Receives the command's output: `bytes` as they were read from one of its two streams, and
// once per stream `ended` (with no bytes) when the command and what it started closed it.
// Called on the thread that runs the command, one call at a time.
using OutputReceiver = std::function<void(OutputStream stream, std::string_view bytes, bool ended)>;

// How a command ended.
struct CommandResult {
  enum class Ending {
    kExited,      // it ended by itself with `status`
    kSignalled,   // POSIX: ended by `signal`
    kTerminated,  // Windows: its job was terminated on a stop request
    kNotStarted,  // it could not start: `reason` says why
  };
  Ending ending = Ending::kNotStarted;
  int status = -1;
  int signal = 0;
  std::string reason;
};

// Runs argv[0] with the rest as its arguments and waits for it to end and close its output.
// The program is searched in PATH only when its name holds no folder; on Windows never in the
// current folder, and a name without extension is tried with .com, .exe, .bat and .cmd, in
// that order, as Windows does. The command gets stdin from the null device, stdout and stderr
// through pipes to `receive`, no other handle or descriptor of this process, and every signal
// at its default action. On Windows it has a console of its own, so the operator's Ctrl+C
// reaches this process alone, as on POSIX, where it is not in the terminal's foreground group.
ZAF_API CommandResult RunCommand(const std::vector<std::string>& argv,
                                 const OutputReceiver& receive);

// True when RunCommand finds a program to start for argv[0] = `program`: a path to an
// executable file (on POSIX), or to a file (on Windows, tried with the extensions as above),
// or a name found as one in PATH.
ZAF_API bool CanStartProgram(const std::string& program);

// Asks the command that RunCommand runs now, and the one it starts next until
// ClearCommandStop, to stop with everything it started. On POSIX the first request sends
// `signal` to the command's process group and a later one kills the group (SIGKILL); on
// Windows every request terminates the command's job. Safe in a signal handler and in a
// console control handler.
ZAF_API void RequestCommandStop(int signal);
ZAF_API void ClearCommandStop();

// What the stop request number `count` (1 for the first) since ClearCommandStop does to the
// running command, as a clause for the operator ("the running command was passed the signal;
// ..."). Safe in a signal handler: a text that lives as long as the program.
ZAF_API const char* CommandStopNotice(int count);

// "SIGSEGV" for 11, "signal N" for a number without a name.
ZAF_API std::string SignalName(int signal);

// Why `argument` cannot be given to a batch script so that the script receives it unchanged,
// or none when it can. On Windows cmd.exe reads a script's command line, and some characters
// have no form there that reaches the script intact (see the Win32 implementation); on POSIX
// a script is started as any program and only a NUL byte, which ends an argument early, is
// refused. RunCommand refuses such an argument too, before anything runs; a caller asks
// first to name the setting the argument came from.
ZAF_API std::optional<std::string> WhyNotPassableToScript(const std::string& argument);

}  // namespace zaf::platform
