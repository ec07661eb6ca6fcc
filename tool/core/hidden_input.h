#pragma once
// Reading a secret from the terminal without showing it (the platform layer's console).

#include "host/platform/console.h"

namespace wassetup {

using zaf::platform::ReadLineHidden;

}  // namespace wassetup
