// The library's entry point. A host must call ZuGenRelease (and zg_destroy
// for each of its handles) before it unloads the library; one that forgets
// still gets each instrument reset and closed when it unloads the library
// with FreeLibrary (a thread that ran the tuner's timers keeps the library
// loaded until that thread ends). At process exit
// nothing is done here: the driver library may already be unloaded, and the
// system closes the device handle with the process.
#if defined(_WIN32)
#include <windows.h>

#include "flat/FlatGuard.h"
#include "flat/Handles.h"
#include "zugen4/Zugenwrapper.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_THREAD_DETACH) Zu::Flat::ForgetThread();
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    ZuGenRelease();
    Zu::Flat::DestroyAllHandles();
  }
  return TRUE;
}
#endif
