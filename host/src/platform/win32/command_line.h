#pragma once
// How a Windows command line is read back, for the Win32 implementations of processes and of
// printed commands. A program gets one string and splits it itself, by the C runtime's rules
// (CommandLineToArgvW's are the same); cmd.exe reads a batch script's line by its own rules.
// The texts are UTF-8: every character these rules look at is ASCII, which UTF-8 never uses
// inside another character.

#include <string>
#include <string_view>

namespace zaf::platform {

// Appends `argument`, an argument of a program after its name, so that the C runtime reads it
// back unchanged: bare when it can be, else (or with `quoteAlways`) quoted.
void AppendProgramArgument(std::string& line, std::string_view argument, bool quoteAlways = false);

// Appends a program's name (argv[0]), which the C runtime reads up to the next quote when it
// starts with one, else up to a blank, without escapes.
void AppendProgramName(std::string& line, std::string_view name);

// Appends `word` so that cmd.exe gives it to a batch script as one argument (%1) and reads
// nothing in it as syntax. It arrives unchanged only when WhyNotPassableToScript finds
// nothing; a quote or a percent sign in it would not (see command_line.cpp).
void AppendScriptWord(std::string& line, std::string_view word);

// True when `path` names a batch script (.bat or .cmd, in any letter case), which Windows runs
// only through cmd.exe.
bool IsBatchScript(std::string_view path);

}  // namespace zaf::platform
