// The desktop on Windows: the user's temporary folder, and the shell's "open" verb.

#include "host/platform/desktop.h"

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <thread>

#include "host/platform/wide_text.h"

namespace zaf::platform {

std::string UserRuntimeFolder() {
  wchar_t folder[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) {
    return ".";
  }
  // Without the separator it ends with, as on POSIX.
  return Utf8FromWide(std::wstring_view(folder, length > 1 ? length - 1 : length));
}

// The shell may take its time to start the handler (and asks for COM on the calling thread),
// so it runs on a thread of its own.
void OpenWithDesktop(const std::string& file,
                     const std::function<void(const std::string& reason)>& failed) {
  std::thread([path = WideFromUtf8(file), failed] {
    const HRESULT com =
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = path.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info)) {
      failed("the shell: " + SystemErrorText(::GetLastError()));
    }
    if (SUCCEEDED(com)) {
      ::CoUninitialize();
    }
  }).detach();
}

}  // namespace zaf::platform
