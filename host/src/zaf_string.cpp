// The host's text types. ZAFUnicodeString keeps UTF-8 bytes as given and tells a null string
// (made from a null pointer) from an empty one only where the header says so.

#include "host/zaf_string.h"

#include <cstring>
#include <ostream>
#include <utility>

#include "utf8_sequence.h"

// ---- ZAFString ----

ZAFString::ZAFString(const char* text) : text_(text != nullptr ? text : "") {}

ZAFString::ZAFString(std::string text) : text_(std::move(text)) {}

bool ZAFString::operator==(const char* text) const {
  return text_ == (text != nullptr ? text : "");
}

// ---- ZAFUnicodeString ----

ZAFUnicodeString::ZAFUnicodeString(const char* utf8)
    : text_(utf8 != nullptr ? utf8 : ""), null_(utf8 == nullptr) {}

ZAFUnicodeString::ZAFUnicodeString(std::string utf8) : text_(std::move(utf8)) {}

ZAFUnicodeString::ZAFUnicodeString(const ZAFString& text) : text_(text.str()) {}

ZAFUnicodeString& ZAFUnicodeString::operator=(const char* utf8) {
  text_ = utf8 != nullptr ? utf8 : "";
  null_ = utf8 == nullptr;
  return *this;
}

bool ZAFUnicodeString::operator==(const char* utf8) const {
  if (utf8 == nullptr || null_) {
    return utf8 == nullptr && null_;
  }
  return text_ == utf8;
}

bool ZAFUnicodeString::operator==(const ZAFUnicodeString& other) const {
  return null_ == other.null_ && text_ == other.text_;
}

int ZAFUnicodeString::GetLengthInChar() const {
  return static_cast<int>(zaf::CountCodePoints(text_));
}

ZAFUnicodeString ZAFUnicodeString::Strip(int mode, ZAFUnicodeChar character) const {
  std::string_view rest(text_);
  if (character < 0x80) {
    // An ASCII character is one byte, which no longer sequence contains: bytes are compared.
    const char byte = static_cast<char>(character);
    while ((mode & ZAF_STRIP_LEADING) != 0 && !rest.empty() && rest.front() == byte) {
      rest.remove_prefix(1);
    }
    while ((mode & ZAF_STRIP_TRAILING) != 0 && !rest.empty() && rest.back() == byte) {
      rest.remove_suffix(1);
    }
    return ZAFUnicodeString(std::string(rest));
  }
  const std::string sequence = zaf::EncodeUtf8(character);
  if (!sequence.empty()) {
    // Only whole sequences go, so stripping an ASCII byte never cuts into a longer character
    // (continuation bytes are never ASCII) and a multi-byte character is removed entirely.
    if ((mode & ZAF_STRIP_LEADING) != 0) {
      while (rest.size() >= sequence.size() && rest.substr(0, sequence.size()) == sequence) {
        rest.remove_prefix(sequence.size());
      }
    }
    if ((mode & ZAF_STRIP_TRAILING) != 0) {
      while (rest.size() >= sequence.size() &&
             rest.substr(rest.size() - sequence.size()) == sequence) {
        rest.remove_suffix(sequence.size());
      }
    }
  }
  return ZAFUnicodeString(std::string(rest));
}

bool operator==(const char* utf8, const ZAFUnicodeString& text) {
  return text == utf8;
}

bool operator!=(const char* utf8, const ZAFUnicodeString& text) {
  return text != utf8;
}

ZAFUnicodeString operator+(const ZAFUnicodeString& left, const ZAFUnicodeString& right) {
  return ZAFUnicodeString(left.str() + right.str());
}

ZAFUnicodeString operator+(const ZAFUnicodeString& left, const char* right) {
  return ZAFUnicodeString(left.str() + (right != nullptr ? right : ""));
}

ZAFUnicodeString operator+(const char* left, const ZAFUnicodeString& right) {
  return ZAFUnicodeString((left != nullptr ? left : "") + right.str());
}

std::ostream& operator<<(std::ostream& out, const ZAFUnicodeString& text) {
  return out << text.str();
}

std::ostream& operator<<(std::ostream& out, const ZAFString& text) {
  return out << text.str();
}
