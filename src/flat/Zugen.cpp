// The library's entry point. A host must call ZuGenRelease before it unloads
// the library; one that forgets still gets the instrument reset and closed
// when it unloads the library with FreeLibrary. At process exit nothing is
// done here: the driver library may already be unloaded, and the system
// closes the device handle with the process.
#if defined(_WIN32)
#include <windows.h>

#include "zugen4/Zugenwrapper.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) ZuGenRelease();
  return TRUE;
}
#endif
