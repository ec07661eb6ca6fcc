#pragma once
// The QIM setup plug-in: three tab pages of settings in the host's setup dialog, their
// validation and storage, and the ordered commands that prepare a site for QIM.
//
// The class is declared here once; each operation is defined in the folder of the subsystem
// that owns it: this folder (object, messages, small operations), form/ (pages, callbacks,
// field transfer, validation), settings/ (preferences and defaults) and commands/ (deployment).

#include <cstdint>
#include <memory>

#include "host/was_setup.h"
#include "host/zaf_catalog.h"
#include "host/zaf_dialog.h"
#include "host/zaf_list.h"
#include "host/zaf_preferences.h"
#include "host/zaf_string.h"
#include "qim_export.h"

// Result codes of the preference operations.
constexpr long QIM_S_OK = 0;
constexpr long QIM_E_FAIL = static_cast<std::int32_t>(0x80004005);

class QIM_EXPORT QimSetupPlugIn : public WASSetupUIPlugIn {
 public:
  QimSetupPlugIn();
  QimSetupPlugIn(QimSetupPlugIn& other);
  QimSetupPlugIn& operator=(const QimSetupPlugIn& other);
  ~QimSetupPlugIn() override;

  // The operations the host calls, in the slot order of WASSetupUIPlugIn.
  void BuildUserInterface(ZAFDlgTabContainer* container) override;
  void ValidateUserInputData(ZAFDlgTabPage*& page, ZAFUnicodeString& title,
                             ZAFUnicodeString& text) override;
  void GetCommandTags(ZAFRawCollPV& tags) override;
  void GetCommandString(const void* tag, ZAFUnicodeString& commandLine) override;
  void GetCommandErrorMessage(const void* tag, int status, const ZAFUnicodeString& detail,
                              ZAFUnicodeString& title, ZAFUnicodeString& text) override;
  void GetSymbolicName(ZAFUnicodeString& name) override;
  void SetUserInterfaceFields(const ZAFListValZAFUnicodeString& keys,
                              const ZAFListValZAFUnicodeString& values) override;
  void GetUserInterfaceFields(ZAFListValZAFUnicodeString& keys,
                              ZAFListValZAFUnicodeString& values) override;
  void GetEarCreationParameters(ZAFUnicodeString& first, ZAFUnicodeString& second) override;
  void GetEnvironmentVariables(ZAFListValZAFUnicodeString& names,
                               ZAFListValZAFUnicodeString& values) override;
  void GetJavaVariables(ZAFListValZAFUnicodeString& names,
                        ZAFListValZAFUnicodeString& values) override;
  void GetDataSourceSettings(ZAFJdeWASDataSource*& dataSource, int& count) override;

  // The settings in the preference repository "QIMSetup", and the installation defaults.
  ZAFSysPreferenceRepository* GetPreferenceRepository();
  long WritePrefToRepository(const ZAFListValZAFUnicodeString& keys,
                             const ZAFListValZAFUnicodeString& values);
  long ReadPrefFromRepository(ZAFListValZAFUnicodeString& keys, ZAFListValZAFUnicodeString& values);
  void ReadDefaults(ZAFListValZAFUnicodeString& keys, ZAFListValZAFUnicodeString& values,
                    ZAFUnicodeString platform);

  // Callbacks of the form's widgets: the enable check button, the browse buttons and their
  // directory choosers.
  void OnEnable(ZAFCommand* publisher, ZAFNotification* notification, void* data);
  void OnCancelQIM(ZAFCommand* publisher, ZAFNotification* notification, void* data);
  void OnSetQIMRT(ZAFCommand* publisher, ZAFNotification* notification, void* data);
  void OnSetQIM(ZAFCommand* publisher, ZAFNotification* notification, void* data);
  void OnSetMQSDir(ZAFCommand* publisher, ZAFNotification* notification, void* data);
  void OnSetNUVDir(ZAFCommand* publisher, ZAFNotification* notification, void* data);
  void OnSetMQWFDir(ZAFCommand* publisher, ZAFNotification* notification, void* data);
  void OnSetWASDir(ZAFCommand* publisher, ZAFNotification* notification, void* data);
  void OnSetJHOMEDir(ZAFCommand* publisher, ZAFNotification* notification, void* data);
  void OnBrowseQIMRT(ZAFCommand* publisher, ZAFNotification* notification, void* data);
  void OnBrowseQIM(ZAFCommand* publisher, ZAFNotification* notification, void* data);
  void OnBrowseMQS(ZAFCommand* publisher, ZAFNotification* notification, void* data);
  void OnBrowseNUV(ZAFCommand* publisher, ZAFNotification* notification, void* data);
  void OnBrowseMQWF(ZAFCommand* publisher, ZAFNotification* notification, void* data);
  void OnBrowseWAS(ZAFCommand* publisher, ZAFNotification* notification, void* data);
  void OnBrowseJHOME(ZAFCommand* publisher, ZAFNotification* notification, void* data);

  // The sixteen command tags. A tag is the address of one row; tags are compared by address.
  static const char CommandTagTable[16][16];

 protected:
  // The message `key` of the plug-in's catalog with its placeholders filled, or the key
  // itself when the catalog lacks it.
  void GetMessage(const ZAFString& key, ZAFUnicodeString& text, ZAFUnicodeString* parameters,
                  int count);
  // 1 when the editor is null or holds nothing but blanks, else 0.
  int CheckEmptyEditor(ZAFDlgEditor* editor);

  ZAFSysPreferenceRepository* Repository = nullptr;
  ZAFString CatalogName = "QimSetupPlugIn";

  // The 77 widgets, named after their resource names. The host's widget tree owns them.
  ZAFDlgTabPage* QIMSetupPage = nullptr;
  ZAFDlgFrame* QimSetupFrame = nullptr;
  ZAFDlgLabel* QIMRunTimeLabel = nullptr;
  ZAFDlgEditor* QIMRTEditor = nullptr;
  ZAFDlgPushButton* BrowseQIMRT = nullptr;
  ZAFDlgLabel* QIMInstallLabel = nullptr;
  ZAFDlgEditor* QIMEditor = nullptr;
  ZAFDlgPushButton* BrowseQIM = nullptr;
  ZAFDlgLabel* MQSLabel = nullptr;
  ZAFDlgEditor* MQSEditor = nullptr;
  ZAFDlgPushButton* BrowseMQS = nullptr;
  ZAFDlgLabel* MQWFLabel = nullptr;
  ZAFDlgEditor* MQWFEditor = nullptr;
  ZAFDlgPushButton* BrowseMQWF = nullptr;
  ZAFDlgLabel* JHOMELabel = nullptr;
  ZAFDlgEditor* JHOMEEditor = nullptr;
  ZAFDlgPushButton* BrowseJHOME = nullptr;
  ZAFDlgLabel* NUVLabel = nullptr;
  ZAFDlgEditor* NUVEditor = nullptr;
  ZAFDlgPushButton* BrowseNUV = nullptr;
  ZAFDlgLabel* WASLabel = nullptr;
  ZAFDlgEditor* WASEditor = nullptr;
  ZAFDlgPushButton* BrowseWAS = nullptr;

  ZAFDlgTabPage* QIMDatabasePage = nullptr;
  ZAFDlgCheckButton* EnableQimPlugIn = nullptr;
  ZAFDlgCheckButton* EnableCreateDatabase = nullptr;
  ZAFDlgFrame* DatabaseFrame = nullptr;
  ZAFDlgLabel* DatabaseNameLabel = nullptr;
  ZAFDlgEditor* DatabaseNameEditor = nullptr;
  ZAFDlgLabel* DatabaseHostLabel = nullptr;
  ZAFDlgEditor* DatabaseHostEditor = nullptr;
  ZAFDlgLabel* DatabasePortLabel = nullptr;
  ZAFDlgEditor* DatabasePortEditor = nullptr;
  ZAFDlgLabel* DatabaseUserLabel = nullptr;
  ZAFDlgEditor* DatabaseUserEditor = nullptr;
  ZAFDlgLabel* DatabasePasswordLabel = nullptr;
  ZAFDlgEditor* DatabasePasswordEditor = nullptr;
  ZAFDlgLabel* JndiNameLabel = nullptr;
  ZAFDlgEditor* JndiNameEditor = nullptr;

  ZAFDlgTabPage* QIMMessageQueuesPage = nullptr;
  ZAFDlgFrame* MessageQueuesFrame = nullptr;
  ZAFDlgLabel* MsqCfgLabel = nullptr;
  ZAFDlgEditor* MsqCfgEditor = nullptr;
  ZAFDlgLabel* MsqUserLabel = nullptr;
  ZAFDlgEditor* MsqUserEditor = nullptr;
  ZAFDlgLabel* MsqPassLabel = nullptr;
  ZAFDlgEditor* MsqPassEditor = nullptr;
  ZAFDlgLabel* MsqWTLabel = nullptr;
  ZAFDlgEditor* MsqWTEditor = nullptr;
  ZAFDlgLabel* SMTPLabel = nullptr;
  ZAFDlgEditor* SMTPEditor = nullptr;
  ZAFDlgLabel* NUVNavServerLabel = nullptr;
  ZAFDlgEditor* NUVNavServerEditor = nullptr;
  ZAFDlgLabel* NUVNavPortLabel = nullptr;
  ZAFDlgEditor* NUVNavPortEditor = nullptr;
  ZAFDlgLabel* NUVNavServletLabel = nullptr;
  ZAFDlgEditor* NUVNavServletEditor = nullptr;
  ZAFDlgLabel* QIMMQNameLabel = nullptr;
  ZAFDlgEditor* QIMMQNameEditor = nullptr;
  ZAFDlgLabel* QIMMQDLLabel = nullptr;
  ZAFDlgEditor* QIMMQDLEditor = nullptr;
  ZAFDlgLabel* QIMIPLabel = nullptr;
  ZAFDlgEditor* QIMIPEditor = nullptr;
  ZAFDlgLabel* QIMPortLabel = nullptr;
  ZAFDlgEditor* QIMPortEditor = nullptr;
  ZAFDlgLabel* FMCIPLabel = nullptr;
  ZAFDlgEditor* FMCIPEditor = nullptr;
  ZAFDlgLabel* FMCPortLabel = nullptr;
  ZAFDlgEditor* FMCPortEditor = nullptr;
  ZAFDlgLabel* NUVMQNameLabel = nullptr;
  ZAFDlgEditor* NUVMQNameEditor = nullptr;
  ZAFDlgLabel* NUVMQDLLabel = nullptr;
  ZAFDlgEditor* NUVMQDLEditor = nullptr;
  ZAFDlgLabel* NUVIPLabel = nullptr;
  ZAFDlgEditor* NUVIPEditor = nullptr;
  ZAFDlgLabel* NUVPortLabel = nullptr;
  ZAFDlgEditor* NUVPortEditor = nullptr;

  ZAFJdeWASDataSource DataSource;
  ZAFUnicodeString FmcJarPath;
  ZAFUnicodeString HarnessFlag;

 private:
  // True in test-harness mode.
  bool InHarnessMode() const { return HarnessFlag == "true"; }
  // Writes a trace line in test-harness mode.
  void Trace(const char* line) const;
  // True when "EnableQimPlugIn" exists and is checked.
  bool IsPlugInEnabled() const;

  // The tables of the form, defined in form/ beside the code that walks them.
  struct SettingField;
  struct FormWidget;
  struct BrowseRow;
  struct RequiredEditor;
  static const SettingField SettingFields[];
  static const FormWidget FormWidgets[];
  static const BrowseRow BrowseRows[];
  static const RequiredEditor RequiredEditors[];
  using FormCallback = void (QimSetupPlugIn::*)(ZAFCommand*, ZAFNotification*, void*);
  void CreateFormWidgets(ZAFDlgTabContainer* container);
  void RegisterFormCallbacks();
  void PlaceFormWidgets();
  void FillFormFields();
  void RunFormSelfTest();
  void OpenDirectoryChooser(FormCallback browseCallback);
  void TakeChosenDirectory(FormCallback chooseCallback, ZAFCommand* chooser);
  const RequiredEditor* FirstBlankEditor();
  void ReportInvalidField(ZAFDlgTabPage* fieldPage, const ZAFDlgLabel* label, const char* titleKey,
                          const char* textKey, ZAFDlgTabPage*& page, ZAFUnicodeString& title,
                          ZAFUnicodeString& text);

  // The command context and the branches, defined in commands/.
  struct CommandContext;
  struct CommandInputs;
  // The context of the last GetCommandString with what it was made from, so that the next
  // call with the same inputs reuses it. A copy of the plug-in starts without one.
  class CommandContextCache {
   public:
    CommandContextCache();
    CommandContextCache(const CommandContextCache& other);
    CommandContextCache& operator=(const CommandContextCache& other);
    ~CommandContextCache();

    std::unique_ptr<CommandInputs> inputs;
    std::unique_ptr<CommandContext> context;
  };
  CommandContextCache LastCommandContext;
  // The same rule opens GetCommandTags and GetCommandString: enabled, or test-harness mode.
  bool CommandsAllowed() const { return IsPlugInEnabled() || InHarnessMode(); }
  struct CommandArgument;
  struct JavaCommand;
  static const JavaCommand JavaCommands[];
  CommandContext& CurrentCommandContext();
  void FillCommandContext(const CommandInputs& inputs, CommandContext& context);
  void RunCommandBranch(int tagRow, CommandContext& context, ZAFUnicodeString& commandLine);
  void BuildFileCopyCommand(const CommandContext& context, ZAFUnicodeString& commandLine);
  void BuildEnvironmentCommand(CommandContext& context, ZAFUnicodeString& commandLine);
  void BuildAppPropertiesCommand(CommandContext& context, ZAFUnicodeString& commandLine);
  void BuildDatabaseSetupCommand(const CommandContext& context, ZAFUnicodeString& commandLine);
  void BuildTableCommand(const JavaCommand& command, CommandContext& context,
                         ZAFUnicodeString& commandLine);
};
