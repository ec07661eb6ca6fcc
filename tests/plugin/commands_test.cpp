// The deployment commands outside test-harness mode: the tag list, the pieces each branch hands
// to the host, the gate, the files the branches touch, the error messages and the data source.

#include <filesystem>

#include "plugin_fixture.h"

namespace qimtest {

class CommandsTest : public PlugInTest {};

// The tags the host gets, in its order, when both check buttons are checked.
const Texts kAllTags = Split(
    "qim_copy java_qim java_app java_qimdef java_nuvdef java_fmcdef java_qimcreate java_nuvcreate "
    "java_fmccreate java_xml1 java_xml2 java_db2file java_zafenv java_dbsetup");

TEST_F(CommandsTest, TagListFollowsTheTwoCheckButtons) {
  struct Case {
    bool plugInEnabled;
    bool createDatabase;
    std::size_t tagCount;  // the first tags of kAllTags that the host gets
    const char* why;
  };
  const Case cases[] = {
      {false, false, 0, "a disabled plug-in lists nothing"},
      {false, true, 0, "the database check button alone lists nothing"},
      {true, false, 13, "every tag but the database setup"},
      {true, true, 14, "the database setup comes last"},
  };
  for (const Case& test : cases) {
    Check("EnableQimPlugIn", test.plugInEnabled);
    Check("EnableCreateDatabase", test.createDatabase);
    ZAFRawCollPV tags;
    tags.Append("left over from an earlier call");
    plugin.GetCommandTags(tags);
    ASSERT_EQ(tags.Size(), static_cast<int>(test.tagCount)) << test.why;
    for (int position = 1; position <= tags.Size(); ++position)  // the table's own rows
      EXPECT_EQ(tags[position], Tag(kAllTags[position - 1])) << kAllTags[position - 1];
  }
}

// Two forms and, for each, lines of a tag and what the host got: the JVM options ("-" for a
// script), the command line (the class or the script) and the arguments joined by '|'.
// "java_dbsetup" is built although "EnableCreateDatabase" is unchecked: that check belongs to
// the list.
TEST_F(CommandsTest, EachTagHandsTheHostItsOptionsTargetAndArguments) {
  struct Case {
    const char* form;   // editor texts, as "Editor=text|Editor=text"
    const char* lines;  // one line per tag
  };
  const Case cases[] = {
      {R"(QIMRTEditor=D:\QIMRT |QIMEditor= C:\QIM|MQSEditor=C:\MQS|MQWFEditor=C:\MQWF)"
       R"(|JHOMEEditor=C:\Java|NUVEditor=C:\NUV|WASEditor=C:\WAS|MsqCfgEditor=FMC|)"
       "QIMMQNameEditor=QIMQM1|QIMMQDLEditor=Q.DLQ|QIMIPEditor=10.1.2.3 |QIMPortEditor=1500"
       "|NUVMQNameEditor=NUVQM1|NUVMQDLEditor= N.DLQ|NUVIPEditor=10.1.2.5|NUVPortEditor=1700"
       "|FMCIPEditor=10.1.2.4|FMCPortEditor=1600|MsqWTEditor=30|DatabaseNameEditor=QIMDB"
       "|DatabaseUserEditor=dbuser|DatabasePasswordEditor=se cret",
       R"(qim_copy - QIMFilesCp.bat C:\QIM\intel_a\code\command|D:\QIMRT
java_qim -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.CreateQIMEnv D:\QIMRT\QIMEnv.bat|D:\QIMRT\QIMEnv.bat|'WEBAPP_HOME=C:\QIM\intel_a'|'MQ_INSTALL=C:\MQS'|'MQWF_INSTALL=C:\MQWF\BIN'|'JAVA_HOME=C:\Java'|'NUV_INSTALL=C:\NUV'|'WAS_LIB_J2EE=C:\WAS\lib'|'WAS_LIB_XERCES=C:\WAS\deploytool\itp\plugins\org.apache.xerces_4.0.13'|MQWF_CFG_NAME=FMC
java_qimdef -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'D:\QIMRT\QIM\MQ_SvrSvr\QIMQM.def'|'D:\QIMRT\QIM\MQ_SvrSvr\QIMQM.def'|Q.DLQ|'D:\QIMRT\QIMTrigInstantiate.bat'|10.1.2.3|1500|qimdef
java_nuvdef -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'D:\QIMRT\QIM\MQ_SvrSvr\NUVQM.def'|'D:\QIMRT\QIM\MQ_SvrSvr\NUVQM.def'|N.DLQ|'D:\QIMRT\QIMTrigInstantiate.bat'|10.1.2.5|1700|nuvdef
java_fmcdef -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'D:\QIMRT\QIM\MQ_SvrSvr\FMCQM.def'|'D:\QIMRT\QIM\MQ_SvrSvr\FMCQM.def'|10.1.2.4|1600|fmcdef
java_qimcreate -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'D:\QIMRT\QIM\QIMCreateQIMQM.bat'|'D:\QIMRT\QIM\QIMCreateQIMQM.bat'|10.1.2.3|1500|QIMQM1|create
java_nuvcreate -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'D:\QIMRT\QIM\QIMCreateNUVQM.bat'|'D:\QIMRT\QIM\QIMCreateNUVQM.bat'|10.1.2.5|1700|NUVQM1|create
java_fmccreate -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'D:\QIMRT\QIM\QIMCreateFMCQM.bat'|'D:\QIMRT\QIM\QIMCreateFMCQM.bat'|10.1.2.4|1600|FMCQM|create
java_xml1 -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMXmls 'D:\QIMRT\QIM\NUV_MQSvr\NuvQimMQDetails.xml'|MQINSTALL=YES|WAITTIME=30
java_xml2 -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMXmls 'D:\QIMRT\QIM\NUV_MQSvr\BRAXQIMSvcMQDetails.xml'|sleepTime=30
java_db2file -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'D:\QIMRT\QIM\DB\CreateSQLDatabase.db2'|'D:\QIMRT\QIM\DB\CreateSQLDatabase.db2'|QIMDB|dbuser|se cret|db2file
java_zafenv -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'C:\QIM\intel_a\EnvDir.txt'|'C:\QIM\intel_a\EnvName.txt'|'\'|';'|'D:\QIMRT\QIM\NUV_MQSvr'|zafenv
java_dbsetup - QIMDBSetup.bat D:\QIMRT\QIM\DB\CreateSQLDatabase.bat|QIMDB|dbuser|se cret|D:\QIMRT\QIM\DB)"},
      {R"(QIMEditor=C:\QIM|DatabaseHostEditor= H|DatabasePortEditor=P |DatabaseNameEditor=N)"
       "|DatabaseUserEditor=U|DatabasePasswordEditor=p w|JndiNameEditor=J|SMTPEditor=M"
       "|MsqUserEditor=Q|MsqPassEditor=q w|NUVNavServerEditor=S|NUVNavPortEditor=T"
       "|NUVNavServletEditor=V",
       R"(java_app -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'C:\QIM\intel_a\docs\java\app.properties'|'C:\QIM\intel_a\docs\java\app.properties'|//H:P/N|U|p w|'C:\QIM\intel_a'|J|M|Q|q w|S|T|V|app)"}};
  for (const Case& test : cases) {
    Fill(test.form);
    for (const std::string& line : Split(test.lines, '\n')) {
      host.commands.clear();
      const std::string tag = line.substr(0, line.find(' ')), commandLine = CommandsFor(tag);
      ASSERT_EQ(host.commands.size(), 1u) << tag;
      const RecordedCommand& command = host.commands[0];
      const std::string options = command.options.empty() ? "-" : Join(command.options);
      EXPECT_EQ(Join({tag, options, commandLine, Join(command.arguments)}, " "), line);
    }
  }
}

// Only the exact product "IBM DB2" gets the database file and the database setup; the other
// commands ignore the product.
TEST_F(CommandsTest, DatabaseCommandsOnlyForDb2) {
  for (const char* product : {"Oracle", "ibm db2", ""}) {
    host.databaseProduct = product;
    EXPECT_EQ(CommandsFor("java_db2file java_dbsetup"), "|") << product;
    EXPECT_NE(CommandsFor("java_xml1"), "") << product;
  }
}

// A command reflects the form, the host's database and the host's join as they are when it is
// asked for, also right after a command that was made from other values.
TEST_F(CommandsTest, EachCommandReflectsTheInputsOfItsOwnCall) {
  const auto xml2Path = [this] {
    host.commands.clear();
    CommandsFor("java_xml2");
    return host.commands.size() == 1 ? host.commands[0].arguments.at(0) : std::string("none");
  };
  Fill("QIMRTEditor=D:\\RT");
  EXPECT_EQ(xml2Path(), "'D:\\RT\\QIM\\NUV_MQSvr\\BRAXQIMSvcMQDetails.xml'");
  Fill("QIMRTEditor=E:\\Other ");
  EXPECT_EQ(xml2Path(), "'E:\\Other\\QIM\\NUV_MQSvr\\BRAXQIMSvcMQDetails.xml'")
      << "the run-time directory changed";
  zaf::SetPathSeparator('/');
  EXPECT_EQ(xml2Path(), "'E:\\Other/QIM/NUV_MQSvr/BRAXQIMSvcMQDetails.xml'")
      << "the host's separator changed";
  host.databaseProduct = "Oracle";
  EXPECT_EQ(CommandsFor("java_db2file"), "") << "the database is no longer IBM DB2";
  host.databaseProduct = "IBM DB2";
  EXPECT_NE(CommandsFor("java_db2file"), "") << "the database is IBM DB2 again";
}

TEST_F(CommandsTest, TagsWithoutCommandUpdateFmcJarPathAndAClosedGateDoesNothing) {
  Fill("MQWFEditor= C:\\Program Files\\MQWF ");
  const std::string copy = "java_qimdef";  // equal in text to a tag, stored elsewhere
  EXPECT_EQ(CommandsFor("java_runbat java_cp") + CommandLine(&copy[0]), "|");
  EXPECT_TRUE(host.commands.empty());
  ZAFUnicodeString title = "old title", text = "old text";
  plugin.GetCommandErrorMessage(&copy[0], 42, "abc", title, text);
  EXPECT_EQ(title.str() + text.str(), "") << "no message either";
  EXPECT_EQ(FmcJarPathReported(), "C:\\Program Files\\MQWF\\bin\\fmcojagt.jar");
  Check("EnableQimPlugIn", false);
  Fill("MQWFEditor=C:\\Other");
  host.databaseSettingsCalls = 0;
  EXPECT_EQ(CommandsFor("qim_copy java_qim java_app java_qimdef java_dbsetup"), "||||");
  EXPECT_TRUE(host.commands.empty());
  EXPECT_EQ(host.databaseSettingsCalls, 0);
  EXPECT_EQ(FmcJarPathReported(), "C:\\Program Files\\MQWF\\bin\\fmcojagt.jar");
  EXPECT_EQ(StoredCount(), -1) << "java_qim saved the settings behind a closed gate";
}

// The branches' own files, on real files (joins with '/' so the paths are this system's).
// Without a host no command line is written, but the files and the settings are still seen to.
TEST_F(CommandsTest, FilesAreRestoredAndBackedUpOnlyWhenMissingEvenWithoutHost) {
  TempDir root;
  zaf::SetPathSeparator('/');
  std::filesystem::create_directories(root.File("bin"));
  std::filesystem::create_directories(root.File("intel_a/docs/java"));
  const std::string jar = root.File("bin/fmcojagt.jar"),
                    properties = root.File("intel_a/docs/java/app.properties");
  const auto files = [&] { return ReadFile(jar) + "|" + ReadFile(properties + ".bak"); };
  WriteFile(jar + ".deprecated", "deprecated archive");
  WriteFile(properties, "original");
  Fill("MQWFEditor=" + root.path() + "|QIMEditor=" + root.path());
  plugin.SetHost(nullptr);
  EXPECT_EQ(CommandsFor(Join(kAllTags, " ")), std::string(13, '|')) << "14 empty command lines";
  EXPECT_EQ(files(), "deprecated archive|original");
  EXPECT_EQ(FmcJarPathReported(), jar);
  EXPECT_EQ(StoredCount(), 33) << "java_qim stores the settings first";
  plugin.SetHost(&host);
  WriteFile(jar, "current archive");
  WriteFile(properties, "patched");
  CommandsFor("java_qim java_app");
  EXPECT_EQ(host.commands.size(), 2u);
  EXPECT_EQ(files(), "current archive|original") << "both left alone: the backup is made once";
  std::filesystem::remove(jar);
  std::filesystem::remove(jar + ".deprecated");
  EXPECT_NE(CommandsFor("java_qim"), "") << "built although both archives are missing";
  EXPECT_FALSE(FileExists(jar));
}

TEST_F(CommandsTest, ErrorMessagesCarryTheDetailAndOnlyForTheirTags) {
  Texts messages;
  for (const auto& tag : QimSetupPlugIn::CommandTagTable) {
    ZAFUnicodeString title = "old title", text = "old text";
    plugin.GetCommandErrorMessage(tag, 42, "abc", title, text);
    EXPECT_EQ(title.str(), text.str().empty() ? "" : "QIM setup step failed") << tag;
    if (!text.str().empty())
      messages.push_back(tag + (": " + text.str()));
  }
  EXPECT_EQ(Join(messages, "\n"), R"(java_qim: Creating the QIM environment failed: abc
java_app: Updating the QIM application properties failed: abc
java_qimdef: Writing the QIM queue-manager definition failed: abc
java_nuvdef: Writing the NUV queue-manager definition failed: abc
java_fmcdef: Writing the Workflow queue-manager definition failed: abc
java_qimcreate: Creating the QIM queue manager failed: abc
java_nuvcreate: Creating the NUV queue manager failed: abc
java_fmccreate: Creating the Workflow queue manager failed: abc
java_runbat: Running the QIM batch script failed: abc
java_xml1: Updating the NUV queue-manager details (NuvQimMQDetails.xml) failed: abc
java_xml2: Updating the service queue-manager details (BRAXQIMSvcMQDetails.xml) failed: abc)");
}

// Each call sets the provider from the product; an unknown product keeps the last one. The
// fields are the stripped editors, also while the plug-in is disabled.
TEST_F(CommandsTest, DataSourceIsTheStrippedFormAndItsProviderSurvivesUnknownProducts) {
  Check("EnableQimPlugIn", false);
  Fill(
      "DatabaseHostEditor= h |DatabasePortEditor=1 |DatabaseNameEditor= n|DatabaseUserEditor=u "
      "|DatabasePasswordEditor= p w |JndiNameEditor=j");
  Texts providers;
  for (const char* product : {"ibm db2", "IBM DB2", "Oracle", "IBM DB2 ", "IBM DB2"}) {
    host.databaseProduct = product;
    ZAFJdeWASDataSource* record = nullptr;
    int count = 0;
    plugin.GetDataSourceSettings(record, count);
    ASSERT_TRUE(record == &plugin.DataSource && count == 1);
    providers.push_back(record->JdbcProvider.str());
  }
  EXPECT_EQ(Join(providers),
            "|DB2 Universal JDBC Driver Provider (XA)|Oracle JDBC Driver (XA)"
            "|Oracle JDBC Driver (XA)|DB2 Universal JDBC Driver Provider (XA)");
  const ZAFJdeWASDataSource& source = plugin.DataSource;
  EXPECT_EQ(Join({source.Host.str(), source.Port.str(), source.DatabaseName.str(),
                  source.User.str(), source.Password.str(), source.JndiName.str()}),
            "h|1|n|u|p w|j");
}

}  // namespace qimtest
