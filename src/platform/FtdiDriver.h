// The bridge driver over Debian's libftdi1, for Linux machines without the
// vendor's libftd2xx.so: the same four operations, with the bridge set up on
// open the way the vendor driver leaves it. The libftdi calls it makes go
// through TFtdiCalls, so that the driver's logic runs against a fake.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "zugen4/extend/LibftdiDriver.h"
#include "zugen4/extend/Platform.h"

namespace Zu {

// The libftdi1 calls the driver uses. A context stands for one ftdi_context
// together with the device list of its last FindAll; negative results are
// libftdi's error codes.
class TFtdiCalls {
 public:
  virtual ~TFtdiCalls();
  virtual void* New() = 0;  // ftdi_new; null when it fails
  virtual void Free(void* ctx) = 0;
  // ftdi_usb_find_all over FTDI's vendor id and usual product ids: the count.
  virtual int FindAll(void* ctx) = 0;
  // The serial number of device i of the last FindAll; empty when unreadable.
  virtual std::string Serial(void* ctx, int i) = 0;
  // The product string of device i; empty when unreadable.
  virtual std::string Description(void* ctx, int i);
  // Whether device i could be opened now, asked without disturbing it:
  // kProbeFree, kProbeBusy (another program holds it), or a negative
  // libftdi code (-4: the user may not open it).
  virtual int Probe(void* ctx, int i);
  static constexpr int kProbeFree = 0;
  static constexpr int kProbeBusy = 1;
  virtual int OpenDev(void* ctx, int i) = 0;  // ftdi_usb_open_dev
  virtual int Close(void* ctx) = 0;           // ftdi_usb_close
  virtual int Reset(void* ctx) = 0;           // ftdi_usb_reset
  virtual int SetBitmode(void* ctx, unsigned char mask, unsigned char mode) = 0;
  virtual int SetBaudrate(void* ctx, int baud) = 0;
  virtual int SetLine8N1(void* ctx) = 0;
  virtual int DisableFlowControl(void* ctx) = 0;
  virtual int SetLatencyTimer(void* ctx, unsigned char ms) = 0;
  virtual int Purge(void* ctx) = 0;  // both directions
  virtual void SetTimeouts(void* ctx, int readMs, int writeMs) = 0;
  virtual int Write(void* ctx, const unsigned char* buf, int size) = 0;
  virtual int Read(void* ctx, unsigned char* buf, int size) = 0;  // what arrived, maybe 0
  virtual std::string ErrorString(void* ctx) = 0;
};

class TFtdiDriver final : public TFtDriver {
 public:
  explicit TFtdiDriver(std::shared_ptr<TFtdiCalls> calls, TFtdiOptions options = {});
  ~TFtdiDriver() override;

  FT_STATUS Open(int index, FT_HANDLE* handle) override;
  FT_STATUS Close(FT_HANDLE handle) override;
  FT_STATUS Read(FT_HANDLE handle, void* buf, uint32_t wanted, uint32_t* got) override;
  FT_STATUS Write(FT_HANDLE handle, const void* buf, uint32_t count, uint32_t* written) override;
  std::string LastFailure() const override;
  TFtDeviceList ListDevices() override;

  // The bridge's settings applied on every open.
  static constexpr int kBaudRate = 9600;           // the chip's own default (a FIFO bridge ignores it)
  static constexpr unsigned char kLatencyMs = 16;  // the vendor driver's default latency timer

 private:
  FT_STATUS Fail(FT_STATUS status, std::string account);
  bool Known(FT_HANDLE handle) const;

  std::shared_ptr<TFtdiCalls> FCalls;
  TFtdiOptions FOptions;
  mutable std::mutex FLock;
  std::set<void*> FOpen;
  std::string FLastFailure;
};

// The real libftdi1 calls; null when the library was built without libftdi1.
std::shared_ptr<TFtdiCalls> LibftdiCalls();
}  // namespace Zu
