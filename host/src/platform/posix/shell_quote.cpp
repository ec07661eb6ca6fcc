// Printing commands for a POSIX shell: apostrophes, inside which the shell reads nothing.

#include "host/platform/shell_quote.h"

#include <array>
#include <string_view>

namespace zaf::platform {

namespace {

// Characters a POSIX shell reads as themselves anywhere in a word, as a table: every printed
// command line runs each of its arguments through this test.
constexpr std::array<bool, 256> SafeCharacters() {
  std::array<bool, 256> safe{};
  for (char c = 'a'; c <= 'z'; ++c) {
    safe[static_cast<unsigned char>(c)] = true;
  }
  for (char c = 'A'; c <= 'Z'; ++c) {
    safe[static_cast<unsigned char>(c)] = true;
  }
  for (char c = '0'; c <= '9'; ++c) {
    safe[static_cast<unsigned char>(c)] = true;
  }
  for (const char c : std::string_view("@%+=:,./-_")) {
    safe[static_cast<unsigned char>(c)] = true;
  }
  return safe;
}

constexpr std::array<bool, 256> kSafeCharacters = SafeCharacters();

bool IsSafeRun(std::string_view run) {
  for (const char c : run) {
    if (!kSafeCharacters[static_cast<unsigned char>(c)]) {
      return false;
    }
  }
  return true;
}

// Runs of safe characters stay bare, other runs go between apostrophes, and each apostrophe
// of the argument is written as \' outside them: 'A=b c' becomes \''A=b c'\'. Appends in
// place, so a whole line is built without a temporary string per piece.
void AppendQuoted(std::string& line, std::string_view argument) {
  if (argument.empty()) {
    line += "''";
    return;
  }
  for (;;) {
    const std::size_t apostrophe = argument.find('\'');
    const std::string_view run = argument.substr(0, apostrophe);
    if (IsSafeRun(run)) {
      line += run;
    } else {
      line += '\'';
      line += run;
      line += '\'';
    }
    if (apostrophe == std::string_view::npos) {
      return;
    }
    line += "\\'";
    argument.remove_prefix(apostrophe + 1);
  }
}

}  // namespace

std::string ShellQuote(const std::string& argument) {
  std::string quoted;
  quoted.reserve(argument.size() + 2);
  AppendQuoted(quoted, argument);
  return quoted;
}

std::string ShellJoin(const std::vector<std::string>& arguments) {
  std::size_t size = 0;
  for (const std::string& argument : arguments) {
    size += argument.size() + 3;  // a blank and a pair of apostrophes, the common worst case
  }
  std::string line;
  line.reserve(size);
  for (const std::string& argument : arguments) {
    if (&argument != &arguments.front()) {
      line += ' ';
    }
    AppendQuoted(line, argument);
  }
  return line;
}

std::string ShellCommandLine(const std::vector<std::string>& argv) {
  return ShellJoin(argv);
}

}  // namespace zaf::platform
