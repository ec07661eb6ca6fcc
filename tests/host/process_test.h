#pragma once
// The commands that the process tests of every system run (with test_support.h's Execute)
// differ by system: posix_process_test.cpp and win32_process_test.cpp each define the four
// functions below, and process_test.cpp holds the cases both systems must pass.

#include <string>
#include <vector>

#include "test_support.h"

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

}  // namespace qimtest
