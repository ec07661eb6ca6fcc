// UTF-8 decoding by the rules of well-formed sequences, so that overlong forms and encoded
// surrogates are refused the same way everywhere in the host.

#include "utf8_sequence.h"

#include <cstdint>
#include <cstring>

namespace zaf {

namespace {

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0U) == 0x80U;
}

// The allowed range of the second byte after a given lead byte; the ranges exclude overlong
// forms (E0, F0), surrogates (ED) and values above U+10FFFF (F4).
struct SecondByteRange {
  unsigned char low;
  unsigned char high;
};

SecondByteRange SecondByteRangeAfter(unsigned char lead) {
  switch (lead) {
    case 0xE0:
      return {0xA0, 0xBF};
    case 0xED:
      return {0x80, 0x9F};
    case 0xF0:
      return {0x90, 0xBF};
    case 0xF4:
      return {0x80, 0x8F};
    default:
      return {0x80, 0xBF};
  }
}

std::size_t ExpectedLength(unsigned char lead) {
  if (lead < 0x80U) {
    return 1;
  }
  if (lead >= 0xC2U && lead <= 0xDFU) {
    return 2;
  }
  if (lead >= 0xE0U && lead <= 0xEFU) {
    return 3;
  }
  if (lead >= 0xF0U && lead <= 0xF4U) {
    return 4;
  }
  return 0;  // continuation byte, C0/C1 (always overlong) or F5..FF (beyond U+10FFFF)
}

}  // namespace

std::size_t NonAsciiSequenceLength(std::string_view text, std::size_t offset) {
  if (offset >= text.size()) {
    return 0;
  }
  const auto lead = static_cast<unsigned char>(text[offset]);
  const std::size_t length = ExpectedLength(lead);
  if (length <= 1) {
    return length;
  }
  if (offset + length > text.size()) {
    return 0;  // cut short by the end of the text
  }
  const auto second = static_cast<unsigned char>(text[offset + 1]);
  const SecondByteRange range = SecondByteRangeAfter(lead);
  if (second < range.low || second > range.high) {
    return 0;
  }
  for (std::size_t index = 2; index < length; ++index) {
    if (!IsContinuation(static_cast<unsigned char>(text[offset + index]))) {
      return 0;
    }
  }
  return length;
}

bool IsValidUtf8(std::string_view text) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080U;
  std::size_t offset = 0;
  while (offset < text.size()) {
    // ASCII, the common case, needs no sequence decoding: eight bytes at a time, then one.
    std::uint64_t word = 0;
    if (text.size() - offset >= sizeof word) {
      std::memcpy(&word, text.data() + offset, sizeof word);
      if ((word & kHighBits) == 0) {
        offset += sizeof word;
        continue;
      }
    }
    if (static_cast<unsigned char>(text[offset]) < 0x80U) {
      ++offset;
      continue;
    }
    const std::size_t length = Utf8SequenceLength(text, offset);
    if (length == 0) {
      return false;
    }
    offset += length;
  }
  return true;
}

std::string EncodeUtf8(char32_t codePoint) {
  std::string bytes;
  const auto value = static_cast<std::uint32_t>(codePoint);
  if (value < 0x80U) {
    bytes += static_cast<char>(value);
  } else if (value < 0x800U) {
    bytes += static_cast<char>(0xC0U | (value >> 6U));
    bytes += static_cast<char>(0x80U | (value & 0x3FU));
  } else if (value >= 0xD800U && value <= 0xDFFFU) {
    return bytes;  // surrogates have no UTF-8 form
  } else if (value < 0x10000U) {
    bytes += static_cast<char>(0xE0U | (value >> 12U));
    bytes += static_cast<char>(0x80U | ((value >> 6U) & 0x3FU));
    bytes += static_cast<char>(0x80U | (value & 0x3FU));
  } else if (value <= 0x10FFFFU) {
    bytes += static_cast<char>(0xF0U | (value >> 18U));
    bytes += static_cast<char>(0x80U | ((value >> 12U) & 0x3FU));
    bytes += static_cast<char>(0x80U | ((value >> 6U) & 0x3FU));
    bytes += static_cast<char>(0x80U | (value & 0x3FU));
  }
  return bytes;
}

std::size_t CountCodePoints(std::string_view text) {
  std::size_t count = 0;
  std::size_t offset = 0;
  while (offset < text.size()) {
    const std::size_t length = Utf8SequenceLength(text, offset);
    offset += length == 0 ? 1 : length;
    ++count;
  }
  return count;
}

}  // namespace zaf
