// The bridge driver over Debian's libftdi1, as a backend for a host's own
// platform (TPlatform): the options it takes and the factory. The library's
// system platform uses it by itself where libftd2xx.so is missing.
#pragma once

#include <memory>
#include <string>

#include "zugen4/ZuExport.h"
#include "zugen4/extend/Platform.h"

namespace Zu {

struct TFtdiOptions {
  // When set, Open takes the device with this serial number and ignores the
  // index it is given.
  std::string Serial;
  // How long a read waits for all the bytes wanted; after it the read reports
  // success with fewer (as the vendor driver does after its read time-out).
  int ReadTimeoutMs = 1000;
  int WriteTimeoutMs = 1000;
};

// A driver over the real libftdi1 calls: what the system platform uses on Linux when
// libftd2xx.so cannot be loaded (with the serial number from the environment
// variable ZUGEN_FTDI_SERIAL when it is set). Null without libftdi1.
ZUGEN_API std::shared_ptr<TFtDriver> CreateLibftdiDriver(TFtdiOptions options = {});

}  // namespace Zu
