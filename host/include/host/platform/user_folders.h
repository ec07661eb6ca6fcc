#pragma once
// The folders that belong to the user who runs the program.

#include <string>

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

}  // namespace zaf::platform
