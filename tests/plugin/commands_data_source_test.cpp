// The JDBC data source record handed to the host.

#include <string>

#include <gtest/gtest.h>

#include "tests/plugin/commands_fixture.h"

namespace qimtest {
namespace {

constexpr const char* kDb2Provider = "DB2 Universal JDBC Driver Provider (XA)";
constexpr const char* kOracleProvider = "Oracle JDBC Driver (XA)";

class DataSourceTest : public BackslashCommandsTest {
 protected:
  ZAFJdeWASDataSource* Ask(const char* product) {
    host.databaseProduct = product;
    ZAFJdeWASDataSource* record = nullptr;
    int count = 0;
    plugin.GetDataSourceSettings(record, count);
    EXPECT_EQ(count, 1);
    return record;
  }
};

// Each call sets the provider from the product; an unknown product keeps the last one.
TEST_F(DataSourceTest, ProviderFollowsTheProductAndSurvivesUnknownOnes) {
  const struct {
    const char* product;
    const char* provider;
  } calls[] = {{"ibm db2", ""},
               {"IBM DB2", kDb2Provider},
               {"Oracle", kOracleProvider},
               {"IBM DB2 ", kOracleProvider},
               {"", kOracleProvider},
               {"IBM DB2", kDb2Provider}};
  for (const auto& call : calls) {
    EXPECT_EQ(Ask(call.product)->JdbcProvider.str(), call.provider) << call.product;
  }
}

TEST_F(DataSourceTest, FieldsAreTheStrippedEditorsEvenWhenThePlugInIsDisabled) {
  SetChecked("EnableQimPlugIn", false);
  SetEditor("DatabaseHostEditor", " dbhost ");
  SetEditor("DatabasePortEditor", "50000");
  SetEditor("DatabaseNameEditor", "QIMDB ");
  SetEditor("DatabaseUserEditor", " db user");
  SetEditor("DatabasePasswordEditor", "pass word");
  SetEditor("JndiNameEditor", "jdbc/QIM");
  const ZAFJdeWASDataSource* record = Ask("IBM DB2");
  ASSERT_EQ(record, &plugin.DataSource);
  EXPECT_EQ(record->Host.str(), "dbhost");
  EXPECT_EQ(record->Port.str(), "50000");
  EXPECT_EQ(record->DatabaseName.str(), "QIMDB");
  EXPECT_EQ(record->User.str(), "db user");
  EXPECT_EQ(record->Password.str(), "pass word");
  EXPECT_EQ(record->JndiName.str(), "jdbc/QIM");
}

TEST_F(DataSourceTest, LaterCallsRewriteTheSameRecord) {
  SetEditor("DatabaseNameEditor", "FIRST");
  const ZAFJdeWASDataSource* first = Ask("Oracle");
  SetEditor("DatabaseNameEditor", "SECOND");
  EXPECT_EQ(Ask("Oracle"), first);
  EXPECT_EQ(first->DatabaseName.str(), "SECOND");
}

TEST(DataSourceWithoutFormTest, NoHostAndNoFormGiveEmptyFieldsAndCountOne) {
  ScopedHost scopedHost;
  TestablePlugIn plugin;
  ZAFJdeWASDataSource* record = nullptr;
  int count = 0;
  plugin.GetDataSourceSettings(record, count);
  ASSERT_EQ(record, &plugin.DataSource);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(record->Host.str(), "");
  EXPECT_EQ(record->JdbcProvider.str(), "");
}

}  // namespace
}  // namespace qimtest
