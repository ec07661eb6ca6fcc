// The process environment on Windows: the system's UTF-16 block, the one child processes
// inherit, read and set through the W functions. The C runtime's copy is kept in step for code
// that still reads it with getenv.

#include "host/platform/environment.h"

#include <windows.h>

#include <stdlib.h>
#include <mutex>
#include <set>

#include "host/platform/wide_text.h"

namespace zaf::platform {

namespace {

// Every value handed out, so that each pointer stays valid for the life of the process.
std::mutex valuesMutex;
std::set<std::string> handedOut;

}  // namespace

const char* EnvironmentValue(const char* name) {
  const std::wstring wideName = WideFromUtf8(name);
  std::wstring value(64, L'\0');
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length =
        ::GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
      return nullptr;
    }
    if (length < value.size()) {
      value.resize(length);
      break;
    }
    value.resize(length);
  }
  const std::lock_guard<std::mutex> lock(valuesMutex);
  return handedOut.insert(Utf8FromWide(value)).first->c_str();
}

bool SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value) {
  const std::wstring wideName = WideFromUtf8(name);
  const std::wstring wideValue = value ? WideFromUtf8(*value) : std::wstring();
  // The runtime's copy cannot hold an empty value: _wputenv_s removes the variable then.
  ::_wputenv_s(wideName.c_str(), wideValue.c_str());
  return ::SetEnvironmentVariableW(wideName.c_str(), value ? wideValue.c_str() : nullptr) != 0;
}

}  // namespace zaf::platform
