#pragma once
// One run of the tool against the plug-in: the host services configured from the options,
// the module loaded, the plug-in made with its host pointer set, and the form built.

#include <memory>
#include <string>
#include <vector>

#include "core/plugin_loader.h"
#include "core/setup_host.h"
#include "core/tool_error.h"
#include "host/zaf_dialog.h"
#include "host/zaf_preferences.h"

namespace wassetup {

struct GlobalOptions {
  std::string pluginPath;  // empty: the module beside the tool
  std::string prefsDir;    // empty: $XDG_CONFIG_HOME/wassetup, else ~/.config/wassetup
  std::string catalogDir;  // empty: the shipped catalogs
  std::string separator = "/";
  bool showSecrets = false;
  std::string outputFile;  // where --json documents go; empty: stdout
  HostSettings host;
};

// The plug-in's preference repository as the tool hands it out: it passes everything to the
// host's own repository, can hold the plug-in's writes back (to learn the settings' keys
// without storing them), and remembers whether a save failed.
class GuardedRepository : public ZAFSysPreferenceRepository {
 public:
  explicit GuardedRepository(ZAFSysPreferenceRepository* inner) : inner_(inner) {}

  int ReadPreference(const ZAFString& name, int* values, int count) override;
  int ReadPreference(const ZAFString& name, ZAFUnicodeString** values, int count) override;
  int WritePreference(const ZAFString& name, const int* values, int count) override;
  int WritePreference(const ZAFString& name, const ZAFUnicodeString* const* values,
                      int count) override;
  int SaveRepository(void* reserved) override;

  // While it lives, the repository holds the plug-in's writes and saves back: what the
  // plug-in writes is read, never stored.
  class WritesHeld {
   public:
    explicit WritesHeld(GuardedRepository* repository);
    ~WritesHeld();
    WritesHeld(const WritesHeld&) = delete;
    WritesHeld& operator=(const WritesHeld&) = delete;

   private:
    GuardedRepository* repository_;
    bool wasStoring_ = true;
  };

  bool SaveFailed() const { return saveFailed_; }

 private:
  ZAFSysPreferenceRepository* inner_;
  bool storing_ = true;
  bool saveFailed_ = false;
};

class Session {
 public:
  // Configures the host services, loads the module and builds the form. Throws ToolError.
  explicit Session(const GlobalOptions& options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  WASSetupUIPlugIn& plugin() { return loaded_->plugin(); }
  ZAFDlgTabContainer& form() { return *form_; }
  SetupHost& host() { return host_; }
  const GlobalOptions& options() const { return options_; }
  // The file the settings are stored in.
  const std::string& preferenceFile() const { return preferenceFile_; }

  // The settings' keys and values as the form holds them, without storing them.
  void ReadSettings(ZAFListValZAFUnicodeString& keys, ZAFListValZAFUnicodeString& values);
  // The settings, stored through the plug-in. Throws ToolError when they could not be saved.
  void StoreSettings(ZAFListValZAFUnicodeString& keys, ZAFListValZAFUnicodeString& values);

 private:
  // Loads the module, makes the plug-in and builds the form.
  void LoadAndBuild();
  // A host diagnostic: printed on stderr, or held while settings are stored.
  void Diagnostic(const std::string& line);

  GlobalOptions options_;
  std::string preferenceFile_;
  SetupHost host_;
  std::unique_ptr<GuardedRepository> repository_;
  std::unique_ptr<LoadedPlugIn> loaded_;
  std::unique_ptr<ZAFDlgTabContainer> form_;
  bool holdingDiagnostics_ = false;
  std::vector<std::string> heldDiagnostics_;
};

// The folder of this program, from /proc/self/exe.
std::string ProgramDirectory();

}  // namespace wassetup
