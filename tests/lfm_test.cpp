// The sweep engine: the sweep registers and run command through the update
// cycle, the slope fraction, and the setters' ranges.
#include <climits>
#include <cmath>
#include <limits>
#include <numbers>

#include "SimFixture.h"

namespace ZuTest {
namespace {

using namespace Zu;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Sweep {
  double freq;                          // channel frequency
  int top, tinc0, tinc1, tdec0, tdec1;  // 0: left as constructed
  uint8_t up[5], down[5];               // Ramp1 and Ramp0 arguments
  uint32_t freqCode, topCode, rise, fall;
};

const Sweep kSweeps[] = {
    {1000,
     2000,
     1000,
     11,
     10000000,
     21,
     {0x9C, 0, 0, 0x41, 0x03},
     {0x5E, 0, 0, 0, 1},
     0xA3D70A,
     0x147AE14,
     505,
     5000010},
    {1000, 1001, 10, 11, 10, 10, {0xB4, 0, 0, 0x07, 0x82}, {0xB4, 0, 0, 0x07, 0x82}, 0xA3D70A, 0xA400FC, 10, 10},
    {1000, 1000, 500, 500, 500, 500, {1, 0, 0, 0, 0}, {1, 0, 0, 0, 0}, 0xA3D70A, 0xA3D70A, 500, 500},
    // Initial times: no step, no duration.
    {1000, 2000, 0, 0, 0, 0, {1, 0, 0, 0, 0}, {1, 0, 0, 0, 0}, 0xA3D70A, 0x147AE14, 0, 0},
    // A top below the frequency (0 from construction, or the truncated top of a
    // fractional frequency) holds the sweep at the frequency.
    {1000, 0, 1000, 0, 1000, 0, {1, 0, 0, 0, 0}, {1, 0, 0, 0, 0}, 0xA3D70A, 0xA3D70A, 500, 500},
    {7500.9, 0, 1000, 0, 1000, 0, {1, 0, 0, 0, 0}, {1, 0, 0, 0, 0}, 0x4CCF28C, 0x4CCF28C, 500, 500},
    // The fraction 1/255 keeps its rate at 255 instead of wrapping to 0.
    {1000, 1001, 27412, 0, 27412, 0, {0xFF, 0, 0, 0, 1}, {0xFF, 0, 0, 0, 1}, 0xA3D70A, 0xA400FC, 13706, 13706},
};

void Configure(TZuGen4Channel* ch, const Sweep& s) {
  ch->Set_sinFrequency(s.freq);
  TZuGen4LFM* lfm = ch->LFM();
  if (s.top) lfm->SetFreqTop(s.top);
  if (s.tinc0) lfm->SetTinc0(s.tinc0);
  if (s.tinc1) lfm->SetTinc1(s.tinc1);
  if (s.tdec0) lfm->SetTdec0(s.tdec0);
  if (s.tdec1) lfm->SetTdec1(s.tdec1);
  ch->SetMode(ZGMdC_LFM);
}

Frame Be32(uint8_t code, uint32_t v) {
  return F(code, uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v));
}
Frame Be24(uint8_t code, uint32_t v) { return F(code, uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)); }

// One channel's part of the cycle: output on, the sine parameters, the sweep
// registers, the update, and with start the durations and the run.
std::vector<Frame> Expected(TZuGen4ChNames ch, const Sweep& s, bool start) {
  const uint8_t b = ch == ZGCN_B ? 0x10 : 0x00;
  std::vector<Frame> out = {F(ch == ZGCN_B ? 0xF9 : 0xF1),
                            Be32(0x04 + b, s.freqCode),
                            F(0x02 + b, 0x3F, 0xFF),
                            F(0x05 + b),
                            F(0x00 + b, 0x06, 0xA0, 0x02, ch == ZGCN_B ? 0x42 : 0x40),
                            F(0x08 + b, s.up[0], s.up[1], s.up[2], s.up[3], s.up[4]),
                            F(0x07 + b, s.down[0], s.down[1], s.down[2], s.down[3], s.down[4]),
                            Be32(0x06 + b, s.topCode),
                            F(0x80)};
  if (start) out.insert(out.end(), {Be24(0x85, s.rise), Be24(0x86, s.fall), F(0x83)});
  return out;
}

using LfmTest = SimGenerator;

TEST_F(LfmTest, SweepAloneOnEitherChannelSendsItsRegistersAndRuns) {
  for (const Sweep& s : kSweeps) {
    for (TZuGen4ChNames ch : {ZGCN_A, ZGCN_B}) {
      SCOPED_TRACE(testing::Message() << "freq " << s.freq << " top " << s.top << " tinc0 " << s.tinc0 << " ch "
                                      << int(ch));
      Make(true);
      Configure(ch == ZGCN_A ? static_cast<TZuGen4Channel*>(gen->ChA()) : gen->ChB(), s);
      Activate();
      gen->UpdateMode();
      std::vector<Frame> expected = {F(0xF0)};
      for (const Frame& f : Expected(ch, s, true)) expected.push_back(f);
      EXPECT_EQ(Frames(), expected);
      EXPECT_TRUE(Driver().Violations().empty());
    }
  }
}

TEST_F(LfmTest, PairedSweepsLoadAWithoutStartThenStartWithB) {
  Configure(gen->ChA(), kSweeps[0]);
  Configure(gen->ChB(), kSweeps[1]);
  Activate();
  gen->UpdateMode();
  std::vector<Frame> expected = {F(0xF0)};
  for (const Frame& f : Expected(ZGCN_A, kSweeps[0], false)) expected.push_back(f);
  for (const Frame& f : Expected(ZGCN_B, kSweeps[1], true)) expected.push_back(f);
  EXPECT_EQ(Frames(), expected);
}

TEST(LfmFraction, KeepsTheLastConvergentWithinTheBounds) {
  const struct {
    double x, y, maxA, maxB, a, b;
  } cases[] = {
      {3, 1, 0, 255, 3, 1},
      {1, 3, 0, 0, 1, 3},
      {1000 * TZuGen4LFM::MUL_COEF, 1000 * TZuGen4LFM::DIV_COEF, 0, 255, 16643, 155},
      {TZuGen4LFM::MUL_COEF, 10 * TZuGen4LFM::DIV_COEF, 0, 255, 1922, 179},
      {1000 * TZuGen4LFM::MUL_COEF, 1e7 * TZuGen4LFM::DIV_COEF, 0, 255, 1, 93},
      {1000 * TZuGen4LFM::MUL_COEF, 1000 * TZuGen4LFM::DIV_COEF, 1000, 0, 859, 8},
      // No bounds: the expansion ends at the exact fraction, 2^30 / 10^7 reduced.
      {1000 * TZuGen4LFM::MUL_COEF, 1000 * TZuGen4LFM::DIV_COEF, 0, 0, 8388608, 78125},
      {std::numbers::pi, 1, 0, 113, 355, 113},
      {std::numbers::pi, 1, 0, 0, 884279719003555.0, 281474976710656.0},  // the double itself, over 2^48
      {1e10, 1, 0, 0, 1e10, 1},  // beyond 32 bits the integer part does not wrap
      // The first remainder rounds below zero: the expansion ends there.
      {0.38402009559819045, 0.000683309778644467, 0, 0, 562, 1},
      {2, 1, -1, 0, 0, 0},
      {0, 5, 0, 255, 0, 0},
      {5, 0, 0, 255, 0, 0},
      {-3, 1, 0, 255, 0, 0},
      {3, -1, 0, 255, 0, 0},
      {kNaN, 1, 0, 255, 0, 0},
      {kInf, 1, 0, 0, 0, 0},
      {1, kInf, 0, 0, 0, 0},
      {3, 1, kNaN, 0, 0, 0},
      {1e300, 1e-10, 0, 0, 0, 0},  // quotient overflows
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << " / " << c.y << " bounds " << c.maxA << ", " << c.maxB);
    double a = -1, b = -1;
    TZuGen4LFM::XYtoAB(c.x, c.y, c.maxA, c.maxB, a, b);
    EXPECT_EQ(a, c.a);
    EXPECT_EQ(b, c.b);
  }
}

TEST_F(LfmTest, SettersStoreValuesInRangeAndReportRejectedTimes) {
  const struct {
    const char* name;
    void (TZuGen4LFM::*set)(int);
    int (TZuGen4LFM::*get)() const;
    bool reports;  // rejections go through OnParamValueError
  } props[] = {{"FreqTop", &TZuGen4LFM::SetFreqTop, &TZuGen4LFM::FreqTop, false},
               {"Tinc0", &TZuGen4LFM::SetTinc0, &TZuGen4LFM::Tinc0, true},
               {"Tinc1", &TZuGen4LFM::SetTinc1, &TZuGen4LFM::Tinc1, true},
               {"Tdec0", &TZuGen4LFM::SetTdec0, &TZuGen4LFM::Tdec0, true},
               {"Tdec1", &TZuGen4LFM::SetTdec1, &TZuGen4LFM::Tdec1, true}};
  // Applied in order on one generator; the channel's frequency is 1000.
  const struct {
    int value;
    bool timeOk, topOk;
  } steps[] = {{9, false, false},        {10, true, false},     {10, false, false},  // unchanged
               {999, true, false},       {1000, true, true},    {1000, false, false},
               {200000, true, true},     {200001, true, false}, {10000000, true, false},
               {10000001, false, false}, {-10, false, false},   {INT_MIN, false, false}};
  for (const auto& p : props) {
    SCOPED_TRACE(p.name);
    Make(true);
    TZuGen4Channel* ch = gen->ChB();
    TZuGen4LFM* lfm = ch->LFM();
    Activate();
    int updates = 0;
    gen->AfterUpdate = [&](TObject*) { ++updates; };
    std::vector<double> reported;
    gen->OnParamValueError = [&](TZuGen4Channel* c, TZuGen4Parameters prm, void* v) {
      EXPECT_EQ(c, ch);
      EXPECT_EQ(prm, ZGPrm_LFMTime);
      reported.push_back(*static_cast<double*>(v));
    };
    int stored = (lfm->*p.get)();
    EXPECT_EQ(stored, 0);
    for (const auto& s : steps) {
      SCOPED_TRACE(s.value);
      updates = 0;
      reported.clear();
      const bool ok = p.reports ? s.timeOk : s.topOk;
      const bool unchanged = s.value == stored;
      (lfm->*p.set)(s.value);
      if (ok) stored = s.value;
      EXPECT_EQ((lfm->*p.get)(), stored);
      EXPECT_EQ(updates, ok ? 1 : 0);
      const bool event = p.reports && !ok && !unchanged;
      EXPECT_EQ(reported, event ? std::vector<double>{double(s.value)} : std::vector<double>{});
    }
  }
}

}  // namespace
}  // namespace ZuTest
