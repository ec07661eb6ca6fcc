// The JDBC data source the host defines in the application server for the QIM database.

#include "commands/command_context.h"
#include "plugin_util.h"

namespace {

// The JDBC provider for the database product, or null for a product the plug-in does not
// know (the caller then keeps the provider it reported before).
const char* JdbcProviderFor(const ZAFUnicodeString& product) {
  if (product == qim::kDb2Product) {
    return "DB2 Universal JDBC Driver Provider (XA)";
  }
  if (product == qim::kOracleProduct) {
    return "Oracle JDBC Driver (XA)";
  }
  return nullptr;
}

}  // namespace

// No gate: the host may ask for the data source whether or not the plug-in is enabled. The
// record is the plug-in's own and is overwritten by the next call.
void QimSetupPlugIn::GetDataSourceSettings(ZAFJdeWASDataSource*& dataSource, int& count) {
  WASDatabaseSettings settings;
  if (Host != nullptr) {
    Host->GetDatabaseSettings(settings);
  }
  if (const char* provider = JdbcProviderFor(settings.DatabaseProduct)) {
    DataSource.JdbcProvider = provider;
  }
  DataSource.Host = qim::StrippedText(DatabaseHostEditor);
  DataSource.Port = qim::StrippedText(DatabasePortEditor);
  DataSource.DatabaseName = qim::StrippedText(DatabaseNameEditor);
  DataSource.User = qim::StrippedText(DatabaseUserEditor);
  DataSource.Password = qim::StrippedText(DatabasePasswordEditor);
  DataSource.JndiName = qim::StrippedText(JndiNameEditor);
  dataSource = &DataSource;
  count = 1;
}
