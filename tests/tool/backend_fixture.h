#pragma once
// The backend of `wassetup ui` on a live session with the real module and the shipped catalogs,
// in a preference folder of its own, driven as the page's calls reach it.

#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/session.h"
#include "test_support.h"
#include "ui/backend.h"

namespace qimtest {

class LiveBackendTest : public ::testing::Test {
 protected:
  LiveBackendTest();

  // The widget named `name` as the page receives it; null when the form has none.
  nlohmann::ordered_json Widget(const std::string& name);
  // The page's request naming the widget (and the text typed into it).
  nlohmann::json Request(const std::string& name, const std::string& text = "");

  TempDir dir_;
  wassetup::GlobalOptions options_;
  std::unique_ptr<wassetup::Session> session_;
  std::unique_ptr<wassetup::UiBackend> backend_;
};

}  // namespace qimtest
