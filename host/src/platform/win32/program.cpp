// The running program on Windows: its arguments from GetCommandLineW split by
// CommandLineToArgvW, its folder from GetModuleFileNameW, a hand-over that runs the other
// program and waits, and the standard handles written with WriteFile, or with WriteConsoleW on
// a console, which takes text rather than bytes.

#include "host/platform/program.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

#include "host/platform/wide_text.h"
#include "platform/win32/command_line.h"
#include "platform/win32/handle.h"
#include "platform/win32/write_all.h"

namespace zaf::platform {

namespace {

HANDLE StandardHandle(StandardStream stream) {
  return ::GetStdHandle(stream == StandardStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool IsUsable(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

bool IsConsole(HANDLE handle, DWORD& mode) {
  return IsUsable(handle) && ::GetFileType(handle) == FILE_TYPE_CHAR &&
         ::GetConsoleMode(handle, &mode);
}

// How many bytes at the end of `bytes` begin a UTF-8 character that is not complete yet.
std::size_t IncompleteTail(std::string_view bytes) {
  for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
    const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
    if ((byte & 0xC0) != 0x80) {
      const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
      return length > back ? back : 0;
    }
  }
  return 0;
}

// The start of a character that a write to each console stream left for the next one.
std::mutex pendingMutex;
std::string pendingText[2];

bool WriteConsoleText(HANDLE console, StandardStream stream, std::string_view bytes) {
  std::string text;
  {
    const std::lock_guard<std::mutex> lock(pendingMutex);
    std::string& pending = pendingText[stream == StandardStream::kOutput ? 0 : 1];
    text = pending;
    text.append(bytes);
    const std::size_t tail = IncompleteTail(text);
    pending = text.substr(text.size() - tail);
    text.resize(text.size() - tail);
  }
  const std::wstring wide = WideFromUtf8(text);
  for (std::size_t at = 0; at < wide.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - at, 8192));
    DWORD written = 0;
    if (!::WriteConsoleW(console, wide.data() + at, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    at += written;
  }
  return true;
}

// The command line after the program's name, as the C runtime skips it: up to the closing
// quote when it starts with one, else up to the first blank or tab.
std::wstring ArgumentsPart(const wchar_t* line) {
  const wchar_t* at = line;
  if (*at == L'"') {
    for (++at; *at != L'\0' && *at != L'"'; ++at) {
    }
    at += *at == L'"' ? 1 : 0;
  } else {
    for (; *at != L'\0' && *at != L' ' && *at != L'\t'; ++at) {
    }
  }
  return at;
}

// Keeps the console's Ctrl+C and Ctrl+Break from ending this process while the program it
// handed over to decides what they do; a handler is not inherited, unlike ignoring them.
BOOL WINAPI IgnoreControl(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

}  // namespace

char** ProgramArguments(int& argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) {
    return argv;
  }
  static std::vector<std::string> arguments;
  static std::vector<char*> pointers;
  for (int index = 0; index < count; ++index) {
    arguments.push_back(Utf8FromWide(wide[index]));
  }
  ::LocalFree(wide);
  for (std::string& argument : arguments) {
    pointers.push_back(argument.data());
  }
  pointers.push_back(nullptr);
  argc = count;
  return pointers.data();
}

std::string ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return ".";
    }
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? "." : Utf8FromWide(path.substr(0, separator));
}

std::string HandOverTo(const std::string& program) {
  std::string name;
  AppendProgramName(name, program);
  std::wstring line = WideFromUtf8(name) + ArgumentsPart(::GetCommandLineW());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(WideFromUtf8(program).c_str(), line.data(), nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &started)) {
    return SystemErrorText(::GetLastError());
  }
  const Handle process(started.hProcess);
  const Handle thread(started.hThread);
  ::SetConsoleCtrlHandler(IgnoreControl, TRUE);
  std::fflush(nullptr);
  ::WaitForSingleObject(process.Get(), INFINITE);
  DWORD status = 1;
  ::GetExitCodeProcess(process.Get(), &status);
  ::ExitProcess(status);
}

StandardStreams PrepareStandardStreams() {
  for (std::FILE* stream : {stdin, stdout, stderr}) {
    ::_setmode(::_fileno(stream), _O_BINARY);
  }
  StandardStreams streams;
  DWORD mode = 0;
  streams.outputClosed = !IsUsable(StandardHandle(StandardStream::kOutput));
  streams.outputIsTerminal = IsConsole(StandardHandle(StandardStream::kOutput), mode);
  return streams;
}

bool WriteStandardStream(StandardStream stream, std::string_view bytes, std::string& reason) {
  const HANDLE handle = StandardHandle(stream);
  DWORD mode = 0;
  const bool written = IsConsole(handle, mode) ? WriteConsoleText(handle, stream, bytes)
                                               : WriteAll(handle, bytes.data(), bytes.size());
  if (!written) {
    reason = IsUsable(handle) ? SystemErrorText(::GetLastError()) : "it is closed";
  }
  return written;
}

bool CloseStandardOutput(std::string& /*reason*/) {
  return true;
}

void WriteErrorFromHandler(const char* text, std::size_t size) {
  WriteAll(StandardHandle(StandardStream::kError), text, size);
}

bool OutputShowsColor() {
  DWORD mode = 0;
  return IsConsole(StandardHandle(StandardStream::kOutput), mode) &&
         (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace zaf::platform
