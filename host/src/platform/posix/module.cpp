// Dynamic modules on POSIX: dlopen, with every symbol bound at once, so that a module missing
// one fails to load instead of failing later in a call.

#include "host/platform/module.h"

#include <dlfcn.h>

namespace zaf::platform {

namespace {

std::string LoaderReason() {
  const char* reason = ::dlerror();
  return reason != nullptr ? reason : "unknown reason";
}

}  // namespace

LoadedModule::LoadedModule(const std::string& path)
    : handle_(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
  if (handle_ == nullptr) {
    error_ = LoaderReason();
  }
}

LoadedModule::~LoadedModule() {
  if (handle_ != nullptr) {
    ::dlclose(handle_);
  }
}

void* LoadedModule::Symbol(const char* name) {
  ::dlerror();
  void* symbol = ::dlsym(handle_, name);
  if (symbol == nullptr) {
    error_ = LoaderReason();
  }
  return symbol;
}

}  // namespace zaf::platform
