#include "backend_fixture.h"

#include <cstdint>

namespace qimtest {

LiveBackendTest::LiveBackendTest() {
  options_.pluginPath = QIM_MODULE_PATH;
  options_.catalogDir = QIM_SOURCE_CATALOG_DIR;
  options_.prefsDir = dir_.File("prefs");
  session_ = std::make_unique<wassetup::Session>(options_, wassetup::Access::kChange);
  backend_ = std::make_unique<wassetup::UiBackend>(*session_);
}

nlohmann::ordered_json LiveBackendTest::Widget(const std::string& name) {
  const nlohmann::ordered_json form = backend_->Form().body;
  for (const nlohmann::ordered_json& widget : form["widgets"]) {
    if (widget["name"] == name) {
      return widget;
    }
  }
  return nullptr;
}

nlohmann::json LiveBackendTest::Request(const std::string& name, const std::string& text) {
  return {{"id", Widget(name)["id"].get<std::uint64_t>()}, {"text", text}};
}

}  // namespace qimtest
