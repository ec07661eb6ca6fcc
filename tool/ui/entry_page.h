#pragma once
// The way into the dialog from the operator's browser: a page only this user can read that
// sends the browser on to the address with the one-time code, and xdg-open on that page. The
// code never reaches a command line, which every local user can read in /proc.

#include <string>

namespace wassetup {

// A page in a fresh folder of mode 0700 (under $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp), the
// file itself 0600, which sends the browser on to `address`. Removed with its folder when it
// goes. Throws ToolError when it cannot be written.
class EntryFile {
 public:
  explicit EntryFile(const std::string& address);
  ~EntryFile();
  EntryFile(const EntryFile&) = delete;
  EntryFile& operator=(const EntryFile&) = delete;

  const std::string& path() const { return path_; }

 private:
  void Remove();

  std::string folder_;
  std::string path_;
};

// Starts xdg-open on `file` and returns; when it cannot start or fails, a hint on stderr says
// to open the address by hand.
void OpenInBrowser(const std::string& file);

}  // namespace wassetup
