// The user's folders on POSIX, where the XDG base directories put them.

#include "host/platform/user_folders.h"

#include <cstdlib>

namespace zaf::platform {

std::string UserSettingsFolder(const std::string& application, std::string& problem) {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && *config != '\0') {
    return std::string(config) + "/" + application;
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') {
    problem = "HOME is not set";
    return "";
  }
  return std::string(home) + "/.config/" + application;
}

std::string UserSettingsFolderRule(const std::string& application) {
  return "$XDG_CONFIG_HOME/" + application + ", else ~/.config/" + application;
}

std::string UserHomeFolder() {
  const char* home = std::getenv("HOME");
  return home != nullptr && *home == '/' ? home : "";
}

std::vector<std::string> FileSystemRoots() {
  return {"/"};
}

}  // namespace zaf::platform
