#pragma once
// The user's desktop session: where its short-lived private files go, and the program the
// desktop opens a file with.

#include <functional>
#include <string>

#include "host/zaf_export.h"

namespace zaf::platform {

// The folder for the user's short-lived files: on POSIX $XDG_RUNTIME_DIR, else $TMPDIR, else
// /tmp; on Windows the user's temporary folder (GetTempPathW: %TMP%, else %TEMP%, else the
// profile's). A caller makes an owner-only folder of its own there (MakeUniqueFolder).
ZAF_API std::string UserRuntimeFolder();

// Opens `file` with the program the desktop chose for its kind (a browser for a page) and
// returns at once: on POSIX xdg-open, in a process group of its own (a program it starts must
// not get the Ctrl+C that stops this one), with no stream or descriptor of this process; on
// Windows ShellExecuteExW's "open". The file's path is all the handler is given. When the
// handler cannot be started or fails, `failed` is called with the reason, maybe later and from
// another thread.
ZAF_API void OpenWithDesktop(const std::string& file,
                             const std::function<void(const std::string& reason)>& failed);

}  // namespace zaf::platform
