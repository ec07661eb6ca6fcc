#pragma once
// Runs the real wassetup binary (with the real module) in a scratch folder and captures what
// it prints.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "test_support.h"

namespace qimtest {

using Args = std::vector<std::string>;
constexpr auto npos = std::string::npos;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

// A deployment with the sandbox's fake Java launcher and scripts.
inline const Args kDeploy = {"deploy", "--java", "./java", "--script-dir", "scripts"};

// `first` followed by `rest`.
inline Args Joined(Args first, const Args& rest) {
  first.insert(first.end(), rest.begin(), rest.end());
  return first;
}

// How a run ended: its exit status (-1 when it did not exit), or the signal that ended it, or
// neither when it ran past its limit and was killed.
struct ToolResult {
  int status = -1;
  int signal = 0;
  bool timedOut = false;
  std::string out;
  std::string err;
};

// What to do in the child before it becomes wassetup (its stdout, limits, signals).
using ChildSetup = std::function<void()>;

// Settings the plug-in finds valid, with `runtime` (an existing folder) as the run-time folder,
// each of `changes` in place of the one for its key.
inline std::map<std::string, std::string> ValidSettings(
    const std::string& runtime, const std::map<std::string, std::string>& changes = {}) {
  std::map<std::string, std::string> values = {
      {"qimdirrt", runtime},        {"mqpass", "mq-pw"},  {"databasePassword", "db-pw"},
      {"smtp", "mail.example.com"}, {"nuvserver", "nuv"}, {"qimip", "10.0.0.1"},
      {"nuvip", "10.0.0.2"},        {"fmcip", "10.0.0.3"}};
  for (const auto& [key, value] : changes) {
    values[key] = value;
  }
  return values;
}

// Polls `done` every 5 ms for at most `limit`; whether it came true.
template <typename Condition>
bool WaitFor(Condition done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Writes `text` to `path` as a program only its owner may run.
inline void WriteExecutable(const std::string& path, const std::string& text) {
  WriteFile(path, text);
  chmod(path.c_str(), 0700);
}

// A scratch folder, the working folder of every run, with its own preference folder.
class ToolSandbox {
 public:
  // wassetup --prefs-dir <prefs> ARGS..., with `input` on stdin and `environment` added
  // (YTQ_RT_OUT is unset unless `environment` sets it).
  ToolResult Run(Args arguments, const std::string& input = "",
                 const std::map<std::string, std::string>& environment = {},
                 const ChildSetup& setup = {}) const {
    return Finish(Start(std::move(arguments), ".run", input, environment, setup), ".run");
  }

  // Starts a run as Run does without waiting for it; its input and output are the files
  // "<name>.in", "<name>.out" and "<name>.err" of the scratch folder, so that runs with
  // different names may overlap; `setup` runs in the child once its streams are in place.
  // Finish waits for it.
  pid_t Start(Args arguments, const std::string& name, const std::string& input = "",
              const std::map<std::string, std::string>& environment = {},
              const ChildSetup& setup = {}) const {
    const std::string in = Path(name + ".in"), out = Path(name + ".out"), err = Path(name + ".err");
    WriteFile(in, input);
    arguments.insert(arguments.begin(), {"--prefs-dir", Path("prefs")});
    arguments.insert(arguments.begin(), program_.begin(), program_.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      unsetenv("YTQ_RT_OUT");
      for (const auto& [variable, value] : environment) {
        setenv(variable.c_str(), value.c_str(), 1);
      }
      dup2(open(in.c_str(), O_RDONLY), STDIN_FILENO);
      dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
      dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
      if (setup) {
        setup();
      }
      if (chdir(dir_.path().c_str()) == 0) {
        execv(argv[0], argv.data());
      }
      _exit(127);
    }
    return pid;
  }

  // Waits for the run `name` started; a run still going after `limit` is killed, so that a
  // tool that hangs fails the test instead of hanging it.
  ToolResult Finish(pid_t pid, const std::string& name,
                    std::chrono::milliseconds limit = std::chrono::minutes(5)) const {
    ToolResult result = Wait(pid, limit);
    result.out = ReadFile(Path(name + ".out"));
    result.err = ReadFile(Path(name + ".err"));
    return result;
  }

  // How the process `pid` (a child of this one) ended; killed after `limit`.
  static ToolResult Wait(pid_t pid, std::chrono::milliseconds limit) {
    ToolResult result;
    int status = 0;
    if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) != 0; }, limit)) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      result.timedOut = true;
      return result;
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
  }

  // Makes the folders "runtime" and "scripts", the two scripts (which succeed) and a fake Java
  // launcher "java" that runs `javaBody`, and stores settings the plug-in finds valid, each of
  // `changes` in place of the one for its key. Whether they were stored (a failure is reported
  // with what the tool said).
  bool PrepareDeployment(const std::string& javaBody,
                         const std::map<std::string, std::string>& changes = {}) const {
    mkdir(Path("runtime").c_str(), 0700);
    mkdir(Path("scripts").c_str(), 0700);
    WriteExecutable(Path("java"), "#!/bin/sh\n" + javaBody);
    for (const char* script : {"scripts/QIMFilesCp.bat", "scripts/QIMDBSetup.bat"}) {
      WriteExecutable(Path(script), "#!/bin/sh\nexit 0\n");
    }
    Args arguments{"set"};
    for (const auto& [key, value] : ValidSettings(Path("runtime"), changes)) {
      arguments.push_back(key + "=" + value);
    }
    const ToolResult stored = Run(arguments);
    EXPECT_EQ(stored.status, 0) << stored.err;
    return stored.status == 0;
  }

  // What Start runs before the arguments: wassetup, or another build through its runner.
  void RunWith(Args program) { program_ = std::move(program); }

  const std::string& Folder() const { return dir_.path(); }
  std::string Path(const std::string& name) const { return dir_.File(name); }
  std::string PreferenceFile() const { return Path("prefs/QIMSetup.prefs"); }

 private:
  TempDir dir_;
  Args program_{WASSETUP_PATH};
};

// The type and permission bits of `path` (not following a link); -1 when it is not there.
inline int ModeOf(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 ? static_cast<int>(status.st_mode) : -1;
}

// The number of lines of `text` (its '\n' characters).
inline int CountLines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// How many times `part` occurs in `text`, each occurrence after the end of the one before.
inline int Occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != npos; at = text.find(part, at + part.size())) {
    ++count;
  }
  return count;
}

}  // namespace qimtest
