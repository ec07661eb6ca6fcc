// GetCommandString: the gate, the command context every branch shares, and the dispatch on
// the tag. The branches live in command_branches.cpp.

#include "commands/command_context.h"

#include "plugin_util.h"

namespace {

// The commands are built in their Windows forms: the platform directory, ".bat" scripts, the
// backslash and ";" as separators.
constexpr const char* kPlatformName = "intel_a";
constexpr const char* kPathListSeparator = ";";
constexpr const char* kDirSeparator = "\\";
constexpr const char* kQimQmScriptName = "QIMCreateQIMQM.bat";
constexpr const char* kNuvQmScriptName = "QIMCreateNUVQM.bat";
constexpr const char* kFmcQmScriptName = "QIMCreateFMCQM.bat";
constexpr const char* kEnvScriptName = "QIMEnv.bat";
constexpr const char* kDb2SqlScriptName = "CreateSQLDatabase.bat";
constexpr const char* kDb2ScriptName = "CreateSQLDatabase.db2";
// Every Java command loads the plug-in's batch utilities.
constexpr const char* kJvmOption = "-DLoadJars=QimPlugInBatch.jar";

}  // namespace

void QimSetupPlugIn::GetCommandString(const void* tag, ZAFUnicodeString& commandLine) {
  commandLine = "";
  if (!CommandsAllowed()) {
    return;
  }
  CommandContext context;
  FillCommandContext(context);
  RunCommandBranch(qim::CommandTagRowOf(tag), context, commandLine);
}

// Reads the form and asks the host for the database, in this order; FmcJarPath is stored in
// the plug-in so GetJavaVariables can report it later.
void QimSetupPlugIn::FillCommandContext(CommandContext& context) {
  using qim::JoinPath;
  context.QimRuntimeDir = qim::StrippedText(QIMRTEditor);
  context.QimInstallDir = qim::StrippedText(QIMEditor);

  context.PlatformName = kPlatformName;
  context.QimPlatformDir = JoinPath(context.QimInstallDir, context.PlatformName);
  context.QimJavaDocsDir = JoinPath(JoinPath(context.QimPlatformDir, "docs"), "java");
  context.QimCommandDir = JoinPath(JoinPath(context.QimPlatformDir, "code"), "command");
  context.QimRuntimeQimDir = JoinPath(context.QimRuntimeDir, "QIM");
  context.QimQueueManagerDir = JoinPath(context.QimRuntimeQimDir, "MQ_SvrSvr");
  context.QimDatabaseDir = JoinPath(context.QimRuntimeQimDir, "DB");
  context.NuvQueueManagerDir = JoinPath(context.QimRuntimeQimDir, "NUV_MQSvr");

  context.MqwfBinDir = JoinPath(qim::StrippedText(MQWFEditor), "bin");
  FmcJarPath = JoinPath(context.MqwfBinDir, "fmcojagt.jar");

  if (Host != nullptr) {
    Host->GetDatabaseSettings(context.DatabaseSettings);
  }

  context.PathListSeparator = kPathListSeparator;
  context.DirSeparator = kDirSeparator;
  context.QimQmScriptName = kQimQmScriptName;
  context.NuvQmScriptName = kNuvQmScriptName;
  context.FmcQmScriptName = kFmcQmScriptName;
  context.EnvScriptName = kEnvScriptName;
  // Oracle has no script of its own: its name is empty, so its path is the bare directory.
  if (context.IsDb2()) {
    context.SqlScriptName = kDb2SqlScriptName;
  }

  context.CreateQimQmScriptPath = JoinPath(context.QimRuntimeQimDir, context.QimQmScriptName);
  context.CreateNuvQmScriptPath = JoinPath(context.QimRuntimeQimDir, context.NuvQmScriptName);
  context.CreateFmcQmScriptPath = JoinPath(context.QimRuntimeQimDir, context.FmcQmScriptName);
  context.EnvScriptPath = JoinPath(context.QimRuntimeDir, context.EnvScriptName);

  if (context.IsDb2() || context.IsOracle()) {
    context.SqlScriptPath = JoinPath(context.QimDatabaseDir, context.SqlScriptName);
  }
  if (context.IsDb2()) {
    context.Db2ScriptPath = JoinPath(context.QimDatabaseDir, kDb2ScriptName);
  }

  context.JvmOptions.Append(kJvmOption);
}
