#include "core/plugin_loader.h"

#include "host/platform/files.h"

namespace wassetup {

LoadedPlugIn::LoadedPlugIn(const std::string& path) {
  // The loader reads whatever it is given: a FIFO would block it until some writer came.
  using Kind = zaf::platform::PathStatus::Kind;
  const Kind kind = zaf::platform::StatusOfPath(path, true).kind;
  if (kind == Kind::kFolder || kind == Kind::kOther) {
    throw ToolError("cannot load plug-in module '" + path + "': " +
                    (kind == Kind::kFolder ? "it is a folder" : "it is not a regular file"));
  }
  auto module = std::make_unique<zaf::platform::LoadedModule>(path);
  if (!module->IsLoaded()) {
    throw ToolError("cannot load plug-in module '" + path + "': " + module->Error());
  }
  void* symbol = module->Symbol(kWASSetupUIPlugInFactoryName);
  if (symbol == nullptr) {
    throw ToolError("'" + path + "' is not a setup plug-in: it has no " +
                    kWASSetupUIPlugInFactoryName + " (" + module->Error() + ")");
  }
  auto factory = reinterpret_cast<WASSetupUIPlugInFactory>(symbol);
  plugin_ = factory();
  if (plugin_ == nullptr) {
    throw ToolError("the factory of '" + path + "' made no plug-in object (out of memory?)");
  }
  module_ = std::move(module);
}

// The plug-in's destructor is code of the module, so the module stays loaded until it ran.
LoadedPlugIn::~LoadedPlugIn() {
  delete plugin_;
  module_.reset();
}

}  // namespace wassetup
