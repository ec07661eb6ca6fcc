#pragma once
// The host's check of UTF-8 text, for callers that must tell text from raw bytes.

#include <string_view>

#include "host/zaf_api.h"

namespace zaf {

// True when all of `text` is well-formed UTF-8.
ZAF_API bool IsValidUtf8(std::string_view text);

}  // namespace zaf
