// The JDBC data source record. (Not built yet: the empty record.)

#include "plugin/QimSetupPlugIn.h"

void QimSetupPlugIn::GetDataSourceSettings(ZAFJdeWASDataSource*& dataSource, int& count) {
  dataSource = &DataSource;
  count = 1;
}
