#include "core/plugin_loader.h"

#include <dlfcn.h>
#include <sys/stat.h>

namespace wassetup {

namespace {

std::string LoaderReason() {
  const char* reason = dlerror();
  return reason != nullptr ? reason : "unknown reason";
}

}  // namespace

LoadedPlugIn::LoadedPlugIn(const std::string& path) {
  // dlopen reads whatever it is given: a FIFO would block it until some writer came.
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    throw ToolError("cannot load plug-in module '" + path + "': " +
                    (S_ISDIR(status.st_mode) ? "it is a folder" : "it is not a regular file"));
  }
  module_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module_ == nullptr) {
    throw ToolError("cannot load plug-in module '" + path + "': " + LoaderReason());
  }
  dlerror();
  void* symbol = dlsym(module_, kWASSetupUIPlugInFactoryName);
  if (symbol == nullptr) {
    const std::string reason = LoaderReason();
    dlclose(module_);
    throw ToolError("'" + path + "' is not a setup plug-in: it has no " +
                    kWASSetupUIPlugInFactoryName + " (" + reason + ")");
  }
  auto factory = reinterpret_cast<WASSetupUIPlugInFactory>(symbol);
  plugin_ = factory();
  if (plugin_ == nullptr) {
    dlclose(module_);
    throw ToolError("the factory of '" + path + "' made no plug-in object (out of memory?)");
  }
}

// The plug-in's destructor is code of the module, so the module stays loaded until it ran.
LoadedPlugIn::~LoadedPlugIn() {
  delete plugin_;
  dlclose(module_);
}

}  // namespace wassetup
