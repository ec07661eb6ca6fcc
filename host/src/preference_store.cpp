// Reading and writing the preference file text: pure functions, so that the repository, the
// tests and a fuzzer share them. The reader accepts exactly what the writer can produce (up to
// the case of hexadecimal digits and the choice of escapes) and refuses the rest.

#include "preference_store.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "utf8_sequence.h"

namespace zaf {

namespace {

constexpr std::string_view kFormatName = "zaf-preferences";
constexpr std::string_view kFormatVersion = "1";
constexpr std::string_view kIntKind = "int";
constexpr std::string_view kTextKind = "text";

// ---- Writing ----

char HexDigit(unsigned value) {
  return "0123456789ABCDEF"[value & 0xFU];
}

void AppendHexEscape(std::string& out, char prefix, unsigned char byte) {
  out += '\\';
  out += prefix;
  if (prefix == 'u') {
    out += "00";
  }
  out += HexDigit(byte >> 4U);
  out += HexDigit(byte);
}

void AppendAsciiEscaped(std::string& out, char character) {
  switch (character) {
    case '\\':
      out += "\\\\";
      return;
    case '"':
      out += "\\\"";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\r':
      out += "\\r";
      return;
    default:
      break;
  }
  const auto byte = static_cast<unsigned char>(character);
  if (byte < 0x20U || byte == 0x7FU) {
    AppendHexEscape(out, 'u', byte);
  } else {
    out += character;
  }
}

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  std::size_t offset = 0;
  while (offset < text.size()) {
    const std::size_t length = Utf8SequenceLength(text, offset);
    if (length == 0) {
      AppendHexEscape(out, 'x', static_cast<unsigned char>(text[offset]));
      offset += 1;
    } else if (length == 1) {
      AppendAsciiEscaped(out, text[offset]);
      offset += 1;
    } else {
      out.append(text.substr(offset, length));
      offset += length;
    }
  }
  out += '"';
}

void AppendValues(std::string& out, const std::vector<int>& values) {
  for (const int value : values) {
    out += ' ';
    out += std::to_string(value);
  }
}

void AppendValues(std::string& out, const std::vector<std::string>& values) {
  for (const std::string& value : values) {
    out += ' ';
    AppendQuoted(out, value);
  }
}

// One line: kind, quoted name, count and values.
void AppendPreferenceLine(std::string& out, const std::string& name, const PreferenceValue& value) {
  const auto* numbers = std::get_if<std::vector<int>>(&value);
  const auto* texts = std::get_if<std::vector<std::string>>(&value);
  out += numbers != nullptr ? kIntKind : kTextKind;
  out += ' ';
  AppendQuoted(out, name);
  out += ' ';
  out += std::to_string(numbers != nullptr ? numbers->size() : texts->size());
  if (numbers != nullptr) {
    AppendValues(out, *numbers);
  } else {
    AppendValues(out, *texts);
  }
  out += '\n';
}

// ---- Reading ----

int HexValue(char digit) {
  if (digit >= '0' && digit <= '9') {
    return digit - '0';
  }
  if (digit >= 'A' && digit <= 'F') {
    return digit - 'A' + 10;
  }
  if (digit >= 'a' && digit <= 'f') {
    return digit - 'a' + 10;
  }
  return -1;
}

// Reads one preference line from left to right; every method returns false with `error`
// set at the first thing that is not as written by SerializePreferences.
class LineReader {
 public:
  explicit LineReader(std::string_view line) : line_(line) {}

  const std::string& Error() const { return error_; }
  // The bytes not read yet.
  std::size_t Remaining() const { return line_.size() - position_; }

  bool ReadWord(std::string_view& word) {
    const std::size_t end = line_.find(' ', position_);
    word = line_.substr(position_, end == std::string_view::npos ? end : end - position_);
    position_ += word.size();
    return !word.empty() || Fail("a word is missing");
  }

  bool ReadSeparator() {
    if (position_ < line_.size() && line_[position_] == ' ') {
      ++position_;
      return true;
    }
    return Fail(AtEnd() ? "the line ends too early" : "one blank expected between items");
  }

  // Neither the closing quote, nor the start of an escape, nor a raw control character.
  static bool IsPlainInQuotes(char c) {
    return c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20U && c != 0x7F;
  }

  bool ReadQuoted(std::string& text) {
    if (position_ >= line_.size() || line_[position_] != '"') {
      return Fail("a quoted text is expected");
    }
    ++position_;
    text.clear();
    while (position_ < line_.size()) {
      // A run of plain characters is taken whole: files are read on every run of the tool.
      std::size_t runEnd = position_;
      while (runEnd < line_.size() && IsPlainInQuotes(line_[runEnd])) {
        ++runEnd;
      }
      text.append(line_.substr(position_, runEnd - position_));
      position_ = runEnd;
      if (position_ == line_.size()) {
        break;
      }
      const char current = line_[position_++];
      if (current == '"') {
        return true;
      }
      if (current != '\\') {
        return Fail("a raw control character inside quotes");
      }
      if (!ReadEscape(text)) {
        return false;
      }
    }
    return Fail("unterminated quote");
  }

  bool ReadInteger(long long minimum, long long maximum, long long& value) {
    const std::size_t start = position_;
    const bool negative = position_ < line_.size() && line_[position_] == '-';
    position_ += negative ? 1 : 0;
    const std::size_t firstDigit = position_;
    long long magnitude = 0;
    while (position_ < line_.size() && line_[position_] >= '0' && line_[position_] <= '9') {
      magnitude = magnitude * 10 + (line_[position_] - '0');
      ++position_;
      if (magnitude > maximum + 1) {
        return Fail("a number is out of range");
      }
    }
    const std::size_t digits = position_ - firstDigit;
    if (digits == 0 || (digits > 1 && line_[firstDigit] == '0') || (negative && magnitude == 0)) {
      position_ = start;
      return Fail("a number is malformed");
    }
    value = negative ? -magnitude : magnitude;
    return (value >= minimum && value <= maximum) || Fail("a number is out of range");
  }

  bool ReadEnd() { return AtEnd() || Fail("unexpected text after the last value"); }

 private:
  bool AtEnd() const { return position_ >= line_.size(); }

  bool ReadEscape(std::string& text) {
    if (AtEnd()) {
      return Fail("unterminated quote");
    }
    const char kind = line_[position_++];
    switch (kind) {
      case '\\':
      case '"':
        text += kind;
        return true;
      case 'n':
        text += '\n';
        return true;
      case 't':
        text += '\t';
        return true;
      case 'r':
        text += '\r';
        return true;
      case 'u':
        return ReadHexEscape("00", 0x00, 0x7F, text);
      case 'x':
        return ReadHexEscape("", 0x80, 0xFF, text);
      default:
        return Fail("unknown escape");
    }
  }

  // Reads `prefix` then two hexadecimal digits whose value must be within low..high.
  bool ReadHexEscape(std::string_view prefix, int low, int high, std::string& text) {
    if (line_.substr(position_, prefix.size()) != prefix) {
      return Fail("bad escape");
    }
    position_ += prefix.size();
    if (position_ + 2 > line_.size()) {
      return Fail("bad escape");
    }
    const int high4 = HexValue(line_[position_]);
    const int low4 = HexValue(line_[position_ + 1]);
    const int value = high4 * 16 + low4;
    if (high4 < 0 || low4 < 0 || value < low || value > high) {
      return Fail("bad escape");
    }
    position_ += 2;
    text += static_cast<char>(value);
    return true;
  }

  bool Fail(const char* reason) {
    if (error_.empty()) {
      error_ = reason;
    }
    return false;
  }

  std::string_view line_;
  std::size_t position_ = 0;
  std::string error_;
};

// The reading of one preference line: its name and value.
struct ParsedLine {
  std::string name;
  PreferenceValue value;
};

bool ReadIntValues(LineReader& reader, long long count, PreferenceValue& value) {
  std::vector<int> numbers;
  for (long long index = 0; index < count; ++index) {
    long long number = 0;
    if (!reader.ReadSeparator() || !reader.ReadInteger(INT_MIN, INT_MAX, number)) {
      return false;
    }
    numbers.push_back(static_cast<int>(number));
  }
  value = std::move(numbers);
  return true;
}

bool ReadTextValues(LineReader& reader, long long count, PreferenceValue& value) {
  std::vector<std::string> texts;
  // Each text takes three bytes at least (a blank and two quotes): a count larger than the
  // line allows reserves no more than the line can hold.
  texts.reserve(static_cast<std::size_t>(
      std::min<long long>(count, static_cast<long long>(reader.Remaining() / 3))));
  for (long long index = 0; index < count; ++index) {
    std::string text;
    if (!reader.ReadSeparator() || !reader.ReadQuoted(text)) {
      return false;
    }
    texts.push_back(std::move(text));
  }
  value = std::move(texts);
  return true;
}

std::optional<ParsedLine> ReadPreferenceLine(std::string_view line, std::string& error) {
  LineReader reader(line);
  ParsedLine parsed;
  std::string_view kind;
  long long count = 0;
  bool good = reader.ReadWord(kind);
  if (good && kind != kIntKind && kind != kTextKind) {
    error = "an unknown kind of preference";  // the word itself is not cited: it may be a secret
    return std::nullopt;
  }
  good = good && reader.ReadSeparator() && reader.ReadQuoted(parsed.name) &&
         reader.ReadSeparator() && reader.ReadInteger(0, INT_MAX, count);
  if (good) {
    good = kind == kIntKind ? ReadIntValues(reader, count, parsed.value)
                            : ReadTextValues(reader, count, parsed.value);
  }
  if (!good || !reader.ReadEnd()) {
    error = reader.Error();
    return std::nullopt;
  }
  return parsed;
}

std::string LineError(std::size_t number, const std::string& reason) {
  return "line " + std::to_string(number) + ": " + reason;
}

// The line of the first byte that is not valid UTF-8, or 0 when all is valid.
std::size_t FirstInvalidUtf8Line(std::string_view text) {
  if (IsValidUtf8(text)) {
    return 0;  // the common case, checked many bytes at a time
  }
  std::size_t line = 1;
  std::size_t offset = 0;
  while (offset < text.size()) {
    const std::size_t length = Utf8SequenceLength(text, offset);
    if (length == 0) {
      return line;
    }
    line += text[offset] == '\n' ? 1 : 0;
    offset += length;
  }
  return 0;
}

std::string HeaderLine() {
  return std::string(kFormatName) + " " + std::string(kFormatVersion);
}

std::optional<std::string> HeaderProblem(std::string_view header) {
  if (header == HeaderLine()) {
    return std::nullopt;
  }
  const std::string prefix = std::string(kFormatName) + " ";
  if (header.substr(0, prefix.size()) == prefix) {
    return std::string("an unsupported version of the format");
  }
  return std::string("not a preference file (bad header)");
}

}  // namespace

std::optional<PreferenceMap> ParsePreferences(std::string_view text, std::string& error) {
  if (const std::size_t badLine = FirstInvalidUtf8Line(text); badLine != 0) {
    error = LineError(badLine, "not valid UTF-8");
    return std::nullopt;
  }
  if (text.empty() || text.back() != '\n') {
    error = text.empty() ? "the file is empty" : "the last line has no end (file cut short?)";
    return std::nullopt;
  }
  PreferenceMap preferences;
  std::size_t number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    ++number;
    std::string reason;
    if (number == 1) {
      if (const auto problem = HeaderProblem(line)) {
        error = LineError(number, *problem);
        return std::nullopt;
      }
      continue;
    }
    std::optional<ParsedLine> parsed = ReadPreferenceLine(line, reason);
    if (!parsed) {
      error = LineError(number, reason);
      return std::nullopt;
    }
    if (!preferences.emplace(std::move(parsed->name), std::move(parsed->value)).second) {
      error = LineError(number, "the name is repeated");
      return std::nullopt;
    }
  }
  return preferences;
}

std::string SerializePreferences(const PreferenceMap& preferences) {
  std::string out = HeaderLine() + "\n";
  for (const auto& [name, value] : preferences) {
    AppendPreferenceLine(out, name, value);
  }
  return out;
}

}  // namespace zaf
