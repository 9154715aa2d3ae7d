// The bridge vendor's driver library, loaded at run time so the library works
// (and reports "device not found") on a machine without it. On Linux without
// it, the driver over libftdi1 takes its place when the library has one.
#include <string>

#include "platform/FtdiDriver.h"
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
// The driver's device list, taken by name (the stand-in lacks them).
using TCreateListFn = FT_STATUS(ZU_FTAPI*)(uint32_t*);
using TListDetailFn = FT_STATUS(ZU_FTAPI*)(uint32_t, uint32_t*, uint32_t*, uint32_t*, uint32_t*, void*, void*,
                                           FT_HANDLE*);
// FT_FLAGS_OPENED: another program holds the device.
constexpr uint32_t kFlagOpened = 1;

class TLoadedDriver final : public TFtDriver {
 public:
  TLoadedDriver() { Load(); }
  ~TLoadedDriver() override { Unload(); }

  FT_STATUS Open(int index, FT_HANDLE* handle) override {
    if (FFallback) return FFallback->Open(index, handle);
    return FOpen ? FOpen(index, handle) : FT_DEVICE_NOT_FOUND;
  }
  FT_STATUS Close(FT_HANDLE handle) override {
    if (FFallback) return FFallback->Close(handle);
    return FClose ? FClose(handle) : FT_INVALID_HANDLE;
  }
  FT_STATUS Read(FT_HANDLE handle, void* buf, uint32_t wanted, uint32_t* got) override {
    if (FFallback) return FFallback->Read(handle, buf, wanted, got);
    if (!FRead) return FT_INVALID_HANDLE;
    return FRead(handle, buf, wanted, got);
  }
  FT_STATUS Write(FT_HANDLE handle, const void* buf, uint32_t count, uint32_t* written) override {
    if (FFallback) return FFallback->Write(handle, buf, count, written);
    if (!FWrite) return FT_INVALID_HANDLE;
    return FWrite(handle, buf, count, written);
  }
  TFtDeviceList ListDevices() override {
    if (FFallback) return FFallback->ListDevices();
    TFtDeviceList list;
    if (!FOpen) {
      list.Problems.push_back(FLoadFailure.empty() ? std::string("the D2XX driver library is not loaded")
                                                   : FLoadFailure);
      return list;
    }
    if (!FCreateList || !FListDetail) {
      list.Problems.push_back(
          "the D2XX driver library lacks FT_CreateDeviceInfoList or FT_GetDeviceInfoDetail: it cannot list its "
          "devices");
      return list;
    }
    uint32_t count = 0;
    if (const FT_STATUS st = FCreateList(&count); st != FT_OK) {
      list.Problems.push_back("D2XX: cannot list the devices (" + FtStatusName(st) + ")");
      return list;
    }
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t flags = 0, type = 0, id = 0, location = 0;
      char serial[64] = {0}, description[128] = {0};
      FT_HANDLE handle = nullptr;
      if (FListDetail(i, &flags, &type, &id, &location, serial, description, &handle) != FT_OK) continue;
      serial[sizeof serial - 1] = description[sizeof description - 1] = 0;
      list.Devices.push_back({static_cast<int>(i), serial, description, (flags & kFlagOpened) != 0, "D2XX"});
    }
    return list;
  }
  // With the libftdi1 driver in its place, the missing library is no failure.
  std::string LoadFailure() const override { return FFallback ? std::string() : FLoadFailure; }
  std::string LastFailure() const override {
    if (!FFallback) return {};
    const std::string failure = FFallback->LastFailure();
    return failure.empty() ? failure : failure + " (libftd2xx.so not found: libftdi1 used)";
  }

 private:
#if defined(_WIN32)
  static constexpr const char* kLibrary = "FTD2XX.DLL";
  // The system's text for its last error, in UTF-8.
  static std::string SystemMessage() {
    const DWORD code = GetLastError();
    wchar_t* text = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out;
    if (n > 0) {
      const int len = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
      out.resize(static_cast<size_t>(len));
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), out.data(), len, nullptr, nullptr);
      while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
    }
    if (text) LocalFree(text);
    return out + " (error " + std::to_string(code) + ")";
  }
  void Load() {
    FLib = LoadLibraryA(kLibrary);
    if (!FLib) {
      FLoadFailure = std::string(kLibrary) + ": " + SystemMessage();
      return;
    }
    // The driver's operations are taken by ordinal: 1 open, 2 close, 3 read, 4 write.
    FARPROC procs[4] = {};
    for (int ordinal = 1; ordinal <= 4; ++ordinal) {
      procs[ordinal - 1] = GetProcAddress(FLib, MAKEINTRESOURCEA(ordinal));
      if (!procs[ordinal - 1] && FLoadFailure.empty())
        FLoadFailure = std::string(kLibrary) + ", entry point #" + std::to_string(ordinal) + ": " + SystemMessage();
    }
    Bind(procs[0], procs[1], procs[2], procs[3]);
    BindList(GetProcAddress(FLib, "FT_CreateDeviceInfoList"), GetProcAddress(FLib, "FT_GetDeviceInfoDetail"));
  }
  void Unload() {
    if (FLib) FreeLibrary(FLib);
  }
  HMODULE FLib = nullptr;
#else
  void Load() {
    FLib = dlopen("libftd2xx.so", RTLD_NOW | RTLD_LOCAL);
    if (!FLib) {
      const char* why = dlerror();
      FLoadFailure = why ? why : "libftd2xx.so could not be loaded";
      // Debian's libftdi1 in its place; its own accounts then tell what failed.
      FFallback = CreateLibftdiDriver();
      if (!FFallback) FLoadFailure += " (and this build has no libftdi1 to fall back on)";
      return;
    }
    void* procs[4] = {};
    const char* const names[4] = {"FT_Open", "FT_Close", "FT_Read", "FT_Write"};
    for (int i = 0; i < 4; ++i) {
      procs[i] = dlsym(FLib, names[i]);
      const char* why = procs[i] ? nullptr : dlerror();
      if (!procs[i] && FLoadFailure.empty()) FLoadFailure = why ? why : std::string("libftd2xx.so lacks ") + names[i];
    }
    Bind(procs[0], procs[1], procs[2], procs[3]);
    BindList(dlsym(FLib, "FT_CreateDeviceInfoList"), dlsym(FLib, "FT_GetDeviceInfoDetail"));
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

  template <typename P>
  void BindList(P create, P detail) {
    if (!create || !detail) return;
    FCreateList = reinterpret_cast<TCreateListFn>(reinterpret_cast<void (*)()>(create));
    FListDetail = reinterpret_cast<TListDetailFn>(reinterpret_cast<void (*)()>(detail));
  }

  std::shared_ptr<TFtDriver> FFallback;
  std::string FLoadFailure;
  TOpenFn FOpen = nullptr;
  TCloseFn FClose = nullptr;
  TReadFn FRead = nullptr;
  TWriteFn FWrite = nullptr;
  TCreateListFn FCreateList = nullptr;
  TListDetailFn FListDetail = nullptr;
};

}  // namespace

std::shared_ptr<TFtDriver> CreateSystemDriver() { return std::make_shared<TLoadedDriver>(); }

}  // namespace Zu
