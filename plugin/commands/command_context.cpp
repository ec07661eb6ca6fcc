// GetCommandString: the gate, the command context every branch shares, and the dispatch on
// the tag. The branches live in command_branches.cpp.

#include "commands/command_context.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>

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
  RunCommandBranch(qim::CommandTagRowOf(tag), CurrentCommandContext(), commandLine);
}

// A copy, or an object assigned to, starts over: its context is computed on its next call.
QimSetupPlugIn::CommandContextCache::CommandContextCache() = default;
QimSetupPlugIn::CommandContextCache::CommandContextCache(const CommandContextCache& /*other*/) {}
QimSetupPlugIn::CommandContextCache& QimSetupPlugIn::CommandContextCache::operator=(
    const CommandContextCache& other) {
  if (this != &other) {
    inputs.reset();
    context.reset();
  }
  return *this;
}
QimSetupPlugIn::CommandContextCache::~CommandContextCache() = default;

namespace {

bool SameDatabase(const WASDatabaseSettings& a, const WASDatabaseSettings& b) {
  return a.DatabaseProduct == b.DatabaseProduct && a.DatabaseName == b.DatabaseName &&
         a.Host == b.Host && a.Port == b.Port && a.User == b.User && a.Password == b.Password &&
         a.DriverPath == b.DriverPath && a.JdbcUrl == b.JdbcUrl;
}

// The editor's text without blanks at either end, where it lies (as qim::StrippedText gives it,
// without the copy); empty for a missing editor.
std::string_view StrippedView(const ZAFDlgEditor* editor) {
  if (editor == nullptr) {
    return {};
  }
  const std::string_view text = editor->GetText().str();
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

// The plan asks for every command in a row with the form unchanged: the context of the
// previous call serves again as long as its inputs are the same. The inputs are read (the form,
// then the host's database, then the host's join) and compared where they lie; only inputs
// that changed are copied, to be kept with the context computed from them.
QimSetupPlugIn::CommandContext& QimSetupPlugIn::CurrentCommandContext() {
  const std::string_view runtimeDir = StrippedView(QIMRTEditor);
  const std::string_view installDir = StrippedView(QIMEditor);
  const std::string_view mqwfDir = StrippedView(MQWFEditor);
  WASDatabaseSettings database;
  if (Host != nullptr) {
    Host->GetDatabaseSettings(database);
  }
  ZAFUnicodeString sampleJoin = qim::JoinPath("a", "b");

  CommandContextCache& cache = LastCommandContext;
  const CommandInputs* known = cache.inputs.get();
  if (cache.context && known->QimRuntimeDir.str() == runtimeDir &&
      known->QimInstallDir.str() == installDir && known->MqwfDir.str() == mqwfDir &&
      SameDatabase(known->DatabaseSettings, database) && known->SampleJoin == sampleJoin) {
    return *cache.context;
  }
  auto inputs = std::make_unique<CommandInputs>();
  inputs->QimRuntimeDir = ZAFUnicodeString(std::string(runtimeDir));
  inputs->QimInstallDir = ZAFUnicodeString(std::string(installDir));
  inputs->MqwfDir = ZAFUnicodeString(std::string(mqwfDir));
  inputs->DatabaseSettings = std::move(database);
  inputs->SampleJoin = std::move(sampleJoin);
  auto context = std::make_unique<CommandContext>();
  FillCommandContext(*inputs, *context);
  cache.context = std::move(context);
  cache.inputs = std::move(inputs);
  return *cache.context;
}

// FmcJarPath is stored in the plug-in so GetJavaVariables can report it later.
void QimSetupPlugIn::FillCommandContext(const CommandInputs& inputs, CommandContext& context) {
  using qim::JoinPath;
  context.QimRuntimeDir = inputs.QimRuntimeDir;
  context.QimInstallDir = inputs.QimInstallDir;

  context.PlatformName = kPlatformName;
  context.QimPlatformDir = JoinPath(context.QimInstallDir, context.PlatformName);
  context.QimJavaDocsDir = JoinPath(JoinPath(context.QimPlatformDir, "docs"), "java");
  context.QimCommandDir = JoinPath(JoinPath(context.QimPlatformDir, "code"), "command");
  context.QimRuntimeQimDir = JoinPath(context.QimRuntimeDir, "QIM");
  context.QimQueueManagerDir = JoinPath(context.QimRuntimeQimDir, "MQ_SvrSvr");
  context.QimDatabaseDir = JoinPath(context.QimRuntimeQimDir, "DB");
  context.NuvQueueManagerDir = JoinPath(context.QimRuntimeQimDir, "NUV_MQSvr");

  context.MqwfBinDir = JoinPath(inputs.MqwfDir, "bin");
  FmcJarPath = JoinPath(context.MqwfBinDir, "fmcojagt.jar");

  context.DatabaseSettings = inputs.DatabaseSettings;

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
