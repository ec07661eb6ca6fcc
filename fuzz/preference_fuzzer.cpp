// Fuzzes the preference file reader and writer. The input is the text of a preference file:
// it loads or is refused with a one-line reason; what loads is written again, and that text
// must be UTF-8, load back to the same preferences and be written again unchanged.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "host/utf8.h"
#include "preference_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  const std::optional<zaf::PreferenceMap> loaded =
      zaf::ParsePreferences(std::string_view(reinterpret_cast<const char*>(data), size), error);
  if (!loaded) {
    Require(!error.empty() && error.find('\n') == std::string::npos, "a one-line reason");
    return 0;
  }
  const std::string written = zaf::SerializePreferences(*loaded);
  const std::optional<zaf::PreferenceMap> again = zaf::ParsePreferences(written, error);
  Require(zaf::IsValidUtf8(written) && again.has_value() && error.empty() && *again == *loaded,
          "what loads is written as UTF-8 and loads back the same");
  Require(zaf::SerializePreferences(*again) == written, "writing is the same the second time");
  return 0;
}
