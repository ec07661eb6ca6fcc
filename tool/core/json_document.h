#pragma once
// What every JSON document of the tool shares.

namespace wassetup {

// The "format_version" of every document the tool writes (show, get, validate, plan, deploy
// and the dialog's form). It changes when a field changes meaning or goes away.
constexpr const char* kFormatVersion = "1.0";

}  // namespace wassetup
