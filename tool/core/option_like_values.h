#pragma once
// Settings whose value begins with '-' and reaches a script as one of its arguments: the script
// may take such an argument for an option of its own (a run-time folder "-rf" given to a copy
// script). The tool runs it as given, but says so before.

#include <string>
#include <vector>

#include "core/session.h"

namespace wassetup {

// One line for each script argument of the plan that begins with '-', naming the setting it
// comes from (its value shown unless the field is masked), the script and the step. Composes
// the plan in a dry run: no file changes.
std::vector<std::string> OptionLikeArgumentWarnings(Session& session);

}  // namespace wassetup
