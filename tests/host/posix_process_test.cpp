// The POSIX side of processes, printed commands, the user's folders and the console: the
// commands that process_test.cpp runs here, the command's own process group, descriptors and
// signals, stops that reach what it started, shell quoting, the XDG settings and runtime
// folders, the desktop's opener, and hidden input from a terminal (a pseudo-terminal of
// forkpty). A build without POSIX leaves this file out; win32_process_test.cpp is the Windows
// side.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "host/platform/console.h"
#include "host/platform/desktop.h"
#include "host/platform/process.h"
#include "host/platform/shell_quote.h"
#include "host/platform/signals.h"
#include "host/platform/user_folders.h"
#include "process_test.h"
#include "test_support.h"

namespace qimtest {

std::vector<Args> ArgumentReaders() {
  return {{"sh", "-c", "printf '%s\\0' \"$@\"", "sh"}};
}

Args Chatter(int lines, const std::string& dots) {
  return {"sh",
          "-c",
          "i=0; while [ $i -lt $1 ]; do echo \"out $i $2\"; echo \"err $i $2\" >&2; "
          "i=$((i + 1)); done; exit 3",
          "sh",
          std::to_string(lines),
          dots};
}

std::string RunInShell(const std::string& line) {
  return Execute({"sh", "-c", line}).out;
}

std::string MissingProgramReason() {
  return "No such file or directory";
}

namespace {

using ::testing::HasSubstr;

Ran Shell(
    const std::string& script,
    const std::function<void(const std::string&)>& onOutput = [](auto&) {}) {
  return Execute({"sh", "-c", script}, onOutput);
}

// The command leads a process group of its own, reads the null device, has no descriptor of
// this process beyond the standard three, and every signal at its default action: SIGINT,
// which this process ignores meanwhile, ends it. A signal that this process handles while a
// command runs does not cut its output short.
TEST(PosixProcessTest, ACommandRunsApartWithTheStandardDescriptorsAndDefaultSignals) {
  const int opened = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int leaked = ::fcntl(opened, F_DUPFD, 77);  // a high number, without close-on-exec
  ::close(opened);
  const auto previous = std::signal(SIGINT, SIG_IGN);
  const Ran ran = Shell("echo $$ $(cut -d' ' -f5 /proc/$$/stat) $(readlink /proc/$$/fd/0) " +
                        ("$(test -e /proc/$$/fd/" + std::to_string(leaked) + " && echo leaked)") +
                        "; kill -INT $$; echo survived");
  std::signal(SIGINT, previous);
  ::close(leaked);
  std::istringstream words(ran.out);
  std::string pid, group, input, more;
  words >> pid >> group >> input >> more;
  EXPECT_EQ(group, pid) << "its own process group";
  EXPECT_EQ(input + more, "/dev/null") << ran.out;
  EXPECT_EQ(ran.ending, "signal 2");
  struct sigaction handled {};
  struct sigaction saved {};
  handled.sa_handler = [](int) {};
  ::sigaction(SIGALRM, &handled, &saved);
  ::ualarm(100000, 0);
  EXPECT_EQ(Shell("printf d; sleep 0.3; echo one").out, "done\n")
      << "a signal this process handles, and a read of one byte alone";
  ::sigaction(SIGALRM, &saved, nullptr);
}

// A stop reaches the command and what it started in the background (whose end closes the
// pipes); a second request kills a command that ignores the first; one asked for before the
// command starts ends it once it has.
TEST(PosixProcessTest, AStopEndsTheCommandAndWhatItStarted) {
  const auto stop = [](int requests) {
    return [requests](auto&) {
      for (int request = 0; request < requests; ++request)
        zaf::platform::RequestCommandStop(SIGTERM);
    };
  };
  std::string endings = Shell("sleep 10 & echo ready; wait", stop(1)).ending;
  zaf::platform::ClearCommandStop();
  endings += ", " + Shell("trap '' TERM; sleep 10 & echo ready; wait", stop(2)).ending;
  zaf::platform::ClearCommandStop();
  zaf::platform::RequestCommandStop(SIGTERM);
  endings += ", " + Shell("sleep 10").ending;
  zaf::platform::ClearCommandStop();
  EXPECT_EQ(endings, "signal 15, signal 9, signal 15");
  EXPECT_EQ(zaf::platform::SignalName(11) + " " + zaf::platform::SignalName(99),
            "SIGSEGV signal 99");
}

// A printed argument is bare when it holds only characters a POSIX shell reads as themselves,
// else in apostrophes, each apostrophe of its own written \' outside them. That the shell reads
// a printed line back as the same arguments (blanks, backslashes and apostrophes included) is
// process_test.cpp's round trip; the rows here pin the forms. A script gets any argument but
// one with a NUL.
TEST(PosixShellQuoteTest, AnArgumentIsBareOrInApostrophesAndOnlyANulCannotReachAScript) {
  for (const auto& [argument, quoted] : std::vector<std::pair<std::string, std::string>>{
           {"azAZ09@%+=:,./-_", "azAZ09@%+=:,./-_"},
           {"", "''"},
           {"$HOME", "'$HOME'"},
           {"'A=b c'", "\\''A=b c'\\'"},
           {"x\ny", "'x\ny'"},
           {"''", "\\'\\'"},
       }) {
    EXPECT_EQ(zaf::platform::ShellQuote(argument), quoted);
  }
  EXPECT_EQ(zaf::platform::ShellJoin({"a", "b c", ""}), "a 'b c' ''");
  EXPECT_EQ(zaf::platform::ShellJoin({}), "");
  EXPECT_EQ(zaf::platform::WhyNotPassableToScript("a b'\"$%"), std::nullopt);
  EXPECT_THAT(zaf::platform::WhyNotPassableToScript(std::string("a\0b", 3)).value_or(""),
              HasSubstr("NUL"));
}

// A stop guard hands each request to its handler with the count so far and remembers the
// first, leaving errno as it found it; a hang-up that was ignored before it (nohup) stays ignored;
// when it goes, each signal gets back the handler it had.
TEST(PosixProcessTest, AStopGuardCountsTheRequestsAndPutsBackWhatWasThere) {
  static std::vector<std::pair<int, int>> caught;
  static int earlier = 0;
  std::signal(SIGTERM, [](int) { ++earlier; });
  const auto hangUp = std::signal(SIGHUP, SIG_IGN);
  {
    const zaf::platform::StopSignals guard(
        [](int signal, int count) {
          caught.emplace_back(signal, count);
          errno = EIO;
        },
        zaf::platform::ServingStopSignals());
    errno = ENOENT;
    for (const int signal : {SIGTERM, SIGHUP, SIGQUIT})
      zaf::platform::RaiseStopSignal(signal);
    EXPECT_EQ(errno, ENOENT) << "the interrupted code finds errno as it was";
    EXPECT_EQ(zaf::platform::StopSignals::First(), SIGTERM);
  }
  EXPECT_EQ(caught, (std::vector<std::pair<int, int>>{{SIGTERM, 1}, {SIGQUIT, 2}}));
  std::raise(SIGTERM);
  EXPECT_EQ(earlier, 1) << "the earlier handler is back";
  EXPECT_EQ(std::signal(SIGHUP, hangUp), SIG_IGN);
  std::signal(SIGTERM, SIG_DFL);
}

// A user's settings live under $XDG_CONFIG_HOME when it is set and not empty, else under
// $HOME/.config; without either the folder is unknown, and the problem says why.
TEST(PosixUserFolderTest, SettingsLiveWhereTheXdgVariablesSay) {
  for (const auto& [config, home, folder, problem] :
       std::vector<std::tuple<std::optional<std::string>, std::optional<std::string>, const char*,
                              const char*>>{
           {"/cfg", "/home/ann", "/cfg/app", ""},
           {"", "/home/ann", "/home/ann/.config/app", ""},
           {std::nullopt, "/home/ann", "/home/ann/.config/app", ""},
           {std::nullopt, "", "", "HOME is not set"},
       }) {
    const qimtest::ScopedEnv configHome("XDG_CONFIG_HOME", config);
    const qimtest::ScopedEnv homeFolder("HOME", home);
    std::string said;
    EXPECT_EQ(zaf::platform::UserSettingsFolder("app", said), folder);
    EXPECT_EQ(said, problem);
  }
}

// The dialog's entry page goes under $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp. The desktop
// opens it with the xdg-open found on PATH, started in a process group of its own with the
// page as its only argument and the null device as its streams; an opener that cannot start or
// that fails is told, one that succeeds is not.
TEST(PosixUserFolderTest, TheEntryPageGoesToTheRuntimeFolderAndTheDesktopOpenerGetsItAlone) {
  for (const auto& [runtime, temporary, folder] :
       std::vector<std::tuple<std::optional<std::string>, std::optional<std::string>, const char*>>{
           {"/run/user/1", "/var/tmp", "/run/user/1"},
           {"", "/var/tmp", "/var/tmp"},
           {std::nullopt, "", "/tmp"},
       }) {
    const qimtest::ScopedEnv runtimeDir("XDG_RUNTIME_DIR", runtime);
    const qimtest::ScopedEnv temporaryDir("TMPDIR", temporary);
    EXPECT_EQ(zaf::platform::UserRuntimeFolder(), folder);
  }

  const TempDir bin;
  WriteFile(bin.File("xdg-open"),
            "#!/bin/sh\nstreams=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2 "
            "/proc/$$/fd/$LEAKED)\n"
            "group=$(cut -d' ' -f5 /proc/$$/stat)\n"
            "printf '%s|%s|%s|%s' \"$#\" \"$1\" \"$([ \"$group\" = $$ ] && echo own)\" "
            "\"$(echo $streams)\" >\"$0.$1\"\nexit \"$OPENER_STATUS\"\n");
  ::chmod(bin.File("xdg-open").c_str(), 0700);
  std::mutex mutex;
  std::vector<std::string> reasons;
  const auto open = [&](const std::string& page, const std::string& status) {
    const qimtest::ScopedEnv opener("OPENER_STATUS", status);
    zaf::platform::OpenWithDesktop(page, [&](const std::string& reason) {
      const std::lock_guard<std::mutex> lock(mutex);
      reasons.push_back(reason);
    });
  };
  const auto told = [&] {
    const std::lock_guard<std::mutex> lock(mutex);
    return reasons;
  };
  const auto waitUntil = [](const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // room for a wrong report
  };
  // A descriptor of this process without close-on-exec, which the opener must not get.
  const int opened = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int leaked = ::fcntl(opened, F_DUPFD, 77);
  ::close(opened);
  {
    const qimtest::ScopedEnv path("PATH", bin.path() + ":/usr/bin:/bin");
    const qimtest::ScopedEnv number("LEAKED", std::to_string(leaked));
    open("good page", "0");
    waitUntil([&] { return FileExists(bin.File("xdg-open.good page")); });
    EXPECT_THAT(told(), ::testing::IsEmpty());
    open("bad", "3");
    waitUntil([&] { return !told().empty(); });
  }
  ::close(leaked);
  EXPECT_EQ(ReadFile(bin.File("xdg-open.good page")),
            "1|good page|own|/dev/null /dev/null /dev/null");
  EXPECT_EQ(told(), std::vector<std::string>{"xdg-open failed"});
  const qimtest::ScopedEnv path("PATH", bin.File("none"));
  open("page", "0");
  EXPECT_EQ(told().back(), "xdg-open: No such file or directory");
}

// What the terminal `master` shows until `text` appears (or five seconds pass).
std::string ReadUntil(int master, const std::string& text) {
  std::string seen;
  char buffer[256];
  pollfd watched{master, POLLIN, 0};
  while (seen.find(text) == std::string::npos && ::poll(&watched, 1, 5000) > 0) {
    const ssize_t count = ::read(master, buffer, sizeof buffer);
    if (count <= 0)
      break;
    seen.append(buffer, static_cast<std::size_t>(count));
  }
  return seen;
}

// On a terminal the prompt goes to stderr, the line is not echoed, and the terminal gets its
// settings back: after the line, and when Ctrl+C ends the process at the prompt, which then
// ends by SIGINT. Input that is no terminal is read as it is.
TEST(PosixConsoleTest, AHiddenLineLeavesTheTerminalAsItWasAlsoWhenCtrlCEndsTheProcess) {
  for (const auto& [typed, ending] : std::vector<std::pair<std::string, std::string>>{
           {"s3cret\n", "exited 0"}, {"\x03", "signal 2"}}) {
    int master = -1;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0)
      ::_exit(zaf::platform::ReadLineHidden("Secret: ") == std::optional<std::string>("s3cret")
                  ? 0
                  : 1);
    ASSERT_GT(child, 0);
    std::string shown = ReadUntil(master, "Secret: ");
    ASSERT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    int status = 0;
    ::waitpid(child, &status, 0);
    shown += ReadUntil(master, "never shown");
    termios settings{};
    ASSERT_EQ(::tcgetattr(master, &settings), 0);
    ::close(master);
    EXPECT_EQ(WIFEXITED(status) ? "exited " + std::to_string(WEXITSTATUS(status))
                                : "signal " + std::to_string(WTERMSIG(status)),
              ending);
    EXPECT_THAT(shown, ::testing::Not(HasSubstr("s3cret")));
    EXPECT_NE(settings.c_lflag & ECHO, 0U) << "echo is back on";
  }
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ASSERT_EQ(::write(ends[1], "line\r\nnext", 10), 10);
  ::close(ends[1]);
  const int savedInput = ::dup(STDIN_FILENO);
  ::dup2(ends[0], STDIN_FILENO);
  const auto line = zaf::platform::ReadLineHidden("Secret: ");
  ::dup2(savedInput, STDIN_FILENO);
  ::close(savedInput);
  ::close(ends[0]);
  EXPECT_EQ(line, std::optional<std::string>("line"));
}

}  // namespace
}  // namespace qimtest
