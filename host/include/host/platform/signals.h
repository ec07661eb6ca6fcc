#pragma once
// The operator's requests to stop the program: signals on POSIX, the console's control events
// on Windows, each told to the program as a signal number; and SIGPIPE, which the threads that
// write to sockets block.

#include <vector>

#include "host/zaf_export.h"

namespace zaf::platform {

// Catches stop requests while it lives and puts back what was there when it goes. Each request
// that comes calls `onSignal` with its signal and how many have come so far (1 for the first).
// On POSIX it runs in the signal handler and may do only what is safe there; a hang-up that
// was ignored when the program started (nohup) stays ignored. On Windows it runs on a thread
// that the system starts for the console control event; after the console was closed, the
// user logged off or the system shuts down, the system ends the process shortly after the
// handler returns, so the handler then waits a few seconds for the program to end by itself.
// One lives at a time in a process.
class ZAF_API StopSignals {
 public:
  using Handler = void (*)(int signal, int count);

  // The operator's requests: on POSIX SIGINT and SIGTERM; on Windows Ctrl+C (as SIGINT),
  // Ctrl+Break (as SIGBREAK) and the console closed, a log-off or a shutdown (as SIGTERM).
  explicit StopSignals(Handler onSignal);
  // The requests `signals` name: on POSIX those signals; on Windows the events above whose
  // signal is among them.
  StopSignals(Handler onSignal, std::vector<int> signals);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The first signal the last of them caught, or 0.
  static int First();

 private:
  std::vector<int> signals_;
};

// The requests that stop a program serving until it is stopped: those of the one-argument
// constructor and, on POSIX, the end of the terminal session (SIGHUP) and Ctrl+\ (SIGQUIT);
// a closed console is among the Windows ones already.
ZAF_API std::vector<int> ServingStopSignals();

// Delivers the stop request `signal` as the system would: on POSIX raise(); on Windows the
// console control handler is called with the event of `signal` on a thread of its own, as the
// system calls it (the system's own events need a console, which a program run without one,
// under a service or in tests, lacks). A request that no StopSignals catches takes its
// default course, which ends the program.
ZAF_API void RaiseStopSignal(int signal);

// Blocks SIGPIPE in the calling thread (a socket whose client went away must not end the
// program), or unblocks it (the commands a thread starts inherit its signal mask). Windows has
// no SIGPIPE: a write whose reader went away fails there.
ZAF_API void SetBrokenPipeSignalBlocked(bool blocked);

}  // namespace zaf::platform
