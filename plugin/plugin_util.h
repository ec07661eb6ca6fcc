#pragma once
// Small helpers that the plug-in's subsystems share: editor texts, check states and joins.

#include "host/zaf_dialog.h"
#include "host/zaf_string.h"

namespace qim {

// The editor's text without blanks at either end; the empty text for a missing editor.
ZAFUnicodeString StrippedText(const ZAFDlgEditor* editor);

// True when the check button exists and is checked.
bool IsChecked(const ZAFDlgCheckButton* button);

// The host's join of a directory and a name (ZAFMakePath), copied into a string of our own.
ZAFUnicodeString JoinPath(const ZAFUnicodeString& directory, const ZAFUnicodeString& name);
// The same for a name given as a literal, without making a string of it first.
ZAFUnicodeString JoinPath(const ZAFUnicodeString& directory, const char* name);

// The text between two apostrophes, nothing inside escaped.
ZAFUnicodeString Quoted(const ZAFUnicodeString& text);

}  // namespace qim
