#pragma once
// Runs the real wassetup binary (with the real module) in a scratch folder and captures what
// it prints.

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

namespace qimtest {

struct ToolResult {
  int status = -1;
  std::string out;
  std::string err;
};

// A scratch folder with its own preference folder; every run uses it as the working folder.
class ToolSandbox {
 public:
  ToolSandbox();

  // wassetup --prefs-dir <prefs> ARGS..., with `input` on stdin and `environment` added
  // (YTQ_RT_OUT is unset unless `environment` sets it).
  ToolResult Run(const std::vector<std::string>& arguments, const std::string& input = "",
                 const std::map<std::string, std::string>& environment = {}) const;
  // wassetup ARGS... without the sandbox's --prefs-dir.
  ToolResult RunWithoutPrefs(const std::vector<std::string>& arguments,
                             const std::string& input = "",
                             const std::map<std::string, std::string>& environment = {}) const;
  nlohmann::json RunJson(const std::vector<std::string>& arguments) const;

  std::string Path(const std::string& name) const { return dir_.File(name); }
  std::string PreferenceFile() const { return prefs_ + "/QIMSetup.prefs"; }
  const std::string& prefs() const { return prefs_; }

 private:
  TempDir dir_;
  std::string prefs_;
};

// The number of lines of `text` (its '\n' characters).
int CountLines(const std::string& text);

}  // namespace qimtest
