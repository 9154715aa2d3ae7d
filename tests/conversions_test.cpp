// Physical values to register codes and back, and the reference clock.
#include <gmock/gmock.h>

#include <cfenv>
#include <cmath>
#include <limits>
#include <tuple>
#include <utility>

#include "SimFixture.h"

namespace {

using namespace Zu;
using ZuTest::F;
using ZuTest::Frame;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

// Codes are rounded by hand, so a host that changed the FPU rounding mode
// still sends the same codes.
class Codes : public ZuTest::SimGenerator, public testing::WithParamInterface<int> {};

TEST_P(Codes, AreExactWhateverTheRoundingMode) {
  const int saved = std::fegetround();
  std::fesetround(GetParam());
  // clang-format off
  const std::pair<double, int64_t> rounding[] = {
      {2.5, 2}, {3.5, 4}, {-2.5, -2}, {-0.5, 0}, {0.49999999999999994, 0}, {4503599627370497.0, 4503599627370497},
      {9223372036854775808.0, kMax}, {-9223372036854775808.0, kMin}, {-1e19, kMin}, {kInf, kMax}, {-kInf, kMin},
      {kNaN, 0}};
  // Past the register width only the low 32 bits remain; NaN gives 0 and
  // infinities the int64 bound they saturate to.
  const std::pair<double, int> ampl[] = {{0, -1}, {50, 8191}, {100, 16383}, {1e8, -795869185}, {kNaN, 0}, {kInf, -1},
                                         {-kInf, 0}};
  const std::pair<double, int> phase[] = {{90, 4096}, {359.99, 16384}, {-90, -4096}, {kNaN, 0}, {kInf, -1}};
  const std::pair<double, uint32_t> freq[] = {{1e6, 10737418}, {2e8, 2147483648u}, {4e8, 0}, {5e8, 1073741824},
                                              {-1e6, 4284229878u}, {kNaN, 0}, {kInf, 0xFFFFFFFFu}, {-kInf, 0}};
  // Conv_Value(in, num, 1, digit): ties go to the even multiple of 10^digit.
  const std::tuple<double, double, signed char, double> scaled[] = {
      {2.5, 1, 0, 2}, {3.5, 1, 0, 4}, {-2.5, 1, 0, -2}, {250, 1, 2, 200}, {350, 1, 2, 400}, {0.125, 1, -2, 0.12},
      {0.375, 1, -2, 0.38}, {1e307, 1, -2, 1e307}, {-1e300, 1, 3, -1e300}, {2.5, 1000, 0, 2500}, {kNaN, 1, 0, kNaN}};
  // clang-format on
  for (auto [in, out] : rounding) EXPECT_EQ(RoundToInt64(in), out) << in;
  for (auto [in, out] : ampl) EXPECT_EQ(TZuGen4::Conv_AmplToCode(in), out) << in;
  for (auto [in, out] : phase) EXPECT_EQ(TZuGen4::Conv_PhaseToCode(in), out) << in;
  for (auto [in, out] : freq) EXPECT_EQ(gen->Conv_FreqToCode(in), out) << in;
  for (auto [in, num, digit, out] : scaled)
    EXPECT_THAT(TZuGen4::Conv_Value(in, num, 1, digit), testing::NanSensitiveDoubleEq(out)) << in << " " << int{digit};
  std::fesetround(saved);
}

INSTANTIATE_TEST_SUITE_P(Conversions, Codes, testing::Values(FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO));

using Conversions = ZuTest::SimGenerator;

TEST_F(Conversions, InverseAndDecibelValues) {
  EXPECT_NEAR(gen->Conv_CodeToFreq(0.0), 0.0931322574616, 1e-15);
  EXPECT_NEAR(TZuGen4::Conv_CodeToAmpl(16383.0), 99.99999959, 1e-9);
  EXPECT_NEAR(TZuGen4::Conv_CodeToPhase(8192.0), 180.0000004096, 1e-9);
  EXPECT_NEAR(TZuGen4::Conv_CodeToPhase(16384.0), 8.192e-7, 1e-12);  // past 360: wraps once
  EXPECT_NEAR(TZuGen4::Conv_AmplTodB(50.0), -6.020599913279624, 1e-12);
  EXPECT_NEAR(TZuGen4::Conv_AdBToAmpl(-6.020599913279624), 50.0, 1e-9);
  EXPECT_EQ(TZuGen4::Conv_AmplTodB(0.0), -kInf);
  // value × (num / den) in that order: 49 × (1/49) is one step below 1.
  EXPECT_EQ(TZuGen4::Conv_Value(49.0, 1.0, 49.0), std::nextafter(1.0, 0.0));
}

using RefClock = ZuTest::SimGenerator;

TEST_F(RefClock, ChangesOnlyWithTheExternalReference) {
  auto clock = [&] { return std::tuple(gen->RefFreq(), gen->FreqScale(), gen->GenFreq()); };
  gen->SetRefFreq(10.0);
  gen->SetFreqScale(8);
  EXPECT_EQ(clock(), std::tuple(25.0, 16, 400.0));
  gen->SetUseExtRefFreq(true);  // keeps the values
  gen->SetRefFreq(10.0);
  EXPECT_EQ(clock(), std::tuple(10.0, 16, 160.0));
  EXPECT_EQ(gen->Conv_FreqToCode(1e6), 26843546u);
  EXPECT_NEAR(gen->Conv_CodeToFreq(0.0), 0.03725290298464, 1e-15);
  // The system clock divides every frequency code: it must stay finite and positive.
  for (double bad : {0.0, -1.0, kNaN, kInf, -kInf}) gen->SetRefFreq(bad);
  EXPECT_EQ(gen->RefFreq(), 10.0);
  for (auto [in, out] : {std::pair{21, 20}, {20, 20}, {4, 4}, {3, 4}}) {
    gen->SetFreqScale(in);
    EXPECT_EQ(clock(), std::tuple(10.0, out, out * 10.0)) << in;
  }
  gen->SetUseExtRefFreq(false);
  EXPECT_EQ(clock(), std::tuple(25.0, 16, 400.0));
}

TEST_F(RefClock, SwitchingTheReferenceUpdatesChangingItWaitsForTheNextUpdate) {
  Activate();
  gen->SetUseExtRefFreq(true);
  EXPECT_EQ(Frames(), (std::vector<Frame>{F(0xF0), F(0xE5, 16)}));
  gen->SetUseExtRefFreq(true);
  gen->SetFreqScale(5);
  gen->SetRefFreq(20.0);
  EXPECT_EQ(Frames().size(), 2u);
  Driver().ClearTrace();
  gen->UpdateMode();
  gen->SetUseExtRefFreq(false);
  EXPECT_EQ(Frames(), (std::vector<Frame>{F(0xF0), F(0xE5, 5), F(0xF0)}));
}

// 10 MHz × 4 gives a 40 MHz system clock: frequencies it cannot produce are
// refused when set, reported at an update when the clock went down after
// them, and the register then holds its top code instead of a wrapped one.
TEST_F(RefClock, FrequenciesBeyondTheClockAreRefusedAndNeverWrapped) {
  using Report = std::pair<TZuGen4Channel*, double>;
  std::vector<Report> reports;
  gen->OnParamValueError = [&](TZuGen4Channel* ch, TZuGen4Parameters p, void* v) {
    EXPECT_EQ(p, ZGPrm_Frequency);
    reports.emplace_back(ch, *static_cast<double*>(v));
  };
  gen->ChA()->SetMode(ZGMdC_gen);
  gen->ChA()->Set_sinFrequency(200000.0);  // the top of the range, at 400 MHz: fine
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(gen->FreqToRegister(2e8), 2147483648u);
  gen->SetUseExtRefFreq(true);
  gen->SetRefFreq(10.0);
  gen->SetFreqScale(4);
  Activate();  // its update reported too
  reports.clear();
  gen->UpdateMode();
  EXPECT_EQ(reports, (std::vector<Report>{{gen->ChA(), 200000.0}}));
  EXPECT_EQ(Frames().at(3), F(0x04, 0xFF, 0xFF, 0xFF, 0xFF));  // not 0x40000000 (1/4 of the wrap)
  reports.clear();
  Driver().ClearTrace();
  gen->ChA()->Set_sinFrequency(50000.0);  // in the range, beyond a 40 MHz clock
  EXPECT_EQ(gen->ChA()->Frequency(), 200000.0);
  EXPECT_EQ(reports.front(), Report(gen->ChA(), 50000.0));
  gen->ChA()->Set_sinFrequency(30000.0);
  EXPECT_EQ(gen->ChA()->Frequency(), 30000.0);
  EXPECT_EQ(Frames().at(3), F(0x04, 0xC0, 0x00, 0x00, 0x00));
  EXPECT_TRUE(Driver().Violations().empty());
}

// The engines' own frequencies set before the clock went down (a keying
// state, the sweep's top) are told as the channel's frequency is.
TEST_F(RefClock, EngineFrequenciesBeyondTheClockAreReported) {
  std::vector<double> reports;
  gen->OnParamValueError = [&](TZuGen4Channel*, TZuGen4Parameters p, void* v) {
    EXPECT_EQ(p, ZGPrm_Frequency);
    reports.push_back(*static_cast<double*>(v));
  };
  gen->ChA()->DDSMod()->SetF2(150000.0);
  gen->ChA()->SetMode(ZGMdC_DDSMod);
  gen->ChB()->LFM()->SetFreqTop(120000);
  gen->ChB()->SetMode(ZGMdC_LFM);
  Activate();
  gen->UpdateMode();
  EXPECT_TRUE(reports.empty());  // at 400 MHz all of them fit
  gen->SetUseExtRefFreq(true);
  gen->SetRefFreq(10.0);
  gen->SetFreqScale(4);
  reports.clear();
  gen->UpdateMode();
  EXPECT_EQ(reports, (std::vector<double>{150000.0, 120000.0}));
  EXPECT_TRUE(Driver().Violations().empty());
}

}  // namespace
