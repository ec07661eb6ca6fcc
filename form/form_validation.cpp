// Validation of the operator's input. (Not built yet: every input counts as valid.)

#include "plugin/QimSetupPlugIn.h"

void QimSetupPlugIn::ValidateUserInputData(ZAFDlgTabPage*& page, ZAFUnicodeString& /*title*/,
                                           ZAFUnicodeString& /*text*/) {
  page = nullptr;
}

int QimSetupPlugIn::CheckEmptyEditor(ZAFDlgEditor* /*editor*/) { return 0; }
