// The module's exports: the factory the host calls, and the marker function.

#include "QimSetupPlugIn.h"

// The module's load-time entry. It does nothing: the module wants no notification when a
// thread of the host starts or ends, and the Linux loader sends none to turn off.
__attribute__((constructor)) static void QimPlugInModuleEntry() {}

// Makes the plug-in object with the host's base allocator; null when the allocation fails.
extern "C" QIM_EXPORT WASSetupUIPlugIn* fctCreateWASSetupUIPlugIn() {
  return new QimSetupPlugIn;
}

// Marks the module as one of the product's own. Nothing calls it.
extern "C" QIM_EXPORT int CORVANTA_ZEB2_INTERNAL_QimPlugIn() {
  return 1;
}
