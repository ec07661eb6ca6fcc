// Reading a secret from a terminal on POSIX: termios without ECHO, restored on every way out,
// signals included.

#include "host/platform/console.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <iterator>

#include "platform/line_end.h"

namespace zaf::platform {

namespace {

// The signals that end or stop the tool while it waits at the prompt.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

// What the signal handler needs; set before the handlers are installed.
termios savedTerminal{};
termios quietTerminal{};

// Gives the terminal back its settings, then lets the signal take its default action: the tool
// ends or, for Ctrl+Z, stops. A stopped tool that
// is continued turns echo off again and waits for the line as before.
void RestoreAndPassOn(int signalNumber) {
  tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
  struct sigaction ours {};
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigemptyset(&standard.sa_mask);
  sigaction(signalNumber, &standard, &ours);
  sigset_t just;
  sigemptyset(&just);
  sigaddset(&just, signalNumber);
  sigprocmask(SIG_UNBLOCK, &just, nullptr);
  raise(signalNumber);
  // Only a stop returns here, once the tool is continued.
  sigaction(signalNumber, &ours, nullptr);
  tcsetattr(STDIN_FILENO, TCSANOW, &quietTerminal);
}

// Echo off on the terminal at stdin while it lives, with the handler above for each of the
// signals that has its default action (an ignored one stays ignored).
class EchoOff {
 public:
  EchoOff() {
    tcgetattr(STDIN_FILENO, &savedTerminal);
    quietTerminal = savedTerminal;
    quietTerminal.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    struct sigaction action {};
    action.sa_handler = RestoreAndPassOn;
    sigfillset(&action.sa_mask);
    std::size_t index = 0;
    for (int signalNumber : kEndingSignals) {
      struct sigaction& previous = previous_[index++];
      sigaction(signalNumber, nullptr, &previous);
      if (previous.sa_handler == SIG_DFL) {
        sigaction(signalNumber, &action, nullptr);
      }
    }
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quietTerminal);
  }

  ~EchoOff() {
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    std::size_t index = 0;
    for (int signalNumber : kEndingSignals) {
      sigaction(signalNumber, &previous_[index++], nullptr);
    }
  }

  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  struct sigaction previous_[std::size(kEndingSignals)]{};
};

std::optional<std::string> ReadLine() {
  std::string line;
  if (!std::getline(std::cin, line)) {
    return std::nullopt;
  }
  DropCarriageReturn(line);
  return line;
}

}  // namespace

std::optional<std::string> ReadLineHidden(const std::string& prompt) {
  if (isatty(STDIN_FILENO) == 0) {
    return ReadLine();
  }
  std::optional<std::string> line;
  {
    // Echo goes off before the prompt shows, so nothing typed after it is echoed.
    const EchoOff quiet;
    std::cerr << prompt << std::flush;
    line = ReadLine();
  }
  // The operator's Enter was not echoed either.
  std::cerr << '\n';
  return line;
}

}  // namespace zaf::platform
