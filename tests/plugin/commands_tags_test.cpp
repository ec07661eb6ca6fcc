// The command tags handed to the host and the messages for failed commands, outside
// test-harness mode.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/plugin/commands_fixture.h"

namespace qimtest {
namespace {

const std::vector<std::string> kThirteenTags = {
    "qim_copy",    "java_qim",       "java_app",       "java_qimdef",    "java_nuvdef",
    "java_fmcdef", "java_qimcreate", "java_nuvcreate", "java_fmccreate", "java_xml1",
    "java_xml2",   "java_db2file",   "java_zafenv"};

std::vector<std::string> WithDatabaseSetup(std::vector<std::string> tags) {
  tags.emplace_back("java_dbsetup");
  return tags;
}

struct TagListCase {
  bool enabled;
  bool createDatabase;
  std::vector<std::string> expected;
};

class CommandTagListTest : public BackslashCommandsTest,
                           public ::testing::WithParamInterface<TagListCase> {};

TEST_P(CommandTagListTest, ListsTheCommandsForTheCheckButtons) {
  SetChecked("EnableQimPlugIn", GetParam().enabled);
  SetChecked("EnableCreateDatabase", GetParam().createDatabase);
  ZAFRawCollPV tags;
  tags.Append("left over from an earlier call");
  plugin.GetCommandTags(tags);
  EXPECT_EQ(TagTexts(tags), GetParam().expected);
  // The host gets the table's own addresses, which it hands back as they are.
  for (int position = 1; position <= tags.Size(); ++position) {
    EXPECT_EQ(tags[position], Tag(TagTexts(tags)[position - 1].c_str()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    CheckButtons, CommandTagListTest,
    ::testing::Values(TagListCase{false, false, {}}, TagListCase{false, true, {}},
                      TagListCase{true, false, kThirteenTags},
                      TagListCase{true, true, WithDatabaseSetup(kThirteenTags)}));

struct ErrorMessageCase {
  const char* tag;
  const char* expectedText;  // empty: the tag has no message
};

class CommandErrorMessageTest : public BackslashCommandsTest,
                                public ::testing::WithParamInterface<ErrorMessageCase> {};

TEST_P(CommandErrorMessageTest, GivesTheTagsTextWithTheDetailOrNothing) {
  const std::string expectedTitle = *GetParam().expectedText ? "QIM setup step failed" : "";
  for (int status : {0, -7, 42}) {
    ZAFUnicodeString title = "old title";
    ZAFUnicodeString text = "old text";
    plugin.GetCommandErrorMessage(Tag(GetParam().tag), status, "abc", title, text);
    EXPECT_EQ(title.str(), expectedTitle) << "status " << status;
    EXPECT_EQ(text.str(), GetParam().expectedText) << "status " << status;
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllTags, CommandErrorMessageTest,
    ::testing::Values(
        ErrorMessageCase{"qim_copy", ""},
        ErrorMessageCase{"java_qim", "Creating the QIM environment failed: abc"},
        ErrorMessageCase{"java_app", "Updating the QIM application properties failed: abc"},
        ErrorMessageCase{"java_qimdef", "Writing the QIM queue-manager definition failed: abc"},
        ErrorMessageCase{"java_nuvdef", "Writing the NUV queue-manager definition failed: abc"},
        ErrorMessageCase{"java_fmcdef",
                         "Writing the Workflow queue-manager definition failed: abc"},
        ErrorMessageCase{"java_qimcreate", "Creating the QIM queue manager failed: abc"},
        ErrorMessageCase{"java_nuvcreate", "Creating the NUV queue manager failed: abc"},
        ErrorMessageCase{"java_fmccreate", "Creating the Workflow queue manager failed: abc"},
        ErrorMessageCase{"java_zafenv", ""}, ErrorMessageCase{"java_dbsetup", ""},
        ErrorMessageCase{"java_db2file", ""},
        ErrorMessageCase{"java_runbat", "Running the QIM batch script failed: abc"},
        ErrorMessageCase{
            "java_xml1",
            "Updating the NUV queue-manager details (NuvQimMQDetails.xml) failed: abc"},
        ErrorMessageCase{
            "java_xml2",
            "Updating the service queue-manager details (BRAXQIMSvcMQDetails.xml) failed: abc"},
        ErrorMessageCase{"java_cp", ""}));

TEST_F(BackslashCommandsTest, ErrorMessageForATagTextStoredElsewhereIsEmpty) {
  const std::string copy = "java_qimdef";
  ZAFUnicodeString title = "old title";
  ZAFUnicodeString text = "old text";
  plugin.GetCommandErrorMessage(copy.c_str(), 0, "abc", title, text);
  EXPECT_EQ(title.str(), "");
  EXPECT_EQ(text.str(), "");
}

// One command from the list to the host and back, as a deployment runs it.
TEST_F(BackslashCommandsTest, RoadOfTheQueueManagerDefinitionCommand) {
  SetChecked("EnableCreateDatabase", true);
  FillExampleDirectories();
  SetEditor("QIMMQDLEditor", "Q.DLQ");
  SetEditor("QIMIPEditor", "10.1.2.3 ");
  SetEditor("QIMPortEditor", "1500");

  ZAFRawCollPV tags;
  plugin.GetCommandTags(tags);
  ASSERT_EQ(tags.Size(), 14);
  ASSERT_EQ(tags[4], Tag("java_qimdef"));

  ZAFUnicodeString commandLine;
  plugin.GetCommandString(tags[4], commandLine);
  EXPECT_FALSE(commandLine.IsEmpty());
  ASSERT_EQ(host.commands.size(), 1u);
  EXPECT_EQ(host.commands[0].options, kJvmOptions);
  EXPECT_EQ(host.commands[0].target, "com.corvanta.qimpluginutilities.UpdateQIMFiles");
  EXPECT_EQ(host.commands[0].arguments,
            (std::vector<std::string>{
                "'D:\\QIMRT\\QIM\\MQ_SvrSvr\\QIMQM.def'", "'D:\\QIMRT\\QIM\\MQ_SvrSvr\\QIMQM.def'",
                "Q.DLQ", "'D:\\QIMRT\\QIMTrigInstantiate.bat'", "10.1.2.3", "1500", "qimdef"}));
  EXPECT_EQ(FmcJarPathReported(), "C:\\MQWF\\bin\\fmcojagt.jar");

  ZAFUnicodeString title;
  ZAFUnicodeString text;
  plugin.GetCommandErrorMessage(tags[4], 1, "queue manager busy", title, text);
  EXPECT_EQ(title.str(), "QIM setup step failed");
  EXPECT_EQ(text.str(), "Writing the QIM queue-manager definition failed: queue manager busy");
}

}  // namespace
}  // namespace qimtest
