#include "core/signals.h"

#include <pthread.h>

#include <cerrno>
#include <csignal>

namespace wassetup {

namespace {

volatile std::sig_atomic_t caughtCount = 0;
volatile std::sig_atomic_t firstCaught = 0;
StopSignals::Handler handler = nullptr;

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

StopSignals::StopSignals(Handler onSignal, std::initializer_list<int> signals)
    : signals_(signals), saved_(signals_.size()) {
  caughtCount = 0;
  firstCaught = 0;
  handler = onSignal;
  struct sigaction action {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (std::size_t index = 0; index < signals_.size(); ++index) {
    sigaction(signals_[index], nullptr, &saved_[index]);
    if (signals_[index] != SIGHUP || saved_[index].sa_handler != SIG_IGN) {
      sigaction(signals_[index], &action, nullptr);
    }
  }
}

StopSignals::~StopSignals() {
  for (std::size_t index = 0; index < signals_.size(); ++index) {
    sigaction(signals_[index], &saved_[index], nullptr);
  }
  handler = nullptr;
}

int StopSignals::First() {
  return firstCaught;
}

void SetBrokenPipeSignalBlocked(bool blocked) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGPIPE);
  pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &signals, nullptr);
}

}  // namespace wassetup
