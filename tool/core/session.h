#pragma once
// One run of the tool against the plug-in: the host services configured from the options,
// the module loaded, the plug-in made with its host pointer set, and the form built.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/plugin_loader.h"
#include "core/settings_merge.h"
#include "core/setup_host.h"
#include "core/tool_error.h"
#include "host/zaf_dialog.h"
#include "host/zaf_preferences.h"

namespace wassetup {

struct GlobalOptions {
  std::string pluginPath;  // empty: the module beside the tool
  std::string prefsDir;    // empty: $XDG_CONFIG_HOME/wassetup, else ~/.config/wassetup
  std::string catalogDir;  // empty: the shipped catalogs
  // The plug-in builds every command piece in its Windows form: the joins match by default.
  std::string separator = "\\";
  bool showSecrets = false;
  double lockTimeoutSeconds = 30;  // how long a save waits for another's settings lock
  std::string outputFile;          // where --json documents go; empty: stdout
  HostSettings host;
};

// The plug-in's preference repository as the tool hands it out: it passes everything to the
// host's own repository `name`, can hold the plug-in's writes back (to learn the settings'
// keys without storing them), and remembers whether a save failed.
//
// A save stores only the settings this process changed. The plug-in writes all 33 settings
// as two whole lists at every save, so the host, which sees only whole preferences, would put
// one process's lists over another's and lose what the other changed meanwhile. The merge of
// single settings lives here, because the tool is what knows that "Keys" and "Values" are
// parallel lists; the host only re-reads the file under its lock and hands it to the merge
// (SaveHostRepository).
class GuardedRepository : public ZAFSysPreferenceRepository {
 public:
  GuardedRepository(ZAFSysPreferenceRepository* inner, std::string name)
      : inner_(inner), name_(std::move(name)) {}

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
  void ForgetFailedSave() { saveFailed_ = false; }
  // The settings the form held once built: a save stores those that differ from them (or
  // from the last save). When the repository held no settings a save stores all of them.
  void SetLoadedSettings(SettingPairs settings);

 private:
  // Saves the settings changed since they were loaded (or last saved), merged into the file.
  int SaveChangedSettings();

  ZAFSysPreferenceRepository* inner_;
  std::string name_;
  bool storing_ = true;
  bool saveFailed_ = false;
  SettingPairs loaded_;
  bool settingsStored_ = false;  // the repository held settings when they were loaded
  // The plug-in's writes since the last save.
  std::vector<std::string> writtenKeys_;
  std::vector<std::string> writtenValues_;
  bool otherWrites_ = false;  // of preferences other than the settings
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
