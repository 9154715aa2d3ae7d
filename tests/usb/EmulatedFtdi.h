// An FT232R bridge (0403:6001) with the instrument behind it, emulated below
// the real libusb and libftdi1 through umockdev: the device appears in sysfs
// and /dev/bus/usb, and its usbfs requests are answered here, in umockdev's
// worker thread, also for child processes (the tool) started under the same
// preload. What the bulk OUT endpoint takes goes to the simulator's protocol
// model; the ADC readings it answers come back on the bulk IN endpoint.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "zugen4/sim/SimInstrument.h"

namespace Zu::UsbTest {

// A vendor control request the chip got: bRequest, wValue, wIndex.
struct TControl {
  uint8_t Request = 0;
  uint16_t Value = 0;
  uint16_t Index = 0;
  bool operator==(const TControl&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const TControl& c) {
  return os << "request " << int{c.Request} << " value " << c.Value << " index " << c.Index;
}

class TEmulatedFtdi {
 public:
  explicit TEmulatedFtdi(std::string serial);
  ~TEmulatedFtdi();
  TEmulatedFtdi(const TEmulatedFtdi&) = delete;
  TEmulatedFtdi& operator=(const TEmulatedFtdi&) = delete;

  // Adds the device to the testbed (and its request handler); Unplug removes it.
  void Plug();
  void Unplug();
  // After this many more bulk OUT transfers the device is gone: that one and
  // every request after it fail with ENODEV, as the kernel answers for a
  // device pulled out. Unplugged() tells when it has happened.
  void UnplugAfterWrites(int count);
  bool Unplugged();

  // The vendor requests since the last call, in order.
  std::vector<TControl> TakeControls();
  // The instrument behind the bridge (lock it while using it).
  std::mutex& Lock() { return FLock; }
  Sim::TSimDriver& Instrument() { return FInstrument; }

  struct TImpl;

 private:
  std::string FSerial;
  std::mutex FLock;
  Sim::TSimDriver FInstrument;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace Zu::UsbTest
