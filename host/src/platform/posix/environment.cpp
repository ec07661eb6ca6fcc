// The process environment on POSIX: the C library's, whose texts are already the bytes the
// host uses.

#include "host/platform/environment.h"

#include <cstdlib>

namespace zaf::platform {

const char* EnvironmentValue(const char* name) {
  return std::getenv(name);
}

bool SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value) {
  return (value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str())) == 0;
}

}  // namespace zaf::platform
