// The deployment commands in test-harness mode: the enable gate is lifted, the tag list is
// traced, and a form that was never built does not stop the commands.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/plugin/commands_fixture.h"

namespace qimtest {
namespace {

class HarnessCommandsTest : public BackslashCommandsTest {
 protected:
  void SetUp() override {
    BackslashCommandsTest::SetUp();
    SetChecked("EnableQimPlugIn", false);
  }
};

TEST_F(HarnessCommandsTest, DisabledPlugInStillListsTheCommandsAfterTheTraceLine) {
  for (bool createDatabase : {false, true}) {
    SetChecked("EnableCreateDatabase", createDatabase);
    ZAFRawCollPV tags;
    ::testing::internal::CaptureStdout();
    plugin.GetCommandTags(tags);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "GetCommandTags .... \n");
    ASSERT_EQ(tags.Size(), createDatabase ? 14 : 13);
    EXPECT_EQ(tags[1], Tag("qim_copy"));
    EXPECT_EQ(tags[13], Tag("java_zafenv"));
    if (createDatabase) {
      EXPECT_EQ(tags[14], Tag("java_dbsetup"));
    }
  }
}

TEST_F(HarnessCommandsTest, DisabledPlugInStillBuildsCommands) {
  FillExampleDirectories();
  SetEditor("FMCIPEditor", "10.1.2.4");
  SetEditor("FMCPortEditor", "1600");
  EXPECT_NE(CommandFor("java_fmccreate"), "");
  ASSERT_EQ(host.commands.size(), 1u);
  EXPECT_EQ(host.commands[0].arguments,
            (std::vector<std::string>{"'D:\\QIMRT\\QIM\\QIMCreateFMCQM.bat'",
                                      "'D:\\QIMRT\\QIM\\QIMCreateFMCQM.bat'", "10.1.2.4", "1600",
                                      "FMCQM", "create"}));
  EXPECT_EQ(FmcJarPathReported(), "C:\\MQWF\\bin\\fmcojagt.jar");
}

// The host may ask before the pages exist: the editors then read as empty.
TEST(HarnessCommandsWithoutFormTest, CommandsAreBuiltFromEmptyFields) {
  ScopedHost scopedHost(QIM_SOURCE_CATALOG_DIR, "", '\\');
  RecordingHost host;
  TestablePlugIn plugin;
  plugin.SetHost(&host);

  ZAFRawCollPV tags;
  ::testing::internal::CaptureStdout();
  plugin.GetCommandTags(tags);
  ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(tags.Size(), 13);

  ::testing::internal::CaptureStdout();
  for (int position = 1; position <= tags.Size(); ++position) {
    ZAFUnicodeString commandLine;
    plugin.GetCommandString(tags[position], commandLine);
    EXPECT_FALSE(commandLine.IsEmpty()) << TagTexts(tags)[position - 1];
  }
  ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(host.commands.size(), 13u);
  // "java_xml1": the empty wait time still takes its place.
  EXPECT_EQ(host.commands[9].arguments.back(), "WAITTIME=");

  ZAFJdeWASDataSource* record = nullptr;
  int count = 0;
  plugin.GetDataSourceSettings(record, count);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(record->JndiName.str(), "");
}

}  // namespace
}  // namespace qimtest
