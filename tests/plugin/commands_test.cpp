// The deployment commands outside test-harness mode: the tag list, the pieces each branch hands
// to the host for each form and database product, the gate, the files the branches touch, the
// error messages, the data source, and what copies of the plug-in carry.

#include <filesystem>
#include <tuple>
#include <utility>

#include "plugin_fixture.h"

namespace qimtest {

class CommandsTest : public PlugInTest {};

// The tags the host gets, in its order, when both check buttons are checked.
const Texts kAllTags = Split(
    "qim_copy java_qim java_app java_qimdef java_nuvdef java_fmcdef java_qimcreate java_nuvcreate "
    "java_fmccreate java_xml1 java_xml2 java_db2file java_zafenv java_dbsetup");

TEST_F(CommandsTest, TagListFollowsTheTwoCheckButtons) {
  // The last column is the number of the first tags of kAllTags that the host gets.
  for (const auto& [plugInEnabled, createDatabase, tagCount, why] :
       std::vector<std::tuple<bool, bool, int, const char*>>{
           {false, false, 0, "a disabled plug-in lists nothing"},
           {false, true, 0, "the database check button alone lists nothing"},
           {true, false, 13, "every tag but the database setup"},
           {true, true, 14, "the database setup comes last"},
       }) {
    Check("EnableQimPlugIn", plugInEnabled);
    Check("EnableCreateDatabase", createDatabase);
    ZAFRawCollPV tags;
    tags.Append("left over from an earlier call");
    plugin.GetCommandTags(tags);
    ASSERT_EQ(tags.Size(), tagCount) << why;
    for (int position = 1; position <= tags.Size(); ++position)  // the table's own rows
      EXPECT_EQ(tags[position], Tag(kAllTags[position - 1])) << kAllTags[position - 1];
  }
}

// Forms, each filled on empty editors with the host joining by a separator, and for each, lines
// of a tag and what the host got: the JVM options ("-" for a script), the command line (the
// class or the script) and the arguments joined by '|'. In the third form every editor is
// empty: an empty editor still gives its argument, so the later arguments keep their positions.
// The last three each change one input of the previous command (the run-time directory, then
// the separator): a command reflects the inputs of its own call.
// "java_dbsetup" is built although "EnableCreateDatabase" is unchecked: that check belongs to
// the list. An apostrophe in a folder is passed as it is, between the quoting apostrophes too.
TEST_F(CommandsTest, EachTagHandsTheHostItsOptionsTargetAndArguments) {
  // The separator, editor texts as "Editor=text|Editor=text", and one line per tag.
  const std::tuple<char, const char*, const char*> cases[] = {
      {'\\',
       R"(QIMRTEditor=D:\QIM'RT |QIMEditor= C:\O'QIM|MQSEditor=C:\MQ'S|MQWFEditor=C:\MQWF)"
       R"(|JHOMEEditor=C:\Java|NUVEditor=C:\NUV|WASEditor=C:\WAS|MsqCfgEditor=FMC|)"
       "QIMMQNameEditor=QIMQM1|QIMMQDLEditor=Q.DLQ|QIMIPEditor=10.1.2.3 |QIMPortEditor=1500"
       "|NUVMQNameEditor=NUVQM1|NUVMQDLEditor= N.DLQ|NUVIPEditor=10.1.2.5|NUVPortEditor=1700"
       "|FMCIPEditor=10.1.2.4|FMCPortEditor=1600|MsqWTEditor=30|DatabaseNameEditor=QIMDB"
       "|DatabaseUserEditor=dbuser|DatabasePasswordEditor=se cret",
       R"(qim_copy - QIMFilesCp.bat C:\O'QIM\intel_a\code\command|D:\QIM'RT
java_qim -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.CreateQIMEnv D:\QIM'RT\QIMEnv.bat|D:\QIM'RT\QIMEnv.bat|'WEBAPP_HOME=C:\O'QIM\intel_a'|'MQ_INSTALL=C:\MQ'S'|'MQWF_INSTALL=C:\MQWF\BIN'|'JAVA_HOME=C:\Java'|'NUV_INSTALL=C:\NUV'|'WAS_LIB_J2EE=C:\WAS\lib'|'WAS_LIB_XERCES=C:\WAS\deploytool\itp\plugins\org.apache.xerces_4.0.13'|MQWF_CFG_NAME=FMC
java_qimdef -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'D:\QIM'RT\QIM\MQ_SvrSvr\QIMQM.def'|'D:\QIM'RT\QIM\MQ_SvrSvr\QIMQM.def'|Q.DLQ|'D:\QIM'RT\QIMTrigInstantiate.bat'|10.1.2.3|1500|qimdef
java_nuvdef -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'D:\QIM'RT\QIM\MQ_SvrSvr\NUVQM.def'|'D:\QIM'RT\QIM\MQ_SvrSvr\NUVQM.def'|N.DLQ|'D:\QIM'RT\QIMTrigInstantiate.bat'|10.1.2.5|1700|nuvdef
java_fmcdef -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'D:\QIM'RT\QIM\MQ_SvrSvr\FMCQM.def'|'D:\QIM'RT\QIM\MQ_SvrSvr\FMCQM.def'|10.1.2.4|1600|fmcdef
java_qimcreate -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'D:\QIM'RT\QIM\QIMCreateQIMQM.bat'|'D:\QIM'RT\QIM\QIMCreateQIMQM.bat'|10.1.2.3|1500|QIMQM1|create
java_nuvcreate -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'D:\QIM'RT\QIM\QIMCreateNUVQM.bat'|'D:\QIM'RT\QIM\QIMCreateNUVQM.bat'|10.1.2.5|1700|NUVQM1|create
java_fmccreate -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'D:\QIM'RT\QIM\QIMCreateFMCQM.bat'|'D:\QIM'RT\QIM\QIMCreateFMCQM.bat'|10.1.2.4|1600|FMCQM|create
java_xml1 -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMXmls 'D:\QIM'RT\QIM\NUV_MQSvr\NuvQimMQDetails.xml'|MQINSTALL=YES|WAITTIME=30
java_xml2 -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMXmls 'D:\QIM'RT\QIM\NUV_MQSvr\BRAXQIMSvcMQDetails.xml'|sleepTime=30
java_db2file -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'D:\QIM'RT\QIM\DB\CreateSQLDatabase.db2'|'D:\QIM'RT\QIM\DB\CreateSQLDatabase.db2'|QIMDB|dbuser|se cret|db2file
java_zafenv -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'C:\O'QIM\intel_a\EnvDir.txt'|'C:\O'QIM\intel_a\EnvName.txt'|'\'|';'|'D:\QIM'RT\QIM\NUV_MQSvr'|zafenv
java_dbsetup - QIMDBSetup.bat D:\QIM'RT\QIM\DB\CreateSQLDatabase.bat|QIMDB|dbuser|se cret|D:\QIM'RT\QIM\DB)"},
      {'\\',
       R"(QIMEditor=C:\QIM|DatabaseHostEditor= H|DatabasePortEditor=P |DatabaseNameEditor=N)"
       "|DatabaseUserEditor=U|DatabasePasswordEditor=p w|JndiNameEditor=J|SMTPEditor=M"
       "|MsqUserEditor=Q|MsqPassEditor=q w|NUVNavServerEditor=S|NUVNavPortEditor=T"
       "|NUVNavServletEditor=V",
       R"(java_app -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'C:\QIM\intel_a\docs\java\app.properties'|'C:\QIM\intel_a\docs\java\app.properties'|//H:P/N|U|p w|'C:\QIM\intel_a'|J|M|Q|q w|S|T|V|app)"},
      {'\\', "",
       R"(java_app -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'intel_a\docs\java\app.properties'|'intel_a\docs\java\app.properties'|//:/|||'intel_a'||||||||app
java_qim -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.CreateQIMEnv QIMEnv.bat|QIMEnv.bat|'WEBAPP_HOME=intel_a'|'MQ_INSTALL='|'MQWF_INSTALL=BIN'|'JAVA_HOME='|'NUV_INSTALL='|'WAS_LIB_J2EE=lib'|'WAS_LIB_XERCES=deploytool\itp\plugins\org.apache.xerces_4.0.13'|MQWF_CFG_NAME=
java_qimdef -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMFiles 'QIM\MQ_SvrSvr\QIMQM.def'|'QIM\MQ_SvrSvr\QIMQM.def'||'QIMTrigInstantiate.bat'|||qimdef
java_xml1 -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMXmls 'QIM\NUV_MQSvr\NuvQimMQDetails.xml'|MQINSTALL=YES|WAITTIME=
java_dbsetup - QIMDBSetup.bat QIM\DB\CreateSQLDatabase.bat||||QIM\DB)"},
      {'\\', R"(QIMRTEditor=D:\RT|MsqWTEditor=9)",
       R"(java_xml2 -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMXmls 'D:\RT\QIM\NUV_MQSvr\BRAXQIMSvcMQDetails.xml'|sleepTime=9)"},
      {'\\', R"(QIMRTEditor=E:\Other |MsqWTEditor=9)",
       R"(java_xml2 -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMXmls 'E:\Other\QIM\NUV_MQSvr\BRAXQIMSvcMQDetails.xml'|sleepTime=9)"},
      {'/', R"(QIMRTEditor=E:\Other |MsqWTEditor=9)",
       R"(java_xml2 -DLoadJars=QimPlugInBatch.jar com.corvanta.qimpluginutilities.UpdateQIMXmls 'E:\Other/QIM/NUV_MQSvr/BRAXQIMSvcMQDetails.xml'|sleepTime=9)"}};
  for (const auto& [separator, form, lines] : cases) {
    zaf::SetPathSeparator(separator);
    container->ForEachDescendantOfType<ZAFDlgEditor>(
        [](ZAFDlgEditor& editor) { editor.SetText("", 1); });
    Fill(form);
    for (const std::string& line : Split(lines, '\n')) {
      host.commands.clear();
      const std::string tag = line.substr(0, line.find(' ')), commandLine = CommandsFor(tag);
      ASSERT_EQ(host.commands.size(), 1u) << tag;
      const RecordedCommand& command = host.commands[0];
      const std::string options = command.options.empty() ? "-" : Join(command.options);
      EXPECT_EQ(Join({tag, options, commandLine, Join(command.arguments)}, " "), line);
    }
  }
}

TEST_F(CommandsTest, TagsWithoutCommandUpdateFmcJarPathAndAClosedGateDoesNothing) {
  Fill("MQWFEditor= C:\\Program Files\\MQWF ");
  const std::string copy = "java_qimdef";  // equal in text to a tag, stored elsewhere
  EXPECT_EQ(CommandsFor("java_runbat java_cp") + CommandLine(&copy[0]), "|");
  EXPECT_EQ(FmcJarPathReported(), "C:\\Program Files\\MQWF\\bin\\fmcojagt.jar");
  Check("EnableQimPlugIn", false);
  Fill("MQWFEditor=C:\\Other");
  host.databaseSettingsCalls = 0;
  EXPECT_EQ(CommandsFor("qim_copy java_qim java_app java_qimdef java_dbsetup"), "||||");
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

// Only the exact product "IBM DB2" gets the database file and the database setup; the other
// commands do not depend on the product. Each call sets the data source's provider from the
// product; an unknown product keeps the last one, as does a call without a host object, which
// builds no command but still reports the record and the archive path. A command's last
// argument tells which it is.
TEST_F(CommandsTest, DatabaseCommandsAndTheProviderFollowTheProductOfEachCall) {
  Fill("QIMRTEditor=R|MQWFEditor=W|DatabaseHostEditor=dbhost");
  const char* const db2 = "DB2 Universal JDBC Driver Provider (XA)";
  const char* const oracle = "Oracle JDBC Driver (XA)";
  for (const auto& [product, withHost, commands, provider, why] :
       std::vector<std::tuple<const char*, bool, const char*, const char*, const char*>>{
           {"ibm db2", true, "app", "", "the product is compared with its letter case"},
           {"IBM DB2", true, "db2file R\\QIM\\DB app", db2, "IBM DB2"},
           {"Oracle", true, "app", oracle, "Oracle"},
           {"IBM DB2 ", true, "app", oracle, "an unknown product keeps the last provider"},
           {"", true, "app", oracle, "no product reported"},
           {"IBM DB2", false, "", oracle, "no host object: no command, no product"},
       }) {
    host.databaseProduct = product;
    plugin.SetHost(withHost ? &host : nullptr);
    host.commands.clear();
    CommandsFor("java_db2file java_dbsetup java_app");
    Texts built;
    for (const RecordedCommand& command : host.commands)
      built.push_back(command.arguments.back());
    ZAFJdeWASDataSource* record = nullptr;
    int count = 0;
    plugin.GetDataSourceSettings(record, count);
    EXPECT_EQ(Join({Join(built, " "), record->JdbcProvider.str(), record->Host.str(),
                    std::to_string(count), FmcJarPathReported()}),
              Join({commands, provider, "dbhost", "1", "W\\bin\\fmcojagt.jar"}))
        << why;
  }
}

// Before any command the Java variables hold one empty value, and the EAR parameters and the
// environment variables are left alone. The data source holds the stripped editors, also while
// the plug-in is disabled. A copy or an assigned object shares the original's widgets,
// repository and host, and carries the data source record and the archive path the original
// last reported; an object assigned to computes its next command afresh, also when its form is
// as it was at its last command.
TEST_F(CommandsTest, OnlyTheDataSourceAndOneJavaVariableAreReportedAndCopiesCarryThem) {
  const TestablePlugIn beforeAnyCommand(plugin);
  ZAFListValZAFUnicodeString names = MakeList({"old", "entries"}), values = MakeList({"x"});
  plugin.GetJavaVariables(names, values);
  EXPECT_EQ(Pairs(names, values), "ws.ext.dirs=");
  ZAFUnicodeString first = "one", second = " two ";
  plugin.GetEarCreationParameters(first, second);
  plugin.GetEnvironmentVariables(names, values);
  EXPECT_EQ(Pairs(names, values) + "," + first.str() + "," + second.str(),
            "ws.ext.dirs=,one, two ");
  Check("EnableQimPlugIn", false);
  Fill(
      "DatabaseHostEditor= h |DatabasePortEditor=1 |DatabaseNameEditor= n|DatabaseUserEditor=u "
      "|DatabasePasswordEditor= p w |JndiNameEditor=jdbc/QIM|MQWFEditor=C:\\MQWF");
  ZAFJdeWASDataSource* record = nullptr;
  int count = 0;
  plugin.GetDataSourceSettings(record, count);
  ASSERT_TRUE(record == &plugin.DataSource && count == 1);
  EXPECT_EQ(Join({record->Host.str(), record->Port.str(), record->DatabaseName.str(),
                  record->User.str(), record->Password.str(), record->JndiName.str()}),
            "h|1|n|u|p w|jdbc/QIM");
  Check("EnableQimPlugIn", true);
  CommandLine(Tag("java_runbat"));
  TestablePlugIn copy(plugin), assigned;
  assigned = plugin;
  Fill("DatabaseHostEditor=other|MQWFEditor=D:\\other");
  for (TestablePlugIn* other : {&copy, &assigned}) {
    EXPECT_TRUE(other->GetHost() == &host && other->Repository == plugin.Repository &&
                plugin.Repository != nullptr);
    const ZAFJdeWASDataSource& carried = other->DataSource;
    EXPECT_EQ(Join({carried.Host.str(), carried.JndiName.str(), carried.JdbcProvider.str()}),
              "h|jdbc/QIM|DB2 Universal JDBC Driver Provider (XA)");
    other->GetJavaVariables(names, values);
    EXPECT_EQ(Pairs(names, values), R"(ws.ext.dirs=C:\MQWF\bin\fmcojagt.jar)");
    other->SetUserInterfaceFields(MakeList({"qimdirrt"}), MakeList({"/changed"}));
    EXPECT_EQ(Editor("QIMRTEditor")->GetText(), "/changed") << "the original's widget";
    Fill("QIMRTEditor=");
  }
  CommandLine(Tag("java_runbat"));
  plugin = beforeAnyCommand;  // with the form unchanged since that command
  CommandLine(Tag("java_runbat"));
  EXPECT_EQ(FmcJarPathReported(), R"(D:\other\bin\fmcojagt.jar)");
}

}  // namespace qimtest
