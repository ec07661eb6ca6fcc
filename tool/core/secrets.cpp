#include "core/secrets.h"

#include <algorithm>
#include <cstdint>

#include "host/platform/random.h"

namespace wassetup {

namespace {

// Blanks alone are no password: the plug-in strips them, so the commands get an empty text.
bool HoldsMoreThanBlanks(const std::string& text) {
  return text.find_first_not_of(' ') != std::string::npos;
}

bool HoldsPassword(const ZAFDlgEditor& editor) {
  return HoldsMoreThanBlanks(editor.GetText().str());
}

constexpr char kMarkerEnd = '\x1e';

// A text that no setting holds by chance: a control character and 64 random bits from the
// system.
std::string MarkerPrefix() {
  const std::uint64_t random = zaf::platform::RandomBits();
  std::string prefix = std::string(1, kMarkerEnd) + "marker-";
  for (int shift = 60; shift >= 0; shift -= 4) {
    prefix += "0123456789abcdef"[(random >> shift) & 0xF];
  }
  return prefix + '-';
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// The password style is looked at first: it costs less than the cast, which fails for most
// widgets.
void CollectMasked(ZAFDialog& widget, std::vector<ZAFDlgEditor*>& editors) {
  if ((widget.GetStyle() & ZAF_STYLE_PASSWORD) != 0) {
    if (auto* editor = dynamic_cast<ZAFDlgEditor*>(&widget);
        editor != nullptr && editor->IsMasked()) {
      editors.push_back(editor);
    }
  }
  for (ZAFDialog* child : widget.GetChildren()) {
    CollectMasked(*child, editors);
  }
}

}  // namespace

std::string Shown(const std::string& value, bool secret, bool reveal) {
  if (reveal || !secret) {
    return value;
  }
  return HoldsMoreThanBlanks(value) ? kMaskedText : "";
}

std::vector<ZAFDlgEditor*> MaskedEditors(ZAFDialog& root) {
  std::vector<ZAFDlgEditor*> editors;
  CollectMasked(root, editors);
  return editors;
}

std::string ShownText(const ZAFDlgEditor& editor, bool reveal) {
  return Shown(editor.GetText().str(), editor.IsMasked(), reveal);
}

Markers::Markers(std::size_t count) : prefix_(count > 0 ? MarkerPrefix() : std::string()) {
  markers_.reserve(count);
  for (std::size_t index = 0; index < count; ++index) {
    std::string marker = prefix_;
    marker += std::to_string(index);
    marker += kMarkerEnd;
    markers_.push_back(std::move(marker));
  }
}

std::size_t Markers::IndexOf(const std::string& text) const {
  if (prefix_.empty() || text.size() <= prefix_.size() + 1 || text.back() != kMarkerEnd ||
      text.compare(0, prefix_.size(), prefix_) != 0) {
    return std::string::npos;
  }
  std::size_t index = 0;
  for (std::size_t at = prefix_.size(); at + 1 < text.size(); ++at) {
    if (text[at] < '0' || text[at] > '9') {
      return std::string::npos;
    }
    index = index * 10 + static_cast<std::size_t>(text[at] - '0');
  }
  return index < markers_.size() && markers_[index] == text ? index : std::string::npos;
}

std::string Markers::Masked(std::string text) const {
  if (prefix_.empty() || text.find(prefix_) == std::string::npos) {
    return text;
  }
  for (const std::string& marker : markers_) {
    ReplaceAll(text, marker, kMaskedText);
  }
  return text;
}

namespace {

std::vector<ZAFDlgEditor*> HoldingPasswords(const std::vector<ZAFDlgEditor*>& editors,
                                            bool reveal) {
  std::vector<ZAFDlgEditor*> holding;
  for (ZAFDlgEditor* editor : editors) {
    if (!reveal && HoldsPassword(*editor)) {
      holding.push_back(editor);
    }
  }
  return holding;
}

}  // namespace

SecretMarkers::SecretMarkers(const std::vector<ZAFDlgEditor*>& editors, bool reveal)
    : markers_(HoldingPasswords(editors, reveal).size()) {
  for (ZAFDlgEditor* editor : HoldingPasswords(editors, reveal)) {
    held_.push_back({editor, editor->GetText()});
    editor->SetText(markers_[held_.size() - 1].c_str(), 1);
  }
}

SecretMarkers::~SecretMarkers() {
  for (const Held& held : held_) {
    held.editor->SetText(held.text, 1);
  }
}

std::string SecretMarkers::Mask(std::string text) const {
  return markers_.Masked(std::move(text));
}

PasswordScrubber::PasswordScrubber(ZAFDialog& root, bool reveal) {
  for (const ZAFDlgEditor* editor : HoldingPasswords(MaskedEditors(root), reveal)) {
    passwords_.push_back(editor->GetText().str());
    passwords_.push_back(editor->GetText().Strip(ZAF_STRIP_BOTH, U' ').str());
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
