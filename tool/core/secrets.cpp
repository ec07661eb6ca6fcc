#include "core/secrets.h"

#include <algorithm>
#include <iomanip>
#include <random>
#include <sstream>

namespace wassetup {

namespace {

// Blanks alone are no password: the plug-in strips them, so the commands get an empty text.
bool HoldsPassword(const ZAFDlgEditor& editor) {
  return !editor.GetText().Strip(ZAF_STRIP_BOTH, U' ').IsEmpty();
}

// A text that no setting holds by chance: control characters around a random number.
std::string MarkerPrefix() {
  std::random_device random;
  std::ostringstream prefix;
  prefix << "\x1e"
         << "secret-" << std::hex << std::setw(8) << std::setfill('0') << random() << std::setw(8)
         << random() << '-';
  return prefix.str();
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

void CollectMasked(ZAFDialog& widget, std::vector<ZAFDlgEditor*>& editors) {
  if (auto* editor = dynamic_cast<ZAFDlgEditor*>(&widget);
      editor != nullptr && editor->IsMasked()) {
    editors.push_back(editor);
  }
  for (ZAFDialog* child : widget.GetChildren()) {
    CollectMasked(*child, editors);
  }
}

}  // namespace

std::vector<ZAFDlgEditor*> MaskedEditors(ZAFDialog& root) {
  std::vector<ZAFDlgEditor*> editors;
  CollectMasked(root, editors);
  return editors;
}

SecretMarkers::SecretMarkers(ZAFDialog& root, bool reveal) {
  if (reveal) {
    return;
  }
  const std::string prefix = MarkerPrefix();
  for (ZAFDlgEditor* editor : MaskedEditors(root)) {
    if (HoldsPassword(*editor)) {
      held_.push_back({editor, editor->GetText(), prefix + std::to_string(held_.size()) + "\x1e"});
      editor->SetText(held_.back().marker.c_str(), 1);
    }
  }
}

SecretMarkers::~SecretMarkers() {
  for (const Held& held : held_) {
    held.editor->SetText(held.text, 1);
  }
}

std::string SecretMarkers::Mask(std::string text) const {
  for (const Held& held : held_) {
    ReplaceAll(text, held.marker, kMaskedText);
  }
  return text;
}

std::vector<std::string> SecretMarkers::Mask(std::vector<std::string> texts) const {
  for (std::string& text : texts) {
    text = Mask(std::move(text));
  }
  return texts;
}

PasswordScrubber::PasswordScrubber(ZAFDialog& root, bool reveal) {
  if (reveal) {
    return;
  }
  for (const ZAFDlgEditor* editor : MaskedEditors(root)) {
    if (HoldsPassword(*editor)) {
      passwords_.push_back(editor->GetText().str());
      passwords_.push_back(editor->GetText().Strip(ZAF_STRIP_BOTH, U' ').str());
    }
  }
  std::sort(passwords_.begin(), passwords_.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() > b.size() : a < b;
  });
  passwords_.erase(std::unique(passwords_.begin(), passwords_.end()), passwords_.end());
}

const std::string* PasswordScrubber::MatchAt(const std::string& text, std::size_t at) const {
  for (const std::string& password : passwords_) {
    if (text.compare(at, password.size(), password) == 0) {
      return &password;
    }
  }
  return nullptr;
}

bool PasswordScrubber::MayGrowAt(const std::string& text, std::size_t at) const {
  const std::size_t rest = text.size() - at;
  for (const std::string& password : passwords_) {
    if (rest < password.size() && password.compare(0, rest, text, at, rest) == 0) {
      return true;
    }
  }
  return false;
}

std::string PasswordScrubber::Release(std::string& pending, bool atEnd) const {
  std::string shown;
  std::size_t at = 0;
  while (at < pending.size()) {
    if (!atEnd && MayGrowAt(pending, at)) {
      break;
    }
    if (const std::string* password = MatchAt(pending, at)) {
      shown += kMaskedText;
      at += password->size();
    } else {
      shown += pending[at++];
    }
  }
  pending.erase(0, at);
  return shown;
}

}  // namespace wassetup
