// The two ways Windows reads a command line back into arguments, and what cannot survive the
// second one.

#include "platform/win32/command_line.h"

#include <optional>

#include "host/platform/process.h"

namespace zaf::platform {

namespace {

bool IsAsciiAlphanumeric(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Characters that cmd.exe reads as themselves anywhere in a script's argument. Everything else
// is quoted: the separators of a script's arguments (blank, tab, ',', ';', '=') and cmd's
// syntax ('&', '|', '<', '>', '^', '(', ')', '!', '%', '"'), and for simplicity every other
// character, non-ASCII ones included.
bool IsPlainForScript(char c) {
  return IsAsciiAlphanumeric(c) || std::string_view("\\/:._-+'").find(c) != std::string_view::npos;
}

}  // namespace

// The C runtime splits at blanks and tabs outside quotes; a quote toggles quoting; backslashes
// are themselves except before a quote, where 2n backslashes give n and quote, and 2n+1 give n
// and a literal quote. So an argument without blank, tab or quote goes bare (its backslashes
// stay as they are), and any other is quoted with each quote escaped, the backslashes before
// a quote doubled, and those at the end doubled so that they do not escape the closing quote.
void AppendProgramArgument(std::string& line, std::string_view argument, bool quoteAlways) {
  if (!quoteAlways && !argument.empty() &&
      argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    line += argument;
    return;
  }
  line += '"';
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      line.append(2 * backslashes + 1, '\\');
    } else {
      line.append(backslashes, '\\');
    }
    backslashes = 0;
    line += c;
  }
  line.append(2 * backslashes, '\\');
  line += '"';
}

// A file name holds no quote, so quoting it whole when it has a blank or a tab is enough.
void AppendProgramName(std::string& line, std::string_view name) {
  const bool quoted = name.empty() || name.find_first_of(" \t") != std::string_view::npos;
  if (quoted) {
    line += '"';
  }
  line += name;
  if (quoted) {
    line += '"';
  }
}

// cmd.exe reads a script's line in phases: first it expands %NAME% everywhere, quotes or not;
// then it splits commands and redirections at & | < > and ( ) and takes ^ as an escape, both
// only outside quotes, where a quote toggles quoting; with delayed expansion on it would also
// expand !NAME!, which cmd /v:off excludes. The script then gets its arguments split at
// blanks, tabs, ',', ';' and '=' outside quotes, each with its quotes (%~1 removes the outer
// pair). So:
// - an argument with any character other than letters, digits and \ / : . _ - + ' is quoted
//   whole: inside quotes & | < > ^ ( ) ! and the separators are plain text, so none of them can
//   start a command, redirect, escape or split; an empty one is "" and keeps its place;
// - a quote inside is doubled, so that cmd's quoting toggles twice and stays on for the rest:
//   the argument then cannot end its quotes early and expose what follows. The script receives
//   both quotes, however, so WhyNotPassableToScript refuses a quote;
// - backslashes are left as they are, also before the closing quote: cmd gives them no meaning
//   (doubling them, as for a program, would hand the script two);
// - a percent sign would be expanded inside the quotes too: WhyNotPassableToScript refuses it.
void AppendScriptWord(std::string& line, std::string_view word) {
  bool plain = !word.empty();
  for (const char c : word) {
    plain = plain && IsPlainForScript(c);
  }
  if (plain) {
    line += word;
    return;
  }
  line += '"';
  for (const char c : word) {
    line += c;
    if (c == '"') {
      line += '"';
    }
  }
  line += '"';
}

bool IsBatchScript(std::string_view path) {
  if (path.size() < 4) {
    return false;
  }
  std::string extension(path.substr(path.size() - 4));
  for (char& c : extension) {
    c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return extension == ".bat" || extension == ".cmd";
}

// What has no form on cmd.exe's line that reaches the script unchanged:
// - a NUL ends the line, a line feed or a carriage return ends the command, and cmd reads other
//   control characters in its own ways (Ctrl+Z as the end of the input);
// - a quote: inside quotes cmd has no escape for one; doubled, it keeps the quoting safe but
//   the script receives two;
// - a percent sign: cmd expands %NAME% in a script's line even inside quotes, and has no
//   documented escape for it there (%% is one only inside a script). The one known way,
//   writing % as %%cd:~,%, rests on an undocumented detail of cmd's substring expansion that
//   cannot be checked here (Wine's cmd reads it otherwise), so such a value is refused rather
//   than sent in a form that may be expanded.
std::optional<std::string> WhyNotPassableToScript(const std::string& argument) {
  for (const char c : argument) {
    if (c == '\0') {
      return "it holds a NUL character, which would end cmd.exe's line";
    }
    if (c == '\n' || c == '\r') {
      return "it holds a line break, which would end the command in cmd.exe";
    }
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
      return "it holds a control character, which cmd.exe may read as the end of its input";
    }
    if (c == '"') {
      return "it holds a double quote, which cmd.exe cannot pass to a script unchanged";
    }
    if (c == '%') {
      return "it holds a percent sign, which cmd.exe would expand as a variable (%NAME%) in "
             "the script's command line, even between quotes";
    }
  }
  return std::nullopt;
}

}  // namespace zaf::platform
