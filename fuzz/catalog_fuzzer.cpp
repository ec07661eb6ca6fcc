// Fuzzes the catalog parser and the placeholder filling.
//
// The input is the text of a catalog file, so real catalogs make good seeds. Whatever the
// parser accepts is then checked:
// - every key is usable (not empty, no blank, no tab, no '=', no '#' first) and found again;
// - every text has its placeholders filled with parameters drawn from the catalog's own
//   entries and a few awkward texts, with every count from -1 to 10 and a null array;
// - the entries, written back as a catalog, parse to the same entries without a warning.
// A broken rule aborts, so libFuzzer reports it like a crash.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/catalog_file.h"
#include "host/utf8.h"
#include "host/zaf_string.h"

namespace {

using qimfuzz::Require;

// The text as a catalog line would carry it: every blank, tab, new line and backslash
// escaped, so that trimming and line splitting leave it whole.
std::string Escaped(std::string_view text) {
  std::string out;
  for (const char character : text) {
    switch (character) {
      case ' ':
        out += "\\s";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += character;
    }
  }
  return out;
}

// A catalog file that holds exactly `entries`, or nothing when one of the texts cannot be
// written: a carriage return at its end would be taken for the line's CRLF ending.
bool WriteCatalog(const zaf::CatalogEntries& entries, std::string& text) {
  for (const auto& [key, value] : entries) {
    if (!value.empty() && value.back() == '\r') {
      return false;
    }
    text += key + " = " + Escaped(value) + "\n";
  }
  return true;
}

void CheckKey(const std::string& key, const zaf::CatalogEntries& entries) {
  Require(!key.empty(), "a key is not empty");
  Require(key.find_first_of(" \t=\n") == std::string::npos, "a key holds no blank, '=' or EOL");
  Require(key.front() != '#', "a key does not start a comment");
  Require(zaf::IsValidUtf8(key), "a key is valid UTF-8");
  Require(entries.find(key) != entries.end(), "a key is found again");
}

void CheckFilling(const std::string& text, const std::vector<ZAFUnicodeString>& parameters) {
  const std::string bare = zaf::FillPlaceholders(text, nullptr, 9);
  Require(bare == zaf::FillPlaceholders(text, parameters.data(), 0),
          "a null array fills as no parameter");
  Require(bare == zaf::FillPlaceholders(text, parameters.data(), -1),
          "a negative count fills as no parameter");
  Require(bare.size() <= text.size(), "filling without parameters never lengthens a text");
  if (text.find('%') == std::string::npos) {
    Require(bare == text, "a text without '%' stays as it is");
  }
  for (int count = -1; count <= 10; ++count) {
    const int usable = count < 0 ? 0 : (count > 9 ? 9 : count);
    const std::string filled = zaf::FillPlaceholders(text, parameters.data(), usable);
    if (text.find('%') == std::string::npos) {
      Require(filled == text, "a text without '%' stays as it is, parameters or not");
    }
  }
}

// Up to nine parameters: the catalog's own texts and keys, then a few awkward ones.
std::vector<ZAFUnicodeString> ParametersFrom(const zaf::CatalogEntries& entries) {
  std::vector<ZAFUnicodeString> parameters;
  for (const auto& [key, value] : entries) {
    if (parameters.size() >= 6) {
      break;
    }
    parameters.emplace_back(parameters.size() % 2 == 0 ? value : key);
  }
  for (const char* awkward : {"%1%2%%", "", "\xFF\xFE", "%9", "%", "a\nb", "%%%", "%0", "x"}) {
    if (parameters.size() >= 9) {
      break;
    }
    parameters.emplace_back(awkward);
  }
  return parameters;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string fileName = "fuzz.cat";
  const zaf::ParsedCatalog parsed = zaf::ParseCatalog(text, fileName);

  for (const std::string& warning : parsed.warnings) {
    Require(warning.compare(0, fileName.size(), fileName) == 0, "a warning names the file");
  }
  if (!parsed.isCatalog) {
    Require(parsed.entries.empty(), "a refused file has no entries");
    Require(parsed.warnings.size() == 1, "a refused file gives one reason");
    return 0;
  }

  const std::vector<ZAFUnicodeString> parameters = ParametersFrom(parsed.entries);
  for (const auto& [key, value] : parsed.entries) {
    CheckKey(key, parsed.entries);
    Require(zaf::IsValidUtf8(value), "a text is valid UTF-8");
    CheckFilling(value, parameters);
  }

  std::string rewritten;
  if (WriteCatalog(parsed.entries, rewritten)) {
    const zaf::ParsedCatalog again = zaf::ParseCatalog(rewritten, fileName);
    Require(again.isCatalog, "the written catalog is a catalog");
    Require(again.warnings.empty(), "the written catalog reads without a warning");
    Require(again.entries == parsed.entries, "the written catalog reads back the same entries");
  }
  return 0;
}
