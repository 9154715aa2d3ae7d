#include "zugen4/Platform.h"

#include <mutex>

#include "platform/SystemPlatform.h"

namespace Zu {

TFtDriver::~TFtDriver() = default;
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
