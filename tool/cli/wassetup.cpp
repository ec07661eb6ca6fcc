// wassetup: the deployment tool that hosts the QIM setup plug-in. It loads the module, makes the
// plug-in, builds its form and drives its operations from the command line.
//
// `wassetup ui` hands the whole command over to wassetup-ui, the same tool with the HTTP server,
// which lies beside it, before any session is made. The server's library brings TLS, compression
// and their start-up work into every process that links it (about ten million instructions and
// 6 MiB resident at each start), so only the program that serves links it and every other
// command starts without it. Where the build has no wassetup-ui (QIM_DIALOG_MISSING says why),
// `ui` says so.

#include <iostream>
#include <string>

#include "cli/command_line.h"
#include "host/platform/files.h"
#include "host/platform/program.h"

namespace wassetup {

namespace {

// Why this build has no setup dialog, or empty when wassetup-ui lies beside the tool.
constexpr const char* kDialogMissing = QIM_DIALOG_MISSING;

// Hands this run over to wassetup-ui with the same arguments; returns only by throwing.
void HandOverUi() {
  if (*kDialogMissing != '\0') {
    throw ToolError(std::string("ui: ") + kDialogMissing);
  }
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
