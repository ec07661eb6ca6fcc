// The default host service object (every operation does nothing) and the plug-in base.

#include "host/was_setup.h"

WASSetupUIHost::~WASSetupUIHost() = default;

int WASSetupUIHost::GetPlatformName(ZAFUnicodeString& /*platform*/) {
  return 0;
}

int WASSetupUIHost::GetDatabaseSettings(WASDatabaseSettings& /*settings*/) {
  return 0;
}

int WASSetupUIHost::GetServerSettings(WASServerSettings& /*settings*/) {
  return 0;
}

int WASSetupUIHost::ShowStatus(const ZAFUnicodeString& /*text*/) {
  return 0;
}

int WASSetupUIHost::BuildJavaCommand(const ZAFListValZAFUnicodeString& /*options*/,
                                     const ZAFUnicodeString& /*className*/,
                                     const ZAFListValZAFUnicodeString& /*arguments*/,
                                     ZAFUnicodeString& /*commandLine*/) {
  return 0;
}

int WASSetupUIHost::BuildScriptCommand(const ZAFUnicodeString& /*script*/,
                                       const ZAFListValZAFUnicodeString& /*arguments*/,
                                       ZAFUnicodeString& /*commandLine*/) {
  return 0;
}

WASSetupUIPlugIn::WASSetupUIPlugIn() : ZAFCommand(nullptr, ZAFString()) {}

WASSetupUIPlugIn::WASSetupUIPlugIn(const WASSetupUIPlugIn& other)
    : ZAFCommand(other), Host(other.Host) {}

WASSetupUIPlugIn& WASSetupUIPlugIn::operator=(const WASSetupUIPlugIn& other) {
  if (this != &other) {
    ZAFCommand::operator=(other);
    Host = other.Host;
  }
  return *this;
}

WASSetupUIPlugIn::~WASSetupUIPlugIn() = default;
