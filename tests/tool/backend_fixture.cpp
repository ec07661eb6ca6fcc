#include "backend_fixture.h"

#include <cstdint>
#include <vector>

namespace qimtest {

void LiveSessionTest::Open() {
  backend_.reset();
  session_.reset();
  options_.pluginPath = QIM_MODULE_PATH;
  options_.catalogDir = QIM_SOURCE_CATALOG_DIR;
  options_.prefsDir = sandbox_.Path("prefs");
  session_ = std::make_unique<wassetup::Session>(options_, wassetup::Access::kChange);
  backend_ = std::make_unique<wassetup::UiBackend>(*session_);
}

void LiveSessionTest::MakeValid(const std::map<std::string, std::string>& changes) {
  std::vector<std::string> keys, texts;
  for (const auto& [key, value] : ValidSettings(sandbox_.Folder(), changes)) {
    keys.push_back(key);
    texts.push_back(value);
  }
  session_->plugin().SetUserInterfaceFields(MakeList(keys), MakeList(texts));
}

nlohmann::ordered_json LiveSessionTest::Widget(const std::string& name) {
  const nlohmann::ordered_json form = backend_->Form().body;
  for (const nlohmann::ordered_json& widget : form["widgets"]) {
    if (widget["name"] == name) {
      return widget;
    }
  }
  return nullptr;
}

nlohmann::json LiveSessionTest::Request(const std::string& name, const std::string& text) {
  return {{"id", Widget(name)["id"].get<std::uint64_t>()}, {"text", text}};
}

}  // namespace qimtest
