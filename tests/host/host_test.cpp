// The host's services: strings (null versus empty, stripping, length, concatenation), 1-based
// lists, the allocator, path joins, file copies, catalogs and the notification chain.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "catalog_file.h"
#include "host/file_descriptor.h"
#include "host/platform/files.h"
#include "host/zaf_catalog.h"
#include "host/zaf_dialog.h"
#include "host/zaf_host.h"
#include "host/zaf_list.h"
#include "host/zaf_string.h"
#include "host/zaf_system.h"
#include "test_support.h"

namespace {

using ::testing::HasSubstr;

const char* const kNull = nullptr;

TEST(UnicodeStringTest, NullDiffersFromEmpty) {
  const ZAFUnicodeString null(kNull);
  const ZAFUnicodeString empty;
  EXPECT_TRUE(null.IsNull() && null.IsEmpty() && !empty.IsNull());
  EXPECT_EQ(static_cast<const char*>(null), nullptr);
  EXPECT_STREQ(static_cast<const char*>(empty), "");
  EXPECT_TRUE(null == kNull && empty == "");
  EXPECT_FALSE(null == "" || empty == kNull || null == empty);
}

TEST(UnicodeStringTest, ConcatenationNeverGivesNull) {
  const ZAFUnicodeString null(kNull);
  EXPECT_FALSE((null + null).IsNull());
  EXPECT_TRUE(("a" + null + "b") == "ab");
}

TEST(UnicodeStringTest, StripRemovesWholeCharactersAtTheNamedEnds) {
  struct Case {
    const char* text;
    int mode;
    char32_t character;
    const char* expected;
    const char* why;
  };
  for (const auto& [text, mode, character, expected, why] : std::vector<Case>{
           {"  a b  ", ZAF_STRIP_BOTH, U' ', "a b", "both ends, inner blanks stay"},
           {"  a  ", ZAF_STRIP_LEADING, U' ', "a  ", "leading only"},
           {"  a  ", ZAF_STRIP_TRAILING, U' ', "  a", "trailing only"},
           {"\xC3\xA9\xC3\xA9x\xC3\xA9", ZAF_STRIP_BOTH, U'\u00E9', "x", "two-byte character"},
           {"\xE2\x82\xACx\xE2\x82\xAC", ZAF_STRIP_BOTH, U'\u20AC', "x", "three-byte character"},
           {"\xF0\x9F\x98\x80x\xF0\x9F\x98\x80", ZAF_STRIP_BOTH, U'\U0001F600', "x",
            "four-byte character"},
           {"\xC3\xA9", ZAF_STRIP_BOTH, U'\u00C3', "\xC3\xA9", "U+00C3 is not the lead byte C3"},
           {"a\xC3\xA9", ZAF_STRIP_TRAILING, U'\xA9', "a\xC3\xA9",
            "U+00A9 is no continuation byte"},
       }) {
    EXPECT_EQ(ZAFUnicodeString(text).Strip(mode, character).str(), expected) << why;
  }
}

TEST(UnicodeStringTest, LengthCountsCodePointsAndEachInvalidByteOnce) {
  EXPECT_EQ(ZAFUnicodeString("\xC3\xA9t\xF0\x9F\x98\x80").GetLengthInChar(), 3);
  EXPECT_EQ(ZAFUnicodeString("\xFF\xFEx\xE2\x82").GetLengthInChar(), 5);
  EXPECT_EQ(ZAFUnicodeString(kNull).GetLengthInChar(), 0);
}

TEST(ListTest, PositionsCountFromOneAndArrayWritesThrough) {
  ZAFListValZAFUnicodeString list = qimtest::MakeList({"a", "b", "c"});
  EXPECT_EQ(list[1].str(), "a");
  EXPECT_THROW(list[0], std::out_of_range);
  EXPECT_THROW(list[4], std::out_of_range);
  ZAFUnicodeString* pointers[3] = {};
  list.Array(pointers);
  *pointers[0] = "x";
  *pointers[2] = "z";
  EXPECT_EQ(qimtest::ToVector(list), (std::vector<std::string>{"x", "b", "z"}));
}

TEST(ObjectTest, FailingAllocatorGivesNull) {
  ZAFObject::SetAllocator([](std::size_t /*size*/) -> void* { return nullptr; });
  auto* widget = new ZAFDlgLabel(nullptr, "label", ZAF_STYLE_PLAIN);
  ZAFObject::SetAllocator(nullptr);
  EXPECT_EQ(widget, nullptr);
}

// A thousand widgets made and deleted leave the heap as it was: delete gives the memory back.
TEST(ObjectTest, DeletedObjectsGiveTheirMemoryBack) {
  const std::size_t before = mallinfo2().uordblks;
  for (int count = 0; count < 1000; ++count)
    delete new ZAFDlgLabel(nullptr, "label", ZAF_STYLE_PLAIN);
  EXPECT_LT(mallinfo2().uordblks, before + 1000 * sizeof(ZAFDlgLabel) / 2);
}

TEST(MakePathTest, JoinsWithTheHostSeparator) {
  struct Case {
    char separator;
    const char* directory;
    const char* name;
    const char* expected;
    const char* why;
  };
  for (const auto& [separator, directory, name, expected, why] : std::vector<Case>{
           {'/', "/opt/qim", "bin", "/opt/qim/bin", "plain join"},
           {'/', "/opt/qim/", "bin", "/opt/qim/bin", "no second separator"},
           {'/', "", "bin", "bin", "empty directory: never from the root"},
           {'/', "/opt", "", "/opt/", "empty name: directory and separator"},
           {'\\', "C:\\QIM", "bin", "C:\\QIM\\bin", "other separator"},
           {'\\', "C:\\QIM\\", "bin", "C:\\QIM\\bin", "ends with that separator"},
           {'\\', "C:/QIM/", "bin", "C:/QIM/\\bin", "only the host separator counts"},
           {'\\', "", "bin", "bin", "empty directory with other separator"},
           {'\\', "D:", "", "D:\\", "empty name with other separator"},
       }) {
    const qimtest::ScopedHost host(QIM_SOURCE_CATALOG_DIR, "", separator);
    char* path = nullptr;
    ASSERT_EQ(ZAFMakePath(directory, name, &path), 0) << why;
    EXPECT_STREQ(path, expected) << why;
  }
}

TEST(FileCopyTest, CopyOverwritesOnlyWhenAllowed) {
  const qimtest::TempDir folder;
  const std::string from = folder.File("from");
  const std::string to = folder.File("to");
  qimtest::WriteFile(from, "new");
  ASSERT_EQ(ZAFFCopy(from.c_str(), to.c_str(), 0), 0) << "a missing target is made";
  EXPECT_EQ(qimtest::ReadFile(to), "new");
  qimtest::WriteFile(to, "old");
  EXPECT_LT(ZAFFCopy(from.c_str(), to.c_str(), 0), 0);
  EXPECT_EQ(qimtest::ReadFile(to), "old");
  ASSERT_EQ(ZAFFCopy(from.c_str(), to.c_str(), 1), 0);
  EXPECT_EQ(qimtest::ReadFile(to), "new");
}

TEST(FileCopyTest, ClosingGivesTheDescriptorBackAndANullFileIsRefused) {
  const qimtest::TempDir folder;
  qimtest::WriteFile(folder.File("file"), "x");
  const auto openDescriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  const auto before = openDescriptors();
  ZAFFILE file = nullptr;
  ASSERT_EQ(ZAFFOpen(folder.File("file").c_str(), "r", &file), 0);
  EXPECT_EQ(ZAFFClose(file), 0);
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_LT(ZAFFClose(nullptr), 0);
}

// A copy that cannot be written whole (here: the file size limit is below the file's size)
// fails and leaves neither the target nor its temporary file.
TEST(FileCopyTest, AFailedCopyLeavesNoFileBehind) {
  const qimtest::TempDir folder;
  qimtest::WriteFile(folder.File("from"), "ten bytes!");
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 4;
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const int result = ZAFFCopy(folder.File("from").c_str(), folder.File("to").c_str(), 0);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);
  EXPECT_LT(result, 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}

// Bare names are relative to the working folder; the temporary file lies beside the target
// and is gone afterwards. A one-byte file is copied whole.
TEST(FileCopyTest, BareNamesCopyInTheWorkingFolder) {
  const qimtest::TempDir folder;
  qimtest::WriteFile(folder.File("from"), "1");  // one byte: the shortest read with content
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.path());
  const int result = ZAFFCopy("from", "to", 0);
  std::filesystem::current_path(previous);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(qimtest::ReadFile(folder.File("to")), "1");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 2);
}

// The replacement the tool's --output uses is 0600 whatever the umask, also in place of a file
// others could read (its other cases run on every system, in owner_only_test.cpp).
TEST(OwnerOnlyFileTest, AReplacementIs0600WhateverTheUmask) {
  const qimtest::TempDir folder;
  qimtest::WriteFile(folder.File("old"), "old");
  ASSERT_EQ(::chmod(folder.File("old").c_str(), 0644), 0);
  const mode_t previous = ::umask(0);
  const std::string problem = zaf::platform::ReplaceFileOwnerOnly(folder.File("old"), "new");
  ::umask(previous);
  ASSERT_EQ(problem, "");
  struct stat status {};
  ASSERT_EQ(::stat(folder.File("old").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600U);
}

// ---- Where a copy claims its target ----

// This program's stand-in for the C library's link(), which the host's copies call too: it
// records the name each call links from, first writes `madeMeanwhile` (when set) at the target
// as another process could have just then, and while `refuse` is set fails as a file system
// without hard links does.
struct LinkStandIn {
  bool refuse = false;
  const char* madeMeanwhile = nullptr;
  std::vector<std::string> from;
};
LinkStandIn linkStandIn;

// The owner closes what it holds when it goes or takes another, and nothing it gave up.
TEST(FileDescriptorTest, ClosesWhatItOwnsAndNothingItGaveUp) {
  int ends[2];
  int other[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(pipe(other), 0);
  {
    const zaf::FileDescriptor owned(ends[0]);
    zaf::FileDescriptor released(ends[1]);
    EXPECT_EQ(released.Release(), ends[1]);
    EXPECT_FALSE(released.IsOpen());
    zaf::FileDescriptor moved(other[0]);
    moved = zaf::FileDescriptor(other[1]);
    EXPECT_EQ(fcntl(other[0], F_GETFD), -1) << "move assignment closes what it held";
    EXPECT_EQ(moved.get(), other[1]);
  }
  EXPECT_EQ(fcntl(ends[0], F_GETFD), -1) << "the owned end is closed";
  EXPECT_EQ(fcntl(other[1], F_GETFD), -1) << "the moved end is closed";
  EXPECT_NE(fcntl(ends[1], F_GETFD), -1) << "the released end stays open";
  close(ends[1]);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int link(const char* from,
                                                           const char* to) noexcept {
  linkStandIn.from.emplace_back(from);
  if (linkStandIn.madeMeanwhile != nullptr) {
    qimtest::WriteFile(to, linkStandIn.madeMeanwhile);
  }
  if (linkStandIn.refuse) {
    errno = EPERM;
    return -1;
  }
  return ::linkat(AT_FDCWD, from, AT_FDCWD, to, 0);
}

namespace {

class CopyPlacementTest : public ::testing::Test {
 protected:
  CopyPlacementTest() { qimtest::WriteFile(folder.File("from"), "new"); }
  ~CopyPlacementTest() override { linkStandIn = {}; }

  // Copies `from` to `to` without overwriting, both relative to the test's folder.
  int CopyInFolder(const char* to) const {
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    const int result = ZAFFCopy("from", to, 0);
    std::filesystem::current_path(previous);
    return result;
  }

  qimtest::TempDir folder;
};

// The temporary file is made in the target's folder, so that putting it in place is a link or
// a rename within one file system.
TEST_F(CopyPlacementTest, TheTemporaryLiesBesideTheTarget) {
  struct Case {
    const char* to;
    const char* temporaryPrefix;
    const char* why;
  };
  std::filesystem::create_directory(folder.File("d"));
  std::filesystem::create_directory(folder.File("dir"));
  for (const auto& [to, temporaryPrefix, why] : std::vector<Case>{
           {"to", "./.to.", "a bare name: the working folder"},
           {"d/to", "d/.to.", "a one-letter folder"},
           {"dir/to", "dir/.to.", "a longer folder"},
       }) {
    linkStandIn = {};
    ASSERT_EQ(CopyInFolder(to), 0) << why;
    ASSERT_EQ(linkStandIn.from.size(), 1u) << why;
    EXPECT_THAT(linkStandIn.from[0], ::testing::StartsWith(temporaryPrefix)) << why;
    EXPECT_EQ(linkStandIn.from[0].size(), std::string(temporaryPrefix).size() + 6) << why;
  }
}

// A copy without overwrite claims the target only while it is free, also when another process
// makes it after the copy began, and on a file system without hard links (a check, then a
// rename); no temporary file stays behind.
TEST_F(CopyPlacementTest, ANameTakenWhileCopyingIsKeptWithOrWithoutHardLinks) {
  struct Case {
    bool hardLinks;
    const char* madeMeanwhile;
    bool copied;
    const char* after;
    const char* why;
  };
  for (const auto& [hardLinks, madeMeanwhile, copied, after, why] : std::vector<Case>{
           {true, "other", false, "other", "the link refuses the name taken meanwhile"},
           {false, nullptr, true, "new", "no hard links: the rename claims the free name"},
           {false, "other", false, "other", "no hard links: the check finds the name taken"},
       }) {
    std::filesystem::remove(folder.File("to"));
    linkStandIn = {!hardLinks, madeMeanwhile, {}};
    const int result = CopyInFolder("to");
    ASSERT_EQ(linkStandIn.from.size(), 1u) << why;
    EXPECT_EQ(result == 0, copied) << why << ": " << result;
    EXPECT_EQ(qimtest::ReadFile(folder.File("to")), after) << why;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 2) << why;
  }
}

// A dry run changes no file: copies and saves are recorded in order, writes are dropped, and
// what would fail for real fails in the record too.
TEST(RecordingTest, CopiesAndSavesAreRecordedInOrderInsteadOfMade) {
  const qimtest::TempDir folder;
  const std::string source = folder.File("app.properties");
  const std::string backup = folder.File("app.properties.bak");
  qimtest::WriteFile(source, "original");
  zaf::ResetHost();
  zaf::SetPreferenceDirectory(folder.File("prefs"));
  ZAFSysPreferenceRepository* repository =
      ZAFSysPreferenceRepository::GetPreferenceRepository("QIMSetup");
  ASSERT_NE(repository, nullptr);
  const int stored = 7;
  ASSERT_EQ(repository->WritePreference("count", &stored, 1), 0);
  ASSERT_EQ(repository->SaveRepository(nullptr), 0);

  zaf::SetRecording(true);
  const int changed = 9;
  EXPECT_EQ(repository->WritePreference("count", &changed, 1), 0);
  EXPECT_EQ(repository->SaveRepository(nullptr), 0);
  EXPECT_EQ(ZAFFCopy(source.c_str(), backup.c_str(), 1), 0);
  EXPECT_LT(ZAFFCopy(folder.File("missing").c_str(), backup.c_str(), 1), 0)
      << "a copy that cannot be made for real fails in a dry run too";
  ZAFFILE file = nullptr;
  EXPECT_LT(ZAFFOpen(folder.File("new").c_str(), "w", &file), 0);
  const std::vector<zaf::FileChange> changes = zaf::TakeRecordedChanges();
  zaf::SetRecording(false);

  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].kind, zaf::FileChange::Kind::kStorePreferences);
  EXPECT_EQ(changes[0].to, folder.File("prefs") + "/QIMSetup.prefs");
  EXPECT_EQ(changes[1].kind, zaf::FileChange::Kind::kCopy);
  EXPECT_EQ(changes[1].from, source);
  EXPECT_EQ(changes[1].to, backup);
  EXPECT_TRUE(zaf::TakeRecordedChanges().empty()) << "taking empties the record";
  EXPECT_FALSE(qimtest::FileExists(backup));
  EXPECT_FALSE(qimtest::FileExists(folder.File("new")));
  int read = 0;
  ASSERT_EQ(repository->ReadPreference("count", &read, 1), 0);
  EXPECT_EQ(read, 7) << "the write of the dry run was dropped";
  EXPECT_NE(qimtest::ReadFile(folder.File("prefs/QIMSetup.prefs")).find("count\" 1 7"),
            std::string::npos);
  zaf::ResetHost();
}

// ---- Catalogs ----

TEST(CatalogTest, GoodLinesAreKeptAndEachBadLineWarnsOnce) {
  const zaf::ParsedCatalog parsed = zaf::ParseCatalog(
      "# comment\n"
      "Good = a = b \n"
      "no equals sign\n"
      " = no key\n"
      "two words = x\n"
      "Bad = \xFF\xFE\n"
      "\tEscapes\t= \\sa\\tb\\nc\\\\d\\s\r\n",
      "Q.cat");
  EXPECT_TRUE(parsed.isCatalog);
  EXPECT_EQ(parsed.entries, (zaf::CatalogEntries{{"Good", "a = b"}, {"Escapes", " a\tb\nc\\d "}}));
  ASSERT_EQ(parsed.warnings.size(), 4U);
  for (int line = 3; line <= 6; ++line) {
    EXPECT_THAT(parsed.warnings[line - 3], ::testing::StartsWith("Q.cat:" + std::to_string(line)));
  }
}

TEST(CatalogTest, ARepeatedKeyKeepsItsLastLineAndNamesTheLineItReplaces) {
  const zaf::ParsedCatalog parsed = zaf::ParseCatalog("A = 1\nB = x\nA = 2\n\nA = 3\n", "R.cat");
  EXPECT_EQ(parsed.entries, (zaf::CatalogEntries{{"A", "3"}, {"B", "x"}}));
  EXPECT_EQ(parsed.warnings,
            (std::vector<std::string>{"R.cat:3: key \"A\" repeats line 1; this line wins",
                                      "R.cat:5: key \"A\" repeats line 3; this line wins"}));
}

TEST(CatalogTest, PlaceholdersAreFilledInOnePass) {
  const ZAFUnicodeString parameters[] = {"A", "%1", "C"};
  struct Case {
    const char* text;
    int count;
    const char* expected;
    const char* why;
  };
  for (const auto& [text, count, expected, why] : std::vector<Case>{
           {"%3%1", 3, "CA", "any order"},
           {"[%2]", 3, "[%1]", "a parameter holding %1 is not filled again"},
           {"100%% %%1", 3, "100% %1", "%% is a percent sign"},
           {"%3 %4", 3, "C %4", "a placeholder without a parameter stays"},
           {"%1 %2", 1, "A %2", "count limits the parameters"},
           {"%10", 3, "A0", "one digit only"},
       }) {
    EXPECT_EQ(zaf::FillPlaceholders(text, parameters, count), expected) << why;
  }
}

TEST(CatalogTest, MessageFallsBackWhenTheKeyOrTheCatalogIsMissingOrUnreadable) {
  const qimtest::TempDir folder;
  const qimtest::ScopedHost host(folder.path());
  std::vector<std::string> warnings;
  zaf::SetDiagnosticSink([&warnings](const std::string& line) { warnings.push_back(line); });
  qimtest::WriteFile(folder.File("Msgs.cat"), "Hello = Hello, %1!\n");
  ASSERT_EQ(::mkdir(folder.File("Folder.cat").c_str(), 0700), 0);
  const ZAFUnicodeString name[] = {"Ann"};
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("Msgs", "Hello", name, 1, "fb").str(), "Hello, Ann!");
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("Msgs", "Missing", name, 1, "Missing").str(), "Missing");
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("NoSuch", "Hello", name, 1, "fb").str(), "fb");
  EXPECT_TRUE(warnings.empty()) << "a missing catalog is not worth a warning";
  const auto openDescriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  const auto descriptorsBefore = openDescriptors();
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("Folder", "K", nullptr, 0, "fb").str(), "fb");
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("Folder", "K", nullptr, 0, "fb").str(), "fb");
  EXPECT_EQ(openDescriptors(), descriptorsBefore) << "the folder opened as a catalog is closed";
  ASSERT_EQ(::mkfifo(folder.File("Fifo.cat").c_str(), 0600), 0);
  EXPECT_EQ(ZAFRscCatalog().LoadRscCatalog("Fifo", nullptr), 0) << "a pipe is no catalog";
  qimtest::WriteFile(folder.File("Huge.cat"), "K = " + std::string(2 << 20, 'x') + "\n");
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("Huge", "K", nullptr, 0, "fb").str(), "fb") << "2 MiB";
  EXPECT_EQ(openDescriptors(), descriptorsBefore) << "the refused catalogs are closed";
  qimtest::WriteFile(folder.File("Empty.cat"), "");
  EXPECT_EQ(ZAFMsgCatalog::BuildMessage("Empty", "K", nullptr, 0, "fb").str(), "fb");
  ASSERT_EQ(warnings.size(), 4U) << "each unreadable or empty catalog warns once";
  EXPECT_THAT(warnings[0], HasSubstr("Folder.cat"));
  EXPECT_THAT(warnings[3], ::testing::AllOf(HasSubstr("Empty.cat"), HasSubstr("no entries")));
}

// ---- Notifications ----

// Stands for the plug-in: its callback records each call and runs the action `data` points to.
struct Listener : ZAFCommand {
  using Action = std::function<void()>;
  void On(ZAFCommand* publisher, ZAFNotification* notification, void* data) {
    calls.emplace_back(publisher, notification, data);
    (*static_cast<Action*>(data))();
  }
  std::vector<std::tuple<ZAFCommand*, ZAFNotification*, void*>> calls;
};

const auto kOn = static_cast<ZAFCommand::Callback>(&Listener::On);

TEST(DialogTest, NotificationReachesARegistrationSeveralFathersUp) {
  Listener listener;
  ZAFDlgTabContainer container;
  auto* page = new ZAFDlgTabPage(&container, "Page", ZAF_STYLE_GRID);
  page->SetFather(&listener);
  auto* button =
      new ZAFDlgPushButton(new ZAFDlgFrame(page, "Frame", ZAF_STYLE_GRID), "B", ZAF_STYLE_PLAIN);
  Listener::Action nothing = [] {};
  listener.AddAnalyseNotificationCB(button, button->GetPushBActivateNotification(), kOn, &nothing);
  button->Press();
  EXPECT_EQ(listener.calls,
            (decltype(listener.calls){{button, button->GetPushBActivateNotification(), &nothing}}));
}

// An assignment replaces the registrations: the target's own no longer fire, its source's
// fire once.
TEST(DialogTest, AssignmentReplacesTheRegistrationsOfTheTarget) {
  Listener source, target;
  ZAFDlgTabContainer container;
  auto* page = new ZAFDlgTabPage(&container, "Page", ZAF_STYLE_GRID);
  auto* sourceButton = new ZAFDlgPushButton(page, "S", ZAF_STYLE_PLAIN);
  auto* targetButton = new ZAFDlgPushButton(page, "T", ZAF_STYLE_PLAIN);
  Listener::Action nothing = [] {};
  source.AddAnalyseNotificationCB(sourceButton, sourceButton->GetPushBActivateNotification(), kOn,
                                  &nothing);
  target.AddAnalyseNotificationCB(targetButton, targetButton->GetPushBActivateNotification(), kOn,
                                  &nothing);
  target = source;
  page->SetFather(&target);
  targetButton->Press();
  sourceButton->Press();
  EXPECT_EQ(target.calls,
            (decltype(target.calls){
                {sourceButton, sourceButton->GetPushBActivateNotification(), &nothing}}));
}

// The class names are the widget types the dialog server hands the browser.
TEST(DialogTest, EachWidgetClassReportsItsOwnName) {
  ZAFDlgTabContainer container;
  const std::pair<ZAFDialog*, const char*> rows[] = {
      {&container, "ZAFDlgTabContainer"},
      {new ZAFDlgTabPage(&container, "P", ZAF_STYLE_GRID), "ZAFDlgTabPage"},
      {new ZAFDlgFrame(&container, "F", ZAF_STYLE_GRID), "ZAFDlgFrame"},
      {new ZAFDlgLabel(&container, "L", ZAF_STYLE_PLAIN), "ZAFDlgLabel"},
      {new ZAFDlgEditor(&container, "E", ZAF_STYLE_PLAIN), "ZAFDlgEditor"},
      {new ZAFDlgPushButton(&container, "B", ZAF_STYLE_PLAIN), "ZAFDlgPushButton"},
      {new ZAFDlgCheckButton(&container, "C", ZAF_STYLE_PLAIN), "ZAFDlgCheckButton"},
      {new ZAFDlgFile(&container, "D", ZAF_STYLE_DIR_CHOOSER), "ZAFDlgFile"},
      {new ZAFDialog(&container, "W", ZAF_STYLE_PLAIN), "ZAFDialog"},
  };
  for (const auto& [widget, name] : rows)
    EXPECT_STREQ(widget->GetClassName(), name);
}

// A chooser that counts its destructions.
struct CountedChooser : ZAFDlgFile {
  CountedChooser(ZAFDialog* parent, int* count)
      : ZAFDlgFile(parent, "Chooser", ZAF_STYLE_DIR_CHOOSER), destructions(count) {}
  ~CountedChooser() override { ++*destructions; }
  int* destructions;
};

TEST(DialogTest, ChooserDestroyedByItsOwnOkCallbackGoesAfterEveryCallback) {
  Listener listener;
  ZAFDlgTabContainer container;
  container.SetFather(&listener);
  int destructions = 0;
  auto* chooser = new CountedChooser(&container, &destructions);
  int destructionsInSecond = -1;
  Listener::Action destroy = [&] { chooser->RequestDelayedDestruction(); };
  Listener::Action look = [&] { destructionsInSecond = destructions; };
  listener.AddAnalyseNotificationCB(chooser, chooser->GetDiaOKNotification(), kOn, &destroy);
  listener.AddAnalyseNotificationCB(chooser, chooser->GetDiaOKNotification(), kOn, &look);
  chooser->CloseOK("/opt/qim");
  EXPECT_EQ(destructionsInSecond, 0) << "not during the notification";
  EXPECT_EQ(destructions, 1) << "but right after it";
  EXPECT_TRUE(container.GetChildren().empty()) << "it left its parent";
}

// A bare Publish (not an operator action) also delays a destruction asked for meanwhile.
TEST(DialogTest, DestructionAskedDuringABarePublishWaitsForTheOutermostOne) {
  Listener listener;
  ZAFDlgTabContainer container;
  container.SetFather(&listener);
  int destructions = 0;
  auto* chooser = new CountedChooser(&container, &destructions);
  int destructionsAfterInner = -1;
  ZAFNotification outer("Outer");
  ZAFNotification inner("Inner");
  Listener::Action destroy = [&] { chooser->RequestDelayedDestruction(); };
  Listener::Action nest = [&] {
    container.Publish(&inner);
    destructionsAfterInner = destructions;
  };
  listener.AddAnalyseNotificationCB(&container, &inner, kOn, &destroy);
  listener.AddAnalyseNotificationCB(&container, &outer, kOn, &nest);
  container.Publish(&outer);
  EXPECT_EQ(destructionsAfterInner, 0) << "the inner notification is not the outermost";
  EXPECT_EQ(destructions, 1);
}

TEST(DialogTest, DestructionAskedOutsideANotificationIsImmediate) {
  ZAFDlgTabContainer container;
  int destructions = 0;
  (new CountedChooser(&container, &destructions))->RequestDelayedDestruction();
  EXPECT_EQ(destructions, 1);
  EXPECT_TRUE(container.GetChildren().empty());
}

// A parent whose destruction is asked for after its child's takes the child with it: the
// child is not destroyed a second time.
TEST(DialogTest, DelayedDestructionOfAParentAndItsChildDestroysEachOnce) {
  Listener listener;
  ZAFDlgTabContainer container;
  container.SetFather(&listener);
  auto* frame = new ZAFDlgFrame(&container, "Frame", ZAF_STYLE_GRID);
  int destructions = 0;
  auto* chooser = new CountedChooser(frame, &destructions);
  Listener::Action destroyBoth = [&] {
    chooser->RequestDelayedDestruction();
    frame->RequestDelayedDestruction();
  };
  listener.AddAnalyseNotificationCB(chooser, chooser->GetDiaCANCELNotification(), kOn,
                                    &destroyBoth);
  chooser->CloseCancel();
  EXPECT_EQ(destructions, 1);
  EXPECT_TRUE(container.GetChildren().empty());
}

// ---- Walking the widget tree ----

// A small grid: two rows of label, editor and button, then a chooser made last under the
// first frame, as a browse button makes one.
class WidgetTreeTest : public ::testing::Test {
 protected:
  WidgetTreeTest() {
    page = new ZAFDlgTabPage(&container, "Page", ZAF_STYLE_GRID);
    frame = new ZAFDlgFrame(page, "Frame", ZAF_STYLE_GRID);
    Place(new ZAFDlgLabel(frame, "NameLabel", ZAF_STYLE_PLAIN), 0, 0);
    Place(new ZAFDlgEditor(frame, "NameEditor", ZAF_STYLE_PLAIN), 0, 1);
    Place(new ZAFDlgPushButton(frame, "BrowseName", ZAF_STYLE_PLAIN), 0, 2);
    // The second row is made right to left: the neighbours follow the grid, not the making.
    Place(new ZAFDlgPushButton(frame, "BrowseHome", ZAF_STYLE_PLAIN), 1, 3);
    Place(new ZAFDlgEditor(frame, "HomeEditor", ZAF_STYLE_PLAIN), 1, 1);
    Place(new ZAFDlgLabel(frame, "HomeLabel", ZAF_STYLE_PLAIN), 1, 0);
    new ZAFDlgLabel(frame, "Unplaced", ZAF_STYLE_PLAIN);
    other = new ZAFDlgFrame(page, "Other", ZAF_STYLE_GRID);
    new ZAFDlgEditor(other, "OtherEditor", ZAF_STYLE_PLAIN);
    new ZAFDlgFile(frame, "Chooser", ZAF_STYLE_DIR_CHOOSER);
  }

  static void Place(ZAFDialog* widget, std::uint16_t row, std::uint16_t column) {
    widget->SetGridConstraints(row, column, 1, 1, ZAF_JUSTIFY_FILL);
  }

  static std::string Names(const std::vector<const ZAFDialog*>& widgets) {
    std::string names;
    for (const ZAFDialog* widget : widgets) {
      names += (names.empty() ? "" : " ") + widget->GetResourceName().str();
    }
    return names;
  }

  // The name of the widget, or "none".
  static std::string NameOf(const ZAFDialog* widget) {
    return widget != nullptr ? widget->GetResourceName().str() : "none";
  }

  ZAFDlgTabContainer container;
  ZAFDlgTabPage* page = nullptr;
  ZAFDlgFrame* frame = nullptr;
  ZAFDlgFrame* other = nullptr;
};

TEST_F(WidgetTreeTest, DescendantsComeInCreationOrderNotDepthFirst) {
  EXPECT_EQ(Names(std::as_const(container).GetDescendants()),
            "Page Frame NameLabel NameEditor BrowseName BrowseHome HomeEditor HomeLabel Unplaced "
            "Other OtherEditor Chooser");
  EXPECT_EQ(Names(std::as_const(*other).GetDescendants()), "OtherEditor") << "below it only";
}

TEST_F(WidgetTreeTest, ForEachDescendantOfTypeVisitsOnlyThatType) {
  std::vector<const ZAFDialog*> editors;
  std::as_const(container).ForEachDescendantOfType<ZAFDlgEditor>(
      [&editors](const ZAFDlgEditor& editor) { editors.push_back(&editor); });
  EXPECT_EQ(Names(editors), "NameEditor HomeEditor OtherEditor");
}

// Widgets that a visit makes are not visited: the list is taken before the first call.
TEST_F(WidgetTreeTest, WidgetsMadeDuringAVisitAreNotVisited) {
  int visits = 0;
  container.ForEachDescendantOfType<ZAFDlgFrame>([&visits](ZAFDlgFrame& visited) {
    ++visits;
    new ZAFDlgFrame(&visited, "Inner", ZAF_STYLE_GRID);
  });
  EXPECT_EQ(visits, 2);
  EXPECT_EQ(container.GetDescendants().size(), 14u);
}

TEST_F(WidgetTreeTest, TypedLookupNeedsBothTheNameAndTheType) {
  EXPECT_EQ(container.FindDescendantOfType<ZAFDlgEditor>("HomeEditor"),
            container.FindByName("HomeEditor"));
  EXPECT_EQ(container.FindDescendantOfType<ZAFDlgLabel>("HomeEditor"), nullptr)
      << "an editor is no label";
  EXPECT_EQ(container.FindDescendantOfType<ZAFDlgEditor>("NoSuchEditor"), nullptr);
  EXPECT_EQ(container.FindDescendantOfType<ZAFDlgEditor>(nullptr), nullptr);
  EXPECT_EQ(container.FindDescendantOfType<ZAFDlgTabContainer>("TabContainer"), nullptr)
      << "the widget itself is no descendant";
  const ZAFDialog& readOnly = container;
  EXPECT_EQ(NameOf(readOnly.FindDescendantOfType<ZAFDlgFile>("Chooser")), "Chooser");
}

TEST_F(WidgetTreeTest, RowNeighbourIsTheNearestPlacedSiblingOnThatSide) {
  struct Case {
    const char* widget;
    ZAFRowSide side;
    const char* expected;
    const char* why;
  };
  const Case cases[] = {
      {"NameLabel", ZAFRowSide::Right, "NameEditor", "the editor right of its label"},
      {"BrowseName", ZAFRowSide::Left, "NameEditor", "the editor left of its browse button"},
      {"BrowseHome", ZAFRowSide::Left, "HomeEditor", "nearest across an empty column"},
      {"HomeEditor", ZAFRowSide::Right, "BrowseHome", "the grid counts, not the making order"},
      {"HomeLabel", ZAFRowSide::Left, "none", "nothing left of column 0"},
      {"BrowseName", ZAFRowSide::Right, "none", "the other row's button is not in this row"},
      {"Unplaced", ZAFRowSide::Right, "none", "a widget without a place has no neighbour"},
      {"Frame", ZAFRowSide::Right, "none", "no sibling of the frame has a place"},
  };
  for (const Case& test : cases) {
    const ZAFDialog& widget = *std::as_const(container).FindByName(test.widget);
    EXPECT_EQ(NameOf(widget.GetRowNeighbour(test.side)), test.expected) << test.why;
  }
}

TEST_F(WidgetTreeTest, TypedRowNeighbourIsNullWhenTheNeighbourIsOfAnotherType) {
  ZAFDialog* button = container.FindByName("BrowseName");
  EXPECT_EQ(NameOf(button->GetRowNeighbourOfType<ZAFDlgEditor>(ZAFRowSide::Left)), "NameEditor");
  EXPECT_EQ(button->GetRowNeighbourOfType<ZAFDlgLabel>(ZAFRowSide::Left), nullptr)
      << "the label lies beyond the editor";
}

TEST_F(WidgetTreeTest, CreationIndexesCountPerTree) {
  ZAFDlgTabContainer second;
  auto* first = new ZAFDlgLabel(&second, "First", ZAF_STYLE_PLAIN);
  EXPECT_EQ(second.GetCreationIndex(), 1u) << "the other tree's widgets do not count";
  EXPECT_EQ(first->GetCreationIndex(), 2u);
  EXPECT_EQ(container.FindByName("Chooser")->GetCreationIndex(), 13u);
}

}  // namespace
