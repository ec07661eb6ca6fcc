// wassetup under hostile bytes, broken output, signals and odd files, through the real binary:
// no input ends it with a signal, the terminal sees no control character it did not print
// itself, a write that fails is told, a deployment that is interrupted stops its command and
// says how to resume.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <regex>
#include <thread>

#include "tool_runner.h"

namespace qimtest {
namespace {

using Json = nlohmann::json;
using namespace std::chrono_literals;

// The sandbox of every test here, and its Java launcher, scripts and valid settings.
class FaultsTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return sandbox_.Path(name); }

  ToolSandbox sandbox_;
};

// Every byte below 0x20 but the line feed, DEL, and the C1 control CSI in its UTF-8 form.
bool HoldsControlCharacters(const std::string& text) {
  return std::regex_search(text, std::regex(R"([\x00-\x09\x0b-\x1f\x7f]|\xc2\x9b)"));
}

// Bytes that are not UTF-8 give JSON with the replacement character; control characters are
// shown escaped in every text output, and no command ends with a signal.
TEST_F(FaultsTest, HostileBytesInValuesGiveValidJsonAndEscapedTextInEveryCommand) {
  ASSERT_TRUE(sandbox_.PrepareDeployment("exit 0\n"));
  ASSERT_EQ(
      sandbox_
          .Run({"set", "nuvserver=srv\n 15. fake_step: rm -rf /", "smtp=\x1b]0;owned\x07\x1b[2J",
                "databaseName=QIM\xc2\x9b"
                "31mDB\x7f",
                "qimmq=Q\xffM", "qimdir=C:\\Q\xe9IM"})
          .status,
      0);
  const std::string server = "srv\\n 15. fake_step: rm -rf /";
  const struct {
    Args arguments;
    std::map<std::string, std::string> environment;
    std::string escaped;  // how a hostile value reads in text; empty: a JSON document
  } cases[] = {
      {{"get", "--json"}, {}, ""},
      {{"show", "--json"}, {}, ""},
      {{"plan", "--json"}, {}, ""},
      {{"validate", "--json"}, {}, ""},
      {{"plan", "--json"}, {{"JAVA_HOME", "/opt/jdk\xe9"}}, ""},
      {{"--was-dir", "/opt/IBM/WebSph\xe8re", "show", "--json"}, {}, ""},
      {{"get"}, {}, "nuvserver=" + server + "\n"},
      {{"get"}, {}, "smtp=\\x1b]0;owned\\x07\\x1b[2J\n"},
      {{"get"}, {}, "databaseName=QIM\\u009b31mDB\\x7f\n"},
      {{"show"}, {}, server},
      {{"plan"}, {}, server},
      {{"info"}, {}, "Java variables:\n"},
      {{"validate"}, {}, "The settings are valid.\n"},
      {kDeploy, {}, server},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.arguments.front() + " " + row.arguments.back());
    const ToolResult outcome = sandbox_.Run(row.arguments, "", row.environment);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    if (row.escaped.empty()) {
      EXPECT_FALSE(Json::parse(outcome.out, nullptr, false).is_discarded()) << outcome.out;
    } else {
      EXPECT_FALSE(HoldsControlCharacters(outcome.out + outcome.err)) << outcome.out;
      EXPECT_THAT(outcome.out + outcome.err, Not(HasSubstr("\n 15. fake_step")));
      EXPECT_THAT(outcome.out, HasSubstr(row.escaped));
    }
  }
  EXPECT_THAT(Json::parse(sandbox_.Run({"get", "--json"}).out)["settings"],
              ::testing::Contains(Json({{"key", "qimmq"}, {"value", "Q\xef\xbf\xbdM"}})));
}

// A looking command ends at once; a deployment runs every step to its end, its commands'
// output still going nowhere, and then says so.
TEST_F(FaultsTest, AFailedWriteToStandardOutputIsToldAndExitsWith2) {
  ASSERT_TRUE(sandbox_.PrepareDeployment("echo \"$2\" >> java.log\n"));
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
  for (const auto& row : cases) {
    for (const Args& command : {Args{"plan"}, Args{"get"}, kDeploy}) {
      SCOPED_TRACE(std::string(row.reason) + ", " + command[0]);
      unlink(Path("java.log").c_str());
      const ToolResult outcome = sandbox_.Run(command, "", {}, row.stdoutSetup);
      EXPECT_EQ(outcome.signal, 0);
      EXPECT_EQ(outcome.status, 2);
      EXPECT_THAT(outcome.err, HasSubstr(row.told));
      if (command[0] == "deploy") {
        EXPECT_EQ(CountLines(ReadFile(Path("java.log"))), 12) << "every Java step still ran";
      }
    }
  }
}

// What lies at the path "out" before a run names it with --output or --log.
enum class AtPath { kRegularFile, kFifo, kFullDevice, kLinkToFile, kDanglingLink, kSocket };

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
    case AtPath::kSocket: {  // its node stays when the socket is closed
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      path.copy(address.sun_path, sizeof address.sun_path - 1);
      const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
      const bool made = bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
      close(socket);
      return made;
    }
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
  ASSERT_TRUE(sandbox_.PrepareDeployment("exit 0\n"));
  const Args deploy = Joined(kDeploy, {"--log", "out"});
  const Args output{"--output", "out", "get", "--json"};
  const std::string link = "'out' is a symbolic link; it is neither followed nor replaced\n";
  const std::string outputLink = "wassetup: --output: " + link;
  const struct {
    const char* reason;
    AtPath at;
    Args arguments;
    int status;
    std::string told;         // a line on stderr; empty: none
    const char* received;     // in the file, or read from the FIFO; empty: nothing checked
    bool smallFiles = false;  // files may grow to 512 bytes only: no document fits
  } cases[] = {
      {"a failed write leaves the regular file as it was", AtPath::kRegularFile, output, 2,
       "wassetup: --output: cannot write 'out': File too large; the file was left as it was\n",
       "the previous export\n", true},
      {"a FIFO gets the document in place", AtPath::kFifo, output, 0, "", "\"format_version\""},
      {"a device is written in place and its write error ends the tool", AtPath::kFullDevice,
       output, 2, "wassetup: --output: cannot write 'out': No space left on device\n", ""},
      {"a link to a file is neither followed nor replaced", AtPath::kLinkToFile, output, 2,
       outputLink, ""},
      {"a dangling link makes no file where it points", AtPath::kDanglingLink, output, 2,
       outputLink, ""},
      {"a socket is neither opened nor replaced", AtPath::kSocket, output, 2,
       "wassetup: --output: cannot write 'out': it is a socket, which cannot be opened as a file\n",
       ""},
      {"a log through a link is refused before anything runs", AtPath::kLinkToFile, deploy, 2,
       "wassetup: --log: " + link, ""},
      {"a log on a FIFO is written in place", AtPath::kFifo, deploy, 0, "", "deploy finished\n"},
      {"a log on a full device is told once and the deployment goes on", AtPath::kFullDevice,
       deploy, 0,
       "wassetup: cannot write to the --log file 'out': No space left on device; the rest of the "
       "log is lost\n",
       ""},
  };
  const std::string out = Path("out"), target = Path("target");
  for (const auto& row : cases) {
    SCOPED_TRACE(row.reason);
    unlink(out.c_str());
    unlink(target.c_str());
    if (!MakeAtPath(row.at, out, target)) {
      std::cout << "[ skipped ] " << row.reason << ": " << std::strerror(errno) << '\n';
      continue;
    }
    const int before = ModeOf(out);
    // The reader is there before the tool opens the FIFO, as `cat FIFO &` would be.
    const int reader = row.at == AtPath::kFifo ? open(out.c_str(), O_RDONLY | O_NONBLOCK) : -1;
    const ToolResult outcome = sandbox_.Run(row.arguments, "", {}, [&row] {
      umask(0);
      if (row.smallFiles) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{512, 512};
        setrlimit(RLIMIT_FSIZE, &limit);
      }
    });
    // Only a regular file is read back: a device node of /dev/full reads without end.
    const std::string received = reader >= 0                      ? Drain(reader)
                                 : row.at == AtPath::kRegularFile ? ReadFile(out)
                                                                  : "";
    close(reader);
    EXPECT_EQ(outcome.status, row.status) << outcome.err;
    if (row.status == 2) {
      EXPECT_EQ(outcome.out, "") << "no document and no step on stdout";
    }
    if (!row.told.empty()) {
      EXPECT_EQ(Occurrences(outcome.err, row.told), 1) << outcome.err;
    } else {
      EXPECT_THAT(outcome.err, Not(HasSubstr("cannot write")));
    }
    EXPECT_THAT(received, HasSubstr(row.received));
    EXPECT_EQ(ModeOf(out) & S_IFMT, before & S_IFMT) << "the type of what is at the path";
    if (row.at == AtPath::kRegularFile) {
      EXPECT_EQ(ModeOf(out) & 07777, row.status == 0 ? 0600 : 0644);
    }
    if (row.at == AtPath::kLinkToFile || row.at == AtPath::kDanglingLink) {
      std::error_code error;
      EXPECT_EQ(std::filesystem::read_symlink(out, error).string(), target) << error.message();
      EXPECT_EQ(ReadFile(target), row.at == AtPath::kLinkToFile ? "the target\n" : "");
      EXPECT_EQ(FileExists(target), row.at == AtPath::kLinkToFile);
    }
  }
}

TEST_F(FaultsTest, InterruptedDeployStopsItsCommandAndPrintsTheWholeResumeCommand) {
  // The launcher writes its pid, then becomes a sleep long enough to be cut off (a shell
  // script may catch SIGINT itself while it starts the next program).
  ASSERT_TRUE(sandbox_.PrepareDeployment("echo $$ > java.pid\nexec sleep 30\n"));
  for (const auto& [signal, exitStatus] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
    SCOPED_TRACE(strsignal(signal));
    unlink(Path("java.pid").c_str());
    const pid_t tool =
        sandbox_.Start(Joined(Joined({"--separator", "/", "--db-product", "Oracle"}, kDeploy),
                              {"--log", "deploy log", "--json"}),
                       ".run");
    // Once the launcher has written its pid and become the sleep.
    pid_t java = 0;
    WaitFor(
        [&] {
          const std::string text = ReadFile(Path("java.pid"));
          java = static_cast<pid_t>(std::atoi(text.c_str()));
          return !text.empty() && text.back() == '\n' &&
                 ReadFile("/proc/" + std::to_string(java) + "/comm") == "sleep\n";
        },
        10s);
    kill(tool, signal);
    const ToolResult outcome = sandbox_.Finish(tool, ".run", 15s);
    ASSERT_NE(java, 0) << "the launcher ran";
    EXPECT_FALSE(outcome.timedOut) << "the command got the signal and the tool did not wait 30 s";
    EXPECT_EQ(outcome.status, exitStatus) << outcome.err;
    EXPECT_THAT(outcome.err,
                AllOf(HasSubstr("wassetup: interrupted at java_qim"),
                      HasSubstr("; resume with: wassetup --prefs-dir " + Path("prefs") +
                                " --db-product Oracle --separator / deploy --java ./java "
                                "--script-dir scripts --log 'deploy log' --start-at java_qim\n")));
    EXPECT_THAT(ReadFile(Path("deploy log")), HasSubstr("deploy: interrupted at java_qim"));
    const Json document = Json::parse(outcome.out, nullptr, false);
    EXPECT_EQ(document.value("status", ""), "interrupted") << outcome.out;
    EXPECT_EQ(document.value(Json::json_pointer("/interruption/resume_tag"), ""), "java_qim");
    EXPECT_NE(kill(java, 0), 0) << "the launcher does not outlive the tool";
  }
}

TEST_F(FaultsTest, CommandEndedBySignalIsReportedByTheSignalsName) {
  ASSERT_TRUE(sandbox_.PrepareDeployment("kill -SEGV $$\n"));
  const ToolResult outcome = sandbox_.Run(kDeploy);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_THAT(outcome.err,
              AllOf(HasSubstr("killed by signal SIGSEGV"), Not(HasSubstr("exit status 139"))));
}

}  // namespace
}  // namespace qimtest
