// Stop requests on POSIX: signal handlers installed with sigaction, and the per-thread mask of
// SIGPIPE.

#include "host/platform/signals.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <csignal>
#include <utility>

namespace zaf::platform {

namespace {

volatile std::sig_atomic_t caughtCount = 0;
volatile std::sig_atomic_t firstCaught = 0;
StopSignals::Handler handler = nullptr;
// What was there before the one StopSignals that lives, signal by signal.
std::vector<struct sigaction> saved;

void OnStopSignal(int signal) {
  const int savedErrno = errno;
  caughtCount = caughtCount + 1;
  if (firstCaught == 0) {
    firstCaught = signal;
  }
  if (handler != nullptr) {
    handler(signal, caughtCount);
  }
  errno = savedErrno;
}

}  // namespace

StopSignals::StopSignals(Handler onSignal) : StopSignals(onSignal, {SIGINT, SIGTERM}) {}

StopSignals::StopSignals(Handler onSignal, std::vector<int> signals)
    : signals_(std::move(signals)) {
  caughtCount = 0;
  firstCaught = 0;
  handler = onSignal;
  saved.assign(signals_.size(), {});
  struct sigaction action {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (std::size_t index = 0; index < signals_.size(); ++index) {
    sigaction(signals_[index], nullptr, &saved[index]);
    if (signals_[index] != SIGHUP || saved[index].sa_handler != SIG_IGN) {
      sigaction(signals_[index], &action, nullptr);
    }
  }
}

StopSignals::~StopSignals() {
  for (std::size_t index = 0; index < signals_.size(); ++index) {
    sigaction(signals_[index], &saved[index], nullptr);
  }
  handler = nullptr;
}

std::vector<int> ServingStopSignals() {
  return {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
}

int StopSignals::First() {
  return firstCaught;
}

void RaiseStopSignal(int signal) {
  std::raise(signal);
}

void SetBrokenPipeSignalBlocked(bool blocked) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGPIPE);
  pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &signals, nullptr);
}

}  // namespace zaf::platform
