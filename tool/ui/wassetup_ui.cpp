// wassetup-ui: wassetup with the HTTP server of the setup dialog, which `wassetup ui` hands its
// command over to. It runs every command as wassetup does and serves the dialog itself.

#include "cli/command_line.h"

int main(int argc, char** argv) {
  return wassetup::RunCommandLine(argc, argv, {nullptr, &wassetup::RunUi});
}
