#pragma once
// The text form of a preference file "<name>.prefs", read by ParsePreferences and written by
// SerializePreferences.
//
// The file is UTF-8 text of lines that each end with "\n". The first line names the format
// and its version; each further line holds one preference: its kind ("int" or "text"), its
// name in double quotes, the number of values, then the values, all separated by one blank:
//
//   zaf-preferences 1
//   int "count" 1 2
//   text "Keys" 2 "QIMRunTimeDir" "Path with \"quotes\" and a \\"
//   text "Values" 2 "  blanks kept  " "two\nlines\tand é"
//
// - Names and texts are quoted. Inside the quotes, "\\" is a backslash, "\"" a double quote,
//   "\n", "\t" and "\r" those control characters, "\u00XX" (two hexadecimal digits, 00 to 7F)
//   any other ASCII character, and "\xHH" (80 to FF) a byte that is not part of valid UTF-8,
//   so that any byte string survives. Other characters, non-ASCII UTF-8 included, stand as
//   they are; raw control characters are not allowed.
// - Integers are decimal, optionally negative, without leading zeros or '+', within int.
// - Lines are written in the order of the names.
// Reading is strict: a bad header or version, an unknown kind, a bad escape or number, an
// unterminated quote, a count that does not match the values, a repeated name, invalid UTF-8,
// an empty line, a missing final "\n" or anything after the last value refuses the whole file.

#include <optional>
#include <string>
#include <string_view>

#include "host/zaf_api.h"
#include "host/zaf_host.h"

namespace zaf {

// The preferences of `text`, or nothing with `error` set to a one-line reason that names the
// line ("line 3: unterminated quote").
ZAF_API std::optional<PreferenceMap> ParsePreferences(std::string_view text, std::string& error);

// The file text of `preferences`; ParsePreferences gives them back exactly.
ZAF_API std::string SerializePreferences(const PreferenceMap& preferences);

}  // namespace zaf
