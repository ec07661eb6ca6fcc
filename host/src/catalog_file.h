#pragma once
// The text form of a catalog file "<name>.cat", read by ParseCatalog.
//
// The file is UTF-8 text, one entry a line:
//
//   # Tab pages                     <- a comment: '#' first, after optional blanks
//   QIMSetupPage.Title = QIM Setup  <- an entry: key, '=', text
//   Greeting = \sHello, %1!\n       <- "\s" keeps a blank that trimming would drop
//
// - Lines end with "\n"; a "\r" before it is dropped, so files saved with CRLF read the same.
// - Blank lines and comment lines are ignored.
// - An entry is split at its first '='. Blanks and tabs around the key and around the text
//   are dropped. The key must not be empty and must not contain a blank or a tab.
// - In the text, "\s" is a blank, "\t" a tab, "\n" a new line and "\\" a backslash. Any other
//   backslash stays as it stands ("C:\dir" keeps its backslash).
// - %1 to %9 in a text stand for message parameters and %% for a percent sign; they are filled
//   when the message is built, not here.
// - A line that is not valid UTF-8, has no '=', has an empty key or a key with blanks gives a
//   warning naming the file and the line and is skipped; the other lines still count.
// - When a key appears twice, the later line wins and a warning names both lines.
// - A file that holds NUL bytes, or holds invalid UTF-8 and not one valid entry, is no text
//   catalog: it gives one warning and counts as missing.

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "host/zaf_api.h"
#include "host/zaf_string.h"

namespace zaf {

using CatalogEntries = std::map<std::string, std::string, std::less<>>;

// A catalog file larger than this is not read: the shipped catalogs are a few kilobytes, and a
// mistaken file of many megabytes would only flood the operator with warnings.
constexpr std::size_t kMaxCatalogFileBytes = std::size_t{1} << 20;

struct ParsedCatalog {
  // False when the text is no catalog at all; `warnings` then holds the one reason.
  bool isCatalog = true;
  CatalogEntries entries;
  // One line each, "<fileName>:<line>: ...".
  std::vector<std::string> warnings;
};

// Reads the catalog `text`; `fileName` only names the file in the warnings.
ZAF_API ParsedCatalog ParseCatalog(std::string_view text, const std::string& fileName);

// Fills placeholders %1 to %9 of `text` in one pass with the first `count` of `parameters`
// (null `parameters` counts as none); %% gives %. A placeholder without a parameter, and a
// '%' before anything else, stays as it stands. An inserted parameter is not scanned again.
ZAF_API std::string FillPlaceholders(std::string_view text, const ZAFUnicodeString* parameters,
                                     int count);

}  // namespace zaf
