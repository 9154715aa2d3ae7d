// Internal modulation: table sizes, timer reload values, the table download and
// start commands of the single, duplex and double variants, the setters' ranges.
#include <gmock/gmock.h>

#include <limits>
#include <utility>

#include "SimFixture.h"

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
// Output on, then 2000 kHz, 50 %, 90°.
Wire_t SineA() {
  return Fr(F(0xF1)) + Fr(F(0x04, 0x01, 0x47, 0xAE, 0x14)) + Fr(F(0x02, 0x1F, 0xFF)) + Fr(F(0x05, 0x10));
}
Wire_t SineB() {
  return Fr(F(0xF9)) + Fr(F(0x14, 0x01, 0x47, 0xAE, 0x14)) + Fr(F(0x12, 0x1F, 0xFF)) + Fr(F(0x15, 0x10));
}

uint32_t ReadingAt(const TMathFunction* t, int i) {
  const int w = t->BytesPerReading() == ZBPR_4bytes ? 4 : 2;
  uint32_t v = 0;
  for (int b = 0; b < w; ++b) v = (v << 8) | t->Readings()[i * w + b];
  return v;
}

class IntModTest : public SimGenerator {
 protected:
  TZuGen4Channel* Prepare(TZuGen4Channel* ch, TZuGen4AFPModes type, int fm) {
    ch->Set_sinFrequency(2000);
    ch->Set_sinAmplitude(50);
    ch->SetPhase(90);
    ch->IntModulation()->SetType(type);
    ch->IntModulation()->SetFm(fm);
    ch->SetMode(ZGMdC_IntModulation);
    return ch;
  }
  Wire_t Wire() {
    Wire_t w;
    for (const auto& e : Driver().Trace())
      if (e.Kind == Sim::TTraceKind::Frame || e.Kind == Sim::TTraceKind::Block)
        w.emplace_back(e.Kind == Sim::TTraceKind::Block, e.Bytes);
    return w;
  }
};

TEST_F(IntModTest, WorkedValuesOfTableSizeAndTimer) {
  const struct {
    int fm;
    TZuGen4AFPModes type;
    bool single;
    int rdsCnt, bytes;
    uint32_t la;
  } cases[] = {{1000, ZGAFPms_freq, true, 172, 688, 0xFDFD}, {1000, ZGAFPms_ampl, true, 307, 614, 0xFEDF},
               {1000, ZGAFPms_freq, false, 86, 344, 0xFBFB}, {10, ZGAFPms_ampl, false, 2048, 4096, 0xEF20},
               {1, ZGAFPms_freq, true, 2048, 8192, 0x5740},  {20000, ZGAFPms_freq, false, 4, 16, 0xFBAE},
               {20000, ZGAFPms_phase, true, 15, 30, 0xFED9}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "Fm " << c.fm << " type " << int{c.type} << " single " << c.single);
    const bool freq = c.type == ZGAFPms_freq;
    EXPECT_EQ(IM::GetLa(c.fm, c.single, freq, c.rdsCnt), c.la);
    Make(true);
    TZuGen4Channel* a = Prepare(gen->ChA(), c.type, c.fm);
    if (!c.single) Prepare(gen->ChB(), c.type, c.fm);
    Activate();
    gen->UpdateMode();
    EXPECT_EQ(a->IntModulation()->RdsCnt(), c.rdsCnt);
    const Wire_t w = Wire();
    const Frame table = F(0x20, static_cast<uint8_t>(c.bytes >> 8), static_cast<uint8_t>(c.bytes));
    const uint8_t typeCode[] = {3, 1, 2};
    const Frame start =
        F(c.single ? 0x87 : 0x97, static_cast<uint8_t>(c.la >> 8), static_cast<uint8_t>(c.la), 8, typeCode[c.type]);
    ASSERT_GE(w.size(), 8u);
    EXPECT_EQ(Wire_t(w.begin() + 5, w.begin() + 8), Fr(table) + Blk(a) + Fr(start));
    EXPECT_TRUE(Driver().Violations().empty());
  }
}

// A: amplitude at 10 Hz; B: frequency at 1000 Hz.
TEST_F(IntModTest, PairingsSendTablesThenTheirStart) {
  enum Run { kA, kB, kDuplex, kDouble };
  for (const Run run : {kA, kB, kDuplex, kDouble}) {
    SCOPED_TRACE(testing::Message() << "run " << run);
    Make(true);
    TZuGen4Channel* a = gen->ChA();
    TZuGen4Channel* b = gen->ChB();
    if (run != kB) Prepare(a, ZGAFPms_ampl, 10);
    if (run != kA) Prepare(b, ZGAFPms_freq, 1000);
    gen->Options()->SetEnableDuplexIntMod(run == kDuplex);
    Activate();
    gen->UpdateMode();
    const Wire_t reset = Fr(F(0xF0));
    const Wire_t expected[] = {
        reset + SineA() + Fr(F(0x20, 0x20, 0x00)) + Blk(a) + Fr(F(0x87, 0xF7, 0x90, 8, 1)),
        reset + SineB() + Fr(F(0x21, 0x00, 0x00, 0x02, 0xB0)) + Blk(b) + Fr(F(0x89, 0xFD, 0xFD, 8, 3)),
        reset + SineA() + Fr(F(0x20, 0x20, 0x00)) + Blk(a) + SineB() + Fr(F(0xB0, 0xF7, 0x90, 8, 1)),
        reset + SineA() + Fr(F(0x20, 0x10, 0x00)) + Blk(a) + Fr(F(0x97, 0xEF, 0x20, 8, 1)) + SineB() +
            Fr(F(0x21, 0x10, 0x00, 0x11, 0x58)) + Blk(b) + Fr(F(0x99, 0xFB, 0xFB, 8, 3)) + Fr(F(0x9A)),
    };
    EXPECT_EQ(Wire(), expected[run]);
    EXPECT_TRUE(Driver().Violations().empty());
  }
}

TEST_F(IntModTest, DividerOverflowAfterTheTableKeepsTheLastReloadValue) {
  Prepare(gen->ChA(), ZGAFPms_freq, 1000);
  Prepare(gen->ChB(), ZGAFPms_freq, 1000);
  Activate();
  gen->UpdateMode();
  TZuGen4IntModulation* m = gen->ChA()->IntModulation();
  ASSERT_EQ(m->La(), 0xFBFBu);
  Driver().ClearTrace();
  // 1024 readings at 1 Hz: the divider would be 86400.
  EXPECT_THAT([m] { m->SetFm(1); },
              testing::ThrowsMessage<Exception>(testing::StrEq("Переполнение делителя! (> FF80 или > FF00 )")));
  EXPECT_EQ(Wire(), Fr(F(0xF0)) + SineA() + Fr(F(0x20, 0x10, 0x00)) + Blk(gen->ChA()));
  EXPECT_EQ(m->La(), 0xFBFBu);
  EXPECT_EQ(m->RdsCnt(), 1024);
}

// A zero period, an empty table and a product past 32 bits (which would wrap
// into a divider that looks valid) all overflow instead of dividing by zero.
TEST_F(IntModTest, TimerLimitsAndDegenerateArguments) {
  constexpr int64_t kThrows = -1;
  const struct {
    uint32_t fm;
    bool single, freq;
    uint32_t cnt;
    int64_t la;
  } laCases[] = {{675, true, true, 1024, 0xFF80},     {700, true, true, 1024, kThrows}, {675, false, true, 512, 0xFF00},
                 {700, false, true, 512, kThrows},    {1350, true, false, 1, 0},        {1349, true, false, 1, kThrows},
                 {1000, true, true, 0, 0xFDFD},       {0, true, true, 0, kThrows},      {0, true, true, 100, kThrows},
                 {4194305, true, true, 4096, kThrows}};
  for (const auto& c : laCases) {
    SCOPED_TRACE(testing::Message() << "GetLa(" << c.fm << ", " << c.single << ", " << c.freq << ", " << c.cnt << ")");
    if (c.la == kThrows)
      EXPECT_THROW(IM::GetLa(c.fm, c.single, c.freq, c.cnt), Exception);
    else
      EXPECT_EQ(IM::GetLa(c.fm, c.single, c.freq, c.cnt), c.la);
  }
  EXPECT_EQ(IM::GetMaxReadingsCnt(0, true, true), std::numeric_limits<uint32_t>::max());
  EXPECT_EQ(IM::GetMaxReadingsCnt(4194304, false, true), 0u);  // k × Fm = 2^32
  EXPECT_EQ(IM::GetMaxReadingsCnt(1, false, false), 153600u);
  // No table computed yet: nothing goes out, not even an empty block.
  Activate();
  gen->ChA()->IntModulation()->OutputReadings(true);
  EXPECT_TRUE(Wire().empty());
}

// Readings go most significant byte first; the sine starts at the channel's
// code. Amplitude codes too small for the register count as 0, so a deviation
// of 0 gives a flat table at the carrier's code.
TEST_F(IntModTest, TablesSwingAroundTheChannelCode) {
  const struct {
    TZuGen4AFPModes type;
    int fm, n;
    double ampl;
    int dA;
    uint32_t ca, cb;
  } cases[] = {
      // clang-format off
      {ZGAFPms_freq, 1000, 172, 50, 50, 0x0147AE14, 1073742}, {ZGAFPms_ampl, 10, 4096, 50, 50, 8191, 4095},
      {ZGAFPms_ampl, 10, 4096, 50, 0, 8191, 0},   {ZGAFPms_ampl, 10, 4096, 50, 100, 8191, 8191},
      {ZGAFPms_ampl, 10, 4096, 0.001, 50, 0, 0},  {ZGAFPms_ampl, 10, 4096, 0.01, 50, 1, 0},
      {ZGAFPms_phase, 10, 4096, 50, 0, 4096, 4096},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << int{c.type} << " ampl " << c.ampl << " dA " << c.dA);
    Make(true);
    TZuGen4Channel* a = Prepare(gen->ChA(), c.type, c.fm);
    a->Set_sinAmplitude(c.ampl);
    a->IntModulation()->SetdA(c.dA);
    a->IntModulation()->SetdF(100000);
    Activate();
    gen->UpdateMode();
    const TMathFunction* t = a->IntModulation()->MathFunction();
    ASSERT_EQ(t->ReadingsCount(), c.n);
    EXPECT_EQ(t->CA(), c.ca);
    EXPECT_EQ(t->CB(), c.cb);
    EXPECT_EQ(ReadingAt(t, 0), c.ca);
    EXPECT_EQ(ReadingAt(t, c.n / 4), c.ca + c.cb);
    EXPECT_EQ(ReadingAt(t, c.n / 2), c.ca);
    EXPECT_EQ(ReadingAt(t, 3 * c.n / 4), c.ca - c.cb);
  }
}

TEST_F(IntModTest, SettersKeepTheirRanges) {
  enum Prop { kFm, kdA, kdF, kdPh, kCC, kShape };
  const struct {
    Prop prop;
    double value, after;
    int cycles;
  } cases[] = {
      // clang-format off
      {kFm, 0, 1000, 0},    {kFm, 20001, 1000, 0},   {kFm, 1, 1, 1},              {kFm, 20000, 20000, 1},
      {kFm, -5, 1000, 0},   {kdA, 101, 50, 0},       {kdA, -1, 50, 0},            {kdA, 0, 0, 1},
      {kdA, 100, 100, 1},   {kdF, 2000001, 100, 0},  {kdF, 2000000, 2000000, 1},  {kdPh, 181, 90, 0},
      {kdPh, -1, 90, 0},    {kdPh, 180, 180, 1},     {kShape, 2, 2, 1},           {kShape, 0, 0, 0},
      // The table object refuses 2.0, yet the update is asked for.
      {kCC, 2.0, 0.5, 1},   {kCC, 0.5, 0.5, 0},      {kCC, 0.25, 0.25, 1},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "property " << c.prop << " value " << c.value);
    Make(true);
    Activate();
    int cycles = 0;
    gen->AfterUpdate = [&cycles](TObject*) { ++cycles; };
    IM* m = gen->ChA()->IntModulation();
    const int v = static_cast<int>(c.value);
    switch (c.prop) {
      case kFm: m->SetFm(v); break;
      case kdA: m->SetdA(v); break;
      case kdF: m->SetdF(v); break;
      case kdPh: m->SetdPh(v); break;
      case kCC: m->SetCC(c.value); break;
      case kShape: m->SetMathFuncType(static_cast<TMathFuncsTypes>(v)); break;
    }
    const double now[] = {double(m->Fm()),  double(m->dA()), double(m->dF()),
                          double(m->dPh()), m->GetCC(),      double(m->GetMathFuncType())};
    EXPECT_EQ(now[c.prop], c.after);
    EXPECT_EQ(cycles, c.cycles);
  }
}

}  // namespace
}  // namespace ZuTest
