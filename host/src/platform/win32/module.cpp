// Dynamic modules on Windows: LoadLibraryExW with the full path, so that the modules it needs
// (the host library, the C++ runtime) are searched beside it, beside the program and in the
// system folders only, never in the current folder or PATH.

#include "host/platform/module.h"

#include <windows.h>

#include <vector>

#include "host/platform/wide_text.h"

namespace zaf::platform {

namespace {

std::string LoaderReason() {
  const DWORD error = ::GetLastError();
  return SystemErrorText(error) + " (error " + std::to_string(error) + ")";
}

std::wstring FullPathOf(const std::wstring& path) {
  std::vector<wchar_t> full(::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr) + 1);
  const DWORD length =
      ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  return length > 0 && length < full.size() ? std::wstring(full.data(), length) : path;
}

}  // namespace

LoadedModule::LoadedModule(const std::string& path) {
  handle_ = ::LoadLibraryExW(FullPathOf(WideFromUtf8(path)).c_str(), nullptr,
                             LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  if (handle_ == nullptr) {
    error_ = LoaderReason();
  }
}

LoadedModule::~LoadedModule() {
  if (handle_ != nullptr) {
    ::FreeLibrary(static_cast<HMODULE>(handle_));
  }
}

void* LoadedModule::Symbol(const char* name) {
  const FARPROC address = ::GetProcAddress(static_cast<HMODULE>(handle_), name);
  if (address == nullptr) {
    error_ = LoaderReason();
    return nullptr;
  }
  return reinterpret_cast<void*>(address);
}

}  // namespace zaf::platform
