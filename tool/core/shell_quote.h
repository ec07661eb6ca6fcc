#pragma once
// Printing commands: each argument quoted for a POSIX shell, so a printed line can be pasted
// into a shell and runs exactly the same argument vector.

#include <string>
#include <vector>

namespace wassetup {

// The argument as a POSIX shell word: bare when it holds only safe characters, else in
// apostrophes with each apostrophe written as '\''.
std::string ShellQuote(const std::string& argument);

// The arguments quoted one by one and joined by blanks.
std::string ShellJoin(const std::vector<std::string>& arguments);

}  // namespace wassetup
