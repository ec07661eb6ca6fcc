#pragma once
// What the process tests of every system share: running a command and reading back what it
// wrote. The commands themselves differ by system: posix_process_test.cpp and
// win32_process_test.cpp each define the four functions below, and process_test.cpp holds the
// cases both systems must pass.

#include <functional>
#include <string>
#include <vector>

#include "host/platform/process.h"

namespace qimtest {

using Args = std::vector<std::string>;

// Commands that write each argument after their own, each followed by a NUL, as the program
// read it: one for each way the system hands a program its arguments.
std::vector<Args> ArgumentReaders();
// A command that writes `lines` lines "out I <dots>" on stdout and "err I <dots>" on stderr
// by turns, I counting from 0 and <dots> its last argument, then exits with 3.
Args Chatter(int lines, const std::string& dots);
// What the system's shell writes on stdout when it runs the printed command line `line`.
std::string RunInShell(const std::string& line);
// The reason in the system's words for a program that is not there.
std::string MissingProgramReason();

struct Ran {
  std::string ending;  // "exited N", "signal N", "terminated" or "not started: REASON"
  std::string out;
  std::string err;
  int ends = 0;  // how often the end of a stream was told
};

// Runs `argv`; `onOutput` sees each piece of its standard output as it comes.
inline Ran Execute(
    const Args& argv, const std::function<void(const std::string& out)>& onOutput = [](auto&) {}) {
  using zaf::platform::CommandResult;
  Ran ran;
  const CommandResult result = zaf::platform::RunCommand(
      argv, [&](zaf::platform::OutputStream stream, std::string_view bytes, bool ended) {
        ran.ends += ended ? 1 : 0;
        (stream == zaf::platform::OutputStream::kOut ? ran.out : ran.err).append(bytes);
        if (stream == zaf::platform::OutputStream::kOut && !bytes.empty())
          onOutput(ran.out);
      });
  using Ending = CommandResult::Ending;
  ran.ending = result.ending == Ending::kExited       ? "exited " + std::to_string(result.status)
               : result.ending == Ending::kSignalled  ? "signal " + std::to_string(result.signal)
               : result.ending == Ending::kTerminated ? std::string("terminated")
                                                      : "not started: " + result.reason;
  return ran;
}

// The NUL-terminated words in `output`.
inline Args Words(const std::string& output) {
  Args words;
  for (std::size_t start = 0, end; (end = output.find('\0', start)) != std::string::npos;
       start = end + 1)
    words.push_back(output.substr(start, end - start));
  return words;
}

}  // namespace qimtest
