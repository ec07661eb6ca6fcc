// Stop requests on Windows: the console's control events, caught with SetConsoleCtrlHandler
// and told to the program as the signals the C runtime names them by (Ctrl+C as SIGINT,
// Ctrl+Break as SIGBREAK, the console closed, a log-off or a shutdown as SIGTERM).

#include "host/platform/signals.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <thread>
#include <utility>

namespace zaf::platform {

namespace {

// How long the handler of a closing console holds the system off: it ends the process when
// the handler returns (and after about five seconds in any case), and the program needs the
// time to stop its command and say so in its log.
constexpr DWORD kClosingGrace = 4500;

std::atomic<int> caughtCount{0};
std::atomic<int> firstCaught{0};
std::atomic<StopSignals::Handler> handler{nullptr};
// The signals the one StopSignals that lives catches, as bits (1 << signal).
std::atomic<unsigned> caughtSignals{0};

int SignalOf(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return SIGINT;
    case CTRL_BREAK_EVENT:
      return SIGBREAK;
    default:
      return SIGTERM;
  }
}

DWORD EventOf(int signal) {
  return signal == SIGINT ? CTRL_C_EVENT : signal == SIGBREAK ? CTRL_BREAK_EVENT : CTRL_CLOSE_EVENT;
}

BOOL WINAPI OnControl(DWORD event) {
  const int signal = SignalOf(event);
  const StopSignals::Handler current = handler.load();
  if (current == nullptr || (caughtSignals.load() & (1U << signal)) == 0) {
    return FALSE;
  }
  const int count = caughtCount.fetch_add(1) + 1;
  int none = 0;
  firstCaught.compare_exchange_strong(none, signal);
  current(signal, count);
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
    ::Sleep(kClosingGrace);
  }
  return TRUE;
}

}  // namespace

StopSignals::StopSignals(Handler onSignal) : StopSignals(onSignal, {SIGINT, SIGBREAK, SIGTERM}) {}

StopSignals::StopSignals(Handler onSignal, std::vector<int> signals)
    : signals_(std::move(signals)) {
  unsigned bits = 0;
  for (const int signal : signals_) {
    bits |= signal >= 0 && signal < 32 ? 1U << signal : 0;
  }
  caughtCount.store(0);
  firstCaught.store(0);
  caughtSignals.store(bits);
  handler.store(onSignal);
  ::SetConsoleCtrlHandler(OnControl, TRUE);
}

StopSignals::~StopSignals() {
  ::SetConsoleCtrlHandler(OnControl, FALSE);
  handler.store(nullptr);
  caughtSignals.store(0);
}

std::vector<int> ServingStopSignals() {
  return {SIGINT, SIGBREAK, SIGTERM};
}

int StopSignals::First() {
  return firstCaught.load();
}

// The system calls a console control handler on a thread it starts for the event.
void RaiseStopSignal(int signal) {
  BOOL handled = FALSE;
  std::thread([signal, &handled] { handled = OnControl(EventOf(signal)); }).join();
  if (!handled) {
    std::raise(signal);
  }
}

void SetBrokenPipeSignalBlocked(bool /*blocked*/) {}

}  // namespace zaf::platform
