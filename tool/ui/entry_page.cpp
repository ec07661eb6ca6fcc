#include "ui/entry_page.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>

#include "core/tool_error.h"
#include "host/file_descriptor.h"

namespace wassetup {

namespace {

void BrowserHint(const std::string& why) {
  std::cerr << "wassetup: could not open a browser (" << why
            << "); open the address above in a browser on this machine\n";
}

}  // namespace

// xdg-open on the entry file (never on the address: a command line is readable by every
// local user), in a process group of its own (a browser it starts must not get the Ctrl+C
// that stops the tool), its output discarded and none of the server's descriptors open.
void OpenInBrowser(const std::string& file) {
  std::string program = "xdg-open";
  std::string argument = file;
  char* argv[] = {program.data(), argument.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, argv[0], &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    BrowserHint(std::string("xdg-open: ") + std::strerror(error));
    return;
  }
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      BrowserHint("xdg-open failed");
    }
  }).detach();
}

EntryFile::EntryFile(const std::string& address) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const char* temporary = std::getenv("TMPDIR");
  std::string base = runtime != nullptr && *runtime != '\0'       ? runtime
                     : temporary != nullptr && *temporary != '\0' ? temporary
                                                                  : "/tmp";
  std::string pattern = base + "/wassetup-ui.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw ToolError("cannot make a folder for the dialog's entry page in " + base + ": " +
                    std::strerror(errno));
  }
  folder_ = pattern;
  path_ = folder_ + "/open.html";
  const std::string page =
      "<!doctype html>\n<html><head><meta charset=\"utf-8\">"
      "<meta name=\"referrer\" content=\"no-referrer\">"
      "<meta http-equiv=\"refresh\" content=\"0;url=" +
      address +
      "\"><title>wassetup ui</title></head>\n"
      "<body><p>Opening the setup dialog&hellip;</p></body></html>\n";
  const zaf::FileDescriptor file(
      ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  const bool written =
      file && ::write(file.get(), page.data(), page.size()) == static_cast<ssize_t>(page.size());
  const int error = errno;
  if (!written) {
    Remove();
    throw ToolError("cannot write the dialog's entry page " + path_ + ": " + std::strerror(error));
  }
}

EntryFile::~EntryFile() {
  Remove();
}

void EntryFile::Remove() {
  ::unlink(path_.c_str());
  ::rmdir(folder_.c_str());
}

}  // namespace wassetup
