// Fuzzes the catalog parser and the placeholder filling. The input is the text of a catalog
// file. A refused file gives one reason; what loads has usable keys and valid UTF-8 texts;
// each text is filled with every count of awkward parameters; and the entries, written back as a
// catalog, read back the same without a warning.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "catalog_file.h"
#include "fuzz_support.h"
#include "host/utf8.h"
#include "host/zaf_string.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const zaf::ParsedCatalog parsed =
      zaf::ParseCatalog(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.cat");
  Require(parsed.isCatalog || (parsed.entries.empty() && parsed.warnings.size() == 1),
          "a refused file has no entries and one reason");
  // Nine parameters: the catalog's first text, then awkward ones.
  const std::string first(parsed.entries.empty() ? "x" : parsed.entries.begin()->second);
  const ZAFUnicodeString parameters[9] = {first, "%1%2%%", "",    "\xFF\xFE", "%9",
                                          "%",   "a\nb",   "%%%", "%0"};
  std::string rewritten;  // the entries as a catalog file again, each text escaped
  bool writable = true;   // false when a text ends in a CR, which would pass for a CRLF
  for (const auto& [key, value] : parsed.entries) {
    Require(!key.empty() && key.find_first_of(" \t=\n") == std::string_view::npos &&
                key[0] != '#' && zaf::IsValidUtf8(key) && zaf::IsValidUtf8(value),
            "a key is usable and a text valid UTF-8");
    for (int count = -1; count <= 9; ++count)  // -1: a null array
      zaf::FillPlaceholders(value, count < 0 ? nullptr : parameters, count < 0 ? 9 : count);
    writable = writable && (value.empty() || value.back() != '\r');
    rewritten.append(key).append(" = ");
    for (const char c : value) {  // a blank, a tab, a new line and a backslash are escaped
      const std::size_t special = std::string_view(" \t\n\\").find(c);
      rewritten += special == std::string_view::npos ? std::string(1, c)
                                                     : std::string{'\\', "stn\\"[special]};
    }
    rewritten += "\n";
  }
  const zaf::ParsedCatalog again = zaf::ParseCatalog(rewritten, "fuzz.cat");
  Require(!writable || (again.warnings.empty() && again.entries == parsed.entries),
          "the entries written as a catalog read back the same");
  return 0;
}
