// The Java launcher and the body of the batch scripts of the Windows tool tests: it appends
// one record of how it was started to the file that QIM_RECORD names, each field followed by a
// NUL and the record by the byte 0x1E.
//   probe ARG...         as the Java launcher: "java" and each ARG as the C runtime read it
//   probe script NAME    for the script NAME, which put its arguments %~1 to %~9 in the
//                        variables QIM_A1 to QIM_A9 first: "script", NAME and the nine values
//                        (an unset one as empty)
// When an ARG holds the text of QIM_HANG, the probe writes its process id into the file that
// QIM_STARTED names and waits until it is ended.

#include <windows.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                        length, nullptr, nullptr);
  return narrow;
}

// The variable `name`; empty when it is not set.
std::wstring Variable(const wchar_t* name) {
  wchar_t value[32768];
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

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::string record;
  const auto field = [&record](const std::wstring& text) { record += Utf8(text) + '\0'; };
  bool hang = false;
  const std::wstring hangOn = Variable(L"QIM_HANG");
  if (argc == 3 && std::wstring(argv[1]) == L"script") {
    field(L"script");
    field(argv[2]);
    for (const wchar_t* name : {L"QIM_A1", L"QIM_A2", L"QIM_A3", L"QIM_A4", L"QIM_A5", L"QIM_A6",
                                L"QIM_A7", L"QIM_A8", L"QIM_A9"}) {
      field(Variable(name));
    }
  } else {
    field(L"java");
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
