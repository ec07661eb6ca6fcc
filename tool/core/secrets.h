#pragma once
// Keeps passwords off the screen: any text equal to what a masked editor holds is shown as
// "********" unless the operator asked to see secrets.

#include <set>
#include <string>

#include "host/zaf_dialog.h"

namespace wassetup {

class Secrets {
 public:
  // Collects the texts of the masked editors below `root` (as typed and without blanks at
  // the ends). With `reveal` nothing is masked.
  Secrets(const ZAFDialog& root, bool reveal);

  // "********" when `text` is a non-empty secret, else `text`.
  std::string Mask(const std::string& text) const;
  bool IsSecret(const std::string& text) const;
  // `text` with every secret inside it replaced by "********", the longest secrets first: for
  // free text such as what a command prints, where a password may be part of a line.
  std::string MaskWithin(std::string text) const;

 private:
  // Keeps the text of a masked editor.
  void Collect(const ZAFDlgEditor& editor);

  std::set<std::string> secrets_;
  bool reveal_;
};

constexpr const char* kMaskedText = "********";

}  // namespace wassetup
