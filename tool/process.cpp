#include "tool/process.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <iostream>

extern char** environ;

namespace wassetup {

namespace {

// Passes the child's stderr on to ours and keeps its last non-blank line.
std::string RelayErrorStream(int fd) {
  std::string lastLine;
  std::string pending;
  char buffer[4096];
  for (;;) {
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      break;
    }
    std::cerr.write(buffer, count);
    pending.append(buffer, static_cast<std::size_t>(count));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (line.find_first_not_of(" \t\r") != std::string::npos) {
        lastLine = line;
      }
    }
  }
  if (pending.find_first_not_of(" \t\r") != std::string::npos) {
    lastLine = pending;
  }
  std::cerr.flush();
  return lastLine;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv) {
  ProcessResult result;
  if (argv.empty()) {
    result.startError = "nothing to run";
    return result;
  }
  std::vector<char*> arguments;
  for (const std::string& argument : argv) {
    arguments.push_back(const_cast<char*>(argument.c_str()));
  }
  arguments.push_back(nullptr);

  int errorPipe[2];
  if (pipe2(errorPipe, O_CLOEXEC) != 0) {
    result.startError = std::strerror(errno);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, errorPipe[1], STDERR_FILENO);

  std::cout.flush();
  pid_t pid = 0;
  const int spawnError =
      posix_spawnp(&pid, arguments[0], &actions, nullptr, arguments.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(errorPipe[1]);
  if (spawnError != 0) {
    close(errorPipe[0]);
    result.startError = std::strerror(spawnError);
    return result;
  }
  result.started = true;
  result.lastErrorLine = RelayErrorStream(errorPipe[0]);
  close(errorPipe[0]);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace wassetup
