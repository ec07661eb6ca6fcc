#pragma once
// UTF-8 and UTF-16 for the Win32 implementations, in Windows builds only: the host's texts are
// UTF-8, and every Win32 call takes and gives UTF-16 (the W functions). Bytes that are not
// UTF-8, and UTF-16 units that pair with nothing, become U+FFFD.

#include <string>
#include <string_view>

#include "host/zaf_export.h"

namespace zaf::platform {

ZAF_API std::wstring WideFromUtf8(std::string_view text);
ZAF_API std::string Utf8FromWide(std::wstring_view text);

// The system's wording of the Win32 error `error`, without its final period.
ZAF_API std::string SystemErrorText(unsigned long error);

}  // namespace zaf::platform
