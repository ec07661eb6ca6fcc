// The Win32 side of processes, printed commands and the console: arguments that reach a
// program and a batch script intact (or are refused), printed lines that cmd.exe reads back,
// the job that a stop ends, the pipes, the handles a command inherits and hidden input from a
// pipe. Windows builds only; the commands are process_probe.exe, built beside this program.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/platform/console.h"
#include "host/platform/environment.h"
#include "host/platform/process.h"
#include "host/platform/shell_quote.h"
#include "host/platform/wide_text.h"
#include "test_support.h"

namespace {

using ::testing::HasSubstr;
using zaf::platform::CommandResult;
using zaf::platform::OutputStream;
namespace fs = std::filesystem;

using Args = std::vector<std::string>;

std::string ProbePath() {
  wchar_t self[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return (fs::path(std::wstring(self, length)).parent_path() / "process_probe.exe").u8string();
}

struct Ran {
  CommandResult result;
  std::string out;
  std::string err;
};

Ran RunCollecting(const Args& argv) {
  Ran ran;
  ran.result = zaf::platform::RunCommand(
      argv, [&ran](OutputStream stream, std::string_view bytes, bool /*ended*/) {
        (stream == OutputStream::kOut ? ran.out : ran.err).append(bytes);
      });
  return ran;
}

// The NUL-terminated words the probe wrote.
Args Words(const std::string& output) {
  Args words;
  for (std::size_t start = 0, end; (end = output.find('\0', start)) != std::string::npos;
       start = end + 1) {
    words.push_back(output.substr(start, end - start));
  }
  return words;
}

// What `application` run with the raw `commandLine` writes on stdout; it inherits every
// inheritable handle, as CreateProcess does without a handle list.
std::string RunRaw(const std::wstring& application, std::wstring commandLine) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
    return "no pipe";
  }
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION started{};
  const bool created = ::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr,
                                        TRUE, 0, nullptr, nullptr, &startup, &started);
  ::CloseHandle(writeEnd);
  std::string output = created ? "" : "not started";
  char buffer[4096];
  DWORD count = 0;
  while (created && ::ReadFile(readEnd, buffer, sizeof buffer, &count, nullptr) && count > 0) {
    output.append(buffer, count);
  }
  if (created) {
    ::WaitForSingleObject(started.hProcess, INFINITE);
    ::CloseHandle(started.hProcess);
    ::CloseHandle(started.hThread);
  }
  ::CloseHandle(readEnd);
  return output;
}

std::wstring CmdPath() {
  wchar_t folder[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length) + L"\\cmd.exe";
}

struct Argument {
  std::string value;
  const char* reason;
};

// Arguments that a careless command line would split, merge, shorten or hand to cmd.exe.
const Argument kHostileArguments[] = {
    {"plain", "nothing to quote"},
    {"two words", "a blank"},
    {" padded ", "blanks at both ends"},
    {"", "empty, it keeps its place"},
    {"tab\there", "a tab"},
    {"line\nbreak", "a line feed, inside quotes"},
    {"C:\\Program Files\\QIM\\", "a trailing backslash before the closing quote"},
    {"C:\\dir\\\\", "two trailing backslashes"},
    {"C:\\dir\\", "a trailing backslash without a blank"},
    {"a\"b", "a quote"},
    {"\"", "only a quote"},
    {"\"\"", "two quotes"},
    {"a\\\"b", "a backslash before a quote"},
    {"a\\\\\"b c", "two backslashes before a quote"},
    {"\\\\server\\share", "backslashes at the start"},
    {"'C:\\QIM\\x.def'", "apostrophes that belong to the argument"},
    {"\xC3\xA9t\xC3\xA9 \xE2\x9C\x93 \xE8\xA8\xAD\xE5\xAE\x9A", "non-ASCII"},
    {"a&echo PWNED>pwned.txt", "cmd's command separator and redirection"},
    {"|<>^()", "cmd's other syntax"},
    {"^\"&\"^", "carets and quotes around a separator"},
    {"!PATH!", "delayed expansion's form"},
    {"%PATH%", "an expansion's form"},
    {"100%", "a lone percent sign"},
};

// CreateProcessW's command line: each argument comes back as it was, through the C runtime
// and CommandLineToArgvW alike, also with a program whose path holds blanks and non-ASCII.
TEST(Win32ProcessTest, AProgramGetsEveryArgumentIntact) {
  const qimtest::TempDir temp;
  const std::string program = temp.File("folder with blanks \xC3\xA9") + "\\probe \xE2\x9C\x93.exe";
  fs::create_directories(fs::u8path(program).parent_path());
  fs::copy_file(fs::u8path(ProbePath()), fs::u8path(program));
  Args argv = {program, "argv"};
  Args expected;
  for (const Argument& argument : kHostileArguments) {
    argv.push_back(argument.value);
    expected.push_back(argument.value);
  }
  expected.push_back("shell32");
  for (const Argument& argument : kHostileArguments) {
    expected.push_back(argument.value);
  }
  const Ran ran = RunCollecting(argv);
  ASSERT_EQ(ran.result.ending, CommandResult::Ending::kExited) << ran.result.reason;
  EXPECT_EQ(ran.result.status, 0);
  const Args words = Words(ran.out);
  ASSERT_EQ(words.size(), expected.size()) << ran.out;
  for (std::size_t index = 0; index < words.size(); ++index) {
    const Argument& row = kHostileArguments[index % (std::size(kHostileArguments) + 1)];
    EXPECT_EQ(words[index], expected[index])
        << (index <= std::size(kHostileArguments) ? "C runtime: " : "CommandLineToArgvW: ")
        << row.reason;
  }
}

// The printed line, pasted at cmd's prompt (cmd /s /c reads it the same way), runs the same
// argument vector: cmd's syntax stays quoted or escaped. Percent signs are left out: Wine's
// cmd expands a line as real cmd does only inside scripts (see README, On Windows).
TEST(Win32ProcessTest, APrintedProgramLineGivesCmdTheSameArguments) {
  Args argv = {ProbePath(), "argv"};
  for (const Argument& argument : kHostileArguments) {
    if (argument.value.find_first_of("\n%") == std::string::npos) {
      argv.push_back(argument.value);
    }
  }
  const std::string line = zaf::platform::ShellCommandLine(argv);
  const std::string output =
      RunRaw(CmdPath(), L"cmd /d /v:off /s /c \"" + zaf::platform::WideFromUtf8(line) + L"\"");
  const Args words = Words(output);
  const Args expected(argv.begin() + 2, argv.end());
  ASSERT_GE(words.size(), expected.size()) << line << "\n" << output;
  EXPECT_EQ(Args(words.begin(), words.begin() + expected.size()), expected) << line;
}

// A batch script's arguments through cmd.exe: each value that may be passed arrives in %1 as
// one token, unchanged (%~1 compared byte for byte, %2 the next argument); each other is
// refused before anything runs. Nothing ever runs a command of its own or redirects: the
// marker files never appear. The script exits with `exit /b 7`, which is the status.
TEST(Win32ProcessTest, AScriptGetsEachValueAsOneArgumentOrItIsRefused) {
  struct Row {
    std::string value;
    bool passable;
    const char* reason;
  };
  const Row rows[] = {
      {"plain", true, "nothing to quote"},
      {"two words", true, "a blank"},
      {"", true, "empty, it keeps its place"},
      {"tab\there", true, "a tab"},
      {"x=y,z;w", true, "cmd's argument separators"},
      {"C:\\Program Files\\QIM\\", true, "a trailing backslash stays single"},
      {"C:\\dir\\", true, "a bare trailing backslash"},
      {"'C:\\QIM\\x.def'", true, "apostrophes"},
      {"\xC3\xA9t\xC3\xA9 \xE2\x9C\x93", true, "non-ASCII"},
      {"a&echo PWNED>pwned.txt", true, "a command separator and a redirection"},
      {"|echo PWNED>pwned.txt", true, "a pipe"},
      {">pwned2.txt", true, "a redirection alone"},
      {"^&echo PWNED>pwned.txt", true, "an escape before a separator"},
      {")&echo PWNED>pwned.txt", true, "a closing parenthesis before a separator"},
      {"^", true, "a lone escape"},
      {"(", true, "an opening parenthesis"},
      {")", true, "a closing parenthesis"},
      {"!QIM_SECRET!", true, "delayed expansion is off"},
      {"\"&echo PWNED>pwned.txt", false, "a quote that would end the quoting"},
      {"a\"b", false, "a quote inside"},
      {"a\\\"b", false, "a backslash and a quote"},
      {"%QIM_SECRET%", false, "an expansion"},
      {"100%", false, "a lone percent sign"},
      {"line\nbreak", false, "a line feed"},
      {"carriage\rreturn", false, "a carriage return"},
      {std::string("nul\0byte", 8), false, "a NUL"},
      {"ctrl\x1az", false, "Ctrl+Z"},
  };
  const qimtest::TempDir temp;
  const std::string folder = temp.File("scripts \xC3\xA9");
  fs::create_directories(fs::u8path(folder));
  const std::string script = folder + "\\record.bat";
  qimtest::WriteFile(script,
                     "@echo off\r\n"
                     "set \"QIM_T1=%~1\"\r\n"
                     "set \"QIM_T2=%~2\"\r\n"
                     "set \"QIM_T3=%~3\"\r\n"
                     "\"%QIM_PROBE%\" env QIM_T1 QIM_T2 QIM_T3\r\n"
                     "exit /b 7\r\n");
  const qimtest::ScopedEnv probe("QIM_PROBE", ProbePath());
  const qimtest::ScopedEnv secret("QIM_SECRET", std::string("expanded"));
  // The markers would be written in the current folder, which is the script's.
  wchar_t previous[MAX_PATH];
  ::GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryW(fs::u8path(folder).wstring().c_str()));
  for (const Row& row : rows) {
    const std::optional<std::string> refusal = zaf::platform::WhyNotPassableToScript(row.value);
    EXPECT_EQ(!refusal.has_value(), row.passable) << row.reason;
    const Ran ran = RunCollecting({script, row.value, "end"});
    if (!row.passable) {
      EXPECT_EQ(ran.result.ending, CommandResult::Ending::kNotStarted) << row.reason;
      EXPECT_THAT(ran.result.reason, HasSubstr("argument 1 ")) << row.reason;
      EXPECT_EQ(ran.out + ran.err, "") << row.reason;
      continue;
    }
    EXPECT_EQ(ran.result.ending, CommandResult::Ending::kExited) << row.reason;
    EXPECT_EQ(ran.result.status, 7) << row.reason;
    const Args recorded = Words(ran.out);
    const std::string first = row.value.empty() ? "QIM_T1 unset" : "QIM_T1=" + row.value;
    EXPECT_EQ(recorded, (Args{first, "QIM_T2=end", "QIM_T3 unset"})) << row.reason << "\n"
                                                                     << ran.err;
  }
  ::SetCurrentDirectoryW(previous);
  std::vector<std::string> made;
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::u8path(folder))) {
    made.push_back(entry.path().filename().u8string());
  }
  EXPECT_EQ(made, std::vector<std::string>{"record.bat"}) << "no marker file";
}

// A stop request terminates the job: the command and the process it started both end, and the
// result says terminated rather than an exit status.
TEST(Win32ProcessTest, AStopEndsTheCommandAndWhatItStarted) {
  std::string out;
  std::vector<HANDLE> processes;
  const CommandResult result = zaf::platform::RunCommand(
      {ProbePath(), "tree"}, [&](OutputStream stream, std::string_view bytes, bool /*ended*/) {
        if (stream != OutputStream::kOut || !processes.empty()) {
          return;
        }
        out.append(bytes);
        if (out.find('\n') == std::string::npos) {
          return;
        }
        for (const char* start = out.c_str(); *start != '\n';) {
          char* end = nullptr;
          const DWORD id = std::strtoul(start, &end, 10);
          processes.push_back(::OpenProcess(SYNCHRONIZE, FALSE, id));
          start = end;
        }
        zaf::platform::RequestCommandStop(SIGINT);
      });
  zaf::platform::ClearCommandStop();
  EXPECT_EQ(result.ending, CommandResult::Ending::kTerminated) << result.reason;
  ASSERT_EQ(processes.size(), 2U) << out;
  for (const HANDLE process : processes) {
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(::WaitForSingleObject(process, 10000), WAIT_OBJECT_0);
    ::CloseHandle(process);
  }
}

// What cannot run is not started, and the reason says why.
TEST(Win32ProcessTest, ACommandThatCannotStartSaysWhy) {
  const std::string notFound = zaf::platform::SystemErrorText(ERROR_FILE_NOT_FOUND);
  const qimtest::TempDir temp;
  const std::string script = temp.File("x.cmd");
  qimtest::WriteFile(script, "@exit /b 0\r\n");
  struct Row {
    Args argv;
    std::string because;
    const char* reason;
  };
  const Row rows[] = {
      {{}, "nothing to run", "no argument vector"},
      {{temp.File("missing.exe")}, notFound, "a path to no file"},
      {{"qim-no-such-program"}, notFound, "a name found nowhere in PATH"},
      {{ProbePath(), std::string("a\0b", 3)}, "argument 1 holds a NUL", "a NUL"},
      {{script, "fine", "50%"}, "argument 2 cannot be given to a batch script", "a .cmd script"},
  };
  for (const Row& row : rows) {
    const Ran ran = RunCollecting(row.argv);
    EXPECT_EQ(ran.result.ending, CommandResult::Ending::kNotStarted) << row.reason;
    EXPECT_THAT(ran.result.reason, HasSubstr(row.because)) << row.reason;
  }
}

// Both streams come through their own pipe, whole and in order, while the command writes them
// in turns; each ends once.
TEST(Win32ProcessTest, OutputComesThroughBothPipesWhole) {
  constexpr int kLines = 300;
  std::string expectedOut;
  std::string expectedErr;
  for (int index = 0; index < kLines; ++index) {
    const std::string padding(64 + index % 64, '.');
    expectedOut += "out " + std::to_string(index) + padding + "\n";
    expectedErr += "err " + std::to_string(index) + padding + "\n";
  }
  std::string out;
  std::string err;
  int outEnded = 0;
  int errEnded = 0;
  const CommandResult result =
      zaf::platform::RunCommand({ProbePath(), "chatter", std::to_string(kLines)},
                                [&](OutputStream stream, std::string_view bytes, bool ended) {
                                  const bool isOut = stream == OutputStream::kOut;
                                  (isOut ? out : err).append(bytes);
                                  (isOut ? outEnded : errEnded) += ended ? 1 : 0;
                                });
  EXPECT_EQ(result.ending, CommandResult::Ending::kExited) << result.reason;
  EXPECT_EQ(out, expectedOut);
  EXPECT_EQ(err, expectedErr);
  EXPECT_EQ(outEnded, 1);
  EXPECT_EQ(errEnded, 1);
}

// An inheritable handle of this process does not reach the command, which a plain
// CreateProcess with inheritance would hand it.
TEST(Win32ProcessTest, ACommandInheritsOnlyTheStandardHandles) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const HANDLE event = ::CreateEventW(&inheritable, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  const std::string value = std::to_string(reinterpret_cast<std::uintptr_t>(event));
  EXPECT_EQ(RunCollecting({ProbePath(), "handle", value}).out, "closed");
  EXPECT_EQ(RunRaw(zaf::platform::WideFromUtf8(ProbePath()),
                   L"probe handle " + zaf::platform::WideFromUtf8(value)),
            "open")
      << "the probe sees an inherited handle";
  ::CloseHandle(event);
}

// Without a console, the line is read from the pipe as its bytes (not converted), without its
// line ending, and only that line: the next call gets the next one.
TEST(Win32ConsoleTest, AHiddenLineFromAPipeIsReadAsItsBytes) {
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, nullptr, 0));
  const std::string input = "s3cr\xE9t \xE2\x9C\x93\r\nsecond\nlast";
  DWORD written = 0;
  ::WriteFile(writeEnd, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
  ::CloseHandle(writeEnd);
  const HANDLE previous = ::GetStdHandle(STD_INPUT_HANDLE);
  ::SetStdHandle(STD_INPUT_HANDLE, readEnd);
  const std::optional<std::string> first = zaf::platform::ReadLineHidden("Value: ");
  const std::optional<std::string> second = zaf::platform::ReadLineHidden("Value: ");
  const std::optional<std::string> last = zaf::platform::ReadLineHidden("Value: ");
  const std::optional<std::string> none = zaf::platform::ReadLineHidden("Value: ");
  ::SetStdHandle(STD_INPUT_HANDLE, previous);
  ::CloseHandle(readEnd);
  EXPECT_EQ(first, "s3cr\xE9t \xE2\x9C\x93");
  EXPECT_EQ(second, "second");
  EXPECT_EQ(last, "last");
  EXPECT_EQ(none, std::nullopt);
}

}  // namespace
