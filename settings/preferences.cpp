// The settings in the host's preference repository. (Not built yet: both fail.)

#include "plugin/QimSetupPlugIn.h"

long QimSetupPlugIn::WritePrefToRepository(const ZAFListValZAFUnicodeString& /*keys*/,
                                           const ZAFListValZAFUnicodeString& /*values*/) {
  return QIM_E_FAIL;
}

long QimSetupPlugIn::ReadPrefFromRepository(ZAFListValZAFUnicodeString& /*keys*/,
                                            ZAFListValZAFUnicodeString& /*values*/) {
  return QIM_E_FAIL;
}
