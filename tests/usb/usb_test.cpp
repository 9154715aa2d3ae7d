// The Linux path end to end: the real libftdi1 and libusb, in this process
// and in the zugen4 tool as a user runs it, talking to an emulated FT232R
// with the simulated instrument behind it (EmulatedFtdi.h). Runs under
// umockdev-wrapper.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "EmulatedFtdi.h"
#include "platform/FtdiDriver.h"
#include "zugen4/zugen4.h"

extern char** environ;

namespace {

using namespace Zu;
using testing::HasSubstr;
namespace fs = std::filesystem;

constexpr const char* kSerial = "FT1234AB";

struct TRun {
  int Code = -1;
  std::string Out, Err;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class EmulatedUsb : public ::testing::Test {
 protected:
  using TDevice = UsbTest::TEmulatedFtdi;
  static void SetUpTestSuite() { FDevice = new TDevice(kSerial); }
  static void TearDownTestSuite() { delete FDevice; }

  void SetUp() override {
    Device().Plug();
    Device().TakeControls();
    {
      std::lock_guard<std::mutex> lock(Device().Lock());
      Device().Instrument().ClearTrace();
    }
    dir = fs::temp_directory_path() / ("zugen4-usb-" + std::to_string(getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  static TDevice& Device() { return *FDevice; }

  // Starts the tool with this test's state file; `during` runs while it does.
  TRun Tool(std::vector<std::string> args, const std::function<void()>& during = {}) {
    args.insert(args.begin(), {ZUGEN_TOOL_PATH, "--state", (dir / "state.zg4").string()});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const fs::path out = dir / "stdout", err = dir / "stderr";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    TRun r;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) == 0) {
      int status = 0;
      while (waitpid(pid, &status, WNOHANG) == 0) {
        if (during) during();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&fa);
    r.Out = Slurp(out);
    r.Err = Slurp(err);
    return r;
  }

  // What the instrument behind the bridge holds, as `zugen4 --sim state` prints it.
  std::string InstrumentState() {
    std::lock_guard<std::mutex> lock(Device().Lock());
    return Device().Instrument().Model().StateText();
  }
  std::vector<std::string> Violations() {
    std::lock_guard<std::mutex> lock(Device().Lock());
    std::vector<std::string> v = Device().Instrument().Violations();
    const auto& model = Device().Instrument().Model().Violations();
    v.insert(v.end(), model.begin(), model.end());
    return v;
  }

  fs::path dir;

 private:
  static TDevice* FDevice;
};
EmulatedUsb::TDevice* EmulatedUsb::FDevice = nullptr;

const std::string kForm = std::string(ZUGEN_EXAMPLE_FORMS) + "/intmod-am-single.form";

TEST_F(EmulatedUsb, ListFindsTheDeviceWithItsSerialOnEveryFace) {
  const TRun text = Tool({"list"});
  ASSERT_EQ(text.Code, 0) << text.Err;
  EXPECT_THAT(text.Out, HasSubstr("0      FT1234AB  FT232R USB UART  free   libftdi1")) << text.Out;
  const TRun json = Tool({"list", "--json"});
  EXPECT_THAT(json.Out, HasSubstr("{\"index\": 0, \"serial\": \"FT1234AB\", \"description\": \"FT232R USB UART\", "
                                  "\"busy\": false, \"backend\": \"libftdi1\"}"));
  size_t count = 0;
  const char* problems = nullptr;
  ASSERT_EQ(zg_list_devices(&count, &problems), ZG_OK) << zg_last_error();
  ASSERT_EQ(count, 1u) << problems;
  zg_device_info info{};
  ASSERT_EQ(zg_device_at(0, &info), ZG_OK);
  EXPECT_STREQ(info.serial, kSerial);
  EXPECT_EQ(info.busy, 0);
}

TEST_F(EmulatedUsb, NoDeviceIsNoInstrumentFound) {
  Device().Unplug();
  const TRun r = Tool({"list"});
  EXPECT_EQ(r.Code, 5);
  EXPECT_THAT(r.Err, HasSubstr("no instrument found"));
  const TRun bySerial = Tool({"--device", kSerial, "show"});
  EXPECT_EQ(bySerial.Code, 0) << "show needs no instrument: " << bySerial.Err;
  const TRun apply = Tool({"--device", kSerial, "apply", kForm});
  EXPECT_EQ(apply.Code, 5);
  EXPECT_THAT(apply.Err, HasSubstr("no device with serial number FT1234AB (found: none)"));
}

// ftdi_usb_open_dev resets the chip and sets 9600 baud; then the driver
// leaves it as the vendor driver does after its open.
TEST_F(EmulatedUsb, OpeningSetsTheChipUp) {
  std::shared_ptr<TFtDriver> driver = CreateLibftdiDriver();
  ASSERT_TRUE(driver);
  FT_HANDLE h = nullptr;
  ASSERT_EQ(driver->Open(0, &h), FT_OK) << driver->LastFailure();
  // Request, value, and index: the chip's one interface (1), or for the baud
  // rate the divisor's high bits.
  const std::vector<UsbTest::TControl> expected = {
      {0x00, 0x0000, 1},  // reset (libftdi's open)
      {0x03, 0x4138, 0},  // 9600 baud (libftdi's open)
      {0x00, 0x0000, 1},  // reset
      {0x0B, 0x0000, 1},  // bit mode off
      {0x03, 0x4138, 0},  // 9600 baud
      {0x04, 0x0008, 1},  // 8 data bits, no parity, 1 stop bit
      {0x02, 0x0000, 1},  // no flow control
      {0x09, 0x0010, 1},  // latency timer 16 ms
      {0x00, 0x0001, 1},  // purge receive buffer
      {0x00, 0x0002, 1},  // purge transmit buffer
  };
  EXPECT_EQ(Device().TakeControls(), expected);
  EXPECT_EQ(driver->Close(h), FT_OK);
}

TEST_F(EmulatedUsb, AnUpdateArrivesFrameForFrameAndAPollReadsBack) {
  const TRun apply = Tool({"--device", kSerial, "apply", kForm});
  ASSERT_EQ(apply.Code, 0) << apply.Err;
  EXPECT_THAT(Violations(), testing::IsEmpty());
  // Frame for frame what the same form sends to the tool's own simulated
  // instrument (its trace shows each 6-byte frame in hex).
  const TRun simApply = Tool({"--sim", "--trace", "apply", kForm});
  ASSERT_EQ(simApply.Code, 0) << simApply.Err;
  std::vector<std::string> simFrames, usbFrames;
  const std::regex frame(R"(^ *\d+ ms  ((?:[0-9A-F]{2} ){5}[0-9A-F]{2})  )");
  std::istringstream lines(simApply.Out);
  for (std::string line, ignored; std::getline(lines, line);)
    if (std::smatch m; std::regex_search(line, m, frame)) simFrames.push_back(m[1]);
  {
    std::lock_guard<std::mutex> lock(Device().Lock());
    for (const std::vector<uint8_t>& f : Device().Instrument().Frames()) usbFrames.push_back(Sim::HexBytes(f));
  }
  EXPECT_GT(simFrames.size(), 5u);
  EXPECT_EQ(usbFrames, simFrames);
  EXPECT_THAT(InstrumentState(), HasSubstr("channel A: output on, internal modulation (single)"));

  {
    std::lock_guard<std::mutex> lock(Device().Lock());
    Device().Instrument().SetADCValue(0x1234);
  }
  ASSERT_EQ(Tool({"--device", kSerial, "set", "ChA.Mode=tuning"}).Code, 0);
  const TRun poll = Tool({"--device", kSerial, "poll", "--count", "1"});
  ASSERT_EQ(poll.Code, 0) << poll.Err;
  EXPECT_THAT(poll.Out, HasSubstr("ChA ADC 4660"));
  EXPECT_THAT(Violations(), testing::IsEmpty());
}

TEST_F(EmulatedUsb, UnplugMidUpdateIsToldAndLosesNothing) {
  ASSERT_EQ(Tool({"--device", kSerial, "set", "ChA.Frequency=2000"}).Code, 0);
  const std::string before = Slurp(dir / "state.zg4");
  Device().UnplugAfterWrites(3);
  bool removed = false;
  const TRun r = Tool({"--device", kSerial, "apply", kForm}, [&] {
    if (!removed && Device().Unplugged()) {
      Device().Unplug();
      removed = true;
    }
  });
  EXPECT_TRUE(removed);
  EXPECT_EQ(r.Code, 6) << r.Out << r.Err;
  EXPECT_THAT(r.Err, HasSubstr("libftdi1: write of 6 bytes: usb bulk write failed"));
  // The remembered setup is the one the instrument last got whole.
  EXPECT_EQ(Slurp(dir / "state.zg4"), before);
  Device().Plug();
  const TRun again = Tool({"--device", kSerial, "apply", kForm});
  EXPECT_EQ(again.Code, 0) << again.Err;
}

TEST_F(EmulatedUsb, ADeviceHeldByAnotherProcessIsBusy) {
  std::shared_ptr<TFtDriver> driver = CreateLibftdiDriver();
  FT_HANDLE h = nullptr;
  ASSERT_EQ(driver->Open(0, &h), FT_OK) << driver->LastFailure();
  EXPECT_THAT(Tool({"list"}).Out, HasSubstr("FT232R USB UART  busy   libftdi1"));
  const TRun open = Tool({"--device", kSerial, "apply", kForm});
  EXPECT_EQ(open.Code, 5);
  EXPECT_THAT(open.Err, HasSubstr("busy"));
  EXPECT_EQ(driver->Close(h), FT_OK);
  EXPECT_THAT(Tool({"list"}).Out, HasSubstr("FT232R USB UART  free   libftdi1"));
}

}  // namespace
