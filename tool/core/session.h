#pragma once
// One run of the tool against the plug-in: the host services configured from the options,
// the module loaded, the plug-in made with its host pointer set, and the form built.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/form_model.h"
#include "core/plugin_loader.h"
#include "core/settings_merge.h"
#include "core/setup_host.h"
#include "core/tool_error.h"
#include "host/zaf_dialog.h"
#include "host/zaf_preferences.h"

namespace wassetup {

struct GlobalOptions {
  std::string pluginPath;  // empty: the module beside the tool
  std::string prefsDir;    // empty: the user's (zaf::platform::UserSettingsFolder)
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

// Whether a command only looks or also changes files, decided once where it is dispatched. A
// session's host records the file changes the plug-in asks for (storing the settings, copying
// files) instead of making them, whatever the command; only a changing command acts, and only
// while it stores the settings or composes a command it runs.
enum class Access { kLook, kChange };

class Session {
 public:
  // Configures the host services, loads the module, builds the form and learns its model.
  // Throws ToolError.
  Session(const GlobalOptions& options, Access access);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  WASSetupUIPlugIn& plugin() { return loaded_->plugin(); }
  ZAFDlgTabContainer& form() { return *form_; }
  const FormModel& model() const { return *model_; }
  Access access() const { return access_; }
  // The settings as the form held them once built.
  const SettingPairs& settings() const { return settings_; }
  SetupHost& host() { return host_; }
  const GlobalOptions& options() const { return options_; }
  // The file the settings are stored in.
  const std::string& preferenceFile() const { return preferenceFile_; }

  // The settings as the form holds them now, without storing them.
  SettingPairs ReadSettings();
  // The settings, stored through the plug-in. Throws ToolError when they could not be saved.
  // Acts: a changing command's alone.
  SettingPairs StoreSettings();
  // Asks the plug-in for the command of `tag` to run it, making the file changes it asks for.
  // Acts: a changing command's alone. Any other composing (the plan, what a step shows) goes
  // into the host's record.
  ComposedCommand ComposeToRun(const void* tag);

 private:
  // Loads the module, makes the plug-in, builds the form, reads its settings once and learns
  // its model.
  void LoadAndBuild();
  // Runs `act` with the host making the changes it is asked for. Throws std::logic_error in a
  // looking session: such a command never acts.
  template <typename Act>
  void Acting(Act&& act);
  // A host diagnostic: printed on stderr, or held while settings are stored.
  void Diagnostic(const std::string& line);

  GlobalOptions options_;
  Access access_;
  std::string preferenceFile_;
  SetupHost host_;
  std::unique_ptr<GuardedRepository> repository_;
  std::unique_ptr<LoadedPlugIn> loaded_;
  std::unique_ptr<ZAFDlgTabContainer> form_;
  SettingPairs settings_;
  std::unique_ptr<FormModel> model_;
  bool holdingDiagnostics_ = false;
  std::vector<std::string> heldDiagnostics_;
};

}  // namespace wassetup
