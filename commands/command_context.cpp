// The command context and the dispatch on the tag. (Not built yet: no command.)

#include "plugin/QimSetupPlugIn.h"

void QimSetupPlugIn::GetCommandString(const void* /*tag*/, ZAFUnicodeString& commandLine) {
  commandLine = "";
}
