// Makes one plug-in object and lets it go, in a process of its own: whatever it traces on
// standard output tells whether the environment it was started with put it in test-harness
// mode. The tests start it with the environments they compare.

#include "QimSetupPlugIn.h"

int main() {
  QimSetupPlugIn plugin;
  return 0;
}
