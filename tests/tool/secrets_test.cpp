// The two passwords never reach the operator's screen or the deployment log unless
// --show-secrets asks for them, on success and failure paths alike, while the commands that
// need them still receive them as typed.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/tool/tool_runner.h"

namespace qimtest {
namespace {

using Arguments = std::vector<std::string>;

constexpr const char* kCanary = "Canary-7f3Q-pass";

class SecretsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir(sandbox.Path("runtime").c_str(), 0700);
    mkdir(sandbox.Path("scripts").c_str(), 0700);
    // Typed on stdin as an operator would, then the rest that makes the form valid.
    ASSERT_EQ(sandbox.Run({"set", "databasePassword"}, std::string(kCanary) + "\n").status, 0);
    ASSERT_EQ(sandbox.Run({"set", "mqpass"}, std::string(kCanary) + "\n").status, 0);
    ASSERT_EQ(sandbox
                  .Run({"set", "qimdirrt=" + sandbox.Path("runtime"), "smtp=mail", "nuvserver=nuv",
                        "qimip=10.0.0.1", "nuvip=10.0.0.2", "fmcip=10.0.0.3", "enableCT=true"})
                  .status,
              0);
    // The fake launcher records its arguments, echoes them on both streams, and fails at the
    // first command that carries the password, saying so with the password in its last line.
    WriteFile(sandbox.Path("fake-java"),
              "#!/bin/sh\n"
              "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"$PWD/argv.log\"\n"
              "echo \"launcher got: $*\"\n"
              "echo \"launcher got: $*\" >&2\n"
              "for a in \"$@\"; do\n"
              "  [ \"$a\" = \"" +
                  std::string(kCanary) +
                  "\" ] && "
                  "{ echo \"login refused for password $a\" >&2; exit 3; }\n"
                  "done\n"
                  "exit 0\n");
    chmod(sandbox.Path("fake-java").c_str(), 0700);
    WriteFile(sandbox.Path("scripts/QIMFilesCp.bat"), "#!/bin/sh\necho \"copy: $*\"\nexit 0\n");
    chmod(sandbox.Path("scripts/QIMFilesCp.bat").c_str(), 0700);
  }

  Arguments DeployArguments() const {
    return {"deploy",
            "--java",
            sandbox.Path("fake-java"),
            "--script-dir",
            sandbox.Path("scripts"),
            "--log",
            sandbox.Path("deploy.log")};
  }

  void ExpectNoCanary(const ToolResult& result, const std::string& what) const {
    EXPECT_EQ(result.out.find(kCanary), std::string::npos) << what << " stdout:\n" << result.out;
    EXPECT_EQ(result.err.find(kCanary), std::string::npos) << what << " stderr:\n" << result.err;
  }

  ToolSandbox sandbox;
};

TEST_F(SecretsTest, NoCommandShowsThePasswords) {
  const std::vector<Arguments> commands = {
      {"info"},
      {"show"},
      {"show", "--json"},
      {"get"},
      {"get", "--json"},
      {"set", "smtp=mail2"},
      {"set", "databasePassword=" + std::string(kCanary)},
      {"toggle", "EnableCreateDatabase"},
      {"toggle", "EnableCreateDatabase"},
      {"browse", "BrowseQIMRT", "--cancel"},
      {"validate"},
      {"validate", "--json"},
      {"plan"},
      {"plan", "--json"},
  };
  for (const Arguments& command : commands) {
    const ToolResult result = sandbox.Run(command);
    EXPECT_EQ(result.status, 0) << command[0] << ": " << result.err;
    ExpectNoCanary(result, command[0]);
  }
}

TEST_F(SecretsTest, DocumentsWrittenToAFileAreMaskedToo) {
  for (const char* command : {"show", "get", "validate", "plan"}) {
    const std::string file = sandbox.Path(std::string(command) + ".json");
    const ToolResult result = sandbox.Run({"--output", file, command, "--json"});
    EXPECT_EQ(result.status, 0) << command << ": " << result.err;
    ExpectNoCanary(result, command);
    EXPECT_EQ(ReadFile(file).find(kCanary), std::string::npos) << command;
    if (std::string(command) != "validate") {
      EXPECT_NE(ReadFile(file).find("********"), std::string::npos) << command;
    }
  }
}

TEST_F(SecretsTest, ShowSecretsRevealsThemWhereAsked) {
  const ToolResult got = sandbox.Run({"--show-secrets", "get"});
  EXPECT_NE(got.out.find("databasePassword=" + std::string(kCanary)), std::string::npos);
  EXPECT_NE(got.out.find("mqpass=" + std::string(kCanary)), std::string::npos);
  Arguments deploy = DeployArguments();
  deploy.insert(deploy.begin(), "--show-secrets");
  const ToolResult failed = sandbox.Run(deploy);
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find(kCanary), std::string::npos) << "the masking is what hid it";
}

TEST_F(SecretsTest, AFailingDeploymentMasksWhatTheCommandPrintsAndLogs) {
  const ToolResult result = sandbox.Run(DeployArguments());
  EXPECT_EQ(result.status, 1) << result.err;
  ExpectNoCanary(result, "deploy");
  EXPECT_NE(result.err.find("login refused for password ********"), std::string::npos)
      << "the command's last line is shown, masked:\n"
      << result.err;
  EXPECT_NE(result.out.find("launcher got: "), std::string::npos) << "its stdout is passed on";
  const std::string log = ReadFile(sandbox.Path("deploy.log"));
  EXPECT_NE(log, "");
  EXPECT_EQ(log.find(kCanary), std::string::npos) << log;
  EXPECT_NE(ReadFile(sandbox.Path("argv.log")).find(std::string("\n") + kCanary + "\n"),
            std::string::npos)
      << "the command itself receives the password as typed";
  struct stat info {};
  ASSERT_EQ(stat(sandbox.Path("deploy.log").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "the log is the operator's only";
}

TEST_F(SecretsTest, AnInvalidFormMasksItsMessages) {
  ASSERT_EQ(sandbox.Run({"set", "fmcip="}).status, 0);
  for (const Arguments& command :
       {Arguments{"validate"}, Arguments{"validate", "--json"}, DeployArguments()}) {
    const ToolResult result = sandbox.Run(command);
    EXPECT_EQ(result.status, 1) << command[0];
    ExpectNoCanary(result, command[0]);
  }
  EXPECT_FALSE(FileExists(sandbox.Path("argv.log"))) << "nothing ran";
}

// A damaged settings file holds the passwords; the warning about it must not quote them.
TEST_F(SecretsTest, ACorruptSettingsFileIsReportedWithoutQuotingIt) {
  const std::string good = ReadFile(sandbox.PreferenceFile());
  const std::size_t canaryAt = good.find(kCanary);
  ASSERT_NE(canaryAt, std::string::npos);
  const std::size_t secondLine = good.find('\n') + 1;
  const struct {
    std::string content;
    const char* reason;
  } corruptions[] = {
      {good.substr(0, canaryAt + 6), "cut short inside the password"},
      {good.substr(0, secondLine) + kCanary + " \"x\" 1 \"y\"\n" + good.substr(secondLine),
       "a line that starts with the password"},
      {"zaf-preferences " + std::string(kCanary) + "\n" + good.substr(secondLine),
       "the password in the header"},
      {good.substr(0, canaryAt) + "\x01" + good.substr(canaryAt), "a control byte before it"},
  };
  for (const auto& corruption : corruptions) {
    for (const Arguments& command :
         {Arguments{"show"}, Arguments{"get", "--json"}, Arguments{"plan"}, DeployArguments()}) {
      WriteFile(sandbox.PreferenceFile(), corruption.content);  // a save keeps it aside
      const ToolResult result = sandbox.Run(command);
      EXPECT_NE(result.err.find(sandbox.PreferenceFile()), std::string::npos)
          << corruption.reason << ", " << command[0] << ": the file is named";
      ExpectNoCanary(result, std::string(corruption.reason) + ", " + command[0]);
    }
  }
}

TEST_F(SecretsTest, RefusedInputDoesNotEchoThePasswords) {
  WriteFile(sandbox.Path("bad.json"), std::string("{\"settings\": \"") + kCanary + "\"}");
  WriteFile(sandbox.Path("notjson.json"), std::string("{ ") + kCanary);
  for (const Arguments& command :
       {Arguments{"set", "--from", sandbox.Path("bad.json")},
        Arguments{"set", "--from", sandbox.Path("notjson.json")},
        Arguments{"set", "bogus=" + std::string(kCanary)},
        Arguments{"set", "smtp=" + std::string(kCanary), "smtp=" + std::string(kCanary)}}) {
    const ToolResult result = sandbox.Run(command);
    EXPECT_EQ(result.status, 2) << command[1];
    ExpectNoCanary(result, command[1]);
  }
}

}  // namespace
}  // namespace qimtest
