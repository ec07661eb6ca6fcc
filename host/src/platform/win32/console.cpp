// Reading a secret from the console on Windows: the console's input mode without
// ENABLE_ECHO_INPUT while the line is read, restored when it is read, on an error, and from a
// console control handler (Ctrl+C, Ctrl+Break, the console closed) before the process ends.
// The console gives UTF-16 (ReadConsoleW), turned into UTF-8; any other input is read as the
// bytes it holds.

#include "host/platform/console.h"

#include <windows.h>

#include <atomic>
#include <iterator>

#include "host/platform/wide_text.h"
#include "platform/line_end.h"

namespace zaf::platform {

namespace {

// What the control handler restores; set before it is installed.
std::atomic<HANDLE> quietConsole{nullptr};
std::atomic<DWORD> savedMode{0};

// Gives the console its mode back, then lets the next handler (in the end the system's, which
// ends the process) have the event.
BOOL WINAPI RestoreOnControl(DWORD /*event*/) {
  if (const HANDLE console = quietConsole.load(); console != nullptr) {
    ::SetConsoleMode(console, savedMode.load());
  }
  return FALSE;
}

// Echo off on the console `console` (whose mode is `mode`) while it lives, with the handler
// above installed.
class EchoOff {
 public:
  EchoOff(HANDLE console, DWORD mode) : console_(console), mode_(mode) {
    savedMode.store(mode);
    quietConsole.store(console);
    ::SetConsoleCtrlHandler(RestoreOnControl, TRUE);
    // Echo needs line input; processed input keeps Ctrl+C a control event.
    ::SetConsoleMode(console,
                     (mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~ENABLE_ECHO_INPUT);
  }
  ~EchoOff() {
    ::SetConsoleMode(console_, mode_);
    quietConsole.store(nullptr);
    ::SetConsoleCtrlHandler(RestoreOnControl, FALSE);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  HANDLE console_;
  DWORD mode_;
};

bool IsConsole(HANDLE handle, DWORD& mode) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         ::GetFileType(handle) == FILE_TYPE_CHAR && ::GetConsoleMode(handle, &mode);
}

// Writes `text` on stderr: as UTF-16 on a console, else as its bytes.
void WriteError(const std::string& text) {
  const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  DWORD written = 0;
  if (IsConsole(error, mode)) {
    const std::wstring wide = WideFromUtf8(text);
    ::WriteConsoleW(error, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  } else if (error != nullptr && error != INVALID_HANDLE_VALUE) {
    ::WriteFile(error, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
}

// A line typed on the console, which in line input mode comes whole with its "\r\n"; Ctrl+Z
// at the start of a line ends the input, as the C runtime reads it.
std::optional<std::string> ReadConsoleLine(HANDLE console) {
  std::wstring line;
  wchar_t buffer[256];
  for (;;) {
    DWORD count = 0;
    if (!::ReadConsoleW(console, buffer, static_cast<DWORD>(std::size(buffer)), &count, nullptr) ||
        count == 0) {
      if (line.empty()) {
        return std::nullopt;
      }
      break;
    }
    line.append(buffer, count);
    if (const std::size_t end = line.find(L'\n'); end != std::wstring::npos) {
      line.erase(end);
      break;
    }
  }
  if (!line.empty() && line.front() == L'\x1a') {
    return std::nullopt;
  }
  DropCarriageReturn(line);
  return Utf8FromWide(line);
}

// A line of bytes, read one at a time so that nothing after it is taken from the input.
std::optional<std::string> ReadByteLine(HANDLE input) {
  std::string line;
  bool any = false;
  for (;;) {
    char byte = 0;
    DWORD count = 0;
    if (!::ReadFile(input, &byte, 1, &count, nullptr) || count == 0) {
      break;
    }
    any = true;
    if (byte == '\n') {
      break;
    }
    line += byte;
  }
  if (!any) {
    return std::nullopt;
  }
  DropCarriageReturn(line);
  return line;
}

}  // namespace

std::optional<std::string> ReadLineHidden(const std::string& prompt) {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  DWORD mode = 0;
  if (!IsConsole(input, mode)) {
    return ReadByteLine(input);
  }
  std::optional<std::string> line;
  {
    // Echo goes off before the prompt shows, so nothing typed after it is echoed.
    const EchoOff quiet(input, mode);
    WriteError(prompt);
    line = ReadConsoleLine(input);
  }
  // The operator's Enter was not echoed either.
  WriteError("\n");
  return line;
}

}  // namespace zaf::platform
