// The promises of running a command that hold on every system, over the commands each system's
// test file makes (process_test.h): arguments that reach a program intact however it reads
// them, printed lines that the system's shell reads back as the same arguments, both pipes
// whole with the status after them, and a command that cannot start.

#include "process_test.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "host/platform/shell_quote.h"
#include "test_support.h"

namespace qimtest {
namespace {

using ::testing::HasSubstr;

// Arguments that a careless command line would split, merge, shorten, expand or hand to the
// shell as syntax, in groups: blanks, an empty one and control characters; trailing
// backslashes before the closing quote; quotes and backslashes; apostrophes and non-ASCII; the
// shells' syntax; cmd's expansions.
const std::vector<Args> kHostileArguments = {
    {"plain", "two words", " padded ", "", "tab\there", "line\nbreak"},
    {"C:\\Program Files\\QIM\\", "C:\\dir\\\\", "C:\\dir\\"},
    {"a\"b", "\"", "\"\"", "a\\\"b", "a\\\\\"b c", "\\\\server\\share"},
    {"'C:\\QIM\\x.def'", "it's", "\xC3\xA9t\xC3\xA9 \xE2\x9C\x93 \xE8\xA8\xAD\xE5\xAE\x9A"},
    {"a&echo PWNED>pwned.txt", "|<>^()", "^\"&\"^", "$HOME *", "x; touch P", "`id`"},
    {"!PATH!", "%PATH%", "100%"},
};

// The hostile arguments but those holding a character of `leaveOut`.
Args HostileArguments(const char* leaveOut = "") {
  Args arguments;
  for (const Args& group : kHostileArguments)
    for (const std::string& argument : group)
      if (argument.find_first_of(leaveOut) == std::string::npos)
        arguments.push_back(argument);
  return arguments;
}

TEST(ProcessTest, EveryWayOfReadingArgumentsGetsThemIntact) {
  const Args arguments = HostileArguments();
  for (Args argv : ArgumentReaders()) {
    const std::string reader = argv.front() + " " + argv.back();
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const Ran ran = Execute(argv);
    EXPECT_EQ(ran.ending, "exited 0") << reader;
    EXPECT_EQ(Words(ran.out), arguments) << reader;
  }
}

// The printed line, pasted at the shell's prompt, runs the same argument vector: the shell's
// syntax stays quoted or escaped. Line feeds and percent signs are left out: Wine's cmd
// expands a line as real cmd does only inside scripts (see README, On Windows), and its
// prompt ends at a line feed.
TEST(ProcessTest, APrintedLineGivesTheShellTheSameArguments) {
  const Args reader = ArgumentReaders().front();
  const Args arguments = HostileArguments("\n%");
  Args argv = reader;
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const std::string line = zaf::platform::ShellCommandLine(argv);
  const Args words = Words(RunInShell(line));
  ASSERT_GE(words.size(), arguments.size()) << line;
  EXPECT_EQ(Args(words.begin(), words.begin() + arguments.size()), arguments) << line;
}

// Both streams come through their own pipe, whole and in order, while the command writes them
// by turns and more than a pipe holds; each ends once, and then the status.
TEST(ProcessTest, BothStreamsComeWholeEachEndsOnceThenTheStatus) {
  const std::string dots(100, '.');
  std::string out;
  std::string err;
  for (int index = 0; index < 1000; ++index) {
    out += "out " + std::to_string(index) + " " + dots + "\n";
    err += "err " + std::to_string(index) + " " + dots + "\n";
  }
  const Ran ran = Execute(Chatter(1000, dots));
  EXPECT_EQ(ran.out, out);
  EXPECT_EQ(ran.err, err);
  EXPECT_EQ(ran.ends, 2);
  EXPECT_EQ(ran.ending, "exited 3");
}

TEST(ProcessTest, ACommandThatCannotStartSaysWhy) {
  const TempDir temp;
  for (const auto& [argv, reason] : std::vector<std::pair<Args, std::string>>{
           {{}, "nothing to run"},
           {{temp.File("missing.exe")}, MissingProgramReason()},
           {{"qim-no-such-program"}, MissingProgramReason()},
           {{ArgumentReaders().front()[0], std::string("a\0b", 3)}, "argument 1 holds a NUL"},
       }) {
    EXPECT_THAT(Execute(argv).ending,
                ::testing::AllOf(::testing::StartsWith("not started: "), HasSubstr(reason)))
        << (argv.empty() ? "nothing" : argv[0]);
  }
}

}  // namespace
}  // namespace qimtest
