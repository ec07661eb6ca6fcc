#pragma once
// Loads a setup plug-in module and makes its plug-in object through the exported factory.

#include <memory>
#include <string>

#include "core/tool_error.h"
#include "host/platform/module.h"
#include "host/was_setup.h"

namespace wassetup {

// A loaded module and the one plug-in object it made. The plug-in is destroyed before the
// module is unloaded.
class LoadedPlugIn {
 public:
  // Loads `path`, finds the factory and makes the plug-in. Throws ToolError (exit status 2),
  // each failure with its own message naming `path`: the module does not load, has no factory, or
  // the factory makes nothing.
  explicit LoadedPlugIn(const std::string& path);
  ~LoadedPlugIn();
  LoadedPlugIn(const LoadedPlugIn&) = delete;
  LoadedPlugIn& operator=(const LoadedPlugIn&) = delete;

  WASSetupUIPlugIn& plugin() { return *plugin_; }

 private:
  std::unique_ptr<zaf::platform::LoadedModule> module_;
  WASSetupUIPlugIn* plugin_ = nullptr;
};

}  // namespace wassetup
