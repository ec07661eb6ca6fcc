// The pieces each command branch hands to the host, and the files the branches touch, outside
// test-harness mode.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/plugin/commands_fixture.h"

namespace qimtest {
namespace {

using Arguments = std::vector<std::string>;
using Kind = RecordedCommand::Kind;

struct BranchCase {
  const char* tag;
  Kind kind;
  const char* target;  // Java class or script name
  Arguments arguments;
};

// The form of the worked examples: directories, queue managers, wait time and database.
class CommandBranchTest : public BackslashCommandsTest,
                          public ::testing::WithParamInterface<BranchCase> {
 protected:
  void SetUp() override {
    BackslashCommandsTest::SetUp();
    FillExampleDirectories();
    for (const auto& [editor, text] :
         std::vector<std::pair<const char*, const char*>>{{"QIMMQNameEditor", "QIMQM1"},
                                                          {"QIMMQDLEditor", "Q.DLQ"},
                                                          {"QIMIPEditor", "10.1.2.3 "},
                                                          {"QIMPortEditor", "1500"},
                                                          {"NUVMQNameEditor", "NUVQM1"},
                                                          {"NUVMQDLEditor", " N.DLQ"},
                                                          {"NUVIPEditor", "10.1.2.5"},
                                                          {"NUVPortEditor", "1700"},
                                                          {"FMCIPEditor", "10.1.2.4"},
                                                          {"FMCPortEditor", "1600"},
                                                          {"MsqWTEditor", "30"},
                                                          {"DatabaseNameEditor", "QIMDB"},
                                                          {"DatabaseUserEditor", "dbuser"},
                                                          {"DatabasePasswordEditor", "se cret"}}) {
      SetEditor(editor, text);
    }
  }
};

TEST_P(CommandBranchTest, HandsTheHostItsPieces) {
  const BranchCase& expected = GetParam();
  EXPECT_NE(CommandFor(expected.tag), "");
  ASSERT_EQ(host.commands.size(), 1u);
  const RecordedCommand& command = host.commands[0];
  EXPECT_EQ(command.kind, expected.kind);
  EXPECT_EQ(command.options, expected.kind == Kind::kJava ? kJvmOptions : Arguments{});
  EXPECT_EQ(command.target, expected.target);
  EXPECT_EQ(command.arguments, expected.arguments);
}

constexpr const char* kCreateEnv = "com.corvanta.qimpluginutilities.CreateQIMEnv";
constexpr const char* kUpdateFiles = "com.corvanta.qimpluginutilities.UpdateQIMFiles";
constexpr const char* kUpdateXmls = "com.corvanta.qimpluginutilities.UpdateQIMXmls";

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, CommandBranchTest,
    ::testing::Values(
        BranchCase{"qim_copy",
                   Kind::kScript,
                   "QIMFilesCp.bat",
                   {"C:\\QIM\\intel_a\\code\\command", "D:\\QIMRT"}},
        BranchCase{
            "java_qim",
            Kind::kJava,
            kCreateEnv,
            {"D:\\QIMRT\\QIMEnv.bat", "D:\\QIMRT\\QIMEnv.bat", "'WEBAPP_HOME=C:\\QIM\\intel_a'",
             "'MQ_INSTALL=C:\\MQS'", "'MQWF_INSTALL=C:\\MQWF\\BIN'", "'JAVA_HOME=C:\\Java'",
             "'NUV_INSTALL=C:\\NUV'", "'WAS_LIB_J2EE=C:\\WAS\\lib'",
             "'WAS_LIB_XERCES=C:\\WAS\\deploytool\\itp\\plugins\\org.apache.xerces_4.0.13'",
             "MQWF_CFG_NAME=FMC"}},
        BranchCase{
            "java_qimdef",
            Kind::kJava,
            kUpdateFiles,
            {"'D:\\QIMRT\\QIM\\MQ_SvrSvr\\QIMQM.def'", "'D:\\QIMRT\\QIM\\MQ_SvrSvr\\QIMQM.def'",
             "Q.DLQ", "'D:\\QIMRT\\QIMTrigInstantiate.bat'", "10.1.2.3", "1500", "qimdef"}},
        BranchCase{
            "java_nuvdef",
            Kind::kJava,
            kUpdateFiles,
            {"'D:\\QIMRT\\QIM\\MQ_SvrSvr\\NUVQM.def'", "'D:\\QIMRT\\QIM\\MQ_SvrSvr\\NUVQM.def'",
             "N.DLQ", "'D:\\QIMRT\\QIMTrigInstantiate.bat'", "10.1.2.5", "1700", "nuvdef"}},
        BranchCase{"java_fmcdef",
                   Kind::kJava,
                   kUpdateFiles,
                   {"'D:\\QIMRT\\QIM\\MQ_SvrSvr\\FMCQM.def'",
                    "'D:\\QIMRT\\QIM\\MQ_SvrSvr\\FMCQM.def'", "10.1.2.4", "1600", "fmcdef"}},
        BranchCase{"java_qimcreate",
                   Kind::kJava,
                   kUpdateFiles,
                   {"'D:\\QIMRT\\QIM\\QIMCreateQIMQM.bat'", "'D:\\QIMRT\\QIM\\QIMCreateQIMQM.bat'",
                    "10.1.2.3", "1500", "QIMQM1", "create"}},
        BranchCase{"java_nuvcreate",
                   Kind::kJava,
                   kUpdateFiles,
                   {"'D:\\QIMRT\\QIM\\QIMCreateNUVQM.bat'", "'D:\\QIMRT\\QIM\\QIMCreateNUVQM.bat'",
                    "10.1.2.5", "1700", "NUVQM1", "create"}},
        BranchCase{"java_fmccreate",
                   Kind::kJava,
                   kUpdateFiles,
                   {"'D:\\QIMRT\\QIM\\QIMCreateFMCQM.bat'", "'D:\\QIMRT\\QIM\\QIMCreateFMCQM.bat'",
                    "10.1.2.4", "1600", "FMCQM", "create"}},
        BranchCase{
            "java_xml1",
            Kind::kJava,
            kUpdateXmls,
            {"'D:\\QIMRT\\QIM\\NUV_MQSvr\\NuvQimMQDetails.xml'", "MQINSTALL=YES", "WAITTIME=30"}},
        BranchCase{"java_xml2",
                   Kind::kJava,
                   kUpdateXmls,
                   {"'D:\\QIMRT\\QIM\\NUV_MQSvr\\BRAXQIMSvcMQDetails.xml'", "sleepTime=30"}},
        BranchCase{"java_db2file",
                   Kind::kJava,
                   kUpdateFiles,
                   {"'D:\\QIMRT\\QIM\\DB\\CreateSQLDatabase.db2'",
                    "'D:\\QIMRT\\QIM\\DB\\CreateSQLDatabase.db2'", "QIMDB", "dbuser", "se cret",
                    "db2file"}},
        BranchCase{"java_zafenv",
                   Kind::kJava,
                   kUpdateFiles,
                   {"'C:\\QIM\\intel_a\\EnvDir.txt'", "'C:\\QIM\\intel_a\\EnvName.txt'", "'\\'",
                    "';'", "'D:\\QIMRT\\QIM\\NUV_MQSvr'", "zafenv"}},
        // Built although "EnableCreateDatabase" is unchecked: that check belongs to the list.
        BranchCase{"java_dbsetup",
                   Kind::kScript,
                   "QIMDBSetup.bat",
                   {"D:\\QIMRT\\QIM\\DB\\CreateSQLDatabase.bat", "QIMDB", "dbuser", "se cret",
                    "D:\\QIMRT\\QIM\\DB"}}));

TEST_F(BackslashCommandsTest, AppPropertiesCommandWorkedExample) {
  SetEditor("QIMEditor", "C:\\QIM");
  const std::vector<std::pair<const char*, const char*>> form = {{"DatabaseHostEditor", " H"},
                                                                 {"DatabasePortEditor", "P "},
                                                                 {"DatabaseNameEditor", "N"},
                                                                 {"DatabaseUserEditor", "U"},
                                                                 {"DatabasePasswordEditor", "p w"},
                                                                 {"JndiNameEditor", "J"},
                                                                 {"SMTPEditor", "M"},
                                                                 {"MsqUserEditor", "Q"},
                                                                 {"MsqPassEditor", "q w"},
                                                                 {"NUVNavServerEditor", "S"},
                                                                 {"NUVNavPortEditor", "T"},
                                                                 {"NUVNavServletEditor", "V"}};
  for (const auto& [editor, text] : form) {
    SetEditor(editor, text);
  }
  EXPECT_NE(CommandFor("java_app"), "");
  ASSERT_EQ(host.commands.size(), 1u);
  EXPECT_EQ(host.commands[0].options, kJvmOptions);
  EXPECT_EQ(host.commands[0].target, "com.corvanta.qimpluginutilities.UpdateQIMFiles");
  EXPECT_EQ(host.commands[0].arguments,
            (Arguments{"'C:\\QIM\\intel_a\\docs\\java\\app.properties'",
                       "'C:\\QIM\\intel_a\\docs\\java\\app.properties'", "//H:P/N", "U", "p w",
                       "'C:\\QIM\\intel_a'", "J", "M", "Q", "q w", "S", "T", "V", "app"}));
}

TEST_F(BackslashCommandsTest, EmptyEditorsStillTakeTheirPlaces) {
  for (const char* editor :
       {"DatabaseHostEditor", "DatabasePortEditor", "DatabaseNameEditor", "JndiNameEditor"}) {
    SetEditor(editor, " ");
  }
  EXPECT_NE(CommandFor("java_app"), "");
  ASSERT_EQ(host.commands.size(), 1u);
  const Arguments& arguments = host.commands[0].arguments;
  ASSERT_EQ(arguments.size(), 14u);
  EXPECT_EQ(arguments[2], "//:/");
  EXPECT_EQ(arguments[6], "");
  EXPECT_EQ(arguments[13], "app");
}

// Only IBM DB2 gets the database file and the database setup; the rest ignore the product.
struct ProductCase {
  const char* product;
  bool isDb2;
};

class DatabaseProductTest : public BackslashCommandsTest,
                            public ::testing::WithParamInterface<ProductCase> {};

TEST_P(DatabaseProductTest, DatabaseCommandsOnlyForDb2) {
  host.databaseProduct = GetParam().product;
  for (const char* tag : {"java_db2file", "java_dbsetup"}) {
    EXPECT_EQ(CommandFor(tag).empty(), !GetParam().isDb2) << tag;
  }
  for (const char* tag : {"java_xml1", "java_xml2", "java_zafenv", "java_qimdef"}) {
    EXPECT_NE(CommandFor(tag), "") << tag;
  }
}

INSTANTIATE_TEST_SUITE_P(Products, DatabaseProductTest,
                         ::testing::Values(ProductCase{"IBM DB2", true},
                                           ProductCase{"Oracle", false},
                                           ProductCase{"ibm db2", false}, ProductCase{"", false}));

// The branches' own files, on real files: joins with '/' so the paths are this system's.
class CommandFilesTest : public CommandsFixture<'/'> {
 protected:
  void SetUp() override {
    CommandsFixture<'/'>::SetUp();
    std::filesystem::create_directories(binDir);
    std::filesystem::create_directories(docsDir);
    SetEditor("MQWFEditor", root.path());
    SetEditor("QIMEditor", root.path());
  }

  TempDir root;
  const std::string binDir = root.File("bin");
  const std::string jar = binDir + "/fmcojagt.jar";
  const std::string jarBackup = binDir + "/fmcojagt.jar.deprecated";
  const std::string docsDir = root.File("intel_a/docs/java");
  const std::string properties = docsDir + "/app.properties";
  const std::string propertiesBackup = docsDir + "/app.properties.bak";
};

TEST_F(CommandFilesTest, PresentJarIsLeftAlone) {
  WriteFile(jar, "current archive");
  WriteFile(jarBackup, "deprecated archive");
  EXPECT_NE(CommandFor("java_qim"), "");
  EXPECT_EQ(ReadFile(jar), "current archive");
}

TEST_F(CommandFilesTest, MissingJarIsRestoredFromItsBackupEvenWithoutHost) {
  WriteFile(jarBackup, "deprecated archive");
  plugin.SetHost(nullptr);
  EXPECT_EQ(CommandFor("java_qim"), "");
  EXPECT_EQ(ReadFile(jar), "deprecated archive");
  EXPECT_EQ(ReadFile(jarBackup), "deprecated archive");
}

TEST_F(CommandFilesTest, MissingJarAndBackupStillBuildTheCommand) {
  EXPECT_NE(CommandFor("java_qim"), "");
  EXPECT_FALSE(FileExists(jar));
  EXPECT_EQ(host.commands.size(), 1u);
}

TEST_F(CommandFilesTest, PropertiesAreBackedUpOnceEvenWithoutHost) {
  plugin.SetHost(nullptr);
  EXPECT_EQ(CommandFor("java_app"), "");
  EXPECT_FALSE(FileExists(propertiesBackup));
  WriteFile(properties, "original");
  CommandFor("java_app");
  EXPECT_EQ(ReadFile(propertiesBackup), "original");
  WriteFile(properties, "patched");
  CommandFor("java_app");
  EXPECT_EQ(ReadFile(propertiesBackup), "original");
}

TEST_F(CommandFilesTest, ExistingBackupIsNeverOverwritten) {
  WriteFile(properties, "current");
  WriteFile(propertiesBackup, "older backup");
  plugin.SetHost(nullptr);
  EXPECT_EQ(CommandFor("java_app"), "");
  EXPECT_EQ(ReadFile(propertiesBackup), "older backup");
}

}  // namespace
}  // namespace qimtest
