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
    return Refuse(name, count) ? -1 : host.WritePreference(name, values, count);
  }
  int WritePreference(const ZAFString& name, const ZAFUnicodeString* const* values,
                      int count) override {
    return Refuse(name, count) ? -1 : host.WritePreference(name, values, count);
  }
  int SaveRepository(void* reserved) override {
    log += "save";
    return host.SaveRepository(reserved);
  }
  // Logs the write asked for, as name/count; true when it is to be refused.
  bool Refuse(const ZAFString& name, int count) {
    log += name.str() + "/" + std::to_string(count) + " ";
    return name == refused;
  }

  const std::string refused;
  std::string log;
  ZAFSysPreferenceRepository& host = *zaf::OpenHostRepository("QIMSetup");
};

// Each row writes `count` keys and `values` values, or reads three stored pairs whose stored
// number is `count`, through a repository that refuses one preference ("" for none), or through
// none. A failed write saves nothing: its outcome lists the writes tried, each with its number
// of values (the count is one integer), and the save. A failed read leaves the lists alone,
// except that once the count is read the lists hold that many entries, empty where nothing
// could be read: its outcome is the lists after the read, as keys=values.
TEST(StoredSettingsTest, WritesAndReadsStopAtTheFirstRefusedPreference) {
  // Write or read, the preference refused, the counts, whether there is a repository, the
  // result and the outcome.
  const std::tuple<bool, const char*, int, int, bool, long, std::string, const char*> cases[] = {
      {true, "", 3, 3, true, QIM_S_OK, "count/1 Keys/3 Values/3 save", "all written, then saved"},
      {true, "", 0, 0, true, QIM_E_FAIL, "", "nothing to store"},
      {true, "", 3, 2, true, QIM_E_FAIL, "", "unequal lists are not stored"},
      {true, "count", 3, 3, true, QIM_E_FAIL, "count/1 ", "a refused count stops the write"},
      {true, "Keys", 3, 3, true, QIM_E_FAIL, "count/1 Keys/3 ", "refused keys stop the write"},
      {true, "Values", 3, 3, true, QIM_E_FAIL, "count/1 Keys/3 Values/3 ", "refused values"},
      {true, "", 3, 3, false, QIM_E_FAIL, "", "no repository to write to"},
      {false, "", 3, 0, true, QIM_S_OK, "k1|k2|k3=v1|v2|v3", "all read"},
      {false, "count", 3, 0, true, QIM_E_FAIL, "old=old", "no count: the lists stay"},
      {false, "", 0, 0, true, QIM_E_FAIL, "old=old", "a count of 0 is nothing stored"},
      {false, "", -4, 0, true, QIM_E_FAIL, "old=old", "a negative count is damage"},
      {false, "Keys", 3, 0, true, QIM_S_OK, "||=v1|v2|v3", "unreadable keys come back empty"},
      {false, "Values", 3, 0, true, QIM_S_OK, "k1|k2|k3=||", "unreadable values come back empty"},
      {false, "", 4, 0, true, QIM_S_OK, "k1|k2|k3|=v1|v2|v3|", "fewer pairs than counted"},
      // A count of 2^31 - 1 once made the lists take that many entries and ended the host with
      // bad_alloc: a damaged count is bounded, and what the store holds is still read.
      {false, "", 1000000, 0, true, QIM_S_OK,
       "k1|k2|k3" + std::string(1021, '|') + "=v1|v2|v3" + std::string(1021, '|'),
       "a huge count gives 1024 entries"},
      {false, "", 3, 0, false, QIM_E_FAIL, "old=old", "no repository to read from"},
  };
  for (const auto& [write, refused, count, valueCount, hasRepository, result, outcome, why] :
       cases) {
    ScopedHost scopedHost;
    if (!write) {  // three pairs, stored with `count` as their number
      TestablePlugIn().WritePrefToRepository(MakeList(Numbered("k", 3)),
                                             MakeList(Numbered("v", 3)));
      zaf::OpenHostRepository("QIMSetup")->WritePreference("count", &count, 1);
    }
    FaultyRepository repository(refused);
    scopedHost.UseRepository(hasRepository ? &repository : nullptr);
    ZAFListValZAFUnicodeString keys = MakeList({"old"}), values = MakeList({"old"});
    EXPECT_EQ(write ? TestablePlugIn().WritePrefToRepository(MakeList(Numbered("k", count)),
                                                             MakeList(Numbered("v", valueCount)))
                    : TestablePlugIn().ReadPrefFromRepository(keys, values),
              result)
        << why;
    EXPECT_EQ(write ? repository.log : Pairs(keys, values), outcome) << why;
  }
}

// A catalog in which each resource's text names the resource, so each value tells where it
// came from. The directory setting keys are resources too, so that looking one up instead of
// the platform's resource shows. "fmcport" is missing, which gives a blank as an empty entry
// does.
TEST(DefaultsTest, OrderPlatformMissingEntriesAndOutsideDefaults) {
  const Texts catalogKeys = Split(
      "enablePlugIn enableCT enableRS databaseName databaseHost databasePort databaseUser "
      "databasePassword jndiName qimdir mqsdir mqwfdir nuvdir mqscfg waittime mquser qimmq "
      "qimdlq qimport nuvmq nuvdlq nuvmqport fmcport");
  TempDir catalogs;
  std::string catalog;
  for (const std::string& name :
       Split(Join(catalogKeys, " ") + " qimwindir mqswindir mqwfwindir nuvwindir qimunxdir"
                                      " mqsunxdir mqwfunxdir nuvunxdir"))
    catalog += name == "fmcport" ? "" : name + " = v:" + name + "\n";
  WriteFile(catalogs.File("QimDefaults.cat"), catalog);
  ScopedHost scopedHost(catalogs.path());
  const ScopedEnv javaHome("JAVA_HOME", " /jdk ");
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
      expected.push_back(key == "fmcport" ? " " : "v:" + key);
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
}

}  // namespace qimtest
