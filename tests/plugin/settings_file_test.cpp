// The settings survive the end of a run: one host writes them into "QIMSetup.prefs", a new
// host configured on the same folder reads them back into a new plug-in.

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/testable_plugin.h"

namespace {

using qimtest::MakeList;
using qimtest::ToVector;
using Texts = std::vector<std::string>;

// The thirty-three settings as the form lists them.
Texts SettingKeys() {
  std::istringstream words(
      "enablePlugIn enableCT databaseName databaseHost databasePort databaseUser "
      "databasePassword jndiName qimdirrt qimdir nuvdir mqsdir mqwfdir wasdir javahome mqscfg "
      "mquser mqpass smtp nuvserver nuvport nuvservlet qimmq qimdlq qimip qimport waittime "
      "nuvmq nuvdlq nuvip nuvmqport fmcip fmcport");
  return Texts(std::istream_iterator<std::string>(words), std::istream_iterator<std::string>());
}

// Values a file store could trim, split, unescape or take for comments, one per setting.
Texts AwkwardValues(const Texts& keys) {
  const Texts endings = {"", "  ", " = b # c", "\\Program Files\\", "'q' \"qq\"", " Zürich %1"};
  Texts values;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    values.push_back(" " + keys[i] + endings[i % endings.size()]);
  }
  values[8] = "";  // an editor left empty
  return values;
}

TEST(SettingsFileTest, SettingsWrittenInOneRunAreReadInTheNext) {
  const Texts writtenKeys = SettingKeys();
  ASSERT_EQ(writtenKeys.size(), 33u);
  const Texts writtenValues = AwkwardValues(writtenKeys);
  qimtest::TempDir preferences;

  {
    qimtest::ScopedHost firstRun(QIM_SOURCE_CATALOG_DIR, preferences.path());
    qimtest::TestablePlugIn writer;
    ASSERT_EQ(writer.WritePrefToRepository(MakeList(writtenKeys), MakeList(writtenValues)),
              QIM_S_OK);
  }
  ASSERT_TRUE(qimtest::FileExists(preferences.File("QIMSetup.prefs")));

  qimtest::ScopedHost secondRun(QIM_SOURCE_CATALOG_DIR, preferences.path());
  qimtest::TestablePlugIn reader;
  auto keys = MakeList({"stale"});
  auto values = MakeList({"stale"});
  ASSERT_EQ(reader.ReadPrefFromRepository(keys, values), QIM_S_OK);

  EXPECT_EQ(ToVector(keys), writtenKeys);
  EXPECT_EQ(ToVector(values), writtenValues);
}

TEST(SettingsFileTest, AFolderWithoutAPreferenceFileHoldsNoSettings) {
  qimtest::TempDir preferences;
  qimtest::ScopedHost host(QIM_SOURCE_CATALOG_DIR, preferences.path());
  qimtest::TestablePlugIn plugin;
  auto keys = MakeList({"qimdir"});
  auto values = MakeList({"/opt/qim"});

  EXPECT_EQ(plugin.ReadPrefFromRepository(keys, values), QIM_E_FAIL);

  EXPECT_EQ(ToVector(keys), Texts{"qimdir"});
  EXPECT_EQ(ToVector(values), Texts{"/opt/qim"});
}

}  // namespace
