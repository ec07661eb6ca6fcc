#pragma once
// The way into the dialog from the operator's browser: a page only this user can read that
// sends the browser on to the address with the one-time code, opened with the desktop's
// handler. The code never reaches a command line, which every local user can read.

#include <string>

namespace wassetup {

// A page in a fresh owner-only folder of the user's runtime folder (on POSIX mode 0700 under
// $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp, the file 0600; on Windows in the user's temporary
// folder, with an access list for the user alone), which sends the browser on to `address`.
// Removed with its folder when it goes. Throws ToolError when it cannot be written.
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

// Opens `file` with the desktop's handler (xdg-open; on Windows the shell) and returns; when
// it cannot start or fails, a hint on stderr says to open the address by hand.
void OpenInBrowser(const std::string& file);

}  // namespace wassetup
