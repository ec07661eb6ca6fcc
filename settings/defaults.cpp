// The installation defaults. (Not built yet: appends nothing.)

#include "plugin/QimSetupPlugIn.h"

void QimSetupPlugIn::ReadDefaults(ZAFListValZAFUnicodeString& /*keys*/,
                                  ZAFListValZAFUnicodeString& /*values*/,
                                  ZAFUnicodeString /*platform*/) {}
