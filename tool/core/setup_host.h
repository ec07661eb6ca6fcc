#pragma once
// The deployment tool's service object: the database and server settings it reports to the
// plug-in, and the commands it composes from the pieces the plug-in hands over.

#include <string>
#include <vector>

#include "host/was_setup.h"

namespace wassetup {

struct HostSettings {
  std::string databaseProduct = "IBM DB2";
  std::string wasDirectory;
  std::string nuvServlet;
  // The program that runs Java classes, and the folder the scripts are looked up in.
  std::string javaLauncher = "java";
  std::string scriptDirectory = ".";
};

// One command as the plug-in described it, and the argument vector that runs it.
struct ComposedCommand {
  enum class Kind { kNone, kJava, kScript };
  Kind kind = Kind::kNone;
  std::string script;                  // kScript: the script's name as the plug-in gave it
  std::vector<std::string> options;    // kJava
  std::string className;               // kJava
  std::vector<std::string> arguments;  // the plug-in's arguments, exactly as handed over
  std::vector<std::string> argv;       // what runs: launcher or script path, then the pieces
  std::string line;                    // argv quoted for the operator's shell (ShellCommandLine)
};

class SetupHost : public WASSetupUIHost {
 public:
  explicit SetupHost(HostSettings settings) : settings_(std::move(settings)) {}

  int GetPlatformName(ZAFUnicodeString& platform) override;
  int GetDatabaseSettings(WASDatabaseSettings& settings) override;
  int GetServerSettings(WASServerSettings& settings) override;
  int ShowStatus(const ZAFUnicodeString& text) override;
  // Both write the command's argument vector, each piece quoted for the operator's shell, into
  // `commandLine`; during Compose they also hand the command to it.
  int BuildJavaCommand(const ZAFListValZAFUnicodeString& options, const ZAFUnicodeString& className,
                       const ZAFListValZAFUnicodeString& arguments,
                       ZAFUnicodeString& commandLine) override;
  int BuildScriptCommand(const ZAFUnicodeString& script,
                         const ZAFListValZAFUnicodeString& arguments,
                         ZAFUnicodeString& commandLine) override;

  // Asks `plugin` for the command of `tag` and returns what it composed through this host
  // during that call; one of kind kNone when it gave no command line.
  ComposedCommand Compose(WASSetupUIPlugIn& plugin, const void* tag);

  const HostSettings& settings() const { return settings_; }

 private:
  // Where the Build calls put the command while Compose waits for it; null outside Compose.
  void Deliver(ComposedCommand command);

  HostSettings settings_;
  ComposedCommand* composing_ = nullptr;
};

std::vector<std::string> ToStrings(const ZAFListValZAFUnicodeString& list);

}  // namespace wassetup
