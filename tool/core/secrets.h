#pragma once
// Keeps passwords off the screen. A value is secret because of where it comes from, the form's
// masked editors, never because of what it reads: a port that happens to equal a password is
// printed as it is. Only what the deployment's commands print, which nobody structures, is
// searched for the passwords' text.

#include <string>
#include <vector>

#include "core/dry_run.h"
#include "host/zaf_dialog.h"

namespace wassetup {

constexpr const char* kMaskedText = "********";

// The form's secret fields: its masked editors.
std::vector<ZAFDlgEditor*> MaskedEditors(ZAFDialog& root);

// While it lives, every masked editor that holds a password (not blanks only) holds a marker of
// its own instead, and the host records file changes instead of making them (a marker never
// reaches a file). Whatever the plug-in composes from the form meanwhile (command arguments, the
// data source record) carries a marker exactly where a secret field's value went, and Mask shows
// those places as ********: the password itself is never in that text. With `reveal` the editors
// keep their passwords and Mask changes nothing. The passwords are back when it ends.
class SecretMarkers {
 public:
  SecretMarkers(ZAFDialog& root, bool reveal);
  ~SecretMarkers();
  SecretMarkers(const SecretMarkers&) = delete;
  SecretMarkers& operator=(const SecretMarkers&) = delete;

  // `text` with every marker replaced by ********.
  std::string Mask(std::string text) const;
  std::vector<std::string> Mask(std::vector<std::string> texts) const;
  // The file changes recorded since the last call.
  std::vector<zaf::FileChange> TakeChanges() { return dryRun_.Take(); }

 private:
  struct Held {
    ZAFDlgEditor* editor;
    ZAFUnicodeString text;
    std::string marker;
  };

  DryRun dryRun_;
  std::vector<Held> held_;
};

// Masks the passwords in free text: what the deployment's commands print. Every occurrence of
// a password (as typed, and without blanks at the ends) becomes ********, the longest first; a
// password of blanks only is left out, since masking it would garble every line.
class PasswordScrubber {
 public:
  // With `reveal` nothing is masked.
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
