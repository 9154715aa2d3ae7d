// The bridge vendor's driver library, loaded at run time so the library works
// (and reports "device not found") on a machine without it.
#include "platform/SystemPlatform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace Zu {
namespace {

#if defined(_WIN32)
#define ZU_FTAPI WINAPI
#else
#define ZU_FTAPI
#endif

using TOpenFn = FT_STATUS(ZU_FTAPI*)(int, FT_HANDLE*);
using TCloseFn = FT_STATUS(ZU_FTAPI*)(FT_HANDLE);
using TReadFn = FT_STATUS(ZU_FTAPI*)(FT_HANDLE, void*, uint32_t, uint32_t*);
using TWriteFn = FT_STATUS(ZU_FTAPI*)(FT_HANDLE, const void*, uint32_t, uint32_t*);

class TLoadedDriver final : public TFtDriver {
 public:
  TLoadedDriver() { Load(); }
  ~TLoadedDriver() override { Unload(); }

  FT_STATUS Open(int index, FT_HANDLE* handle) override { return FOpen ? FOpen(index, handle) : FT_DEVICE_NOT_FOUND; }
  FT_STATUS Close(FT_HANDLE handle) override { return FClose ? FClose(handle) : FT_INVALID_HANDLE; }
  FT_STATUS Read(FT_HANDLE handle, void* buf, uint32_t wanted, uint32_t* got) override {
    if (!FRead) return FT_INVALID_HANDLE;
    return FRead(handle, buf, wanted, got);
  }
  FT_STATUS Write(FT_HANDLE handle, const void* buf, uint32_t count, uint32_t* written) override {
    if (!FWrite) return FT_INVALID_HANDLE;
    return FWrite(handle, buf, count, written);
  }

 private:
#if defined(_WIN32)
  void Load() {
    FLib = LoadLibraryA("FTD2XX.DLL");
    if (!FLib) return;
    // The driver's operations are taken by ordinal: 1 open, 2 close, 3 read, 4 write.
    auto sym = [this](int ordinal) { return GetProcAddress(FLib, MAKEINTRESOURCEA(ordinal)); };
    Bind(sym(1), sym(2), sym(3), sym(4));
  }
  void Unload() {
    if (FLib) FreeLibrary(FLib);
  }
  HMODULE FLib = nullptr;
#else
  void Load() {
    FLib = dlopen("libftd2xx.so", RTLD_NOW | RTLD_LOCAL);
    if (!FLib) return;
    Bind(dlsym(FLib, "FT_Open"), dlsym(FLib, "FT_Close"), dlsym(FLib, "FT_Read"), dlsym(FLib, "FT_Write"));
  }
  void Unload() {
    if (FLib) dlclose(FLib);
  }
  void* FLib = nullptr;
#endif

  template <typename P>
  void Bind(P open, P close, P read, P write) {
    // All four or none: a half-bound driver would fail in odd places.
    if (!open || !close || !read || !write) return;
    FOpen = reinterpret_cast<TOpenFn>(reinterpret_cast<void (*)()>(open));
    FClose = reinterpret_cast<TCloseFn>(reinterpret_cast<void (*)()>(close));
    FRead = reinterpret_cast<TReadFn>(reinterpret_cast<void (*)()>(read));
    FWrite = reinterpret_cast<TWriteFn>(reinterpret_cast<void (*)()>(write));
  }

  TOpenFn FOpen = nullptr;
  TCloseFn FClose = nullptr;
  TReadFn FRead = nullptr;
  TWriteFn FWrite = nullptr;
};

}  // namespace

std::shared_ptr<TFtDriver> CreateSystemDriver() { return std::make_shared<TLoadedDriver>(); }

}  // namespace Zu
