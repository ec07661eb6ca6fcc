// wassetup under hostile bytes, broken output, signals and odd files, through the real binary:
// no input ends it with a signal, the terminal sees no control character it did not print
// itself, a write that fails is told, a deployment that is interrupted stops its command and
// says how to resume.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>

#include <gtest/gtest.h>

#include "tool_runner.h"

namespace qimtest {
namespace {

using Json = nlohmann::json;
using std::chrono::steady_clock;

class FaultsTest : public ::testing::Test {
 protected:
  // wassetup --prefs-dir <prefs> ARGS in the sandbox, stdin empty, stdout and stderr captured
  // unless `setup` changes them; killed after `deadline`.
  ToolResult Run(const Args& arguments, const ChildSetup& setup = {},
                 std::chrono::seconds deadline = std::chrono::seconds(20)) {
    return sandbox_.Finish(sandbox_.Start(arguments, ".run", "", {}, setup), ".run", deadline);
  }

  // Sets the settings; fails the test when the tool refuses them.
  void Set(const Args& assignments) {
    Args arguments{"set"};
    arguments.insert(arguments.end(), assignments.begin(), assignments.end());
    const ToolResult result = Run(arguments);
    ASSERT_EQ(result.status, 0) << result.err;
  }

  // Settings the plug-in finds valid, a fake Java launcher `java` (its script body given) and
  // the two scripts, which succeed.
  void PrepareDeployment(const std::string& javaBody) {
    const ToolResult stored = sandbox_.PrepareDeployment(javaBody);
    ASSERT_EQ(stored.status, 0) << stored.err;
  }

  std::string Path(const std::string& name) const { return sandbox_.Path(name); }

  ToolSandbox sandbox_;
};

// Every byte below 0x20 but the line ends, DEL, and the C1 control CSI in its UTF-8 form.
bool HoldsControlCharacters(const std::string& text) {
  for (std::size_t index = 0; index < text.size(); ++index) {
    const auto byte = static_cast<unsigned char>(text[index]);
    if ((byte < 0x20 && byte != '\n') || byte == 0x7F ||
        (byte == 0xC2 && index + 1 < text.size() &&
         static_cast<unsigned char>(text[index + 1]) == 0x9B)) {
      return true;
    }
  }
  return false;
}

TEST_F(FaultsTest, BytesThatAreNotUtf8GiveJsonWithTheReplacementCharacterInEveryCommand) {
  Set({"smtp=mail\xff.example", "qimdirrt=/srv/q\xe9im"});
  const struct {
    Args arguments;
    std::map<std::string, std::string> environment;
    const char* reason;
  } cases[] = {
      {{"get", "--json"}, {}, "a stored value that is not UTF-8"},
      {{"show", "--json"}, {}, "the form with that value"},
      {{"plan", "--json"}, {}, "the plan with that value"},
      {{"validate", "--json"}, {}, "validation with that value"},
      {{"plan", "--json"},
       {{"JAVA_HOME",
         "/opt/j\xe9"
         "dk"}},
       "a Latin-1 JAVA_HOME"},
      {{"--was-dir", "/opt/IBM/WebSph\xe8re", "show", "--json"}, {}, "a Latin-1 --was-dir"},
  };
  for (const auto& hostile : cases) {
    const ToolResult outcome = Run(hostile.arguments, [&hostile] {
      for (const auto& [name, value] : hostile.environment) {
        setenv(name.c_str(), value.c_str(), 1);
      }
    });
    EXPECT_EQ(outcome.signal, 0) << hostile.reason;
    EXPECT_LE(outcome.status, 1) << hostile.reason << ": " << outcome.err;
    const Json document = Json::parse(outcome.out, nullptr, /*allow_exceptions=*/false);
    EXPECT_FALSE(document.is_discarded()) << hostile.reason << ": " << outcome.out;
  }
  const Json settings = Json::parse(Run({"get", "--json"}).out, nullptr, false);
  bool found = false;
  for (const Json& entry : settings.value("settings", Json::array())) {
    if (entry.value("key", "") == "smtp") {
      found = true;
      EXPECT_EQ(entry.value("value", ""), "mail\xef\xbf\xbd.example");
    }
  }
  EXPECT_TRUE(found) << settings;
}

TEST_F(FaultsTest, ControlCharactersInValuesAreShownEscapedInEveryTextOutput) {
  PrepareDeployment("exit 0\n");
  Set({"nuvserver=srv\n 15. fake_step: rm -rf /", "smtp=\x1b]0;owned\x07\x1b[2J",
       "databaseName=QIM\xc2\x9b"
       "31mDB\x7f"});
  const struct {
    Args arguments;
    const char* escaped;  // how the hostile value must read
  } cases[] = {
      {{"get"}, "nuvserver=srv\\n 15. fake_step: rm -rf /\n"},
      {{"get"}, "smtp=\\x1b]0;owned\\x07\\x1b[2J\n"},
      {{"get"}, "databaseName=QIM\\u009b31mDB\\x7f\n"},
      {{"show"}, "srv\\n 15. fake_step: rm -rf /"},
      {{"plan"}, "srv\\n 15. fake_step: rm -rf /"},
      {{"info"}, "Java variables:\n"},
      {{"validate"}, "The settings are valid.\n"},
      {{"deploy", "--java", "./java", "--script-dir", "scripts"}, "srv\\n 15. fake_step: rm -rf /"},
  };
  for (const auto& shown : cases) {
    const ToolResult outcome = Run(shown.arguments);
    const std::string what = shown.arguments.front();
    EXPECT_EQ(outcome.status, 0) << what << ": " << outcome.err;
    EXPECT_FALSE(HoldsControlCharacters(outcome.out + outcome.err)) << what << ": " << outcome.out;
    EXPECT_EQ((outcome.out + outcome.err).find("\n 15. fake_step"), npos) << what;
    EXPECT_NE(outcome.out.find(shown.escaped), npos) << what << ": " << outcome.out;
  }
}

TEST_F(FaultsTest, AFailedWriteToStandardOutputIsToldAndExitsWith2) {
  const struct {
    const char* reason;
    ChildSetup stdoutSetup;
    const char* told;
  } cases[] = {
      {"a full device", [] { dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO); },
       "cannot write to standard output: No space left on device"},
      {"a closed stdout", [] { close(STDOUT_FILENO); },
       "cannot write to standard output: it is closed"},
      {"a pipe nobody reads",
       [] {
         int ends[2];
         if (pipe(ends) == 0) {
           dup2(ends[1], STDOUT_FILENO);
           close(ends[0]);
         }
       },
       "cannot write to standard output: Broken pipe"},
  };
  for (const auto& broken : cases) {
    for (const char* command : {"plan", "get"}) {
      const ToolResult outcome = Run({command}, broken.stdoutSetup);
      EXPECT_EQ(outcome.signal, 0) << broken.reason << ", " << command;
      EXPECT_EQ(outcome.status, 2) << broken.reason << ", " << command;
      EXPECT_NE(outcome.err.find(broken.told), npos)
          << broken.reason << ", " << command << ": " << outcome.err;
    }
  }
}

// What lies at the path "out" before a run names it with --output or --log.
enum class AtPath { kRegularFile, kFifo, kFullDevice, kLinkToFile, kDanglingLink };

// Puts `at` at `path`; `target` is where a link points. False when it cannot be made here: a
// device node needs root.
bool MakeAtPath(AtPath at, const std::string& path, const std::string& target) {
  switch (at) {
    case AtPath::kRegularFile:
      WriteFile(path, "the previous export\n");
      return chmod(path.c_str(), 0644) == 0;
    case AtPath::kFifo:
      return mkfifo(path.c_str(), 0600) == 0;
    case AtPath::kFullDevice:
      // A scratch node of /dev/full's device: should a run replace it, it replaces this copy,
      // never the machine's.
      return mknod(path.c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0;
    case AtPath::kLinkToFile:
      WriteFile(target, "the target\n");
      return symlink(target.c_str(), path.c_str()) == 0;
    case AtPath::kDanglingLink:
      return symlink(target.c_str(), path.c_str()) == 0;
  }
  return false;
}

// All a FIFO holds now, read without waiting.
std::string Drain(int descriptor) {
  std::string bytes;
  char buffer[4096];
  for (ssize_t count; (count = read(descriptor, buffer, sizeof buffer)) > 0;) {
    bytes.append(buffer, static_cast<std::size_t>(count));
  }
  return bytes;
}

TEST_F(FaultsTest, OutputAndLogReplaceOnlyARegularFileWriteOthersInPlaceAndRefuseLinks) {
  PrepareDeployment("exit 0\n");
  const Args deploy{"deploy", "--java", "./java", "--script-dir", "scripts", "--log", "out"};
  const Args output{"--output", "out", "get", "--json"};
  const struct {
    const char* reason;
    AtPath at;
    Args arguments;
    int status;
    const char* told;         // a line on stderr; empty: none
    const char* received;     // in the file, or read from the FIFO; empty: nothing checked
    bool smallFiles = false;  // files may grow to 512 bytes only: no document fits
  } cases[] = {
      {"a regular file is replaced by an owner-only one whatever the umask", AtPath::kRegularFile,
       output, 0, "", "\"format_version\""},
      {"a failed write leaves the regular file as it was", AtPath::kRegularFile, output, 2,
       "wassetup: --output: cannot write 'out': File too large; the file was left as it was\n",
       "the previous export\n", true},
      {"a FIFO gets the document in place", AtPath::kFifo, output, 0, "", "\"format_version\""},
      {"a device is written in place and its write error ends the tool", AtPath::kFullDevice,
       output, 2, "wassetup: --output: cannot write 'out': No space left on device\n", ""},
      {"a link to a file is neither followed nor replaced", AtPath::kLinkToFile, output, 2,
       "wassetup: --output: 'out' is a symbolic link; it is neither followed nor replaced\n", ""},
      {"a dangling link makes no file where it points", AtPath::kDanglingLink, output, 2,
       "wassetup: --output: 'out' is a symbolic link; it is neither followed nor replaced\n", ""},
      {"a log through a link is refused before anything runs", AtPath::kLinkToFile, deploy, 2,
       "wassetup: --log: 'out' is a symbolic link; it is neither followed nor replaced\n", ""},
      {"a log on a FIFO is written in place", AtPath::kFifo, deploy, 0, "", "deploy finished\n"},
      {"a log on a full device is told once and the deployment goes on", AtPath::kFullDevice,
       deploy, 0,
       "wassetup: cannot write to the --log file 'out': No space left on device; the rest of the "
       "log is lost\n",
       ""},
  };
  const std::string out = Path("out"), target = Path("target");
  for (const auto& row : cases) {
    unlink(out.c_str());
    unlink(target.c_str());
    if (!MakeAtPath(row.at, out, target)) {
      std::cout << "[ skipped ] " << row.reason << ": " << std::strerror(errno) << '\n';
      continue;
    }
    struct stat before {};
    lstat(out.c_str(), &before);
    // The reader is there before the tool opens the FIFO, as `cat FIFO &` would be.
    const int reader = row.at == AtPath::kFifo ? open(out.c_str(), O_RDONLY | O_NONBLOCK) : -1;
    const ToolResult outcome = Run(row.arguments, [&row] {
      umask(0);
      if (row.smallFiles) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{512, 512};
        setrlimit(RLIMIT_FSIZE, &limit);
      }
    });
    std::string received;
    if (reader >= 0) {
      received = Drain(reader);
      close(reader);
    } else if (row.at == AtPath::kRegularFile) {
      received = ReadFile(out);
    }
    EXPECT_EQ(outcome.status, row.status) << row.reason << ": " << outcome.err;
    if (row.status == 2) {
      EXPECT_EQ(outcome.out, "") << row.reason << ": no document and no step on stdout";
    }
    if (*row.told != '\0') {
      EXPECT_EQ(Occurrences(outcome.err, row.told), 1) << row.reason << ": " << outcome.err;
    } else {
      EXPECT_EQ(outcome.err.find("cannot write"), npos) << row.reason << ": " << outcome.err;
    }
    EXPECT_NE(received.find(row.received), npos) << row.reason << ": " << received;
    struct stat after {};
    ASSERT_EQ(lstat(out.c_str(), &after), 0) << row.reason;
    EXPECT_EQ(after.st_mode & S_IFMT, before.st_mode & S_IFMT) << row.reason;
    if (row.at == AtPath::kRegularFile) {
      EXPECT_EQ(after.st_mode & 07777, row.status == 0 ? 0600u : 0644u) << row.reason;
    }
    if (row.at == AtPath::kLinkToFile || row.at == AtPath::kDanglingLink) {
      char pointed[4096];
      const ssize_t length = readlink(out.c_str(), pointed, sizeof pointed);
      EXPECT_EQ(std::string(pointed, static_cast<std::size_t>(std::max<ssize_t>(length, 0))),
                target)
          << row.reason;
      EXPECT_EQ(FileExists(target), row.at == AtPath::kLinkToFile) << row.reason;
      EXPECT_EQ(ReadFile(target), row.at == AtPath::kLinkToFile ? "the target\n" : "")
          << row.reason;
    }
  }
}

struct DashValueCase {
  const char* reason;
  Args assignments;
  bool createDatabase;  // the step that passes the database password to a script
  const char* warning;  // empty: none
  const char* hidden;   // a text no warning may show; empty: none
};

TEST_F(FaultsTest, ValidateAndPlanWarnOfAValueThatBeginsWithADashInAScriptsArguments) {
  const DashValueCase cases[] = {
      {"a folder that reaches a copy script's arguments, its value shown",
       {"qimdirrt=--delete"},
       false,
       "wassetup: warning: the value of qimdirrt ('--delete') begins with '-' and is passed to "
       "the script QIMFilesCp.bat (step qim_copy)",
       ""},
      {"a password, which the plan shows as ********: the warning comes from the command with "
       "the password itself, and does not print it",
       {"databasePassword=-secret"},
       true,
       "wassetup: warning: the value of databasePassword begins with '-' and is passed to the "
       "script QIMDBSetup.bat (step java_dbsetup)",
       "-secret"},
      {"a plain folder", {"qimdirrt=/srv/qim"}, false, "", ""},
  };
  for (const DashValueCase& row : cases) {
    Set(row.assignments);
    if (row.createDatabase) {
      ASSERT_EQ(Run({"toggle", "EnableCreateDatabase"}).status, 0) << row.reason;
    }
    for (const char* command : {"validate", "plan"}) {
      const std::string err = Run({command}).err;
      if (*row.warning == '\0') {
        EXPECT_EQ(err.find("begins with '-'"), npos)
            << row.reason << ", " << command << ": " << err;
      } else {
        EXPECT_NE(err.find(row.warning), npos) << row.reason << ", " << command << ": " << err;
      }
      if (*row.hidden != '\0') {
        EXPECT_EQ(err.find(row.hidden), npos) << row.reason << ", " << command << ": " << err;
      }
    }
    if (row.createDatabase) {
      ASSERT_EQ(Run({"toggle", "EnableCreateDatabase"}).status, 0) << row.reason;
    }
  }
}

// The hidden prompt on a pseudo-terminal: Ctrl+C there must leave echo on.
TEST_F(FaultsTest, CtrlCAtTheHiddenPromptLeavesTheTerminalEchoing) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string terminal = ptsname(master);
  const int watcher = open(terminal.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(watcher, 0);
  std::string prefs = Path("prefs");
  Args arguments{WASSETUP_PATH, "--prefs-dir", prefs, "set", "databasePassword"};
  const std::vector<char*> argv = Argv(arguments);
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    // As at an operator's shell, whatever this test was started from (a background job
    // ignores SIGINT).
    signal(SIGINT, SIG_DFL);
    signal(SIGQUIT, SIG_DFL);
    const int slave = open(terminal.c_str(), O_RDWR);  // becomes the controlling terminal
    for (int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
      dup2(slave, descriptor);
    }
    unsetenv("YTQ_RT_OUT");
    execv(argv[0], argv.data());
    _exit(127);
  }
  // Waits for the prompt, then types Ctrl+C.
  std::string seen;
  const auto end = steady_clock::now() + std::chrono::seconds(10);
  fcntl(master, F_SETFL, O_NONBLOCK);
  while (seen.find("Value of databasePassword: ") == npos && steady_clock::now() < end) {
    char buffer[256];
    const ssize_t count = read(master, buffer, sizeof buffer);
    if (count > 0) {
      seen.append(buffer, static_cast<std::size_t>(count));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ASSERT_NE(seen.find("Value of databasePassword: "), npos) << seen;
  termios during{};
  tcgetattr(watcher, &during);
  EXPECT_EQ(during.c_lflag & ECHO, 0u) << "the prompt turns echo off";
  ASSERT_EQ(write(master, "\x03", 1), 1);
  const ToolResult outcome = ToolSandbox::Wait(pid, std::chrono::seconds(10));
  EXPECT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.signal, SIGINT) << "Ctrl+C still ends the tool";
  termios after{};
  tcgetattr(watcher, &after);
  EXPECT_NE(after.c_lflag & ECHO, 0u) << "echo is back on";
  EXPECT_FALSE(FileExists(Path("prefs/QIMSetup.prefs"))) << "nothing was stored";
  close(watcher);
  close(master);
}

// The Java launcher of these runs writes its pid, then becomes a sleep long enough to be cut
// off (a shell script may catch SIGINT itself while it starts the next program).
const char* const kSlowJava =
    "echo $$ > java.pid\n"
    "exec sleep 30\n";

// Waits until the fake Java launcher has written its pid and become the sleep; 0 when it did
// not within 10 s.
pid_t WaitForJava(const std::string& pidFile) {
  const auto end = steady_clock::now() + std::chrono::seconds(10);
  while (steady_clock::now() < end) {
    const std::string text = ReadFile(pidFile);
    const pid_t pid = static_cast<pid_t>(std::atoi(text.c_str()));
    if (!text.empty() && text.back() == '\n' &&
        ReadFile("/proc/" + std::to_string(pid) + "/comm") == "sleep\n") {
      return pid;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return 0;
}

TEST_F(FaultsTest, InterruptedDeployStopsItsCommandAndPrintsTheWholeResumeCommand) {
  PrepareDeployment(kSlowJava);
  const struct {
    int signal;
    int exitStatus;
  } cases[] = {{SIGINT, 130}, {SIGTERM, 143}};
  for (const auto& interruption : cases) {
    unlink(Path("java.pid").c_str());
    const pid_t tool =
        sandbox_.Start({"--separator", "/", "--db-product", "Oracle", "deploy", "--java", "./java",
                        "--script-dir", "scripts", "--log", "deploy log"},
                       ".run");
    const pid_t java = WaitForJava(Path("java.pid"));
    kill(tool, interruption.signal);
    const ToolResult outcome = sandbox_.Finish(tool, ".run", std::chrono::seconds(15));
    ASSERT_NE(java, 0) << "the launcher ran";
    EXPECT_FALSE(outcome.timedOut) << "the command got the signal and the tool did not wait 30 s";
    EXPECT_EQ(outcome.status, interruption.exitStatus) << outcome.err;
    EXPECT_NE(outcome.err.find("wassetup: interrupted at java_qim"), npos) << outcome.err;
    EXPECT_NE(outcome.err.find("; resume with: wassetup --prefs-dir " + Path("prefs") +
                               " --db-product Oracle --separator / deploy --java ./java "
                               "--script-dir scripts --log 'deploy log' --start-at java_qim\n"),
              npos)
        << outcome.err;
    EXPECT_NE(ReadFile(Path("deploy log")).find("deploy: interrupted at java_qim"), npos);
    EXPECT_NE(kill(java, 0), 0) << "the launcher does not outlive the tool";
  }
}

TEST_F(FaultsTest, CommandEndedBySignalIsReportedByTheSignalsName) {
  PrepareDeployment("kill -SEGV $$\n");
  const ToolResult outcome = Run({"deploy", "--java", "./java", "--script-dir", "scripts"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("killed by signal SIGSEGV"), npos) << outcome.err;
  EXPECT_EQ(outcome.err.find("exit status 139"), npos) << outcome.err;
}

TEST_F(FaultsTest, DeployWhoseOutputReaderIsGoneRunsOnAndSaysSo) {
  PrepareDeployment("echo \"$2\" >> java.log\n");
  const ToolResult outcome = Run({"deploy", "--java", "./java", "--script-dir", "scripts"}, [] {
    int ends[2];
    if (pipe(ends) == 0) {
      dup2(ends[1], STDOUT_FILENO);
      close(ends[0]);
    }
  });
  EXPECT_EQ(outcome.signal, 0);
  EXPECT_EQ(outcome.status, 2);
  EXPECT_NE(outcome.err.find("cannot write to standard output: Broken pipe"), npos) << outcome.err;
  EXPECT_EQ(CountLines(ReadFile(Path("java.log"))), 12) << "every Java step still ran";
}

}  // namespace
}  // namespace qimtest
