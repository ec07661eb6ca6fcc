// The gate of GetCommandString, the command context as the commands' arguments show it, and
// what happens without a host object, outside test-harness mode.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/zaf_preferences.h"
#include "tests/plugin/commands_fixture.h"

namespace qimtest {
namespace {

// Each value of the context shows up as one argument of some command.
struct ContextValueCase {
  const char* name;
  const char* tag;
  int argument;  // from 0
  const char* expected;
};

class CommandContextTest : public BackslashCommandsTest,
                           public ::testing::WithParamInterface<ContextValueCase> {
 protected:
  void SetUp() override {
    BackslashCommandsTest::SetUp();
    SetEditor("QIMRTEditor", "D:\\QIMRT ");
    SetEditor("QIMEditor", "C:\\Program Files\\QIM");
    SetEditor("MQWFEditor", "C:\\MQWF");
  }
};

TEST_P(CommandContextTest, ReachesTheCommandsArguments) {
  const ContextValueCase& value = GetParam();
  CommandFor(value.tag);
  ASSERT_EQ(host.commands.size(), 1u) << value.name;
  const std::vector<std::string>& arguments = host.commands[0].arguments;
  ASSERT_LT(value.argument, static_cast<int>(arguments.size())) << value.name;
  EXPECT_EQ(arguments[value.argument], value.expected) << value.name;
  EXPECT_EQ(FmcJarPathReported(), "C:\\MQWF\\bin\\fmcojagt.jar");
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExample, CommandContextTest,
    ::testing::Values(
        ContextValueCase{"QimRuntimeDir", "qim_copy", 1, "D:\\QIMRT"},
        ContextValueCase{"QimPlatformDir", "java_app", 5, "'C:\\Program Files\\QIM\\intel_a'"},
        ContextValueCase{"QimJavaDocsDir", "java_app", 0,
                         "'C:\\Program Files\\QIM\\intel_a\\docs\\java\\app.properties'"},
        ContextValueCase{"QimCommandDir", "qim_copy", 0,
                         "C:\\Program Files\\QIM\\intel_a\\code\\command"},
        ContextValueCase{"QimQueueManagerDir", "java_qimdef", 0,
                         "'D:\\QIMRT\\QIM\\MQ_SvrSvr\\QIMQM.def'"},
        ContextValueCase{"QimDatabaseDir", "java_dbsetup", 4, "D:\\QIMRT\\QIM\\DB"},
        ContextValueCase{"NuvQueueManagerDir", "java_zafenv", 4, "'D:\\QIMRT\\QIM\\NUV_MQSvr'"},
        ContextValueCase{"CreateQimQmScriptPath", "java_qimcreate", 0,
                         "'D:\\QIMRT\\QIM\\QIMCreateQIMQM.bat'"},
        ContextValueCase{"EnvScriptPath", "java_qim", 0, "D:\\QIMRT\\QIMEnv.bat"},
        ContextValueCase{"SqlScriptPath", "java_dbsetup", 0,
                         "D:\\QIMRT\\QIM\\DB\\CreateSQLDatabase.bat"},
        ContextValueCase{"Db2ScriptPath", "java_db2file", 0,
                         "'D:\\QIMRT\\QIM\\DB\\CreateSQLDatabase.db2'"}));

TEST_F(BackslashCommandsTest, ClosedGateBuildsNothingAndKeepsFmcJarPath) {
  SetEditor("MQWFEditor", "C:\\MQWF");
  CommandFor("java_runbat");
  ASSERT_EQ(FmcJarPathReported(), "C:\\MQWF\\bin\\fmcojagt.jar");

  SetChecked("EnableQimPlugIn", false);
  SetEditor("MQWFEditor", "C:\\Other");
  const int databaseCallsBefore = host.databaseSettingsCalls;
  for (const char* tag : {"qim_copy", "java_qim", "java_app", "java_qimdef", "java_dbsetup"}) {
    EXPECT_EQ(CommandFor(tag), "") << tag;
  }
  EXPECT_TRUE(host.commands.empty());
  EXPECT_EQ(host.databaseSettingsCalls, databaseCallsBefore);
  EXPECT_EQ(FmcJarPathReported(), "C:\\MQWF\\bin\\fmcojagt.jar");
  // Not even the settings are saved behind a closed gate.
  int count = 0;
  EXPECT_LT(plugin.GetPreferenceRepository()->ReadPreference("count", &count, 1), 0);
}

TEST_F(BackslashCommandsTest, OpenGateUpdatesFmcJarPathEvenForATagWithoutCommand) {
  SetEditor("MQWFEditor", " C:\\Program Files\\MQWF ");
  EXPECT_EQ(CommandFor("java_runbat"), "");
  EXPECT_EQ(FmcJarPathReported(), "C:\\Program Files\\MQWF\\bin\\fmcojagt.jar");
  EXPECT_TRUE(host.commands.empty());
}

TEST_F(BackslashCommandsTest, TagsWithoutBranchAndForeignPointersBuildNothing) {
  FillExampleDirectories();
  const std::string copy = "java_qimdef";
  for (const void* tag :
       {Tag("java_runbat"), Tag("java_cp"), static_cast<const void*>(copy.c_str()),
        static_cast<const void*>(&copy)}) {
    ZAFUnicodeString commandLine = "not cleared";
    plugin.GetCommandString(tag, commandLine);
    EXPECT_EQ(commandLine.str(), "");
  }
  EXPECT_TRUE(host.commands.empty());
}

TEST_F(BackslashCommandsTest, WithoutHostEveryCommandLineIsEmpty) {
  FillExampleDirectories();
  SetChecked("EnableCreateDatabase", true);
  plugin.SetHost(nullptr);
  ZAFRawCollPV tags;
  plugin.GetCommandTags(tags);
  ASSERT_EQ(tags.Size(), 14);
  for (const std::string& tag : TagTexts(tags)) {
    EXPECT_EQ(CommandFor(tag.c_str()), "") << tag;
  }
  EXPECT_TRUE(host.commands.empty());
  EXPECT_EQ(host.databaseSettingsCalls, 0);
  EXPECT_EQ(FmcJarPathReported(), "C:\\MQWF\\bin\\fmcojagt.jar");
}

// Asking for java_qim saves the settings, as GetUserInterfaceFields does; java_app does not.
TEST_F(BackslashCommandsTest, EnvironmentCommandSavesTheSettingsAndAppCommandDoesNot) {
  FillExampleDirectories();
  ZAFSysPreferenceRepository* repository = plugin.GetPreferenceRepository();
  ASSERT_NE(repository, nullptr);
  int count = 0;
  CommandFor("java_app");
  EXPECT_LT(repository->ReadPreference("count", &count, 1), 0);

  plugin.SetHost(nullptr);
  CommandFor("java_qim");
  ASSERT_EQ(repository->ReadPreference("count", &count, 1), 0);
  EXPECT_EQ(count, 33);
}

}  // namespace
}  // namespace qimtest
