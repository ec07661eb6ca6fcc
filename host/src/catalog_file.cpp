// Parsing of catalog files and filling of message placeholders; pure functions, so that the
// catalog service, the tests and a fuzzer share them.

#include "catalog_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "host/utf8.h"

namespace zaf {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// Replaces the escapes of an entry's text where it lies, which the shorter result always fits;
// returns the text that results.
std::string_view UnescapeInPlace(char* text, std::size_t size) {
  const auto* firstEscape = static_cast<char*>(std::memchr(text, '\\', size));
  if (firstEscape == nullptr) {
    return {text, size};  // most texts have no escape
  }
  char* out = text + (firstEscape - text);
  for (std::size_t index = static_cast<std::size_t>(firstEscape - text); index < size; ++index) {
    const char current = text[index];
    if (current != '\\' || index + 1 == size) {
      *out++ = current;
      continue;
    }
    switch (text[index + 1]) {
      case 's':
        *out++ = ' ';
        break;
      case 't':
        *out++ = '\t';
        break;
      case 'n':
        *out++ = '\n';
        break;
      case '\\':
        *out++ = '\\';
        break;
      default:
        *out++ = current;  // not an escape: the backslash stays, the next byte is read anew
        continue;
    }
    ++index;
  }
  return {text, static_cast<std::size_t>(out - text)};
}

bool IsBlankOrComment(std::string_view trimmedLine) {
  return trimmedLine.empty() || trimmedLine.front() == '#';
}

std::string LinePrefix(const std::string& fileName, std::size_t number) {
  return fileName + ":" + std::to_string(number) + ": ";
}

// Why a key is refused, or null when it is good.
const char* KeyProblem(std::string_view key) {
  if (key.empty()) {
    return "ignored: the key before '=' is empty";
  }
  if (std::memchr(key.data(), ' ', key.size()) != nullptr ||
      std::memchr(key.data(), '\t', key.size()) != nullptr) {
    return "ignored: the key contains a blank";
  }
  return nullptr;
}

ParsedCatalog NotACatalog(const std::string& fileName, const char* reason) {
  ParsedCatalog refused;
  refused.isCatalog = false;
  refused.warnings.push_back(fileName + ": ignored: " + reason);
  return refused;
}

// Reads the lines of a copy of the text that the entries own: each entry's key and text are
// views into that copy, its escapes replaced in place. A key that repeats keeps its last line.
class CatalogReader {
 public:
  CatalogReader(std::string_view text, const std::string& fileName)
      : fileName_(fileName), size_(text.size()), textIsUtf8_(IsValidUtf8(text)) {
    // Every byte is copied over at once: the block needs no filling first.
    std::unique_ptr<char[]> block(new char[size_]);
    text_ = block.get();
    if (size_ != 0) {
      std::memcpy(text_, text.data(), size_);
    }
    // The entries own the block; it does not move with them, so text_ goes on pointing into it.
    result_.entries = CatalogEntries(std::move(block));
    // About one entry in 32 bytes would be a dense catalog; comment lines make it sparser.
    result_.entries.Reserve(size_ / 32 + 1);
    lines_.reserve(size_ / 32 + 1);
  }

  void ReadAll() {
    std::size_t start = 0;
    std::size_t number = 0;
    while (start < size_) {
      const auto* newline = static_cast<char*>(std::memchr(text_ + start, '\n', size_ - start));
      const std::size_t end =
          newline != nullptr ? static_cast<std::size_t>(newline - text_) : size_;
      ReadLine(start, end, ++number);
      start = end + 1;
    }
  }

  ParsedCatalog Finish() {
    if (hasInvalidUtf8_ && result_.entries.empty()) {
      return NotACatalog(fileName_, "not a text catalog (invalid UTF-8 and no valid entry)");
    }
    if (repeats_) {
      // A repeated key is told when all lines are read, but its warning belongs at its line.
      std::stable_sort(warnings_.begin(), warnings_.end(),
                       [](const LineWarning& a, const LineWarning& b) { return a.line < b.line; });
    }
    result_.warnings.reserve(warnings_.size());
    for (LineWarning& warning : warnings_) {
      result_.warnings.push_back(std::move(warning.text));
    }
    return std::move(result_);
  }

 private:
  struct LineWarning {
    std::size_t line;
    std::string text;
  };

  // The line from offset `start` to `end` (its new line excluded).
  void ReadLine(std::size_t start, std::size_t end, std::size_t number) {
    std::string_view line(text_ + start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    const std::string_view trimmed = TrimBlanks(line);
    if (IsBlankOrComment(trimmed)) {
      return;
    }
    if (!textIsUtf8_ && !IsValidUtf8(trimmed)) {
      hasInvalidUtf8_ = true;
      Warn(number, "ignored: the line is not valid UTF-8");
      return;
    }
    const std::size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) {
      Warn(number, "ignored: no '=' in the line");
      return;
    }
    const std::string_view key = TrimBlanks(trimmed.substr(0, equals));
    if (const char* problem = KeyProblem(key)) {
      Warn(number, problem);
      return;
    }
    const std::string_view value = TrimBlanks(trimmed.substr(equals + 1));
    // The value lies in the block this reader filled, so it may be rewritten there.
    char* const valueStart = text_ + (value.data() - text_);
    const auto [position, added] =
        result_.entries.Put(key, UnescapeInPlace(valueStart, value.size()));
    if (added) {
      lines_.push_back(number);
      return;
    }
    warnings_.push_back(LineWarning{
        number, LinePrefix(fileName_, number) + "key \"" + std::string(key) + "\" repeats line " +
                    std::to_string(lines_[position]) + "; this line wins"});
    lines_[position] = number;
    repeats_ = true;
  }

  void Warn(std::size_t number, const char* what) {
    warnings_.push_back(LineWarning{number, LinePrefix(fileName_, number) + what});
  }

  const std::string& fileName_;
  std::size_t size_;
  // Each line of a text that is UTF-8 as a whole is: no line needs checking on its own.
  bool textIsUtf8_;
  char* text_ = nullptr;  // the block result_.entries owns
  ParsedCatalog result_;
  std::vector<std::size_t> lines_;  // the line of each entry
  std::vector<LineWarning> warnings_;
  bool hasInvalidUtf8_ = false;
  bool repeats_ = false;
};

// Eight bytes at a time, each word mixed in by a multiplication: keys are short, and the table
// is never more than half full.
std::size_t HashKey(std::string_view key) {
  constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15U;
  std::uint64_t hash = key.size();
  std::size_t offset = 0;
  for (; offset + sizeof hash <= key.size(); offset += sizeof hash) {
    std::uint64_t word = 0;
    std::memcpy(&word, key.data() + offset, sizeof word);
    hash = (hash ^ word) * kMultiplier;
    hash ^= hash >> 29U;
  }
  std::uint64_t tail = 0;
  for (; offset < key.size(); ++offset) {
    tail = (tail << 8U) | static_cast<unsigned char>(key[offset]);
  }
  hash = (hash ^ tail) * kMultiplier;
  return static_cast<std::size_t>(hash ^ (hash >> 32U));
}

}  // namespace

CatalogEntries::CatalogEntries(std::initializer_list<value_type> entries) {
  CopyEntries(entries.begin(), entries.end());
}

CatalogEntries::CatalogEntries(const CatalogEntries& other) {
  CopyEntries(other.begin(), other.end());
}

CatalogEntries& CatalogEntries::operator=(const CatalogEntries& other) {
  if (this != &other) {
    CatalogEntries copy(other);
    *this = std::move(copy);
  }
  return *this;
}

template <typename Iterator>
void CatalogEntries::CopyEntries(Iterator first, Iterator last) {
  std::size_t total = 0;
  for (Iterator entry = first; entry != last; ++entry) {
    total += entry->first.size() + entry->second.size();
  }
  text_ = std::make_unique<char[]>(total);
  Reserve(static_cast<std::size_t>(last - first));
  char* out = text_.get();
  const auto keep = [&out](std::string_view piece) {
    if (!piece.empty()) {
      std::memcpy(out, piece.data(), piece.size());
    }
    out += piece.size();
    return std::string_view(out - piece.size(), piece.size());
  };
  for (Iterator entry = first; entry != last; ++entry) {
    if (Find(entry->first) == nullptr) {
      const std::string_view key = keep(entry->first);
      Put(key, keep(entry->second));
    }
  }
}

std::size_t CatalogEntries::SlotOf(std::string_view key) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = HashKey(key) & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t held = slots_[slot];
    if (held == 0 || entries_[held - 1].first == key) {
      return slot;
    }
  }
}

void CatalogEntries::Reserve(std::size_t count) {
  entries_.reserve(count);
  std::size_t slots = 16;
  while (slots < count * 2) {
    slots *= 2;
  }
  if (slots <= slots_.size()) {
    return;
  }
  std::vector<std::uint32_t> table(slots, 0);
  slots_.swap(table);
  for (std::size_t position = 0; position < entries_.size(); ++position) {
    slots_[SlotOf(entries_[position].first)] = static_cast<std::uint32_t>(position + 1);
  }
}

std::pair<std::size_t, bool> CatalogEntries::Put(std::string_view key, std::string_view text) {
  if ((entries_.size() + 1) * 2 > slots_.size()) {
    Reserve(entries_.size() * 2 + 1);
  }
  const std::size_t slot = SlotOf(key);
  if (slots_[slot] != 0) {
    const std::size_t position = slots_[slot] - 1;
    entries_[position].second = text;
    return {position, false};
  }
  entries_.emplace_back(key, text);
  slots_[slot] = static_cast<std::uint32_t>(entries_.size());
  return {entries_.size() - 1, true};
}

const std::string_view* CatalogEntries::Find(std::string_view key) const {
  if (slots_.empty()) {
    return nullptr;
  }
  const std::uint32_t held = slots_[SlotOf(key)];
  return held == 0 ? nullptr : &entries_[held - 1].second;
}

bool operator==(const CatalogEntries& left, const CatalogEntries& right) {
  if (left.size() != right.size()) {
    return false;
  }
  for (const auto& [key, text] : left) {
    const std::string_view* other = right.Find(key);
    if (other == nullptr || *other != text) {
      return false;
    }
  }
  return true;
}

ParsedCatalog ParseCatalog(std::string_view text, const std::string& fileName) {
  if (text.find('\0') != std::string_view::npos) {
    return NotACatalog(fileName, "not a text catalog (it holds NUL bytes)");
  }
  CatalogReader reader(text, fileName);
  reader.ReadAll();
  return reader.Finish();
}

std::string FillPlaceholders(std::string_view text, const ZAFUnicodeString* parameters, int count) {
  if (text.find('%') == std::string_view::npos) {
    return std::string(text);  // most messages have no placeholder
  }
  if (parameters == nullptr || count < 0) {
    count = 0;
  }
  std::string result;
  result.reserve(text.size());
  for (std::size_t index = 0; index < text.size(); ++index) {
    const char current = text[index];
    const char next = index + 1 < text.size() ? text[index + 1] : '\0';
    if (current == '%' && next == '%') {
      result += '%';
      ++index;
    } else if (current == '%' && next >= '1' && next <= '9' && next - '0' <= count) {
      result += parameters[next - '1'].str();
      ++index;
    } else {
      result += current;
    }
  }
  return result;
}

}  // namespace zaf
