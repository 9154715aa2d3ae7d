// Internal modulation: table sizes, timer reload values, the table download and
// start commands of the single, duplex and double variants, the setters' ranges.
#include <gmock/gmock.h>

#include <tuple>
#include <utility>

#include "SimFixture.h"
#include "mathfun/Zumathfun.h"

namespace ZuTest {
namespace {

using namespace Zu;
// One write on the wire: true for a data block, false for a command frame.
using Wire_t = std::vector<std::pair<bool, Frame>>;
using IM = TZuGen4IntModulation;

Wire_t operator+(Wire_t a, const Wire_t& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Wire_t Fr(const Frame& f) { return {{false, f}}; }
// The block a channel's last table went out as.
Wire_t Blk(const TZuGen4Channel* ch) {
  const TMathFunction* t = ch->IntModulation()->MathFunction();
  return {{true, Frame(t->Readings(), t->Readings() + t->ReadingsSize())}};
}
// Output on, then 2000 kHz, 50 %, 90° (b: 0x10 for channel B).
Wire_t Sine(uint8_t b) {
  return Fr(F(b ? 0xF9 : 0xF1)) + Fr(F(0x04 + b, 0x01, 0x47, 0xAE, 0x14)) + Fr(F(0x02 + b, 0x1F, 0xFF)) +
         Fr(F(0x05 + b, 0x10));
}

class IntModTest : public SimGenerator {
 protected:
  TZuGen4Channel* Prepare(TZuGen4Channel* ch, TZuGen4AFPModes type, int fm, double ampl = 50, int dA = 50) {
    ch->Set_sinFrequency(2000);
    ch->Set_sinAmplitude(ampl);
    ch->SetPhase(90);
    ch->IntModulation()->SetType(type);
    ch->IntModulation()->SetFm(fm);
    ch->IntModulation()->SetdA(dA);
    ch->IntModulation()->SetdF(100000);
    ch->SetMode(ZGMdC_IntModulation);
    return ch;
  }
  Wire_t Wire() {
    Wire_t w;
    for (const auto& e : Driver().Trace()) w.emplace_back(e.Kind == Sim::TTraceKind::Block, e.Bytes);
    return w;
  }
};

// Channel A alone. Readings go most significant byte first from the channel's
// code; amplitude codes too small for the register count as 0.
TEST_F(IntModTest, SingleChannelTableAndStart) {
  const std::tuple<int, TZuGen4AFPModes, double, int, int, uint32_t, uint32_t, uint32_t> cases[] = {
      {10, ZGAFPms_ampl, 50, 50, 4096, 0xF790, 8191, 4095},        {10, ZGAFPms_ampl, 0.01, 50, 4096, 0xF790, 1, 0},
      {10, ZGAFPms_phase, 50, 50, 4096, 0xF790, 4096, 4096},       {10, ZGAFPms_ampl, 0.001, 50, 4096, 0xF790, 0, 0},
      {1, ZGAFPms_freq, 50, 50, 2048, 0x5740, 0x147AE14, 1073742}, {10, ZGAFPms_ampl, 50, 0, 4096, 0xF790, 8191, 0}};
  const uint8_t code[] = {3, 1, 2};  // frequency, amplitude, phase
  for (const auto& [fm, type, ampl, dA, n, la, ca, cb] : cases) {
    SCOPED_TRACE(testing::Message() << "Fm " << fm << " type " << type << " ampl " << ampl << " dA " << dA);
    Make(true);
    TZuGen4Channel* a = Prepare(gen->ChA(), type, fm, ampl, dA);
    Activate();
    gen->UpdateMode();
    const Wire_t w = Wire();
    const int wd = type == ZGAFPms_freq ? 4 : 2, bytes = wd * n;
    ASSERT_EQ(w.size(), 8u);  // after the reset and the sine's four frames
    ASSERT_EQ(Wire_t(w.begin() + 5, w.end()),
              Fr(F(0x20, bytes >> 8, bytes)) + Blk(a) + Fr(F(0x87, la >> 8, la, 8, code[type])));
    ASSERT_EQ(w[6].second.size(), size_t(bytes));  // the block holds the whole table
    auto at = [&t = w[6].second, wd](int i) {
      uint32_t v = 0;
      for (int b = 0; b < wd; ++b) v = v << 8 | t[i * wd + b];
      return v;
    };
    EXPECT_EQ(std::tuple(at(0), at(n / 4), at(n / 2), at(3 * n / 4)), std::tuple(ca, ca + cb, ca, ca - cb));
  }
}

// A: amplitude at 10 Hz; B: frequency at 1000 Hz.
TEST_F(IntModTest, PairingsSendTablesThenTheirStart) {
  enum Run { kB, kDuplex, kDouble };
  for (const Run run : {kB, kDuplex, kDouble}) {
    SCOPED_TRACE(run);
    Make(true);
    TZuGen4Channel* a = run == kB ? gen->ChA() : Prepare(gen->ChA(), ZGAFPms_ampl, 10);
    TZuGen4Channel* b = Prepare(gen->ChB(), ZGAFPms_freq, 1000);
    gen->Options()->SetEnableDuplexIntMod(run == kDuplex);
    Activate();
    gen->UpdateMode();
    const Wire_t expected[] = {
        Sine(0x10) + Fr(F(0x21, 0x00, 0x00, 0x02, 0xB0)) + Blk(b) + Fr(F(0x89, 0xFD, 0xFD, 8, 3)),
        Sine(0) + Fr(F(0x20, 0x20, 0x00)) + Blk(a) + Sine(0x10) + Fr(F(0xB0, 0xF7, 0x90, 8, 1)),
        Sine(0) + Fr(F(0x20, 0x10, 0x00)) + Blk(a) + Fr(F(0x97, 0xEF, 0x20, 8, 1)) + Sine(0x10) +
            Fr(F(0x21, 0x10, 0x00, 0x11, 0x58)) + Blk(b) + Fr(F(0x99, 0xFB, 0xFB, 8, 3)) + Fr(F(0x9A)),
    };
    EXPECT_EQ(Wire(), Fr(F(0xF0)) + expected[run]);
    EXPECT_TRUE(Driver().Violations().empty());
  }
}

// A zero period, an empty table and a product past 32 bits (which would wrap
// into a divider that looks valid) all overflow instead of dividing by zero.
TEST_F(IntModTest, TimerLimitsAndDividerOverflow) {
  constexpr int64_t kThrows = -1;
  const std::tuple<uint32_t, bool, bool, uint32_t, int64_t> laCases[] = {
      {675, true, true, 1024, 0xFF80},  {700, true, true, 1024, kThrows}, {675, false, true, 512, 0xFF00},
      {700, false, true, 512, kThrows}, {1350, true, false, 1, 0},        {1349, true, false, 1, kThrows},
      {1000, true, true, 0, 0xFDFD},    {0, true, true, 100, kThrows},    {4194305, true, true, 4096, kThrows}};
  for (const auto& [fm, single, freq, cnt, la] : laCases) {
    SCOPED_TRACE(testing::Message() << "GetLa(" << fm << ", " << single << ", " << freq << ", " << cnt << ")");
    if (la == kThrows)
      EXPECT_THROW(IM::GetLa(fm, single, freq, cnt), Exception);
    else
      EXPECT_EQ(IM::GetLa(fm, single, freq, cnt), la);
  }
  EXPECT_EQ(IM::GetMaxReadingsCnt(0, true, true), UINT32_MAX);
  EXPECT_EQ(IM::GetMaxReadingsCnt(4194304, false, true), 0u);  // k × Fm = 2^32
  EXPECT_EQ(IM::GetMaxReadingsCnt(1, false, false), 153600u);
  EXPECT_EQ(IM::GetMaxReadingsCnt(1000, true, false), 307u);
  // No table computed yet: nothing goes out, not even an empty block.
  Activate();
  IM* m = gen->ChA()->IntModulation();
  m->OutputReadings(true);
  EXPECT_TRUE(Wire().empty());
  Prepare(gen->ChA(), ZGAFPms_freq, 1000);
  Prepare(gen->ChB(), ZGAFPms_freq, 1000);
  Driver().ClearTrace();
  // Double, 1024 readings at 1 Hz: a divider of 86400. The value is stored
  // and the exception raised, but planning finds it before the first frame:
  // nothing goes out, the last table and La stay.
  const int cnt = m->RdsCnt();
  EXPECT_THAT([m] { m->SetFm(1); },
              testing::ThrowsMessage<Exception>(testing::StrEq("Переполнение делителя! (> FF80 или > FF00 )")));
  EXPECT_EQ(m->Fm(), 1);
  EXPECT_TRUE(Wire().empty());
  EXPECT_EQ(m->La(), 0xFBFBu);
  EXPECT_EQ(m->RdsCnt(), cnt);
}

// A row's setter and getter; every value travels as a double.
#define PROP(name, T) [](IM* m, double v) { m->Set##name(T(v)); }, [](const IM* m) { return double(m->name()); }
TEST_F(IntModTest, SettersKeepTheirRanges) {
  // clang-format off
  const struct { void (*set)(IM*, double); double (*get)(const IM*); double value, after; int cycles; } cases[] = {
      {PROP(Fm, int), 0, 1000, 0}, {PROP(Fm, int), 20001, 1000, 0}, {PROP(Fm, int), 1, 1, 1},
      {PROP(Fm, int), 20000, 20000, 1}, {PROP(dA, int), 101, 50, 0}, {PROP(dA, int), -1, 50, 0},
      {PROP(dA, int), 0, 0, 1}, {PROP(dA, int), 100, 100, 1}, {PROP(dF, int), 2000001, 100, 0},
      {PROP(dF, int), 2000000, 2000000, 1}, {PROP(dPh, int), 181, 90, 0}, {PROP(dPh, int), -1, 90, 0},
      {PROP(dPh, int), 180, 180, 1}, {PROP(MathFuncType, TMathFuncsTypes), 2, 2, 1},
      {PROP(MathFuncType, TMathFuncsTypes), 0, 0, 0},
      // The table object refuses 2.0, yet the update is asked for.
      {PROP(CC, double), 2.0, 0.5, 1}, {PROP(CC, double), 0.5, 0.5, 0}, {PROP(CC, double), 0.25, 0.25, 1}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    Make(true);
    Activate();
    int cycles = 0;
    gen->AfterUpdate = [&cycles](TObject*) { ++cycles; };
    IM* m = gen->ChA()->IntModulation();
    c.set(m, c.value);
    EXPECT_EQ(c.get(m), c.after);
    EXPECT_EQ(cycles, c.cycles);
  }
}

}  // namespace
}  // namespace ZuTest
