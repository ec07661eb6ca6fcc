// The stored settings (write, read, their failures, a damaged count) and the installation
// defaults.

#include <tuple>

#include "plugin_fixture.h"

namespace qimtest {

Texts Numbered(const std::string& prefix, int count) {
  Texts texts;
  for (int i = 1; i <= count; ++i)
    texts.push_back(prefix + std::to_string(i));
  return texts;
}

// Texts a file store could trim, split, unescape or take for comments survive a new run.
TEST(SettingsFileTest, AwkwardTextsWrittenInOneRunAreReadInTheNext) {
  Texts values = Split(R"(| |  both ends  |k = v # no comment|C:\Program Files\|'q' "qq")"
                       "|Zürich 日本 %1 \\n|tab\there",
                       '|');
  values.push_back(std::string(2000, 'x'));
  TempDir preferences;
  {
    ScopedHost firstRun(QIM_SOURCE_CATALOG_DIR, preferences.path());
    ASSERT_EQ(TestablePlugIn().WritePrefToRepository(MakeList(Numbered("k", 9)), MakeList(values)),
              QIM_S_OK);
  }
  ScopedHost secondRun(QIM_SOURCE_CATALOG_DIR, preferences.path());
  ZAFListValZAFUnicodeString keys = MakeList({"stale"}), read = MakeList({"stale"});
  ASSERT_EQ(TestablePlugIn().ReadPrefFromRepository(keys, read), QIM_S_OK);
  EXPECT_EQ(ToVector(keys), Numbered("k", 9));
  EXPECT_EQ(ToVector(read), values);
}

// Stores the pairs through a plug-in, then `count` as their number, as a damaged or
// hand-edited store could hold it.
void Store(const Texts& keys, const Texts& values, int count) {
  TestablePlugIn().WritePrefToRepository(MakeList(keys), MakeList(values));
  zaf::OpenHostRepository("QIMSetup")->WritePreference("count", &count, 1);
}

// The host's own repository, refusing one preference on demand and logging the writes asked
// for and the saves.
class FaultyRepository : public ZAFSysPreferenceRepository {
 public:
  explicit FaultyRepository(const char* refusedName) : refused(refusedName) {}
  int ReadPreference(const ZAFString& name, int* values, int count) override {
    return name == refused ? -1 : host.ReadPreference(name, values, count);
  }
  int ReadPreference(const ZAFString& name, ZAFUnicodeString** values, int count) override {
    return name == refused ? -1 : host.ReadPreference(name, values, count);
  }
  int WritePreference(const ZAFString& name, const int* values, int count) override {
    return Refuse(name) ? -1 : host.WritePreference(name, values, count);
  }
  int WritePreference(const ZAFString& name, const ZAFUnicodeString* const* values,
                      int count) override {
    return Refuse(name) ? -1 : host.WritePreference(name, values, count);
  }
  int SaveRepository(void* reserved) override {
    return log += "save", host.SaveRepository(reserved);
  }
  bool Refuse(const ZAFString& name) { return log += name.str() + " ", name == refused; }

  const std::string refused;
  std::string log;
  ZAFSysPreferenceRepository& host = *zaf::OpenHostRepository("QIMSetup");
};

// A failed write saves nothing; a failed read leaves the lists alone, except that once the
// count is read the lists hold that many entries, empty where nothing could be read. Each row:
// write or read, the refused preference, the count (write: keys, with `values` values; read:
// the count stored with 3 pairs), whether there is a repository, the result and the outcome
// (write: the writes tried and the save; read: keys=values).
TEST(StoredSettingsTest, EachOperationFailsAsItsRowSays) {
  const std::tuple<bool, const char*, int, int, bool, long, const char*> rows[] = {
      {true, "", 3, 3, true, QIM_S_OK, "count Keys Values save"},
      {true, "", 0, 0, true, QIM_E_FAIL, ""},  // nothing to store
      {true, "", 3, 2, true, QIM_E_FAIL, ""},  // unequal lists
      {true, "count", 3, 3, true, QIM_E_FAIL, "count "},
      {true, "Keys", 3, 3, true, QIM_E_FAIL, "count Keys "},
      {true, "Values", 3, 3, true, QIM_E_FAIL, "count Keys Values "},
      {true, "", 3, 3, false, QIM_E_FAIL, ""},
      {false, "", 3, 0, true, QIM_S_OK, "k1|k2|k3=v1|v2|v3"},
      {false, "count", 3, 0, true, QIM_E_FAIL, "old=old"},
      {false, "", 0, 0, true, QIM_E_FAIL, "old=old"},
      {false, "", -4, 0, true, QIM_E_FAIL, "old=old"},
      {false, "Keys", 3, 0, true, QIM_S_OK, "||=v1|v2|v3"},
      {false, "Values", 3, 0, true, QIM_S_OK, "k1|k2|k3=||"},
      {false, "", 4, 0, true, QIM_S_OK, "k1|k2|k3|=v1|v2|v3|"},  // fewer pairs than counted
      {false, "", 3, 0, false, QIM_E_FAIL, "old=old"},
  };
  for (const auto& [write, refused, count, valueCount, hasRepository, result, outcome] : rows) {
    ScopedHost scopedHost;
    Store(Numbered("k", 3), Numbered("v", 3), count);
    FaultyRepository repository(refused);
    FaultyRepository* const provided = hasRepository ? &repository : nullptr;
    zaf::SetPreferenceRepositoryProvider([provided](const std::string&) { return provided; });
    TestablePlugIn plugin;
    ZAFListValZAFUnicodeString keys = MakeList({"old"}), values = MakeList({"old"});
    EXPECT_EQ(write ? plugin.WritePrefToRepository(MakeList(Numbered("k", count)),
                                                   MakeList(Numbered("v", valueCount)))
                    : plugin.ReadPrefFromRepository(keys, values),
              result)
        << outcome;
    EXPECT_EQ(write ? repository.log : Pairs(keys, values), outcome);
  }
}

// A count of 2^31 - 1 once made the lists take that many entries and ended the host with
// bad_alloc: a damaged count is bounded, and what the store holds is still read.
TEST(StoredSettingsTest, AHugeStoredCountIsBoundedAndTheStoredPairsAreRead) {
  ScopedHost scopedHost;
  Store({"databaseName", "enablePlugIn"}, {"FROMSTORE", "false"}, 1000000);
  ZAFListValZAFUnicodeString keys, values;
  ASSERT_EQ(TestablePlugIn().ReadPrefFromRepository(keys, values), QIM_S_OK);
  EXPECT_EQ(keys.Size() + values.Size(), 2048);
  EXPECT_EQ(keys[1].str() + values[1].str() + keys[2].str() + values[2].str() + keys[3].str(),
            "databaseNameFROMSTOREenablePlugInfalse");
}

// A catalog in which each resource's text names the resource, so each value tells where it
// came from. The directory setting keys are resources too, so that looking one up instead of
// the platform's resource shows. "fmcport" is missing and "databasePassword" empty.
TEST(DefaultsTest, OrderPlatformMissingEntriesAndOutsideDefaults) {
  const Texts catalogKeys = Split(
      "enablePlugIn enableCT enableRS databaseName databaseHost databasePort databaseUser "
      "databasePassword jndiName qimdir mqsdir mqwfdir nuvdir mqscfg waittime mquser qimmq "
      "qimdlq qimport nuvmq nuvdlq nuvmqport fmcport");
  TempDir catalogs;
  std::string catalog = "databasePassword =\n";
  for (const std::string& name :
       Split(Join(catalogKeys, " ") + " qimwindir mqswindir mqwfwindir nuvwindir qimunxdir"
                                      " mqsunxdir mqwfunxdir nuvunxdir"))
    catalog += name == "fmcport" || name == "databasePassword" ? "" : name + " = v:" + name + "\n";
  WriteFile(catalogs.File("QimDefaults.cat"), catalog);
  ScopedHost scopedHost(catalogs.path());
  const char* const javaHome = std::getenv("JAVA_HOME");
  const std::string savedJavaHome = javaHome != nullptr ? javaHome : "";
  setenv("JAVA_HOME", " /jdk ", 1);
  RecordingHost host;
  host.wasDirectory = "C:\\WebSphere";
  host.nuvServlet = "servlet/NUV";
  TestablePlugIn plugin;
  plugin.SetHost(&host);

  // Only the exact "windows" picks the Windows directories; the lists are appended to.
  for (const std::string platform : {"windows", "Windows", "linux"}) {
    ZAFListValZAFUnicodeString keys = MakeList({"earlier"}), values = MakeList({"kept"});
    plugin.ReadDefaults(keys, values, platform);
    Texts expected = {"kept"};
    for (std::string key : catalogKeys) {
      if (key.size() > 3 && key.compare(key.size() - 3, 3, "dir") == 0)
        key.insert(key.size() - 3, platform == "windows" ? "win" : "unx");
      expected.push_back(key == "fmcport" || key == "databasePassword" ? " " : "v:" + key);
    }
    EXPECT_EQ(Pairs(keys, values), "earlier|" + Join(catalogKeys) + "|javahome|wasdir|nuvservlet=" +
                                       Join(expected) + "| /jdk |C:\\WebSphere|servlet/NUV")
        << platform;
  }

  // Without the catalog only the three outside defaults are appended, even when empty.
  std::remove(catalogs.File("QimDefaults.cat").c_str());
  ScopedHost withoutCatalog(catalogs.path());
  ZAFListValZAFUnicodeString keys, values;
  TestablePlugIn().ReadDefaults(keys, values, "windows");
  EXPECT_EQ(Pairs(keys, values), "javahome|wasdir|nuvservlet= /jdk ||");
  javaHome != nullptr ? setenv("JAVA_HOME", savedJavaHome.c_str(), 1) : unsetenv("JAVA_HOME");
}

}  // namespace qimtest
