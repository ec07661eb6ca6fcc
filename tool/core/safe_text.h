#pragma once
// What the tool prints is built from operator text (settings, paths, environment) that may hold
// any bytes. These functions make that text safe to print: a terminal never receives a control
// sequence or a line break it did not come from us, and a JSON reader never meets invalid UTF-8.

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace wassetup {

// `text` with every character that could move the cursor, start an escape sequence or turn
// the text around written visibly instead: "\n", "\r" and "\t"; "\xHH" for the other C0
// controls, DEL and each byte that is not part of valid UTF-8; "\uXXXX" for the C1 controls,
// the line and paragraph separators and the bidirectional overrides. Everything else (a
// backslash included) is kept as it is, so ordinary text and Windows paths read unchanged.
std::string Printable(std::string_view text);
// Appends Printable(text) to `out`, without a string of its own.
void AppendPrintable(std::string& out, std::string_view text);

// The JSON text of a document, indented by `indent` blanks a level (-1: on one line). Invalid UTF-8
// in a string becomes U+FFFD (the replacement character) instead of failing the whole document;
// control characters are escaped by JSON itself.
std::string JsonText(const nlohmann::ordered_json& document, int indent = 2);
std::string JsonText(const nlohmann::json& document, int indent = 2);

// The names joined by ", ", for messages that list what there is.
std::string JoinedNames(const std::vector<std::string>& names);

}  // namespace wassetup
