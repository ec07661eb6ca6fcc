#pragma once
// Printing commands for the operator: each argument quoted for the operator's shell, so that a
// printed line pasted there runs exactly the same argument vector. On POSIX that is a POSIX
// shell; on Windows cmd.exe, whose line reaches a program through the C runtime's parsing of
// its command line and a batch script through cmd's own.

#include <string>
#include <vector>

#include "host/zaf_export.h"

namespace zaf::platform {

// One argument of a program, alone, as the shell reads it back: on POSIX bare when it holds
// only safe characters, else in apostrophes with each apostrophe written as '\''; on Windows
// quoted as the C runtime reads it back, with what cmd would read kept from cmd.
ZAF_API std::string ShellQuote(const std::string& argument);

// The arguments quoted and joined by blanks: on POSIX each as ShellQuote quotes it; on Windows
// kept from cmd as one line, since cmd's quoting runs on from one argument into the next.
ZAF_API std::string ShellJoin(const std::vector<std::string>& arguments);

// The whole command `argv`, argv[0] being the program: on POSIX ShellJoin(argv); on Windows
// a batch script's line as cmd.exe reads it (as RunCommand gives it to cmd), else the
// program's name followed by its quoted arguments.
ZAF_API std::string ShellCommandLine(const std::vector<std::string>& argv);

}  // namespace zaf::platform
