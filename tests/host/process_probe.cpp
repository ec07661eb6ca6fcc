// A small Windows program that the process tests start: it reports how it was started or does
// what a test needs of a command, on its stdout, written with WriteFile so that no C runtime
// translates the bytes.
//   probe argv ARG...     each ARG as the C runtime read it, each followed by a NUL
//   probe shell32 ARG...  each ARG as CommandLineToArgvW reads GetCommandLineW(), each
//                         followed by a NUL
//   probe env NAME...     NAME=VALUE (or NAME unset) for each, each followed by a NUL
//   probe handle N        "open" when the handle N is valid in this process, else "closed"
//   probe tree            starts `probe sleep`, writes "PID CHILD\n" and waits for it
//   probe sleep           sleeps a minute
//   probe chatter N DOTS  writes N lines "out I DOTS" on stdout and "err I DOTS" on stderr,
//                         alternately, then exits with 3

#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

void Write(DWORD stream, const std::string& bytes) {
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(stream), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
}

void WriteToken(const std::string& token) {
  Write(STD_OUTPUT_HANDLE, token + std::string(1, '\0'));
}

int Tree() {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring line = L"\"" + std::wstring(self) + L"\" sleep";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  if (!::CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &child)) {
    return 3;
  }
  Write(STD_OUTPUT_HANDLE,
        std::to_string(::GetCurrentProcessId()) + " " + std::to_string(child.dwProcessId) + "\n");
  ::WaitForSingleObject(child.hProcess, INFINITE);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"argv") {
    for (int index = 2; index < argc; ++index) {
      WriteToken(Utf8(argv[index]));
    }
  } else if (mode == L"shell32") {
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    for (int index = 2; index < count; ++index) {
      WriteToken(Utf8(arguments[index]));
    }
    ::LocalFree(arguments);
  } else if (mode == L"env") {
    for (int index = 2; index < argc; ++index) {
      wchar_t value[4096];
      ::SetLastError(ERROR_SUCCESS);
      const DWORD length = ::GetEnvironmentVariableW(argv[index], value, 4096);
      const bool unset = length == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND;
      WriteToken(Utf8(argv[index]) + (unset ? " unset" : "=" + Utf8(value)));
    }
  } else if (mode == L"handle" && argc > 2) {
    const HANDLE handle = reinterpret_cast<HANDLE>(std::wcstoull(argv[2], nullptr, 10));
    DWORD flags = 0;
    Write(STD_OUTPUT_HANDLE, ::GetHandleInformation(handle, &flags) ? "open" : "closed");
  } else if (mode == L"tree") {
    return Tree();
  } else if (mode == L"sleep") {
    ::Sleep(60000);
  } else if (mode == L"chatter" && argc > 3) {
    const int lines = std::wcstol(argv[2], nullptr, 10);
    for (int index = 0; index < lines; ++index) {
      const std::string rest = " " + std::to_string(index) + " " + Utf8(argv[3]) + "\n";
      Write(STD_OUTPUT_HANDLE, "out" + rest);
      Write(STD_ERROR_HANDLE, "err" + rest);
    }
    return 3;
  } else {
    return 2;
  }
  return 0;
}
