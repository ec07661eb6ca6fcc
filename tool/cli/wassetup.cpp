// wassetup: the deployment tool that hosts the QIM setup plug-in. It loads the module, makes the
// plug-in, builds its form and drives its operations from the command line.
//
// `wassetup ui` hands the whole command over to wassetup-ui, the same tool with the HTTP server,
// which lies beside it, before any session is made, so that every other command starts without
// the server.

#include <iostream>
#include <string>

#include "cli/command_line.h"
#include "host/platform/files.h"
#include "host/platform/program.h"

namespace wassetup {

namespace {

// Hands this run over to wassetup-ui with the same arguments; returns only by throwing.
void HandOverUi() {
  const std::string server =
      zaf::platform::JoinPath(zaf::platform::ProgramFolder(), QIM_DIALOG_PROGRAM);
  std::cout.flush();
  const std::string reason = zaf::platform::HandOverTo(server);
  throw ToolError("ui: cannot run " + server + ": " + reason);
}

}  // namespace

}  // namespace wassetup

int main(int argc, char** argv) {
  return wassetup::RunCommandLine(argc, argv, {&wassetup::HandOverUi, nullptr});
}
