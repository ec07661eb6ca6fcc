#pragma once
// The plug-in with its protected members opened up for the tests and benchmarks.

#include "QimSetupPlugIn.h"

namespace qimtest {

class TestablePlugIn : public QimSetupPlugIn {
 public:
  using QimSetupPlugIn::CheckEmptyEditor;
  using QimSetupPlugIn::DataSource;
  using QimSetupPlugIn::GetMessage;
  using QimSetupPlugIn::HarnessFlag;
  using QimSetupPlugIn::Repository;
};

}  // namespace qimtest
