#pragma once
// The console: reading a secret from it without showing it.

#include <optional>
#include <string>

#include "host/zaf_export.h"

namespace zaf::platform {

// One line of standard input, without its line ending; none at the end of the input. On a
// terminal (a console on Windows), `prompt` is written on stderr first and the line is not
// echoed; the terminal gets its settings back on every way out: the line read, an error, and
// on POSIX a signal that ends or stops the process (Ctrl+C, Ctrl+\, Ctrl+Z, a hang-up, kill),
// after which the signal takes its course; on Windows Ctrl+C, Ctrl+Break or closing the
// console, before the process ends. Input that is no terminal is read as the bytes it holds.
ZAF_API std::optional<std::string> ReadLineHidden(const std::string& prompt);

}  // namespace zaf::platform
