// Drives the flat interface the way a host does: the library is opened with
// dlopen and every call goes through a pointer looked up by name. Only the
// process-wide platform is set from C++, so the instance that ZuGenInit makes
// talks to the simulated instrument on virtual time.
#include <dlfcn.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "SimFixture.h"
#include "flat/Zugenwrapper.h"

namespace {

using ZuTest::F;
using ZuTest::Frame;

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

template <typename Fn>
void Bind(void* lib, Fn& fn, const char* name) {
  fn = reinterpret_cast<Fn>(dlsym(lib, name));
  if (!fn) ADD_FAILURE() << name << " is not exported";
}

// Channel A in sine generation at its defaults except the frequency frame.
std::vector<Frame> SineA(const Frame& freq) { return {F(0xF0), F(0xF1), freq, F(0x02, 0x3F, 0xFF), F(0x05), F(0x7F)}; }
const Frame kFreqA1000 = F(0x04, 0x00, 0xA3, 0xD7, 0x0A);  // 1000 kHz at 400 MHz

class FlatInterface : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    lib = dlopen(ZUGEN_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
#define ZU_BIND(member, name) Bind(lib, api.member, #name);
    ZU_FLAT_API(ZU_BIND)
#undef ZU_BIND
  }
  static void TearDownTestSuite() {
    if (lib) dlclose(lib);
    lib = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(lib && api.LastError);
    Zu::SetDefaultPlatform(sim.Platform());
  }
  void TearDown() override {
    if (api.Release) api.Release();
    Zu::SetDefaultPlatform({});
  }

  // Creates the instance and opens the device; forgets what the opening sent.
  void Activate() {
    ASSERT_EQ(api.Init(), ZUGEN_OK);
    ASSERT_EQ(api.SetActivity(1), 1);
    sim.Driver->ClearTrace();
  }
  std::vector<Frame> Frames() const { return sim.Driver->Frames(); }

  static inline void* lib = nullptr;
  static inline TFlatApi api{};
  Zu::Sim::TSimPlatform sim;
};

// Each row goes through the Set shorthand and is read back on the channel
// byte the host used; the other channel keeps its default.
TEST_F(FlatInterface, SetsAndReadsBackChannelValues) {
  using GetSet = decltype(&ZuGen_Freq);
  using Set = decltype(&ZuGen_SetFreq);
  struct Row {
    const char* what;
    GetSet getSet;
    Set set;
    unsigned char channel;
    double value, inForce, otherDefault;
  };
  const Row rows[] = {
      {"freq A", api.Freq, api.SetFreq, 0, 2000.0, 2000.0, 1000.0},
      {"freq B via 5", api.Freq, api.SetFreq, 5, 400.0, 400.0, 2000.0},
      {"freq below range", api.Freq, api.SetFreq, 0, 399.999, 2000.0, 400.0},
      {"ampl A", api.Ampl, api.SetAmpl, 0, 0.5, 0.5, 100.0},
      {"ampl above 100", api.Ampl, api.SetAmpl, 200, 100.001, 100.0, 0.5},
      {"phase B", api.Phase, api.SetPhase, 1, 359.5, 359.5, 0.0},
      {"phase 360", api.Phase, api.SetPhase, 1, 360.0, 359.5, 0.0},
  };
  ASSERT_EQ(api.Init(), ZUGEN_OK);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(r.set(r.channel, r.value), r.inForce);
    double v = -1, other = -1;
    EXPECT_EQ(r.getSet(2, r.channel, &v), ZUGEN_OK);
    EXPECT_EQ(r.getSet(2, r.channel == 0 ? 1 : 0, &other), ZUGEN_OK);
    EXPECT_EQ(v, r.inForce);
    EXPECT_EQ(other, r.otherDefault);
  }
}

TEST_F(FlatInterface, FlagsSelectSetAndReadIndependently) {
  ASSERT_EQ(api.Init(), ZUGEN_OK);
  for (auto getSet : {api.Freq, api.Ampl, api.Phase}) {
    double v = 50.0;
    EXPECT_EQ(getSet(0, 0, &v), ZUGEN_OK);       // does nothing
    EXPECT_EQ(getSet(0xFC, 0, &v), ZUGEN_OK);    // only unknown bits: nothing either
    EXPECT_EQ(getSet(0, 1, nullptr), ZUGEN_OK);  // not even a pointer check
    EXPECT_EQ(v, 50.0);
    double before = -1;
    EXPECT_EQ(getSet(2, 0, &before), ZUGEN_OK);  // only reads
    EXPECT_NE(before, 50.0);
    v = 50.0;
    EXPECT_EQ(getSet(0xFD, 0, &v), ZUGEN_OK);  // sets, ignoring the other bits
    double after = -1;
    EXPECT_EQ(getSet(2, 0, &after), ZUGEN_OK);
    EXPECT_EQ(after, getSet == api.Freq ? before : 50.0);  // 50 kHz is out of range
  }
  EXPECT_TRUE(sim.Driver->Trace().empty());  // nothing opened
}

TEST_F(FlatInterface, ActivityOpensAndSendsTheWholeSetup) {
  ASSERT_EQ(api.Init(), ZUGEN_OK);
  EXPECT_EQ(api.SetActivity(1), 1);
  EXPECT_TRUE(sim.Driver->IsOpen());
  EXPECT_EQ(Frames(), std::vector<Frame>{F(0xF0)});  // both channels off
  unsigned char active = 0;
  EXPECT_EQ(api.Activity(2, &active), ZUGEN_OK);
  EXPECT_EQ(active, 1);

  EXPECT_EQ(api.SetActivity(0), 0);
  EXPECT_FALSE(sim.Driver->IsOpen());
  sim.Driver->FailOpen(Zu::FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(api.SetActivity(1), 0);  // a refused open is no failure of the call
  EXPECT_EQ(api.Activity(2, &active), ZUGEN_OK);
  EXPECT_EQ(active, 0);
}

TEST_F(FlatInterface, ModeSendsTheSineFramesOfBothChannels) {
  Activate();
  EXPECT_EQ(api.SetChMode(0, Zu::ZGMdC_gen), Zu::ZGMdC_gen);
  EXPECT_EQ(Frames(), SineA(kFreqA1000));

  sim.Driver->ClearTrace();
  EXPECT_EQ(api.SetFreq(0, 2000.0), 2000.0);
  EXPECT_EQ(Frames(), SineA(F(0x04, 0x01, 0x47, 0xAE, 0x14)));

  sim.Driver->ClearTrace();
  EXPECT_EQ(api.SetChMode(5, Zu::ZGMdC_gen), Zu::ZGMdC_gen);
  std::vector<Frame> both = SineA(F(0x04, 0x01, 0x47, 0xAE, 0x14));
  both.insert(both.end() - 1, {F(0xF9), F(0x14, 0x00, 0xA3, 0xD7, 0x0A), F(0x12, 0x3F, 0xFF), F(0x15)});
  EXPECT_EQ(Frames(), both);

  // Channel B cannot take both external inputs: the mode in force comes back.
  EXPECT_EQ(api.SetChMode(1, Zu::ZGMdC_ExtModulationA12), Zu::ZGMdC_gen);
  unsigned char mode = 0xFF;
  EXPECT_EQ(api.ChMode(2, 1, &mode), ZUGEN_OK);
  EXPECT_EQ(mode, Zu::ZGMdC_gen);
  EXPECT_TRUE(sim.Driver->Violations().empty());
}

TEST_F(FlatInterface, ExternalReferenceIsStoredAfterTheUpdateItTriggers) {
  using Ref = std::tuple<unsigned char, double, int>;
  const auto setRef = [&](unsigned char flags, Ref in) {
    auto& [useExt, ref, scale] = in;
    EXPECT_EQ(api.SetExtFrequency(flags, &useExt, &ref, &scale), ZUGEN_OK);
    return in;
  };
  Activate();
  setRef(1, {1, 10.0, 20});
  // The switch updates with the old multiplier; the new one is stored after.
  EXPECT_EQ(Frames(), (std::vector<Frame>{F(0xF0), F(0xE5, 16)}));
  EXPECT_EQ(setRef(2, {0, 0.0, 0}), Ref(1, 10.0, 20));
  sim.Driver->ClearTrace();
  EXPECT_EQ(api.SetPhase(1, 1.0), 1.0);  // any accepted change resends it all
  EXPECT_EQ(Frames(), (std::vector<Frame>{F(0xF0), F(0xE5, 20)}));

  // Back to the internal reference: the defaults return, the arguments are ignored.
  sim.Driver->ClearTrace();
  EXPECT_EQ(setRef(3, {0, 99.0, 7}), Ref(0, 25.0, 16));
  EXPECT_EQ(Frames(), std::vector<Frame>{F(0xF0)});
}

TEST_F(FlatInterface, OneInstanceFromInitToRelease) {
  Activate();
  EXPECT_EQ(api.SetFreq(0, 2000.0), 2000.0);
  EXPECT_EQ(api.Init(), ZUGEN_OK);  // keeps the first instance, still open
  double v = 0;
  EXPECT_EQ(api.Freq(2, 0, &v), ZUGEN_OK);
  EXPECT_EQ(v, 2000.0);
  sim.Driver->ClearTrace();
  EXPECT_EQ(api.Release(), ZUGEN_OK);  // resets and closes the open device
  EXPECT_EQ(Frames(), std::vector<Frame>{F(0xF0)});
  EXPECT_FALSE(sim.Driver->IsOpen());
  EXPECT_EQ(api.Release(), ZUGEN_OK);
  EXPECT_EQ(api.Freq(2, 0, &v), ZUGEN_NO_INSTANCE);
}

TEST_F(FlatInterface, WithoutInstanceEveryCallReportsTwoAndTouchesNothing) {
  double d = -7.5, ref = -7.5;
  unsigned char b = 0xAA;
  int scale = -3;
  const std::function<unsigned char()> calls[] = {
      [&] { return api.Freq(3, 0, &d); },      [&] { return api.Ampl(3, 1, &d); },
      [&] { return api.Phase(3, 0, &d); },     [&] { return api.Activity(3, &b); },
      [&] { return api.ChMode(3, 1, &b); },    [&] { return api.SetExtFrequency(3, &b, &ref, &scale); },
      [&] { return api.Freq(0, 0, nullptr); },
  };
  for (const auto& call : calls) EXPECT_EQ(call(), ZUGEN_NO_INSTANCE);
  EXPECT_EQ(d, -7.5);
  EXPECT_EQ(ref, -7.5);
  EXPECT_EQ(b, 0xAA);
  EXPECT_EQ(scale, -3);
  // The shorthands hand back their argument, even one no setter would take.
  EXPECT_EQ(api.SetFreq(1, 5.0), 5.0);
  EXPECT_EQ(api.SetAmpl(0, 250.0), 250.0);
  EXPECT_EQ(api.SetPhase(1, 720.0), 720.0);
  EXPECT_EQ(api.SetActivity(1), 1);
  EXPECT_EQ(api.SetChMode(0, 7), 7);
  EXPECT_TRUE(sim.Driver->Trace().empty());
}

TEST_F(FlatInterface, NullPointerReportsFourAndTouchesNothing) {
  ASSERT_EQ(api.Init(), ZUGEN_OK);
  double d = 3000.0;
  unsigned char b = 1;
  int scale = 10;
  const std::function<unsigned char()> calls[] = {
      [&] { return api.Freq(3, 0, nullptr); },
      [&] { return api.Ampl(1, 1, nullptr); },
      [&] { return api.Phase(2, 0, nullptr); },
      [&] { return api.Activity(1, nullptr); },
      [&] { return api.ChMode(3, 0, nullptr); },
      [&] { return api.SetExtFrequency(3, nullptr, &d, &scale); },
      [&] { return api.SetExtFrequency(1, &b, nullptr, &scale); },
      [&] { return api.SetExtFrequency(1, &b, &d, nullptr); },
  };
  for (const auto& call : calls) EXPECT_EQ(call(), ZUGEN_NULL_POINTER);
  EXPECT_TRUE(sim.Driver->Trace().empty());
  unsigned char active = 1, useExt = 1;
  EXPECT_EQ(api.Activity(2, &active), ZUGEN_OK);
  EXPECT_EQ(api.SetExtFrequency(2, &useExt, &d, &scale), ZUGEN_OK);
  EXPECT_EQ(active, 0);
  EXPECT_EQ(useExt, 0);
}

// A write the instrument refuses turns into code 3 with the link's message;
// the call still reads back what is in force.
TEST_F(FlatInterface, LinkFailureReportsThreeAndKeepsTheMessage) {
  Activate();
  const auto expectFailure = [&](const std::function<unsigned char()>& call, Zu::Sim::TFault fault = {}) {
    sim.Driver->FailWrite(1, fault);
    EXPECT_EQ(call(), ZUGEN_FAILED);
    EXPECT_EQ(api.LastError(), kCmdWriteError);
  };
  double d = 2000.0;
  expectFailure([&] { return api.Freq(3, 0, &d); });
  EXPECT_EQ(d, 2000.0);
  d = 45.0;
  expectFailure([&] { return api.Phase(3, 1, &d); }, {Zu::FT_OK, 3});  // a short write
  EXPECT_EQ(d, 45.0);
  unsigned char mode = Zu::ZGMdC_gen;
  expectFailure([&] { return api.ChMode(3, 0, &mode); });
  EXPECT_EQ(mode, Zu::ZGMdC_gen);

  // The switch to the external reference fails before the new values are stored.
  unsigned char useExt = 1;
  double ref = 10.0;
  int scale = 20;
  expectFailure([&] { return api.SetExtFrequency(3, &useExt, &ref, &scale); });
  EXPECT_EQ(useExt, 1);
  EXPECT_EQ(ref, 25.0);
  EXPECT_EQ(scale, 16);

  // Deactivating lets go of the handle all the same.
  unsigned char active = 0;
  expectFailure([&] { return api.Activity(3, &active); });
  EXPECT_EQ(active, 0);
  EXPECT_FALSE(sim.Driver->IsOpen());

  // The shorthand returns the value in force: stored before the update failed.
  ASSERT_EQ(api.SetActivity(1), 1);
  sim.Driver->FailWrite(1, {});
  EXPECT_EQ(api.SetAmpl(0, 50.0), 50.0);
  EXPECT_EQ(api.LastError(), kCmdWriteError);
}

}  // namespace
