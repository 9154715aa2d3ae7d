// What the library takes from the platform: the USB bridge driver, a
// millisecond clock and periodic timers. Each has a process-wide default and a
// per-generator override, so tests and the simulator never touch the OS.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zugen4/ZuExport.h"

namespace Zu {

// Driver results, as the bridge vendor's driver names them. The driver
// returns 32 bits; the generator keeps the low byte.
using FT_STATUS = uint32_t;
using FT_HANDLE = void*;

inline constexpr FT_STATUS FT_OK = 0;
inline constexpr FT_STATUS FT_INVALID_HANDLE = 1;
inline constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
inline constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
inline constexpr FT_STATUS FT_IO_ERROR = 4;
inline constexpr FT_STATUS FT_INSUFFICIENT_RESOURCES = 5;

// One bridge device as a driver backend sees it.
struct TFtDeviceInfo {
  int Index = 0;            // what Open takes
  std::string Serial;       // empty when it cannot be read
  std::string Description;  // the product string
  bool Busy = false;        // held open by another program
  std::string Backend;      // the library that drives it: "D2XX", "libftdi1", "simulator"
};

// What the backends found, and why a backend could not be asked (its library
// is missing, the user may not open the devices), one line each.
struct TFtDeviceList {
  std::vector<TFtDeviceInfo> Devices;
  std::vector<std::string> Problems;
};

// The four operations of the USB bridge driver.
class ZUGEN_API TFtDriver {
 public:
  virtual ~TFtDriver();
  virtual FT_STATUS Open(int index, FT_HANDLE* handle) = 0;
  virtual FT_STATUS Close(FT_HANDLE handle) = 0;
  virtual FT_STATUS Read(FT_HANDLE handle, void* buf, uint32_t wanted, uint32_t* got) = 0;
  virtual FT_STATUS Write(FT_HANDLE handle, const void* buf, uint32_t count, uint32_t* written) = 0;
  // Why the driver cannot work at all (its library is missing or incomplete),
  // in the system loader's own words; empty when it can.
  virtual std::string LoadFailure() const;
  // The driver's own account of its most recent failed operation (what was
  // tried and why it failed: no device, a busy one, one the user may not
  // open); empty when it has none to give. The link adds it to its account.
  virtual std::string LastFailure() const;
  // Every device this driver can open, in the order of the indexes Open
  // takes. A driver that cannot list says so in Problems.
  virtual TFtDeviceList ListDevices();
};

// A driver that hands everything to another one: the base of wrappers that
// watch the traffic (a trace, a log) and override only what they watch.
class TFtDriverFilter : public TFtDriver {
 public:
  explicit TFtDriverFilter(std::shared_ptr<TFtDriver> inner) : FInner(std::move(inner)) {}
  FT_STATUS Open(int index, FT_HANDLE* handle) override { return FInner->Open(index, handle); }
  FT_STATUS Close(FT_HANDLE handle) override { return FInner->Close(handle); }
  FT_STATUS Read(FT_HANDLE handle, void* buf, uint32_t wanted, uint32_t* got) override {
    return FInner->Read(handle, buf, wanted, got);
  }
  FT_STATUS Write(FT_HANDLE handle, const void* buf, uint32_t count, uint32_t* written) override {
    return FInner->Write(handle, buf, count, written);
  }
  std::string LoadFailure() const override { return FInner->LoadFailure(); }
  std::string LastFailure() const override { return FInner->LastFailure(); }
  TFtDeviceList ListDevices() override { return FInner->ListDevices(); }

 protected:
  TFtDriver& Inner() const { return *FInner; }

 private:
  std::shared_ptr<TFtDriver> FInner;
};

// A device as a user names it: by index ("0", "3") or by serial number
// ("FT1234AB"; "serial:1234" for a serial number made of digits only).
struct TFtDeviceChoice {
  int Index = 0;
  std::string Serial;  // when set, the device with this serial number
};
// False, with the reason in why, for an empty text or a negative index.
ZUGEN_API bool ParseDeviceChoice(const std::string& text, TFtDeviceChoice& choice, std::string& why);
// The device's text again: "3" or the serial number.
ZUGEN_API std::string DeviceChoiceText(const TFtDeviceChoice& choice);
// A driver that opens the device with this serial number, whatever index it
// is asked for: it lists the inner driver's devices at each open, so the
// instrument is found on whatever port it is plugged into.
ZUGEN_API std::shared_ptr<TFtDriver> DriverForSerial(std::shared_ptr<TFtDriver> inner, std::string serial);
// The driver for a choice: the inner one for an index, DriverForSerial for a
// serial number.
ZUGEN_API std::shared_ptr<TFtDriver> DriverForChoice(std::shared_ptr<TFtDriver> inner, const TFtDeviceChoice& choice);

// The driver's name of a status, "FT_IO_ERROR"; "status 77" for one it has no
// name for.
ZUGEN_API std::string FtStatusName(FT_STATUS status);

// Millisecond ticks and a way to let time pass without burning the CPU.
class ZUGEN_API TClock {
 public:
  virtual ~TClock();
  virtual uint32_t GetTickCount() = 0;
  virtual void Sleep(uint32_t ms) = 0;
};

// Periodic callbacks delivered on the thread that created the timer.
class ZUGEN_API TTimerService {
 public:
  using TCallback = std::function<void()>;
  virtual ~TTimerService();
  // Starts a periodic timer of periodMs milliseconds; the first call comes one
  // full period after the start. Returns a non-zero id, or 0 when the system
  // refuses to create the timer.
  virtual uint32_t Start(uint32_t periodMs, TCallback callback) = 0;
  // Stops a timer; stopping an unknown or stopped id is harmless.
  virtual void Stop(uint32_t id) = 0;
};

struct TPlatform {
  std::shared_ptr<TFtDriver> Driver;
  std::shared_ptr<TClock> Clock;
  std::shared_ptr<TTimerService> Timers;
};

// Used by every generator created afterwards. Members left empty fall back to
// the system's own.
ZUGEN_API void SetDefaultPlatform(TPlatform platform);
ZUGEN_API TPlatform DefaultPlatform();
// The real one: the bridge vendor's driver library, the monotonic clock.
ZUGEN_API TPlatform SystemPlatform();

// Fills the empty members of p from the system platform.
TPlatform CompletePlatform(TPlatform p);

}  // namespace Zu
