#pragma once
// The line end shared by both systems' consoles: a line typed or piped on Windows ends in
// CR LF, and the LF is already gone when the line reaches here.

namespace zaf::platform {

// Drops the CR that ends `line`, if any; `Text` is a narrow or a wide string.
template <typename Text>
void DropCarriageReturn(Text& line) {
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
}

}  // namespace zaf::platform
