// The user's folders on Windows. The settings live in the roaming application data folder;
// the variable APPDATA, when set, names it first, as XDG_CONFIG_HOME does on POSIX, so that a
// test or an operator can move it.

#include "host/platform/user_folders.h"

#include <shlobj.h>
#include <windows.h>

#include "host/platform/environment.h"
#include "host/platform/wide_text.h"

namespace zaf::platform {

namespace {

// The known folder `id`, in UTF-8; empty when the system does not know it.
std::string KnownFolder(REFKNOWNFOLDERID id, HRESULT& result) {
  wchar_t* known = nullptr;
  result = ::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &known);
  std::string folder = SUCCEEDED(result) ? Utf8FromWide(known) : "";
  ::CoTaskMemFree(known);
  return folder;
}

}  // namespace

std::string UserSettingsFolder(const std::string& application, std::string& problem) {
  const char* appData = EnvironmentValue("APPDATA");
  if (appData != nullptr && *appData != '\0') {
    return std::string(appData) + "\\" + application;
  }
  HRESULT result = S_OK;
  const std::string folder = KnownFolder(FOLDERID_RoamingAppData, result);
  if (folder.empty()) {
    problem = "the application data folder is unknown (" +
              SystemErrorText(static_cast<unsigned long>(result)) + ") and APPDATA is not set";
    return "";
  }
  return folder + "\\" + application;
}

std::string UserSettingsFolderRule(const std::string& application) {
  return "%APPDATA%\\" + application;
}

std::string UserHomeFolder() {
  const char* profile = EnvironmentValue("USERPROFILE");
  if (profile != nullptr && *profile != '\0') {
    return profile;
  }
  HRESULT result = S_OK;
  return KnownFolder(FOLDERID_Profile, result);
}

std::vector<std::string> FileSystemRoots() {
  // Each drive's root, ended by a NUL: "C:\\<NUL>D:\\<NUL>".
  std::wstring drives(::GetLogicalDriveStringsW(0, nullptr), L'\0');
  drives.resize(::GetLogicalDriveStringsW(static_cast<DWORD>(drives.size()), drives.data()));
  std::vector<std::string> roots;
  for (std::size_t start = 0, end; (end = drives.find(L'\0', start)) != std::wstring::npos;
       start = end + 1) {
    if (end > start) {
      roots.push_back(Utf8FromWide(std::wstring_view(drives).substr(start, end - start)));
    }
  }
  if (roots.empty()) {
    roots.push_back("C:\\");
  }
  return roots;
}

}  // namespace zaf::platform
