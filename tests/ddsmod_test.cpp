// The keying engine: binary and quadrature keying and the user table through
// the update cycle, the table's length and step time, and the setters' ranges.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "SimFixture.h"

namespace ZuTest {
namespace {

using namespace Zu;
using Lines = std::vector<std::string>;

Lines& operator<<(Lines& l, const std::string& s) { return l.push_back(s), l; }
std::string Fr(const Frame& f) { return "F " + Sim::HexBytes(f); }
uint32_t Word(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
// A keying state's word, sent twice.
std::string Blk(uint32_t w) {
  const std::string word = Sim::HexBytes({uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w)});
  return "B " + word + " " + word;
}

class DDSModTest : public SimGenerator {
 protected:
  TZuGen4Channel* Ch(TZuGen4ChNames ch) { return ch == ZGCN_A ? static_cast<TZuGen4Channel*>(gen->ChA()) : gen->ChB(); }
  // The wire as text; a long block shows its size only.
  Lines Wire() {
    Lines out;
    for (const Sim::TTraceEntry& e : Driver().Trace())
      out << (e.Kind != Sim::TTraceKind::Block ? Fr(e.Bytes)
              : e.Bytes.size() > 8             ? "B[" + std::to_string(e.Bytes.size()) + "]"
                                               : "B " + Sim::HexBytes(e.Bytes));
    return out;
  }
  // The keying control frame; after reset, output on and the default sine (b: 0x10 for channel B).
  static std::string Control(uint8_t b, uint8_t c) { return Fr(F(b, c, 0x80, 0x02, b ? 0x42 : 0x40)); }
  static Lines Prologue(uint8_t b, uint8_t c) {
    return {
        Fr(F(0xF0)),     Fr(F(b ? 0xF9 : 0xF1)), Fr(F(0x04 + b, 0x00, 0xA3, 0xD7, 0x0A)), Fr(F(0x02 + b, 0x3F, 0xFF)),
        Fr(F(0x05 + b)), Control(b, c)};
  }
  void Run(TZuGen4ChNames ch) {
    Ch(ch)->SetMode(ZGMdC_DDSMod);
    Activate();
    gen->UpdateMode();
  }
};

// State k loads ramp k with its steps of 20 units and the bytes 2k + 1 and 8k,
// then, selected by the bits of k, its word.
TEST_F(DDSModTest, KeyingLoadsTimesAndStateWordsThenStarts) {
  // clang-format off
  const struct { TZuGen4ChNames ch; TZuGen4DDSmodModes mode; TZuGen4AFPModes type; bool ext;
                 void (*set)(TZuGen4DDSMod*); uint16_t steps[4]; uint32_t words[4]; } keyings[] = {
      {ZGCN_A, ZGTMs_BxSK, ZGAFPms_freq, false, [](auto* d) { d->SetT1(20); d->SetT2(1300000); d->SetF2(2000); },
       {1, 65000}, {0xA3D70A, 0x147AE14}},
      {ZGCN_B, ZGTMs_BxSK, ZGAFPms_phase, true, [](auto*) {}, {50, 50}, {0, 0x80000000}},
      // 359.99 degrees is the code 16384, a whole turn: the word of 0 degrees.
      {ZGCN_A, ZGTMs_QxSK, ZGAFPms_phase, false,
       [](auto* d) { d->SetT1(40); d->SetT3(1299999); d->SetT4(60); d->SetPh1(359.99); },
       {2, 50, 64999, 3}, {0, 0x80000000, 0x40000000, 0xC0000000}},
      {ZGCN_B, ZGTMs_QxSK, ZGAFPms_freq, false, [](auto*) {}, {50, 50, 50, 50},
       {0xA3D70A, 0xA3D70A, 0xA3D70A, 0xA3D70A}},
      {ZGCN_B, ZGTMs_QxSK, ZGAFPms_freq, true, [](auto* d) { d->SetF1(400); d->SetF2(200000); d->SetF4(12345.678); },
       {50, 50, 50, 50}, {0x418937, 0x80000000, 0xA3D70A, 0x7E6B744}}};
  // clang-format on
  for (const auto& k : keyings) {
    SCOPED_TRACE(&k - keyings);
    Make(true);
    TZuGen4DDSMod* d = Ch(k.ch)->DDSMod();
    d->SetMode(k.mode);
    d->SetType(k.type);
    d->SetUseExtTimes(k.ext);
    k.set(d);
    Run(k.ch);
    const uint8_t b = k.ch == ZGCN_B ? 0x10 : 0, c = k.type == ZGAFPms_phase ? 0xC6 : 0x86;
    const int states = k.mode == ZGTMs_QxSK ? 4 : 2;
    Lines e = Prologue(b, c);
    for (int i = 0; i < states; ++i) e << Fr(F(0x07 + b + i, k.steps[i] & 0xFF, k.steps[i] >> 8, 2 * i + 1, 8 * i));
    e << Fr(F(0x80));
    for (int i = 0; i < states; ++i)
      e << Fr(F(0x40 + b, i >> 1, i & 1)) << Fr(F(0x30 + b / 16, 0, 8)) << Blk(k.words[i]);
    if (!k.ext) e << Control(b, c | (states == 4 ? 0x30 : 0x20));
    e << Fr(F(k.ext ? 0xE6 : 0x80));
    EXPECT_EQ(Wire(), e);
    EXPECT_TRUE(Driver().Violations().empty());
  }
  // The last row's channel: no state past the fourth, and no user table yet.
  Driver().ClearTrace();
  TZuGen4DDSMod* d = gen->ChB()->DDSMod();
  d->OutputReading(4);
  d->OutputReading(static_cast<char>(-1));
  d->OutputUserReading();
  d->OutputReading(3);
  EXPECT_EQ(Wire(), (Lines{Fr(F(0x50, 1, 1)), Fr(F(0x31, 0, 8)), Blk(0x7E6B744)}));
}

// N and Tau give the least error, the longest table among equal errors (1 MHz),
// and at least one tick per reading. A triangle or rectangle has no half-period
// table: one pass stays a whole period.
TEST_F(DDSModTest, UserModeFitsTheTableToTheModulationPeriod) {
  const std::tuple<TZuGen4ChNames, double, bool, TMathFuncsTypes, int, int, int, uint8_t> cases[] = {
      {ZGCN_A, 1000, true, ZMFT_sin, 32, 1000, 50, 0x60},       {ZGCN_B, 200, false, ZMFT_sin, 32, 1000, 500, 0x80},
      {ZGCN_A, 3000, false, ZMFT_sin, 32, 813, 41, 0x80},       {ZGCN_A, 1000000, false, ZMFT_sin, 32, 100, 1, 0x80},
      {ZGCN_A, 1000, false, ZMFT_sin, 1024, 1024, 98, 0x80},    {ZGCN_A, 1000000, false, ZMFT_sin, 1024, 1024, 1, 0x80},
      {ZGCN_A, 1000, true, ZMFT_triangle, 32, 1000, 100, 0x80}, {ZGCN_B, 3000, true, ZMFT_rect, 32, 813, 41, 0x80}};
  for (const auto& [ch, fm, bidi, shape, cntMin, n, tau, b5] : cases) {
    SCOPED_TRACE(testing::Message() << "Fm " << fm << " n " << n);
    Make(true);
    TZuGen4DDSMod* d = Ch(ch)->DDSMod();
    d->SetMode(ZGTMs_User);
    d->SetFm(fm);
    d->SetContBidiRamp(bidi);
    d->SetMathFuncType(shape);
    d->SetReadingsCntMin(cntMin);
    Run(ch);
    EXPECT_EQ(std::pair(d->N(), d->Tau()), std::pair(n, tau));
    const uint8_t b = ch == ZGCN_B ? 0x10 : 0;
    Lines e = Prologue(b, 0x86);
    e << Fr(F(0x40 + b)) << Fr(F(0x07 + b, tau & 0xFF, tau >> 8, (n - 1) & 0xFF, (n - 1) >> 8, b5)) << Fr(F(0x80))
      << Fr(F(0x30 + b / 16, (4 * n) >> 8, (4 * n) & 0xFF)) << "B[" + std::to_string(4 * n) + "]" << Fr(F(0x80));
    EXPECT_EQ(Wire(), e);
  }
}

// Readings 0, 250 and 750 of 1000, sent last first: dF 1000 Hz, or phase 90 and dPh 45.
TEST_F(DDSModTest, UserTableSwingsAroundTheChannelValueLastReadingFirst) {
  for (const auto& [type, start, swing] :
       {std::tuple{ZGAFPms_freq, 0xA3D70Au, 10737u}, std::tuple{ZGAFPms_phase, 0x40000000u, 0x20000000u}}) {
    Make(true);
    TZuGen4DDSMod* d = gen->ChA()->DDSMod();
    d->SetMode(ZGTMs_User);
    d->SetType(type);
    d->Set_dPh(45);
    gen->ChA()->SetPhase(90);
    Run(ZGCN_A);
    const Frame& block = Driver().Trace().at(10).Bytes;  // after the data frame
    ASSERT_EQ(block.size(), 4000u);
    EXPECT_EQ(std::tuple(Word(&block[4 * 999]), Word(&block[4 * 749]), Word(&block[4 * 249])),
              std::tuple(start, start + swing, start - swing));
  }
}

// A row's setter and getter; every value travels as a double.
// clang-format off
#define PROP_AS(name, setter, arg) [](TZuGen4DDSMod* d, double v) { d->setter(arg); }, \
                                   [](const TZuGen4DDSMod* d) { return static_cast<double>(d->name()); }
#define PROP(name) PROP_AS(name, Set##name, v)
#define PROP_ENUM(name, T) PROP_AS(name, Set##name, T(int(v)))
// clang-format on

// Each property's refused and accepted values; a refused time, frequency or
// phase is reported.
TEST_F(DDSModTest, SettersAcceptTheirRangeAndReportRejectedFrequencyPhaseAndTime) {
  // clang-format off
  const struct { void (*set)(TZuGen4DDSMod*, double); double (*get)(const TZuGen4DDSMod*);
                 std::vector<double> refused, accepted; int event; int refusedUpdates = 0; } cases[] = {
      {PROP(T1), {19.99, 1300000.5}, {20}, ZGPrm_DDSModTime}, {PROP(F1), {399.99}, {}, ZGPrm_Frequency},
      {PROP(Ph3), {360}, {}, ZGPrm_Phase}, {PROP(Ph2), {}, {359.99}, 0}, {PROP_AS(dF, Set_dF, v), {2000000.1}, {}, 0},
      {PROP_AS(dPh, Set_dPh, v), {180.5}, {}, 0}, {PROP(Fm), {199.9, 1500000.1}, {200, 1500000}, 0},
      {PROP(ReadingsCntMin), {15, 1025}, {16, 1024}, 0}, {PROP_ENUM(Type, TZuGen4AFPModes), {ZGAFPms_ampl, 3}, {}, 0},
      {PROP_ENUM(Mode, TZuGen4DDSmodModes), {3}, {}, 0}, {PROP_ENUM(MathFuncType, TMathFuncsTypes), {3}, {}, 0},
      // The table ignores CC outside [0, 1], yet the update is still requested.
      {PROP(CC), {1.5}, {0}, 0, 1}};
  // clang-format on
  for (const auto& c : cases)
    for (const bool accepted : {false, true})
      for (const double value : accepted ? c.accepted : c.refused) {
        SCOPED_TRACE(testing::Message() << "row " << &c - cases << ": " << value);
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
        c.set(d, value);
        EXPECT_EQ(c.get(d), accepted ? value : before);
        EXPECT_EQ(updates, accepted ? 1 : c.refusedUpdates);
        const int event = accepted ? 0 : c.event;
        EXPECT_EQ(report, std::make_tuple(event ? gen->ChB() : nullptr, event, event ? value : 0.0));
      }
}

// A settings file skips the setters: out-of-range values must still give
// register values the instrument can take.
TEST_F(DDSModTest, ValuesFromAFileBeyondTheSettersRangesAreHeldAtTheBounds) {
  const std::string path = (std::filesystem::temp_directory_path() / "ddsmod_test.zug").string();
  gen->SaveToFile(path);
  std::string bytes{std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
  ASSERT_EQ(bytes.size(), WholeSettingsFile());  // defaults hold no byte 0x0A
  const size_t key = 21 + 89;                    // channel A's record, its keying record
  auto put = [&](size_t at, auto v) { std::memcpy(&bytes[at], &v, sizeof v); };
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
    Run(ZGCN_A);
    const Lines wire = Wire();
    EXPECT_EQ(wire.at(5), Control(0, 0x86));  // the amplitude type keys the frequency
    // As Fm 200: 1000 readings of 500 ticks; the times as 65000 steps and 1.
    EXPECT_EQ(wire.at(6) + wire.at(7), user ? Fr(F(0x40)) + Fr(F(0x07, 0xF4, 0x01, 0xE7, 0x03, 0x80))
                                            : Fr(F(0x07, 0xE8, 0xFD, 1, 0)) + Fr(F(0x08, 0x01, 0x00, 3, 8)));
  }
  std::filesystem::remove(path);
}
}  // namespace
}  // namespace ZuTest
