// Parsing of catalog files and filling of message placeholders; pure functions, so that the
// catalog service, the tests and a fuzzer share them.

#include "catalog_file.h"

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

// The text of an entry with its escapes replaced.
std::string Unescape(std::string_view text) {
  if (text.find('\\') == std::string_view::npos) {
    return std::string(text);  // most texts have no escape
  }
  std::string result;
  result.reserve(text.size());
  for (std::size_t index = 0; index < text.size(); ++index) {
    const char current = text[index];
    if (current != '\\' || index + 1 == text.size()) {
      result += current;
      continue;
    }
    switch (text[index + 1]) {
      case 's':
        result += ' ';
        break;
      case 't':
        result += '\t';
        break;
      case 'n':
        result += '\n';
        break;
      case '\\':
        result += '\\';
        break;
      default:
        result += current;  // not an escape: the backslash stays, the next byte is read anew
        continue;
    }
    ++index;
  }
  return result;
}

bool IsBlankOrComment(std::string_view trimmedLine) {
  return trimmedLine.empty() || trimmedLine.front() == '#';
}

struct LineLocation {
  const std::string& fileName;
  std::size_t number;

  std::string Prefix() const { return fileName + ":" + std::to_string(number) + ": "; }
};

// Why a key is refused, or null when it is good.
const char* KeyProblem(std::string_view key) {
  if (key.empty()) {
    return "ignored: the key before '=' is empty";
  }
  for (const char c : key) {
    if (IsBlank(c)) {
      return "ignored: the key contains a blank";
    }
  }
  return nullptr;
}

class CatalogReader {
 public:
  explicit CatalogReader(const std::string& fileName) : fileName_(fileName) {}

  void ReadLine(std::string_view line, std::size_t number) {
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    const std::string_view trimmed = TrimBlanks(line);
    if (IsBlankOrComment(trimmed)) {
      return;
    }
    const LineLocation location{fileName_, number};
    if (!IsValidUtf8(trimmed)) {
      hasInvalidUtf8_ = true;
      result_.warnings.push_back(location.Prefix() + "ignored: the line is not valid UTF-8");
      return;
    }
    const std::size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) {
      result_.warnings.push_back(location.Prefix() + "ignored: no '=' in the line");
      return;
    }
    const std::string_view key = TrimBlanks(trimmed.substr(0, equals));
    if (const char* problem = KeyProblem(key)) {
      result_.warnings.push_back(location.Prefix() + problem);
      return;
    }
    AddEntry(key, Unescape(TrimBlanks(trimmed.substr(equals + 1))), location);
  }

  ParsedCatalog Finish() {
    if (hasInvalidUtf8_ && result_.entries.empty()) {
      return NotACatalog("not a text catalog (invalid UTF-8 and no valid entry)");
    }
    return std::move(result_);
  }

  ParsedCatalog NotACatalog(const std::string& reason) const {
    ParsedCatalog refused;
    refused.isCatalog = false;
    refused.warnings.push_back(fileName_ + ": ignored: " + reason);
    return refused;
  }

 private:
  // `key` lies in the text being parsed, which outlives the reader. Repeated keys are rare,
  // so the line of each key is found by a search only when its key comes again.
  void AddEntry(std::string_view key, std::string text, const LineLocation& location) {
    if (!result_.entries.insert_or_assign(std::string(key), std::move(text)).second) {
      std::size_t& line = LineOfKey(key);
      result_.warnings.push_back(location.Prefix() + "key \"" + std::string(key) +
                                 "\" repeats line " + std::to_string(line) + "; this line wins");
      line = location.number;
      return;
    }
    keyLines_.emplace_back(key, location.number);
  }

  std::size_t& LineOfKey(std::string_view key) {
    for (auto& [known, line] : keyLines_) {
      if (known == key) {
        return line;
      }
    }
    return keyLines_.emplace_back(key, 0).second;  // not reached: every entry is listed
  }

  const std::string& fileName_;
  ParsedCatalog result_;
  std::vector<std::pair<std::string_view, std::size_t>> keyLines_;
  bool hasInvalidUtf8_ = false;
};

}  // namespace

ParsedCatalog ParseCatalog(std::string_view text, const std::string& fileName) {
  CatalogReader reader(fileName);
  if (text.find('\0') != std::string_view::npos) {
    return reader.NotACatalog("not a text catalog (it holds NUL bytes)");
  }
  std::size_t number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    reader.ReadLine(text.substr(0, end), ++number);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
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
