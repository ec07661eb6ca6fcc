#pragma once
// The command line that wassetup and wassetup-ui share; each program's main() runs it.

#include "core/tool_error.h"
#include "ui/server.h"

namespace wassetup {

// What `ui` does in the program: wassetup hands the whole command over to wassetup-ui before
// any session is made (`handOver` replaces the process, or throws ToolError); wassetup-ui, with
// no `handOver`, serves the dialog on the session.
struct UiCommand {
  void (*handOver)() = nullptr;
  Outcome (*serve)(Session& session, const UiOptions& options) = nullptr;
};

// Parses the command line and runs the command named, with the standard streams prepared and
// checked (core/output_streams.h). Returns the exit status: the command's outcome, or 2 for bad
// usage, an unusable environment or a fault that escaped the command.
int RunCommandLine(int argc, char** argv, const UiCommand& ui);

}  // namespace wassetup
