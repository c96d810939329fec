// Start and stop of the module.  On Windows the loader's process
// notifications run them; elsewhere the shared object's constructor and
// destructor do.

#include "module.h"

#include "../bindings/bindings.h"
#include "../runtime/runtime.h"
#include "info.h"

void module_start() {
  rt_start();
  bindings_start();
  info_start();
}

void module_stop() {
  info_stop();
  rt_stop();
}

#ifdef _WIN32
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) module_start();
  if (reason == DLL_PROCESS_DETACH) module_stop();
  return TRUE;
}
#else
__attribute__((constructor)) static void on_load() { module_start(); }
__attribute__((destructor)) static void on_unload() { module_stop(); }
#endif
