// The Win32 side of processes, printed commands and the console: the commands that
// process_test.cpp runs here (process_probe.exe, built beside this program, and cmd.exe), a
// batch script's arguments through cmd.exe (passed intact or refused), the job that a stop
// ends, the handles a command inherits and hidden input from a pipe. Windows builds only.

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
#include "host/platform/wide_text.h"
#include "process_test.h"
#include "test_support.h"

namespace qimtest {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

std::string ProbePath() {
  wchar_t self[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return (fs::path(std::wstring(self, length)).parent_path() / "process_probe.exe").u8string();
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

}  // namespace

// The probe reads its arguments as the C runtime does and as CommandLineToArgvW does, also
// from a path that holds blanks and non-ASCII.
std::vector<Args> ArgumentReaders() {
  static const TempDir temp;  // lasts the run
  const std::string copied = temp.File("folder with blanks \xC3\xA9") + "\\probe \xE2\x9C\x93.exe";
  if (!FileExists(copied)) {
    fs::create_directories(fs::u8path(copied).parent_path());
    fs::copy_file(fs::u8path(ProbePath()), fs::u8path(copied));
  }
  return {{ProbePath(), "argv"}, {ProbePath(), "shell32"}, {copied, "argv"}};
}

Args Chatter(int lines, const std::string& dots) {
  return {ProbePath(), "chatter", std::to_string(lines), dots};
}

// At cmd's prompt: cmd /s /c reads the line the same way.
std::string RunInShell(const std::string& line) {
  return RunRaw(CmdPath(), L"cmd /d /v:off /s /c \"" + zaf::platform::WideFromUtf8(line) + L"\"");
}

std::string MissingProgramReason() {
  return zaf::platform::SystemErrorText(ERROR_FILE_NOT_FOUND);
}

namespace {

// A batch script's arguments through cmd.exe: each value that may be passed arrives in %1 as
// one token, unchanged (%~1 compared byte for byte, %2 the next argument); each other is
// refused before anything runs; the probe records %~1 to %~3 as the script saw them. Nothing
// ever runs a command of its own or redirects: the marker files never appear. The script exits
// with `exit /b 7`, which is the status.
TEST(Win32ProcessTest, AScriptGetsEachValueAsOneArgumentOrItIsRefused) {
  // First the values that pass: blanks, an empty one, a tab, cmd's argument separators,
  // trailing backslashes, apostrophes, non-ASCII, command separators, pipes, redirections,
  // escapes and parentheses, and delayed expansion's form (it is off). Then those refused: a
  // quote (also one that would end the quoting), an expansion, a lone percent sign, line ends,
  // a NUL and Ctrl+Z.
  const Args values[2] = {
      {"plain", "two words", "", "tab\there", "x=y,z;w", "C:\\Program Files\\QIM\\", "C:\\dir\\",
       "'C:\\QIM\\x.def'", "\xC3\xA9t\xC3\xA9 \xE2\x9C\x93", "a&echo PWNED>pwned.txt",
       "|echo PWNED>pwned.txt", ">pwned2.txt", "^&echo PWNED>pwned.txt", ")&echo PWNED>pwned.txt",
       "^", "(", ")", "!QIM_SECRET!"},
      {"\"&echo PWNED>pwned.txt", "a\"b", "a\\\"b", "%QIM_SECRET%", "100%", "line\nbreak",
       "carriage\rreturn", std::string("nul\0byte", 8), "ctrl\x1az"},
  };
  const qimtest::TempDir temp;
  const std::string folder = temp.File("scripts \xC3\xA9");
  fs::create_directories(fs::u8path(folder));
  const std::string script = folder + "\\record.bat";
  qimtest::WriteFile(script,
                     "@echo off\r\n"
                     "set \"QIM_A1=%~1\"\r\n"
                     "set \"QIM_A2=%~2\"\r\n"
                     "set \"QIM_A3=%~3\"\r\n"
                     "\"%QIM_PROBE%\" script %~nx0\r\n"
                     "exit /b 7\r\n");
  const qimtest::ScopedEnv probe("QIM_PROBE", ProbePath());
  const std::string record = temp.File("record.bin");
  const qimtest::ScopedEnv recording("QIM_RECORD", record);
  const qimtest::ScopedEnv secret("QIM_SECRET", std::string("expanded"));
  // The markers would be written in the current folder, which is the script's.
  wchar_t previous[MAX_PATH];
  ::GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryW(fs::u8path(folder).wstring().c_str()));
  for (const bool passable : {true, false}) {
    for (const std::string& value : values[passable ? 0 : 1]) {
      EXPECT_EQ(!zaf::platform::WhyNotPassableToScript(value).has_value(), passable) << value;
      const Ran ran = Execute({script, value, "end"});
      if (!passable) {
        EXPECT_THAT(ran.ending, ::testing::StartsWith("not started: argument 1 ")) << value;
        EXPECT_EQ(ran.out + ran.err, "") << value;
        continue;
      }
      EXPECT_EQ(ran.ending, "exited 7") << value;
      // The probe's record: "script", the script's name and QIM_A1 to QIM_A9 (empty when
      // unset), each followed by a NUL, then the byte 0x1E.
      EXPECT_EQ(qimtest::ReadFile(record), std::string("script\0record.bat\0", 18) + value + '\0' +
                                               "end" + std::string(8, '\0') + '\x1e')
          << value + "\n" + ran.err;
      fs::remove(fs::u8path(record));
    }
  }
  ::SetCurrentDirectoryW(previous);
  std::vector<std::string> made;
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::u8path(folder))) {
    made.push_back(entry.path().filename().u8string());
  }
  EXPECT_EQ(made, std::vector<std::string>{"record.bat"}) << "no marker file";
  qimtest::WriteFile(temp.File("x.cmd"), "@exit /b 0\r\n");
  EXPECT_THAT(Execute({temp.File("x.cmd"), "50%"}).ending,
              HasSubstr("argument 1 cannot be given to a batch script"))
      << "a .cmd script too";
}

// A stop request terminates the job: the command (cmd.exe) and the process it started (the
// probe, which says its id) both end, and the result says terminated rather than an exit status.
TEST(Win32ProcessTest, AStopEndsTheCommandAndWhatItStarted) {
  HANDLE started = nullptr;
  const Ran ran =
      Execute({zaf::platform::Utf8FromWide(CmdPath()), "/d", "/c", ProbePath(), "sleep"},
              [&started](const std::string& out) {
                if (started == nullptr && out.find('\n') != std::string::npos) {
                  started = ::OpenProcess(SYNCHRONIZE, FALSE, std::stoul(out));
                  zaf::platform::RequestCommandStop(SIGINT);
                }
              });
  zaf::platform::ClearCommandStop();
  EXPECT_EQ(ran.ending, "terminated");
  ASSERT_NE(started, nullptr) << ran.out;
  EXPECT_EQ(::WaitForSingleObject(started, 10000), WAIT_OBJECT_0);
  ::CloseHandle(started);
}

// An inheritable handle of this process does not reach the command, which a plain
// CreateProcess with inheritance would hand it.
TEST(Win32ProcessTest, ACommandInheritsOnlyTheStandardHandles) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const HANDLE event = ::CreateEventW(&inheritable, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  const std::string value = std::to_string(reinterpret_cast<std::uintptr_t>(event));
  EXPECT_EQ(Execute({ProbePath(), "handle", value}).out, "closed");
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
}  // namespace qimtest
