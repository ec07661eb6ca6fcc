// A small Windows program that the process tests start: it reports how it was started or does
// what a test needs of a command, on its stdout, written with WriteFile so that no C runtime
// translates the bytes.
//   probe argv ARG...     each ARG as the C runtime read it, each followed by a NUL
//   probe shell32 ARG...  each ARG as CommandLineToArgvW reads GetCommandLineW(), each
//                         followed by a NUL
//   probe handle N        "open" when the handle N is valid in this process, else "closed"
//   probe sleep           writes its process id and a line feed, then sleeps a minute
//   probe chatter N DOTS  writes N lines "out I DOTS" on stdout and "err I DOTS" on stderr,
//                         alternately, then exits with 3
// With QIM_RECORD set (the Java launcher and the body of the batch scripts of the Windows tool
// tests and of the script test) it appends instead one record of how it was started to the file
// QIM_RECORD names, each field followed by a NUL and the record by the byte 0x1E: as `probe script
// NAME`, for the script NAME that put its %~1 to %~9 in QIM_A1 to QIM_A9, "script", NAME and the
// nine values; else "java" and each argument. When an argument holds the text of QIM_HANG, it then
// writes its process id into the file QIM_STARTED names and waits until it is ended.

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

// The variable `name`; empty when it is not set.
std::wstring Variable(const wchar_t* name) {
  static wchar_t value[32768];
  const DWORD length = ::GetEnvironmentVariableW(name, value, 32768);
  return length > 0 && length < 32768 ? std::wstring(value, length) : std::wstring();
}

void Append(const std::wstring& file, const std::string& bytes) {
  const HANDLE handle =
      ::CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  ::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(handle);
}

int Record(int argc, wchar_t** argv) {
  std::string record;
  const auto field = [&record](const std::wstring& text) { record += Utf8(text.c_str()) + '\0'; };
  bool hang = false;
  if (argc == 3 && std::wstring(argv[1]) == L"script") {
    field(L"script");
    field(argv[2]);
    for (wchar_t name[] = L"QIM_A1"; name[5] <= L'9'; ++name[5]) {
      field(Variable(name));
    }
  } else {
    field(L"java");
    const std::wstring hangOn = Variable(L"QIM_HANG");
    for (int index = 1; index < argc; ++index) {
      field(argv[index]);
      hang =
          hang || (!hangOn.empty() && std::wstring(argv[index]).find(hangOn) != std::wstring::npos);
    }
  }
  Append(Variable(L"QIM_RECORD"), record + '\x1e');
  if (hang) {
    Append(Variable(L"QIM_STARTED"), std::to_string(::GetCurrentProcessId()));
    ::Sleep(INFINITE);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (!Variable(L"QIM_RECORD").empty()) {
    return Record(argc, argv);
  }
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
  } else if (mode == L"handle" && argc > 2) {
    const HANDLE handle = reinterpret_cast<HANDLE>(std::wcstoull(argv[2], nullptr, 10));
    DWORD flags = 0;
    Write(STD_OUTPUT_HANDLE, ::GetHandleInformation(handle, &flags) ? "open" : "closed");
  } else if (mode == L"sleep") {
    Write(STD_OUTPUT_HANDLE, std::to_string(::GetCurrentProcessId()) + "\n");
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
