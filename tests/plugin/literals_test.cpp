// What leaves the plug-in, stated as the host, the store and the operator see it: the names
// the settings are stored under, the variable that switches test-harness mode, the numbers the
// toolkit gets, the grids that stretch, the command pieces for each database product, and the
// edge cases of the branches and the data source.

#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <utility>

#include "plugin_fixture.h"

namespace qimtest {

// ---- The stored settings ----

struct StoredName {
  const char* name;    // as the store keeps it
  const char* widget;  // whose value is stored under it
  const char* why;
};

// clang-format off
const StoredName kStoredNames[] = {
    {"enablePlugIn",     "EnableQimPlugIn",        "a check button: stored as true/false"},
    {"enableCT",         "EnableCreateDatabase",   "the second check button, in mixed case"},
    {"databaseName",     "DatabaseNameEditor",     "lower camel case, like every database key"},
    {"databaseHost",     "DatabaseHostEditor",     "read back into the data source"},
    {"databasePort",     "DatabasePortEditor",     "the port is text too"},
    {"databaseUser",     "DatabaseUserEditor",     "user of the database commands"},
    {"databasePassword", "DatabasePasswordEditor", "stored in plain text"},
    {"jndiName",         "JndiNameEditor",         "\"jndi\", not \"JNDI\""},
    {"qimdirrt",         "QIMRTEditor",            "the run-time folder: no default"},
    {"qimdir",           "QIMEditor",              "key of qimwindir/qimunxdir"},
    {"nuvdir",           "NUVEditor",              "key of nuvwindir/nuvunxdir"},
    {"mqsdir",           "MQSEditor",              "key of mqswindir/mqsunxdir"},
    {"mqwfdir",          "MQWFEditor",             "key of mqwfwindir/mqwfunxdir"},
    {"wasdir",           "WASEditor",              "default from the host's server settings"},
    {"javahome",         "JHOMEEditor",            "default from JAVA_HOME"},
    {"mqscfg",           "MsqCfgEditor",           "the editor says Msq, the key mqs"},
    {"mquser",           "MsqUserEditor",          "the editor says Msq, the key mq"},
    {"mqpass",           "MsqPassEditor",          "the second password"},
    {"smtp",             "SMTPEditor",             "lower case where the editor is upper"},
    {"nuvserver",        "NUVNavServerEditor",     "no \"Nav\" in the key"},
    {"nuvport",          "NUVNavPortEditor",       "not the NUV queue manager's port"},
    {"nuvservlet",       "NUVNavServletEditor",    "default from the host's server settings"},
    {"qimmq",            "QIMMQNameEditor",        "queue manager name"},
    {"qimdlq",           "QIMMQDLEditor",          "dead-letter queue: dlq"},
    {"qimip",            "QIMIPEditor",            "address"},
    {"qimport",          "QIMPortEditor",          "port of the QIM queue manager"},
    {"waittime",         "MsqWTEditor",            "out of the page's order: after qimport"},
    {"nuvmq",            "NUVMQNameEditor",        "queue manager name"},
    {"nuvdlq",           "NUVMQDLEditor",          "dead-letter queue"},
    {"nuvip",            "NUVIPEditor",            "address"},
    {"nuvmqport",        "NUVPortEditor",          "the editor lacks the \"mq\""},
    {"fmcip",            "FMCIPEditor",            "the Workflow queue manager has no name key"},
    {"fmcport",          "FMCPortEditor",          "last of the 33"},
};
// clang-format on

class StoredSettingsLiteralTest : public PlugInTest {};

// Each editor shows its own name, so each stored value says which widget it came from. The
// store is read under its own names, not through the plug-in.
TEST_F(StoredSettingsLiteralTest, EachSettingIsStoredUnderItsNameInItsPlace) {
  ASSERT_EQ(std::size(kStoredNames), 33u);
  Check("EnableQimPlugIn", true);
  Check("EnableCreateDatabase", false);
  for (const StoredName& row : kStoredNames) {
    if (auto* editor = dynamic_cast<ZAFDlgEditor*>(container->FindByName(row.widget)))
      editor->SetText(row.widget, 1);
  }
  ZAFListValZAFUnicodeString keys, values;
  plugin.GetUserInterfaceFields(keys, values);

  ZAFSysPreferenceRepository* store = zaf::OpenHostRepository("QIMSetup");
  int count = 0;
  ASSERT_EQ(store->ReadPreference("count", &count, 1), 0);
  ASSERT_EQ(count, 33);
  std::vector<ZAFUnicodeString> storedKeys(33), storedValues(33);
  std::vector<ZAFUnicodeString*> keyPointers, valuePointers;
  for (int index = 0; index < 33; ++index) {
    keyPointers.push_back(&storedKeys[index]);
    valuePointers.push_back(&storedValues[index]);
  }
  ASSERT_EQ(store->ReadPreference("Keys", keyPointers.data(), 33), 0);
  ASSERT_EQ(store->ReadPreference("Values", valuePointers.data(), 33), 0);
  for (int index = 0; index < 33; ++index) {
    const StoredName& row = kStoredNames[index];
    const std::string widget = row.widget;
    const std::string expected = widget == "EnableQimPlugIn"        ? "true"
                                 : widget == "EnableCreateDatabase" ? "false"
                                                                    : widget;
    EXPECT_EQ(storedKeys[index].str() + "=" + storedValues[index].str(),
              std::string(row.name) + "=" + expected)
        << "position " << index + 1 << ": " << row.why;
  }
}

// ---- The variable that switches test-harness mode ----

struct HarnessEnvironment {
  std::vector<std::string> variables;  // the whole environment of the process
  bool harness;
  const char* why;
};

// What a plug-in made in a fresh process with `environment` writes to standard output.
std::string TraceOfAFreshProcess(const std::vector<std::string>& environment) {
  int ends[2];
  if (::pipe(ends) != 0)
    return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(ends[1], STDOUT_FILENO);
    ::close(ends[0]);
    std::vector<char*> envp;
    for (const std::string& variable : environment)
      envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);
    char* const argv[] = {const_cast<char*>(QIM_HARNESS_PROBE_PATH), nullptr};
    ::execve(QIM_HARNESS_PROBE_PATH, argv, envp.data());
    ::_exit(127);
  }
  ::close(ends[1]);
  std::string trace;
  char buffer[256];
  for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;)
    trace.append(buffer, static_cast<std::size_t>(got));
  ::close(ends[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? trace : "the probe failed";
}

TEST(HarnessVariableTest, OnlyTheExactNameDefinedSwitchesTheModeWhateverItsValue) {
  const HarnessEnvironment rows[] = {
      {{}, false, "unset: the plug-in as a host runs it"},
      {{"YTQ_RT_OUT="}, true, "defined but empty still counts"},
      {{"YTQ_RT_OUT=harness"}, true, "any value"},
      {{"YTQ_RT_OUT=0"}, true, "a value that reads as no is still a definition"},
      {{"YTQ_RT_OUT=false"}, true, "even \"false\""},
      {{"ytq_rt_out=1"}, false, "the name is compared with its letter case"},
      {{"YTQ_RT_OUTPUT=1", "YTQ_RT_OU=1"}, false, "longer or shorter names do not count"},
  };
  const std::string harnessTrace = "Inside Constructor \nInside destructor.... \n";
  for (const HarnessEnvironment& row : rows) {
    EXPECT_EQ(TraceOfAFreshProcess(row.variables), row.harness ? harnessTrace : "") << row.why;
  }
}

// ---- What the toolkit gets from the form ----

class FormLiteralTest : public PlugInTest {
 protected:
  // "name=value" of every widget that was given a sensitivity, in creation order.
  std::string Sensitivities() {
    Texts set;
    for (const ZAFDialog* widget : std::as_const(*container).GetDescendants())
      if (const auto sensitivity = widget->GetSensitivity())
        set.push_back(widget->GetResourceName().str() + "=" + std::to_string(*sensitivity));
    return Join(set, " ");
  }
};

// The enabling callback sets 8 (usable) or 16 (greyed) on the three frames and on nothing
// else; the check buttons carry 0x40000 (checked) or 0x80000 (unchecked).
TEST_F(FormLiteralTest, EnablingSetsSensitivityOnTheThreeFramesOnly) {
  struct Row {
    const char* enablePlugIn;
    std::uint32_t state;
    const char* sensitivities;
    const char* why;
  };
  const Row rows[] = {
      {"true", 0x40000, "QimSetupFrame=8 DatabaseFrame=8 MessageQueuesFrame=8", "usable"},
      {"false", 0x80000, "QimSetupFrame=16 DatabaseFrame=16 MessageQueuesFrame=16", "greyed"},
      {"TRUE", 0x80000, "QimSetupFrame=16 DatabaseFrame=16 MessageQueuesFrame=16",
       "only the exact \"true\" checks"},
  };
  for (const Row& row : rows) {
    plugin.SetUserInterfaceFields(MakeList({"enablePlugIn"}), MakeList({row.enablePlugIn}));
    plugin.OnEnable(nullptr, nullptr, nullptr);
    EXPECT_EQ(CheckButton("EnableQimPlugIn")->GetState(), row.state) << row.why;
    EXPECT_EQ(Sensitivities(), row.sensitivities) << row.why;
  }
}

// Only the editor columns of the two directory frames and the pages' own grids stretch; on
// the message-queue page the page's row 0 too, so its frame grows both ways. Widgets are
// listed in creation order: the three pages come first.
TEST_F(FormLiteralTest, OnlyTheDocumentedRowsAndColumnsAreResizable) {
  Texts stretched;
  for (const ZAFDialog* widget : std::as_const(*container).GetDescendants()) {
    std::string axes;
    for (const int row : widget->GetResizableRows())
      axes += " row" + std::to_string(row);
    for (const int column : widget->GetResizableColumns())
      axes += " column" + std::to_string(column);
    if (!axes.empty())
      stretched.push_back(widget->GetResourceName().str() + ":" + axes);
  }
  EXPECT_EQ(Join(stretched, "\n"),
            "QIMSetupPage: column1\n"
            "QIMDatabasePage: column1\n"
            "QIMMessageQueuesPage: row0 column1\n"
            "QimSetupFrame: column1\n"
            "DatabaseFrame: column1");
}

TEST(NullContainerTest, BuildingWithoutAContainerMakesFillsAndStoresNothing) {
  ScopedHost scopedHost;
  RecordingHost host;
  TestablePlugIn plugin;
  plugin.SetHost(&host);
  plugin.BuildUserInterface(nullptr);
  EXPECT_EQ(host.serverSettingsCalls, 0) << "the defaults were read";
  int count = -1;
  EXPECT_LT(zaf::OpenHostRepository("QIMSetup")->ReadPreference("count", &count, 1), 0);
  ZAFDlgTabPage* page = nullptr;
  ZAFUnicodeString title = "untouched", text = "untouched";
  plugin.ValidateUserInputData(page, title, text);
  EXPECT_EQ(page, nullptr);
  EXPECT_EQ(title.str() + text.str(), "untoucheduntouched");
}

// ---- The command context for each database product and host ----

// The form of every row; the database host editor is the row's.
constexpr const char* kContextForm =
    "QIMRTEditor=R|QIMEditor=I|MQWFEditor=W|DatabaseNameEditor=N|DatabaseUserEditor=U"
    "|DatabasePasswordEditor=P|DatabasePortEditor=5|JndiNameEditor=J";

class CommandContextTest : public PlugInTest {
 protected:
  // What a fresh plug-in hands out for the product and host: the arguments of the database
  // file, the database setup and the connection entry of the properties command ("-" when
  // nothing reached the host), the provider and the host of the data source, and the
  // Workflow archive it reports.
  std::string Observe(const char* product, bool withHost, const char* databaseHost) {
    RecordingHost rowHost;
    rowHost.databaseProduct = product;
    ZAFDlgTabContainer rowContainer;
    TestablePlugIn rowPlugIn;
    rowPlugIn.SetHost(&rowHost);
    rowPlugIn.BuildUserInterface(&rowContainer);
    for (const std::string& item :
         Split(kContextForm + std::string("|DatabaseHostEditor=") + databaseHost, '|'))
      FindWidget<ZAFDlgEditor>(rowContainer, item.substr(0, item.find('=')).c_str())
          ->SetText(item.substr(item.find('=') + 1), 1);
    rowPlugIn.SetHost(withHost ? &rowHost : nullptr);
    std::string seen;
    for (const char* tag : {"java_db2file", "java_dbsetup", "java_app"}) {
      rowHost.commands.clear();
      ZAFUnicodeString commandLine;
      rowPlugIn.GetCommandString(Tag(tag), commandLine);
      std::string pieces = "-";
      if (!rowHost.commands.empty()) {
        const Texts& arguments = rowHost.commands[0].arguments;
        pieces = std::string(tag) == "java_app" ? arguments.at(2) : Join(arguments);
      }
      seen += pieces + "\n";
    }
    ZAFJdeWASDataSource* source = nullptr;
    int count = 0;
    rowPlugIn.GetDataSourceSettings(source, count);
    ZAFListValZAFUnicodeString names, values;
    rowPlugIn.GetJavaVariables(names, values);
    return seen + source->JdbcProvider.str() + "|" + source->Host.str() + "|" +
           std::to_string(count) + "\n" + values[1].str();
  }
};

TEST_F(CommandContextTest, EveryProductAndHostGetsItsOwnValues) {
  struct Row {
    const char* product;
    bool withHost;
    const char* databaseHost;
    std::string expected;
    const char* why;
  };
  const std::string db2File =
      R"('R\QIM\DB\CreateSQLDatabase.db2'|'R\QIM\DB\CreateSQLDatabase.db2'|N|U|P|db2file)";
  const std::string db2Setup = R"(R\QIM\DB\CreateSQLDatabase.bat|N|U|P|R\QIM\DB)";
  const std::string jar = R"(W\bin\fmcojagt.jar)";
  const Row rows[] = {
      {"IBM DB2", true, "dbhost",
       db2File + "\n" + db2Setup +
           "\n//dbhost:5/N\nDB2 Universal JDBC Driver Provider (XA)|dbhost|1\n" + jar,
       "DB2: the database file, the setup script and the DB2 provider"},
      {"Oracle", true, "dbhost", "-\n-\n//dbhost:5/N\nOracle JDBC Driver (XA)|dbhost|1\n" + jar,
       "Oracle: no DB2 script, no setup, the Oracle provider"},
      {"Informix", true, "dbhost", "-\n-\n//dbhost:5/N\n|dbhost|1\n" + jar,
       "an unknown product: no database command and no provider"},
      {"ibm db2", true, "dbhost", "-\n-\n//dbhost:5/N\n|dbhost|1\n" + jar,
       "the product is compared with its letter case"},
      {"", true, "dbhost", "-\n-\n//dbhost:5/N\n|dbhost|1\n" + jar, "no product reported"},
      {"IBM DB2", true, "",
       db2File + "\n" + db2Setup + "\n//:5/N\nDB2 Universal JDBC Driver Provider (XA)||1\n" + jar,
       "an empty database host leaves its gap; DB2 commands are built all the same"},
      {"Oracle", true, "", "-\n-\n//:5/N\nOracle JDBC Driver (XA)||1\n" + jar,
       "an empty database host with Oracle"},
      {"IBM DB2", false, "dbhost", "-\n-\n-\n|dbhost|1\n" + jar,
       "no host object: no command, no product, but the archive path and the record"},
      {"Oracle", false, "", "-\n-\n-\n||1\n" + jar, "no host object and no database host"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(Observe(row.product, row.withHost, row.databaseHost), row.expected) << row.why;
}

// ---- Edge cases of the branches ----

class CommandEdgeTest : public PlugInTest {
 protected:
  // The arguments the host got for `tag`, joined by '|'; "-" when it got nothing.
  std::string ArgumentsOf(const char* tag) {
    host.commands.clear();
    CommandLine(Tag(tag));
    return host.commands.empty() ? "-" : Join(host.commands[0].arguments);
  }
};

// An apostrophe inside a folder is passed as it is, between the two quoting apostrophes, and
// bare in a script's arguments.
TEST_F(CommandEdgeTest, AnApostropheInAFolderIsPassedUnchanged) {
  Fill("QIMEditor=C:\\O'Brien|QIMRTEditor=D:\\it's|MQSEditor=C:\\MQ'S");
  const std::pair<const char*, const char*> rows[] = {
      {"qim_copy", R"(C:\O'Brien\intel_a\code\command|D:\it's)"},
      {"java_qimcreate", R"('D:\it's\QIM\QIMCreateQIMQM.bat'|'D:\it's\QIM\QIMCreateQIMQM.bat'|)"},
  };
  for (const auto& [tag, expected] : rows)
    EXPECT_EQ(ArgumentsOf(tag).substr(0, std::string(expected).size()), expected) << tag;
  const Texts environment = Split(ArgumentsOf("java_qim"), '|');
  EXPECT_EQ(environment.at(2) + " " + environment.at(3),
            R"('WEBAPP_HOME=C:\O'Brien\intel_a' 'MQ_INSTALL=C:\MQ'S')");
}

// Empty editors still give their argument, so the later arguments keep their positions.
TEST_F(CommandEdgeTest, EmptyEditorsKeepEveryArgumentInItsPosition) {
  container->ForEachDescendantOfType<ZAFDlgEditor>(
      [](ZAFDlgEditor& editor) { editor.SetText("", 1); });
  const std::pair<const char*, const char*> rows[] = {
      {"java_app",
       R"('intel_a\docs\java\app.properties'|'intel_a\docs\java\app.properties'|//:/|||'intel_a'||||||||app)"},
      {"java_qim",
       R"(QIMEnv.bat|QIMEnv.bat|'WEBAPP_HOME=intel_a'|'MQ_INSTALL='|'MQWF_INSTALL=BIN'|'JAVA_HOME='|'NUV_INSTALL='|'WAS_LIB_J2EE=lib'|'WAS_LIB_XERCES=deploytool\itp\plugins\org.apache.xerces_4.0.13'|MQWF_CFG_NAME=)"},
      {"java_qimdef",
       R"('QIM\MQ_SvrSvr\QIMQM.def'|'QIM\MQ_SvrSvr\QIMQM.def'||'QIMTrigInstantiate.bat'|||qimdef)"},
      {"java_fmcdef", R"('QIM\MQ_SvrSvr\FMCQM.def'|'QIM\MQ_SvrSvr\FMCQM.def'|||fmcdef)"},
      {"java_nuvcreate", R"('QIM\QIMCreateNUVQM.bat'|'QIM\QIMCreateNUVQM.bat'||||create)"},
      {"java_xml1", R"('QIM\NUV_MQSvr\NuvQimMQDetails.xml'|MQINSTALL=YES|WAITTIME=)"},
      {"java_xml2", R"('QIM\NUV_MQSvr\BRAXQIMSvcMQDetails.xml'|sleepTime=)"},
      {"java_db2file",
       R"('QIM\DB\CreateSQLDatabase.db2'|'QIM\DB\CreateSQLDatabase.db2'||||db2file)"},
      {"java_dbsetup", R"(QIM\DB\CreateSQLDatabase.bat||||QIM\DB)"},
  };
  for (const auto& [tag, expected] : rows)
    EXPECT_EQ(ArgumentsOf(tag), expected) << tag;
}

// An object assigned to computes its next command afresh: the archive path it reports then is
// its form's, not the one it was assigned.
TEST_F(CommandEdgeTest, AnAssignedPlugInReportsTheArchivePathOfItsNextCommand) {
  const TestablePlugIn beforeAnyCommand(plugin);
  Fill("MQWFEditor=C:\\MQWF");
  CommandLine(Tag("java_runbat"));
  plugin = beforeAnyCommand;
  CommandLine(Tag("java_runbat"));
  EXPECT_EQ(FmcJarPathReported(), R"(C:\MQWF\bin\fmcojagt.jar)");
}

// A copy carries the data source record and the archive path the original last reported.
TEST_F(CommandEdgeTest, ACopyKeepsTheDataSourceAndTheArchivePath) {
  Fill("DatabaseHostEditor= h |JndiNameEditor=jdbc/QIM|MQWFEditor=C:\\MQWF");
  ZAFJdeWASDataSource* source = nullptr;
  int count = 0;
  plugin.GetDataSourceSettings(source, count);
  CommandLine(Tag("java_runbat"));
  TestablePlugIn copy(plugin), assigned;
  assigned = plugin;
  Fill("DatabaseHostEditor=other|MQWFEditor=D:\\other");
  for (TestablePlugIn* other : {&copy, &assigned}) {
    const ZAFJdeWASDataSource& record = other->DataSource;
    EXPECT_EQ(Join({record.Host.str(), record.JndiName.str(), record.JdbcProvider.str()}),
              "h|jdbc/QIM|DB2 Universal JDBC Driver Provider (XA)");
    ZAFListValZAFUnicodeString names, values;
    other->GetJavaVariables(names, values);
    EXPECT_EQ(Pairs(names, values), R"(ws.ext.dirs=C:\MQWF\bin\fmcojagt.jar)");
  }
}

}  // namespace qimtest
