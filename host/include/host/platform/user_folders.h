#pragma once
// The folders that belong to the user who runs the program.

#include <string>
#include <vector>

#include "host/zaf_export.h"

namespace zaf::platform {

// The folder where `application` keeps that user's settings: on POSIX
// $XDG_CONFIG_HOME/<application>, else $HOME/.config/<application>; on Windows
// <the roaming application data folder>\<application> (%APPDATA%\<application>). Empty when it
// cannot be known, and `problem` then says why ("HOME is not set").
ZAF_API std::string UserSettingsFolder(const std::string& application, std::string& problem);

// Where UserSettingsFolder looks, for the operator: "$XDG_CONFIG_HOME/<application>, else
// ~/.config/<application>" on POSIX, "%APPDATA%\<application>" on Windows.
ZAF_API std::string UserSettingsFolderRule(const std::string& application);

// The user's home folder, as an absolute path: $HOME on POSIX; on Windows %USERPROFILE%, else
// the profile folder the system knows. Empty when it is not known.
ZAF_API std::string UserHomeFolder();

// The folders at the top of the file system, above which a folder chooser cannot go: "/" on
// POSIX; on Windows the root of each drive (C:\, D:\), in the order of their letters.
ZAF_API std::vector<std::string> FileSystemRoots();

}  // namespace zaf::platform
