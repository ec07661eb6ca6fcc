// The host's services that need nothing of POSIX: strings (null versus empty, stripping,
// length, concatenation), 1-based lists, the allocator, path joins, file copies, the dry-run
// record, catalogs, the notification chain, the widget tree, and the preference file's text, its
// save lock and the merge a repository's save offers. What needs POSIX is in posix_test.cpp.
//
// The preference file as it lies on disk is pinned by a golden file written by hand from the
// documented format: a renamed kind, header or escape would still round-trip through the reader
// and writer that share it, but no longer matches the file an earlier run left behind.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "catalog_file.h"
#include "host/platform/files.h"
#include "host/zaf_catalog.h"
#include "host/zaf_dialog.h"
#include "host/zaf_host.h"
#include "host/zaf_list.h"
#include "host/zaf_preferences.h"
#include "host/zaf_string.h"
#include "host/zaf_system.h"
#include "preference_store.h"
#include "preference_store_test.h"
#include "test_support.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using namespace std::string_literals;
using Texts = std::vector<std::string>;
using qimtest::PreferenceStoreTest;
using qimtest::Save;
using qimtest::Version;

const char* const kNull = nullptr;

// Null differs from empty, and concatenation never gives null. Length counts code points, and
// each byte that is not UTF-8 once. Strip removes whole characters at the named ends.
TEST(UnicodeStringTest, NullIsNotEmptyLengthCountsCharactersAndStripTakesWholeOnes) {
  const ZAFUnicodeString null(kNull);
  const ZAFUnicodeString empty;
  EXPECT_TRUE(null.IsNull() && null.IsEmpty() && !empty.IsNull());
  EXPECT_EQ(static_cast<const char*>(null), nullptr);
  EXPECT_STREQ(static_cast<const char*>(empty), "");
  EXPECT_TRUE(null == kNull && empty == "");
  EXPECT_FALSE(null == "" || empty == kNull || null == empty);
  EXPECT_TRUE("" != null && "a" != empty && !("" != empty));
  EXPECT_FALSE((null + null).IsNull());
  EXPECT_TRUE(("a" + null + "b") == "ab");
  EXPECT_EQ(ZAFUnicodeString("\xC3\xA9t\xF0\x9F\x98\x80").GetLengthInChar(), 3);
  EXPECT_EQ(ZAFUnicodeString("\xFF\xFEx\xE2\x82").GetLengthInChar(), 5) << "each invalid byte once";
  EXPECT_EQ(null.GetLengthInChar(), 0);
  for (const auto& [text, mode, character, expected, why] :
       std::vector<std::tuple<const char*, int, char32_t, const char*, const char*>>{
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

TEST(MakePathTest, JoinsWithTheHostSeparator) {
  // The longest join the ring keeps in a slot's own bytes (255), and one that needs a string.
  const std::string fits(251, 'd');
  const std::string longer(252, 'd');
  const std::string fitsJoined = fits + "/bin";
  const std::string longerJoined = longer + "/bin";
  for (const auto& [separator, directory, name, expected, why] :
       std::vector<std::tuple<char, const char*, const char*, const char*, const char*>>{
           {'/', "/opt/qim", "bin", "/opt/qim/bin", "plain join"},
           {'/', "/opt/qim/", "bin", "/opt/qim/bin", "no second separator"},
           {'/', "", "bin", "bin", "empty directory: never from the root"},
           {'/', "/opt", "", "/opt/", "empty name: directory and separator"},
           {'\\', "C:\\QIM", "bin", "C:\\QIM\\bin", "other separator"},
           {'\\', "C:\\QIM\\", "bin", "C:\\QIM\\bin", "ends with that separator"},
           {'\\', "C:/QIM/", "bin", "C:/QIM/\\bin", "only the host separator counts"},
           {'/', fits.c_str(), "bin", fitsJoined.c_str(), "the longest join a slot holds"},
           {'/', longer.c_str(), "bin", longerJoined.c_str(), "one byte more than a slot holds"},
       }) {
    const qimtest::ScopedHost host(QIM_SOURCE_CATALOG_DIR, "", separator);
    char* path = nullptr;
    ASSERT_EQ(ZAFMakePath(directory, name, &path), 0) << why;
    EXPECT_STREQ(path, expected) << why;
  }
  // Callers may keep the last 64 joins without copying them.
  std::vector<char*> kept(64);
  for (std::size_t index = 0; index < kept.size(); ++index)
    ASSERT_EQ(ZAFMakePath("", std::to_string(index).c_str(), &kept[index]), 0);
  for (std::size_t index = 0; index < kept.size(); ++index)
    EXPECT_EQ(kept[index], std::to_string(index)) << "join " << index << " was overwritten";
}

// A one-byte file (the shortest read with content) is copied whole; no temporary file stays.
// Only a folder that exists opens as one.
TEST(FileTest, ACopyOverwritesOnlyWhenAllowedAndOnlyAFolderOpensAsOne) {
  const qimtest::TempDir folder;
  const std::string from = folder.File("from");
  const std::string to = folder.File("to");
  qimtest::WriteFile(from, "1");
  ASSERT_EQ(ZAFFCopy(from.c_str(), to.c_str(), 0), 0) << "a missing target is made";
  EXPECT_EQ(qimtest::ReadFile(to), "1");
  qimtest::WriteFile(to, "old");
  EXPECT_LT(ZAFFCopy(from.c_str(), to.c_str(), 0), 0);
  EXPECT_EQ(qimtest::ReadFile(to), "old");
  ASSERT_EQ(ZAFFCopy(from.c_str(), to.c_str(), 1), 0);
  EXPECT_EQ(qimtest::ReadFile(to), "1");
  EXPECT_EQ(qimtest::CountEntries(folder.path()), 2);
  for (const auto& [path, result] : std::vector<std::pair<const char*, int>>{
           {folder.path().c_str(), 0}, {nullptr, -1}, {"", -1}}) {
    ZAFDIR directory{};
    directory.isOpen = 2;
    EXPECT_EQ(std::max(ZAFOpenDirectory(path, &directory), -1), result) << (path ? path : "null");
    EXPECT_EQ(directory.isOpen, result == 0 ? 1 : 0);
  }
  for (const std::string& path : {from, folder.File("missing")})
    EXPECT_LT(ZAFOpenDirectory(path.c_str(), nullptr), 0) << path;
}

// A dry run changes no file: copies and saves are recorded in order, writes are dropped, and
// what would fail for real fails in the record too.
TEST_F(PreferenceStoreTest, ADryRunRecordsCopiesAndSavesInOrderInsteadOfMakingThem) {
  const std::string source = folder_.File("app.properties");
  const std::string backup = folder_.File("app.properties.bak");
  qimtest::WriteFile(source, "original");
  ZAFSysPreferenceRepository* repository = Fresh();
  ASSERT_EQ(Save(repository, {{"count", std::vector<int>{7}}}), 0);

  zaf::SetRecording(true);
  EXPECT_EQ(Save(repository, {{"count", std::vector<int>{9}}, {"name", Texts{"n"}}}), 0);
  EXPECT_EQ(ZAFFCopy(source.c_str(), backup.c_str(), 1), 0);
  EXPECT_LT(ZAFFCopy(folder_.File("missing").c_str(), backup.c_str(), 1), 0)
      << "a copy that cannot be made for real fails in a dry run too";
  ZAFFILE file = nullptr;
  EXPECT_LT(ZAFFOpen(folder_.File("new").c_str(), "w", &file), 0);
  const std::vector<zaf::FileChange> changes = zaf::TakeRecordedChanges();
  zaf::SetRecording(false);

  std::string recorded;
  for (const zaf::FileChange& change : changes)
    recorded += (change.kind == zaf::FileChange::Kind::kCopy ? "copy " : "store ") + change.from +
                " " + change.to + "\n";
  EXPECT_EQ(recorded, "store  " + file_ + "\ncopy " + source + " " + backup + "\n");
  EXPECT_TRUE(zaf::TakeRecordedChanges().empty()) << "taking empties the record";
  EXPECT_FALSE(qimtest::FileExists(backup) || qimtest::FileExists(folder_.File("new")));
  int read = 0;
  ASSERT_EQ(repository->ReadPreference("count", &read, 1), 0);
  EXPECT_EQ(read, 7) << "the write of the dry run was dropped";
  EXPECT_THAT(qimtest::ReadFile(file_), HasSubstr("count\" 1 7"));
}

// ---- Catalogs ----

// A repeated key keeps its last line and its warning names the line it replaces. A file of
// nothing but lines that are not UTF-8 is no catalog.
TEST(CatalogTest, GoodLinesAreKeptAndEachBadOrRepeatedLineWarnsOnce) {
  const zaf::ParsedCatalog parsed = zaf::ParseCatalog(
      "# comment\nGood = a = b \nno equals sign\n = no key\ntwo words = x\nBad = \xFF\xFE\n"
      "\tEscapes\t= \\sa\\tb\\nc\\\\d\\s\r\nA = 1\nA = 2\n\nA = 3\n",
      "Q.cat");
  EXPECT_TRUE(parsed.isCatalog);
  EXPECT_EQ(parsed.entries,
            (zaf::CatalogEntries{{"Good", "a = b"}, {"Escapes", " a\tb\nc\\d "}, {"A", "3"}}));
  ASSERT_EQ(parsed.warnings.size(), 6U);
  for (int line = 3; line <= 6; ++line)
    EXPECT_THAT(parsed.warnings[line - 3], StartsWith("Q.cat:" + std::to_string(line)));
  EXPECT_EQ(parsed.warnings[4], "Q.cat:9: key \"A\" repeats line 8; this line wins");
  EXPECT_EQ(parsed.warnings[5], "Q.cat:11: key \"A\" repeats line 9; this line wins");
  zaf::CatalogEntries copy;
  copy = parsed.entries;
  EXPECT_EQ(copy, parsed.entries) << "a catalog assigned holds the same entries";
  std::string many;  // more short lines than the table was first made for
  for (int key = 0; key < 100; ++key)
    many += std::to_string(key) + "=v" + std::to_string(key) + "\n";
  const zaf::ParsedCatalog grown = zaf::ParseCatalog(many, "M.cat");
  for (int key = 0; key < 100; ++key) {
    const std::string_view* text = grown.entries.Find(std::to_string(key));
    EXPECT_EQ(text == nullptr ? "none" : *text, "v" + std::to_string(key));
  }
  const zaf::ParsedCatalog binary = zaf::ParseCatalog("\xFFx = y\n", "B.cat");
  EXPECT_FALSE(binary.isCatalog) << "invalid UTF-8, from the first byte, and no valid entry";
  EXPECT_EQ(binary.warnings.size(), 1U);
}

TEST(CatalogTest, PlaceholdersAreFilledInOnePass) {
  const ZAFUnicodeString parameters[] = {"A", "%1", "C"};
  for (const auto& [text, count, expected, why] :
       std::vector<std::tuple<const char*, int, const char*, const char*>>{
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

// A missing catalog is not worth a warning; one that cannot be read (a folder, a file over
// the size limit) or holds nothing warns once.
TEST(CatalogTest, MessageFallsBackWhenTheKeyOrTheCatalogIsMissingOrUnreadable) {
  const qimtest::TempDir folder;
  const qimtest::ScopedHost host(folder.path());
  std::vector<std::string> warnings;
  zaf::SetDiagnosticSink([&warnings](const std::string& line) { warnings.push_back(line); });
  qimtest::WriteFile(folder.File("Msgs.cat"), "Hello = Hello, %1!\n");
  const ZAFUnicodeString name[] = {"Ann"};
  const auto message = [&name](const char* catalog, const char* key) {
    return ZAFMsgCatalog::BuildMessage(catalog, key, name, 1, "fb").str();
  };
  EXPECT_EQ(message("Msgs", "Hello"), "Hello, Ann!");
  ZAFRscCatalog resources;
  ZAFString text;
  EXPECT_EQ(resources.LoadRscCatalog("Msgs", nullptr), 1);
  EXPECT_EQ(resources.GetCatalogRsc("Hello", text, nullptr, 0), 0);
  EXPECT_EQ(text.str(), "Hello, %1!");
  EXPECT_EQ(message("Msgs", "Missing") + message("NoSuch", "Hello"), "fbfb");
  EXPECT_TRUE(warnings.empty());
  std::filesystem::create_directory(folder.File("Folder.cat"));
  qimtest::WriteFile(folder.File("Huge.cat"), "K = " + std::string(2 << 20, 'x') + "\n");
  qimtest::WriteFile(folder.File("Empty.cat"), "");
  for (const char* catalog : {"Folder", "Folder", "Huge", "Empty"})
    EXPECT_EQ(message(catalog, "K"), "fb") << catalog;
  ASSERT_EQ(warnings.size(), 3U);
  EXPECT_THAT(warnings[0], HasSubstr("Folder.cat"));
  EXPECT_THAT(warnings[1], ::testing::AllOf(HasSubstr("Huge.cat"), HasSubstr("larger than 1 MiB")));
  EXPECT_THAT(warnings[2], ::testing::AllOf(HasSubstr("Empty.cat"), HasSubstr("no entries")));
}

// ---- Notifications ----

// Stands for the plug-in: its callback records each call and runs the action `data` points to.
struct Listener : ZAFCommand {
  using ZAFCommand::ZAFCommand;
  using Action = std::function<void()>;
  void On(ZAFCommand* publisher, ZAFNotification* notification, void* data) {
    calls.emplace_back(publisher, notification, data);
    (*static_cast<Action*>(data))();
  }
  std::vector<std::tuple<ZAFCommand*, ZAFNotification*, void*>> calls;
};

const auto kOn = static_cast<ZAFCommand::Callback>(&Listener::On);
Listener::Action nothing = [] {};

// A notification reaches a registration several fathers up (the button lies in a frame on the
// page). An assignment replaces the registrations: the target's own no longer fire, its
// source's fire once. A destroyed publisher takes the registrations naming it along: a widget
// made afterwards at its very address (here: built again in the same memory) does not set them
// off.
TEST(DialogTest, NotificationsReachTheRegistrationsOfTheFatherAsAssignedWhileThePublisherLives) {
  Listener source(nullptr, "Source"), target;
  ZAFDlgTabContainer container;
  auto* page = new ZAFDlgTabPage(&container, "Page", ZAF_STYLE_GRID);
  auto* sourceButton =
      new ZAFDlgPushButton(new ZAFDlgFrame(page, "Frame", ZAF_STYLE_GRID), "S", ZAF_STYLE_PLAIN);
  auto* targetButton = new ZAFDlgPushButton(page, "T", ZAF_STYLE_PLAIN);
  source.AddAnalyseNotificationCB(sourceButton, sourceButton->GetPushBActivateNotification(), kOn,
                                  &nothing);
  target.AddAnalyseNotificationCB(targetButton, targetButton->GetPushBActivateNotification(), kOn,
                                  &nothing);
  const decltype(target.calls) once = {
      {sourceButton, sourceButton->GetPushBActivateNotification(), &nothing}};
  source.SetFather(&container);
  target = source;
  EXPECT_TRUE(target.GetFather() == &container && target.GetResourceName() == "Source")
      << "the father and the name are assigned too";
  page->SetFather(&target);
  targetButton->Press();
  sourceButton->Press();
  EXPECT_EQ(target.calls, once);
  source = Listener();  // drops its registrations; the target's on the same publisher stay
  sourceButton->~ZAFDlgPushButton();
  auto* again =
      ::new (static_cast<void*>(sourceButton)) ZAFDlgPushButton(page, "Again", ZAF_STYLE_PLAIN);
  again->Press();
  EXPECT_EQ(target.calls, once) << "a widget made at a destroyed publisher's address";
}

// A chooser that counts its destructions, under a container whose father is the listener.
struct CountedChooser : ZAFDlgFile {
  CountedChooser(ZAFDialog* parent, int* count)
      : ZAFDlgFile(parent, "Chooser", ZAF_STYLE_DIR_CHOOSER), destructions(count) {}
  ~CountedChooser() override { ++*destructions; }
  int* destructions;
};

// A destruction asked for during a notification waits until after its last callback, also
// during a bare Publish (not an operator action) until the outermost one ends; outside a
// notification it is immediate. A parent whose destruction is asked for after its child's
// takes the child along: each is destroyed once.
TEST(DelayedDestructionTest, ADestructionAskedForDuringANotificationWaitsForItsEnd) {
  Listener listener;
  ZAFDlgTabContainer container;
  container.SetFather(&listener);
  int destructions = 0;
  auto* chooser = new CountedChooser(&container, &destructions);
  int destructionsSeen = -1;
  Listener::Action destroy = [&] { chooser->RequestDelayedDestruction(); };
  Listener::Action look = [&] { destructionsSeen = destructions; };
  listener.AddAnalyseNotificationCB(chooser, chooser->GetDiaOKNotification(), kOn, &destroy);
  listener.AddAnalyseNotificationCB(chooser, chooser->GetDiaOKNotification(), kOn, &look);
  chooser->CloseOK("/opt/qim");
  EXPECT_EQ(destructionsSeen, 0) << "not during the notification";
  EXPECT_EQ(destructions, 1) << "but right after it";
  EXPECT_TRUE(container.GetChildren().empty()) << "it left its parent";
  (new CountedChooser(&container, &destructions))->RequestDelayedDestruction();
  EXPECT_EQ(destructions, 2) << "outside a notification";

  chooser = new CountedChooser(&container, &destructions);
  ZAFNotification outer("Outer");
  ZAFNotification inner("Inner");
  Listener::Action nest = [&] {
    container.Publish(&inner);
    destructionsSeen = destructions;
  };
  listener.AddAnalyseNotificationCB(&container, &inner, kOn, &destroy);
  listener.AddAnalyseNotificationCB(&container, &outer, kOn, &nest);
  container.Publish(&outer);
  EXPECT_EQ(destructionsSeen, 2) << "the inner notification is not the outermost";
  EXPECT_EQ(destructions, 3);

  auto* frame = new ZAFDlgFrame(&container, "Frame", ZAF_STYLE_GRID);
  chooser = new CountedChooser(frame, &destructions);
  Listener::Action destroyBoth = [&] {
    chooser->RequestDelayedDestruction();
    frame->RequestDelayedDestruction();
  };
  listener.AddAnalyseNotificationCB(chooser, chooser->GetDiaCANCELNotification(), kOn,
                                    &destroyBoth);
  chooser->CloseCancel();
  EXPECT_EQ(destructions, 4);
  EXPECT_TRUE(container.GetChildren().empty());
}

// ---- Walking the widget tree ----

// A small grid: two rows of label, editor and button, then a chooser made last under the
// first frame, as a browse button makes one.
class WidgetTreeTest : public ::testing::Test {
 protected:
  WidgetTreeTest() {
    auto* page = new ZAFDlgTabPage(&container, "Page", ZAF_STYLE_GRID);
    auto* frame = new ZAFDlgFrame(page, "Frame", ZAF_STYLE_GRID);
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
    new ZAFDlgCheckButton(other, "OtherCheck", ZAF_STYLE_PLAIN);
    new ZAFDialog(other, "OtherPlain", ZAF_STYLE_PLAIN);
    new ZAFDlgFile(frame, "Chooser", ZAF_STYLE_DIR_CHOOSER);
  }

  static void Place(ZAFDialog* widget, std::uint16_t row, std::uint16_t column) {
    widget->SetGridConstraints(row, column, 1, 1, ZAF_JUSTIFY_FILL);
  }
  static std::string Names(const std::vector<const ZAFDialog*>& widgets) {
    std::string names;
    for (const ZAFDialog* widget : widgets)
      names += (names.empty() ? "" : " ") + NameOf(widget);
    return names;
  }
  // The name of the widget, or "none".
  static std::string NameOf(const ZAFDialog* widget) {
    return widget != nullptr ? widget->GetResourceName().str() : "none";
  }

  ZAFDlgTabContainer container;
  const ZAFDialog& readOnly = container;
  ZAFDlgFrame* other = nullptr;
};

// Creation order, not depth first, and each widget's class name; a visit by type sees only
// that type, and not the widgets it makes itself (the list is taken before the first call).
// Indexes count per tree. A grid row or column made resizable can be made fixed again.
TEST_F(WidgetTreeTest, DescendantsComeInCreationOrderAndVisitsSeeOnlyTheTreeAsItWas) {
  EXPECT_EQ(Names(readOnly.GetDescendants()),
            "Page Frame NameLabel NameEditor BrowseName BrowseHome HomeEditor HomeLabel Unplaced "
            "Other OtherEditor OtherCheck OtherPlain Chooser");
  EXPECT_EQ(Names(std::as_const(*other).GetDescendants()), "OtherEditor OtherCheck OtherPlain")
      << "below it only";
  // The class names are the widget types the dialog server hands the browser.
  std::string classes = readOnly.GetClassName();
  for (const ZAFDialog* widget : readOnly.GetDescendants())
    classes += std::string(" ") + widget->GetClassName();
  EXPECT_EQ(
      classes,
      "ZAFDlgTabContainer ZAFDlgTabPage ZAFDlgFrame ZAFDlgLabel ZAFDlgEditor ZAFDlgPushButton "
      "ZAFDlgPushButton ZAFDlgEditor ZAFDlgLabel ZAFDlgLabel ZAFDlgFrame ZAFDlgEditor "
      "ZAFDlgCheckButton ZAFDialog ZAFDlgFile");
  std::vector<const ZAFDialog*> editors;
  readOnly.ForEachDescendantOfType<ZAFDlgEditor>(
      [&editors](const ZAFDlgEditor& editor) { editors.push_back(&editor); });
  EXPECT_EQ(Names(editors), "NameEditor HomeEditor OtherEditor");
  int visits = 0;
  container.ForEachDescendantOfType<ZAFDlgFrame>([&visits](ZAFDlgFrame& visited) {
    ++visits;
    new ZAFDlgFrame(&visited, "Inner", ZAF_STYLE_GRID);
  });
  EXPECT_EQ(visits, 2);
  EXPECT_EQ(container.GetDescendants().size(), 16u);
  EXPECT_EQ(container.FindByName("Chooser")->GetCreationIndex(), 15u);
  ZAFDlgTabContainer second;
  auto* first = new ZAFDlgLabel(&second, "First", ZAF_STYLE_PLAIN);
  EXPECT_EQ(second.GetCreationIndex(), 1u) << "the other tree's widgets do not count";
  EXPECT_EQ(first->GetCreationIndex(), 2u);
  other->SetGridColumnResizable(1, 1);
  other->SetGridRowResizable(2, 1);
  other->SetGridColumnResizable(1, 0);
  other->SetGridRowResizable(2, 0);
  EXPECT_TRUE(other->GetResizableColumns().empty() && other->GetResizableRows().empty());
  delete container.FindByName("OtherEditor");
  EXPECT_EQ(Names(std::as_const(*other).GetDescendants()), "OtherCheck OtherPlain Inner")
      << "a widget deleted takes only itself out of its parent";
}

// A typed lookup needs both the name and the type; a typed neighbour is the nearest placed
// sibling on that side only if it has that type.
TEST_F(WidgetTreeTest, LookupsNeedTheNameAndTheTypeAndNeighboursAreTheNearestPlaced) {
  EXPECT_EQ(container.FindDescendantOfType<ZAFDlgEditor>("HomeEditor"),
            container.FindByName("HomeEditor"));
  EXPECT_EQ(NameOf(readOnly.FindDescendantOfType<ZAFDlgFile>("Chooser")), "Chooser");
  EXPECT_EQ(container.FindDescendantOfType<ZAFDlgLabel>("HomeEditor"), nullptr);
  EXPECT_EQ(container.FindDescendantOfType<ZAFDlgEditor>("NoSuchEditor"), nullptr);
  EXPECT_EQ(container.FindDescendantOfType<ZAFDlgEditor>(nullptr), nullptr);
  EXPECT_EQ(container.FindDescendantOfType<ZAFDlgTabContainer>("TabContainer"), nullptr)
      << "the widget itself is no descendant";
  ZAFDialog* button = container.FindByName("BrowseName");
  EXPECT_EQ(NameOf(button->GetRowNeighbourOfType<ZAFDlgEditor>(ZAFRowSide::Left)), "NameEditor");
  EXPECT_EQ(button->GetRowNeighbourOfType<ZAFDlgLabel>(ZAFRowSide::Left), nullptr)
      << "the label lies beyond the editor";
  for (const auto& [name, side, expected, why] :
       std::vector<std::tuple<const char*, ZAFRowSide, const char*, const char*>>{
           {"NameLabel", ZAFRowSide::Right, "NameEditor", "the editor right of its label"},
           {"BrowseName", ZAFRowSide::Left, "NameEditor", "the editor left of its browse button"},
           {"BrowseHome", ZAFRowSide::Left, "HomeEditor", "nearest across an empty column"},
           {"HomeEditor", ZAFRowSide::Right, "BrowseHome", "the grid counts, not the making order"},
           {"HomeLabel", ZAFRowSide::Left, "none", "nothing left of column 0"},
           {"BrowseName", ZAFRowSide::Right, "none", "the other row's button is not in this row"},
           {"Unplaced", ZAFRowSide::Right, "none", "a widget without a place has no neighbour"},
           {"Frame", ZAFRowSide::Right, "none", "no sibling of the frame has a place"},
       })
    EXPECT_EQ(NameOf(readOnly.FindByName(name)->GetRowNeighbour(side)), expected) << why;
}

// ---- The preference file ----

TEST(PreferenceTextTest, AwkwardTextsRoundTripExactlyAsNamesAndValues) {
  for (const auto& [text, why] : std::vector<std::pair<std::string, const char*>>{
           {"", "empty"},
           {"  blanks at both ends  ", "blanks kept"},
           {"two\nlines\r\nand\ttab", "control characters"},
           {"say \"hi\" \\\"", "quotes and backslashes"},
           {"C:\\dir\\", "a backslash at the end"},
           {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "non-ASCII"},
           {"nul\0inside\x01\x7F"s, "NUL and other control bytes"},
           {"\xFF\xFE bad \xC3", "bytes that are not UTF-8"},
           {"\\u0041 \\x80 \" \"", "text that looks like escapes or separators"},
       }) {
    const zaf::PreferenceMap preferences{{text, Texts{text, "", text}},
                                         {"n", std::vector<int>{INT_MIN, 0, INT_MAX}}};
    std::string error;
    EXPECT_EQ(zaf::ParsePreferences(zaf::SerializePreferences(preferences), error), preferences)
        << why << ": " << error;
  }
  std::string error;  // a file edited by hand may spell hexadecimal digits in lower case
  EXPECT_EQ(
      zaf::ParsePreferences("zaf-preferences 1\ntext \"t\" 1 \"\\xfe\\u007f\\u001b\"\n", error),
      (zaf::PreferenceMap{{"t", Texts{"\xFE\x7F\x1B"}}}));
}

TEST(PreferenceTextTest, StrictReadingRefusesTheWholeFile) {
  const std::string header = "zaf-preferences 1\n";
  using Case = std::tuple<std::string, const char*, const char*>;
  for (const auto& [text, expectedInError, why] : std::vector<Case>{
           {"", "empty", "no header at all"},
           {"\xFF" + header, "line 1: not valid UTF-8", "invalid UTF-8 from the first byte"},
           {"zaf-preferences 2\n", "version", "unknown version"},
           {header + "int \"a\" 1 5", "last line", "cut short: no final newline"},
           {header + "int \"a\" 2 5\n", "line 2", "fewer values than counted"},
           {header + "int \"a\" 1 05\n", "number", "leading zero"},
           {header + "int \"a\" 1 2147483648\n", "range", "above int"},
           {header + "text \"a\" 1 \"x\\\"\n", "unterminated", "escaped last quote"},
           {header + "text \"a\" 1 \"\\q\"\n", "escape", "unknown escape"},
           {header + "text \"a\" 1 \"\xC3\"\n", "UTF-8", "invalid UTF-8"},
           {header + "int \"a\" 1 5\ntext \"b\" 1 \"\xC3\"\n", "line 3",
            "invalid UTF-8 names its line"},
           {header + "int \"a\" 1 5\nint \"a\" 1 6\n", "line 3", "repeated name"},
           {header + "text \"a\" 2147483647\n", "line 2", "huge count without values"},
       }) {
    std::string error;
    EXPECT_FALSE(zaf::ParsePreferences(text, error).has_value()) << why;
    EXPECT_THAT(error, HasSubstr(expectedInError)) << why;
  }
}

const std::string kGolden = QIM_GOLDEN_DIR "/preferences.prefs";

// Written through a repository, as the plug-in writes (integers, texts and an empty list), the
// file is the golden one byte for byte; that file, as an earlier run left it, is read value by
// value through a repository, under the names it was saved with.
TEST_F(PreferenceStoreTest, ASaveWritesTheGoldenFileAndARepositoryReadsItBack) {
  const Texts values = {"true", "  C:\\Program Files\\QIM\\  ",
                        "p\"w\x01\x7F\n\t\r \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xFF"s};
  ASSERT_EQ(Save(Fresh(), {{"count", std::vector<int>{3}},
                           {"limits", std::vector<int>{INT_MIN, 0, INT_MAX}},
                           {"empty", Texts{}},
                           {"Keys", Texts{"enablePlugIn", "qimdirrt", "databasePassword"}},
                           {"Values", values}}),
            0);
  EXPECT_EQ(qimtest::ReadFile(file_), qimtest::ReadFile(kGolden));
  qimtest::WriteFile(file_, qimtest::ReadFile(kGolden));
  ZAFSysPreferenceRepository& repository = *Fresh();
  int count = 0;
  int limits[3] = {};
  ASSERT_EQ(repository.ReadPreference("count", &count, 1), 0);
  ASSERT_EQ(repository.ReadPreference("limits", limits, 3), 0);
  EXPECT_EQ(
      std::to_string(count) + " " + std::to_string(limits[0]) + " " + std::to_string(limits[2]),
      "3 -2147483648 2147483647");
  ZAFUnicodeString read[3];
  ZAFUnicodeString* pointers[3] = {&read[0], &read[1], &read[2]};
  const ZAFUnicodeString text("t");
  const ZAFUnicodeString* const missingFirst[] = {nullptr, &text};
  EXPECT_LT(repository.WritePreference("Values", missingFirst, 2), 0) << "a missing text";
  ASSERT_EQ(repository.ReadPreference("Values", pointers, 3), 0);
  EXPECT_EQ(Texts({read[0].str(), read[1].str(), read[2].str()}), values);
}

// A save waits for a held lock, says once whose it is (as far as known then), and gives up
// after the timeout naming the holder as known by then, with the file as it was; a lock
// released while it waits lets it through. A save that would make the file too large, or whose
// temporary file or lock file cannot be made (a folder holds its name), fails too, with the file
// as it was.
TEST_F(PreferenceStoreTest, ASaveWaitsForAHeldLockAndLeavesTheFileAsItWasWhenItFails) {
  ASSERT_EQ(SaveVersion(1), 0);
  std::vector<long> holders;
  zaf::SetPreferenceLockWaitNotice([&holders](long holder) { holders.push_back(holder); });
  zaf::SetPreferenceLockTimeout(std::chrono::milliseconds(300));
  qimtest::HeldLock held(file_ + ".lock");
  ASSERT_TRUE(held.Held());
  qimtest::WriteFile(file_ + ".lock", "");  // the holder has not said who it is yet

  ZAFSysPreferenceRepository* repository = Fresh();
  const std::string self = std::to_string(zaf::platform::CurrentProcessId());
  std::thread late([this, &self] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    qimtest::WriteFile(file_ + ".lock", self + "\n");
  });
  const auto saveStart = std::chrono::steady_clock::now();
  EXPECT_LT(Save(repository, Version("", 2)), 0);
  const auto waited = std::chrono::steady_clock::now() - saveStart;
  late.join();
  EXPECT_GE(waited, std::chrono::milliseconds(300));
  EXPECT_LT(waited, std::chrono::seconds(3));
  EXPECT_EQ(holders, std::vector<long>{0}) << "not known when the wait began";
  ASSERT_EQ(lines_.size(), 1U) << "known at its end";
  EXPECT_THAT(lines_[0],
              ::testing::AllOf(HasSubstr(file_ + ".lock"),
                               HasSubstr("still held by process " + self), HasSubstr("0.300 s")));
  EXPECT_EQ(InFile(), Version("", 1));

  zaf::SetPreferenceLockTimeout(std::chrono::seconds(20));
  zaf::SetPreferenceLockWaitNotice(nullptr);  // the host then says it itself
  lines_.clear();
  std::thread releaser([&held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    held.Release();
  });
  EXPECT_EQ(Save(repository, Version("", 3)), 0);
  releaser.join();
  EXPECT_EQ(lines_, Texts{"waiting for the lock " + file_ + ".lock held by process " + self});
  EXPECT_EQ(InFile(), Version("", 3));

  lines_.clear();
  EXPECT_LT(Save(repository, {{"big", Texts{std::string(1 << 20, 'x')}}}), 0);
  ASSERT_EQ(lines_.size(), 1U);
  EXPECT_THAT(lines_[0], HasSubstr("would make the file larger than 1 MiB"));

  std::filesystem::create_directory(std::filesystem::u8path(file_ + ".tmp." + self));
  lines_.clear();
  EXPECT_LT(SaveVersion(4), 0);
  ASSERT_EQ(lines_.size(), 1U);
  EXPECT_THAT(lines_[0], HasSubstr("cannot create QIMSetup.prefs.tmp." + self));
  EXPECT_EQ(InFile(), Version("", 3));

  std::filesystem::remove(std::filesystem::u8path(file_ + ".lock"));
  std::filesystem::create_directory(std::filesystem::u8path(file_ + ".lock"));
  lines_.clear();
  EXPECT_LT(SaveVersion(5), 0);
  EXPECT_THAT(lines_, ::testing::ElementsAre(HasSubstr("cannot open the lock file " + file_)));
}

// What another process saved since this repository read the file reaches the merge, with this
// repository's own writes apart; the merge alone decides what is saved, and the repository
// then holds what was saved, in a file or in memory.
TEST_F(PreferenceStoreTest, AMergedSaveSeesTheFileAsSavedMeanwhileAndTheWritesApart) {
  const zaf::PreferenceMap before = {{"count", Texts{"1"}}};
  const zaf::PreferenceMap theirs = {{"count", Texts{"7"}}, {"Values", Texts{"v"}}};
  const zaf::PreferenceMap mine = {{"mine", Texts{"m"}}};
  ZAFSysPreferenceRepository& repository = *Fresh();
  ASSERT_EQ(Save(&repository, before), 0);
  ASSERT_EQ(qimtest::WritePreferences(repository, mine), 0);
  qimtest::WriteFile(file_, zaf::SerializePreferences(theirs));
  zaf::PreferenceMap seenFile;
  zaf::PreferenceMap seenWritten;
  ASSERT_EQ(
      zaf::SaveHostRepository("QIMSetup",
                              [&](zaf::PreferenceMap& file, const zaf::PreferenceMap& written) {
                                seenFile = file;
                                seenWritten = written;
                                file.erase("count");
                                file["merged"] = std::vector<int>{1};
                              }),
      0);
  EXPECT_EQ(seenFile, theirs);
  EXPECT_EQ(seenWritten, mine);
  const zaf::PreferenceMap expected = {{"Values", Texts{"v"}}, {"merged", std::vector<int>{1}}};
  EXPECT_EQ(InFile(), expected);
  int merged = 0;
  EXPECT_EQ(repository.ReadPreference("merged", &merged, 1), 0);
  EXPECT_EQ(repository.ReadPreference("count", &merged, 1), -1);

  zaf::SetPreferenceDirectory("");  // in memory, the merge decides as much
  ZAFSysPreferenceRepository* memory = zaf::OpenHostRepository("QIMSetup");
  ASSERT_EQ(qimtest::WritePreferences(*memory, mine), 0);
  ASSERT_EQ(zaf::SaveHostRepository("QIMSetup",
                                    [](zaf::PreferenceMap& file, const zaf::PreferenceMap&) {
                                      file = {{"merged", std::vector<int>{2}}};
                                    }),
            0);
  EXPECT_EQ(memory->ReadPreference("merged", &merged, 1), 0);
  EXPECT_EQ(merged, 2);
  EXPECT_EQ(memory->ReadPreference("mine", &merged, 1), -1) << "the merge left it out";
  zaf::ResetHost();
  EXPECT_EQ(zaf::OpenHostRepository("QIMSetup")->ReadPreference("merged", &merged, 1), -1)
      << "a reset forgets it";
}

}  // namespace
