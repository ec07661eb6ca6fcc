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

StopSignals::StopSignals(Handler onSignal) {
  caughtCount = 0;
  firstCaught = 0;
  handler = onSignal;
  struct sigaction action {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &savedInterrupt_);
  sigaction(SIGTERM, &action, &savedTerminate_);
}

StopSignals::~StopSignals() {
  sigaction(SIGINT, &savedInterrupt_, nullptr);
  sigaction(SIGTERM, &savedTerminate_, nullptr);
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
