#pragma once
// Printing commands: each argument quoted for the operator's shell, so a printed line can be
// pasted there and runs exactly the same argument vector (the platform layer's quoting).

#include "host/platform/shell_quote.h"

namespace wassetup {

using zaf::platform::ShellCommandLine;
using zaf::platform::ShellJoin;
using zaf::platform::ShellQuote;

}  // namespace wassetup
