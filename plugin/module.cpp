// The module's exports: the factory the host calls, and the marker function. The load-time
// entry lies beside, in platform/ (one for each system).

#include "QimSetupPlugIn.h"

// Makes the plug-in object with the host's base allocator; null when the allocation fails.
extern "C" QIM_EXPORT WASSetupUIPlugIn* fctCreateWASSetupUIPlugIn() {
  return new QimSetupPlugIn;
}

// Marks the module as one of the product's own. Nothing calls it.
extern "C" QIM_EXPORT int CORVANTA_ZEB2_INTERNAL_QimPlugIn() {
  return 1;
}
