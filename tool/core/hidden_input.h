#pragma once
// Reading a secret from the terminal without showing it.

#include <optional>
#include <string>

namespace wassetup {

// One line of standard input, without its line ending; none at the end of the input. On a
// terminal, `prompt` is written on stderr first and the line is not echoed. The terminal gets
// its settings back on every way out: the line read, an error, and a signal that ends or stops
// the tool (Ctrl+C, Ctrl+\, Ctrl+Z, a hang-up, kill), after which the signal takes its course.
std::optional<std::string> ReadLineHidden(const std::string& prompt);

}  // namespace wassetup
