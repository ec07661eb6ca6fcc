#include "tests/tool/tool_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

namespace qimtest {

ToolSandbox::ToolSandbox() : prefs_(dir_.File("prefs")) {}

ToolResult ToolSandbox::Run(const std::vector<std::string>& arguments, const std::string& input,
                            const std::map<std::string, std::string>& environment) const {
  std::vector<std::string> withPrefs = {"--prefs-dir", prefs_};
  withPrefs.insert(withPrefs.end(), arguments.begin(), arguments.end());
  return RunWithoutPrefs(withPrefs, input, environment);
}

ToolResult ToolSandbox::RunWithoutPrefs(
    const std::vector<std::string>& arguments, const std::string& input,
    const std::map<std::string, std::string>& environment) const {
  const std::string inFile = dir_.File(".stdin");
  const std::string outFile = dir_.File(".stdout");
  const std::string errFile = dir_.File(".stderr");
  WriteFile(inFile, input);

  std::vector<std::string> argv = {WASSETUP_PATH};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (std::string& argument : argv) {
    pointers.push_back(argument.data());
  }
  pointers.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir_.path().c_str()) != 0) {
      _exit(120);
    }
    unsetenv("YTQ_RT_OUT");
    for (const auto& [name, value] : environment) {
      setenv(name.c_str(), value.c_str(), 1);
    }
    dup2(open(inFile.c_str(), O_RDONLY), STDIN_FILENO);
    dup2(open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
    dup2(open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
    execv(pointers[0], pointers.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ToolResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFile(outFile);
  result.err = ReadFile(errFile);
  return result;
}

int CountLines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

nlohmann::json ToolSandbox::RunJson(const std::vector<std::string>& arguments) const {
  const ToolResult result = Run(arguments);
  EXPECT_EQ(result.status, 0) << result.err;
  return nlohmann::json::parse(result.out, nullptr, false);
}

}  // namespace qimtest
