#include "core/shell_quote.h"

#include <algorithm>
#include <string_view>

namespace wassetup {

namespace {

bool IsSafeCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("@%+=:,./-_").find(c) != std::string_view::npos;
}

}  // namespace

// Runs of safe characters stay bare, other runs go between apostrophes, and each apostrophe
// of the argument is written as \' outside them: 'A=b c' becomes \''A=b c'\'.
std::string ShellQuote(const std::string& argument) {
  if (argument.empty()) {
    return "''";
  }
  std::string quoted;
  std::size_t start = 0;
  while (start <= argument.size()) {
    const std::size_t apostrophe = std::min(argument.find('\'', start), argument.size());
    const std::string run = argument.substr(start, apostrophe - start);
    const bool safe = std::all_of(run.begin(), run.end(), IsSafeCharacter);
    quoted += safe ? run : "'" + run + "'";
    if (apostrophe == argument.size()) {
      break;
    }
    quoted += "\\'";
    start = apostrophe + 1;
  }
  return quoted;
}

std::string ShellJoin(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    line += (line.empty() ? "" : " ") + ShellQuote(argument);
  }
  return line;
}

}  // namespace wassetup
