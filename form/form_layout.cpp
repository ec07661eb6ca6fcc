// The three tab pages of the form. (Not built yet: does nothing.)

#include "plugin/QimSetupPlugIn.h"

void QimSetupPlugIn::BuildUserInterface(ZAFDlgTabContainer* /*container*/) {}
