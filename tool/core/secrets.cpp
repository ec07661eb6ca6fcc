#include "core/secrets.h"

#include <algorithm>
#include <vector>

namespace wassetup {

Secrets::Secrets(const ZAFDialog& root, bool reveal) : reveal_(reveal) {
  root.ForEachDescendantOfType<ZAFDlgEditor>([this](const ZAFDlgEditor& editor) {
    if (editor.IsMasked()) {
      Collect(editor);
    }
  });
}

void Secrets::Collect(const ZAFDlgEditor& editor) {
  // A password of blanks only is left out: it cannot be told from the blanks of a message,
  // and masking those would garble every line.
  const ZAFUnicodeString stripped = editor.GetText().Strip(ZAF_STRIP_BOTH, U' ');
  if (!stripped.IsEmpty()) {
    secrets_.insert(editor.GetText().str());
    secrets_.insert(stripped.str());
  }
}

bool Secrets::IsSecret(const std::string& text) const {
  return !reveal_ && !text.empty() && secrets_.count(text) != 0;
}

std::string Secrets::Mask(const std::string& text) const {
  return IsSecret(text) ? kMaskedText : text;
}

std::string Secrets::MaskWithin(std::string text) const {
  if (reveal_) {
    return text;
  }
  std::vector<std::string> longestFirst(secrets_.begin(), secrets_.end());
  std::stable_sort(longestFirst.begin(), longestFirst.end(),
                   [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& secret : longestFirst) {
    for (std::size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + std::char_traits<char>::length(kMaskedText))) {
      text.replace(at, secret.size(), kMaskedText);
    }
  }
  return text;
}

}  // namespace wassetup
