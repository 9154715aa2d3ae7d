#include "EmulatedFtdi.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <stdexcept>

#include "zugen4/extend/ZuCommands.h"

namespace Zu::UsbTest {

namespace {

constexpr const char* kSysPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";
constexpr const char* kDevNode = "/dev/bus/usb/001/002";
constexpr const char* kDescription = "FT232R USB UART";
constexpr int kPacket = 64;  // bulk packet size: each IN packet starts with two status bytes
// Device descriptor (USB 2.0, 0403:6001, bcdDevice 6.00 = FT232R, strings 1 to
// 3), then one configuration with one vendor interface: bulk IN 0x81, bulk
// OUT 0x02, 64-byte packets.
constexpr const char* kDescriptors =
    "12010002000000080304016000060102030109022000010100802D0904000002FFFFFF02070581024000000705020240000000";

std::string Record(const std::string& serial) {
  std::string r = std::string("P: ") + (kSysPath + 4) + "\nN: " + (kDevNode + 5) +
                  "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=" + kDevNode +
                  "\nE: BUSNUM=001\nE: DEVNUM=002\nE: PRODUCT=403/6001/600\n";
  for (const char* a : {"busnum=1", "devnum=2", "idVendor=0403", "idProduct=6001", "bcdDevice=0600", "speed=12",
                        "bConfigurationValue=1", "bNumConfigurations=1", "bNumInterfaces= 1", "manufacturer=FTDI"})
    r += std::string("A: ") + a + "\\n\n";
  r += std::string("A: product=") + kDescription + "\\n\nA: serial=" + serial + "\\n\n";
  return r + "H: descriptors=" + kDescriptors + "\n";
}

// A string descriptor in UTF-16LE.
std::vector<uint8_t> StringDescriptor(const std::string& s) {
  std::vector<uint8_t> d = {static_cast<uint8_t>(2 + 2 * s.size()), 3};
  for (char c : s) d.insert(d.end(), {static_cast<uint8_t>(c), 0});
  return d;
}

}  // namespace

struct TEmulatedFtdi::TImpl {
  TEmulatedFtdi& Owner;
  UMockdevTestbed* Testbed = nullptr;
  UMockdevIoctlBase* Handler = nullptr;
  FT_HANDLE Handle = nullptr;
  // Completed requests per connection (each process's open device node), as
  // the client addresses of their URBs, for REAPURB.
  std::map<UMockdevIoctlClient*, std::deque<uint64_t>> Reaped;
  UMockdevIoctlClient* Claimed = nullptr;  // the connection holding the interface
  std::deque<uint8_t> ToHost;              // what the instrument answers
  std::vector<TControl> Controls;
  int WritesLeft = -1;  // bulk OUT transfers until the device is pulled out (-1: never)
  bool Gone = false;
  bool Plugged = false;  // in the testbed

  explicit TImpl(TEmulatedFtdi& owner) : Owner(owner) {}

  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto* impl = static_cast<TImpl*>(self);
    std::lock_guard<std::mutex> lock(impl->Owner.FLock);
    return impl->Ioctl(client);
  }
  static void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto* impl = static_cast<TImpl*>(self);
    std::lock_guard<std::mutex> lock(impl->Owner.FLock);
    impl->Reaped.erase(client);
    if (impl->Claimed == client) impl->Claimed = nullptr;
  }

  static void Complete(UMockdevIoctlClient* client, int error) {
    umockdev_ioctl_client_complete(client, error ? -1 : 0, error);
  }

  // The memory an argument points to in the client, len bytes.
  static UMockdevIoctlData* Deref(UMockdevIoctlData* arg, size_t offset, size_t len) {
    GError* error = nullptr;
    UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, offset, len, &error);
    if (!d) {
      std::string why = error ? error->message : "unknown";
      if (error) g_error_free(error);
      throw std::runtime_error("umockdev cannot reach the client's memory: " + why);
    }
    return d;
  }

  gboolean Ioctl(UMockdevIoctlClient* client) {
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (Gone) {
      Complete(client, ENODEV);
      return TRUE;
    }
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES: {
        const uint32_t caps = USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        std::memcpy(Deref(arg, 0, sizeof caps)->data, &caps, sizeof caps);
        Complete(client, 0);
        return TRUE;
      }
      case USBDEVFS_CLAIMINTERFACE:
        if (Claimed && Claimed != client) {
          Complete(client, EBUSY);
          return TRUE;
        }
        Claimed = client;
        Complete(client, 0);
        return TRUE;
      case USBDEVFS_RELEASEINTERFACE:
        if (Claimed == client) Claimed = nullptr;
        Complete(client, 0);
        return TRUE;
      case USBDEVFS_SUBMITURB: Submit(client, arg); return TRUE;
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY: {
        // Every request is answered when submitted, so a reap never waits.
        std::deque<uint64_t>& done = Reaped[client];
        if (done.empty()) {
          Complete(client, EAGAIN);
          return TRUE;
        }
        const uint64_t urb = done.front();
        done.pop_front();
        std::memcpy(Deref(arg, 0, sizeof urb)->data, &urb, sizeof urb);
        Complete(client, 0);
        return TRUE;
      }
      case USBDEVFS_DISCARDURB: Complete(client, EINVAL); return TRUE;  // already completed
      default: return FALSE;                                            // umockdev's own answer
    }
  }

  void Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    uint64_t address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    UMockdevIoctlData* urbData = Deref(arg, 0, sizeof(usbdevfs_urb));
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    const size_t length = static_cast<size_t>(urb->buffer_length);
    uint8_t* buf = length ? Deref(urbData, offsetof(usbdevfs_urb, buffer), length)->data : nullptr;
    urb->status = 0;
    urb->actual_length = 0;
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL && length >= 8) {
      urb->actual_length = Control(buf, length);
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK && (urb->endpoint & 0x80)) {
      urb->actual_length = BulkIn(buf, length);
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK) {
      if (WritesLeft == 0) {
        Gone = true;
        Complete(client, ENODEV);
        return;
      }
      if (WritesLeft > 0) --WritesLeft;
      BulkOut(buf, static_cast<uint32_t>(length));
      urb->actual_length = urb->buffer_length;
    }
    Reaped[client].push_back(address);
    Complete(client, 0);
  }

  int Control(uint8_t* buf, size_t length) {
    const uint8_t type = buf[0], request = buf[1];
    const uint16_t value = buf[2] | buf[3] << 8, index = buf[4] | buf[5] << 8, wanted = buf[6] | buf[7] << 8;
    if (type == 0x80 && request == 6 && (value >> 8) == 3) {  // GET_DESCRIPTOR, a string
      const int i = value & 0xFF;
      const std::vector<uint8_t> d = i == 0   ? std::vector<uint8_t>{4, 3, 0x09, 0x04}  // English (US)
                                     : i == 1 ? StringDescriptor("FTDI")
                                     : i == 2 ? StringDescriptor(kDescription)
                                              : StringDescriptor(Owner.FSerial);
      const size_t n = std::min({d.size(), size_t{wanted}, length - 8});
      std::memcpy(buf + 8, d.data(), n);
      return static_cast<int>(n);
    }
    if (type == 0x40) Controls.push_back({request, value, index});
    return 0;
  }

  // What a read gets at once: the modem status, then what the instrument
  // has to say, in 64-byte packets that each start with the status.
  int BulkIn(uint8_t* buf, size_t length) {
    size_t n = 0;
    do {
      if (n + 2 > length) break;
      buf[n++] = 0x01;
      buf[n++] = 0x60;
      for (int i = 2; i < kPacket && n < length && !ToHost.empty(); ++i) {
        buf[n++] = ToHost.front();
        ToHost.pop_front();
      }
    } while (!ToHost.empty());
    return static_cast<int>(n);
  }

  void BulkOut(const uint8_t* bytes, uint32_t count) {
    Sim::TSimDriver& sim = Owner.FInstrument;
    uint32_t written = 0;
    sim.Write(Handle, bytes, count, &written);
    const Sim::TTraceEntry& last = sim.Trace().back();
    TZuGen4ChNames ch = ZGCN_A;
    const TZuGen4CmdInfo* info =
        last.Kind == Sim::TTraceKind::Frame && !last.Bytes.empty() ? DecodeCommand(last.Bytes[0], &ch) : nullptr;
    if (info && info->Code == ZGCmd_ReadADC) {
      uint8_t answer[4];
      uint32_t got = 0;
      sim.Read(Handle, answer, sizeof answer, &got);
      ToHost.insert(ToHost.end(), answer, answer + got);
    }
  }
};

TEmulatedFtdi::TEmulatedFtdi(std::string serial) : FSerial(std::move(serial)), FImpl(std::make_unique<TImpl>(*this)) {
  FInstrument.Open(0, &FImpl->Handle);
  FImpl->Testbed = umockdev_testbed_new();
  if (!umockdev_in_mock_environment())
    throw std::runtime_error("not under umockdev's preload: run the tests through umockdev-wrapper");
  FImpl->Handler = umockdev_ioctl_base_new();
  g_signal_connect(FImpl->Handler, "handle-ioctl", G_CALLBACK(TImpl::OnIoctl), FImpl.get());
  g_signal_connect(FImpl->Handler, "client-vanished", G_CALLBACK(TImpl::OnVanished), FImpl.get());
  Plug();
}

TEmulatedFtdi::~TEmulatedFtdi() {
  Unplug();
  g_object_unref(FImpl->Handler);
  g_object_unref(FImpl->Testbed);
}

void TEmulatedFtdi::Plug() {
  if (FImpl->Plugged) return;
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(FImpl->Testbed, Record(FSerial).c_str(), &error) ||
      !umockdev_testbed_attach_ioctl(FImpl->Testbed, kDevNode, FImpl->Handler, &error)) {
    const std::string why = error ? error->message : "unknown";
    if (error) g_error_free(error);
    throw std::runtime_error("the emulated device could not be added: " + why);
  }
  FImpl->Plugged = true;
  std::lock_guard<std::mutex> lock(FLock);
  FImpl->Gone = false;
  FImpl->WritesLeft = -1;
  FImpl->Claimed = nullptr;
  FImpl->Reaped.clear();
  FImpl->ToHost.clear();
}

void TEmulatedFtdi::Unplug() {
  if (!FImpl->Plugged) return;
  FImpl->Plugged = false;
  {
    std::lock_guard<std::mutex> lock(FLock);
    FImpl->Gone = true;
  }
  umockdev_testbed_detach_ioctl(FImpl->Testbed, kDevNode, nullptr);
  umockdev_testbed_remove_device(FImpl->Testbed, kSysPath);
}

void TEmulatedFtdi::UnplugAfterWrites(int count) {
  std::lock_guard<std::mutex> lock(FLock);
  FImpl->WritesLeft = count;
}

bool TEmulatedFtdi::Unplugged() {
  std::lock_guard<std::mutex> lock(FLock);
  return FImpl->Gone;
}

std::vector<TControl> TEmulatedFtdi::TakeControls() {
  std::lock_guard<std::mutex> lock(FLock);
  std::vector<TControl> out;
  out.swap(FImpl->Controls);
  return out;
}

}  // namespace Zu::UsbTest
