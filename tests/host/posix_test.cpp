// The host's services where they rest on POSIX: stand-ins for link() and fsync(), file size
// limits, /proc/self/fd, FIFOs, glibc's heap figures, file modes and the umask, symbolic links,
// flock between processes, fork and kill. A build without POSIX leaves this file out.
//
// The preference file and the repository that keeps it: modes, damaged and unreadable files,
// refused folders and links, a folder swapped while made, a held lock, failed writes and
// flushes, a saving process killed at random, two writers at once.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "host/platform/files.h"
#include "host/platform/program.h"
#include "host/zaf_catalog.h"
#include "host/zaf_dialog.h"
#include "host/zaf_host.h"
#include "host/zaf_system.h"
#include "preference_store.h"
#include "preference_store_test.h"
#include "test_support.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;
using qimtest::CountEntries;
using qimtest::PreferenceStoreTest;
using qimtest::Read;
using qimtest::ReadFile;
using qimtest::Save;
using qimtest::Version;
using qimtest::WriteFile;

// This program's stand-ins for the C library's link(), fsync(), flock(), close(), read(),
// openat() and renameat(), which the host calls too. link() records the name each call links
// from, first writes `madeMeanwhile` (when set) at the target as another process could have
// just then, and while `refuseLink` is set fails as a file system without hard links does.
// fsync() counts the folders it flushes and fails with an I/O error while `failFlush` is set;
// flock() fails for want of locks while `failLock` is set; close() releases the descriptor but
// reports an I/O error (as NFS may on a late write-back) while `failClose` is set; read() and
// renameat() fail with an I/O error while `failRead` or `failRename` is set; openat() refuses
// the name `refuseOpen` (when set) for want of permission.
struct StandIns {
  bool refuseLink = false;
  const char* madeMeanwhile = nullptr;
  std::vector<std::string> linkedFrom;
  bool failFlush = false;
  bool failClose = false;
  bool failLock = false;
  bool failRead = false;
  const char* refuseOpen = nullptr;
  bool failRename = false;
  int foldersFlushed = 0;
};
StandIns standIns;

}  // namespace

extern "C" __attribute__((visibility("default"))) int link(const char* from,
                                                           const char* to) noexcept {
  standIns.linkedFrom.emplace_back(from);
  if (standIns.madeMeanwhile != nullptr)
    WriteFile(to, standIns.madeMeanwhile);
  if (!standIns.refuseLink)
    return ::linkat(AT_FDCWD, from, AT_FDCWD, to, 0);
  errno = EPERM;
  return -1;
}

extern "C" __attribute__((visibility("default"))) int fsync(int descriptor) {
  struct stat status {};
  if (::fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode))
    ++standIns.foldersFlushed;
  if (!standIns.failFlush)
    return static_cast<int>(::syscall(SYS_fsync, descriptor));
  errno = EIO;
  return -1;
}

extern "C" __attribute__((visibility("default"))) int flock(int descriptor, int operation) {
  if (!standIns.failLock)
    return static_cast<int>(::syscall(SYS_flock, descriptor, operation));
  errno = ENOLCK;
  return -1;
}

extern "C" __attribute__((visibility("default"))) int close(int descriptor) {
  const int result = static_cast<int>(::syscall(SYS_close, descriptor));
  if (!standIns.failClose)
    return result;
  errno = EIO;
  return -1;
}

extern "C" __attribute__((visibility("default"))) ssize_t read(int descriptor, void* buffer,
                                                               size_t size) {
  if (!standIns.failRead)
    return static_cast<ssize_t>(::syscall(SYS_read, descriptor, buffer, size));
  errno = EIO;
  return -1;
}

extern "C" __attribute__((visibility("default"))) int openat(int folder, const char* name,
                                                             int flags, ...) {
  std::va_list rest;
  va_start(rest, flags);
  const int mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(rest, int) : 0;
  va_end(rest);
  if (standIns.refuseOpen == nullptr || std::strcmp(name, standIns.refuseOpen) != 0)
    return static_cast<int>(::syscall(SYS_openat, folder, name, flags, mode));
  errno = EACCES;
  return -1;
}

extern "C" __attribute__((visibility("default"))) int renameat(int fromFolder, const char* from,
                                                               int toFolder, const char* to) {
  if (!standIns.failRename)
    return static_cast<int>(::syscall(SYS_renameat, fromFolder, from, toFolder, to));
  errno = EIO;
  return -1;
}

namespace {

// What can go wrong while a file is saved: a file size limit of 16 bytes (as a full disk, the
// write stops short), a flush, a close, the lock, a read, an open or a rename that fails.
enum class Fault { kFileSize, kFlush, kClose, kLock, kRead, kOpen, kRename };

// Runs `action` with `fault` in place and gives its result.
int WithFault(Fault fault, const std::function<int()>& action) {
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = fault == Fault::kFileSize ? 16 : saved.rlim_cur;
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &small);
  standIns.failFlush = fault == Fault::kFlush;
  standIns.failClose = fault == Fault::kClose;
  standIns.failLock = fault == Fault::kLock;
  standIns.failRead = fault == Fault::kRead;
  standIns.refuseOpen = fault == Fault::kOpen ? "QIMSetup.prefs" : nullptr;
  standIns.failRename = fault == Fault::kRename;
  const int result = action();
  standIns.failFlush = standIns.failClose = standIns.failLock = standIns.failRead = false;
  standIns.failRename = false;
  standIns.refuseOpen = nullptr;
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);
  return result;
}

struct stat StatOf(const std::string& path) {
  struct stat status {};
  ::lstat(path.c_str(), &status);
  return status;
}

// A thousand widgets made and deleted leave the heap as it was: delete gives the memory back.
TEST(ObjectTest, DeletedObjectsGiveTheirMemoryBack) {
  const std::size_t before = mallinfo2().uordblks;
  for (int count = 0; count < 1000; ++count)
    delete new ZAFDlgLabel(nullptr, "label", ZAF_STYLE_PLAIN);
  EXPECT_LT(mallinfo2().uordblks, before + 1000 * sizeof(ZAFDlgLabel) / 2);
}

// Files and catalogs the host opens are closed again, also a folder, a file too large to be a
// catalog or one whose reading fails (/proc/self/mem at offset 0); a pipe is no catalog. Each
// refused catalog warns once, one that cannot be opened (a link to itself) with the reason, and
// to stderr when the host has no sink of its own. A descriptor's owner (FileDescriptor) that
// failed to close would show here as well. A lock or an appended file closed says so; a lock
// file that cannot be made is not open; standard descriptors a program was started without
// are held, and a failed close of stdout gives the system's reason.
TEST(DescriptorTest, WhatTheHostOpensItClosesAgain) {
  const qimtest::TempDir folder;
  const qimtest::ScopedHost host(folder.path());
  std::vector<std::string> warnings;
  zaf::SetDiagnosticSink([&warnings](const std::string& line) { warnings.push_back(line); });
  WriteFile(folder.File("file"), "x");
  std::filesystem::create_directory(folder.File("Folder.cat"));
  std::filesystem::create_directory(folder.File("Folder2.cat"));
  WriteFile(folder.File("Huge.cat"), "K = " + std::string(2 << 20, 'x') + "\n");
  ASSERT_EQ(::mkfifo(folder.File("Fifo.cat").c_str(), 0600), 0);
  std::filesystem::create_symlink("/proc/self/mem", folder.File("Unreadable.cat"));
  std::filesystem::create_symlink("Loop.cat", folder.File("Loop.cat"));
  const long before = CountEntries("/proc/self/fd");
  ZAFFILE file = nullptr;
  ASSERT_EQ(ZAFFOpen(folder.File("file").c_str(), "r", &file), 0);
  EXPECT_EQ(ZAFFClose(file), 0);
  EXPECT_LT(ZAFFClose(nullptr), 0);
  EXPECT_EQ(ZAFRscCatalog().LoadRscCatalog("Fifo", nullptr), 0);
  for (const char* catalog : {"Folder", "Huge", "Unreadable", "Loop"})
    EXPECT_EQ(ZAFMsgCatalog::BuildMessage(catalog, "K", nullptr, 0, "fb").str(), "fb") << catalog;
  EXPECT_EQ(CountEntries("/proc/self/fd"), before);
  ASSERT_EQ(warnings.size(), 5U);
  EXPECT_THAT(warnings[4], AllOf(HasSubstr("Loop.cat"), HasSubstr("symbolic links")))
      << "a file that cannot be opened gives the system's reason";
  zaf::SetDiagnosticSink(nullptr);  // without a sink of its own a host's warnings go to stderr
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("Folder2", "K", nullptr, 0, "fb").str(), "fb");
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("Folder2.cat"));

  zaf::platform::LockFile lock(folder.File("lock"));
  zaf::platform::WriteResult opened;
  zaf::platform::AppendedFile log =
      zaf::platform::AppendedFile::Open(folder.File("log"), std::chrono::seconds(0), opened);
  ASSERT_TRUE(lock.IsOpen() && log.IsOpen());
  lock.Close();
  log.Close();
  EXPECT_FALSE(lock.IsOpen() || log.IsOpen()) << "a file closed says so, and is not closed again";
  const zaf::platform::LockFile unopened(folder.File("none/lock"));
  EXPECT_FALSE(unopened.IsOpen()) << unopened.Problem();
  // A program started without stdin and stdout: they are held by the null device, so that no
  // file opened later takes their numbers; closing stdout then fails with an I/O error.
  const pid_t child = ::fork();
  if (child == 0) {  // no GoogleTest in the child: the exit status says it
    ::close(STDIN_FILENO);
    ::close(STDOUT_FILENO);
    const bool closedSeen = zaf::platform::PrepareStandardStreams().outputClosed;
    const bool held = ::open("/dev/null", O_RDONLY) > STDERR_FILENO;
    std::string reason;
    const int closed = WithFault(
        Fault::kClose, [&reason] { return zaf::platform::CloseStandardOutput(reason) ? 1 : 0; });
    ::_exit(closedSeen && held && closed == 0 && reason == std::strerror(EIO) ? 0 : 1);
  }
  int status = -1;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "closed standard descriptors held, and a failed close of stdout told with its reason";
}

// ---- Where a copy claims its target ----

class CopyPlacementTest : public ::testing::Test {
 protected:
  CopyPlacementTest() { WriteFile(folder.File("from"), kContent); }
  ~CopyPlacementTest() override { standIns = {}; }

  // Copies `from` to `to` without overwriting, both relative to the test's folder.
  int CopyInFolder(const char* to) const {
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    const int result = ZAFFCopy("from", to, 0);
    std::filesystem::current_path(previous);
    return result;
  }

  const std::string kContent = "the content of the source";
  qimtest::TempDir folder;
};

// A copy without overwrite makes its temporary file in the target's folder (a bare name is
// relative to the working folder), so that putting it in place is a link or a rename within
// one file system. It claims the target only while it is free, also when another process makes
// it after the copy began, and on a file system without hard links (a check, then a rename); no
// temporary file stays behind (a copy that cannot be written fails: see the failed saves).
TEST_F(CopyPlacementTest, ACopyClaimsItsTargetFromBesideItOnlyWhileItIsFree) {
  std::filesystem::create_directory(folder.File("d"));
  std::filesystem::create_directory(folder.File("dir"));
  for (const auto& [to, hardLinks, madeMeanwhile, temporaryPrefix, why] :
       std::vector<std::tuple<const char*, bool, const char*, std::string, const char*>>{
           {"to", true, nullptr, "./.to.", "a bare name: the working folder"},
           {"d/to", true, nullptr, "d/.to.", "a one-letter folder"},
           {"dir/to", true, nullptr, "dir/.to.", "a longer folder"},
           {"to", true, "other", "./.to.", "the link refuses the name taken meanwhile"},
           {"to", false, nullptr, "./.to.", "no hard links: the rename claims the free name"},
           {"to", false, "other", "./.to.", "no hard links: the check finds the name taken"},
       }) {
    std::filesystem::remove(folder.File(to));
    standIns = {!hardLinks, madeMeanwhile, {}};
    const int result = CopyInFolder(to);
    EXPECT_EQ(result == 0, madeMeanwhile == nullptr) << why << ": " << result;
    EXPECT_EQ(ReadFile(folder.File(to)), madeMeanwhile != nullptr ? madeMeanwhile : kContent)
        << why;
    ASSERT_EQ(standIns.linkedFrom.size(), 1u) << why;
    EXPECT_EQ(standIns.linkedFrom[0].substr(0, temporaryPrefix.size()), temporaryPrefix) << why;
    EXPECT_EQ(standIns.linkedFrom[0].size(), temporaryPrefix.size() + 6) << why;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.path()))
      EXPECT_NE(entry.path().filename().string().rfind(".to.", 0), 0u) << why;
  }
}

// ---- The preference file ----

constexpr int kAbsent = -1;  // none of the writer's settings is there
constexpr int kMixed = -2;   // they are not exactly one whole version

// The version that the settings whose names start with `prefix` are.
int VersionOf(const zaf::PreferenceMap& preferences, const std::string& prefix) {
  zaf::PreferenceMap mine;
  for (const auto& [name, value] : preferences)
    if (name.rfind(prefix, 0) == 0)
      mine.emplace(name, value);
  if (mine.empty())
    return kAbsent;
  const auto* count = std::get_if<std::vector<std::string>>(&mine[prefix + "count"]);
  const int k = count != nullptr && count->size() == 1 ? std::atoi(count->front().c_str()) : kMixed;
  return k >= 0 && mine == Version(prefix, k) ? k : kMixed;
}

// Every entry below `root`: its path, mode, and content or the target it links to.
std::set<std::string> Snapshot(const std::string& root) {
  std::set<std::string> entries;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string path = entry.path().string();
    const struct stat status = StatOf(path);
    entries.insert(path + " " + std::to_string(status.st_mode) + " " +
                   (S_ISLNK(status.st_mode)   ? std::filesystem::read_symlink(path).string()
                    : S_ISREG(status.st_mode) ? ReadFile(path)
                                              : ""));
  }
  return entries;
}

// Forks a writer that saves version `first`, `first + 1`, ... of the settings of `writer`
// (Version's with the prefix "<writer>.", and "LastWriter" = "<writer>:k"; Version's own for
// the writer ""), every third save through a repository that `fresh` opens anew, for as long as
// `next(out, k)` says before each, `out` being the write end of a pipe whose read end goes to
// `report`. It exits with 3 at its first failed save, else 0. An alarm ends a child that hangs,
// so a stuck lock fails the test, not hangs it.
pid_t ForkWriter(const std::function<ZAFSysPreferenceRepository*()>& fresh,
                 const std::string& writer, int first,
                 const std::function<bool(int out, int k)>& next, int& report) {
  int ends[2];
  if (::pipe(ends) != 0)
    return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {  // no destructors, no GoogleTest in the child
    ::close(ends[0]);
    ::alarm(20);
    ZAFSysPreferenceRepository* repository = fresh();
    for (int k = first; next(ends[1], k); ++k) {
      repository = (k - first) % 3 == 2 ? fresh() : repository;
      zaf::PreferenceMap writes = Version(writer.empty() ? "" : writer + ".", k);
      if (!writer.empty())
        writes["LastWriter"] = std::vector<std::string>{writer + ":" + std::to_string(k)};
      if (Save(repository, writes) != 0)
        ::_exit(3);
    }
    ::_exit(0);
  }
  ::close(ends[1]);
  report = ends[0];
  return pid;
}

// The replacement the tool's --output uses is 0600 too, also in place of a file others could
// read (its other cases run on every system, in owner_only_test.cpp).
TEST_F(PreferenceStoreTest, FileIs0600AndCreatedFoldersAre0700WhateverTheUmask) {
  for (const auto& [root, mask, why] : std::vector<std::tuple<const char*, mode_t, const char*>>{
           {"open", 0000, "nothing masked: no bit is added beyond the owner's"},
           {"locked", 0277, "the owner's write masked: what is made read-only is set right"},
       }) {
    Use(folder_.File(std::string(root) + "/a/prefs"));
    const std::string output = folder_.File(std::string(root) + ".out");
    WriteFile(output, "old");
    ASSERT_EQ(::chmod(output.c_str(), 0644), 0);
    const mode_t previous = ::umask(mask);
    const int result = SaveVersion(1);
    const std::string problem = zaf::platform::ReplaceFileOwnerOnly(output, "new");
    ::umask(previous);
    ASSERT_EQ(result, 0) << why;
    ASSERT_EQ(problem, "") << why;
    EXPECT_EQ(StatOf(file_).st_mode & 07777, 0600U) << why;
    EXPECT_EQ(StatOf(output).st_mode & 07777, 0600U) << why;
    for (const std::string folder : {"", "/a", "/a/prefs"})
      EXPECT_EQ(StatOf(folder_.File(root + folder)).st_mode & 07777, 0700U) << why << folder;
  }
  // Neither reading nor a save that changes nothing takes the lock (held meanwhile) or touches
  // an owner-only file; one others may read is rewritten owner-only, with a warning at the
  // read, even unchanged.
  zaf::SetPreferenceLockTimeout(std::chrono::milliseconds(300));
  const ino_t saved = StatOf(file_).st_ino;
  ZAFSysPreferenceRepository* repository = Fresh();
  {
    const qimtest::HeldLock held(file_ + ".lock");
    EXPECT_EQ(Read(repository), "1");
    EXPECT_EQ(repository->SaveRepository(nullptr), 0) << "nothing written";
    EXPECT_EQ(Save(repository, Version("", 1)), 0) << "the settings as the file holds them";
    EXPECT_EQ(StatOf(file_).st_ino, saved) << "the file is left as it is";
  }
  ASSERT_EQ(::chmod(file_.c_str(), 0640), 0);
  lines_.clear();
  repository = Fresh();
  EXPECT_EQ(Read(repository), "1");
  ASSERT_EQ(lines_.size(), 1U);
  EXPECT_THAT(lines_[0], AllOf(::testing::StartsWith(file_), HasSubstr("0640")));
  ASSERT_EQ(Save(repository, Version("", 1)), 0);
  EXPECT_NE(StatOf(file_).st_ino, saved);
  EXPECT_EQ(StatOf(file_).st_mode & 07777, 0600U);
}

// Damaged files hold passwords too: each copy kept aside is owner-only, and only the three
// newest stay ("<file>.corrupt" the newest), so that a file damaged again and again does not
// fill the folder. A file that parses but breaks the repository's own rule (here: no
// preference "forbidden") counts as damaged too.
TEST_F(PreferenceStoreTest, DamagedFilesAreKeptAsideOwnerOnlyAndOnlyTheThreeNewest) {
  zaf::SetPreferenceCheck("QIMSetup", [](const zaf::PreferenceMap& stored) {
    return stored.count("forbidden") != 0 ? "it holds a forbidden preference" : "";
  });
  ASSERT_EQ(SaveVersion(1), 0);
  // Four damaged files, one more than are kept; each reason the reader gives is pinned by the
  // text tests (host_test.cpp), here only that it reaches the warning.
  const std::pair<std::string, const char*> junk[] = {
      {"not preferences\n", "bad header"},
      {"zaf-preferences 1\nint \"forbidden\" 1 1\n", "it holds a forbidden preference"},
      {"", "the file is empty"},
      {"zaf-preferences 1\nint \"a\" 2 5\n", "line 2: the line ends too early"},
  };
  for (const auto& [text, reason] : junk) {
    WriteFile(file_, text);
    ASSERT_EQ(::chmod(file_.c_str(), 0644), 0);
    lines_.clear();
    ZAFSysPreferenceRepository* repository = Fresh();
    EXPECT_EQ(Read(repository), "") << reason;
    EXPECT_EQ(ReadFile(file_), text) << "reading never changes the file";
    ASSERT_EQ(Save(repository, Version("", 2)), 0) << reason;
    ASSERT_EQ(lines_.size(), 3U) << "the mode and the damage at the read, the copy at the save";
    EXPECT_THAT(lines_[1], AllOf(HasSubstr(file_), HasSubstr(reason)));
    EXPECT_THAT(lines_[2], AllOf(HasSubstr(file_), HasSubstr(".corrupt")));
    EXPECT_EQ(InFile(), Version("", 2)) << "nothing of the damaged file is carried over";
  }
  ASSERT_EQ(SaveVersion(3), 0);
  const std::pair<const char*, std::string> kept[] = {
      {".corrupt", junk[3].first}, {".corrupt.1", junk[2].first}, {".corrupt.2", junk[1].first}};
  for (const auto& [name, content] : kept) {
    EXPECT_EQ(ReadFile(file_ + name), content) << name;
    EXPECT_EQ(StatOf(file_ + name).st_mode & 07777, 0600U) << name;
  }
  EXPECT_EQ(Entries(), 5) << "the file, its lock and three damaged copies";
}

// A preference folder another user could fill is refused as OpenSSH refuses such a key
// folder: its settings would name the commands a deployment runs. A settings file that cannot
// be read, a symbolic link included, is never followed or replaced. Each row first saves into
// "real" below a folder of its own, then spoils it; nothing there changes afterwards.
TEST_F(PreferenceStoreTest, AnUnfitFolderOrFileIsNeitherReadNorReplaced) {
  struct Case {
    const char* folder;  // the preference folder given, below the row's folder
    std::function<void(const std::string& root)> spoil;
    const char* reason;  // in each line
    std::size_t lines;   // at the read and at the save
    bool unfitFolder;    // PreferenceFolderProblem names the folder and the reason
    const char* why;
  };
  // An action on the entry `name` below the row's folder.
  const auto at = [](const char* name, auto action) {
    return [name, action](const std::string& root) { action((root + "/" + name).c_str()); };
  };
  const auto mode = [&at](mode_t bits) { return at("real", [bits](auto p) { ::chmod(p, bits); }); };
  const char* const file = "real/QIMSetup.prefs";
  std::vector<Case> cases = {
      {"real", mode(0777), "group or others may write", 2, true, "mode 0777"},
      {"real", mode(0730), "group or others may write", 2, true, "group write"},
      {"link", at("link", [](auto p) { ::symlink("real", p); }), "is a symbolic link", 2, true,
       "a link to a good folder"},
      {file, [](const std::string&) {}, "is not a folder", 2, true, "a regular file"},
      {"plain/prefs", at("plain", [](auto p) { WriteFile(p, "a regular file"); }),
       "Not a directory", 1, false, "a folder below a regular file cannot be made"},
      {"real",
       at(file,
          [](auto p) {
            ::rename(p, (std::string(p) + ".elsewhere").c_str());
            ::symlink("QIMSetup.prefs.elsewhere", p);
          }),
       "symbolic link", 2, false, "a settings file that is a link"},
      {"real",
       at(file,
          [](auto p) {
            ::unlink(p);
            ::mkdir(p, 0700);
          }),
       "it is a folder", 2, false, "a settings file that is a folder"},
      {"real", at(file, [](auto p) { WriteFile(p, std::string((1 << 20) + 1, 'x')); }),
       "larger than 1 MiB", 2, false, "a settings file over the size limit"},
  };
  if (::geteuid() == 0) {
    cases.push_back({"real", at("real", [](auto p) { ::chown(p, 65534, 65534); }),
                     "belongs to user 65534", 2, true, "another user's folder"});
  }
  for (std::size_t row = 0; row < cases.size(); ++row) {
    const Case& test = cases[row];
    SCOPED_TRACE(test.why);
    const std::string root = folder_.File(std::to_string(row));
    Use(root + "/real");
    ASSERT_EQ(SaveVersion(1), 0);
    test.spoil(root);
    Use(root + "/" + test.folder);
    const std::string problem = zaf::PreferenceFolderProblem(prefs_);
    if (test.unfitFolder) {
      EXPECT_THAT(problem, AllOf(HasSubstr("'" + prefs_ + "'"), HasSubstr(test.reason)));
    } else {
      EXPECT_EQ(problem, "");
    }
    const std::set<std::string> before = Snapshot(root);
    lines_.clear();
    ZAFSysPreferenceRepository* repository = Fresh();
    EXPECT_EQ(Read(repository), "");
    EXPECT_LT(Save(repository, Version("", 2)), 0);
    ASSERT_EQ(lines_.size(), test.lines);
    for (const std::string& line : lines_)
      EXPECT_THAT(line, AllOf(HasSubstr(file_), HasSubstr(test.reason)));
    EXPECT_EQ(Snapshot(root), before);
  }
}

// Another local user who may write the parent folder renames the preference folder a save
// just made and puts a symbolic link to a file or folder of theirs in its place, again and
// again. A chmod by name would change the mode of what the link leads to, and a file opened by
// name would be written there; through the folder's descriptor neither can happen.
TEST_F(PreferenceStoreTest, AFolderSwappedForALinkWhileSavesMakeItIsNeverFollowed) {
  const std::string victimFile = folder_.File("victim-file");
  const std::string victimFolder = folder_.File("victim-folder");
  const std::string trash = folder_.File("trash");
  WriteFile(victimFile, "theirs");
  ASSERT_EQ(::chmod(victimFile.c_str(), 0644), 0);
  ASSERT_EQ(::mkdir(victimFolder.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(victimFolder.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(trash.c_str(), 0700), 0);
  const auto victimsTouched = [&] {
    return (StatOf(victimFile).st_mode & 07777) != 0644 ||
           (StatOf(victimFolder).st_mode & 07777) != 0755 || CountEntries(victimFolder) != 0;
  };
  std::atomic<bool> stop{false};
  std::thread attacker([&] {
    for (long round = 0; !stop; ++round) {
      const std::string moved = trash + "/" + std::to_string(round);
      ::rename(prefs_.c_str(), moved.c_str());
      ::symlink((round % 2 == 0 ? victimFile : victimFolder).c_str(), prefs_.c_str());
      for (int spin = 0; spin < 200 && !stop; ++spin)
        std::atomic_signal_fence(std::memory_order_seq_cst);
      ::unlink(prefs_.c_str());
    }
  });
  int saves = 0;
  int saved = 0;
  const auto end = Clock::now() + std::chrono::seconds(3);
  while (Clock::now() < end && !victimsTouched())
    saved += SaveVersion(saves++) == 0 ? 1 : 0;
  stop = true;
  attacker.join();
  EXPECT_FALSE(victimsTouched()) << "after " << saves << " saves";
  EXPECT_EQ(ReadFile(victimFile), "theirs");
  EXPECT_GT(saves, 50) << "too few saves to have met the attacker";
  EXPECT_GT(saved, 0) << "no save went through between the swaps";
}

// A save whose lock or read of the file fails, or whose temporary file cannot be written whole
// (a full disk), flushed, closed or renamed over the file, fails with one line naming the step
// and the system's reason, and leaves the old file byte for byte and no temporary file; a copy
// (which takes no lock) fails the same way and leaves neither its target nor its temporary file.
TEST_F(PreferenceStoreTest, AFailedLockWriteFlushOrCloseLeavesTheOldFileAsItWas) {
  const int foldersFlushed = standIns.foldersFlushed;
  ASSERT_EQ(SaveVersion(1), 0);
  EXPECT_GT(standIns.foldersFlushed, foldersFlushed) << "the renamed entry is flushed too";
  const std::string stored = ReadFile(file_);
  for (const auto& [fault, step, reason] :
       {std::tuple{Fault::kFileSize, "cannot write ", EFBIG},
        std::tuple{Fault::kFlush, "cannot flush ", EIO},
        std::tuple{Fault::kClose, "cannot close ", EIO},
        std::tuple{Fault::kLock, "cannot lock ", ENOLCK},
        std::tuple{Fault::kRead, "exists but cannot be read", EIO},
        std::tuple{Fault::kOpen, "exists but cannot be read", EACCES},
        std::tuple{Fault::kRename, "cannot rename ", EIO}}) {
    lines_.clear();
    EXPECT_LT(WithFault(fault, [this] { return SaveVersion(2); }), 0) << step;
    const bool read = fault == Fault::kRead || fault == Fault::kOpen;
    ASSERT_EQ(lines_.size(), read ? 2U : 1U) << "at the read too: " << step;
    EXPECT_THAT(lines_.back(),
                AllOf(HasSubstr(file_), HasSubstr(step), HasSubstr(strerror(reason))));
    EXPECT_EQ(ReadFile(file_), stored) << step;
    if (fault == Fault::kLock || fault == Fault::kOpen || fault == Fault::kRename)
      continue;  // a copy takes no lock, opens its source by its path and links its target
    EXPECT_LT(
        WithFault(fault, [this] { return ZAFFCopy(file_.c_str(), (file_ + "2").c_str(), 0); }), 0)
        << step;
    EXPECT_EQ(Entries(), 2) << step << ": the file and its lock, no temporary file, no copy";
  }
}

// The next save removes the temporary files killed saves left, and only those: not another
// repository's ("Other.prefs.tmp.999999"), which lies in the folder from the start.
TEST_F(PreferenceStoreTest, SaveKilledAtRandomMomentsLeavesAWholeVersionAndNeverBlocksTheNext) {
  // The kills fall among a child's first few saves: up to three times what one save takes.
  const auto calibration = Clock::now();
  for (int k = 0; k < 5; ++k)
    ASSERT_EQ(SaveVersion(k), 0);
  WriteFile(prefs_ + "/Other.prefs.tmp.999999", "another repository's");
  const auto longest = std::max<Clock::duration>(3 * (Clock::now() - calibration) / 5,
                                                 std::chrono::microseconds(300));
  ASSERT_EQ(::unlink(file_.c_str()), 0);  // the first child starts without a file
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<Clock::rep> delay(0, longest.count());

  int lastKnown = kAbsent;  // the version in the file before the round
  int roundsWithLeftovers = 0;
  auto slowestNextSave = Clock::duration::zero();
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const int base = lastKnown + 1;
    // The child sends a byte before its first save, then one each time a save returned.
    int report = -1;
    const pid_t child = ForkWriter([this] { return Fresh(); }, "", base,
                                   [](int out, int) { return ::write(out, "s", 1) == 1; }, report);
    ASSERT_GT(child, 0);
    char started = 0;
    ASSERT_EQ(::read(report, &started, 1), 1);
    std::this_thread::sleep_for(Clock::duration(delay(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "it ended before the kill";
    int saves = 0;  // the bytes left in the pipe
    ASSERT_EQ(::ioctl(report, FIONREAD, &saves), 0);
    ::close(report);
    const int lastSaved = saves == 0 ? lastKnown : base + saves - 1;

    // The file holds the last version whose save returned, or the next one when the kill came
    // after its rename; it may be missing only before any save.
    const int inFile = qimtest::FileExists(file_) ? VersionOf(InFile().value(), "") : kAbsent;
    ASSERT_TRUE(inFile == lastSaved || inFile == lastSaved + 1)
        << "the file holds " << inFile << "; the last save that returned was " << lastSaved;
    roundsWithLeftovers += Entries() > 3 ? 1 : 0;

    // The dead child's lock is gone: the next save goes through at once.
    const int next = std::max(inFile, lastSaved) + 2;
    const auto saveStart = Clock::now();
    ASSERT_EQ(SaveVersion(next), 0);
    slowestNextSave = std::max(slowestNextSave, Clock::now() - saveStart);
    ASSERT_EQ(InFile(), Version("", next));
    ASSERT_EQ(Entries(), 3) << "the file, its lock and the other repository's temporary file";
    lastKnown = next;
  }
  EXPECT_GT(roundsWithLeftovers, 0) << "no kill came while a temporary file was written";
  EXPECT_TRUE(lines_.empty());
  EXPECT_LT(slowestNextSave, std::chrono::seconds(2)) << "the save after a kill waited";
}

// Each writer saves its own settings ("A." or "B.") and the shared "LastWriter" ("A:k" or
// "B:k"). Every look at the file must parse; each writer's settings are absent or one whole
// version that never goes back; "LastWriter" names the version its writer has in that file;
// and at the end both writers' last versions are there: no save lost another's.
TEST_F(PreferenceStoreTest, TwoProcessesSavingAtOnceNeverTearOrLoseSettings) {
  constexpr int kSaves = 200;
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  pid_t pids[2] = {};
  for (int index = 0; index < 2; ++index) {
    const std::string writer = index == 0 ? "A" : "B";
    // Saves 0 .. kSaves - 1 once both may start. A pause between saves, as real writers have:
    // a writer that takes the lock again at once could otherwise hold it through all its saves
    // and the two never overlap.
    int report = -1;
    pids[index] = ForkWriter([this] { return Fresh(); }, writer, 0,
                             [&go](int, int k) {
                               char byte = 0;
                               if (k == 0)
                                 return ::read(go[0], &byte, 1) == 1;
                               std::this_thread::sleep_for(std::chrono::milliseconds(2));
                               return k < kSaves;
                             },
                             report);
    ASSERT_GT(pids[index], 0);
    ::close(report);
  }
  ::close(go[0]);
  ASSERT_EQ(::write(go[1], "go", 2), 2);
  ::close(go[1]);

  std::map<std::string, int> seen = {{"A", kAbsent}, {"B", kAbsent}};
  int looksWhileBothSave = 0;
  int status[2] = {};
  for (bool ended[2] = {}; !(ended[0] && ended[1]);) {
    for (int index = 0; index < 2; ++index)
      ended[index] = ended[index] || ::waitpid(pids[index], &status[index], WNOHANG) > 0;
    std::this_thread::sleep_for(std::chrono::microseconds(200));  // leave the writers a core
    if (qimtest::FileExists(file_)) {
      const zaf::PreferenceMap preferences = InFile().value();  // throws when it does not parse
      for (auto& [writer, version] : seen) {
        const int now = VersionOf(preferences, writer + ".");
        ASSERT_NE(now, kMixed) << "the settings of " << writer << " are torn";
        ASSERT_GE(now, version) << writer << " went back";
        version = now;
      }
      const auto last = std::get<std::vector<std::string>>(preferences.at("LastWriter")).at(0);
      EXPECT_EQ(last, last.substr(0, 1) + ":" + std::to_string(seen.at(last.substr(0, 1))));
      looksWhileBothSave +=
          seen["A"] >= 0 && seen["B"] >= 0 && seen["A"] < kSaves - 1 && seen["B"] < kSaves - 1;
    }
  }
  for (const int code : status)
    EXPECT_TRUE(WIFEXITED(code) && WEXITSTATUS(code) == 0) << "a save failed";
  EXPECT_GT(looksWhileBothSave, 0) << "the writers never saved at the same time: no test";
  EXPECT_EQ(seen, (std::map<std::string, int>{{"A", kSaves - 1}, {"B", kSaves - 1}}));
  EXPECT_EQ(InFile()->size(), 5U) << "two settings of each writer and the shared one";
  EXPECT_EQ(Entries(), 2) << "no temporary file left";
}

}  // namespace
