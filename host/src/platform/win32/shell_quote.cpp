// Printing commands for cmd.exe. A line pasted at cmd's prompt goes through cmd's reading
// first (%NAME% expanded everywhere; & | < > ^ ( ) live outside quotes, where ^ escapes) and
// then, for a program, through the C runtime's (command_line.cpp). So the arguments are quoted
// for the C runtime, and the line is then kept from cmd: the characters that cmd would read
// outside its own quoting get a ^, and a percent sign inside it is taken out of the quotes to
// be escaped. A batch script's line is printed as RunCommand gives it to cmd.

#include "host/platform/shell_quote.h"

#include <string_view>

#include "platform/win32/command_line.h"

namespace zaf::platform {

namespace {

bool IsCmdSyntax(char c) {
  return std::string_view("&|<>^()!").find(c) != std::string_view::npos;
}

// cmd toggles its quoting at every quote, also at those the C runtime reads as escaped (\"),
// so the two may disagree, within an argument and after it: this follows cmd's quoting over the
// whole line. A character of cmd's syntax outside it gets a ^, and so does a percent sign;
// inside, a percent sign is put between a closing and an opening quote, escaped (the
// backslashes before that closing quote doubled, as the C runtime wants them), since cmd has
// no escape inside quotes. (! needs no escape with delayed expansion off, cmd's default; the ^
// before it is harmless then.) A percent sign is always within an argument that the C runtime
// reads quoted, so closing and opening its quotes there changes nothing for it.
std::string ShieldedFromCmd(std::string_view line) {
  std::string shielded;
  bool inside = false;  // cmd's quoting
  std::size_t backslashes = 0;
  for (const char c : line) {
    if (c == '"') {
      inside = !inside;
      shielded += c;
    } else if (c == '%') {
      if (inside) {
        shielded.append(backslashes, '\\');
        shielded += "\"^%\"";
      } else {
        shielded += "^%";
      }
    } else {
      if (!inside && IsCmdSyntax(c)) {
        shielded += '^';
      }
      shielded += c;
    }
    backslashes = c == '\\' ? backslashes + 1 : 0;
  }
  return shielded;
}

// The arguments as the C runtime reads them back, each quoted also when only cmd would read a
// character of it: "a&b" reads better than a^&b, and the quotes cost the program nothing.
std::string ProgramLine(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    if (&argument != &arguments.front()) {
      line += ' ';
    }
    AppendProgramArgument(line, argument, argument.find_first_of("&|<>^()!%") != std::string::npos);
  }
  return line;
}

}  // namespace

std::string ShellQuote(const std::string& argument) {
  return ShieldedFromCmd(ProgramLine({argument}));
}

std::string ShellJoin(const std::vector<std::string>& arguments) {
  return ShieldedFromCmd(ProgramLine(arguments));
}

std::string ShellCommandLine(const std::vector<std::string>& argv) {
  if (argv.empty() || !IsBatchScript(argv.front())) {
    return ShellJoin(argv);
  }
  std::string line = "\"" + argv.front() + "\"";
  for (std::size_t index = 1; index < argv.size(); ++index) {
    line += ' ';
    AppendScriptWord(line, argv[index]);
  }
  return line;
}

}  // namespace zaf::platform
