#include "ui/entry_page.h"

#include <filesystem>
#include <iostream>
#include <system_error>

#include "core/tool_error.h"
#include "host/platform/desktop.h"
#include "host/platform/files.h"

namespace wassetup {

// The desktop's handler gets the entry file, never the address: a command line is readable
// by every local user.
void OpenInBrowser(const std::string& file) {
  zaf::platform::OpenWithDesktop(file, [](const std::string& reason) {
    std::cerr << "wassetup: could not open a browser (" << reason
              << "); open the address above in a browser on this machine\n";
  });
}

EntryFile::EntryFile(const std::string& address) {
  const std::string base = zaf::platform::UserRuntimeFolder();
  folder_ = zaf::platform::MakeUniqueFolder(base, "wassetup-ui.");
  if (folder_.empty()) {
    throw ToolError("cannot make a folder for the dialog's entry page in " + base);
  }
  path_ = (std::filesystem::u8path(folder_) / "open.html").u8string();
  const std::string page =
      "<!doctype html>\n<html><head><meta charset=\"utf-8\">"
      "<meta name=\"referrer\" content=\"no-referrer\">"
      "<meta http-equiv=\"refresh\" content=\"0;url=" +
      address +
      "\"><title>wassetup ui</title></head>\n"
      "<body><p>Opening the setup dialog&hellip;</p></body></html>\n";
  const std::string problem = zaf::platform::ReplaceFileOwnerOnly(path_, page);
  if (!problem.empty()) {
    Remove();
    throw ToolError("cannot write the dialog's entry page " + path_ + ": " + problem);
  }
}

EntryFile::~EntryFile() {
  Remove();
}

void EntryFile::Remove() {
  std::error_code ignored;
  std::filesystem::remove(std::filesystem::u8path(path_), ignored);
  std::filesystem::remove(std::filesystem::u8path(folder_), ignored);
}

}  // namespace wassetup
