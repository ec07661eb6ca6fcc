// The baseline of `wassetup plan` as a whole process: loads the plug-in module as the tool
// does, makes the plug-in through the factory, prints N lines and ends. What `wassetup plan`
// takes beyond this is the tool's and the plug-in's own work.
//
// Usage: load_only [LINES [MODULE]]  (24 lines and the module beside the program by default)

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "host/was_setup.h"

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::atoi(argv[1]) : 24;
  std::string module;
  if (argc > 2) {
    module = argv[2];
  } else {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    module = program.parent_path().string() + "/" QIM_BIN_TO_MODULE_DIR "/QimPlugIn.so";
  }
  void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::cerr << "load_only: " << dlerror() << '\n';
    return 2;
  }
  auto factory =
      reinterpret_cast<WASSetupUIPlugInFactory>(dlsym(handle, kWASSetupUIPlugInFactoryName));
  WASSetupUIPlugIn* plugin = factory != nullptr ? factory() : nullptr;
  if (plugin == nullptr) {
    std::cerr << "load_only: " << module << " made no plug-in\n";
    return 2;
  }
  for (int number = 1; number <= lines; ++number) {
    std::cout << "  " << number << ". a line as long as a short command of the plan\n";
  }
  delete plugin;
  dlclose(handle);
  return 0;
}
