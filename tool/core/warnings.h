#pragma once
// What the operator should know before trusting the plan, read off the form's model: a database
// product the plug-in does not know, folder settings written in the path form the joins do not
// use, and settings whose value begins with '-' and reaches a script's arguments, where the
// script may take it for an option of its own (a run-time folder "-rf" given to a copy script).
// The tool runs the plan as it is, but says so before.

#include <string>
#include <vector>

#include "core/plan.h"
#include "core/session.h"

namespace wassetup {

// One line for an unknown product: the known products, and the commands the plug-in leaves out
// of the plan with this product. Nothing for a known product.
std::vector<std::string> UnknownProductWarnings(const FormModel& model);

// One line per folder setting written with the separator that the joins do not use (a Windows
// folder with --separator /, a Unix one with the default \): its commands would mix both forms.
// Then one line for each script argument of the plan that begins with '-', naming the setting
// it comes from (its value shown unless the field is masked), the script and the step. The
// arguments are read off `preview` (the plan's steps as PreviewStep shows them) when given and
// no masked value begins with '-'; else the plan is composed again in the host's record. No
// value that begins with '-', blanks aside, composes nothing.
std::vector<std::string> SettingWarnings(Session& session,
                                         const std::vector<Step>* preview = nullptr);

}  // namespace wassetup
