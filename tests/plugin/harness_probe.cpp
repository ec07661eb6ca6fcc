// Makes a plug-in object and lets it go, then sets "YTQ_RT_OUT" and does so again, in a process
// of its own: whatever they trace on standard output tells whether the environment it was started
// with put the process in test-harness mode, and that setting the variable later changes
// nothing. The tests start it with the environments they compare.

#include "QimSetupPlugIn.h"
#include "host/platform/environment.h"

int main() {
  { QimSetupPlugIn plugin; }
  zaf::platform::SetEnvironmentValue("YTQ_RT_OUT", "1");
  QimSetupPlugIn plugin;
  return 0;
}
