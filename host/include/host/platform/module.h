#pragma once
// Dynamic modules: loading one by its path and finding what it exports.

#include <string>

#include "host/zaf_export.h"

namespace zaf::platform {

// A module loaded for the life of the object. On Windows the modules it needs are searched
// beside it, beside the program and in the system folders.
class ZAF_API LoadedModule {
 public:
  // Loads the module at `path`; IsLoaded() tells whether it worked and Error() why not.
  explicit LoadedModule(const std::string& path);
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  bool IsLoaded() const { return handle_ != nullptr; }
  // The loader's reason for the last failure.
  const std::string& Error() const { return error_; }

  // The address of what the module exports as `name`, or null (Error() says why).
  void* Symbol(const char* name);

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace zaf::platform
