// The keying engine: binary and quadrature keying and the user table through
// the update cycle, the table's length and step time, and the setters' ranges.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <type_traits>

#include "SimFixture.h"

namespace ZuTest {
namespace {

using namespace Zu;

std::string Fr(const Frame& f) { return "F " + Sim::HexBytes(f); }
std::string Blk(uint32_t word) {
  Frame b;
  for (int k = 0; k < 8; ++k) b.push_back(uint8_t(word >> (24 - 8 * (k % 4))));
  return "B " + Sim::HexBytes(b);
}

class DDSModTest : public SimGenerator {
 protected:
  TZuGen4Channel* Ch(TZuGen4ChNames ch) { return ch == ZGCN_A ? static_cast<TZuGen4Channel*>(gen->ChA()) : gen->ChB(); }
  // The wire as text; a long block shows its size only.
  std::vector<std::string> Wire() {
    std::vector<std::string> out;
    for (const Sim::TTraceEntry& e : Driver().Trace())
      out.push_back(e.Kind != Sim::TTraceKind::Block ? Fr(e.Bytes)
                    : e.Bytes.size() > 8             ? "B[" + std::to_string(e.Bytes.size()) + "]"
                                                     : "B " + Sim::HexBytes(e.Bytes));
    return out;
  }
  // Reset, output on and the channel's default sine parameters.
  static std::vector<std::string> Prologue(uint8_t b) {
    return {Fr(F(0xF0)), Fr(F(b ? 0xF9 : 0xF1)), Fr(F(0x04 + b, 0x00, 0xA3, 0xD7, 0x0A)), Fr(F(0x02 + b, 0x3F, 0xFF)),
            Fr(F(0x05 + b))};
  }
  void Run(TZuGen4ChNames ch) {
    Ch(ch)->SetMode(ZGMdC_DDSMod);
    Activate();
    gen->UpdateMode();
  }
};

struct Keying {
  TZuGen4ChNames ch;
  TZuGen4DDSmodModes mode;
  TZuGen4AFPModes type;
  bool ext;               // UseExtTimes
  double t[4], value[4];  // 0: left at the default
  uint16_t steps[4];
  uint32_t words[4];
};

// clang-format off
const Keying kKeyings[] = {
    {ZGCN_A, ZGTMs_BxSK, ZGAFPms_freq, false, {20, 1300000}, {0, 2000}, {1, 65000}, {0xA3D70A, 0x147AE14}},
    {ZGCN_B, ZGTMs_BxSK, ZGAFPms_phase, true, {}, {}, {50, 50}, {0, 0x80000000}},
    // 359.99 degrees is the code 16384, a whole turn: the word of 0 degrees.
    {ZGCN_A, ZGTMs_QxSK, ZGAFPms_phase, false, {40, 0, 1299999, 60}, {359.99}, {2, 50, 64999, 3},
     {0, 0x80000000, 0x40000000, 0xC0000000}},
    {ZGCN_B, ZGTMs_QxSK, ZGAFPms_freq, true, {}, {400, 200000, 0, 12345.678}, {50, 50, 50, 50},
     {0x418937, 0x80000000, 0xA3D70A, 0x7E6B744}},
    {ZGCN_B, ZGTMs_QxSK, ZGAFPms_freq, false, {}, {}, {50, 50, 50, 50}, {0xA3D70A, 0xA3D70A, 0xA3D70A, 0xA3D70A}},
};
using Set = void (TZuGen4DDSMod::*)(double);
const Set kSetT[4] = {&TZuGen4DDSMod::SetT1, &TZuGen4DDSMod::SetT2, &TZuGen4DDSMod::SetT3, &TZuGen4DDSMod::SetT4};
const Set kSetF[4] = {&TZuGen4DDSMod::SetF1, &TZuGen4DDSMod::SetF2, &TZuGen4DDSMod::SetF3, &TZuGen4DDSMod::SetF4};
const Set kSetPh[4] = {&TZuGen4DDSMod::SetPh1, &TZuGen4DDSMod::SetPh2, &TZuGen4DDSMod::SetPh3, &TZuGen4DDSMod::SetPh4};
// Per state: the ramp's state bytes and the select bytes.
const uint8_t kRampTail[4][2] = {{1, 0x00}, {3, 0x08}, {5, 0x10}, {7, 0x18}};
const uint8_t kSelect[4][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
// clang-format on

TEST_F(DDSModTest, KeyingLoadsTimesAndStateWordsThenStarts) {
  for (const Keying& k : kKeyings) {
    SCOPED_TRACE(testing::Message() << "ch " << int(k.ch) << " mode " << int(k.mode) << " type " << int(k.type));
    Make(true);
    TZuGen4DDSMod* d = Ch(k.ch)->DDSMod();
    d->SetMode(k.mode);
    d->SetType(k.type);
    d->SetUseExtTimes(k.ext);
    for (int i = 0; i < 4; ++i) {
      const Set setT = kSetT[i], setValue = k.type == ZGAFPms_phase ? kSetPh[i] : kSetF[i];
      if (k.t[i]) (d->*setT)(k.t[i]);
      if (k.value[i]) (d->*setValue)(k.value[i]);
    }
    Run(k.ch);

    const uint8_t b = k.ch == ZGCN_B ? 0x10 : 0;
    const uint8_t c = k.type == ZGAFPms_phase ? 0xC6 : 0x86;
    const uint8_t s = k.ch == ZGCN_B ? 0x42 : 0x40;
    const int states = k.mode == ZGTMs_QxSK ? 4 : 2;
    std::vector<std::string> expected = Prologue(b);
    expected.push_back(Fr(F(0x00 + b, c, 0x80, 0x02, s)));
    for (int i = 0; i < states; ++i)
      expected.push_back(Fr(F(0x07 + b + i, k.steps[i] & 0xFF, k.steps[i] >> 8, kRampTail[i][0], kRampTail[i][1])));
    expected.push_back(Fr(F(0x80)));
    for (int i = 0; i < states; ++i)
      expected.insert(expected.end(),
                      {Fr(F(0x40 + b, kSelect[i][0], kSelect[i][1])), Fr(F(b ? 0x31 : 0x30, 0, 8)), Blk(k.words[i])});
    if (k.ext)
      expected.push_back(Fr(F(0xE6)));
    else
      expected.insert(expected.end(), {Fr(F(0x00 + b, c | (states == 4 ? 0x30 : 0x20), 0x80, 0x02, s)), Fr(F(0x80))});
    EXPECT_EQ(Wire(), expected);
    EXPECT_TRUE(Driver().Violations().empty());
  }
}

struct UserCase {
  TZuGen4ChNames ch;
  double fm;
  bool bidi;  // ContBidiRamp
  TMathFuncsTypes shape;
  int cntMin, n, tau;
  uint8_t b5;
};

const UserCase kUserCases[] = {
    {ZGCN_A, 1000, false, ZMFT_sin, 32, 1000, 100, 0x80},
    {ZGCN_A, 1000, true, ZMFT_sin, 32, 1000, 50, 0x60},
    {ZGCN_B, 200, false, ZMFT_sin, 32, 1000, 500, 0x80},
    {ZGCN_A, 3000, false, ZMFT_sin, 32, 813, 41, 0x80},
    {ZGCN_A, 1000000, false, ZMFT_sin, 32, 100, 1, 0x80},
    {ZGCN_B, 1500000, false, ZMFT_sin, 32, 67, 1, 0x80},
    {ZGCN_A, 1000, false, ZMFT_sin, 1024, 1024, 98, 0x80},
    // A triangle or rectangle has no half-period table: one pass stays a whole period.
    {ZGCN_A, 1000, true, ZMFT_triangle, 32, 1000, 100, 0x80},
    {ZGCN_B, 3000, true, ZMFT_rect, 32, 813, 41, 0x80},
    // Even the shortest allowed table needs under half a tick per reading: one tick, not none.
    {ZGCN_A, 1000000, false, ZMFT_sin, 1024, 1024, 1, 0x80},
};

TEST_F(DDSModTest, UserModeFitsTheTableToTheModulationPeriod) {
  for (const UserCase& u : kUserCases) {
    SCOPED_TRACE(testing::Message() << "ch " << int(u.ch) << " Fm " << u.fm << " bidi " << u.bidi << " shape "
                                    << int(u.shape) << " min " << u.cntMin);
    Make(true);
    TZuGen4DDSMod* d = Ch(u.ch)->DDSMod();
    d->SetMode(ZGTMs_User);
    d->SetFm(u.fm);
    d->SetContBidiRamp(u.bidi);
    d->SetMathFuncType(u.shape);
    d->SetReadingsCntMin(u.cntMin);
    Run(u.ch);

    EXPECT_EQ(d->N(), u.n);
    EXPECT_EQ(d->Tau(), u.tau);
    const uint8_t b = u.ch == ZGCN_B ? 0x10 : 0;
    const int size = 4 * u.n;
    std::vector<std::string> expected = Prologue(b);
    expected.insert(expected.end(),
                    {Fr(F(0x00 + b, 0x86, 0x80, 0x02, b ? 0x42 : 0x40)), Fr(F(0x40 + b)),
                     Fr(F(0x07 + b, u.tau & 0xFF, u.tau >> 8, (u.n - 1) & 0xFF, (u.n - 1) >> 8, u.b5)), Fr(F(0x80)),
                     Fr(F(b ? 0x31 : 0x30, size >> 8, size & 0xFF)), "B[" + std::to_string(size) + "]", Fr(F(0x80))});
    EXPECT_EQ(Wire(), expected);
    EXPECT_TRUE(Driver().Violations().empty());
  }
}

TEST_F(DDSModTest, UserTableSwingsAroundTheChannelValueLastReadingFirst) {
  const struct {
    TZuGen4AFPModes type;
    uint32_t start, top, bottom;  // readings 0, 250 and 750 of 1000
  } cases[] = {
      {ZGAFPms_freq, 0xA3D70A, 0xA3D70A + 10737, 0xA3D70A - 10737},  // dF 1000 Hz
      {ZGAFPms_phase, 0x40000000, 0x60000000, 0x20000000},           // phase 90, dPh 45
  };
  for (const auto& c : cases) {
    Make(true);
    gen->ChA()->DDSMod()->SetMode(ZGTMs_User);
    gen->ChA()->DDSMod()->SetType(c.type);
    gen->ChA()->DDSMod()->Set_dPh(45);
    gen->ChA()->SetPhase(90);
    Run(ZGCN_A);
    ASSERT_EQ(Driver().Trace().size(), 12u);
    const Frame& block = Driver().Trace()[10].Bytes;  // after the data frame
    ASSERT_EQ(block.size(), 4000u);
    auto at = [&](int pos) {
      return uint32_t(block[4 * pos]) << 24 | uint32_t(block[4 * pos + 1]) << 16 | uint32_t(block[4 * pos + 2]) << 8 |
             block[4 * pos + 3];
    };
    EXPECT_EQ(at(999), c.start);
    EXPECT_EQ(at(749), c.top);
    EXPECT_EQ(at(249), c.bottom);
  }
}

// clang-format off
template <typename T>
T As(double v) {
  if constexpr (std::is_enum_v<T>) return static_cast<T>(static_cast<int>(v));
  else return static_cast<T>(v);
}
// A row's name, setter and getter; every value travels as a double.
#define PROP(name, setter, T) #name, [](TZuGen4DDSMod* d, double v) { d->setter(As<T>(v)); }, \
                              [](const TZuGen4DDSMod* d) { return static_cast<double>(d->name()); }
// clang-format on

TEST_F(DDSModTest, SettersAcceptTheirRangeAndReportRejectedFrequencyPhaseAndTime) {
  const struct {
    const char* name;
    void (*set)(TZuGen4DDSMod*, double);
    double (*get)(const TZuGen4DDSMod*);
    double value;
    bool accepted;
    int event;  // parameter reported, 0: none
  } cases[] = {
      {PROP(T1, SetT1, double), 19.99, false, ZGPrm_DDSModTime},
      {PROP(T1, SetT1, double), 1300000.5, false, ZGPrm_DDSModTime},
      {PROP(T1, SetT1, double), 20, true, 0},
      {PROP(F1, SetF1, double), 399.99, false, ZGPrm_Frequency},
      {PROP(Ph3, SetPh3, double), 360, false, ZGPrm_Phase},
      {PROP(Ph2, SetPh2, double), 359.99, true, 0},
      {PROP(dF, Set_dF, double), 2000000.1, false, 0},
      {PROP(dPh, Set_dPh, double), 180.5, false, 0},
      {PROP(Fm, SetFm, double), 199.9, false, 0},
      {PROP(Fm, SetFm, double), 1500000.1, false, 0},
      {PROP(Fm, SetFm, double), 200, true, 0},
      {PROP(Fm, SetFm, double), 1500000, true, 0},
      {PROP(ReadingsCntMin, SetReadingsCntMin, int), 15, false, 0},
      {PROP(ReadingsCntMin, SetReadingsCntMin, int), 1025, false, 0},
      {PROP(ReadingsCntMin, SetReadingsCntMin, int), 16, true, 0},
      {PROP(ReadingsCntMin, SetReadingsCntMin, int), 1024, true, 0},
      {PROP(Type, SetType, TZuGen4AFPModes), ZGAFPms_ampl, false, 0},
      {PROP(Type, SetType, TZuGen4AFPModes), 3, false, 0},
      {PROP(Mode, SetMode, TZuGen4DDSmodModes), 3, false, 0},
      {PROP(MathFuncType, SetMathFuncType, TMathFuncsTypes), 3, false, 0},
      // The table refuses CC outside [0, 1]: nothing changed, nothing to resend.
      {PROP(CC, SetCC, double), 1.5, false, 0},
      {PROP(CC, SetCC, double), 0, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << " " << c.value);
    Make(true);
    Activate();
    int updates = 0;
    gen->AfterUpdate = [&](TObject*) { ++updates; };
    std::tuple<TZuGen4Channel*, int, double> report{nullptr, 0, 0.0};
    gen->OnParamValueError = [&](TZuGen4Channel* ch, TZuGen4Parameters p, void* v) {
      report = {ch, p, *static_cast<double*>(v)};
    };
    TZuGen4DDSMod* d = gen->ChB()->DDSMod();
    const double before = c.get(d);
    c.set(d, c.value);
    EXPECT_EQ(c.get(d), c.accepted ? c.value : before);
    EXPECT_EQ(updates, c.accepted ? 1 : 0);
    EXPECT_EQ(report, std::make_tuple(c.event ? gen->ChB() : nullptr, c.event, c.event ? c.value : 0.0));
  }
}

TEST_F(DDSModTest, PublicOutputsSendNothingTheyCannotDescribe) {
  gen->ChB()->DDSMod()->SetF4(2000);
  Activate();
  TZuGen4DDSMod* d = gen->ChB()->DDSMod();
  d->OutputReading(4);
  d->OutputReading(static_cast<char>(-1));
  d->OutputUserReading();  // no table before the first user start
  d->OutputReading(3);
  EXPECT_EQ(Wire(), (std::vector<std::string>{Fr(F(0x50, 1, 1)), Fr(F(0x31, 0, 8)), Blk(0x147AE14)}));
}


// A settings file skips the setters: out-of-range values must still give
// register values the instrument can take.
TEST_F(DDSModTest, ValuesFromAFileBeyondTheSettersRangesAreHeldAtTheBounds) {
  const std::string path = (std::filesystem::temp_directory_path() / "ddsmod_test.zug").string();
  gen->SaveToFile(path);
  std::ifstream in(path, std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(in), {}};
  in.close();
  ASSERT_EQ(bytes.size(), 475u);          // defaults hold no byte 0x0A
  const size_t chA = 21, key = chA + 89;  // channel A's record, its keying record
  auto put = [&](size_t at, auto v) { std::memcpy(&bytes[at], &v, sizeof v); };
  bytes[chA] = ZGMdC_DDSMod;
  put(key + 88, 1e9);  // T1: beyond 16 bits of steps
  put(key + 96, 0.0);  // T2: no step at all
  bytes[key + 121] = ZGAFPms_ampl;
  for (bool user : {false, true}) {
    if (user) {
      bytes[key + 120] = ZGTMs_User;
      put(key + 40, 1.0);          // Fm: Tau would overflow its 16 bits
      put(key + 124, int32_t{0});  // ReadingsCntMin: a table of no readings
    }
    std::ofstream(path, std::ios::binary) << bytes;
    Make(true);
    gen->LoadFromFile(path);
    Activate();
    gen->UpdateMode();
    const std::vector<std::string> wire = Wire();
    ASSERT_GE(wire.size(), 8u);
    EXPECT_EQ(wire[5], Fr(F(0x00, 0x86, 0x80, 0x02, 0x40)));  // the amplitude type keys the frequency
    // As Fm 200: 1000 readings of 500 ticks; the times as 65000 steps and 1.
    EXPECT_EQ(wire[6] + wire[7], user ? Fr(F(0x40)) + Fr(F(0x07, 0xF4, 0x01, 0xE7, 0x03, 0x80))
                                      : Fr(F(0x07, 0xE8, 0xFD, 1, 0)) + Fr(F(0x08, 0x01, 0x00, 3, 8)));
  }
  std::filesystem::remove(path);
}
}  // namespace
}  // namespace ZuTest
