// Drives the flat interface the way a host does: the library is loaded at run
// time and every call goes through a pointer looked up by name. Only the
// process-wide platform is set from C++, so the instance that ZuGenInit makes
// talks to the simulated instrument on virtual time.
#include <gmock/gmock.h>

#include <array>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "SimFixture.h"
#include "zugen4/Zugenwrapper.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

#if defined(_WIN32)
using TLibHandle = HMODULE;
TLibHandle LoadLib() { return LoadLibraryA(ZUGEN_LIBRARY_PATH); }
void* Symbol(TLibHandle lib, const char* name) { return reinterpret_cast<void*>(GetProcAddress(lib, name)); }
void UnloadLib(TLibHandle lib) { FreeLibrary(lib); }
std::string LoadError() { return "LoadLibrary: error " + std::to_string(GetLastError()); }
#else
using TLibHandle = void*;
TLibHandle LoadLib() { return dlopen(ZUGEN_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL); }
void* Symbol(TLibHandle lib, const char* name) { return dlsym(lib, name); }
void UnloadLib(TLibHandle lib) { dlclose(lib); }
std::string LoadError() { return dlerror(); }
#endif

using ZuTest::F;
using ZuTest::Frame;
using Call = std::function<unsigned char()>;

const std::string kCmdWriteError = "Ошибка при записи команды в FTPort";

// Every entry point a host uses: member name, exported name.
// clang-format off
#define ZU_FLAT_API(X)                                                                             \
  X(Init, ZuGenInit) X(Release, ZuGenRelease) X(Freq, ZuGen_Freq) X(SetFreq, ZuGen_SetFreq)       \
  X(Ampl, ZuGen_Ampl) X(SetAmpl, ZuGen_SetAmpl) X(Phase, ZuGen_Phase) X(SetPhase, ZuGen_SetPhase) \
  X(Activity, ZuGen_Activity) X(SetActivity, ZuGen_SetActivity)                                    \
  X(SetExtFrequency, ZuGen_SetExtFrequency) X(ChMode, ZuGen_ChMode) X(SetChMode, ZuGen_SetChMode)  \
  X(LastError, ZuGen_LastError)
// clang-format on

struct TFlatApi {
#define ZU_MEMBER(member, name) decltype(&::name) member = nullptr;
  ZU_FLAT_API(ZU_MEMBER)
#undef ZU_MEMBER
};

// Channel A in sine generation at 1000 kHz (400 MHz clock) and its defaults.
const std::vector<Frame> kSineA{F(0xF0), F(0xF1), F(0x04, 0x00, 0xA3, 0xD7, 0x0A), F(0x02, 0x3F, 0xFF),
                                F(0x05), F(0x7F)};

class FlatInterface : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    lib = LoadLib();
    ASSERT_NE(lib, nullptr) << LoadError();
#define ZU_BIND(member, name) \
  EXPECT_NE(api.member = reinterpret_cast<decltype(api.member)>(Symbol(lib, #name)), nullptr) << #name;
    ZU_FLAT_API(ZU_BIND)
#undef ZU_BIND
  }
  static void TearDownTestSuite() {
    if (lib) UnloadLib(lib);
    lib = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(lib && api.LastError);
    SetLibraryPlatform(sim.Platform());
  }
  void TearDown() override {
    if (api.Release) api.Release();
    SetLibraryPlatform({});
  }
  // The suite links the library's objects, so the loaded library keeps a
  // default platform of its own: it is set through the library's export.
  static void SetLibraryPlatform(Zu::TPlatform platform) {
    using TSetFn = void (*)(Zu::TPlatform);
    auto set = reinterpret_cast<TSetFn>(Symbol(lib, "_ZN2Zu18SetDefaultPlatformENS_9TPlatformE"));
    ASSERT_NE(set, nullptr);
    set(std::move(platform));
  }
  // Creates the instance and opens the device; forgets what the opening sent.
  void Activate() {
    ASSERT_EQ(api.Init(), ZUGEN_OK);
    ASSERT_EQ(api.SetActivity(1), 1);
    sim.Driver->ClearTrace();
  }
  std::vector<Frame> Frames() const { return sim.Driver->Frames(); }
  // Reads one value through the getter with the read flag only.
  template <typename T>
  static T Get(unsigned char(ZUGEN_CALL* getSet)(unsigned char, unsigned char, T*), unsigned char channel) {
    T v{};
    EXPECT_EQ(getSet(2, channel, &v), ZUGEN_OK);
    return v;
  }

  using Ref = std::tuple<unsigned char, double, int>;
  // Passes the reference through SetExtFrequency; returns what the call left.
  static Ref ExtRef(unsigned char flags, Ref in, unsigned char rc = ZUGEN_OK) {
    auto& [useExt, ref, scale] = in;
    EXPECT_EQ(api.SetExtFrequency(flags, &useExt, &ref, &scale), rc);
    return in;
  }

  static inline TLibHandle lib = nullptr;
  static inline TFlatApi api{};
  Zu::Sim::TSimPlatform sim;
};

// Each row goes through the Set shorthand and is read back on the channel
// byte the host used; the other channel keeps its default.
TEST_F(FlatInterface, SetsAndReadsBackChannelValues) {
  using Row = std::tuple<decltype(&ZuGen_Freq), decltype(&ZuGen_SetFreq), unsigned char, double, double, double>;
  // getter, shorthand, channel, value, value in force, other channel's value
  const Row rows[] = {
      {api.Freq, api.SetFreq, 0, 2000.0, 2000.0, 1000.0}, {api.Freq, api.SetFreq, 5, 400.0, 400.0, 2000.0},
      {api.Freq, api.SetFreq, 0, 399.999, 2000.0, 400.0}, {api.Ampl, api.SetAmpl, 0, 0.5, 0.5, 100.0},
      {api.Ampl, api.SetAmpl, 200, 100.001, 100.0, 0.5},  {api.Phase, api.SetPhase, 1, 359.5, 359.5, 0.0},
  };
  ASSERT_EQ(api.Init(), ZUGEN_OK);
  for (auto [getSet, set, channel, value, inForce, other] : rows) {
    SCOPED_TRACE(testing::Message() << "channel " << int{channel} << " value " << value);
    EXPECT_EQ(set(channel, value), inForce);
    EXPECT_EQ(Get(getSet, channel), inForce);
    EXPECT_EQ(Get(getSet, channel == 0 ? 1 : 0), other);
  }
}

TEST_F(FlatInterface, FlagsSelectSetAndReadIndependently) {
  ASSERT_EQ(api.Init(), ZUGEN_OK);
  for (auto getSet : {api.Freq, api.Ampl, api.Phase}) {
    double v = 50.0;
    EXPECT_EQ(getSet(0, 0, &v), ZUGEN_OK);       // does nothing
    EXPECT_EQ(getSet(0xFC, 0, &v), ZUGEN_OK);    // only unknown bits: nothing either
    EXPECT_EQ(getSet(0, 1, nullptr), ZUGEN_OK);  // not even a pointer check
    const double before = Get(getSet, 0);
    EXPECT_EQ(getSet(0xFD, 0, &v), ZUGEN_OK);  // sets, ignoring the other bits
    EXPECT_EQ(v, 50.0);
    EXPECT_EQ(Get(getSet, 0), getSet == api.Freq ? before : 50.0);  // 50 kHz is out of range
  }
  EXPECT_TRUE(sim.Driver->Trace().empty());  // nothing opened
}

TEST_F(FlatInterface, OneInstanceFromInitToReleaseOpenedByActivity) {
  ASSERT_EQ(api.Init(), ZUGEN_OK);
  EXPECT_EQ(api.SetActivity(1), 1);
  EXPECT_EQ(Frames(), std::vector<Frame>{F(0xF0)});  // both channels off
  EXPECT_EQ(api.SetActivity(0), 0);
  EXPECT_FALSE(sim.Driver->IsOpen());
  sim.Driver->FailOpen(Zu::FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(api.SetActivity(1), 0);  // a refused open is no failure of the call
  EXPECT_THAT(api.LastError(), testing::HasSubstr("failed: the driver answered FT_DEVICE_NOT_FOUND (2)"));

  EXPECT_EQ(api.SetActivity(1), 1);
  EXPECT_EQ(api.SetFreq(0, 2000.0), 2000.0);
  EXPECT_EQ(api.Init(), ZUGEN_OK);  // keeps the first instance, still open
  EXPECT_EQ(Get(api.Freq, 0), 2000.0);
  EXPECT_EQ(api.Release(), ZUGEN_OK);  // deletes the instance, which closes the open device
  EXPECT_FALSE(sim.Driver->IsOpen());
  EXPECT_EQ(api.Release(), ZUGEN_OK);
  double v = 0;
  EXPECT_EQ(api.Freq(2, 0, &v), ZUGEN_NO_INSTANCE);
}

TEST_F(FlatInterface, ModeSendsTheSineFramesOfBothChannels) {
  Activate();
  EXPECT_EQ(api.SetChMode(0, Zu::ZGMdC_gen), Zu::ZGMdC_gen);
  EXPECT_EQ(Frames(), kSineA);
  sim.Driver->ClearTrace();
  EXPECT_EQ(api.SetChMode(5, Zu::ZGMdC_gen), Zu::ZGMdC_gen);
  std::vector<Frame> both = kSineA;
  both.insert(both.end() - 1, {F(0xF9), F(0x14, 0x00, 0xA3, 0xD7, 0x0A), F(0x12, 0x3F, 0xFF), F(0x15)});
  EXPECT_EQ(Frames(), both);
  // Channel B cannot take both external inputs: the mode in force comes back.
  EXPECT_EQ(api.SetChMode(1, Zu::ZGMdC_ExtModulationA12), Zu::ZGMdC_gen);
  EXPECT_EQ(Get(api.ChMode, 1), Zu::ZGMdC_gen);
  EXPECT_TRUE(sim.Driver->Violations().empty());
}

TEST_F(FlatInterface, ExternalReferenceIsStoredAfterTheUpdateItTriggers) {
  Activate();
  ExtRef(1, {1, 10.0, 20});
  // The switch updates with the old multiplier; the new one is stored after.
  EXPECT_EQ(Frames(), (std::vector<Frame>{F(0xF0), F(0xE5, 16)}));
  EXPECT_EQ(ExtRef(2, {0, 0.0, 0}), Ref(1, 10.0, 20));
  sim.Driver->ClearTrace();
  EXPECT_EQ(api.SetPhase(1, 1.0), 1.0);  // any accepted change resends it all
  EXPECT_EQ(Frames(), (std::vector<Frame>{F(0xF0), F(0xE5, 20)}));
  // Back to the internal reference: the defaults return, the arguments are ignored.
  sim.Driver->ClearTrace();
  EXPECT_EQ(ExtRef(3, {0, 99.0, 7}), Ref(0, 25.0, 16));
  EXPECT_EQ(Frames(), std::vector<Frame>{F(0xF0)});
}

// Without an instance every call reports 2, with a missing pointer 4, and
// neither touches the arguments or the device.
TEST_F(FlatInterface, MissingInstanceOrPointerReportsItsCodeAndTouchesNothing) {
  double d = -7.5;
  unsigned char b = 0xAA;
  int n = -3;
  // clang-format off
  const unsigned char withoutInstance[] = {
      api.Freq(3, 0, &d), api.Ampl(3, 1, &d), api.Phase(3, 0, &d), api.Activity(3, &b), api.ChMode(3, 1, &b),
      api.Freq(0, 0, nullptr), api.SetExtFrequency(3, &b, &d, &n)};
  EXPECT_THAT(withoutInstance, testing::Each(ZUGEN_NO_INSTANCE));
  EXPECT_EQ(std::tuple(d, b, n), std::tuple(-7.5, 0xAA, -3));
  // The shorthands hand back their argument, even one no setter would take.
  EXPECT_EQ(std::tuple(api.SetFreq(1, 5.0), api.SetAmpl(0, 250.0), api.SetPhase(1, 720.0), api.SetActivity(1),
                       api.SetChMode(0, 7)),
            std::tuple(5.0, 250.0, 720.0, 1, 7));

  ASSERT_EQ(api.Init(), ZUGEN_OK);
  b = 1;
  const unsigned char withoutPointer[] = {
      api.Freq(3, 0, nullptr), api.Ampl(1, 1, nullptr), api.Phase(2, 0, nullptr), api.Activity(1, nullptr),
      api.ChMode(3, 0, nullptr), api.SetExtFrequency(3, nullptr, &d, &n), api.SetExtFrequency(1, &b, nullptr, &n),
      api.SetExtFrequency(1, &b, &d, nullptr)};
  // clang-format on
  EXPECT_THAT(withoutPointer, testing::Each(ZUGEN_NULL_POINTER));
  EXPECT_TRUE(sim.Driver->Trace().empty());
  EXPECT_EQ(api.SetExtFrequency(2, &b, &d, &n), ZUGEN_OK);
  EXPECT_EQ(b, 0);  // still the internal reference, and not opened either
  EXPECT_EQ(api.Activity(2, &b), ZUGEN_OK);
  EXPECT_EQ(b, 0);
}

// A write the instrument refuses turns into code 3 with the link's message;
// the call still reads back what is in force.
TEST_F(FlatInterface, LinkFailureReportsThreeAndKeepsTheMessage) {
  Activate();
  const auto expectFailure = [&](const Call& call) {
    sim.Driver->FailWrite(1, {});
    EXPECT_EQ(call(), ZUGEN_FAILED);
    EXPECT_EQ(api.LastError(), kCmdWriteError);
  };
  double d = 2000.0;
  unsigned char mode = Zu::ZGMdC_gen, active = 0;
  const Call calls[] = {[&] { return api.Freq(3, 0, &d); }, [&] { return api.ChMode(3, 0, &mode); },
                        [&] { return api.Activity(3, &active); }};
  for (const auto& call : calls) expectFailure(call);
  EXPECT_EQ(std::tuple(d, mode, active), std::tuple(2000.0, Zu::ZGMdC_gen, 0));
  EXPECT_FALSE(sim.Driver->IsOpen());  // deactivating lets go of the handle all the same
  // The shorthand returns the value in force: stored before the update failed.
  ASSERT_EQ(api.SetActivity(1), 1);
  sim.Driver->FailWrite(1, {});
  EXPECT_EQ(api.SetAmpl(0, 50.0), 50.0);
  // The switch to the external reference fails before the new values are stored.
  sim.Driver->FailWrite(1, {});
  EXPECT_EQ(ExtRef(3, {1, 10.0, 20}, ZUGEN_FAILED), Ref(1, 25.0, 16));
  EXPECT_EQ(api.LastError(), kCmdWriteError);
}

// Hosts call from several threads: the calls take turns, so every update's
// frames stay together on the wire; the last error belongs to each thread.
TEST_F(FlatInterface, CallsFromFourThreadsNeverInterleaveTheirFrames) {
  Activate();
  ASSERT_EQ(api.SetChMode(0, Zu::ZGMdC_gen), Zu::ZGMdC_gen);
  sim.Driver->ClearTrace();
  constexpr int kThreads = 4, kCalls = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kCalls; ++i) {
        api.SetFreq(0, 1000.5 + 100 * t + i);
        double v = 0;
        api.Ampl(2, 0, &v);
      }
    });
  for (auto& th : threads) th.join();
  const std::vector<Frame> frames = Frames();
  ASSERT_EQ(frames.size(), kThreads * kCalls * kSineA.size());
  for (size_t i = 0; i < frames.size(); ++i) ASSERT_EQ(frames[i][0], kSineA[i % kSineA.size()][0]) << "frame " << i;
  EXPECT_TRUE(sim.Driver->Violations().empty());

  sim.Driver->FailWrite(1, {});
  EXPECT_EQ(api.Freq(1, 0, &std::array<double, 1>{3000.0}[0]), ZUGEN_FAILED);
  std::string seenElsewhere = "?";
  std::thread([&] { seenElsewhere = api.LastError(); }).join();
  EXPECT_EQ(seenElsewhere, "");
  EXPECT_EQ(api.LastError(), kCmdWriteError);
}

}  // namespace
