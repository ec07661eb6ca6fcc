#pragma once
// What every command branch shares: the rows of the command tag table, the database products
// the commands know, and the command context that GetCommandString computes on each call.

#include "QimSetupPlugIn.h"

namespace qim {

// The rows of QimSetupPlugIn::CommandTagTable, in table order. A tag is the address of its
// row; the row number is how the plug-in's own tables refer to a tag.
enum CommandTagRow : int {
  kQimCopy,
  kJavaQim,
  kJavaApp,
  kJavaQimDef,
  kJavaNuvDef,
  kJavaFmcDef,
  kJavaQimCreate,
  kJavaNuvCreate,
  kJavaFmcCreate,
  kJavaZafEnv,
  kJavaDbSetup,
  kJavaDb2File,
  kJavaRunBat,
  kJavaXml1,
  kJavaXml2,
  kJavaCp,
  kCommandTagRows
};

// What CommandTagRowOf gives for a pointer that is no row of the table.
constexpr int kNoCommandTagRow = -1;

// The row whose address `tag` is, or kNoCommandTagRow. Tags are compared by address only: a
// pointer to an equal text stored elsewhere is no tag.
int CommandTagRowOf(const void* tag);

// The database products the host reports, compared exactly.
constexpr const char* kDb2Product = "IBM DB2";
constexpr const char* kOracleProduct = "Oracle";

}  // namespace qim

// What the command context is made from: the form's three directories, the host's database
// and the host's join (its separator shows in the join of two plain names). Read on every
// call that passes the gate, and kept with the context computed from them.
struct QimSetupPlugIn::CommandInputs {
  ZAFUnicodeString QimRuntimeDir;
  ZAFUnicodeString QimInstallDir;
  ZAFUnicodeString MqwfDir;
  // All fields stay empty when there is no host object.
  WASDatabaseSettings DatabaseSettings;
  ZAFUnicodeString SampleJoin;
};

// The directories, script paths and option lists that GetCommandString computes from the
// inputs above. A call whose inputs equal the previous call's reuses the previous context,
// so it is what a fresh computation would give; FmcJarPath, which lives in the plug-in
// object, is set whenever the context is computed. The members are listed, and filled, in
// the order in which FillCommandContext computes them. Only Arguments changes after that:
// each branch that uses it empties it first.
struct QimSetupPlugIn::CommandContext {
  ZAFUnicodeString QimRuntimeDir;
  ZAFUnicodeString QimInstallDir;
  ZAFUnicodeString PlatformName;
  ZAFUnicodeString QimPlatformDir;
  ZAFUnicodeString QimJavaDocsDir;
  ZAFUnicodeString QimCommandDir;
  ZAFUnicodeString QimRuntimeQimDir;
  ZAFUnicodeString QimQueueManagerDir;
  ZAFUnicodeString QimDatabaseDir;
  ZAFUnicodeString NuvQueueManagerDir;
  ZAFUnicodeString MqwfBinDir;
  // All fields stay empty when there is no host object.
  WASDatabaseSettings DatabaseSettings;

  ZAFUnicodeString PathListSeparator;
  ZAFUnicodeString DirSeparator;
  ZAFUnicodeString QimQmScriptName;
  ZAFUnicodeString NuvQmScriptName;
  ZAFUnicodeString FmcQmScriptName;
  ZAFUnicodeString EnvScriptName;
  ZAFUnicodeString SqlScriptName;

  ZAFUnicodeString CreateQimQmScriptPath;
  ZAFUnicodeString CreateNuvQmScriptPath;
  ZAFUnicodeString CreateFmcQmScriptPath;
  ZAFUnicodeString EnvScriptPath;
  // Set only for the products that have a database script (see GetCommandString).
  ZAFUnicodeString SqlScriptPath;
  ZAFUnicodeString Db2ScriptPath;

  // The JVM options of every Java command, and the arguments the Java branches fill.
  ZAFListValZAFUnicodeString JvmOptions;
  ZAFListValZAFUnicodeString Arguments;

  bool IsDb2() const { return DatabaseSettings.DatabaseProduct == qim::kDb2Product; }
  bool IsOracle() const { return DatabaseSettings.DatabaseProduct == qim::kOracleProduct; }
};
