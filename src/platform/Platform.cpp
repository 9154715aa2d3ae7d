#include "zugen4/extend/Platform.h"

#include <iterator>
#include <mutex>
#include <string>

#include "platform/SystemPlatform.h"

namespace Zu {

TFtDriver::~TFtDriver() = default;
std::string TFtDriver::LoadFailure() const { return {}; }
std::string TFtDriver::LastFailure() const { return {}; }
TFtDeviceList TFtDriver::ListDevices() {
  TFtDeviceList list;
  const std::string why = LoadFailure();
  list.Problems.push_back(why.empty() ? "this driver cannot list its devices" : why);
  return list;
}

std::string FtStatusName(FT_STATUS status) {
  static const char* const names[] = {"FT_OK",
                                      "FT_INVALID_HANDLE",
                                      "FT_DEVICE_NOT_FOUND",
                                      "FT_DEVICE_NOT_OPENED",
                                      "FT_IO_ERROR",
                                      "FT_INSUFFICIENT_RESOURCES",
                                      "FT_INVALID_PARAMETER",
                                      "FT_INVALID_BAUD_RATE",
                                      "FT_DEVICE_NOT_OPENED_FOR_ERASE",
                                      "FT_DEVICE_NOT_OPENED_FOR_WRITE",
                                      "FT_FAILED_TO_WRITE_DEVICE",
                                      "FT_EEPROM_READ_FAILED",
                                      "FT_EEPROM_WRITE_FAILED",
                                      "FT_EEPROM_ERASE_FAILED",
                                      "FT_EEPROM_NOT_PRESENT",
                                      "FT_EEPROM_NOT_PROGRAMMED",
                                      "FT_INVALID_ARGS",
                                      "FT_NOT_SUPPORTED",
                                      "FT_OTHER_ERROR",
                                      "FT_DEVICE_LIST_NOT_READY"};
  if (status < std::size(names)) return names[status];
  return "status " + std::to_string(status);
}
TClock::~TClock() = default;
TTimerService::~TTimerService() = default;

namespace {
std::mutex gDefaultLock;
TPlatform& DefaultSlot() {
  static TPlatform slot;
  return slot;
}
}  // namespace

TPlatform SystemPlatform() {
  // One instance of each per process: the driver library is loaded once.
  static const TPlatform system{CreateSystemDriver(), CreateSystemClock(), CreateSystemTimers()};
  return system;
}

TPlatform CompletePlatform(TPlatform p) {
  if (!p.Driver || !p.Clock || !p.Timers) {
    const TPlatform sys = SystemPlatform();
    if (!p.Driver) p.Driver = sys.Driver;
    if (!p.Clock) p.Clock = sys.Clock;
    if (!p.Timers) p.Timers = sys.Timers;
  }
  return p;
}

void SetDefaultPlatform(TPlatform platform) {
  std::lock_guard<std::mutex> lock(gDefaultLock);
  DefaultSlot() = std::move(platform);
}

TPlatform DefaultPlatform() {
  TPlatform p;
  {
    std::lock_guard<std::mutex> lock(gDefaultLock);
    p = DefaultSlot();
  }
  return CompletePlatform(std::move(p));
}

}  // namespace Zu
