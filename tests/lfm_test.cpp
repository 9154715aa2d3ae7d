// The sweep engine: the sweep registers and run command through the update
// cycle, the slope fraction, and the setters' ranges.
#include <array>
#include <cmath>
#include <numbers>

#include "SimFixture.h"

namespace ZuTest {
namespace {

using namespace Zu;

// The sweep's settings; rejected times, but not tops, go through OnParamValueError.
const std::tuple<const char*, void (TZuGen4LFM::*)(int), int (TZuGen4LFM::*)() const, bool> kProps[] = {
    {"FreqTop", &TZuGen4LFM::SetFreqTop, &TZuGen4LFM::FreqTop, false},
    {"Tinc0", &TZuGen4LFM::SetTinc0, &TZuGen4LFM::Tinc0, true},
    {"Tinc1", &TZuGen4LFM::SetTinc1, &TZuGen4LFM::Tinc1, true},
    {"Tdec0", &TZuGen4LFM::SetTdec0, &TZuGen4LFM::Tdec0, true},
    {"Tdec1", &TZuGen4LFM::SetTdec1, &TZuGen4LFM::Tdec1, true}};

struct Sweep {
  double freq;  // channel frequency
  int lfm[5];   // kProps in order; 0: left as constructed
  // The rate byte and step word of Ramp1 (up) and Ramp0 (down), then the codes and durations.
  uint32_t upRate, upWord, downRate, downWord, freqCode, topCode, rise, fall;
};

const Sweep kSweeps[] = {
    {1000, {2000, 1000, 11, 10000000, 21}, 0x9C, 0x4103, 0x5E, 1, 0xA3D70A, 0x147AE14, 505, 5000010},
    {1000, {1001, 10, 11, 10, 10}, 0xB4, 0x0782, 0xB4, 0x0782, 0xA3D70A, 0xA400FC, 10, 10},
    // Initial times: no step, no duration.
    {1000, {2000, 0, 0, 0, 0}, 1, 0, 1, 0, 0xA3D70A, 0x147AE14, 0, 0},
    // A top below the frequency (0 from construction) holds the sweep at the exact, fractional frequency.
    {7500.9, {0, 1000, 0, 1000, 0}, 1, 0, 1, 0, 0x4CCF28C, 0x4CCF28C, 500, 500},
    // The fraction 1/255 keeps its rate at 255 instead of wrapping to 0.
    {1000, {1001, 27412, 0, 27412, 0}, 0xFF, 1, 0xFF, 1, 0xA3D70A, 0xA400FC, 13706, 13706},
};

void Configure(TZuGen4Channel* ch, const Sweep& s) {
  ch->Set_sinFrequency(s.freq);
  for (int i = 0; i < 5; ++i) (ch->LFM()->*std::get<1>(kProps[i]))(s.lfm[i]);  // a 0 changes nothing
  ch->SetMode(ZGMdC_LFM);
}

// The leading bytes, then the low n bytes of v, most significant first.
Frame Be(Frame head, uint32_t v, int n = 4) {
  for (int i = n - 1; i >= 0; --i) head.push_back(uint8_t(v >> 8 * i));
  head.resize(6);
  return head;
}

// One channel's frames of the cycle, after out: output on, the sine parameters,
// the sweep registers, the update, and with start the durations and the run.
std::vector<Frame> Expected(TZuGen4ChNames ch, const Sweep& s, bool start, std::vector<Frame> out = {F(0xF0)}) {
  const uint8_t b = ch == ZGCN_B ? 0x10 : 0x00;
  out.insert(
      out.end(),
      {F(ch == ZGCN_B ? 0xF9 : 0xF1), Be({uint8_t(0x04 + b)}, s.freqCode), F(0x02 + b, 0x3F, 0xFF), F(0x05 + b),
       F(0x00 + b, 0x06, 0xA0, 0x02, ch == ZGCN_B ? 0x42 : 0x40), Be({uint8_t(0x08 + b), uint8_t(s.upRate)}, s.upWord),
       Be({uint8_t(0x07 + b), uint8_t(s.downRate)}, s.downWord), Be({uint8_t(0x06 + b)}, s.topCode), F(0x80)});
  if (start) out.insert(out.end(), {Be({0x85}, s.rise, 3), Be({0x86}, s.fall, 3), F(0x83)});
  return out;
}

using LfmTest = SimGenerator;

TEST_F(LfmTest, SweepAloneOnEitherChannelSendsItsRegistersAndRuns) {
  for (const Sweep& s : kSweeps) {
    for (TZuGen4ChNames ch : {ZGCN_A, ZGCN_B}) {
      SCOPED_TRACE(testing::Message() << "sweep " << &s - kSweeps << " ch " << int(ch));
      Make(true);
      Configure(ch == ZGCN_A ? static_cast<TZuGen4Channel*>(gen->ChA()) : gen->ChB(), s);
      Activate();
      gen->UpdateMode();
      EXPECT_EQ(Frames(), Expected(ch, s, true));
      EXPECT_TRUE(Driver().Violations().empty());
    }
  }
}

TEST_F(LfmTest, PairedSweepsLoadAWithoutStartThenStartWithB) {
  Configure(gen->ChA(), kSweeps[0]);
  Configure(gen->ChB(), kSweeps[1]);
  Activate();
  gen->UpdateMode();
  EXPECT_EQ(Frames(), Expected(ZGCN_B, kSweeps[1], true, Expected(ZGCN_A, kSweeps[0], false)));
}

TEST(LfmFraction, KeepsTheLastConvergentWithinTheBounds) {
  // x, y, the bounds of a and b (0: none), then a and b; the sweeps' own fractions are checked above.
  const std::array<double, 6> cases[] = {
      {1, 3, 0, 0, 1, 3},
      {1000 * TZuGen4LFM::MUL_COEF, 1000 * TZuGen4LFM::DIV_COEF, 1000, 0, 859, 8},
      {std::numbers::pi, 1, 0, 113, 355, 113},                            // a term equal to its bound is kept
      {std::numbers::pi, 1, 0, 0, 884279719003555.0, 281474976710656.0},  // the double itself, over 2^48
      {1e10, 1, 0, 0, 1e10, 1},  // beyond 32 bits the integer part does not wrap
      // The first remainder rounds below zero: the expansion ends there.
      {0.38402009559819045, 0.000683309778644467, 0, 0, 562, 1},
  };
  // No fraction: a negative or NaN bound, a zero, negative or non-finite term, an overflowing quotient.
  const std::array<double, 6> none[] = {{2, 1, -1, 0, 0, 0},       {0, 5, 0, 255, 0, 0},      {5, 0, 0, 255, 0, 0},
                                        {-3, 1, 0, 255, 0, 0},     {3, -1, 0, 255, 0, 0},     {NAN, 1, 0, 255, 0, 0},
                                        {INFINITY, 1, 0, 0, 0, 0}, {1, INFINITY, 0, 0, 0, 0}, {3, 1, NAN, 0, 0, 0},
                                        {1e300, 1e-10, 0, 0, 0, 0}};
  auto check = [](const std::array<double, 6>& c) {
    double A = -1, B = -1;
    TZuGen4LFM::XYtoAB(c[0], c[1], c[2], c[3], A, B);
    EXPECT_EQ(std::pair(A, B), std::pair(c[4], c[5])) << c[0] << " / " << c[1] << " bounds " << c[2] << ", " << c[3];
  };
  for (const auto& c : cases) check(c);
  for (const auto& c : none) check(c);
}

TEST_F(LfmTest, SettersStoreValuesInRangeAndReportRejectedTimes) {
  // Applied in order on one generator, whose channel frequency is 1000: the
  // value, whether a time takes it, whether a top does. A repeat is unchanged.
  const std::tuple<int, int, int> steps[] = {{9, 0, 0},        {10, 1, 0},      {10, 0, 0},     {999, 1, 0},
                                             {1000, 1, 1},     {1000, 0, 0},    {200000, 1, 1}, {200001, 1, 0},
                                             {10000000, 1, 0}, {10000001, 0, 0}};
  for (const auto& [name, set, get, isTime] : kProps) {
    Make(true);
    TZuGen4LFM* lfm = gen->ChB()->LFM();
    Activate();
    int updates = 0;
    gen->AfterUpdate = [&](TObject*) { ++updates; };
    std::vector<std::tuple<TZuGen4Channel*, TZuGen4Parameters, double>> reported;
    gen->OnParamValueError = [&](auto* c, auto p, void* v) { reported.push_back({c, p, *static_cast<double*>(v)}); };
    int stored = 0;  // as constructed
    for (const auto& [value, timeOk, topOk] : steps) {
      const bool ok = isTime ? timeOk : topOk;
      decltype(reported) want;
      if (isTime && !ok && value != stored) want.push_back({gen->ChB(), ZGPrm_LFMTime, double(value)});
      updates = 0, reported.clear();
      (lfm->*set)(value);
      if (ok) stored = value;
      EXPECT_EQ(std::tuple((lfm->*get)(), updates, reported), std::tuple(stored, int(ok), want))
          << name << ' ' << value;
    }
  }
}

}  // namespace
}  // namespace ZuTest
