#include "core/safe_text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace wassetup {

namespace {

// The length of the valid UTF-8 sequence at the start of `text` and its code point, or 0 when
// the first byte does not start one (a stray continuation byte, an overlong form, a surrogate,
// a code point above U+10FFFF or a sequence cut short).
std::size_t DecodeUtf8(std::string_view text, std::uint32_t& codePoint) {
  const auto byte = [&text](std::size_t index) { return static_cast<unsigned char>(text[index]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  std::uint32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, codePoint = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, codePoint = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, codePoint = lead & 0x07u;
  } else {
    return 0;
  }
  if (text.size() < length) {
    return 0;
  }
  for (std::size_t index = 1; index < length; ++index) {
    if ((byte(index) & 0xC0u) != 0x80u) {
      return 0;
    }
    codePoint = (codePoint << 6) | (byte(index) & 0x3Fu);
  }
  const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  return codePoint < minimum || surrogate || codePoint > 0x10FFFF ? 0 : length;
}

// Characters above U+007F that change how a terminal shows what follows: the C1 controls (a
// terminal may read U+009B as the start of an escape sequence), the line and paragraph
// separators, and the marks and overrides that reverse the order text is shown in.
bool IsInvisibleControl(std::uint32_t codePoint) {
  return (codePoint >= 0x80 && codePoint <= 0x9F) || codePoint == 0x200E || codePoint == 0x200F ||
         codePoint == 0x2028 || codePoint == 0x2029 ||
         (codePoint >= 0x202A && codePoint <= 0x202E) ||
         (codePoint >= 0x2066 && codePoint <= 0x2069);
}

void AppendEscaped(std::string& out, const char* format, unsigned value) {
  char escaped[16];
  std::snprintf(escaped, sizeof escaped, format, value);
  out += escaped;
}

// Appends the ASCII byte `c`, escaped when it is a control character.
void AppendAscii(std::string& out, char c) {
  switch (c) {
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      break;
  }
  const auto byte = static_cast<unsigned char>(c);
  if (byte < 0x20 || byte == 0x7F) {
    AppendEscaped(out, "\\x%02x", byte);
  } else {
    out += c;
  }
}

// The length of the run of printable ASCII at the start of `text`: it is shown as it is.
// Eight bytes at a time while all of them are 0x20 to 0x7E: subtracting 0x20 from each borrows
// into its high bit when it is below 0x20, adding 1 carries into it when it is 0x7F or more,
// and the byte itself has it from 0x80 up (a borrow or a carry crosses into the next byte only
// from a byte that is outside the range already).
std::size_t PlainPrefixLength(std::string_view text) {
  constexpr std::uint64_t kOnes = 0x0101010101010101U;
  constexpr std::uint64_t kHighBits = 0x8080808080808080U;
  std::size_t length = 0;
  for (std::uint64_t word = 0; text.size() - length >= sizeof word; length += sizeof word) {
    std::memcpy(&word, text.data() + length, sizeof word);
    if ((((word - 0x20 * kOnes) | (word + kOnes) | word) & kHighBits) != 0) {
      break;
    }
  }
  while (length < text.size() && text[length] >= 0x20 && text[length] < 0x7F) {
    ++length;
  }
  return length;
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendPrintable(out, text);
  return out;
}

void AppendPrintable(std::string& out, std::string_view text) {
  while (!text.empty()) {
    if (const std::size_t plain = PlainPrefixLength(text); plain != 0) {
      out.append(text.substr(0, plain));
      text.remove_prefix(plain);
      continue;
    }
    if (static_cast<unsigned char>(text.front()) < 0x80) {
      AppendAscii(out, text.front());
      text.remove_prefix(1);
      continue;
    }
    std::uint32_t codePoint = 0;
    const std::size_t length = DecodeUtf8(text, codePoint);
    if (length == 0) {
      AppendEscaped(out, "\\x%02x", static_cast<unsigned char>(text.front()));
      text.remove_prefix(1);
    } else {
      if (IsInvisibleControl(codePoint)) {
        AppendEscaped(out, "\\u%04x", codePoint);
      } else {
        out.append(text.substr(0, length));
      }
      text.remove_prefix(length);
    }
  }
}

std::string JsonText(const nlohmann::ordered_json& document, int indent) {
  return document.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string JsonText(const nlohmann::json& document, int indent) {
  return document.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string JoinedNames(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) {
    joined += (joined.empty() ? "" : ", ") + name;
  }
  return joined;
}

}  // namespace wassetup
