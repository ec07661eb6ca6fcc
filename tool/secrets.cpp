#include "tool/secrets.h"

namespace wassetup {

Secrets::Secrets(ZAFDialog& root, bool reveal) : reveal_(reveal) {
  Collect(root);
}

void Secrets::Collect(ZAFDialog& widget) {
  if (auto* editor = dynamic_cast<ZAFDlgEditor*>(&widget);
      editor != nullptr && editor->IsMasked()) {
    for (const ZAFUnicodeString& text :
         {editor->GetText(), editor->GetText().Strip(ZAF_STRIP_BOTH, U' ')}) {
      if (!text.IsEmpty()) {
        secrets_.insert(text.str());
      }
    }
  }
  for (ZAFDialog* child : widget.GetChildren()) {
    Collect(*child);
  }
}

bool Secrets::IsSecret(const std::string& text) const {
  return !reveal_ && !text.empty() && secrets_.count(text) != 0;
}

std::string Secrets::Mask(const std::string& text) const {
  return IsSecret(text) ? kMaskedText : text;
}

}  // namespace wassetup
