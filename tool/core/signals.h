#pragma once
// The signals the tool handles itself: those that stop a deployment or the dialog's server in
// order, and SIGPIPE, which the threads that write to sockets block.

#include <signal.h>

#include <initializer_list>
#include <vector>

namespace wassetup {

// Catches `signals` (SIGINT and SIGTERM unless told otherwise) while it lives and puts back what
// was there when it goes; a hang-up that was ignored when the tool started (nohup) stays
// ignored. Each signal that comes calls `onSignal` in the signal handler with the signal and how
// many have come so far (1 for the first): it may do only what is safe in a signal handler. One
// lives at a time in a process.
class StopSignals {
 public:
  using Handler = void (*)(int signal, int count);

  explicit StopSignals(Handler onSignal, std::initializer_list<int> signals = {SIGINT, SIGTERM});
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The first signal the last of them caught, or 0.
  static int First();

 private:
  std::vector<int> signals_;
  std::vector<struct sigaction> saved_;
};

// Blocks SIGPIPE in the calling thread (a socket whose client went away must not end the
// tool), or unblocks it (the commands a thread starts inherit its signal mask).
void SetBrokenPipeSignalBlocked(bool blocked);

}  // namespace wassetup
