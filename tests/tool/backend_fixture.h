#pragma once
// A live session with the real module and the shipped catalogs, on the preference folder of a
// tool sandbox (so that command-line runs share it), and the backend of `wassetup ui` on it,
// driven as the page's calls reach it.

#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/session.h"
#include "tool_runner.h"
#include "ui/backend.h"

namespace qimtest {

class LiveSessionTest : public ::testing::Test {
 protected:
  LiveSessionTest() { Open(); }

  // Opens a new session with `options_` as they are now, and its backend.
  void Open();
  // Puts settings the plug-in finds valid into the live form (the run-time folder is the
  // sandbox's), each of `changes` in place of the one for its key.
  void MakeValid(const std::map<std::string, std::string>& changes = {});
  // The widget named `name` as the page receives it; null when the form has none.
  nlohmann::ordered_json Widget(const std::string& name);
  // The page's request naming the widget (and the text typed into it).
  nlohmann::json Request(const std::string& name, const std::string& text = "");

  ToolSandbox sandbox_;
  wassetup::GlobalOptions options_;
  std::unique_ptr<wassetup::Session> session_;
  std::unique_ptr<wassetup::UiBackend> backend_;
};

}  // namespace qimtest
