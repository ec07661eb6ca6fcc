// The command branches. (Not built yet.)

#include "plugin/QimSetupPlugIn.h"
