// The plug-in object: construction, copying, destruction, message lookup, the repository and
// the small interface operations that need no subsystem of their own.

#include "QimSetupPlugIn.h"

#include <iostream>

#include "host/zaf_system.h"
#include "plugin_util.h"

namespace {

// Whether the process runs the plug-in in test-harness mode is decided once, by the first
// construction, from the environment variable "YTQ_RT_OUT": defined (whatever its value)
// means test-harness mode. This is the plug-in's only process-wide state.
bool harnessVariableRead = false;
const char* harnessVariable = nullptr;

}  // namespace

QimSetupPlugIn::QimSetupPlugIn() {
  if (!harnessVariableRead) {
    harnessVariable = ZAFGetEnv("YTQ_RT_OUT");
    harnessVariableRead = true;
  }
  HarnessFlag = harnessVariable != nullptr ? "true" : "false";
  Trace("Inside Constructor ");
}

// Copies share the widgets, the repository and the host of the original; nothing is reset and
// the environment is not read again.
QimSetupPlugIn::QimSetupPlugIn(QimSetupPlugIn& other) = default;
QimSetupPlugIn& QimSetupPlugIn::operator=(const QimSetupPlugIn& other) = default;

// The widgets belong to the host's widget tree and the repository to the host: neither is
// released here.
QimSetupPlugIn::~QimSetupPlugIn() {
  Trace("Inside destructor.... ");
}

void QimSetupPlugIn::Trace(const char* line) const {
  if (InHarnessMode()) {
    std::cout << line << std::endl;
  }
}

bool QimSetupPlugIn::IsPlugInEnabled() const {
  return qim::IsChecked(EnableQimPlugIn);
}

void QimSetupPlugIn::GetMessage(const ZAFString& key, ZAFUnicodeString& text,
                                ZAFUnicodeString* parameters, int count) {
  const ZAFUnicodeString noMessage(static_cast<const char*>(nullptr));
  text = ZAFMsgCatalog::BuildMessage(CatalogName, key, parameters, count, noMessage);
  if (text.IsNull()) {
    text = key.CastToCharPtr();
  }
}

// A repository that cannot be had is not remembered: the next call asks the host again.
ZAFSysPreferenceRepository* QimSetupPlugIn::GetPreferenceRepository() {
  if (Repository == nullptr) {
    Repository = ZAFSysPreferenceRepository::GetPreferenceRepository("QIMSetup");
  }
  return Repository;
}

void QimSetupPlugIn::GetSymbolicName(ZAFUnicodeString& name) {
  name = "QimSetup";
}

void QimSetupPlugIn::GetJavaVariables(ZAFListValZAFUnicodeString& names,
                                      ZAFListValZAFUnicodeString& values) {
  names.RemoveAll();
  values.RemoveAll();
  names.Append("ws.ext.dirs");
  values.Append(FmcJarPath);
}

// The plug-in needs neither EAR parameters nor environment variables: both leave their
// arguments exactly as the host gave them.
void QimSetupPlugIn::GetEarCreationParameters(ZAFUnicodeString& /*first*/,
                                              ZAFUnicodeString& /*second*/) {}

void QimSetupPlugIn::GetEnvironmentVariables(ZAFListValZAFUnicodeString& /*names*/,
                                             ZAFListValZAFUnicodeString& /*values*/) {}
