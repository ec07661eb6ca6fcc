#pragma once
// The page of the setup dialog in the browser: HTML, CSS and JavaScript from tool/ui/page/,
// compiled into the tool (tool/ui/embed_files.cmake writes them into a generated source).

#include <cstddef>
#include <string>

namespace wassetup {

struct UiPageFile {
  const char* name;  // the file's name in tool/ui/page/
  const unsigned char* data;
  std::size_t size;
};

// Defined in the generated source.
extern const UiPageFile kUiPageFiles[];
extern const std::size_t kUiPageFileCount;

// The embedded file of that name; empty when there is none.
std::string UiPageFileText(const std::string& name);

// The page as served: index.html with the style sheet and the script put inline, both marked
// with `nonce`, so that the page's Content-Security-Policy lets them, and nothing else, run.
std::string UiPageDocument(const std::string& nonce);

// The Content-Security-Policy header that goes with the page of that nonce: no script, style,
// frame, form target or connection other than the page's own.
std::string UiPageSecurityPolicy(const std::string& nonce);

}  // namespace wassetup
