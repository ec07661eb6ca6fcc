// Field transfer: which widget each setting key reaches, how values are written and read
// back, and which pairs are skipped.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/testable_plugin.h"

namespace {

using qimtest::BuiltPlugInTest;
using qimtest::MakeList;
using qimtest::ToVector;
using Texts = std::vector<std::string>;

struct KeyedWidget {
  const char* key;
  const char* widget;
};

// The documented settings in the order the form lists them.
const KeyedWidget kSettings[] = {{"enablePlugIn", "EnableQimPlugIn"},
                                 {"enableCT", "EnableCreateDatabase"},
                                 {"databaseName", "DatabaseNameEditor"},
                                 {"databaseHost", "DatabaseHostEditor"},
                                 {"databasePort", "DatabasePortEditor"},
                                 {"databaseUser", "DatabaseUserEditor"},
                                 {"databasePassword", "DatabasePasswordEditor"},
                                 {"jndiName", "JndiNameEditor"},
                                 {"qimdirrt", "QIMRTEditor"},
                                 {"qimdir", "QIMEditor"},
                                 {"nuvdir", "NUVEditor"},
                                 {"mqsdir", "MQSEditor"},
                                 {"mqwfdir", "MQWFEditor"},
                                 {"wasdir", "WASEditor"},
                                 {"javahome", "JHOMEEditor"},
                                 {"mqscfg", "MsqCfgEditor"},
                                 {"mquser", "MsqUserEditor"},
                                 {"mqpass", "MsqPassEditor"},
                                 {"smtp", "SMTPEditor"},
                                 {"nuvserver", "NUVNavServerEditor"},
                                 {"nuvport", "NUVNavPortEditor"},
                                 {"nuvservlet", "NUVNavServletEditor"},
                                 {"qimmq", "QIMMQNameEditor"},
                                 {"qimdlq", "QIMMQDLEditor"},
                                 {"qimip", "QIMIPEditor"},
                                 {"qimport", "QIMPortEditor"},
                                 {"waittime", "MsqWTEditor"},
                                 {"nuvmq", "NUVMQNameEditor"},
                                 {"nuvdlq", "NUVMQDLEditor"},
                                 {"nuvip", "NUVIPEditor"},
                                 {"nuvmqport", "NUVPortEditor"},
                                 {"fmcip", "FMCIPEditor"},
                                 {"fmcport", "FMCPortEditor"}};

class FieldTransferTest : public BuiltPlugInTest {
 protected:
  void Set(std::initializer_list<const char*> keys, std::initializer_list<const char*> values) {
    plugin.SetUserInterfaceFields(MakeList(keys), MakeList(values));
  }
  // The values the form gives back, in key order.
  Texts Shown() {
    ZAFListValZAFUnicodeString keys;
    ZAFListValZAFUnicodeString values;
    plugin.GetUserInterfaceFields(keys, values);
    return ToVector(values);
  }
};

// Check buttons are set against their defaults (plug-in on, database creation off), and
// every editor gets a value of its own, so a row pointing at the wrong widget shows.
TEST_F(FieldTransferTest, EachKeyReachesItsOwnWidgetAndComesBackInOrder) {
  Texts keys;
  Texts values;
  for (const KeyedWidget& setting : kSettings) {
    keys.push_back(setting.key);
    values.push_back(std::string("value of ") + setting.key);
  }
  values[0] = "false";
  values[1] = "true";
  plugin.SetUserInterfaceFields(MakeList(keys), MakeList(values));

  EXPECT_FALSE(CheckButton("EnableQimPlugIn")->IsChecked());
  EXPECT_TRUE(CheckButton("EnableCreateDatabase")->IsChecked());
  for (std::size_t i = 2; i < std::size(kSettings); ++i) {
    EXPECT_EQ(Editor(kSettings[i].widget)->GetText().str(), values[i]) << kSettings[i].key;
  }

  ZAFListValZAFUnicodeString gotKeys = MakeList({"left", "over"});
  ZAFListValZAFUnicodeString gotValues = MakeList({"from", "before"});
  plugin.GetUserInterfaceFields(gotKeys, gotValues);
  EXPECT_EQ(ToVector(gotKeys), keys);
  EXPECT_EQ(ToVector(gotValues), values);
}

TEST_F(FieldTransferTest, EditorsShowValuesAsGivenAndGiveThemBackWithoutOuterBlanks) {
  struct Case {
    const char* value;
    const char* readBack;
    const char* reason;
  } const cases[] = {
      {"  C:\\QIM  ", "C:\\QIM", "outer blanks go"},
      {" a  b ", "a  b", "inner blanks stay"},
      {"\tx\t", "\tx\t", "only the blank is stripped, not the tab"},
      {"   ", "", "blanks only read back as empty"},
  };
  for (const Case& c : cases) {
    Set({"qimdir"}, {c.value});
    EXPECT_EQ(Editor("QIMEditor")->GetText(), c.value) << c.reason;
    EXPECT_EQ(Shown()[9], c.readBack) << c.reason;
  }
}

TEST_F(FieldTransferTest, PairsWithoutAWidgetChangeNothing) {
  const Texts before = Shown();
  struct Case {
    const char* key;
    const char* reason;
  } const cases[] = {
      {"enableRS", "a default that no widget shows"},
      {"QimDir", "keys are compared with their letter case"},
      {"qimdir ", "keys are compared exactly, blanks included"},
      {"", "the empty key"},
      {"EnableQimPlugIn", "a widget name is no setting key"},
  };
  for (const Case& c : cases) {
    Set({c.key}, {"true"});
    EXPECT_EQ(Shown(), before) << c.reason;
  }
  plugin.SetUserInterfaceFields(ZAFListValZAFUnicodeString(), ZAFListValZAFUnicodeString());
  EXPECT_EQ(Shown(), before) << "empty lists";
}

TEST_F(FieldTransferTest, TheLastValueOfARepeatedKeyWins) {
  Set({"qimdir", "smtp", "qimdir", "enablePlugIn", "enablePlugIn"},
      {"first", "mail", "second", "false", "true"});
  EXPECT_EQ(Editor("QIMEditor")->GetText(), "second");
  EXPECT_EQ(Editor("SMTPEditor")->GetText(), "mail");
  EXPECT_TRUE(CheckButton("EnableQimPlugIn")->IsChecked());
}

TEST_F(FieldTransferTest, OnlyTheExactTextTrueChecksAButton) {
  struct Case {
    const char* value;
    bool checked;
    const char* reason;
  } const cases[] = {
      {"true", true, "the one checking value"}, {"True", false, "letter case counts"},
      {"TRUE", false, "letter case counts"},    {" true", false, "check values are not stripped"},
      {"1", false, "no numeric truth"},         {"", false, "empty"},
  };
  for (const Case& c : cases) {
    Set({"enableCT"}, {c.value});
    EXPECT_EQ(CheckButton("EnableCreateDatabase")->GetState(),
              c.checked ? ZAF_CHECKED : ZAF_UNCHECKED)
        << c.reason;
  }
}

TEST_F(FieldTransferTest, ReadingTheFormStoresItWithoutEnableRS) {
  Set({"smtp"}, {" smtp.example.com "});
  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;
  plugin.GetUserInterfaceFields(keys, values);

  ZAFListValZAFUnicodeString storedKeys;
  ZAFListValZAFUnicodeString storedValues;
  ASSERT_EQ(plugin.ReadPrefFromRepository(storedKeys, storedValues), QIM_S_OK);
  EXPECT_EQ(ToVector(storedKeys), ToVector(keys));
  EXPECT_EQ(ToVector(storedValues), ToVector(values));
  EXPECT_EQ(ToVector(storedValues)[18], "smtp.example.com");
  for (const std::string& key : ToVector(storedKeys)) {
    EXPECT_NE(key, "enableRS");
  }
}

}  // namespace
