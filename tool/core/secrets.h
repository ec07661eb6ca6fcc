#pragma once
// Keeps passwords off the screen. A value is secret because of where it comes from, the form's
// masked editors, never because of what it reads: a port that happens to equal a password is
// printed as it is. Only what the deployment's commands print, which nobody structures, is
// searched for the passwords' text.

#include <cstddef>
#include <string>
#include <vector>

#include "host/zaf_dialog.h"

namespace wassetup {

constexpr const char* kMaskedText = "********";

// The one masking rule: a secret value shows as ******** when it holds more than blanks, else as
// nothing; with `reveal`, and for a value that is no secret, it shows as it is.
std::string Shown(const std::string& value, bool secret, bool reveal);

// The form's secret fields: its masked editors, in creation order.
std::vector<ZAFDlgEditor*> MaskedEditors(ZAFDialog& root);

// The editor's text as the operator may see it (Shown, secret when the editor is masked).
std::string ShownText(const ZAFDlgEditor& editor, bool reveal);

// The tool's one marker scheme: texts that no setting holds by chance (a control character, a
// random number new to each set, the marker's number and the control character again). The tool
// puts them where the value of a field goes and reads back where the plug-in put them, so that it
// learns what comes from which field without looking at any value.
class Markers {
 public:
  explicit Markers(std::size_t count);

  std::size_t size() const { return markers_.size(); }
  const std::string& operator[](std::size_t index) const { return markers_[index]; }
  // The number of the marker that `text` is, or npos.
  std::size_t IndexOf(const std::string& text) const;
  // `text` with every marker replaced by ********.
  std::string Masked(std::string text) const;

 private:
  std::string prefix_;
  std::vector<std::string> markers_;
};

// While it lives, each of `editors` that holds a password (not blanks only) holds a marker of its
// own instead. Whatever the plug-in composes from the form meanwhile (command arguments, the data
// source record) carries a marker exactly where a secret field's value went, and Mask shows those
// places as ********: the password itself is never in that text. With `reveal` the editors keep
// their passwords and Mask changes nothing. The passwords are back when it ends.
class SecretMarkers {
 public:
  SecretMarkers(const std::vector<ZAFDlgEditor*>& editors, bool reveal);
  ~SecretMarkers();
  SecretMarkers(const SecretMarkers&) = delete;
  SecretMarkers& operator=(const SecretMarkers&) = delete;

  // Whether any editor holds a marker: else Mask changes nothing.
  bool Any() const { return !held_.empty(); }
  std::string Mask(std::string text) const;

 private:
  struct Held {
    ZAFDlgEditor* editor;
    ZAFUnicodeString text;
  };

  std::vector<Held> held_;
  Markers markers_;
};

// Masks the passwords in free text: what the deployment's commands print. Every occurrence of
// a password (as typed, and without blanks at the ends) becomes ********, the longest first; a
// password of blanks only is left out, since masking it would garble every line.
class PasswordScrubber {
 public:
  // The passwords the masked editors below `root` hold; with `reveal` nothing is masked.
  PasswordScrubber(ZAFDialog& root, bool reveal);

  // Takes from `pending` (output not shown yet) what can be shown now, masked, and leaves the
  // end that may still grow into a password, so that one written across two reads, or across
  // lines, is masked too. With `atEnd` it takes everything.
  std::string Release(std::string& pending, bool atEnd) const;

 private:
  // The longest password that `text` holds whole at `at`, or null.
  const std::string* MatchAt(const std::string& text, std::size_t at) const;
  // The end of `text` from `at` is the beginning of a longer password.
  bool MayGrowAt(const std::string& text, std::size_t at) const;

  std::vector<std::string> passwords_;  // longest first
};

}  // namespace wassetup
