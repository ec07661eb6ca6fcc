// Printed command lines must paste into a POSIX shell and give back the same arguments.

#include "tool/shell_quote.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>

namespace {

// What /bin/sh makes of `printf '%s\n' LINE`: one argument a line.
std::string ShellEcho(const std::string& line) {
  const std::string command = "printf '%s\\n' " + line;
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  std::array<char, 256> buffer{};
  while (pipe != nullptr && std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) {
    output += buffer.data();
  }
  if (pipe != nullptr) {
    pclose(pipe);
  }
  return output;
}

TEST(ShellQuoteTest, SafeWordsStayBareAndOthersAreQuoted) {
  const struct {
    const char* argument;
    const char* quoted;
  } cases[] = {
      {"-DLoadJars=QimPlugInBatch.jar", "-DLoadJars=QimPlugInBatch.jar"},
      {"", "''"},
      {"a b", "'a b'"},
      {"'C:\\QIM'", "\\''C:\\QIM'\\'"},
      {"it's", "it\\'s"},
  };
  for (const auto& item : cases) {
    EXPECT_EQ(wassetup::ShellQuote(item.argument), item.quoted) << item.argument;
  }
}

TEST(ShellQuoteTest, TheShellGivesBackEveryArgumentUnchanged) {
  const std::vector<std::string> arguments = {
      "plain", "", "two words", "'quoted path'", "x; touch PWNED", "$(touch PWNED)",
      "`id`", "back\\slash", "''", "'\\'", "tab\there", "100%", "a\"b", "ünïcode"};
  std::string expected;
  for (const std::string& argument : arguments) {
    expected += argument + "\n";
  }
  EXPECT_EQ(ShellEcho(wassetup::ShellJoin(arguments)), expected);
}

}  // namespace
