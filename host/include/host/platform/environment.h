#pragma once
// The process environment, in UTF-8: on Windows the variables are read and set as UTF-16, so
// values outside ASCII come back as they were set, and their names ignore letter case there.

#include <optional>
#include <string>

#include "host/zaf_export.h"

namespace zaf::platform {

// The value of the environment variable `name`, or null when it is not defined. The text
// stays valid until the variable is set again (on Windows, for the life of the process).
ZAF_API const char* EnvironmentValue(const char* name);

// Sets the variable `name` to `value`, or removes it when there is no value; false when the
// system refused.
ZAF_API bool SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value);

}  // namespace zaf::platform
