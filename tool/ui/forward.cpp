// `wassetup ui` in the wassetup program: before any session is made, hands the whole command over
// to wassetup-ui, the same tool with the HTTP server, which lies beside it. The server's library
// brings TLS, compression and their start-up work into every process that links it (about ten
// million instructions and 6 MiB resident at each start), so only the program that serves links it
// and every other command starts without it.

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "ui/server.h"

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

}  // namespace

// Replaces this process with wassetup-ui and the same arguments; returns only by throwing.
bool HandOverUi() {
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

// Never reached: HandOverUi has replaced this program before a session exists.
Outcome RunUi(Session& /*session*/, const UiOptions& /*options*/) {
  throw ToolError("ui: the dialog is served by wassetup-ui");
}

}  // namespace wassetup
