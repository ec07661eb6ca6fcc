#pragma once
// The interface between the deployment tool and its setup plug-ins: the plug-in interface
// WASSetupUIPlugIn, the host's service object WASSetupUIHost and the records they exchange.

#include <cstdint>

#include "zaf_api.h"
#include "zaf_dialog.h"
#include "zaf_list.h"
#include "zaf_string.h"

// The database the application server uses; filled by WASSetupUIHost::GetDatabaseSettings.
// All fields are empty when the record is made.
struct ZAF_API WASDatabaseSettings {
  ZAFUnicodeString DatabaseProduct;  // "IBM DB2" or "Oracle"
  ZAFUnicodeString DatabaseName;
  ZAFUnicodeString Host;
  ZAFUnicodeString Port;
  ZAFUnicodeString User;
  ZAFUnicodeString Password;
  ZAFUnicodeString DriverPath;
  ZAFUnicodeString JdbcUrl;
};

// The application server; filled by WASSetupUIHost::GetServerSettings. All strings are empty
// and both numbers 0 when the record is made.
struct ZAF_API WASServerSettings {
  ZAFUnicodeString ServerName;
  ZAFUnicodeString InstallDirectory;  // the application server's directory
  ZAFUnicodeString NuvServlet;        // the servlet of the NUV server
  ZAFUnicodeString NodeName;
  ZAFUnicodeString CellName;
  ZAFUnicodeString HostName;
  ZAFUnicodeString JavaHome;
  ZAFUnicodeString LogDirectory;
  std::int32_t AdminPort = 0;
  ZAFUnicodeString ProfileName;
  std::int32_t HttpPort = 0;
  ZAFUnicodeString ApplicationName;
};

// A JDBC data source that the host defines in the application server.
struct ZAF_API ZAFJdeWASDataSource {
  ZAFUnicodeString Host;
  ZAFUnicodeString Port;
  ZAFUnicodeString DatabaseName;
  ZAFUnicodeString User;
  ZAFUnicodeString Password;
  ZAFUnicodeString JndiName;
  ZAFUnicodeString JdbcProvider;
};

// The host's service object. Plug-ins call GetDatabaseSettings, GetServerSettings,
// BuildJavaCommand and BuildScriptCommand and read no result code; the other two operations
// serve the host itself. Every operation does nothing by default (records stay empty).
class ZAF_API WASSetupUIHost {
 public:
  virtual ~WASSetupUIHost();

  // The platform the host deploys on, for instance "windows".
  virtual int GetPlatformName(ZAFUnicodeString& platform);
  virtual int GetDatabaseSettings(WASDatabaseSettings& settings);
  virtual int GetServerSettings(WASServerSettings& settings);
  // Writes a status line of the deployment where the host shows them.
  virtual int ShowStatus(const ZAFUnicodeString& text);
  // Writes into `commandLine` the command that runs the Java class with the options and the
  // arguments, each piece one argument.
  virtual int BuildJavaCommand(const ZAFListValZAFUnicodeString& options,
                               const ZAFUnicodeString& className,
                               const ZAFListValZAFUnicodeString& arguments,
                               ZAFUnicodeString& commandLine);
  // Writes into `commandLine` the command that runs the script with the arguments.
  virtual int BuildScriptCommand(const ZAFUnicodeString& script,
                                 const ZAFListValZAFUnicodeString& arguments,
                                 ZAFUnicodeString& commandLine);
};

// The interface every setup plug-in implements. The host makes the plug-in with the module's
// factory, sets its host pointer and calls the twelve operations from its one user-interface
// thread. Operations that produce a whole list empty it first.
class ZAF_API WASSetupUIPlugIn : public ZAFCommand {
 public:
  WASSetupUIPlugIn();
  WASSetupUIPlugIn(const WASSetupUIPlugIn& other);
  WASSetupUIPlugIn& operator=(const WASSetupUIPlugIn& other);
  ~WASSetupUIPlugIn() override;

  // The host sets its service object before the first operation that uses it; null means none.
  void SetHost(WASSetupUIHost* host) { Host = host; }
  WASSetupUIHost* GetHost() const { return Host; }

  virtual void BuildUserInterface(ZAFDlgTabContainer* container) = 0;
  virtual void ValidateUserInputData(ZAFDlgTabPage*& page, ZAFUnicodeString& title,
                                     ZAFUnicodeString& text) = 0;
  virtual void GetCommandTags(ZAFRawCollPV& tags) = 0;
  virtual void GetCommandString(const void* tag, ZAFUnicodeString& commandLine) = 0;
  virtual void GetCommandErrorMessage(const void* tag, int status, const ZAFUnicodeString& detail,
                                      ZAFUnicodeString& title, ZAFUnicodeString& text) = 0;
  virtual void GetSymbolicName(ZAFUnicodeString& name) = 0;
  virtual void SetUserInterfaceFields(const ZAFListValZAFUnicodeString& keys,
                                      const ZAFListValZAFUnicodeString& values) = 0;
  virtual void GetUserInterfaceFields(ZAFListValZAFUnicodeString& keys,
                                      ZAFListValZAFUnicodeString& values) = 0;
  virtual void GetEarCreationParameters(ZAFUnicodeString& first, ZAFUnicodeString& second) = 0;
  virtual void GetEnvironmentVariables(ZAFListValZAFUnicodeString& names,
                                       ZAFListValZAFUnicodeString& values) = 0;
  virtual void GetJavaVariables(ZAFListValZAFUnicodeString& names,
                                ZAFListValZAFUnicodeString& values) = 0;
  virtual void GetDataSourceSettings(ZAFJdeWASDataSource*& dataSource, int& count) = 0;

 protected:
  WASSetupUIHost* Host = nullptr;
};

// The module's factory, exported under this plain name.
extern "C" {
using WASSetupUIPlugInFactory = WASSetupUIPlugIn* (*)();
}
constexpr const char* kWASSetupUIPlugInFactoryName = "fctCreateWASSetupUIPlugIn";
