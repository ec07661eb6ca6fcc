// The installation defaults: which catalog resources ReadDefaults reads for which platform,
// under which setting keys and in which order, and the three defaults from outside the
// catalog (JAVA_HOME and the host's server settings).

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/testable_plugin.h"

namespace {

using qimtest::MakeList;
using qimtest::ToVector;
using Texts = std::vector<std::string>;

// Sets or unsets an environment variable for one test and puts the old value back after.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    Apply(value);
  }
  ~ScopedEnvironment() { Apply(old_); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  void Apply(const std::optional<std::string>& value) {
    if (value) {
      setenv(name_.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

  std::string name_;
  std::optional<std::string> old_;
};

// The setting keys that ReadDefaults appends, in order, when the catalog is there.
const Texts kCatalogKeys = {"enablePlugIn", "enableCT",     "enableRS",     "databaseName",
                            "databaseHost", "databasePort", "databaseUser", "databasePassword",
                            "jndiName",     "qimdir",       "mqsdir",       "mqwfdir",
                            "nuvdir",       "mqscfg",       "waittime",     "mquser",
                            "qimmq",        "qimdlq",       "qimport",      "nuvmq",
                            "nuvdlq",       "nuvmqport",    "fmcport"};
const Texts kOutsideKeys = {"javahome", "wasdir", "nuvservlet"};

const Texts kWindowsDirectories = {"qimwindir", "mqswindir", "mqwfwindir", "nuvwindir"};
const Texts kUnixDirectories = {"qimunxdir", "mqsunxdir", "mqwfunxdir", "nuvunxdir"};

Texts Concatenated(Texts first, const Texts& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// A catalog in which every resource's text is its own name behind "v:", so each value tells
// which resource it came from. It also holds the directory setting keys ("qimdir", ...) as
// resources, so looking up a setting key instead of the platform's resource name shows.
// `without` lists resources left out; `empty` those left blank.
std::string NamingCatalog(const Texts& without = {}, const Texts& empty = {}) {
  const auto contains = [](const Texts& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
  };
  std::string catalog = "# every value names its resource\n";
  for (const Texts* names : {&kCatalogKeys, &kWindowsDirectories, &kUnixDirectories}) {
    for (const std::string& name : *names) {
      if (!contains(without, name)) {
        catalog += name + " = " + (contains(empty, name) ? "" : "v:" + name) + "\n";
      }
    }
  }
  return catalog;
}

// The catalog values ReadDefaults should report for the naming catalog, directories
// taken from `directories`.
Texts NamingValues(const Texts& directories) {
  Texts values;
  for (const std::string& key : kCatalogKeys) {
    values.push_back("v:" + key);
  }
  const auto firstDirectory = values.begin() + 9;  // "qimdir" follows "jndiName"
  std::transform(directories.begin(), directories.end(), firstDirectory,
                 [](const std::string& name) { return "v:" + name; });
  return values;
}

// A plug-in reading defaults from a catalog folder of the test's own, with JAVA_HOME unset
// and no host unless a test gives one.
class DefaultsTest : public ::testing::Test {
 protected:
  DefaultsTest() { qimtest::WriteFile(catalogs.File("QimDefaults.cat"), NamingCatalog()); }

  struct Defaults {
    Texts keys;
    Texts values;
  };

  Defaults Read(const char* platform = "windows") {
    ZAFListValZAFUnicodeString keys;
    ZAFListValZAFUnicodeString values;
    plugin.ReadDefaults(keys, values, platform);
    return {ToVector(keys), ToVector(values)};
  }

  qimtest::TempDir catalogs;
  qimtest::ScopedHost scopedHost{catalogs.path()};
  ScopedEnvironment javaHome{"JAVA_HOME", std::nullopt};
  qimtest::TestablePlugIn plugin;
};

// ---- Platform ----

struct PlatformCase {
  const char* reason;
  const char* platform;
  const Texts* directories;
};

class PlatformTest : public DefaultsTest, public ::testing::WithParamInterface<PlatformCase> {};

TEST_P(PlatformTest, PicksTheDirectoriesOfThePlatform) {
  const Defaults defaults = Read(GetParam().platform);

  EXPECT_EQ(defaults.keys, Concatenated(kCatalogKeys, kOutsideKeys));
  EXPECT_EQ(defaults.values, Concatenated(NamingValues(*GetParam().directories), {"", "", ""}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlatformTest,
    ::testing::Values(PlatformCase{"Windows", "windows", &kWindowsDirectories},
                      // Only the exact lower-case text selects Windows.
                      PlatformCase{"CapitalisedWindows", "Windows", &kUnixDirectories},
                      PlatformCase{"WindowsWithTrailingBlank", "windows ", &kUnixDirectories},
                      PlatformCase{"Linux", "linux", &kUnixDirectories},
                      PlatformCase{"NoPlatform", "", &kUnixDirectories}),
    [](const ::testing::TestParamInfo<PlatformCase>& info) { return info.param.reason; });

// ---- Catalog content ----

TEST_F(DefaultsTest, MissingOrEmptyResourcesStillGiveTheirSettingAsOneBlank) {
  qimtest::WriteFile(catalogs.File("QimDefaults.cat"),
                     NamingCatalog({"enableCT", "qimwindir", "fmcport"}, {"databasePassword"}));

  const Defaults defaults = Read();

  Texts expected = Concatenated(NamingValues(kWindowsDirectories), {"", "", ""});
  expected[1] = " ";   // enableCT: missing
  expected[7] = " ";   // databasePassword: empty
  expected[9] = " ";   // qimdir: its Windows resource is missing
  expected[22] = " ";  // fmcport: missing
  EXPECT_EQ(defaults.keys, Concatenated(kCatalogKeys, kOutsideKeys));
  EXPECT_EQ(defaults.values, expected);
}

TEST_F(DefaultsTest, WithoutTheCatalogOnlyTheThreeOutsideDefaultsAreAppended) {
  std::remove(catalogs.File("QimDefaults.cat").c_str());

  const Defaults defaults = Read();

  EXPECT_EQ(defaults.keys, kOutsideKeys);
  EXPECT_EQ(defaults.values, (Texts{"", "", ""}));
}

TEST_F(DefaultsTest, AppendsBehindWhatTheListsAlreadyHold) {
  auto keys = MakeList({"earlier"});
  auto values = MakeList({"kept"});

  plugin.ReadDefaults(keys, values, "windows");
  plugin.ReadDefaults(keys, values, "windows");

  const Texts once = Concatenated(kCatalogKeys, kOutsideKeys);
  EXPECT_EQ(ToVector(keys), Concatenated(Concatenated({"earlier"}, once), once));
  EXPECT_EQ(ToVector(values).front(), "kept");
  EXPECT_EQ(keys.Size(), values.Size());
}

// The product ships values for every resource except the password, which stays blank.
TEST(ShippedDefaultsTest, CatalogGivesEveryDefaultButThePassword) {
  qimtest::ScopedHost scopedHost;
  ScopedEnvironment javaHome{"JAVA_HOME", std::nullopt};
  qimtest::TestablePlugIn plugin;
  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;

  plugin.ReadDefaults(keys, values, "windows");

  ASSERT_EQ(ToVector(keys), Concatenated(kCatalogKeys, kOutsideKeys));
  EXPECT_EQ(ToVector(values), (Texts{"true",
                                     "false",
                                     "false",
                                     "QIMDB",
                                     "localhost",
                                     "50000",
                                     "db2admin",
                                     " ",
                                     "jdbc/QIM",
                                     "C:\\Program Files\\QIM",
                                     "C:\\Program Files\\IBM\\MQSeries",
                                     "C:\\Program Files\\IBM\\MQSeries Workflow",
                                     "C:\\Program Files\\NUV",
                                     "FMC",
                                     "30",
                                     "MUSR_MQADMIN",
                                     "QIMQM",
                                     "QIM.DEAD.LETTER.QUEUE",
                                     "1415",
                                     "NUVQM",
                                     "NUV.DEAD.LETTER.QUEUE",
                                     "1416",
                                     "5010",
                                     "",
                                     "",
                                     ""}));
}

// ---- Defaults from outside the catalog ----

struct JavaHomeCase {
  const char* reason;
  std::optional<std::string> variable;
  const char* expected;
};

class JavaHomeTest : public DefaultsTest, public ::testing::WithParamInterface<JavaHomeCase> {};

TEST_P(JavaHomeTest, JavaHomeComesFromTheEnvironmentAsItIs) {
  ScopedEnvironment variable{"JAVA_HOME", GetParam().variable};

  const Defaults defaults = Read();

  ASSERT_EQ(defaults.keys.size(), 26u);
  EXPECT_EQ(defaults.keys[23], "javahome");
  EXPECT_EQ(defaults.values[23], GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JavaHomeTest,
    ::testing::Values(JavaHomeCase{"Unset", std::nullopt, ""},
                      JavaHomeCase{"Set", "/usr/lib/jvm/java-8", "/usr/lib/jvm/java-8"},
                      // Unlike catalog values, an empty outside default is not made a blank.
                      JavaHomeCase{"Empty", "", ""},
                      JavaHomeCase{"Blanks", "  C:\\Java 1.3 ", "  C:\\Java 1.3 "}),
    [](const ::testing::TestParamInfo<JavaHomeCase>& info) { return info.param.reason; });

TEST_F(DefaultsTest, ServerDefaultsAreEmptyWithoutAHost) {
  const Defaults defaults = Read();

  EXPECT_EQ(Texts(defaults.keys.end() - 2, defaults.keys.end()), (Texts{"wasdir", "nuvservlet"}));
  EXPECT_EQ(Texts(defaults.values.end() - 2, defaults.values.end()), (Texts{"", ""}));
}

TEST_F(DefaultsTest, ServerDefaultsComeFromTheHostsServerSettings) {
  qimtest::RecordingHost host;
  host.wasDirectory = "C:\\WebSphere\\AppServer";
  host.nuvServlet = "servlet/NUVNav";
  plugin.SetHost(&host);

  const Defaults defaults = Read();

  EXPECT_EQ(host.serverSettingsCalls, 1);
  EXPECT_EQ(Texts(defaults.values.end() - 2, defaults.values.end()),
            (Texts{"C:\\WebSphere\\AppServer", "servlet/NUVNav"}));
}

}  // namespace
