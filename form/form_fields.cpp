// Field transfer between the key and value lists and the widgets of the form.
// (Not built yet: both operations do nothing.)

#include "plugin/QimSetupPlugIn.h"

void QimSetupPlugIn::SetUserInterfaceFields(const ZAFListValZAFUnicodeString& /*keys*/,
                                            const ZAFListValZAFUnicodeString& /*values*/) {}

void QimSetupPlugIn::GetUserInterfaceFields(ZAFListValZAFUnicodeString& /*keys*/,
                                            ZAFListValZAFUnicodeString& /*values*/) {}
