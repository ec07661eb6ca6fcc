#include "ui/embedded_page.h"

namespace wassetup {

namespace {

// Replaces the first `marker` in `text` with `content`, which is not searched again.
void ReplaceFirst(std::string& text, const std::string& marker, const std::string& content) {
  const std::size_t at = text.find(marker);
  if (at != std::string::npos) {
    text.replace(at, marker.size(), content);
  }
}

}  // namespace

std::string UiPageFileText(const std::string& name) {
  for (std::size_t index = 0; index < kUiPageFileCount; ++index) {
    if (name == kUiPageFiles[index].name) {
      return std::string(reinterpret_cast<const char*>(kUiPageFiles[index].data),
                         kUiPageFiles[index].size);
    }
  }
  return "";
}

std::string UiPageDocument(const std::string& nonce) {
  std::string page = UiPageFileText("index.html");
  for (std::size_t at; (at = page.find("@NONCE@")) != std::string::npos;) {
    page.replace(at, 7, nonce);
  }
  ReplaceFirst(page, "/*@STYLE@*/", UiPageFileText("style.css"));
  ReplaceFirst(page, "/*@SCRIPT@*/", UiPageFileText("app.js"));
  return page;
}

std::string UiPageSecurityPolicy(const std::string& nonce) {
  return "default-src 'none'; script-src 'nonce-" + nonce + "'; style-src 'nonce-" + nonce +
         "'; connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'; "
         "frame-ancestors 'none'";
}

}  // namespace wassetup
