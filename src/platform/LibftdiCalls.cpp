// The libftdi1 calls behind TFtdiDriver, when the library is built with it.
#include "platform/FtdiDriver.h"

#if defined(ZUGEN_HAVE_LIBFTDI)
#include <ftdi.h>
#include <libusb.h>

#include <vector>

namespace Zu {
namespace {

// One ftdi_context and the devices its last FindAll listed (the list keeps
// them referenced until the next FindAll or Free).
struct TContext {
  ftdi_context* Ftdi = nullptr;
  ftdi_device_list* List = nullptr;
  std::vector<libusb_device*> Devices;
};

TContext& Ctx(void* ctx) { return *static_cast<TContext*>(ctx); }
ftdi_context* Ftdi(void* ctx) { return Ctx(ctx).Ftdi; }

void DropList(TContext& c) {
  if (c.List) ftdi_list_free(&c.List);
  c.List = nullptr;
  c.Devices.clear();
}

class TLibftdiCalls final : public TFtdiCalls {
 public:
  void* New() override {
    ftdi_context* ftdi = ftdi_new();
    if (!ftdi) return nullptr;
    auto* c = new TContext;
    c->Ftdi = ftdi;
    return c;
  }
  void Free(void* ctx) override {
    TContext* c = &Ctx(ctx);
    DropList(*c);
    ftdi_free(c->Ftdi);
    delete c;
  }
  int FindAll(void* ctx) override {
    TContext& c = Ctx(ctx);
    DropList(c);
    // Vendor and product 0: FTDI's vendor id with its usual product ids.
    const int n = ftdi_usb_find_all(c.Ftdi, &c.List, 0, 0);
    for (ftdi_device_list* d = c.List; d; d = d->next) c.Devices.push_back(d->dev);
    return n;
  }
  std::string Serial(void* ctx, int i) override {
    TContext& c = Ctx(ctx);
    if (i < 0 || i >= static_cast<int>(c.Devices.size())) return {};
    char serial[128] = {0};
    if (ftdi_usb_get_strings(c.Ftdi, c.Devices[i], nullptr, 0, nullptr, 0, serial, sizeof serial) < 0) return {};
    return serial;
  }
  std::string Description(void* ctx, int i) override {
    TContext& c = Ctx(ctx);
    if (i < 0 || i >= static_cast<int>(c.Devices.size())) return {};
    char description[128] = {0};
    if (ftdi_usb_get_strings(c.Ftdi, c.Devices[i], nullptr, 0, description, sizeof description, nullptr, 0) < 0)
      return {};
    return description;
  }
  // Opens the device node and tries to claim the interface, then lets go: no
  // control request reaches the chip. A kernel serial driver bound to it
  // holds nothing a program opened (libftdi detaches it on open).
  int Probe(void* ctx, int i) override {
    TContext& c = Ctx(ctx);
    if (i < 0 || i >= static_cast<int>(c.Devices.size())) return -8;
    libusb_device_handle* h = nullptr;
    const int rc = libusb_open(c.Devices[i], &h);
    if (rc == LIBUSB_ERROR_ACCESS) return -4;
    if (rc < 0) return -3;
    int result = kProbeFree;
    const int iface = 0;
    if (libusb_kernel_driver_active(h, iface) != 1) {
      const int claim = libusb_claim_interface(h, iface);
      if (claim == 0)
        libusb_release_interface(h, iface);
      else if (claim == LIBUSB_ERROR_BUSY)
        result = kProbeBusy;
      else if (claim == LIBUSB_ERROR_ACCESS)
        result = -4;
    }
    libusb_close(h);
    return result;
  }
  int OpenDev(void* ctx, int i) override {
    TContext& c = Ctx(ctx);
    if (i < 0 || i >= static_cast<int>(c.Devices.size())) return -8;
    return ftdi_usb_open_dev(c.Ftdi, c.Devices[i]);
  }
  int Close(void* ctx) override { return ftdi_usb_close(Ftdi(ctx)); }
  int Reset(void* ctx) override { return ftdi_usb_reset(Ftdi(ctx)); }
  int SetBitmode(void* ctx, unsigned char mask, unsigned char mode) override {
    return ftdi_set_bitmode(Ftdi(ctx), mask, mode);
  }
  int SetBaudrate(void* ctx, int baud) override { return ftdi_set_baudrate(Ftdi(ctx), baud); }
  int SetLine8N1(void* ctx) override { return ftdi_set_line_property(Ftdi(ctx), BITS_8, STOP_BIT_1, NONE); }
  int DisableFlowControl(void* ctx) override { return ftdi_setflowctrl(Ftdi(ctx), SIO_DISABLE_FLOW_CTRL); }
  int SetLatencyTimer(void* ctx, unsigned char ms) override { return ftdi_set_latency_timer(Ftdi(ctx), ms); }
  int Purge(void* ctx) override { return ftdi_tcioflush(Ftdi(ctx)); }
  void SetTimeouts(void* ctx, int readMs, int writeMs) override {
    Ftdi(ctx)->usb_read_timeout = readMs;
    Ftdi(ctx)->usb_write_timeout = writeMs;
  }
  int Write(void* ctx, const unsigned char* buf, int size) override { return ftdi_write_data(Ftdi(ctx), buf, size); }
  int Read(void* ctx, unsigned char* buf, int size) override { return ftdi_read_data(Ftdi(ctx), buf, size); }
  std::string ErrorString(void* ctx) override {
    const char* s = ftdi_get_error_string(Ftdi(ctx));
    return s ? s : "";
  }
};

}  // namespace

std::shared_ptr<TFtdiCalls> LibftdiCalls() { return std::make_shared<TLibftdiCalls>(); }

}  // namespace Zu
#endif
