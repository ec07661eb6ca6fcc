// Fuzzes the preference file reader and writer.
//
// The input is read twice:
// - as the text of a preference file, so real files make good seeds: it either loads or is
//   refused with a reason naming a line; what loads is written again, and that text must load
//   back to the same preferences and be written again unchanged;
// - as raw material for preferences the writer must carry: the bytes are cut at 0xFE bytes
//   into names and values of any bytes at all, which must come back exactly.
// A broken rule aborts, so libFuzzer reports it like a crash.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/preference_file.h"
#include "host/utf8.h"

namespace {

using qimfuzz::Require;

// Writes `preferences`, reads them back and writes them again.
void CheckRoundTrip(const zaf::PreferenceMap& preferences) {
  const std::string written = zaf::SerializePreferences(preferences);
  Require(zaf::IsValidUtf8(written), "a written file is valid UTF-8");
  std::string error;
  const std::optional<zaf::PreferenceMap> read = zaf::ParsePreferences(written, error);
  Require(read.has_value(), "a written file loads");
  Require(error.empty(), "a file that loads reports no error");
  Require(*read == preferences, "a written file loads the same preferences");
  Require(zaf::SerializePreferences(*read) == written, "writing is the same the second time");
}

void CheckFileText(std::string_view text) {
  std::string error;
  const std::optional<zaf::PreferenceMap> loaded = zaf::ParsePreferences(text, error);
  if (!loaded) {
    Require(!error.empty(), "a refused file has a reason");
    Require(error.find('\n') == std::string::npos, "the reason is one line");
    return;
  }
  CheckRoundTrip(*loaded);
}

// Preferences made of the input's pieces (cut at 0xFE): a name, then its values. A piece
// that starts with 0xFD gives integers made of its next bytes; any other piece gives texts.
zaf::PreferenceMap PreferencesFromBytes(std::string_view bytes) {
  std::vector<std::string_view> pieces;
  for (std::size_t start = 0;;) {
    const std::size_t end = bytes.find('\xFE', start);
    pieces.push_back(bytes.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) {
      break;
    }
    start = end + 1;
  }
  zaf::PreferenceMap preferences;
  for (std::size_t index = 0; index + 1 < pieces.size(); index += 2) {
    const std::string name(pieces[index]);
    const std::string_view value = pieces[index + 1];
    if (!value.empty() && value.front() == '\xFD') {
      std::vector<int> numbers{INT_MIN, INT_MAX};
      for (std::size_t offset = 1; offset + 4 <= value.size(); offset += 4) {
        std::int32_t number = 0;
        std::memcpy(&number, value.data() + offset, sizeof number);
        numbers.push_back(number);
      }
      preferences[name] = std::move(numbers);
    } else {
      // The same bytes as one text, and cut again at the blanks, to give several texts.
      std::vector<std::string> texts{std::string(value)};
      for (std::size_t start = 0; start <= value.size();) {
        const std::size_t blank = value.find(' ', start);
        texts.emplace_back(
            value.substr(start, blank == std::string_view::npos ? blank : blank - start));
        if (blank == std::string_view::npos) {
          break;
        }
        start = blank + 1;
      }
      preferences[name] = std::move(texts);
    }
  }
  return preferences;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckFileText(bytes);
  CheckRoundTrip(PreferencesFromBytes(bytes));
  return 0;
}
