// The libftdi1 backend through a fake of the libftdi calls it makes, and once
// against the real library on this machine, where no device is attached.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/FtdiDriver.h"
#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"

namespace {

using namespace Zu;
using testing::ElementsAre;
using testing::HasSubstr;
using Log = std::vector<std::string>;

// Answers as set up and logs every call that reaches the device.
class TFakeFtdi final : public TFtdiCalls {
 public:
  int Found = 1;
  std::vector<std::string> Serials;
  int OpenRc = 0;
  std::map<std::string, int> StepRc;  // a setting that fails
  std::optional<int> WriteRc;         // unset: write everything
  std::deque<std::string> Arrivals;   // what each read hands over
  Log Calls;
  int Contexts = 0;

  void* New() override { return ++Contexts, &Contexts; }
  void Free(void*) override { --Contexts, Calls.push_back("free"); }
  int FindAll(void*) override { return Found; }
  std::string Serial(void*, int i) override { return i < int(Serials.size()) ? Serials[i] : ""; }
  std::map<int, int> ProbeRc;  // devices that are busy (1) or may not be opened (-4)
  int Probe(void*, int i) override { return ProbeRc.count(i) ? ProbeRc[i] : kProbeFree; }
  int OpenDev(void*, int i) override { return Calls.push_back("open " + std::to_string(i)), OpenRc; }
  int Close(void*) override { return Calls.push_back("close"), 0; }
  int Reset(void*) override { return Step("reset"); }
  int SetBitmode(void*, unsigned char mask, unsigned char mode) override {
    return Step("bitmode " + std::to_string(mask) + " " + std::to_string(mode));
  }
  int SetBaudrate(void*, int baud) override { return Step("baud " + std::to_string(baud)); }
  int SetLine8N1(void*) override { return Step("8N1"); }
  int DisableFlowControl(void*) override { return Step("no flow control"); }
  int SetLatencyTimer(void*, unsigned char ms) override { return Step("latency " + std::to_string(ms)); }
  int Purge(void*) override { return Step("purge"); }
  void SetTimeouts(void*, int r, int w) override {
    Calls.push_back("timeouts " + std::to_string(r) + "/" + std::to_string(w));
  }
  int Write(void*, const unsigned char* buf, int size) override {
    Calls.push_back("write " + std::string(reinterpret_cast<const char*>(buf), size));
    return WriteRc.value_or(size);
  }
  int Read(void*, unsigned char* buf, int size) override {
    if (Arrivals.empty()) return 0;
    std::string chunk = Arrivals.front();
    Arrivals.pop_front();
    if (chunk == "!") return -1;
    chunk.resize(std::min<size_t>(chunk.size(), size));
    std::copy(chunk.begin(), chunk.end(), buf);
    return static_cast<int>(chunk.size());
  }
  std::string ErrorString(void*) override { return "fake says no"; }

 private:
  int Step(const std::string& call) {
    Calls.push_back(call);
    const auto it = StepRc.find(call.substr(0, call.find(' ')));
    return it == StepRc.end() ? 0 : it->second;
  }
};

struct FtdiDriver : ::testing::Test {
  std::shared_ptr<TFakeFtdi> fake = std::make_shared<TFakeFtdi>();
  TFtdiOptions options{{}, 1000, 1000};
};

TEST_F(FtdiDriver, OpensWithTheVendorDefaultsAndReadsUntilEveryByteIsIn) {
  TFtdiDriver driver(fake, options);
  FT_HANDLE h = nullptr;
  ASSERT_EQ(driver.Open(0, &h), FT_OK);
  EXPECT_THAT(fake->Calls, ElementsAre("open 0", "timeouts 1000/1000", "reset", "bitmode 0 0", "baud 9600", "8N1",
                                       "no flow control", "latency 16", "purge"));
  uint32_t n = 0;
  EXPECT_EQ(driver.Write(h, "\xF0\0\0\0\0\0", 6, &n), FT_OK);
  EXPECT_EQ(n, 6u);
  fake->Arrivals = {"", "AB", "", "CD", "EF"};  // libftdi hands over what has arrived, maybe nothing
  char buf[4] = {};
  EXPECT_EQ(driver.Read(h, buf, 4, &n), FT_OK);
  EXPECT_EQ(std::string(buf, n), "ABCD");
  fake->Calls.clear();
  EXPECT_EQ(driver.Close(h), FT_OK);
  EXPECT_THAT(fake->Calls, ElementsAre("close", "free"));
  EXPECT_EQ(driver.Close(h), FT_INVALID_HANDLE);  // stale handles are refused, not used
  EXPECT_EQ(fake->Contexts, 0);
}

// Each cause of a refused open has its own status and account, and nothing
// is left open or allocated.
TEST_F(FtdiDriver, EveryFailedOpenNamesItsCauseAndFreesTheContext) {
  struct Case {
    const char* name;
    std::function<void(TFakeFtdi&, TFtdiOptions&)> arrange;
    int index;
    FT_STATUS status;
    const char* account;
  };
  const Case cases[] = {
      {"no device", [](TFakeFtdi& f, TFtdiOptions&) { f.Found = 0; }, 0, FT_DEVICE_NOT_FOUND,
       "no FTDI device found on USB (vendor 0403)"},
      {"no USB access", [](TFakeFtdi& f, TFtdiOptions&) { f.Found = -3; }, 0, FT_DEVICE_NOT_FOUND,
       "cannot list USB devices: fake says no (libftdi code -3)"},
      {"index past the devices", [](TFakeFtdi&, TFtdiOptions&) {}, 1, FT_DEVICE_NOT_FOUND,
       "FTDI device 1 asked for, 1 found (index 0 to 0)"},
      {"unknown serial", [](TFakeFtdi& f, TFtdiOptions& o) { f.Found = 2, f.Serials = {"FT1"}, o.Serial = "FT9"; }, 0,
       FT_DEVICE_NOT_FOUND, "no FTDI device with serial number FT9 (found: FT1, (unreadable))"},
      {"busy", [](TFakeFtdi& f, TFtdiOptions&) { f.OpenRc = -5; }, 0, FT_DEVICE_NOT_OPENED,
       "cannot open FTDI device 0: it is busy (another program holds it)"},
      {"no permission", [](TFakeFtdi& f, TFtdiOptions&) { f.OpenRc = -4; }, 0, FT_DEVICE_NOT_OPENED,
       "no permission to open it (install contrib/udev/60-zugen4.rules)"},
      {"setting refused", [](TFakeFtdi& f, TFtdiOptions&) { f.StepRc["latency"] = -1; }, 0, FT_IO_ERROR,
       "opened FTDI device 0 but setting its latency timer failed: fake says no (libftdi code -1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake = std::make_shared<TFakeFtdi>();
    TFtdiOptions o = options;
    c.arrange(*fake, o);
    TFtdiDriver driver(fake, o);
    FT_HANDLE h = nullptr;
    EXPECT_EQ(driver.Open(c.index, &h), c.status);
    EXPECT_EQ(h, nullptr);
    EXPECT_THAT(driver.LastFailure(), HasSubstr(c.account));
    EXPECT_EQ(fake->Contexts, 0);
    const bool opened =
        fake->OpenRc == 0 && std::find(fake->Calls.begin(), fake->Calls.end(), "open 0") != fake->Calls.end();
    EXPECT_EQ(std::count(fake->Calls.begin(), fake->Calls.end(), "close"), opened ? 1 : 0);
  }
}

TEST_F(FtdiDriver, SerialNumberChoosesTheDeviceAndTransfersReportWhatHappened) {
  fake->Found = 3;
  fake->Serials = {"FT1", "", "FT3"};
  options.Serial = "FT3";
  options.ReadTimeoutMs = 0;
  TFtdiDriver driver(fake, options);
  FT_HANDLE h = nullptr;
  ASSERT_EQ(driver.Open(0, &h), FT_OK);
  EXPECT_EQ(fake->Calls.front(), "open 2");
  uint32_t n = 99;
  char buf[4];
  fake->WriteRc = 2;  // a write that timed out part way
  EXPECT_EQ(std::tuple(driver.Write(h, "abcdef", 6, &n), n), std::tuple(FT_OK, 2u));
  EXPECT_THAT(driver.LastFailure(), HasSubstr("write of 6 bytes took 2"));
  fake->WriteRc = -7;
  EXPECT_EQ(std::tuple(driver.Write(h, "abcdef", 6, &n), n), std::tuple(FT_IO_ERROR, 0u));
  fake->Arrivals = {"A"};  // the rest never comes: success with fewer, after the time-out
  EXPECT_EQ(std::tuple(driver.Read(h, buf, 4, &n), n), std::tuple(FT_OK, 1u));
  EXPECT_THAT(driver.LastFailure(), HasSubstr("read of 4 bytes got 1 within 0 ms"));
  fake->Arrivals = {"!"};
  EXPECT_EQ(driver.Read(h, buf, 4, &n), FT_IO_ERROR);
  EXPECT_EQ(driver.Read(nullptr, buf, 4, &n), FT_INVALID_HANDLE);
}

// No device: the generator stays inactive and the driver says why. Once over
// the fake, once over the real libftdi1 of this machine (when built with it).
TEST_F(FtdiDriver, WithoutADeviceTheGeneratorStaysInactiveAndTheAccountNamesTheCause) {
  fake->Found = 0;
  std::vector<std::shared_ptr<TFtDriver>> drivers{std::make_shared<TFtdiDriver>(fake, options)};
  if (auto real = CreateLibftdiDriver()) drivers.push_back(real);
  for (const auto& driver : drivers) {
    TZuGen4 gen;
    gen.SetPlatform({driver, std::make_shared<Sim::TVirtualClock>(), nullptr});
    int errors = 0;
    gen.OnFTError = [&](TObject*) { ++errors; };
    gen.SetActive(true);
    EXPECT_FALSE(gen.GetActive());
    EXPECT_EQ(std::tuple(gen.Status(), errors), std::tuple(FT_DEVICE_NOT_FOUND, 1));
    EXPECT_THAT(driver->LastFailure(), testing::AnyOf(HasSubstr("libftdi1: no FTDI device found"),
                                                      HasSubstr("libftdi1: cannot list USB devices")));
    EXPECT_THAT(gen.LastLinkFailure(), HasSubstr(driver->LastFailure()));  // the link passes it on
    std::printf("%s\n", gen.LastLinkFailure().c_str());
  }
}

}  // namespace

namespace {

// The list tells each device's state and why devices could not be asked,
// and opens nothing.
TEST_F(FtdiDriver, ListTellsBusyDevicesAndMissingPermission) {
  fake->Found = 3;
  fake->Serials = {"A1", "", "C3"};
  fake->ProbeRc = {{1, 1}, {2, -4}};
  TFtdiDriver driver(fake, options);
  const TFtDeviceList list = driver.ListDevices();
  ASSERT_EQ(list.Devices.size(), 3u);
  EXPECT_EQ(list.Devices[0].Serial, "A1");
  EXPECT_EQ(list.Devices[1].Serial, "");
  EXPECT_FALSE(list.Devices[0].Busy);
  EXPECT_TRUE(list.Devices[1].Busy);
  EXPECT_EQ(list.Devices[2].Backend, "libftdi1");
  EXPECT_THAT(list.Problems, ElementsAre(HasSubstr("no permission to open FTDI device 2 (install "
                                                   "contrib/udev/60-zugen4.rules")));
  EXPECT_THAT(fake->Calls, ElementsAre("free"));
  fake->Found = -3;
  EXPECT_THAT(driver.ListDevices().Problems, ElementsAre("libftdi1: cannot list USB devices: fake says no (libftdi "
                                                         "code -3)"));
}

// A device named by the user: an index, a serial number, or neither.
TEST(DeviceChoice, IndexOrSerialNumberAndTheDriverFindsTheSerial) {
  struct Case {
    const char* text;
    bool ok;
    int index;
    const char* serial;
  };
  for (const Case& c : {Case{"0", true, 0, ""}, Case{"12", true, 12, ""}, Case{"FT1234AB", true, 0, "FT1234AB"},
                        Case{"serial:0042", true, 0, "0042"}, Case{"-1", false, 0, ""}, Case{"", false, 0, ""},
                        Case{"serial:", false, 0, ""}, Case{"99999999999", false, 0, ""}}) {
    TFtDeviceChoice choice;
    std::string why;
    EXPECT_EQ(ParseDeviceChoice(c.text, choice, why), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_THAT(why, HasSubstr("device")) << c.text;
      continue;
    }
    EXPECT_EQ(choice.Index, c.index) << c.text;
    EXPECT_EQ(choice.Serial, c.serial) << c.text;
    EXPECT_EQ(DeviceChoiceText(choice), c.text) << c.text;
  }
  auto fake = std::make_shared<TFakeFtdi>();
  fake->Found = 2;
  fake->Serials = {"A1", "B2"};
  auto driver = DriverForSerial(std::make_shared<TFtdiDriver>(fake), "B2");
  FT_HANDLE h = nullptr;
  ASSERT_EQ(driver->Open(0, &h), FT_OK);   // the index it is given does not count
  EXPECT_EQ(fake->Calls.front(), "free");  // the list's context
  EXPECT_EQ(fake->Calls[1], "open 1");
  EXPECT_EQ(driver->Close(h), FT_OK);
  auto missing = DriverForSerial(std::make_shared<TFtdiDriver>(fake), "Z9");
  EXPECT_EQ(missing->Open(0, &h), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(missing->LastFailure(), "no device with serial number Z9 (found: A1, B2)");
}

}  // namespace
