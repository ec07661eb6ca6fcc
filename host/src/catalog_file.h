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
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/zaf_api.h"
#include "host/zaf_string.h"

namespace zaf {

// The entries of a catalog, each key once, in the order of the lines that brought the keys
// in. Keys and texts are views into one block of text that the entries own, and keys are
// found through a hash table of positions: reading a catalog allocates the block and two
// lists, not three blocks an entry as a map of strings would, and sorts nothing.
class ZAF_API CatalogEntries {
 public:
  using value_type = std::pair<std::string_view, std::string_view>;
  using const_iterator = std::vector<value_type>::const_iterator;
  using iterator = const_iterator;

  CatalogEntries() = default;
  // Entries given as (key, text) pairs; a key given twice keeps its first text.
  CatalogEntries(std::initializer_list<value_type> entries);
  CatalogEntries(const CatalogEntries& other);
  CatalogEntries& operator=(const CatalogEntries& other);
  // The block does not move with the entries, so the views stay good.
  CatalogEntries(CatalogEntries&&) noexcept = default;
  CatalogEntries& operator=(CatalogEntries&&) noexcept = default;
  ~CatalogEntries() = default;

  // Entries that view `text`, a block the caller has filled or goes on filling.
  explicit CatalogEntries(std::unique_ptr<char[]> text) : text_(std::move(text)) {}

  // Adds the entry, or gives an entry of the same key the new text. Returns the entry's
  // position and whether it was added. Both views must lie in the block, or outlive the
  // entries.
  std::pair<std::size_t, bool> Put(std::string_view key, std::string_view text);

  // Makes room for `count` entries in all, so that putting them rebuilds no table.
  void Reserve(std::size_t count);

  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

  // The text of `key`, or null.
  const std::string_view* Find(std::string_view key) const;

  // The same keys with the same texts, in any order.
  friend ZAF_API bool operator==(const CatalogEntries& left, const CatalogEntries& right);
  friend bool operator!=(const CatalogEntries& left, const CatalogEntries& right) {
    return !(left == right);
  }

 private:
  // Copies the entries into a block of their own, the first of a repeated key kept.
  template <typename Iterator>
  void CopyEntries(Iterator first, Iterator last);
  // The slot of `key`: the one holding its entry, or the empty one where it would go.
  std::size_t SlotOf(std::string_view key) const;
  std::unique_ptr<char[]> text_;
  std::vector<value_type> entries_;
  // Open addressing: a power of two slots, each an entry's position plus one, 0 when empty.
  std::vector<std::uint32_t> slots_;
};

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
