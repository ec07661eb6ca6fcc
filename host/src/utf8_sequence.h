#pragma once
// UTF-8 helpers shared by the host's text, catalog and preference code.

#include <cstddef>
#include <string>
#include <string_view>

#include "host/utf8.h"

namespace zaf {

// Utf8SequenceLength where the byte at `offset` is not ASCII (or `offset` is past the end).
std::size_t NonAsciiSequenceLength(std::string_view text, std::size_t offset);

// The length in bytes of the well-formed UTF-8 sequence that starts at `offset` (1 to 4),
// or 0 when the bytes there are not one (stray continuation byte, overlong form, surrogate,
// value above U+10FFFF, or a sequence cut short). Inline for ASCII, the common case: the
// preference and catalog readers ask once for every byte of a file.
inline std::size_t Utf8SequenceLength(std::string_view text, std::size_t offset) {
  if (offset < text.size() && static_cast<unsigned char>(text[offset]) < 0x80U) {
    return 1;
  }
  return NonAsciiSequenceLength(text, offset);
}

// The UTF-8 form of `codePoint`, or the empty text when it is no Unicode scalar value
// (a surrogate or a value above U+10FFFF).
std::string EncodeUtf8(char32_t codePoint);

// The number of code points; every byte that starts no well-formed sequence counts as one.
std::size_t CountCodePoints(std::string_view text);

}  // namespace zaf
