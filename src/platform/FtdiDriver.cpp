// The four driver operations over libftdi1 calls. Open takes the device
// (by index, or by serial number), resets the bridge and gives it the
// settings the vendor driver leaves after its own open; Read waits for every
// byte wanted up to its time-out. Every failure leaves an account naming the
// cause: no device, a device that is busy, one the user may not open.
#include "platform/FtdiDriver.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <utility>

namespace Zu {

TFtdiCalls::~TFtdiCalls() = default;
std::string TFtdiCalls::Description(void*, int) { return {}; }
int TFtdiCalls::Probe(void*, int) { return kProbeFree; }

namespace {

// libftdi's mode value that leaves any bit-bang mode.
constexpr unsigned char kBitmodeReset = 0x00;

std::string Code(int rc) { return " (libftdi code " + std::to_string(rc) + ")"; }

}  // namespace

TFtdiDriver::TFtdiDriver(std::shared_ptr<TFtdiCalls> calls, TFtdiOptions options)
    : FCalls(std::move(calls)), FOptions(std::move(options)) {}

TFtdiDriver::~TFtdiDriver() {
  for (void* ctx : FOpen) {
    FCalls->Close(ctx);
    FCalls->Free(ctx);
  }
}

FT_STATUS TFtdiDriver::Fail(FT_STATUS status, std::string account) {
  FLastFailure = "libftdi1: " + std::move(account);
  return status;
}

bool TFtdiDriver::Known(FT_HANDLE handle) const { return handle && FOpen.count(handle) != 0; }

std::string TFtdiDriver::LastFailure() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FLastFailure;
}

FT_STATUS TFtdiDriver::Open(int index, FT_HANDLE* handle) {
  std::lock_guard<std::mutex> lock(FLock);
  FLastFailure.clear();  // the account tells of the most recent operation only
  if (!handle) return Fail(FT_INVALID_HANDLE, "open: no place for the handle");
  void* ctx = FCalls->New();
  if (!ctx) return Fail(FT_INSUFFICIENT_RESOURCES, "open: no libftdi context (out of memory)");
  // Whatever goes wrong from here frees the context.
  const auto fail = [&](FT_STATUS status, std::string account) {
    FCalls->Free(ctx);
    return Fail(status, std::move(account));
  };
  const int found = FCalls->FindAll(ctx);
  if (found < 0) return fail(FT_DEVICE_NOT_FOUND, "cannot list USB devices: " + FCalls->ErrorString(ctx) + Code(found));
  if (found == 0) return fail(FT_DEVICE_NOT_FOUND, "no FTDI device found on USB (vendor 0403)");

  int chosen = index;
  std::string which = "FTDI device " + std::to_string(index);
  if (!FOptions.Serial.empty()) {
    std::string seen;
    chosen = -1;
    for (int i = 0; i < found && chosen < 0; ++i) {
      const std::string serial = FCalls->Serial(ctx, i);
      if (serial == FOptions.Serial) chosen = i;
      seen += (seen.empty() ? "" : ", ") + (serial.empty() ? std::string("(unreadable)") : serial);
    }
    if (chosen < 0)
      return fail(FT_DEVICE_NOT_FOUND,
                  "no FTDI device with serial number " + FOptions.Serial + " (found: " + seen + ")");
    which = "FTDI device with serial number " + FOptions.Serial;
  } else if (index < 0 || index >= found) {
    return fail(FT_DEVICE_NOT_FOUND, which + " asked for, " + std::to_string(found) + " found (index 0 to " +
                                         std::to_string(found - 1) + ")");
  }

  const int rc = FCalls->OpenDev(ctx, chosen);
  if (rc < 0) {
    std::string why = FCalls->ErrorString(ctx) + Code(rc);
    // ftdi_usb_open_dev: -4 the device node could not be opened (permissions),
    // -5 and -11 the interface is claimed by another program or driver.
    if (rc == -4)
      why = "no permission to open it (install contrib/udev/60-zugen4.rules): " + why;
    else if (rc == -5 || rc == -11)
      why = "it is busy (another program holds it): " + why;
    return fail(FT_DEVICE_NOT_OPENED, "cannot open " + which + ": " + why);
  }

  // The bridge as the vendor driver leaves it after opening, whatever an
  // earlier program set: no bit-bang mode, 9600 baud 8N1 without flow
  // control (a UART bridge; a FIFO bridge ignores them), latency timer 16 ms,
  // both buffers empty.
  TFtdiCalls& c = *FCalls;
  const std::pair<const char*, std::function<int()>> steps[] = {
      {"reset", [&] { return c.Reset(ctx); }},
      {"bit mode", [&] { return c.SetBitmode(ctx, 0, kBitmodeReset); }},
      {"baud rate", [&] { return c.SetBaudrate(ctx, kBaudRate); }},
      {"line", [&] { return c.SetLine8N1(ctx); }},
      {"flow control", [&] { return c.DisableFlowControl(ctx); }},
      {"latency timer", [&] { return c.SetLatencyTimer(ctx, kLatencyMs); }},
      {"purge", [&] { return c.Purge(ctx); }},
  };
  c.SetTimeouts(ctx, FOptions.ReadTimeoutMs, FOptions.WriteTimeoutMs);
  for (const auto& [what, step] : steps) {
    const int stepRc = step();
    if (stepRc < 0) {
      const std::string why = c.ErrorString(ctx) + Code(stepRc);
      c.Close(ctx);
      return fail(FT_IO_ERROR, "opened " + which + " but setting its " + what + " failed: " + why);
    }
  }
  FOpen.insert(ctx);
  *handle = ctx;
  return FT_OK;
}

TFtDeviceList TFtdiDriver::ListDevices() {
  std::lock_guard<std::mutex> lock(FLock);
  TFtDeviceList list;
  void* ctx = FCalls->New();
  if (!ctx) {
    list.Problems.push_back("libftdi1: no libftdi context (out of memory)");
    return list;
  }
  const int found = FCalls->FindAll(ctx);
  if (found < 0)
    list.Problems.push_back("libftdi1: cannot list USB devices: " + FCalls->ErrorString(ctx) + Code(found));
  std::string denied;
  for (int i = 0; i < found; ++i) {
    TFtDeviceInfo d;
    d.Index = i;
    d.Backend = "libftdi1";
    d.Serial = FCalls->Serial(ctx, i);
    d.Description = FCalls->Description(ctx, i);
    const int probe = FCalls->Probe(ctx, i);
    d.Busy = probe == TFtdiCalls::kProbeBusy;
    if (probe == -4) denied += (denied.empty() ? "" : ", ") + std::to_string(i);
    list.Devices.push_back(std::move(d));
  }
  if (!denied.empty())
    list.Problems.push_back("libftdi1: no permission to open FTDI device " + denied +
                            " (install contrib/udev/60-zugen4.rules, then replug the instrument)");
  FCalls->Free(ctx);
  return list;
}

FT_STATUS TFtdiDriver::Close(FT_HANDLE handle) {
  std::lock_guard<std::mutex> lock(FLock);
  FLastFailure.clear();
  if (!Known(handle)) return Fail(FT_INVALID_HANDLE, "close: not an open handle");
  FOpen.erase(handle);
  const int rc = FCalls->Close(handle);
  const std::string why = rc < 0 ? FCalls->ErrorString(handle) + Code(rc) : std::string();
  // The context goes either way: a device that failed to close is gone.
  FCalls->Free(handle);
  if (rc < 0) return Fail(FT_IO_ERROR, "close: " + why);
  return FT_OK;
}

FT_STATUS TFtdiDriver::Write(FT_HANDLE handle, const void* buf, uint32_t count, uint32_t* written) {
  std::lock_guard<std::mutex> lock(FLock);
  FLastFailure.clear();
  if (written) *written = 0;
  if (!Known(handle)) return Fail(FT_INVALID_HANDLE, "write: not an open handle");
  if (!written || (!buf && count)) return Fail(FT_INVALID_HANDLE, "write: null buffer or count");
  const int rc = FCalls->Write(handle, static_cast<const unsigned char*>(buf), static_cast<int>(count));
  if (rc < 0)
    return Fail(FT_IO_ERROR, "write of " + std::to_string(count) + " bytes: " + FCalls->ErrorString(handle) + Code(rc));
  *written = static_cast<uint32_t>(rc);
  if (*written != count)
    Fail(FT_OK, "write of " + std::to_string(count) + " bytes took " + std::to_string(*written) + " (time-out)");
  return FT_OK;
}

FT_STATUS TFtdiDriver::Read(FT_HANDLE handle, void* buf, uint32_t wanted, uint32_t* got) {
  std::lock_guard<std::mutex> lock(FLock);
  FLastFailure.clear();
  if (got) *got = 0;
  if (!Known(handle)) return Fail(FT_INVALID_HANDLE, "read: not an open handle");
  if (!got || (!buf && wanted)) return Fail(FT_INVALID_HANDLE, "read: null buffer or count");
  auto* out = static_cast<unsigned char*>(buf);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FOptions.ReadTimeoutMs);
  // libftdi hands over what has arrived, possibly nothing: ask again until
  // every byte is in or the time is up.
  while (*got < wanted) {
    const int rc = FCalls->Read(handle, out + *got, static_cast<int>(wanted - *got));
    if (rc < 0) return Fail(FT_IO_ERROR, "read: " + FCalls->ErrorString(handle) + Code(rc));
    *got += static_cast<uint32_t>(rc);
    if (rc == 0 && std::chrono::steady_clock::now() >= deadline) break;
  }
  if (*got != wanted)
    Fail(FT_OK, "read of " + std::to_string(wanted) + " bytes got " + std::to_string(*got) + " within " +
                    std::to_string(FOptions.ReadTimeoutMs) + " ms");
  return FT_OK;
}

#if !defined(ZUGEN_HAVE_LIBFTDI)
std::shared_ptr<TFtdiCalls> LibftdiCalls() { return nullptr; }
#endif

std::shared_ptr<TFtDriver> CreateLibftdiDriver(TFtdiOptions options) {
  std::shared_ptr<TFtdiCalls> calls = LibftdiCalls();
  if (!calls) return nullptr;
  if (options.Serial.empty()) {
    if (const char* serial = std::getenv("ZUGEN_FTDI_SERIAL")) options.Serial = serial;
  }
  return std::make_shared<TFtdiDriver>(std::move(calls), std::move(options));
}

}  // namespace Zu
