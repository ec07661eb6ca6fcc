#pragma once
// Settings whose value begins with '-' and reaches a script as one of its arguments: the script
// may take such an argument for an option of its own (a run-time folder "-rf" given to a copy
// script). The tool runs it as given, but says so before.

#include <string>
#include <vector>

#include "core/plan.h"
#include "core/session.h"
#include "core/setting_fields.h"

namespace wassetup {

// One line for each script argument of the plan that begins with '-', naming the setting of
// `fields` it comes from (its value shown unless the field is masked), the script and the step.
// Reads the arguments off `preview` (the plan's steps as PreviewStep shows them) when given and
// no masked value of `fields` begins with '-'; else composes the plan again in a dry run (no
// file changes).
std::vector<std::string> OptionLikeArgumentWarnings(Session& session,
                                                    const std::vector<SettingField>& fields,
                                                    const std::vector<PlanStep>* preview = nullptr);

}  // namespace wassetup
