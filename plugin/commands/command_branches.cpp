// The command branches of GetCommandString: each gathers a Java class or a script with its
// arguments and hands them to the host, which writes the command line. Side effects (saving
// the settings, restoring or backing up a file) come first, so they also happen without a
// host object.

#include <initializer_list>

#include "commands/command_context.h"
#include "host/zaf_system.h"
#include "plugin_util.h"

namespace {

constexpr const char* kCreateQimEnvClass = "com.corvanta.qimpluginutilities.CreateQIMEnv";
constexpr const char* kUpdateQimFilesClass = "com.corvanta.qimpluginutilities.UpdateQIMFiles";
constexpr const char* kUpdateQimXmlsClass = "com.corvanta.qimpluginutilities.UpdateQIMXmls";
// Scripts are handed over by bare name; the host knows where they lie.
constexpr const char* kFileCopyScript = "QIMFilesCp.bat";
constexpr const char* kDatabaseSetupScript = "QIMDBSetup.bat";

// Which databases a table-driven command exists for.
enum class DatabaseNeed { kAnyDatabase, kDb2Only };

void HandJavaCommand(WASSetupUIHost* host, const ZAFListValZAFUnicodeString& options,
                     const char* className, const ZAFListValZAFUnicodeString& arguments,
                     ZAFUnicodeString& commandLine) {
  if (host != nullptr) {
    host->BuildJavaCommand(options, className, arguments, commandLine);
  }
}

void HandScriptCommand(WASSetupUIHost* host, const char* script,
                       const ZAFListValZAFUnicodeString& arguments, ZAFUnicodeString& commandLine) {
  if (host != nullptr) {
    host->BuildScriptCommand(script, arguments, commandLine);
  }
}

// Copies `from` onto `to` unless `probe` opens for reading. The copy's outcome is not
// examined: when `from` is missing too nothing changes and the command is built all the same.
void CopyUnlessReadable(const ZAFUnicodeString& probe, const ZAFUnicodeString& from,
                        const ZAFUnicodeString& to) {
  ZAFFILE file = nullptr;
  if (ZAFFOpen(probe.c_str(), "r", &file) >= 0) {
    ZAFFClose(file);
    return;
  }
  ZAFFCopy(from.c_str(), to.c_str(), 1);
}

ZAFUnicodeString JoinPathNames(ZAFUnicodeString path, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    path = qim::JoinPath(path, name);
  }
  return path;
}

// 'KEY=value': a setting that carries a directory is quoted as a whole.
ZAFUnicodeString QuotedSetting(const char* key, const ZAFUnicodeString& value) {
  return qim::Quoted(ZAFUnicodeString(key) + "=" + value);
}

}  // namespace

// One argument of a table-driven Java command, made from the context or the form at the
// moment it is appended.
struct QimSetupPlugIn::CommandArgument {
  // kEnd marks the end of a command's arguments; unused slots of a row are kEnd.
  enum class Kind { kEnd, kQuotedPath, kEditorText, kLiteral };

  // The context path, joined with `name` when one is given, between apostrophes.
  static constexpr CommandArgument QuotedPath(ZAFUnicodeString CommandContext::*path,
                                              const char* name = nullptr) {
    return {Kind::kQuotedPath, path, nullptr, name};
  }
  // `prefix` followed by the editor's stripped text; passed bare.
  static constexpr CommandArgument EditorText(ZAFDlgEditor* QimSetupPlugIn::*editor,
                                              const char* prefix = "") {
    return {Kind::kEditorText, nullptr, editor, prefix};
  }
  static constexpr CommandArgument Literal(const char* text) {
    return {Kind::kLiteral, nullptr, nullptr, text};
  }

  ZAFUnicodeString Text(const QimSetupPlugIn& plugin, const CommandContext& context) const {
    switch (kind) {
      case Kind::kQuotedPath:
        return qim::Quoted(text == nullptr ? context.*path : qim::JoinPath(context.*path, text));
      case Kind::kEditorText:
        return text + qim::StrippedText(plugin.*editor);
      case Kind::kLiteral:
        return text;
      case Kind::kEnd:
        break;
    }
    return ZAFUnicodeString();
  }

  Kind kind;
  ZAFUnicodeString CommandContext::*path;
  ZAFDlgEditor* QimSetupPlugIn::*editor;
  const char* text;
};

// A Java command that is nothing but its class and its arguments: empty `Arguments`, append
// the arguments in order, hand them to the host.
struct QimSetupPlugIn::JavaCommand {
  int tagRow;
  const char* className;
  DatabaseNeed databaseNeed;
  CommandArgument arguments[7];
};

// The queue-manager definitions pass their definition file twice; the QIM and NUV ones also
// name a dead-letter queue and the trigger script, which lies in the run-time directory
// itself. The creation commands pass their script twice; the Workflow queue manager always
// has the name FMCQM.
const QimSetupPlugIn::JavaCommand QimSetupPlugIn::JavaCommands[] = {
    {qim::kJavaQimDef,
     kUpdateQimFilesClass,
     DatabaseNeed::kAnyDatabase,
     {CommandArgument::QuotedPath(&CommandContext::QimQueueManagerDir, "QIMQM.def"),
      CommandArgument::QuotedPath(&CommandContext::QimQueueManagerDir, "QIMQM.def"),
      CommandArgument::EditorText(&QimSetupPlugIn::QIMMQDLEditor),
      CommandArgument::QuotedPath(&CommandContext::QimRuntimeDir, "QIMTrigInstantiate.bat"),
      CommandArgument::EditorText(&QimSetupPlugIn::QIMIPEditor),
      CommandArgument::EditorText(&QimSetupPlugIn::QIMPortEditor),
      CommandArgument::Literal("qimdef")}},
    {qim::kJavaNuvDef,
     kUpdateQimFilesClass,
     DatabaseNeed::kAnyDatabase,
     {CommandArgument::QuotedPath(&CommandContext::QimQueueManagerDir, "NUVQM.def"),
      CommandArgument::QuotedPath(&CommandContext::QimQueueManagerDir, "NUVQM.def"),
      CommandArgument::EditorText(&QimSetupPlugIn::NUVMQDLEditor),
      CommandArgument::QuotedPath(&CommandContext::QimRuntimeDir, "QIMTrigInstantiate.bat"),
      CommandArgument::EditorText(&QimSetupPlugIn::NUVIPEditor),
      CommandArgument::EditorText(&QimSetupPlugIn::NUVPortEditor),
      CommandArgument::Literal("nuvdef")}},
    {qim::kJavaFmcDef,
     kUpdateQimFilesClass,
     DatabaseNeed::kAnyDatabase,
     {CommandArgument::QuotedPath(&CommandContext::QimQueueManagerDir, "FMCQM.def"),
      CommandArgument::QuotedPath(&CommandContext::QimQueueManagerDir, "FMCQM.def"),
      CommandArgument::EditorText(&QimSetupPlugIn::FMCIPEditor),
      CommandArgument::EditorText(&QimSetupPlugIn::FMCPortEditor),
      CommandArgument::Literal("fmcdef")}},
    {qim::kJavaQimCreate,
     kUpdateQimFilesClass,
     DatabaseNeed::kAnyDatabase,
     {CommandArgument::QuotedPath(&CommandContext::CreateQimQmScriptPath),
      CommandArgument::QuotedPath(&CommandContext::CreateQimQmScriptPath),
      CommandArgument::EditorText(&QimSetupPlugIn::QIMIPEditor),
      CommandArgument::EditorText(&QimSetupPlugIn::QIMPortEditor),
      CommandArgument::EditorText(&QimSetupPlugIn::QIMMQNameEditor),
      CommandArgument::Literal("create")}},
    {qim::kJavaNuvCreate,
     kUpdateQimFilesClass,
     DatabaseNeed::kAnyDatabase,
     {CommandArgument::QuotedPath(&CommandContext::CreateNuvQmScriptPath),
      CommandArgument::QuotedPath(&CommandContext::CreateNuvQmScriptPath),
      CommandArgument::EditorText(&QimSetupPlugIn::NUVIPEditor),
      CommandArgument::EditorText(&QimSetupPlugIn::NUVPortEditor),
      CommandArgument::EditorText(&QimSetupPlugIn::NUVMQNameEditor),
      CommandArgument::Literal("create")}},
    {qim::kJavaFmcCreate,
     kUpdateQimFilesClass,
     DatabaseNeed::kAnyDatabase,
     {CommandArgument::QuotedPath(&CommandContext::CreateFmcQmScriptPath),
      CommandArgument::QuotedPath(&CommandContext::CreateFmcQmScriptPath),
      CommandArgument::EditorText(&QimSetupPlugIn::FMCIPEditor),
      CommandArgument::EditorText(&QimSetupPlugIn::FMCPortEditor),
      CommandArgument::Literal("FMCQM"), CommandArgument::Literal("create")}},
    // Both XML files take the same wait time, under differently spelt keys.
    {qim::kJavaXml1,
     kUpdateQimXmlsClass,
     DatabaseNeed::kAnyDatabase,
     {CommandArgument::QuotedPath(&CommandContext::NuvQueueManagerDir, "NuvQimMQDetails.xml"),
      CommandArgument::Literal("MQINSTALL=YES"),
      CommandArgument::EditorText(&QimSetupPlugIn::MsqWTEditor, "WAITTIME=")}},
    {qim::kJavaXml2,
     kUpdateQimXmlsClass,
     DatabaseNeed::kAnyDatabase,
     {CommandArgument::QuotedPath(&CommandContext::NuvQueueManagerDir, "BRAXQIMSvcMQDetails.xml"),
      CommandArgument::EditorText(&QimSetupPlugIn::MsqWTEditor, "sleepTime=")}},
    {qim::kJavaDb2File,
     kUpdateQimFilesClass,
     DatabaseNeed::kDb2Only,
     {CommandArgument::QuotedPath(&CommandContext::Db2ScriptPath),
      CommandArgument::QuotedPath(&CommandContext::Db2ScriptPath),
      CommandArgument::EditorText(&QimSetupPlugIn::DatabaseNameEditor),
      CommandArgument::EditorText(&QimSetupPlugIn::DatabaseUserEditor),
      CommandArgument::EditorText(&QimSetupPlugIn::DatabasePasswordEditor),
      CommandArgument::Literal("db2file")}},
    // The environment files learn the platform's separators, each quoted on its own.
    {qim::kJavaZafEnv,
     kUpdateQimFilesClass,
     DatabaseNeed::kAnyDatabase,
     {CommandArgument::QuotedPath(&CommandContext::QimPlatformDir, "EnvDir.txt"),
      CommandArgument::QuotedPath(&CommandContext::QimPlatformDir, "EnvName.txt"),
      CommandArgument::QuotedPath(&CommandContext::DirSeparator),
      CommandArgument::QuotedPath(&CommandContext::PathListSeparator),
      CommandArgument::QuotedPath(&CommandContext::NuvQueueManagerDir),
      CommandArgument::Literal("zafenv")}},
};

void QimSetupPlugIn::RunCommandBranch(int tagRow, CommandContext& context,
                                      ZAFUnicodeString& commandLine) {
  switch (tagRow) {
    case qim::kQimCopy:
      BuildFileCopyCommand(context, commandLine);
      return;
    case qim::kJavaQim:
      BuildEnvironmentCommand(context, commandLine);
      return;
    case qim::kJavaApp:
      BuildAppPropertiesCommand(context, commandLine);
      return;
    case qim::kJavaDbSetup:
      BuildDatabaseSetupCommand(context, commandLine);
      return;
    default:
      break;
  }
  for (const JavaCommand& command : JavaCommands) {
    if (command.tagRow == tagRow) {
      BuildTableCommand(command, context, commandLine);
      return;
    }
  }
  // "java_runbat", "java_cp" and pointers that are no tag build nothing.
}

void QimSetupPlugIn::BuildTableCommand(const JavaCommand& command, CommandContext& context,
                                       ZAFUnicodeString& commandLine) {
  if (command.databaseNeed == DatabaseNeed::kDb2Only && !context.IsDb2()) {
    return;
  }
  context.Arguments.RemoveAll();
  for (const CommandArgument& argument : command.arguments) {
    if (argument.kind == CommandArgument::Kind::kEnd) {
      break;
    }
    context.Arguments.Append(argument.Text(*this, context));
  }
  HandJavaCommand(Host, context.JvmOptions, command.className, context.Arguments, commandLine);
}

// Copies the QIM files: a script with a list of its own, no JVM options.
void QimSetupPlugIn::BuildFileCopyCommand(const CommandContext& context,
                                          ZAFUnicodeString& commandLine) {
  ZAFListValZAFUnicodeString arguments;
  arguments.Append(context.QimCommandDir);
  arguments.Append(context.QimRuntimeDir);
  HandScriptCommand(Host, kFileCopyScript, arguments, commandLine);
}

// Creates the QIM environment. The settings are saved first (GetUserInterfaceFields writes
// them to the preference store), and the Workflow Java archive the environment needs is
// restored from its backup when it is missing.
void QimSetupPlugIn::BuildEnvironmentCommand(CommandContext& context,
                                             ZAFUnicodeString& commandLine) {
  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;
  GetUserInterfaceFields(keys, values);

  const ZAFUnicodeString jarBackup = qim::JoinPath(context.MqwfBinDir, "fmcojagt.jar.deprecated");
  CopyUnlessReadable(FmcJarPath, jarBackup, FmcJarPath);

  const ZAFUnicodeString wasDir = qim::StrippedText(WASEditor);
  ZAFListValZAFUnicodeString& arguments = context.Arguments;
  arguments.RemoveAll();
  arguments.Append(context.EnvScriptPath);
  arguments.Append(context.EnvScriptPath);
  arguments.Append(QuotedSetting("WEBAPP_HOME", context.QimPlatformDir));
  arguments.Append(QuotedSetting("MQ_INSTALL", qim::StrippedText(MQSEditor)));
  // The Workflow's own directory is spelt "BIN" here, unlike the "bin" of FmcJarPath.
  arguments.Append(
      QuotedSetting("MQWF_INSTALL", qim::JoinPath(qim::StrippedText(MQWFEditor), "BIN")));
  arguments.Append(QuotedSetting("JAVA_HOME", qim::StrippedText(JHOMEEditor)));
  arguments.Append(QuotedSetting("NUV_INSTALL", qim::StrippedText(NUVEditor)));
  arguments.Append(QuotedSetting("WAS_LIB_J2EE", qim::JoinPath(wasDir, "lib")));
  arguments.Append(QuotedSetting(
      "WAS_LIB_XERCES",
      JoinPathNames(wasDir, {"deploytool", "itp", "plugins", "org.apache.xerces_4.0.13"})));
  // A configuration name is no directory: it goes unquoted.
  arguments.Append("MQWF_CFG_NAME=" + qim::StrippedText(MsqCfgEditor));
  HandJavaCommand(Host, context.JvmOptions, kCreateQimEnvClass, arguments, commandLine);
}

// Patches the application properties. Before the first patch the file is backed up; an
// existing backup is never overwritten, so it keeps the file as it was before any patch.
void QimSetupPlugIn::BuildAppPropertiesCommand(CommandContext& context,
                                               ZAFUnicodeString& commandLine) {
  ZAFListValZAFUnicodeString& arguments = context.Arguments;
  arguments.RemoveAll();
  const ZAFUnicodeString properties = qim::JoinPath(context.QimJavaDocsDir, "app.properties");
  const ZAFUnicodeString backup = qim::JoinPath(context.QimJavaDocsDir, "app.properties.bak");
  CopyUnlessReadable(backup, properties, backup);

  arguments.Append(qim::Quoted(properties));
  arguments.Append(qim::Quoted(properties));
  arguments.Append("//" + qim::StrippedText(DatabaseHostEditor) + ":" +
                   qim::StrippedText(DatabasePortEditor) + "/" +
                   qim::StrippedText(DatabaseNameEditor));
  arguments.Append(qim::StrippedText(DatabaseUserEditor));
  arguments.Append(qim::StrippedText(DatabasePasswordEditor));
  arguments.Append(qim::Quoted(context.QimPlatformDir));
  for (const ZAFDlgEditor* editor : {JndiNameEditor, SMTPEditor, MsqUserEditor, MsqPassEditor,
                                     NUVNavServerEditor, NUVNavPortEditor, NUVNavServletEditor}) {
    arguments.Append(qim::StrippedText(editor));
  }
  arguments.Append("app");
  HandJavaCommand(Host, context.JvmOptions, kUpdateQimFilesClass, arguments, commandLine);
}

// Creates the database with a script of its own (IBM DB2 only). Script arguments are never
// quoted, and the list is the branch's own: the shared Arguments stay as they were.
void QimSetupPlugIn::BuildDatabaseSetupCommand(const CommandContext& context,
                                               ZAFUnicodeString& commandLine) {
  if (!context.IsDb2()) {
    return;
  }
  ZAFListValZAFUnicodeString arguments;
  arguments.Append(context.SqlScriptPath);
  arguments.Append(qim::StrippedText(DatabaseNameEditor));
  arguments.Append(qim::StrippedText(DatabaseUserEditor));
  arguments.Append(qim::StrippedText(DatabasePasswordEditor));
  arguments.Append(context.QimDatabaseDir);
  HandScriptCommand(Host, kDatabaseSetupScript, arguments, commandLine);
}
