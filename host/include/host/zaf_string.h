#pragma once
// The host's text types: ZAFString (8-bit names) and ZAFUnicodeString (UTF-8 text that can
// also be null, as when it is made from a null character pointer).

#include <iosfwd>
#include <string>

#include "zaf_api.h"

// One Unicode code point; Strip takes the character to remove in this form.
using ZAFUnicodeChar = char32_t;

// Strip modes: which ends of the text lose the character.
enum ZAFStripMode : int { ZAF_STRIP_LEADING = 1, ZAF_STRIP_TRAILING = 2, ZAF_STRIP_BOTH = 3 };

// 8-bit text for message, resource, preference and widget names. A null character pointer
// gives the empty text.
class ZAF_API ZAFString {
 public:
  ZAFString() = default;
  ZAFString(const char* text);  // NOLINT(google-explicit-constructor): the host passes literals
  ZAFString(std::string text);  // NOLINT(google-explicit-constructor)

  bool operator==(const char* text) const;
  bool operator!=(const char* text) const { return !(*this == text); }
  bool operator==(const ZAFString& other) const { return text_ == other.text_; }
  bool operator!=(const ZAFString& other) const { return text_ != other.text_; }

  const char* CastToCharPtr() const { return text_.c_str(); }
  int GetLengthInChar() const { return static_cast<int>(text_.size()); }
  const std::string& str() const { return text_; }

 private:
  std::string text_;
};

// Unicode text held as UTF-8. Default-made it is empty; made from a null character pointer it
// is null (IsNull). Null and empty differ only in IsNull, in comparisons (null equals only a
// null pointer or another null string) and in the character-pointer conversion (null gives a
// null pointer). Every other operation treats null as empty, and concatenation never gives null.
class ZAF_API ZAFUnicodeString {
 public:
  ZAFUnicodeString() = default;
  ZAFUnicodeString(const char* utf8);       // NOLINT(google-explicit-constructor)
  ZAFUnicodeString(std::string utf8);       // NOLINT(google-explicit-constructor)
  ZAFUnicodeString(const ZAFString& text);  // NOLINT(google-explicit-constructor)

  ZAFUnicodeString& operator=(const char* utf8);

  bool IsNull() const { return null_; }
  bool IsEmpty() const { return text_.empty(); }

  bool operator==(const char* utf8) const;
  bool operator!=(const char* utf8) const { return !(*this == utf8); }
  bool operator==(const ZAFUnicodeString& other) const;
  bool operator!=(const ZAFUnicodeString& other) const { return !(*this == other); }

  // The text as a character pointer, or null for a null string. The pointer lives as long as
  // the string is neither changed nor destroyed.
  explicit operator const char*() const { return null_ ? nullptr : text_.c_str(); }
  // The text as a character pointer that is never null ("" for a null string).
  const char* c_str() const { return text_.c_str(); }
  const std::string& str() const { return text_; }

  // The number of characters (code points), not bytes.
  int GetLengthInChar() const;

  // A copy without `character` repeated at the ends that `mode` names (ZAFStripMode).
  ZAFUnicodeString Strip(int mode, ZAFUnicodeChar character) const;

 private:
  std::string text_;
  bool null_ = false;
};

ZAF_API bool operator==(const char* utf8, const ZAFUnicodeString& text);
ZAF_API bool operator!=(const char* utf8, const ZAFUnicodeString& text);
ZAF_API ZAFUnicodeString operator+(const ZAFUnicodeString& left, const ZAFUnicodeString& right);
ZAF_API ZAFUnicodeString operator+(const ZAFUnicodeString& left, const char* right);
ZAF_API ZAFUnicodeString operator+(const char* left, const ZAFUnicodeString& right);

ZAF_API std::ostream& operator<<(std::ostream& out, const ZAFUnicodeString& text);
ZAF_API std::ostream& operator<<(std::ostream& out, const ZAFString& text);
