// The module's exports: the factory the host calls, and the marker function.

#include "plugin/QimSetupPlugIn.h"

// The load-time entry of the module. On the platform this plug-in was first written for it
// turns off per-thread attach and detach notifications; Linux sends none, so it does nothing.
__attribute__((constructor)) static void QimPlugInModuleEntry() {}

// Makes the plug-in object with the host's base allocator; null when the allocation fails.
extern "C" QIM_EXPORT WASSetupUIPlugIn* fctCreateWASSetupUIPlugIn() {
  return new QimSetupPlugIn;
}

// Marks the module as one of the product's own. Nothing calls it.
extern "C" QIM_EXPORT int CORVANTA_ZEB2_INTERNAL_QimPlugIn() {
  return 1;
}
