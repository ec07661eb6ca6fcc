// The user's folders on Windows. The settings live in the roaming application data folder;
// the variable APPDATA, when set, names it first, as XDG_CONFIG_HOME does on POSIX, so that a
// test or an operator can move it.

#include "host/platform/user_folders.h"

#include <shlobj.h>
#include <windows.h>

#include "host/platform/environment.h"
#include "host/platform/wide_text.h"

namespace zaf::platform {

std::string UserSettingsFolder(const std::string& application, std::string& problem) {
  const char* appData = EnvironmentValue("APPDATA");
  if (appData != nullptr && *appData != '\0') {
    return std::string(appData) + "\\" + application;
  }
  wchar_t* known = nullptr;
  const HRESULT result =
      ::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DEFAULT, nullptr, &known);
  std::string folder;
  if (SUCCEEDED(result)) {
    folder = Utf8FromWide(known) + "\\" + application;
  } else {
    problem = "the application data folder is unknown (" +
              SystemErrorText(static_cast<unsigned long>(result)) + ") and APPDATA is not set";
  }
  ::CoTaskMemFree(known);
  return folder;
}

std::string UserSettingsFolderRule(const std::string& application) {
  return "%APPDATA%\\" + application;
}

}  // namespace zaf::platform
