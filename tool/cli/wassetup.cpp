// wassetup: the deployment tool that hosts the QIM setup plug-in. It loads the module, makes the
// plug-in, builds its form and drives its operations from the command line.
//
// `wassetup ui` hands the whole command over to wassetup-ui, the same tool with the HTTP server,
// which lies beside it, before any session is made. The server's library brings TLS, compression
// and their start-up work into every process that links it (about ten million instructions and
// 6 MiB resident at each start), so only the program that serves links it and every other
// command starts without it.

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "core/session.h"

namespace wassetup {

namespace {

// The arguments this process was started with, from /proc/self/cmdline.
std::vector<std::string> OwnArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> arguments;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find('\0', start);
    arguments.push_back(bytes.substr(start, end - start));
    start = end == std::string::npos ? bytes.size() : end + 1;
  }
  return arguments;
}

// Replaces this process with wassetup-ui and the same arguments; returns only by throwing.
void HandOverUi() {
  const std::string server = ProgramDirectory() + "/wassetup-ui";
  std::vector<std::string> arguments = OwnArguments();
  if (arguments.empty()) {
    throw ToolError("ui: cannot read this program's arguments to hand them to " + server);
  }
  arguments[0] = server;
  std::vector<char*> argv;
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  std::cout.flush();
  ::execv(server.c_str(), argv.data());
  const int error = errno;
  throw ToolError("ui: cannot run " + server + ": " + std::strerror(error));
}

}  // namespace

}  // namespace wassetup

int main(int argc, char** argv) {
  return wassetup::RunCommandLine(argc, argv, {&wassetup::HandOverUi, nullptr});
}
