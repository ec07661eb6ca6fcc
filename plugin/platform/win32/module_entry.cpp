// The module's entry point on Windows. It only turns off the notifications of threads of the
// host that start or end: the module keeps no state per thread.

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    ::DisableThreadLibraryCalls(module);
  }
  return TRUE;
}
